#!/usr/bin/env bash
# Builds the Debian package from the release build in build/ and checks it (packaging/check-package.sh):
# build/torvane_VERSION_ARCH.deb, to install with `sudo apt-get install ./build/torvane_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"
(cd build && cpack -G DEB)
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/CMakeCache.txt)
bash packaging/check-package.sh build/torvane_"$version"_"$(dpkg --print-architecture)".deb "$version"
