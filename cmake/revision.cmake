# Writes the header that names the source revision the programs are built
# from, `git describe --always --dirty` of the source tree, or "revision
# unknown" when the tree is no git checkout of its own (an unpacked source
# archive) or git is missing. Runs at every build (the tcpflash_revision
# target), but rewrites the header only when its text changed, so that an
# unchanged revision rebuilds nothing.
#
#   cmake -DSOURCE_DIR=DIR -DOUTPUT=FILE [-DGIT=PATH] -P cmake/revision.cmake
cmake_minimum_required(VERSION 3.20)
set(revision "")
if(GIT)
  # Only the project's own checkout counts: sources unpacked somewhere inside
  # another repository would otherwise be named after that one.
  execute_process(COMMAND ${GIT} rev-parse --show-toplevel
                  WORKING_DIRECTORY ${SOURCE_DIR}
                  RESULT_VARIABLE status OUTPUT_VARIABLE top
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(status EQUAL 0)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
    if(top STREQUAL source)
      execute_process(COMMAND ${GIT} describe --always --dirty
                      WORKING_DIRECTORY ${SOURCE_DIR}
                      RESULT_VARIABLE status OUTPUT_VARIABLE revision
                      OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
      if(NOT status EQUAL 0)
        set(revision "")
      endif()
    endif()
  endif()
endif()
if(revision STREQUAL "")
  set(revision "revision unknown")
endif()
# A C string literal: a tag name may hold a quote or a backslash.
string(REPLACE "\\" "\\\\" revision "${revision}")
string(REPLACE "\"" "\\\"" revision "${revision}")
# file(CONFIGURE) leaves the file (and its time stamp) alone when the text is
# the same.
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT
"// Written by cmake/revision.cmake at build time; do not edit.
#define TCPFLASH_REVISION \"@revision@\"
" @ONLY)
