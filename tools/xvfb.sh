# shellcheck shell=bash disable=SC2034
# Sourced by the scripts that need an X server of their own.
#
# start_xvfb FIRST LAST SIZE starts Xvfb on the first free display number from FIRST to LAST with one screen
# of SIZE (width x height x depth), exports DISPLAY and sets XVFB_PID; the caller stops it. Each script asks
# in its own range, so that scripts running side by side do not race for one number. Fails when the server
# is not up within ten seconds.
start_xvfb() {
  local first=$1 last=$2 size=$3 number
  for number in $(seq "$first" "$last"); do
    [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ] || break
  done
  Xvfb ":$number" -screen 0 "$size" -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$number"
  local _
  for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X$number" ] && return 0
    sleep 0.1
  done
  return 1
}
