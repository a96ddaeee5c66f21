#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal build, and one with
# AddressSanitizer and UndefinedBehaviorSanitizer. Then the desktop program under valgrind, the fuzzers for a
# while each, and the Debian package unpacked and run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh

# The desktop program's tests need an X server; start a private one unless one was given.
if [ -z "${DISPLAY:-}" ]; then
  source tools/xvfb.sh
  started=0
  start_xvfb 90 120 1920x1080x24 || started=$?
  trap 'kill $XVFB_PID 2>/dev/null || true' EXIT
  [ "$started" -eq 0 ] || { echo "test: Xvfb did not start on $DISPLAY" >&2; exit 1; }
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

suite() {
  local dir=$1
  shift
  echo "== $dir"
  bash tools/build.sh "$dir" "$@"
  (cd "$dir" && ctest --output-on-failure -j "$(nproc)" --timeout 600)
}

suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
suite build-sanitize -DCMAKE_BUILD_TYPE=Debug -DQUILLMARK_SANITIZE=ON -DQUILLMARK_BUILD_BENCH=OFF

echo "== memcheck"
bash tools/memcheck.sh build

echo "== fuzzing"
bash tools/fuzz.sh "${QUILLMARK_FUZZ_SECONDS:-30}"

echo "== package"
bash tools/package-check.sh build
