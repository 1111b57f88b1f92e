#!/usr/bin/env bash
# Installs what is missing, builds Torvane twice (release and ASan+UBSan) and runs every test; then
# builds the fuzz targets with clang and runs each on its corpus and for TORVANE_FUZZ_SECONDS (default
# 20) of fuzzing, and runs the concurrent parts' tests under ThreadSanitizer (scripts/tsan.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DTORVANE_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-asan -G Ninja -DTORVANE_WERROR=ON -DTORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

# One clang build (build-fuzz) holds only the fuzz targets; each is a test labelled "fuzz".
export TORVANE_FUZZ_SECONDS=${TORVANE_FUZZ_SECONDS:-20}
cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DTORVANE_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j"$jobs"
ctest --test-dir build-fuzz --output-on-failure -j"$jobs" -L fuzz

scripts/tsan.sh
