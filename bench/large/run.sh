#!/usr/bin/env bash
# Large-tree benchmark: a tree of 1,000,000 entries of 0 to 1 KiB on tmpfs, with a chain 100
# levels deep, copied with /s, brought up to date with /s /u over the result, and compared with
# /s /c; first with no directory above 20,000 entries, then with 200,000 files in one directory.
# Prints wall and processor time per file and the peak memory of every run, next to the
# 20,000-file copy of bench/walk made by the same build in the same run, and checks that each
# copy equals its source and that no temporary file is left anywhere. Removes all it made.
#
# Usage: bench/large/run.sh [scratch directory]   (default /dev/shm; about 9 GiB are needed)
# RUNS (default 3) runs of the 20,000-file copy and LARGE_RUNS (default 2) of each million-entry
# copy are made; the best one counts (the machine's other work only ever adds time).
set -euo pipefail

top=$(cd "$(dirname "$0")/../.." && pwd)
scratch=${1:-/dev/shm}
runs=${RUNS:-3}
large_runs=${LARGE_RUNS:-2}
build=$top/build/bench-release
maketree=$top/bench/large/maketree.py

need_kib=$((9 * 1024 * 1024))
avail_kib=$(df -Pk "$scratch" | awk 'NR == 2 { print $4 }')
if [ "$avail_kib" -lt "$need_kib" ]; then
  echo "bench/large: $scratch has $((avail_kib / 1024)) MiB free, about 9 GiB are needed" >&2
  exit 1
fi

work=$(mktemp -d "$scratch/tc-large-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTREECOPY_TESTS=OFF >/dev/null
cmake --build "$build" --target treecopy >/dev/null
prog=$build/treecopy

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# Runs the program in directory $1 with the remaining arguments, its output kept in $work/out.
# Sets wall (s), cpu (user + system, s), peak (KiB), status and summary (the last output line).
run_program() {
  local dir=$1
  shift
  local start end
  start=$(date +%s.%N)
  set +e
  (cd "$dir" && /usr/bin/time -f '%U %S %M' -o "$work/rusage" "$prog" "$@" >"$work/out")
  status=$?
  set -e
  end=$(date +%s.%N)
  wall=$(echo "$end - $start" | bc -l)
  local user sys
  read -r user sys peak <"$work/rusage"
  cpu=$(echo "$user + $sys" | bc -l)
  summary=$(tail -n 1 "$work/out")
}

# One line of the table: label, files, wall time, time per file (wall and processor), peak.
report() {
  local label=$1 files=$2
  printf '%-36s %8d files %8.2f s %7.1f us/file (cpu %5.1f) %7.2f MiB peak\n' "$label" "$files" \
    "$wall" "$(echo "$wall * 1000000 / $files" | bc -l)" "$(echo "$cpu * 1000000 / $files" | bc -l)" \
    "$(echo "$peak / 1024" | bc -l)"
}

# Checks the exit status and the summary line of the last run.
expect() {
  local label=$1 want=$2
  [ "$status" = 0 ] || fail "$label: exit status $status"
  [ "$summary" = "$want" ] || fail "$label: summary '$summary', expected '$want'"
  if grep -q 'unmatched' "$work/out"; then fail "$label: differences reported"; fi
}

# No temporary file of a copy anywhere in the work directory, and the copy equals its source.
check_copy() {
  local dir=$1 label=$2
  local left
  left=$(find "$work" -name '.tc*.tmp' | wc -l)
  [ "$left" = 0 ] || fail "$label: $left temporary files left behind"
  diff -r --no-dereference "$dir/src" "$dir/dst" >/dev/null || fail "$label: the copy differs"
}

# Files and directories of $1/src (itself included, as the summary counts it), for the expected
# summaries.
count_tree() {
  files=$(find "$1/src" -type f | wc -l)
  dirs=$(find "$1/src" -type d | wc -l)
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"

# The 20,000-file tree of bench/walk: the reference for the time per file.
mkdir -p "$work/walk"
python3 "$maketree" walk "$work/walk/src"
count_tree "$work/walk"
best=""
for _ in $(seq "$runs"); do
  rm -rf "$work/walk/dst"
  run_program "$work/walk" src dst /s
  if [ -z "$best" ] || [ "$(echo "$wall < $best" | bc -l)" = 1 ]; then
    best=$wall best_cpu=$cpu best_peak=$peak
  fi
done
wall=$best cpu=$best_cpu peak=$best_peak
expect "20,000 files /s" " $files/$files.files($dirs.dirs) copied."
report "bench/walk tree: /s (best of $runs)" "$files"
walk_wall=$wall walk_cpu=$cpu walk_files=$files
check_copy "$work/walk" "bench/walk tree"
run_program "$work/walk" src dst /s /u
expect "20,000 files /s /u" " 0/$files.files($dirs.dirs) copied."
report "bench/walk tree: /s /u" "$files"
run_program "$work/walk" src dst /s /c
expect "20,000 files /s /c" " $files/$files.files($dirs.dirs) compared."
report "bench/walk tree: /s /c" "$files"
rm -rf "$work/walk"

# The three runs over the million-entry tree in its current form.
large_runs() {
  local form=$1
  local dir=$work/large
  count_tree "$dir"
  read -r entries largest < <(python3 "$maketree" count "$dir/src")
  echo "tree ($form): $entries entries, $files files, $dirs directories, largest directory $largest entries"
  local best=""
  for _ in $(seq "$large_runs"); do
    rm -rf "$dir/dst"
    run_program "$dir" src dst /s
    expect "$form /s" " $files/$files.files($dirs.dirs) copied."
    if [ -z "$best" ] || [ "$(echo "$wall < $best" | bc -l)" = 1 ]; then
      best=$wall copy_cpu=$cpu copy_peak=$peak
    fi
  done
  wall=$best cpu=$copy_cpu peak=$copy_peak
  report "$form: /s (best of $large_runs)" "$files"
  copy_wall=$wall copy_files=$files
  check_copy "$dir" "$form"
  run_program "$dir" src dst /s /u
  expect "$form /s /u" " 0/$files.files($dirs.dirs) copied."
  report "$form: /s /u" "$files"
  update_peak=$peak
  run_program "$dir" src dst /s /c
  expect "$form /s /c" " $files/$files.files($dirs.dirs) compared."
  report "$form: /s /c" "$files"
  compare_peak=$peak
  rm -rf "$dir/dst"
  max_peak=$(printf '%s\n' "$copy_peak" "$update_peak" "$compare_peak" | sort -n | tail -1)
  printf '%s: time per file of the copy / the bench/walk copy: wall %.2f, cpu %.2f (goal <= 1.2)\n' \
    "$form" "$(echo "($copy_wall / $copy_files) / ($walk_wall / $walk_files)" | bc -l)" \
    "$(echo "($copy_cpu / $copy_files) / ($walk_cpu / $walk_files)" | bc -l)"
}

mkdir -p "$work/large"
start=$(date +%s.%N)
python3 "$maketree" large "$work/large/src"
printf 'built the million-entry tree in %.0f s\n' "$(echo "$(date +%s.%N) - $start" | bc -l)"

large_runs "1M, at most 20,000 per directory"
printf 'peak memory %.2f MiB (goal < 8 MiB)\n' "$(echo "$max_peak / 1024" | bc -l)"
[ "$max_peak" -lt 8192 ] || fail "peak memory $max_peak KiB with no directory above 20,000 entries"
small_peak=$max_peak

python3 "$maketree" join "$work/large/src"
large_runs "1M, one directory of 200,000 files"
# What the larger directory costs, per entry it has beyond 20,000: its names and their order.
printf 'peak memory %.2f MiB: %.1f bytes more per entry of the largest directory\n' \
  "$(echo "$max_peak / 1024" | bc -l)" "$(echo "($max_peak - $small_peak) * 1024 / 180000" | bc -l)"

rm -rf "$work"
[ ! -e "$work" ] || fail "the work directory was not removed"
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
# Wall time counts the time other processes held the processor: on a busy machine the processor
# time per file is the figure to compare.
if [ "$(echo "$(cut -d' ' -f1 /proc/loadavg) > $(nproc)" | bc -l)" = 1 ]; then
  echo "the machine is busy (load above $(nproc) processors): compare the cpu figures"
fi
if [ "$failures" -gt 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed; nothing left behind"
