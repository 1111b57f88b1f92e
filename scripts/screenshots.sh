#!/usr/bin/env bash
# Renders the README's screenshots into docs/screenshots/: an Xvfb display with trayer as the tray host
# and the Noto CJK fonts, the window on the demo shop.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target torvane-screenshots
display=":$((RANDOM % 400 + 100))"
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$tray_pid" "$xvfb_pid" 2>/dev/null || true' EXIT
sleep 1
DISPLAY="$display" trayer --edge top --align right --widthtype request --height 24 --transparent false \
  --tint 0x2a9bb8 >/dev/null 2>&1 &
tray_pid=$!
sleep 1
mkdir -p docs/screenshots
DISPLAY="$display" QT_QPA_PLATFORM=xcb QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" \
  build/torvane-screenshots docs/screenshots
