#!/bin/sh
# Every workload of the performance table in one command: builds the optimized program and times
# it against its peers on tmpfs and on the disk (interleaved hyperfine rounds, medians), prints
# the ratios against the targets, peak memory, and system calls per file of the tree workloads.
# Needs hyperfine, strace, rsync and python3 besides the build tools. Takes a few minutes.
#   bench/compare/run.sh [--fs tmpfs|disk|tmpfs,disk] [--rounds N] [--rows copy,update,...]
#                        [--big-mib N] [--log-mib N] [--no-syscalls] [--json FILE]
set -eu
repo=$(cd "$(dirname "$0")/../.." && pwd)
build="$repo/build/bench-release"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTREECOPY_TESTS=OFF >/dev/null
cmake --build "$build" --target treecopy -j2 >/dev/null
exec python3 "$repo/bench/compare/run.py" "$build/treecopy" "$@"
