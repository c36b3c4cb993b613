# Starts or ends the Wine session the Windows tests share, as ctest's
# wine_prefix fixture (cmake/wine.cmake), in the environment ctest gives it:
#
#   cmake -DACTION=start|stop -DWINE=... -DWINESERVER=... -P wine_session.cmake
#
# start: makes the prefix when missing (several seconds) and brings it up,
# under a wineserver that stays PERSIST_S seconds after its last program.
# The first program of a session starts Wine's own background programs, which
# keep its standard streams open until the session ends: started here, they
# hold the null device, and no test waits for its output pipe to close while
# other tests keep Wine busy. stop: ends the session with everything in it.
set(PERSIST_S 60)
set(quiet INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)

if(NOT WINESERVER)
  message(WARNING "No wineserver beside ${WINE}: the session is Wine's default one")
endif()

if(ACTION STREQUAL "start")
  # The server needs the prefix's folder; Wine fills an empty one.
  file(MAKE_DIRECTORY "$ENV{WINEPREFIX}")
  if(WINESERVER)
    # Fails when a server runs in the prefix already; that one then serves.
    execute_process(COMMAND ${WINESERVER} -p${PERSIST_S} ${quiet})
  endif()
  execute_process(COMMAND ${WINE} wineboot -i ${quiet} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "wineboot -i in $ENV{WINEPREFIX} failed: ${result}")
  endif()
elseif(ACTION STREQUAL "stop")
  if(WINESERVER)
    execute_process(COMMAND ${WINESERVER} -k ${quiet})
  endif()
else()
  message(FATAL_ERROR "ACTION must be start or stop, not '${ACTION}'")
endif()
