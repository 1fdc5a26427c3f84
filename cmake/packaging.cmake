# How kvdiag is installed and packaged for Debian.
#
# The tool writes its security journal into "logs" beside its own executable
# and never creates that directory. Installed, the executable therefore lives
# alone in <libexec>/kvdiag/, <bin>/kvdiag links to it, and
# <libexec>/kvdiag/logs links to a state directory the installation creates:
# /var/lib/kvdiag/journals for the prefix /usr, <prefix>/var/lib/kvdiag/journals
# for any other. /proc/self/exe names the real file, not the link in <bin>, so
# the journal lands in the state directory whoever runs the tool. The
# directory is world-writable with the sticky bit (like /var/tmp): every user
# may write journals, nobody may delete or replace another user's.
#
# Components, one Debian package each: kvdiag, kvflash (libkvflash0),
# kvflash-dev (libkvflash-dev), kvtoken-emu.

set(KVDIAG_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KVDIAG_JOURNAL_DIR_MODE 1777)

set(kvdiag_install_code [[
  if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
    set(journals "/var/lib/kvdiag/journals")
  else()
    set(journals "${CMAKE_INSTALL_PREFIX}/var/lib/kvdiag/journals")
  endif()
  set(staged "$ENV{DESTDIR}${journals}")
  file(MAKE_DIRECTORY "${staged}")
  execute_process(COMMAND chmod @KVDIAG_JOURNAL_DIR_MODE@ "${staged}" COMMAND_ERROR_IS_FATAL ANY)
  set(libexec "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_LIBEXECDIR@/kvdiag")
  set(bin "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/@CMAKE_INSTALL_BINDIR@")
  file(MAKE_DIRECTORY "${bin}")
  file(CREATE_LINK "${journals}" "${libexec}/logs" SYMBOLIC)
  file(RELATIVE_PATH program "${bin}" "${libexec}/kvdiag")
  file(CREATE_LINK "${program}" "${bin}/kvdiag" SYMBOLIC)
  message(STATUS "Journal directory: ${staged} -> linked from ${libexec}/logs")
]])
string(CONFIGURE "${kvdiag_install_code}" kvdiag_install_code @ONLY)
install(CODE "${kvdiag_install_code}" COMPONENT kvdiag)

# The bundled profiles: their "base" references are relative to the profile's
# own file, so they all stay together in one directory.
file(GLOB kvtoken_profiles ${PROJECT_SOURCE_DIR}/emulator/profiles/*.json)
install(FILES ${kvtoken_profiles}
  DESTINATION ${CMAKE_INSTALL_DATADIR}/kvtoken-emu/profiles COMPONENT kvtoken-emu)

# Manual pages, compressed as Debian keeps them.
foreach(page kvdiag kvtoken-emu)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.1.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
    COMMAND sh -c "gzip -9 -n -c \"$0\" > \"$1\"" ${PROJECT_SOURCE_DIR}/man/${page}.1 ${compressed}
    DEPENDS ${PROJECT_SOURCE_DIR}/man/${page}.1 VERBATIM)
  list(APPEND kvdiag_man_pages ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${page})
endforeach()
add_custom_target(kvdiag_man_pages ALL DEPENDS ${kvdiag_man_pages})

include(${CMAKE_CURRENT_LIST_DIR}/debianPackages.cmake)

if(BUILD_TESTING)
  # Both manual pages render without a warning from groff or man.
  add_test(NAME kvdiag_man_pages
    COMMAND ${PROJECT_SOURCE_DIR}/tests/install/manPagesRender.sh
            ${PROJECT_SOURCE_DIR}/man/kvdiag.1 ${PROJECT_SOURCE_DIR}/man/kvtoken-emu.1)
  set_tests_properties(kvdiag_man_pages PROPERTIES LABELS unit)

  # The installed tree at work as a user other than root, against a virtual token.
  add_test(NAME kvdiag_installed
    COMMAND ${PROJECT_SOURCE_DIR}/tests/install/installedKvdiag.sh
            ${CMAKE_BINARY_DIR} ${PROJECT_SOURCE_DIR}/kvflash/tests/c/withVirtualTokens.sh)
  set_tests_properties(kvdiag_installed PROPERTIES
    LABELS e2e RESOURCE_LOCK vpcd RUN_SERIAL TRUE TIMEOUT 180)
  # A sanitized library needs a sanitized program in front of it.
  if(KVDIAG_SANITIZE)
    set_tests_properties(kvdiag_installed PROPERTIES ENVIRONMENT "CFLAGS=${sanitize_cflags}")
  endif()
endif()
