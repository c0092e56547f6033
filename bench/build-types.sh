#!/usr/bin/env bash
# The speed table of every instruction-set level, for every way the project is commonly built:
# CMake's Release (-O3), plain -O2, RelWithDebInfo (-O2 -g) and Debian's packaging flags
# (dpkg-buildflags). Each gets a build folder of its own; the tables come out one after another.
#   bench/build-types.sh [--check] [release|o2|relwithdebinfo|debian ...]
# --check fails when some level of a build is slower than the library on the 43-wide rectangle
# or cross.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
mode=--levels
if [[ "${1:-}" == --check ]]; then mode=--check; shift; fi
builds=("$@")
[[ ${#builds[@]} -gt 0 ]] || builds=(release o2 relwithdebinfo debian)

for name in "${builds[@]}"; do
  case "$name" in
    release) flags=(-DCMAKE_BUILD_TYPE=Release) ;;
    o2) flags=(-DCMAKE_BUILD_TYPE=None -DCMAKE_CXX_FLAGS=-O2) ;;
    relwithdebinfo) flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
    # As Debian's packaging builds it: no CMake build type, the distribution's flags.
    debian) flags=(-DCMAKE_BUILD_TYPE=None
                   "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
                   "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)") ;;
    *) echo "unknown build: $name" >&2; exit 2 ;;
  esac
  dir="build-bench-$name"
  cmake -S . -B "$dir" -DTONEMORPH_BUILD_TESTS=OFF -DTONEMORPH_BUILD_BENCH=ON "${flags[@]}" >/dev/null
  cmake --build "$dir" -j "$jobs" --target pipeline_bench >/dev/null
  echo "### $name"
  "$dir/bench/pipeline_bench" "$mode" | sed -n '/== Every level/,$p'
  echo
done
