#!/usr/bin/env bash
# Installs what is missing, builds Torvane and runs it on its bundled marketplace simulator: the window
# when a display is present, the terminal demo otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec build/torvane --demo "$@"
fi
exec build/torvane demo "$@"
