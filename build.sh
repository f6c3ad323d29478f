#!/usr/bin/env bash
# Builds treecopy (optimized, without the tests) in build/ and runs it once: on a Debian or
# Ubuntu machine it first installs the build tools it lacks (cmake, g++, ninja-build; through
# sudo when not root), saying what it installs.
#
#   ./build.sh              build/treecopy, then build/treecopy '/?'
#
# Then `sudo cmake --install build` installs it (/usr/local/bin/treecopy and its manual page),
# and `cd build && cpack` makes a Debian package of it.
set -euo pipefail

cd "$(dirname "$0")"

if ! scripts/ensure-packages cmake g++ ninja-build; then
  for tool in cmake c++; do
    command -v "$tool" >/dev/null 2>&1 || {
      echo "build.sh: $tool is missing and could not be installed" >&2
      exit 1
    }
  done
  echo "build.sh: going on with the tools at hand"
fi

generator=()
if [ ! -f build/CMakeCache.txt ] && command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi
cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DTREECOPY_TESTS=OFF
cmake --build build ${TREECOPY_JOBS:+-j "$TREECOPY_JOBS"}
echo "== build/treecopy '/?'"
build/treecopy '/?'
