#!/usr/bin/env bash
# The long fuzzing run: each target of build-fuzz (or those named) for 10 million executions or 30
# minutes, whichever comes first, from its checked-in corpus into a scratch one under
# build-fuzz/long/<target>. Prints one line per target: executions, seconds, coverage (edges, features)
# and the corpus size; a failure leaves its input in build-fuzz/long/<target>/ and fails the run.
# Usage: scripts/fuzz-long.sh [TARGET...]   (FUZZ_RUNS and FUZZ_SECONDS change the limits)
set -uo pipefail
cd "$(dirname "$0")/.."
runs=${FUZZ_RUNS:-10000000}
seconds=${FUZZ_SECONDS:-1800}
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for exe in build-fuzz/tests/fuzz/fuzz_*; do targets+=("${exe##*/fuzz_}"); done
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
failed=0
for t in "${targets[@]}"; do
  work=build-fuzz/long/$t
  mkdir -p "$work/corpus"
  start=$(date +%s)
  build-fuzz/tests/fuzz/fuzz_"$t" -runs="$runs" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -malloc_limit_mb=1024 -artifact_prefix="$work/" -print_final_stats=1 "$work/corpus" tests/fuzz/corpus/"$t" \
    >"$work/log" 2>&1
  status=$?
  elapsed=$(( $(date +%s) - start ))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -1)
  cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$work/log" | tail -1)
  corpus=$(grep -o 'corp: [0-9]*/[0-9]*[a-zA-Z]*' "$work/log" | tail -1)
  echo "$t executions=${execs:-?} seconds=$elapsed ${cov:-cov: ?} ${corpus:-corp: ?} status=$status"
  [ "$status" -eq 0 ] || failed=1
done
exit "$failed"
