# Cross-build OrvoAudio.dll for 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686-posix):
#   cmake -S . -B build/win32 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-i686.cmake
# Built in CI but not run (a 32-bit wine needs the i386 architecture on the host).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
# SSE2, which every processor Windows 8 and later runs on has: the multi-channel kernels' 32-byte
# vectors then map to two SSE registers instead of scalar code (a third of the compile time, and
# faster). Scalar floating point stays on the x87 unit, as before.
string(APPEND CMAKE_C_FLAGS_INIT " -msse2")
string(APPEND CMAKE_CXX_FLAGS_INIT " -msse2")
