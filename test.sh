#!/usr/bin/env bash
# Builds and tests treecopy: first the native build with AddressSanitizer and UndefinedBehavior-
# Sanitizer (build/test-native), then the same with the POSIX backend's portable calls alone
# (build/test-portable), then the Windows build, cross-compiled with MinGW-w64 and run under Wine
# (build/test-windows), when the cross compiler and Wine are installed.
#
#   ./test.sh                    a missing Windows tool skips the Windows leg, saying so
#   ./test.sh --require-windows  a missing Windows tool is a failure
#
# Exits non-zero when any build or test fails.
set -uo pipefail

cd "$(dirname "$0")" || exit 1

require_windows=0
for arg in "$@"; do
  case "$arg" in
    --require-windows) require_windows=1 ;;
    -h | --help)
      sed -n '2,9s/^# \{0,1\}//p' "$0"
      exit 0
      ;;
    *)
      echo "test.sh: unknown argument: $arg" >&2
      exit 2
      ;;
  esac
done

jobs="${TREECOPY_JOBS:-2}"

# Configures (with Ninja for a new build directory when it is installed), builds and tests one
# build directory; the remaining arguments go to the configure step.
run_leg() {
  local dir="$1"
  shift
  local generator=()
  if [ ! -f "$dir/CMakeCache.txt" ] && command -v ninja >/dev/null 2>&1; then
    generator=(-G Ninja)
  fi
  cmake -S . -B "$dir" "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug "$@" &&
    cmake --build "$dir" -j "$jobs" &&
    ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$jobs"
}

# The native suite once more, built with the POSIX backend's portable calls alone (no statx,
# getdents64, copy_file_range, O_TMPFILE, renameat2 or /proc), as another POSIX system builds it.
portable_leg() {
  echo "== native build with the portable POSIX calls alone, with sanitizers (build/test-portable)"
  run_leg build/test-portable -DTREECOPY_SANITIZE=ON -DTREECOPY_PORTABLE_POSIX=ON
}

native_result=failed
portable_result=failed
windows_result=failed

echo "== native build with sanitizers (build/test-native)"
if run_leg build/test-native -DTREECOPY_SANITIZE=ON; then
  native_result=passed
fi

if portable_leg; then
  portable_result=passed
fi

missing=()
for tool in x86_64-w64-mingw32-gcc-posix x86_64-w64-mingw32-g++-posix wine wineserver; do
  command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
done
[ -f /usr/src/googletest/CMakeLists.txt ] || missing+=("/usr/src/googletest")

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$require_windows" = 1 ]; then
    echo "Windows leg failed: missing ${missing[*]}"
  else
    echo "Windows leg skipped: missing ${missing[*]}"
    windows_result=skipped
  fi
else
  echo "== Windows build under Wine (build/test-windows)"
  if run_leg build/test-windows -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake"; then
    windows_result=passed
  fi
fi

echo "native leg: $native_result; portable leg: $portable_result; Windows leg: $windows_result"
[ "$native_result" = passed ] && [ "$portable_result" = passed ] && [ "$windows_result" != failed ]
