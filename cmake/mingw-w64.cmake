# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain (posix
# thread model, which std::thread needs). scripts/build windows uses it.
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

# The programs carry their runtime (libgcc, libstdc++, winpthread), so they
# run on a bare Windows or under Wine without extra DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
