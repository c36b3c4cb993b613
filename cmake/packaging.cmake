# Installation and packages. `cmake --install` puts the programs and the
# documents in place; CPack makes a Debian package and a .tar.gz from a Linux
# build and a .zip of the (statically linked) executables from the Windows
# build. scripts/package.sh builds all three into dist/.
include(GNUInstallDirs)

# The programs every package carries, one per line.
set(TCPFLASH_INSTALLED_PROGRAMS
  tcpflash
  tcpflash-sim
  tcpflash-many)

if(WIN32)
  # The .zip is unpacked anywhere and run from there: all side by side.
  set(TCPFLASH_PROGRAM_DIR .)
  set(TCPFLASH_DOC_DIR .)
else()
  set(TCPFLASH_PROGRAM_DIR ${CMAKE_INSTALL_BINDIR})
  set(TCPFLASH_DOC_DIR ${CMAKE_INSTALL_DOCDIR})
endif()
install(TARGETS ${TCPFLASH_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${TCPFLASH_PROGRAM_DIR})
install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${TCPFLASH_DOC_DIR})

set(CPACK_PACKAGE_NAME tcpflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The tcpflash authors")
set(CPACK_PACKAGE_CONTACT "tcpflash maintainers <tcpflash@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "flashes a firmware image into an ARM7/ARM9 board over TCP/IP")
set(CPACK_PACKAGE_DESCRIPTION
    "tcpflash switches a board's application firmware to its update loader,\nstreams the image, has it flashed and resets the board. tcpflash-sim plays\nsuch a board on a local port.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-${CMAKE_SYSTEM_PROCESSOR})
else()
  set(CPACK_GENERATOR DEB TGZ)
  set(CPACK_SYSTEM_NAME linux-${CMAKE_SYSTEM_PROCESSOR})
  # tcpflash_0.8.0_amd64.deb; its dependencies are read off the programs.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
endif()
set(CPACK_PACKAGE_FILE_NAME ${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
include(CPack)
