#!/usr/bin/env bash
# The manual of quillmark-render and its --help must list the same options with the same value names, and the
# manual's synopsis must name every positional argument. Usage: manual_matches_help.sh PROGRAM MANUAL
set -euo pipefail
program=$1
manual=$2

help=$("$program" --help)

# Each entry of a help section, as "-o,--output PATH": the option column ends at the first run of two spaces.
help_entries() {
  awk -v section="$1" '$0 == section { on = 1; next } on && /^$/ { exit } on { print }' <<<"$help" |
    sed -E 's/^ +//; s/  .*$//'
}

# The line after each .TP of the manual's OPTIONS section, its font changes and escapes taken out.
manual_options() {
  awk '/^\.SH / { on = ($2 == "OPTIONS"); next } on && prev == ".TP" { print } { prev = $0 }' "$manual" |
    sed -E 's/\\f[BIRP]//g; s/\\-/-/g; s/, /,/g; s/ +$//'
}

manual_synopsis() {
  awk '/^\.SH / { on = ($2 == "SYNOPSIS"); next } on { print }' "$manual"
}

status=0
in_help=$(help_entries "Options:" | sort)
in_manual=$(manual_options | sort)
if [ -z "$in_help" ]; then
  echo "no options found in $program --help" >&2
  status=1
fi
if ! differences=$(diff <(echo "$in_help") <(echo "$in_manual")); then
  echo "$program --help (<) and $manual (>) disagree on the options:" >&2
  echo "$differences" >&2
  status=1
fi

while read -r positional; do
  if ! manual_synopsis | grep -qw -- "$positional"; then
    echo "$manual: the synopsis does not name $positional" >&2
    status=1
  fi
done < <(help_entries "Positionals:" | awk '{ print $1 }')

exit $status
