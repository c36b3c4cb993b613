# The cross-built tests run under Wine, the toolchain file's emulator, in a
# Wine prefix of the build tree's own: nothing is set up under $HOME, Wine's
# debug chatter is off and it offers no Mono or Gecko. This is the one place
# that says how Wine runs; scripts that start it outside ctest read the same
# settings from wine-env.sh in the build tree.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  message(WARNING "No Wine found: the Windows tests cannot run on this machine")
  function(tcpflash_wine_test)
  endfunction()
  return()
endif()

set(TCPFLASH_WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(TCPFLASH_WINE_ENV
    "WINEPREFIX=${TCPFLASH_WINE_PREFIX}"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml=")

# The Windows tests share one Wine session: this fixture makes the prefix
# when missing (several seconds; tests that started in it side by side would
# each try) and starts the session before any test that needs it, also when
# ctest runs only some of them, and ends it after the last.
get_filename_component(TCPFLASH_WINE_DIR "${CMAKE_CROSSCOMPILING_EMULATOR}" DIRECTORY)
find_program(TCPFLASH_WINESERVER NAMES wineserver64 wineserver
             HINTS "${TCPFLASH_WINE_DIR}" NO_CMAKE_FIND_ROOT_PATH)
set(TCPFLASH_WINE_SESSION -DWINE=${CMAKE_CROSSCOMPILING_EMULATOR}
    -DWINESERVER=${TCPFLASH_WINESERVER} -P ${CMAKE_CURRENT_LIST_DIR}/wine_session.cmake)
add_test(NAME wine_prefix COMMAND ${CMAKE_COMMAND} -DACTION=start ${TCPFLASH_WINE_SESSION})
add_test(NAME wine_session_end COMMAND ${CMAKE_COMMAND} -DACTION=stop ${TCPFLASH_WINE_SESSION})
set_tests_properties(wine_prefix wine_session_end PROPERTIES
  ENVIRONMENT "${TCPFLASH_WINE_ENV}" TIMEOUT 300)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine_prefix)
set_tests_properties(wine_session_end PROPERTIES FIXTURES_CLEANUP wine_prefix)

# Runs the named tests (of the calling directory) under Wine's environment,
# once the prefix is there.
function(tcpflash_wine_test)
  set_tests_properties(${ARGN} PROPERTIES
    ENVIRONMENT "${TCPFLASH_WINE_ENV}"
    FIXTURES_REQUIRED wine_prefix)
endfunction()

# The same settings and the emulator for the shell (scripts/package_test.sh).
set(TCPFLASH_WINE_SHELL_ENV "# Written by cmake/wine.cmake: how the tests run Wine.\n")
foreach(assignment IN LISTS TCPFLASH_WINE_ENV)
  string(REGEX REPLACE "^([^=]+)=(.*)$" "export \\1='\\2'\n" line "${assignment}")
  string(APPEND TCPFLASH_WINE_SHELL_ENV "${line}")
endforeach()
string(APPEND TCPFLASH_WINE_SHELL_ENV "TCPFLASH_WINE='${CMAKE_CROSSCOMPILING_EMULATOR}'\n")
file(CONFIGURE OUTPUT "${CMAKE_BINARY_DIR}/wine-env.sh" CONTENT "${TCPFLASH_WINE_SHELL_ENV}")
