# Cross-build OrvoAudio.dll for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix):
#   cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw-w64-x86_64.cmake
# With wine installed, test programs run through it (ctest, gtest discovery).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORVO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ORVO_WINE_PROGRAM wine)
  if(ORVO_WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVO_WINE_PROGRAM})
  endif()
endif()
