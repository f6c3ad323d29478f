#!/usr/bin/env bash
# Installs what the tests need and runs every test, leg by leg:
#   native   the native build with AddressSanitizer and UndefinedBehaviorSanitizer
#            (build/test-native): unit tests, end-to-end scenarios, manual page, install and
#            Debian package
#   portable the native build once more with the POSIX backend's portable calls alone
#            (build/test-portable), as another POSIX system builds it: the file layer's unit
#            tests, the end-to-end scenarios and the kill trials
#   tsan     the unit tests and the end-to-end scenarios built with clang++ and ThreadSanitizer
#            (build/test-tsan)
#   windows  the Windows build, cross-compiled with MinGW-w64 (build/test-windows): the same
#            tests under Wine, and the zip
#   fuzz     each libFuzzer target for a short time over its corpus (build/fuzz, clang++)
#
#   ./test.sh [OPTIONS] [LEG...]   all legs, or only the ones named
#     --no-install        install nothing; a leg whose tools are missing is skipped
#     --require-windows   a Windows leg that cannot run is a failure, not a skip
#     --require-all       every leg that cannot run is a failure (continuous integration)
#
# Missing packages are installed first with apt-get (through sudo when not root), saying what.
# A leg that still cannot run is skipped, saying why (the native leg fails instead). The last
# line sums up every leg; the exit status is non-zero when any leg failed.
#
# Adding a leg: define packages_<leg> (the Debian packages it needs), missing_<leg> (prints the
# tools still missing, nothing when it can run) and run_<leg> (runs it; its exit status is the
# result), and add <leg> to LEGS.
set -uo pipefail

cd "$(dirname "$0")" || exit 1

LEGS=(native portable tsan windows fuzz)

# Builds and ctest run as many jobs as the machine has cores (TREECOPY_JOBS sets another number).
jobs="${TREECOPY_JOBS:-$(nproc 2>/dev/null || echo 2)}"

# Tests a leg runs: a ctest regular expression over the test names; empty runs them all.
ctest_filter=""

# The first argument names the build directory; the rest go to the configure step. Configures
# (with Ninja for a new build directory when it is installed), builds and runs ctest (only the
# tests of ctest_filter when it is set).
run_cmake_leg() {
  local dir="$1"
  shift
  local generator=() select=()
  [ -z "$ctest_filter" ] || select=(-R "$ctest_filter")
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
  fi
  cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug "$@" &&
    cmake --build "$dir" -j "$jobs" &&
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs" "${select[@]}"
}

# Prints the commands of the list that are not installed.
missing_commands() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || printf '%s ' "$tool"
  done
}

# --- native leg ---
# libfuse3-dev and fuse3: the test file system of the share-fault scenarios (tests/share);
# btrfs-progs: a file system that clones, for the copy's clone test (as root).
packages_native=(cmake g++ ninja-build libgtest-dev python3 strace groff-base man-db dpkg-dev file
  libfuse3-dev fuse3 btrfs-progs)
missing_native() {
  missing_commands cmake c++ python3 strace man groff dpkg-shlibdeps file fusermount3
  [ -f /usr/include/gtest/gtest.h ] || printf '%s ' "GoogleTest(libgtest-dev)"
  [ -f /usr/include/fuse3/fuse.h ] || printf '%s ' "libfuse3(libfuse3-dev)"
}
run_native() {
  run_cmake_leg build/test-native -DTREECOPY_SANITIZE=ON
}

# --- portable leg ---
# No statx, getdents64, copy_file_range, O_TMPFILE, renameat2 or /proc: the calls every POSIX
# system has, with the same sanitizers.
packages_portable=(cmake g++ ninja-build libgtest-dev python3 strace)
missing_portable() {
  missing_commands cmake c++ python3 strace
  [ -f /usr/include/gtest/gtest.h ] || printf '%s ' "GoogleTest(libgtest-dev)"
}
# Only what the portable calls change runs again: the file layer's unit tests (as root and as an
# ordinary user), the end-to-end scenarios (both users) and the kill trials with hidden temporary
# names; the manual, package, progress and other subsystems' unit tests are the native leg's.
run_portable() {
  ctest_filter='^(unit_paths|unit_ordinary_user|e2e|e2e_ordinary_user|kill_trials|churn)$' \
    run_cmake_leg build/test-portable -DTREECOPY_SANITIZE=ON -DTREECOPY_PORTABLE_POSIX=ON
}

# --- tsan leg ---
# The unit tests and the end-to-end scenarios once more (by default, and with eight workers from
# the first file on), and eight workers copying a tree that another process changes meanwhile,
# built with clang++ and ThreadSanitizer:
# a data race, or a signal handler that does what it must not, fails the test that meets it.
# The kill trials, the progress, package and manual checks and the ordinary user's runs are the
# other legs'.
packages_tsan=(clang libclang-rt-dev cmake ninja-build libgtest-dev python3 strace)
missing_tsan() {
  missing_commands clang++ cmake python3 strace
  [ -f /usr/include/gtest/gtest.h ] || printf '%s ' "GoogleTest(libgtest-dev)"
  compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.tsan-x86_64.a' >/dev/null ||
    printf '%s ' "ThreadSanitizer(libclang-rt-dev)"
}
run_tsan() {
  ctest_filter='^(unit_(cli|paths|walk|actions|report)|e2e|e2e_workers|churn)$' \
    run_cmake_leg build/test-tsan -DCMAKE_CXX_COMPILER=clang++ -DTREECOPY_TSAN=ON
}

# --- windows leg ---
packages_windows=(cmake ninja-build python3 g++-mingw-w64-x86-64 googletest wine wine64 groff-base)
missing_windows() {
  missing_commands cmake python3 x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix \
    x86_64-w64-mingw32-windres wine wineserver groff
  [ -f /usr/src/googletest/CMakeLists.txt ] || printf '%s ' "GoogleTest-sources(googletest)"
}
run_windows() {
  run_cmake_leg build/test-windows -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake"
}

# --- fuzz leg ---
# The fuzz smoke run: each libFuzzer target for a short time (TREECOPY_FUZZ_SECONDS, 20 by
# default, 60 at most) over the corpus in fuzz/corpus.
packages_fuzz=(clang libclang-rt-dev cmake ninja-build)
missing_fuzz() {
  missing_commands clang++ cmake
  compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null ||
    printf '%s ' "libFuzzer(libclang-rt-dev)"
}
run_fuzz() {
  local seconds="${TREECOPY_FUZZ_SECONDS:-20}"
  [[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -le 60 ] || seconds=60
  fuzz/run.sh --smoke "$seconds"
}

install=1
required=(native)
chosen=()
for arg in "$@"; do
  case "$arg" in
    --no-install) install=0 ;;
    --require-windows) required+=(windows) ;;
    --require-all) required+=("${LEGS[@]}") ;;
    -h | --help)
      sed -n '2,23s/^# \{0,1\}//p' "$0"
      exit 0
      ;;
    -*)
      echo "test.sh: unknown option: $arg" >&2
      exit 2
      ;;
    *)
      if ! declare -F "run_$arg" >/dev/null; then
        echo "test.sh: unknown leg: $arg (legs: ${LEGS[*]})" >&2
        exit 2
      fi
      chosen+=("$arg")
      ;;
  esac
done
[ "${#chosen[@]}" -gt 0 ] || chosen=("${LEGS[@]}")

is_required() {
  local leg
  for leg in "${required[@]}"; do
    [ "$leg" = "$1" ] && return 0
  done
  return 1
}

# One installation for every chosen leg that lacks something.
if [ "$install" = 1 ]; then
  wanted=()
  for leg in "${chosen[@]}"; do
    if [ -n "$("missing_$leg")" ]; then
      eval "wanted+=(\"\${packages_$leg[@]}\")"
    fi
  done
  if [ "${#wanted[@]}" -gt 0 ]; then
    # The same package named by two legs is installed once.
    mapfile -t wanted < <(printf '%s\n' "${wanted[@]}" | awk '!seen[$0]++')
    scripts/ensure-packages "${wanted[@]}" ||
      echo "test.sh: not everything could be installed; legs that lack a tool are skipped"
  fi
fi

summary=()
failed=0
for leg in "${chosen[@]}"; do
  missing="$("missing_$leg")"
  if [ -n "$missing" ]; then
    if is_required "$leg"; then
      echo "== $leg leg failed: missing ${missing% }"
      summary+=("$leg failed (missing ${missing% })")
      failed=1
    else
      echo "== $leg leg skipped: missing ${missing% }"
      summary+=("$leg skipped (missing ${missing% })")
    fi
    continue
  fi
  echo "== $leg leg"
  if "run_$leg"; then
    summary+=("$leg passed")
  else
    summary+=("$leg failed")
    failed=1
  fi
done

line=""
for item in "${summary[@]}"; do
  line+="${line:+; }$item"
done
echo "test.sh summary: $line"
exit "$failed"
