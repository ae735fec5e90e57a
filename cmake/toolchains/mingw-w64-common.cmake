# Shared part of the mingw-w64 toolchain files: the caller sets ORVO_MINGW_TRIPLE and the processor.
#
# The posix thread model is required (std::thread, std::mutex). Everything from the compiler's
# runtime (libgcc, libstdc++, winpthread) is linked statically, so OrvoAudio.dll and the test
# programs depend on nothing but the system DLLs (KERNEL32, msvcrt, WINMM, ddraw, USER32, GDI32).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

find_program(CMAKE_C_COMPILER NAMES ${ORVO_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${ORVO_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${ORVO_MINGW_TRIPLE}-windres)
find_program(CMAKE_AR NAMES ${ORVO_MINGW_TRIPLE}-gcc-ar-posix ${ORVO_MINGW_TRIPLE}-ar)
find_program(CMAKE_RANLIB NAMES ${ORVO_MINGW_TRIPLE}-gcc-ranlib-posix ${ORVO_MINGW_TRIPLE}-ranlib)

# Libraries and packages come from the cross root only (never the host's); a client of an
# installed OrvoAudio adds its prefix with -DCMAKE_FIND_ROOT_PATH=<prefix>.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${ORVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
# Release DLLs carry no symbol tables (a host debugs with its own tools; -g builds keep them).
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")
