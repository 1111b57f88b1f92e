#!/usr/bin/env bash
# Installs the Debian 12 packages Torvane needs to build, run and test. Idempotent; quiet when all are present.
set -euo pipefail
packages=(
  cmake g++ make ninja-build pkg-config
  libcurl4-openssl-dev libpsl-dev libsqlite3-dev libopencc-dev libcpp-httplib-dev libssl-dev
  libgtest-dev libgmock-dev
  python3-aiosmtpd openssl
  qt6-base-dev qt6-webengine-dev qt6-svg-dev qt6-charts-dev
  xvfb trayer fonts-noto-cjk
  g++-mingw-w64-x86-64-posix wine wine64
  clang-14 libclang-rt-14-dev
  nlohmann-json3-dev libcli11-dev
  dpkg-dev file man-db lintian desktop-file-utils systemd
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
