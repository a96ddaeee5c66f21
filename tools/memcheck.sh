#!/usr/bin/env bash
# Runs the desktop program under valgrind's memcheck on a private X server, driven with xdotool as a user
# would: start-up and the About box, an import through the open dialog, a rounding toggle, a save through the
# save dialog, a full-screen preview, and Close. Fails when memcheck reports anything that tests/valgrind.supp
# does not explain (an invalid read or write, a use of uninitialised memory, a bad free, memory definitely
# lost), or when a step did not happen: the saved file must be byte for byte what quillmark-render writes for
# the same screen without rounding.
# usage: tools/memcheck.sh [BUILD_FOLDER]   (default build; a build without sanitizers, RelWithDebInfo)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
program=$build/quillmark
render=$build/quillmark-render
log=$build/memcheck.log

fail() {
  echo "memcheck: $*" >&2
  # What the screen showed, for a person to look at, where ImageMagick is at hand.
  if [ -n "${DISPLAY:-}" ] && command -v import >/dev/null; then
    import -window root "$build/memcheck-failure.png" 2>/dev/null && echo "memcheck: screen in $build/memcheck-failure.png" >&2
  fi
  exit 1
}
[ -x "$program" ] && [ -x "$render" ] || fail "$program or $render is missing: build first (tools/build.sh $build)"
if ldd "$program" | grep -q 'libasan\|libubsan'; then
  fail "$program is built with sanitizers, which memcheck cannot run with: give a plain build"
fi
for tool in valgrind Xvfb xdotool; do
  command -v "$tool" >/dev/null || fail "$tool is missing (tools/setup.sh installs it)"
done

work=$(mktemp -d /tmp/quillmark-memcheck-XXXXXX)
xvfb=
valgrind_pid=
finish() {
  [ -n "$valgrind_pid" ] && kill -KILL "$valgrind_pid" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

# A private X server, so that no other test's windows get in the way.
source tools/xvfb.sh
started=0
start_xvfb 150 199 1280x1024x24 || started=$?
xvfb=$XVFB_PID
[ "$started" -eq 0 ] || fail "Xvfb did not start on $DISPLAY"

cp assets/samples/testcard.bin "$work/page.bin"
"$render" --no-rounding -o "$work/expected.png" "$work/page.bin"

step() { echo "memcheck: $*"; }
# The id of the visible window with exactly this name, waiting for it (valgrind makes everything slow).
window() {
  local id
  id=$(timeout 120 xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1) || true
  [ -n "$id" ] || fail "the window \"$1\" did not show up (log: $log)"
  echo "$id"
}
gone() {
  for _ in $(seq 150); do
    xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
    sleep 0.2
  done
  fail "the window \"$1\" did not go away"
}
program_windows() {
  xdotool search --onlyvisible --classname '^quillmark$' 2>/dev/null | wc -l
}
wait_for_windows() {
  for _ in $(seq 600); do
    [ "$(program_windows)" -eq "$1" ] && return 0
    sleep 0.2
  done
  fail "expected $1 visible windows of the program, found $(program_windows)"
}
# Opens the File menu with a click on its title at the left of the menu bar, then presses the keys.
# A click that arrives while the program is still busy ending a dialog is lost, so it is tried again.
file_menu() {
  local attempt
  for attempt in 1 2 3 4 5; do
    [ "$(program_windows)" -ge 2 ] && break
    xdotool mousemove "$((x + 14))" "$((y + 8))" click 1
    for _ in $(seq 50); do
      [ "$(program_windows)" -ge 2 ] && break
      sleep 0.2
    done
  done
  wait_for_windows 2
  [ $# -eq 0 ] || xdotool key --delay 150 "$@"
}
# The left edge of the open menu: the program's visible window other than the main window.
menu_x() {
  local id
  for id in $(xdotool search --onlyvisible --classname '^quillmark$' 2>/dev/null); do
    [ "$id" = "$main" ] && continue
    eval "$(xdotool getwindowgeometry --shell "$id")"
    echo "$X"
    return
  done
}
# Types a name into the file dialog and confirms it. The name field's completion list, which memcheck makes
# slow to follow the typing, would take the Return key: it is closed first.
answer_dialog() {
  local dialog
  dialog=$(window "$1")
  xdotool windowfocus --sync "$dialog" type --delay 5 "$2"
  sleep 2
  if [ "$(program_windows)" -gt 2 ]; then
    xdotool key Escape
    for _ in $(seq 150); do
      [ "$(program_windows)" -le 2 ] && break
      sleep 0.2
    done
  fi
  # A Return that comes while the list is still closing is lost, so it is given again until the dialog goes.
  local attempt
  for attempt in 1 2 3 4 5; do
    xdotool windowfocus --sync "$dialog" key Return 2>/dev/null || true
    for _ in $(seq 50); do
      xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1 || return 0
      sleep 0.2
    done
  done
  fail "the window \"$1\" did not go away"
}
geometry() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  x=$X y=$Y width=$WIDTH height=$HEIGHT
}

start=$SECONDS
step "starting $program under memcheck on $DISPLAY"
# The toolkit's own dialogs whatever the desktop; no session bus, so the toolkit starts no bus daemon.
# Regular expressions are not compiled to machine code, which memcheck cannot follow (the file dialogs use them).
QT_QPA_PLATFORMTHEME= QT_QPA_PLATFORM=xcb DBUS_SESSION_BUS_ADDRESS=disabled: QT_ENABLE_REGEXP_JIT=0 \
  valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
  --error-exitcode=99 --child-silent-after-fork=yes --num-callers=40 --gen-suppressions=all \
  --suppressions=tests/valgrind.supp --log-file="$log" "$program" &
valgrind_pid=$!

about=$(window About)
main=$(window "Quillmark - Pelorand")
step "start-up done; dismissing the About box"
xdotool windowfocus --sync "$about" key Return
gone About
geometry "$main"

step "importing $work/page.bin through the open dialog"
file_menu Down Return
answer_dialog "Open Mode 7 screen file" "$work/page.bin"

step "turning rounding off (Options, Enable rounding)"
# Right moves from the File menu to the Options menu with its item chosen. Return must wait until that menu
# is open, or it reaches the menu that is closing; the pointer keeps off the menu bar meanwhile, where it
# would choose a menu of its own. Under memcheck a key can still come too early, so this is tried again.
toggled=
for attempt in 1 2 3 4 5; do
  file_menu
  xdotool mousemove "$((x + width / 2))" "$((y + height - 100))"
  file_x=$(menu_x)
  xdotool key Right
  for _ in $(seq 50); do
    options_x=$(menu_x)
    [ -n "$options_x" ] && [ "$options_x" != "$file_x" ] && break
    sleep 0.2
  done
  if [ -n "$options_x" ] && [ "$options_x" != "$file_x" ]; then
    xdotool key Return
    toggled=yes
    break
  fi
  while [ "$(program_windows)" -ge 2 ]; do xdotool key Escape; sleep 1; done
done
[ -n "$toggled" ] || fail "the Options menu did not open"
wait_for_windows 1

step "saving through the save dialog"
file_menu Down Down Return
answer_dialog "Save image" "$work/shot"
for _ in $(seq 300); do [ -s "$work/shot.png" ] && break; sleep 0.2; done
cmp -s "$work/shot.png" "$work/expected.png" ||
  fail "the saved picture is not the small picture of the imported screen: a step did not happen"

step "full-screen preview: a double-click on the picture, then a click on it"
xdotool mousemove "$((x + width / 2))" "$((y + height - 250))" click --repeat 2 --delay 80 1
wait_for_windows 2
sleep 1
xdotool mousemove 640 512 click 1
wait_for_windows 1

step "closing"
file_menu Up Return
status=0
for _ in $(seq 600); do kill -0 "$valgrind_pid" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$valgrind_pid" 2>/dev/null; then fail "the program did not end after Close"; fi
wait "$valgrind_pid" || status=$?
valgrind_pid=

if [ "$status" -eq 99 ]; then
  echo "memcheck: errors that tests/valgrind.supp does not explain (log: $log):" >&2
  # Each report comes with the suppression that would silence it, should it prove to be the toolkit's.
  grep -v '^==[0-9]*== \(Memcheck\|Copyright\|Using\|Command\|Parent\)' "$log" >&2
  exit 1
fi
[ "$status" -eq 0 ] || fail "the program ended with status $status (log: $log)"
grep -h "ERROR SUMMARY" "$log" | sed 's/^==[0-9]*== /memcheck: /'
echo "memcheck: passed in $((SECONDS - start)) s"
