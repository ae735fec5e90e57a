# Cross-build for 64-bit ARM Linux (Raspberry Pi 3/4/5 class boards, i.MX8, RK35xx ...) with
# Debian's g++-aarch64-linux-gnu; the target's ALSA is libasound2-dev:arm64:
#   cmake -S . -B build/aarch64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
# With qemu-user installed, test programs run through qemu-aarch64 (ctest, gtest discovery).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(ORVO_CROSS_TRIPLE aarch64-linux-gnu)
set(ORVO_CROSS_SYSROOT /usr/${ORVO_CROSS_TRIPLE})

find_program(CMAKE_C_COMPILER NAMES ${ORVO_CROSS_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ORVO_CROSS_TRIPLE}-g++ REQUIRED)

# Libraries, headers and packages from the cross root and Debian's multiarch folders for arm64,
# never the host's.
list(APPEND CMAKE_FIND_ROOT_PATH ${ORVO_CROSS_SYSROOT} /usr)
set(CMAKE_LIBRARY_ARCHITECTURE ${ORVO_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config looks at the target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${ORVO_CROSS_TRIPLE}/pkgconfig:/usr/share/pkgconfig")

if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(ORVO_QEMU_AARCH64 qemu-aarch64)
  if(ORVO_QEMU_AARCH64)
    # -L: the target's dynamic loader and libraries.
    set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVO_QEMU_AARCH64} -L ${ORVO_CROSS_SYSROOT})
  endif()
endif()
