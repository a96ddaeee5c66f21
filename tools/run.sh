#!/usr/bin/env bash
# Quick start: installs what is missing, builds, and starts the desktop program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/build.sh build
if [ -x build/quillmark ]; then
  exec build/quillmark
fi
echo "Built. Render a sample screen with:"
echo "  build/quillmark-render assets/samples/testcard.bin -o testcard.png"
