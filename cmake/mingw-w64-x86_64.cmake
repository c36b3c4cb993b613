# Cross-builds the Windows executables with MinGW-w64 (Debian package
# g++-mingw-w64-x86-64-posix) and runs them under Wine (package wine64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# No DLLs beside the .exe: the C++ runtime and winpthread are linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(TCPFLASH_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT TCPFLASH_WINE)
  find_program(TCPFLASH_WINE NAMES wine64 wine)
endif()
if(TCPFLASH_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TCPFLASH_WINE})
endif()

# Environment of every test run under Wine: a prefix of its own inside the
# build tree (no set-up under $HOME), no debug chatter, and no offer to install
# Mono or Gecko. scripts/test.sh creates the prefix once before the tests run.
set(TCPFLASH_WINE_PREFIX "${CMAKE_BINARY_DIR}/wineprefix")
set(TCPFLASH_WINE_ENV
    "WINEPREFIX=${TCPFLASH_WINE_PREFIX}"
    "WINEDEBUG=-all"
    "WINEDLLOVERRIDES=mscoree,mshtml=")
