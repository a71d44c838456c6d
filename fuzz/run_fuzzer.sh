#!/usr/bin/env bash
# Runs one fuzz target for a while over its corpus and seeds, then prints one
# line: target, seconds, executions, coverage (cov/ft), corpus size, crashes.
#   fuzz/run_fuzzer.sh BUILD_DIR NAME SECONDS
# Exits non-zero when the target crashed, leaked, or could not be started;
# the crashing input is kept in BUILD_DIR/fuzz/artifacts/NAME/.
set -uo pipefail
build=$1 name=$2 seconds=$3
here=$(cd "$(dirname "$0")" && pwd)
program=$build/fuzz/fuzz_$name
if [[ ! -x $program ]]; then
  echo "fuzz $name: no program at $program (configure with -DH264_FUZZ=ON and build)" >&2
  exit 2
fi
corpus=$build/fuzz/corpus/$name
artifacts=$build/fuzz/artifacts/$name
log=$build/fuzz/logs/$name.log
mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
crashes_before=$(ls "$artifacts" | wc -l)
dirs=("$corpus")
for seeds in "$build/fuzz/seeds/$name" "$here/seeds/$name"; do
  [[ -d $seeds ]] && dirs+=("$seeds")
done
if [[ ${#dirs[@]} -eq 1 ]] && [[ -z $(ls -A "$corpus") ]]; then
  echo "fuzz $name: no seeds (run fuzz/make_seeds.sh $build first)" >&2
  exit 2
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
"$program" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "${dirs[@]}" >"$log" 2>&1
status=$?

executions=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*')
corpus_size=$(ls "$corpus" | wc -l)
crashes=$(( $(ls "$artifacts" | wc -l) - crashes_before ))
printf 'fuzz %-20s %6ss  execs %-10s cov %-6s ft %-7s corpus %-6s crashes %s\n' \
  "$name" "$seconds" "${executions:-?}" "${cov:-?}" "${ft:-?}" "$corpus_size" "$crashes"
if [[ $status -ne 0 ]]; then
  echo "fuzz $name failed (exit $status); the end of $log:" >&2
  tail -n 60 "$log" >&2
  exit 1
fi
