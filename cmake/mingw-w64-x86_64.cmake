# Cross-builds the Windows executables with MinGW-w64 (Debian package
# g++-mingw-w64-x86-64-posix) and runs them under Wine (package wine64). The
# environment the tests give Wine is in cmake/wine.cmake.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

find_program(TCPFLASH_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT TCPFLASH_WINE)
  find_program(TCPFLASH_WINE NAMES wine64 wine)
endif()
if(TCPFLASH_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TCPFLASH_WINE})
endif()
