#!/usr/bin/env bash
# Runs one fuzz target as a test: every input of its checked-in corpus, then TORVANE_FUZZ_SECONDS
# (default 20) of fuzzing on one core. New inputs go to a scratch corpus in the build tree, never into
# the checked-in one. A failed property or a sanitizer report fails the test; the input that showed it
# is saved in the work directory (crash-*, leak-*, timeout-*, oom-*) with a minimised copy beside it.
# Usage: run_fuzz.sh TARGET CORPUS_DIR WORK_DIR
set -euo pipefail
target=$1
corpus=$2
work=$3
seconds=${TORVANE_FUZZ_SECONDS:-20}
# Each run starts afresh, so its time does not grow with the inputs earlier runs found.
rm -rf "$work"
mkdir -p "$work/new"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
common=(-timeout=10 -rss_limit_mb=2048 -malloc_limit_mb=1024 -artifact_prefix="$work/" -print_final_stats=1)

if [ "$seconds" -gt 0 ]; then
  runs=(-max_total_time="$seconds")
else
  runs=(-runs=0)
fi
status=0
"$target" "${common[@]}" "${runs[@]}" "$work/new" "$corpus" || status=$?
if [ "$status" -ne 0 ]; then
  for artifact in "$work"/crash-* "$work"/leak-* "$work"/timeout-* "$work"/oom-*; do
    [ -f "$artifact" ] || continue
    case "$artifact" in *.min) continue ;; esac
    echo "== minimising $artifact"
    "$target" -minimize_crash=1 -runs=20000 -exact_artifact_path="$artifact.min" "$artifact" >/dev/null 2>&1 || true
    [ -f "$artifact.min" ] && echo "== minimised input: $artifact.min (keep it in $corpus once the fault is fixed)"
  done
fi
exit "$status"
