#!/usr/bin/env bash
# Tree copy benchmark: 20,000 files of 1-8 KiB in 200 directories, copied into an empty
# destination with /s (against cp -r and rsync -a), then re-run with /s /u over the unchanged
# tree (against rsync -a on the same unchanged tree). Prints wall times and peak memory.
# Usage: bench/walk/run.sh [work directory]
# The default work directory is on tmpfs (/dev/shm) when there is one: on a virtual disk the
# write-back of earlier runs swings every tool's time by a factor of ten from one run to the next,
# while the per-file cost of the tools themselves is what is compared here.
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
scratch=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && scratch=/dev/shm
if [ $# -ge 1 ]; then
  work=$1
else
  work=$(mktemp -d "$scratch/tc-walk-bench.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
build=$top/build/bench-release
runs=${RUNS:-3}

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTREECOPY_TESTS=OFF >/dev/null
cmake --build "$build" --target treecopy >/dev/null
prog=$build/treecopy

mkdir -p "$work"
cd "$work"
if [ ! -d src ]; then
  python3 - <<'PY'
import os, random
random.seed(7)
for d in range(200):
    path = os.path.join("src", "d%03d" % d)
    os.makedirs(path)
    for f in range(100):
        with open(os.path.join(path, "f%03d.dat" % f), "wb") as out:
            out.write(random.randbytes(random.randint(1024, 8192)))
PY
fi
sync

# Runs a command `runs` times, each into a fresh destination prepared by `prep`, and prints the
# best wall time and the peak resident memory of the best run.
measure() {
  local label=$1 prep=$2; shift 2
  local best="" bestmem=""
  for _ in $(seq "$runs"); do
    eval "$prep"
    sync
    local start end secs mem
    start=$(date +%s.%N)
    /usr/bin/time -f %M -o "$work/.mem" "$@" >/dev/null
    end=$(date +%s.%N)
    secs=$(echo "$end - $start" | bc -l)
    mem=$(cat "$work/.mem")
    if [ -z "$best" ] || [ "$(echo "$secs < $best" | bc -l)" = 1 ]; then best=$secs; bestmem=$mem; fi
  done
  printf '%-34s %8.3f s  %6d KiB peak\n' "$label" "$best" "$bestmem"
  last=$best
}

echo "tree: $(find src -type f | wc -l) files in $(find src -mindepth 1 -type d | wc -l) directories"
measure "treecopy src dst /s" "rm -rf dst" "$prog" src dst /s; t_copy=$last
measure "cp -r src dst" "rm -rf dst" cp -r src dst; t_cp=$last
measure "rsync -a src/ dst/" "rm -rf dst" rsync -a src/ dst/; t_rsync=$last

rm -rf dst && "$prog" src dst /s >/dev/null
measure "treecopy src dst /s /u (unchanged)" ":" "$prog" src dst /s /u; t_update=$last
rm -rf dst && rsync -a src/ dst/
measure "rsync -a src/ dst/ (unchanged)" ":" rsync -a src/ dst/; t_rsync_update=$last

printf 'copy:   treecopy/cp -r = %.2f (goal <= 1.2), treecopy/rsync = %.2f (goal < 1)\n' \
  "$(echo "$t_copy / $t_cp" | bc -l)" "$(echo "$t_copy / $t_rsync" | bc -l)"
printf 'update: treecopy/rsync = %.2f (goal <= 0.9)\n' "$(echo "$t_update / $t_rsync_update" | bc -l)"
rm -rf "$work/dst"
