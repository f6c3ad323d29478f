#!/usr/bin/env bash
# Builds the file-system benchmark (optimized) and prints its figures:
#  1. one large file through CopyFileA against GNU cp on the same file, side by side;
#  2. listing a directory of many entries: system calls per entry beyond reading the directory;
#  3. exact (namesake) lookups, found and missing: system calls per lookup;
#  4. a tree copy of many small files (a walk with a namesake lookup per file, as the program
#     does): time against cp -r, and peak memory.
# Settings (environment): BENCH_DIR (work directory, default /var/tmp/tc-fsbench),
# BENCH_COPY_MIB (1024), BENCH_ENTRIES (100000), BENCH_LOOKUPS (10000), BENCH_TREE_FILES
# (20000), BENCH_ROUNDS (5), BENCH_KEEP=1 keeps the work directory.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
work=${BENCH_DIR:-/var/tmp/tc-fsbench}
copy_mib=${BENCH_COPY_MIB:-1024}
entries=${BENCH_ENTRIES:-100000}
lookups=${BENCH_LOOKUPS:-10000}
tree_files=${BENCH_TREE_FILES:-20000}
rounds=${BENCH_ROUNDS:-5}
bin="$work/fsbench"

mkdir -p "$work"
cleanup() {
  if [ "${BENCH_KEEP:-0}" != 1 ]; then
    rm -rf "$work"
  fi
}
trap cleanup EXIT

# The layer alone, optimized as a release build is; no other part of the program is needed.
g++ -std=c++20 -O2 -DNDEBUG -Wall -Wextra -Werror -I"$root/src" \
  "$here/fsbench.cpp" $(ls "$root"/src/paths/*.cpp | grep -v "posix_portable\|/win_") "$root/src/state/state.cpp" \
  -o "$bin" -lpthread

now() { date +%s.%N; }
# Median of the numbers on standard input.
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "file system: $(df -T "$work" | awk 'NR == 2 { print $2 }') at $work; kernel $(uname -r)"

# --- 1. One large file: CopyFileA against cp ---------------------------------------------------
big="$work/big.bin"
if [ ! -f "$big" ] || [ "$(stat -c %s "$big")" != $((copy_mib << 20)) ]; then
  head -c $((copy_mib << 20)) /dev/urandom >"$big"
fi
cat "$big" >/dev/null # both copies start from a warm cache
: >"$work/t_cp"
: >"$work/t_ours"
# Times one copy into a fresh name; its output is checked, then removed and flushed away so
# that the next run meets the same state. The two tools take turns going first.
time_copy() {
  local tool=$1 out="$work/out.$1"
  rm -f "$out"
  sync
  local t0 t1
  t0=$(now)
  if [ "$tool" = cp ]; then cp "$big" "$out"; else "$bin" copy "$big" "$out" >/dev/null; fi
  t1=$(now)
  echo "$t1 - $t0" | bc -l >>"$work/t_$tool"
  if [ "$tool" = ours ]; then
    cmp -s "$big" "$out" || { echo "copy differs from its source" >&2; exit 1; }
  fi
  rm -f "$out"
  sync
}
for round in $(seq "$rounds"); do
  if [ $((round % 2)) = 1 ]; then order="cp ours"; else order="ours cp"; fi
  for tool in $order; do time_copy "$tool"; done
done
cp_s=$(median <"$work/t_cp")
ours_s=$(median <"$work/t_ours")
printf 'copy %d MiB (median of %d): cp %.3f s, CopyFileA %.3f s, ratio %.2f (goal <= 1.10)\n' \
  "$copy_mib" "$rounds" "$cp_s" "$ours_s" "$(echo "$ours_s / $cp_s" | bc -l)"

# --- 2. and 3. System calls of a listing and of lookups ------------------------------------------
# Counts the calls of one run of the benchmark program; prints "total getdents64".
count_calls() {
  strace -f -c -o "$work/strace.txt" "$bin" "$@" >/dev/null
  awk '$NF == "total" { total = $4 } $NF == "getdents64" { g = $4 }
       END { print total + 0, g + 0 }' "$work/strace.txt"
}
per_unit() { echo "scale=2; ($1) / $2" | bc -l; }

if command -v strace >/dev/null; then
  many="$work/many"
  rm -rf "$many" "$work/empty"
  "$bin" mkfiles "$many" "$entries"
  mkdir "$work/empty"
  read -r base_total base_getdents < <(count_calls list "$work/empty")
  read -r list_total list_getdents < <(count_calls list "$many")
  listed=$("$bin" list "$many")
  extra=$(((list_total - list_getdents) - (base_total - base_getdents)))
  printf 'list %d entries: %s s warm; %d getdents64 calls; %s other calls per entry (goal <= 3)\n' \
    "$entries" "$(echo "$listed" | awk '{ print $2 }')" "$list_getdents" \
    "$(per_unit "$extra" "$entries")"
  awk -v n="$entries" '$NF == "statx" || $NF == "getxattr" || $NF == "newfstatat" ||
       $NF == "lstat" || $NF == "stat" { printf "  %-10s %.2f per entry\n", $NF, $4 / n }' \
    "$work/strace.txt"

  read -r base_total _ < <(count_calls lookup "$many" hit 0)
  for kind in hit miss; do
    read -r total _ < <(count_calls lookup "$many" "$kind" "$lookups")
    timing=$("$bin" lookup "$many" "$kind" "$lookups" | awk '{ print $2 }')
    printf 'lookup (%s) x %d: %s s; %s calls per lookup (goal <= 2)\n' "$kind" "$lookups" \
      "$timing" "$(per_unit "$total - $base_total" "$lookups")"
  done
  rm -rf "$many" "$work/empty"
else
  echo "strace missing: system-call counts skipped"
fi

# --- 4. A tree of small files: time and peak memory ---------------------------------------------
tree="$work/tree"
rm -rf "$tree" "$work/tree.ours" "$work/tree.cp"
"$bin" mktree "$tree" 200 "$tree_files"
: >"$work/t_tree_ours"
: >"$work/t_tree_cp"
maxrss=0
# Two rounds, the tools taking turns going first; the faster run of each counts.
for order in "ours cp" "cp ours"; do
  for tool in $order; do
    rm -rf "$work/tree.$tool"
    sync
    if [ "$tool" = ours ]; then
      read -r copied secs rss < <("$bin" copytree "$tree" "$work/tree.ours")
      echo "$secs" >>"$work/t_tree_ours"
      [ "$rss" -gt "$maxrss" ] && maxrss=$rss
      diff -r "$tree" "$work/tree.ours" >/dev/null || { echo "tree copy differs" >&2; exit 1; }
    else
      t0=$(now)
      cp -r "$tree" "$work/tree.cp"
      t1=$(now)
      echo "$t1 - $t0" | bc -l >>"$work/t_tree_cp"
    fi
  done
done
printf 'tree copy %d files in 200 directories: %.3f s (cp -r %.3f s); peak memory %.1f MiB (goal well under 16)\n' \
  "$copied" "$(sort -g "$work/t_tree_ours" | head -1)" "$(sort -g "$work/t_tree_cp" | head -1)" \
  "$(echo "$maxrss / 1024" | bc -l)"
rm -rf "$tree" "$work/tree.ours" "$work/tree.cp"
