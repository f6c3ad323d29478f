#!/bin/sh
# Builds the core in Release and times the content comparison and the incremental copy against
# cmp, a full copy and rsync --append. Needs about 3.1 GB free in the scratch directory.
#   bench/actions/run.sh [scratch directory, default: a new one under /tmp]
set -eu
repo=$(cd "$(dirname "$0")/../.." && pwd)
build="$repo/build-bench-actions"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTREECOPY_TESTS=OFF >/dev/null
cmake --build "$build" --target treecopy_core -j2 >/dev/null
c++ -std=c++20 -O2 -Wall -Wextra -Werror -I"$repo/src" "$repo/bench/actions/bench_actions.cpp" \
  "$build/libtreecopy_core.a" -o "$build/bench_actions"
if [ $# -ge 1 ]; then
  scratch="$1"
  "$build/bench_actions" "$scratch"
else
  scratch=$(mktemp -d /tmp/tc-bench-XXXXXX)
  trap 'rm -rf "$scratch"' EXIT
  "$build/bench_actions" "$scratch"
fi
