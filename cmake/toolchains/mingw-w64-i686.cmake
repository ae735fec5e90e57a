# Cross-build OrvoAudio.dll for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686-posix):
#   cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake
# Built in CI but not run (a 32-bit wine needs the i386 architecture on the host).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
