#!/usr/bin/env bash
# Runs a test program as nobody when the suite runs as root, since root may read and write any file; exits
# with 77 (skipped) when that cannot be done, or when the suite already runs unprivileged and so ran these
# cases itself. usage: run_unprivileged.sh PROGRAM [ARGUMENT...]
set -euo pipefail
if [ "$(id -u)" != 0 ]; then
  echo "already unprivileged: the cases ran with the rest of the program's tests"
  exit 77
fi
if ! command -v setpriv >/dev/null; then
  echo "setpriv (util-linux) is missing: cannot act as nobody"
  exit 77
fi
as_nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups --reset-env)
if ! "${as_nobody[@]}" test -x "$1"; then
  echo "nobody cannot run $1 (a folder on its path is closed to other users)"
  exit 77
fi
# --reset-env leaves a bare environment; keep what the toolkit and the sanitizers are told.
exec "${as_nobody[@]}" env HOME=/tmp QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" \
  ASAN_OPTIONS="${ASAN_OPTIONS:-}" LSAN_OPTIONS="${LSAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" "$@"
