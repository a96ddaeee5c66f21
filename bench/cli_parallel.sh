#!/usr/bin/env bash
# Times quillmark-render on 200 screens to PNG with one worker (-j1) and with its default of one per core,
# and prints the speed-up. The two runs must write the same files.
#   bash bench/cli_parallel.sh [PROGRAM] [RUNS]   (defaults: build/quillmark-render, 5 runs of each)
set -euo pipefail
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/quillmark-render}")
runs=${2:-5}
[ -x "$program" ] || { echo "cli_parallel: $program is not built" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 200 different screens: the samples, each copy with a few codes changed.
python3 - "$work/screens" assets/samples <<'PYTHON'
import pathlib, sys
target, samples = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
target.mkdir()
bases = [path.read_bytes() for path in sorted(samples.glob("*.bin"))]
for index in range(200):
    screen = bytearray(bases[index % len(bases)])
    for step in range(4):
        screen[(index * 37 + step * 251) % 1000] = 0x41 + (index + step) % 26
    (target / f"screen-{index:03}.bin").write_bytes(bytes(screen))
PYTHON
screens=("$work"/screens/*.bin)

# Wall-clock seconds of one conversion of every screen.
timed() {
    local out=$1
    shift
    rm -rf "$out" && mkdir "$out"
    local start end
    start=$(date +%s.%N)
    "$program" "$@" -f png -o "$out" "${screens[@]}"
    end=$(date +%s.%N)
    awk -v start="$start" -v end="$end" 'BEGIN { printf "%.4f\n", end - start }'
}

median() { printf '%s\n' "$@" | sort -g | awk '{ all[NR] = $1 } END { print all[int((NR + 1) / 2)] }'; }

one=()
all=()
for _ in $(seq "$runs"); do
    one+=("$(timed "$work/one" -j 1)")
    all+=("$(timed "$work/all")")
done
diff -r "$work/one" "$work/all" >/dev/null || { echo "cli_parallel: -j1 and the default wrote different files" >&2; exit 1; }

one_median=$(median "${one[@]}")
all_median=$(median "${all[@]}")
printf '%d screens to PNG, median of %d runs each\n' "${#screens[@]}" "$runs"
printf '  -j 1:           %.3f s\n' "$one_median"
printf '  default (%d cores): %.3f s\n' "$(nproc)" "$all_median"
awk -v one="$one_median" -v all="$all_median" 'BEGIN { printf "  speed-up: %.2fx\n", one / all }'
