# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain, for the
# programs without Qt (scripts/build windows).
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-shared.cmake)

# The programs carry their runtime (libgcc, libstdc++, winpthread), so they
# run on a bare Windows or under Wine without extra DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
