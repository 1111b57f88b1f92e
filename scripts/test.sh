#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test in four stages:
#   release  the Release build with warnings as errors, every test (the package check and the chat
#            client under wine included)
#   asan     AddressSanitizer + UndefinedBehaviorSanitizer, every test program (no cross-built
#            Windows tools, no benchmark: nothing there that the release stage did not run)
#   fuzz     the fuzz targets (clang, libFuzzer), each on its corpus and for TORVANE_FUZZ_SECONDS
#            (default 10) of fuzzing
#   tsan     the tests of the parts that run on several threads, under ThreadSanitizer (scripts/tsan.sh)
# and prints how long each stage took. A failing stage ends the run at once, with its report.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
# A crashing Qt Test program ends at once with the sanitizer's report instead of waiting on a debugger.
export QTEST_DISABLE_STACK_DUMP=1

started=$SECONDS
times=()
report_times() {
  echo "== stage times"
  printf '  %s\n' "${times[@]}"
  echo "  total $((SECONDS - started)) s"
}
run_stage() {
  local name=$1 t0=$SECONDS rc=0
  shift
  echo "== $name"
  set +e
  (set -e; "$@")
  rc=$?
  set -e
  if [ "$rc" -ne 0 ]; then
    times+=("$name $((SECONDS - t0)) s FAILED (exit $rc)")
    report_times
    exit "$rc"
  fi
  times+=("$name $((SECONDS - t0)) s")
}

install() { scripts/install-deps.sh; }

release() {
  cmake -S . -B build -G Ninja -DTORVANE_WERROR=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build -j"$jobs"
  ctest --test-dir build --output-on-failure -j"$jobs"
}

asan() {
  # Line tables only (-g1): the reports name file and line, and the build is quicker than with full
  # debug information.
  cmake -S . -B build-asan -G Ninja -DTORVANE_WERROR=ON -DTORVANE_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DTORVANE_WINDOWS_TOOLS=OFF >/dev/null
  cmake --build build-asan -j"$jobs" --target base_tests web_tests store_tests notify_tests delivery_tests \
    platform_tests app_tests slow_tests gui_tests gui_store_panes_tests
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"
}

# One clang build (build-fuzz) holds only the fuzz targets; each is a test labelled "fuzz".
fuzz() {
  export TORVANE_FUZZ_SECONDS=${TORVANE_FUZZ_SECONDS:-10}
  cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DTORVANE_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-fuzz -j"$jobs"
  ctest --test-dir build-fuzz --output-on-failure -j"$jobs" -L fuzz
}

tsan() { scripts/tsan.sh; }

run_stage install install
run_stage release release
run_stage asan asan
run_stage fuzz fuzz
run_stage tsan tsan
report_times
