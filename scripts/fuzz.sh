#!/usr/bin/env bash
# Fuzzes each target for a given time and prints its figures: executions,
# coverage (cov = code edges, ft = features), corpus size and crashes.
#   scripts/fuzz.sh [seconds per target (60)] [target names... (all)]
# Uses the sanitizer build (build-asan, clang, -DH264_SANITIZE=ON -DH264_FUZZ=ON),
# configuring and building it when needed. Corpora grow in build-asan/fuzz/corpus/,
# crashing inputs land in build-asan/fuzz/artifacts/; exit status 1 when any crashed.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-asan
seconds=${1:-60}
shift || true

"$root/scripts/configure-sanitize.sh" "$build" || exit 1
cmake --build "$build" -j "$(nproc)" --target fuzz_all make_recording >/dev/null || exit 1
bash "$root/fuzz/make_seeds.sh" "$build" || exit 1

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for program in "$build"/fuzz/fuzz_*; do targets+=("${program##*/fuzz_}"); done
fi
failed=0
for name in "${targets[@]}"; do
  bash "$root/fuzz/run_fuzzer.sh" "$build" "$name" "$seconds" || failed=1
done
exit $failed
