#!/usr/bin/env bash
# Builds the Debian package from a build folder (default build/), unpacks it into a scratch folder and runs
# both programs from there: the renderer's version and a sample rendered to PNG, and the desktop program's
# main window under the X server in $DISPLAY (a private Xvfb when none is set). Also checks the installed
# files and the desktop entry, and prints the file list. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
dir=${1:-build}
[ -f "$dir/CPackConfig.cmake" ] || { echo "package-check: $dir is not a configured build folder" >&2; exit 1; }
dir=$(cd "$dir" && pwd)

failures=0
fail() {
  echo "package-check: FAIL: $*" >&2
  failures=$((failures + 1))
}

scratch=$(mktemp -d /tmp/quillmark-package.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$scratch"
}
trap cleanup EXIT

# Width and height of a PNG file from its header, or nothing when it is not a PNG file.
png_size() {
  local signature
  signature=$(od -An -tx1 -N8 "$1" | tr -d ' \n')
  [ "$signature" = 89504e470d0a1a0a ] || return 1
  od -An -tu4 --endian=big -j16 -N8 "$1" | awk '{ print $1 "x" $2 }'
}

echo "== building and packaging $dir"
cmake --build "$dir" -j "$(nproc)" >/dev/null
rm -f "$dir"/quillmark_*.deb
(cd "$dir" && cpack -G DEB >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log" >&2; exit 1; }
packages=("$dir"/quillmark_*_*.deb)
[ -f "${packages[0]}" ] || { echo "package-check: cpack made no quillmark_VERSION_ARCH.deb" >&2; exit 1; }
package=${packages[0]}
echo "package: $package"
dpkg-deb --field "$package" Package Version Architecture Section Depends

depends=$(dpkg-deb --field "$package" Depends)
for library in libc6 libpng16-16 libjpeg62-turbo; do
  grep -q "\b$library\b" <<<"$depends" || fail "Depends does not name $library: $depends"
done

root=$scratch/root
dpkg-deb -x "$package" "$root"
echo "== installed files"
(cd "$root" && find . ! -type d | sed 's|^\./|/|' | sort)

with_shell=$(grep -E '^QUILLMARK_BUILD_SHELL:BOOL=' "$dir/CMakeCache.txt" | cut -d= -f2)
required=(usr/bin/quillmark-render usr/share/man/man1/quillmark-render.1*)
if [ "$with_shell" = ON ]; then
  required+=(usr/bin/quillmark usr/share/applications/quillmark.desktop usr/share/man/man1/quillmark.1*)
  for size in 16 32 48 64 128 256; do
    icon=$root/usr/share/icons/hicolor/${size}x${size}/apps/quillmark.png
    if [ ! -f "$icon" ]; then
      fail "no ${size}x${size} icon"
    elif [ "$(png_size "$icon")" != "${size}x${size}" ]; then
      fail "$icon is not a ${size} x ${size} PNG file"
    fi
  done
  grep -q "libqt6widgets6" <<<"$depends" || fail "Depends does not name libqt6widgets6: $depends"
fi
for pattern in "${required[@]}"; do
  matches=("$root"/$pattern)
  [ -e "${matches[0]}" ] || fail "not installed: /$pattern"
done

echo "== quillmark-render"
render=$root/usr/bin/quillmark-render
version=$("$render" --version) || fail "quillmark-render --version failed"
echo "$version"
[[ $version == "quillmark-render "[0-9]* ]] || fail "unexpected version line: $version"
picture=$scratch/testcard.png
if "$render" "$source_dir/assets/samples/testcard.bin" -o "$picture"; then
  size=$(png_size "$picture") || size="not a PNG file"
  echo "testcard.bin -> $size"
  [ "$size" = 480x500 ] || fail "the rendered test card is $size, not a 480 x 500 PNG file"
else
  fail "quillmark-render could not render the test card"
fi
if [ -f "$root/usr/share/man/man1/quillmark-render.1.gz" ]; then
  gzip -t "$root/usr/share/man/man1/quillmark-render.1.gz" || fail "the manual is not a gzip file"
fi

if [ "$with_shell" = ON ]; then
  echo "== quillmark"
  desktop=$root/usr/share/applications/quillmark.desktop
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || fail "desktop-file-validate refused $desktop"
  else
    echo "desktop-file-validate not installed: desktop entry not validated"
  fi
  grep -qx 'Exec=quillmark' "$desktop" || fail "the desktop entry does not start quillmark"

  # The desktop program reads no command line, so the check is that it starts and shows its window.
  if [ -z "${DISPLAY:-}" ]; then
    source "$source_dir/tools/xvfb.sh"
    started=0
    start_xvfb 90 120 1280x1024x24 || started=$?
    pids+=("$XVFB_PID")
    [ "$started" -eq 0 ] || fail "Xvfb did not start on $DISPLAY"
  fi
  QT_QPA_PLATFORM=xcb "$root/usr/bin/quillmark" >"$scratch/quillmark.log" 2>&1 &
  shell=$!
  pids+=("$shell")
  shown=0
  if window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Quillmark - Pelorand$' 2>/dev/null); then
    echo "main window shown: $(head -n1 <<<"$window")"
    shown=1
  else
    fail "the unpacked quillmark showed no window titled \"Quillmark - Pelorand\" on display $DISPLAY"
  fi
  if kill "$shell" 2>/dev/null; then
    wait "$shell" 2>/dev/null || true
  else
    fail "the unpacked quillmark ended by itself"
    shown=0
  fi
  ((shown)) || cat "$scratch/quillmark.log" >&2
fi

if ((failures)); then
  echo "package-check: $failures check(s) failed" >&2
  exit 1
fi
echo "package-check: all checks passed"
