#!/usr/bin/env bash
# Builds the libFuzzer targets with clang, ASan and UBSan, and runs each for SECONDS (default 30), starting
# from its checked-in seeds. usage: tools/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
dir=build-fuzz
bash tools/build.sh "$dir" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQUILLMARK_FUZZ=ON
targets=("$@")
if ((${#targets[@]} == 0)); then
  for binary in "$dir"/fuzz_*; do
    [ -f "$binary" ] && [ -x "$binary" ] && targets+=("${binary##*/fuzz_}")
  done
fi

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in "${targets[@]}"; do
  corpus="$dir/corpus/$target"
  mkdir -p "$corpus"
  mkdir -p "$dir/logs"
  log="$dir/logs/$target.log"
  # Findings go to the build folder, never into the checked-in seeds.
  if "$dir/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$dir/finding_${target}_" "$corpus" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz $target: ${runs:-?} executions in ${seconds}s, no finding"
  else
    echo "fuzz $target: FINDING (see $log)"
    tail -n 40 "$log"
    status=1
  fi
done
exit $status
