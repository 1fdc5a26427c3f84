# The Debian packages, built by CPack (scripts/package):
#   kvdiag          the tool; the state directory for its journals
#   libkvflash0     the flash-token library, libkvflash.so.0
#   libkvflash-dev  its header, kvflash.pc and the libkvflash.so link
#   kvtoken-emu     the virtual token with its profiles, behind vsmartcard-vpcd
# Library dependencies come from dpkg-shlibdeps; what the programs need at run
# time beyond linked libraries (the PC/SC daemon, the vpcd driver) is listed here.

# Every package carries its copyright file and changelog where Debian expects them.
set(kvdiag_doc_dir ${CMAKE_CURRENT_BINARY_DIR}/packaging-doc)
file(MAKE_DIRECTORY ${kvdiag_doc_dir})
execute_process(
  COMMAND sh -c "gzip -9 -n -c \"$0\" > \"$1\"" ${KVDIAG_PACKAGING_DIR}/debian/changelog ${kvdiag_doc_dir}/changelog.gz
  COMMAND_ERROR_IS_FATAL ANY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KVDIAG_PACKAGING_DIR}/debian/changelog)

set(kvdiag_packages kvdiag kvflash kvflash-dev kvtoken-emu)
set(kvdiag_package_name_kvdiag kvdiag)
set(kvdiag_package_name_kvflash libkvflash${PROJECT_VERSION_MAJOR})
set(kvdiag_package_name_kvflash-dev libkvflash-dev)
set(kvdiag_package_name_kvtoken-emu kvtoken-emu)
foreach(component IN LISTS kvdiag_packages)
  set(package ${kvdiag_package_name_${component}})
  install(FILES ${KVDIAG_PACKAGING_DIR}/debian/copyright ${kvdiag_doc_dir}/changelog.gz
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  if(EXISTS ${KVDIAG_PACKAGING_DIR}/debian/${package}/lintian-overrides)
    install(FILES ${KVDIAG_PACKAGING_DIR}/debian/${package}/lintian-overrides
      DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${package} COMPONENT ${component})
  endif()
  string(TOUPPER ${component} upper)
  set(CPACK_DEBIAN_${upper}_PACKAGE_NAME ${package})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kvdiag)
set(CPACK_PACKAGE_VENDOR "kvdiag developers")
set(KVDIAG_MAINTAINER "kvdiag developers <kvdiag@example.org>" CACHE STRING "Maintainer field of the Debian packages")
set(CPACK_PACKAGE_CONTACT "${KVDIAG_MAINTAINER}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${kvdiag_packages})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)  # a shlibs file for each package with a shared library
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS OFF)

set(CPACK_DEBIAN_KVDIAG_PACKAGE_DEPENDS "pcscd")
set(CPACK_COMPONENT_KVDIAG_DESCRIPTION "diagnostic tool for Kelvane USB crypto tokens
kvdiag diagnoses one Kelvane token through pcscd: firmware integrity, device
summary, on-token crypto self-tests, key information, error journal, memory
sectors and RNG. It writes a Russian report into logs/ below the current
directory and the token's security journal into /var/lib/kvdiag/journals.")

set(CPACK_DEBIAN_KVFLASH_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_KVFLASH_PACKAGE_CONTROL_EXTRA ${KVDIAG_PACKAGING_DIR}/debian/libkvflash0/triggers)
set(CPACK_COMPONENT_KVFLASH_DESCRIPTION "flash-token library for Kelvane tokens
libkvflash manages the flash memory of flash-equipped Kelvane tokens:
sections and their access rights, logins with global and local PINs,
multi-valued authenticators and host information in the journal.
This package holds the shared library.")

set(CPACK_DEBIAN_KVFLASH-DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_KVFLASH-DEV_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_KVFLASH-DEV_PACKAGE_DEPENDS
  "${kvdiag_package_name_kvflash} (= ${PROJECT_VERSION}), libpcsclite-dev")
set(CPACK_COMPONENT_KVFLASH-DEV_DESCRIPTION "flash-token library for Kelvane tokens - development files
libkvflash manages the flash memory of flash-equipped Kelvane tokens.
This package holds the C header kvflash-core/kvflash.h, the pkg-config file
kvflash.pc and the libkvflash.so link for building programs against it.")

set(CPACK_DEBIAN_KVTOKEN-EMU_PACKAGE_DEPENDS "vsmartcard-vpcd, pcscd")
set(CPACK_DEBIAN_KVTOKEN-EMU_PACKAGE_CONTROL_EXTRA ${KVDIAG_PACKAGING_DIR}/debian/kvtoken-emu/postinst)
set(CPACK_DEBIAN_KVTOKEN-EMU_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_COMPONENT_KVTOKEN-EMU_DESCRIPTION "virtual Kelvane token behind the vpcd reader
kvtoken-emu plays a Kelvane USB crypto token in a vpcd virtual reader of
pcscd, from bundled or own JSON profiles (/usr/share/kvtoken-emu/profiles),
so kvdiag can be tried and tested without hardware.")

include(CPack)
