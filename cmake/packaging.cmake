# Installation and packages. `cmake --install` puts the programs, their
# manual pages, their bash completion and the documents in place; CPack makes
# a Debian package and a .tar.gz from a Linux build and a .zip of the
# (statically linked) executables from the Windows build.
# scripts/package.sh builds all three into dist/.
include(GNUInstallDirs)

# The programs every package carries, one per line; each has its manual page
# doc/<program>.1 and its bash completion completion/<program>.
set(TCPFLASH_INSTALLED_PROGRAMS
  tcpflash
  tcpflash-sim
  tcpflash-many)

set(TCPFLASH_CONTACT "tcpflash maintainers <tcpflash@example.org>")

# Makes OUTPUT from the manual page of PROGRAM with cmake/man_page.cmake in
# MODE (text or gzip; ARGN: its further -D settings) and appends OUTPUT to
# the list man_outputs of the caller.
function(tcpflash_man_output program mode output)
  set(page ${PROJECT_SOURCE_DIR}/doc/${program}.1)
  add_custom_command(OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -DMODE=${mode} ${ARGN} -DINPUT=${page} -DOUTPUT=${output}
            -P ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
    DEPENDS ${page} ${PROJECT_SOURCE_DIR}/cmake/man_page.cmake
    COMMENT "Making ${output} from ${program}.1" VERBATIM)
  set(man_outputs ${man_outputs} ${output} PARENT_SCOPE)
endfunction()

if(WIN32)
  # The .zip is unpacked anywhere and run from there: all side by side.
  install(TARGETS ${TCPFLASH_INSTALLED_PROGRAMS} RUNTIME DESTINATION .)
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION .)
  # Its users have no man: the pages as plain text, where the build machine
  # can render them.
  find_program(TCPFLASH_MAN_RENDERER NAMES mandoc groff)
  if(TCPFLASH_MAN_RENDERER)
    set(man_outputs "")
    foreach(program ${TCPFLASH_INSTALLED_PROGRAMS})
      tcpflash_man_output(${program} text ${CMAKE_BINARY_DIR}/doc/${program}.txt
                          -DRENDERER=${TCPFLASH_MAN_RENDERER})
    endforeach()
    add_custom_target(tcpflash_man_pages ALL DEPENDS ${man_outputs})
    install(FILES ${man_outputs} DESTINATION .)
  else()
    message(STATUS "Neither mandoc nor groff: the .zip carries no manual pages")
  endif()
else()
  install(TARGETS ${TCPFLASH_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The license is in copyright, Debian's place for it.
  install(FILES README.md CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # Manual pages and the changelog, compressed as Debian wants them.
  find_program(TCPFLASH_GZIP gzip REQUIRED)
  set(man_outputs "")
  foreach(program ${TCPFLASH_INSTALLED_PROGRAMS})
    tcpflash_man_output(${program} gzip ${CMAKE_BINARY_DIR}/doc/${program}.1.gz
                        -DGZIP=${TCPFLASH_GZIP})
    install(FILES completion/${program}
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
  endforeach()
  set(changelog ${CMAKE_BINARY_DIR}/doc/changelog.gz)
  add_custom_command(OUTPUT ${changelog}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/CHANGELOG.md -DOUTPUT=${changelog}
            -DGZIP=${TCPFLASH_GZIP} -DPACKAGE=${PROJECT_NAME} -DMAINTAINER=${TCPFLASH_CONTACT}
            -P ${PROJECT_SOURCE_DIR}/cmake/debian_changelog.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/cmake/debian_changelog.cmake
    COMMENT "Making changelog.gz from CHANGELOG.md" VERBATIM)
  add_custom_target(tcpflash_man_pages ALL DEPENDS ${man_outputs} ${changelog})
  install(FILES ${man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # Debian's machine-readable copyright file, made from LICENSE: its
  # copyright line and, as the Expat (MIT) license's text, the paragraphs
  # after it.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
  if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n(.*)$")
    message(FATAL_ERROR "LICENSE: no line 'Copyright (c) YEAR HOLDER'")
  endif()
  set(copyright_holder "${CMAKE_MATCH_1}")
  string(STRIP "${CMAKE_MATCH_2}" license_text)
  string(REGEX REPLACE "\n[ \t]*\n" "\n.\n" license_text "${license_text}")
  string(REPLACE "\n" "\n " license_text "${license_text}")
  file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/doc/copyright @ONLY CONTENT
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: @PROJECT_NAME@
Upstream-Contact: @TCPFLASH_CONTACT@

Files: *
Copyright: @copyright_holder@
License: Expat

License: Expat
 @license_text@
")
  install(FILES ${CMAKE_BINARY_DIR}/doc/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_PACKAGE_NAME tcpflash)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The tcpflash authors")
set(CPACK_PACKAGE_CONTACT ${TCPFLASH_CONTACT})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "flashes a firmware image into an ARM7/ARM9 board over TCP/IP")
# Lines of at most 80 columns, as Debian's tools show them.
set(CPACK_PACKAGE_DESCRIPTION [[
tcpflash switches a board's application firmware to its update loader,
streams a firmware image, has it flashed, resets the board and, when asked,
checks that the board starts the new firmware.
tcpflash-many flashes one image into many boards side by side, as on a
production line, with a log of each board and a JSON report.
tcpflash-sim plays such a board on a local port, with the faults and the
pauses of real boards, to rehearse without one.]])
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
