#!/bin/sh
# Every workload of the performance table in one command: builds the optimized program and times
# it against its peers on tmpfs, on the disk and on a delaying share (the test file system faultfs
# mounted over tmpfs; mounting needs root or fusermount3), in interleaved hyperfine rounds
# (medians); prints the ratios against the targets, peak memory, and system calls per file of the
# tree workloads. Installs hyperfine, strace, rsync, rclone and the FUSE library with apt-get where
# they are missing (scripts/ensure-packages says what it installs). Takes some twenty minutes.
#   bench/compare/run.sh [--fs tmpfs|disk|share|tmpfs,disk,share] [--rounds N]
#                        [--rows copy,update,...,share-copy,...] [--delay-us N]
#                        [--big-mib N] [--log-mib N] [--no-syscalls] [--json FILE]
set -eu
repo=$(cd "$(dirname "$0")/../.." && pwd)
build="$repo/build/bench-release"
"$repo/scripts/ensure-packages" hyperfine strace rsync rclone fuse3 libfuse3-dev pkg-config ||
  echo "run.sh: some tools could not be installed; the rows that need them will fail"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTREECOPY_TESTS=OFF >/dev/null
cmake --build "$build" --target treecopy -j2 >/dev/null
# The share's file system, built here because the optimized build leaves the tests out.
if [ ! "$build/faultfs" -nt "$repo/tests/share/faultfs.cpp" ]; then
  c++ -O2 -std=c++20 -o "$build/faultfs" "$repo/tests/share/faultfs.cpp" \
    $(pkg-config --cflags --libs fuse3)
fi
exec python3 "$repo/bench/compare/run.py" "$build/treecopy" --faultfs "$build/faultfs" "$@"
