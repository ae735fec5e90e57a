# Sourced by the scripts: how they configure build folders, so that the ones they share
# (build/release) are always configured with the same arguments. A configure with other arguments
# (another compiler, say) would make CMake drop the cache, the install prefix with it.
# Everything is written inside the checkout: build folders, the compiler cache, installs.
# shellcheck shell=bash
root=${root:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

# The compiler cache lives in build/ccache: a second run, or a second stage compiling the same
# source with the same compiler and flags, takes the objects from there.
export CCACHE_DIR="$root/build/ccache" CCACHE_BASEDIR="$root" CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-2G}
# The test programs share a precompiled header: ccache caches what uses it only with these.
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
orvo_launcher=()
if command -v ccache >/dev/null 2>&1; then
  orvo_launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# configure BUILD-DIR [-S SOURCE-DIR] CMAKE-ARGS...
configure() {
  local dir=$1; shift
  local src=$root
  if [ "${1:-}" = "-S" ]; then src=$2; shift 2; fi
  cmake -S "$src" -B "$dir" -G Ninja -Wno-dev "${orvo_launcher[@]}" "$@" >/dev/null
}

# build/release: g++, Release, the benchmarks too, installed into build/install. The demos,
# the measurements and the release test stage all use this one configuration.
configure_release() {
  configure "$root/build/release" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ \
    -DCMAKE_C_COMPILER=gcc -DORVO_BUILD_BENCH=ON -DCMAKE_INSTALL_PREFIX="$root/build/install"
}
