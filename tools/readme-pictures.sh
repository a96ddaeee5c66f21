#!/usr/bin/env bash
# Remakes the README's pictures in docs/images/ with the programs of a build folder (default build/):
# the test card at both glyph sizes by quillmark-render, and the desktop program showing a sample screen,
# driven under a private Xvfb as a user would drive it (xdotool) and grabbed with ImageMagick's import.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
images=docs/images
sample=assets/samples/landscape.bin

[ -f "$dir/build.ninja" ] || [ -f "$dir/Makefile" ] || {
  echo "readme-pictures: $dir is not a build folder: run bash tools/build.sh first" >&2
  exit 1
}
cmake --build "$dir" --target quillmark quillmark-render >/dev/null
mkdir -p "$images"

"$dir/quillmark-render" assets/samples/testcard.bin -o "$images/testcard-large.png"
"$dir/quillmark-render" --no-rounding assets/samples/testcard.bin -o "$images/testcard-small.png"

scratch=$(mktemp -d /tmp/quillmark-pictures.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

# A private display: nothing else's windows in the picture, and no window manager moving things about.
source tools/xvfb.sh
started=0
start_xvfb 140 180 1024x768x24 || started=$?
pids+=("$XVFB_PID")
[ "$started" -eq 0 ] || { echo "readme-pictures: Xvfb did not start on $DISPLAY" >&2; exit 1; }

# The toolkit's own look and dialogs, whatever desktop the script runs under.
QT_QPA_PLATFORMTHEME='' QT_QPA_PLATFORM=xcb "$dir/quillmark" >"$scratch/quillmark.log" 2>&1 &
pids+=($!)

window() { timeout 20 xdotool search --sync --onlyvisible --name "^$1\$" | head -n1; }
gone() {
  for _ in $(seq 100); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  echo "readme-pictures: the window \"$1\" stayed open" >&2
  return 1
}

main=$(window "Quillmark - Pelorand")
about=$(window "About")
xdotool windowfocus --sync "$about" key Return
gone "About"

# File, Import...: a click on the menu's title at the left of the menu bar, then the first item.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 14)) $((Y + 8)) click 1
for _ in $(seq 100); do
  (($(xdotool search --onlyvisible --classname '^quillmark$' | wc -l) >= 2)) && break
  sleep 0.1
done
xdotool key --delay 50 Down Return
dialog=$(window "Open Mode 7 screen file")
xdotool windowfocus --sync "$dialog" type --delay 5 "$PWD/$sample"
xdotool key Return
gone "Open Mode 7 screen file"
# Out of the picture: the pointer, and the menu bar's highlight under it.
xdotool mousemove 1000 700

# The picture view fills the bottom 480 x 500 of the window: wait until it shows more than one colour.
for _ in $(seq 100); do
  import -window "$main" "$scratch/desktop.png"
  colours=$(convert "$scratch/desktop.png" -gravity south -crop 480x500+0+0 -format %k info:)
  ((colours > 1)) && break
  sleep 0.1
done
((colours > 1)) || { echo "readme-pictures: the imported screen never showed" >&2; exit 1; }
convert "$scratch/desktop.png" -strip "$images/desktop.png"

for picture in "$images"/testcard-large.png "$images"/testcard-small.png "$images"/desktop.png; do
  echo "$picture: $(identify -format '%w x %h' "$picture")"
done
