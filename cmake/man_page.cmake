# Turns a manual page (man(7) source) into what a package carries:
#   gzip: compressed with gzip -9n (no name, no time stamp: the same bytes
#         at every build), for share/man/man1 of the Linux packages;
#   text: rendered as plain text (CRLF lines, no overstrikes), for the
#         Windows .zip, whose users have no man.
#
#   cmake -DMODE=gzip -DGZIP=PATH -DINPUT=FILE -DOUTPUT=FILE -P cmake/man_page.cmake
#   cmake -DMODE=text -DRENDERER=PATH -DINPUT=FILE -DOUTPUT=FILE -P cmake/man_page.cmake
#         (RENDERER: mandoc, or groff)
cmake_minimum_required(VERSION 3.20)
if(MODE STREQUAL "gzip")
  execute_process(COMMAND ${GZIP} -9n -c ${INPUT} OUTPUT_FILE ${OUTPUT}.tmp
                  RESULT_VARIABLE status)
elseif(MODE STREQUAL "text")
  get_filename_component(renderer ${RENDERER} NAME)
  if(renderer MATCHES "^mandoc")
    set(command ${RENDERER} -Tascii -Owidth=78 ${INPUT})
  else()
    set(command ${RENDERER} -man -Tascii -P-c -rLL=78n ${INPUT})
  endif()
  execute_process(COMMAND ${command} OUTPUT_VARIABLE text RESULT_VARIABLE status)
  if(status EQUAL 0)
    # Bold and underline come as a character, a backspace and a character.
    string(ASCII 8 backspace)
    string(REGEX REPLACE ".${backspace}" "" text "${text}")
    string(REPLACE "\n" "\r\n" text "${text}")
    file(WRITE ${OUTPUT}.tmp "${text}")
  endif()
else()
  message(FATAL_ERROR "MODE must be gzip or text, not '${MODE}'")
endif()
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.tmp)
  message(FATAL_ERROR "${MODE} of ${INPUT} failed: ${status}")
endif()
file(RENAME ${OUTPUT}.tmp ${OUTPUT})
