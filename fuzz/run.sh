#!/usr/bin/env bash
# Builds the libFuzzer targets with clang++ (build/fuzz) and runs each for a given time.
#
#   fuzz/run.sh [--smoke | --minimize] [--runs N] <seconds> [target...]
#
# Targets: parser, pathtext, listfile (all when none is named). Each run starts from the
# repository corpus (fuzz/corpus/<target>). Afterwards the inputs the run found are merged into
# it with -merge=1, which keeps only those that reach something new, so the corpus grows where
# coverage grew. --minimize instead rebuilds the corpus from scratch out of the old one and the
# new inputs (smaller, but most of its files change). --smoke leaves the corpus alone (for
# ./test.sh). --runs stops a target after N executions, or when its time is up, whichever comes
# first.
#
# A fault (a crash, a sanitizer report, a failed invariant) is kept in build/fuzz/artifacts and
# fails the script. Exit status 77 means that clang++ with libFuzzer is not available.
set -uo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
smoke=0
minimize=0
runs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) smoke=1; shift ;;
    --minimize) minimize=1; shift ;;
    --runs) runs=$2; shift 2 ;;
    -h | --help) sed -n '2,15s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) break ;;
  esac
done
if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: fuzz/run.sh [--smoke | --minimize] [--runs N] <seconds> [target...]" >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(parser pathtext listfile)

cxx=${FUZZ_CXX:-clang++}
build=$top/build/fuzz
jobs=${TREECOPY_JOBS:-2}

# clang++ that links libFuzzer, or nothing to do.
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char *, unsigned long) { return 0; }' \
  >"$probe/probe.cpp"
if ! command -v "$cxx" >/dev/null 2>&1; then
  echo "fuzzing skipped: $cxx not found"
  exit 77
fi
if ! "$cxx" -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" \
  >/dev/null 2>&1; then
  echo "fuzzing skipped: $cxx cannot link libFuzzer (-fsanitize=fuzzer)"
  exit 77
fi

generator=()
if [ ! -f "$build/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
  generator=(-G Ninja)
fi
CXX=$cxx cmake -S "$top" -B "$build" "${generator[@]}" -DTREECOPY_FUZZ=ON -DTREECOPY_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$build" -j "$jobs" >/dev/null || { cmake --build "$build" -j 1; exit 1; }

# Inputs longer than this are not tried: longer ones reach nothing new, and the corpus files
# stay small.
max_len() {
  case "$1" in
    listfile) echo 1536 ;; # a line longer than the room a line has, and then some
    *) echo 1024 ;;
  esac
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

mkdir -p "$build/artifacts"
failed=0
for target in "${targets[@]}"; do
  program=$build/fuzz_$target
  corpus=$top/fuzz/corpus/$target
  if [ ! -x "$program" ]; then
    echo "$target: no such target"
    failed=1
    continue
  fi
  mkdir -p "$corpus"
  found=$(mktemp -d "$build/found-$target.XXXXXX")
  log=$build/$target.log
  limit=(-max_total_time="$seconds")
  [ -n "$runs" ] && limit+=(-runs="$runs")
  before=$(find "$corpus" -type f | wc -l)
  # New inputs go to the first directory, so the repository corpus is only read here.
  "$program" "${limit[@]}" -max_len="$(max_len "$target")" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" "$found" "$corpus" >"$log" 2>&1
  status=$?
  executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  if [ "$status" -ne 0 ]; then
    echo "$target: FAULT after ${executed:-?} runs (log: $log)"
    grep -E 'invariant failed|ERROR: |SUMMARY: |runtime error|Test unit written' "$log" | head -8
    failed=1
    rm -rf "$found"
    continue
  fi
  result="$target: ${executed:-?} runs in $seconds s at most (${speed:-?}/s), no fault"
  if [ "$smoke" = 0 ]; then
    merged=$(mktemp -d "$build/merged-$target.XXXXXX")
    if [ "$minimize" = 1 ]; then
      merge=("$merged" "$corpus" "$found")
    else
      merge=("$corpus" "$found")
    fi
    if "$program" -merge=1 -max_len="$(max_len "$target")" "${merge[@]}" \
      >"$build/$target.merge.log" 2>&1; then
      if [ "$minimize" = 1 ]; then
        find "$corpus" -type f -delete
        cp "$merged"/* "$corpus"/ 2>/dev/null
      fi
      result+=", corpus $before -> $(find "$corpus" -type f | wc -l) files"
    else
      echo "$target: merging the corpus failed (log: $build/$target.merge.log)"
      failed=1
    fi
    rm -rf "$merged"
  fi
  rm -rf "$found"
  echo "$result"
done
exit "$failed"
