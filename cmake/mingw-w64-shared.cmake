# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain (posix
# thread model, which std::thread needs), with the MinGW runtime as DLLs
# (libstdc++-6, libgcc_s_seh-1, libwinpthread-1): the window and Qt's DLLs
# share one C++ runtime. scripts/build windows-gui and the Qt build use it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(PELL_MINGW_PREFIX x86_64-w64-mingw32)

find_program(CMAKE_CXX_COMPILER NAMES ${PELL_MINGW_PREFIX}-g++-posix ${PELL_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_C_COMPILER NAMES ${PELL_MINGW_PREFIX}-gcc-posix ${PELL_MINGW_PREFIX}-gcc)
find_program(CMAKE_RC_COMPILER NAMES ${PELL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PELL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
