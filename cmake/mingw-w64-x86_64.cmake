# Cross build for 64-bit Windows with MinGW-w64; test programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELQUORN_MINGW_PREFIX x86_64-w64-mingw32)
# The posix thread model gives the test programs std::thread; the module
# itself starts no threads and links the runtime statically.
find_program(CMAKE_C_COMPILER NAMES ${VELQUORN_MINGW_PREFIX}-gcc-posix ${VELQUORN_MINGW_PREFIX}-gcc
             REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${VELQUORN_MINGW_PREFIX}-g++-posix
             ${VELQUORN_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${VELQUORN_MINGW_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${VELQUORN_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
