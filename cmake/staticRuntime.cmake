# kvdiag is started for one short conversation with a token, so its start-up
# is a good part of its run: loading and binding Boost's and the C++
# runtime's shared libraries cost more CPU than the commands themselves.
# With KVDIAG_STATIC_RUNTIME (the default outside debug and sanitizer
# builds) Boost and the C++ runtime are linked into the programs, and the
# code they do not use is dropped. libcrypto, libpcsclite and libc stay
# shared: they receive security updates from Debian and talk to the system.
#
# Included before find_package(Boost), which then finds Boost's static archives.

if(CMAKE_BUILD_TYPE STREQUAL "Debug" OR KVDIAG_SANITIZE OR KVDIAG_TSAN OR KVDIAG_FUZZ)
  set(kvdiag_static_runtime_default OFF)
else()
  set(kvdiag_static_runtime_default ON)
endif()
option(KVDIAG_STATIC_RUNTIME "Link Boost and the C++ runtime into the programs"
  ${kvdiag_static_runtime_default})

if(KVDIAG_STATIC_RUNTIME)
  set(Boost_USE_STATIC_LIBS ON)
  add_compile_options(-ffunction-sections -fdata-sections)
endif()

# The link of a program that should start quickly.
function(kvdiag_link_static_runtime target)
  if(KVDIAG_STATIC_RUNTIME)
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc
      LINKER:--gc-sections LINKER:-O1 LINKER:--as-needed)
  endif()
endfunction()
