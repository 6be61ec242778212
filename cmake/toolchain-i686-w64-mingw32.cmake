# Cross-compiles for 32-bit Windows with MinGW-w64 (posix thread model) and runs
# the built test programs under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

find_program(MINGW_CXX i686-w64-mingw32-g++-posix)
find_program(MINGW_CC i686-w64-mingw32-gcc-posix)
find_program(MINGW_WINDRES i686-w64-mingw32-windres)
if(NOT MINGW_CXX OR NOT MINGW_CC OR NOT MINGW_WINDRES)
    message(FATAL_ERROR "MinGW-w64 for i686 is missing: install g++-mingw-w64-i686 (scripts/install-deps.sh does)")
endif()
set(CMAKE_C_COMPILER ${MINGW_CC})
set(CMAKE_CXX_COMPILER ${MINGW_CXX})
set(CMAKE_RC_COMPILER ${MINGW_WINDRES})

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(WINE_EXECUTABLE wine)
if(WINE_EXECUTABLE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_EXECUTABLE})
endif()
