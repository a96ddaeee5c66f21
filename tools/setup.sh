#!/usr/bin/env bash
# Installs, from Debian's packages, whatever building, testing and running need and is not there yet.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libpng-dev libjpeg62-turbo-dev zlib1g-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  qt6-base-dev fonts-dejavu-core
  xvfb xauth x11-utils xdotool imagemagick desktop-file-utils
  clang libclang-rt-14-dev valgrind
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
((${#missing[@]})) || exit 0

sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "setup: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo=(sudo)
fi
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
