#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: once
# in a normal build and once under AddressSanitizer and UndefinedBehaviorSanitizer
# (clang, with the fuzz targets' smoke runs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
jobs=$(nproc)

"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j "$jobs" --timeout 600)

# The Windows build: cross-built (its libraries cached between runs), then run
# under Wine against recordings and the RTSP server of the Linux build.
"$root/scripts/build-windows.sh" "$root/build-windows"
"$root/scripts/test-windows.sh" "$root/build-windows" "$root/build"

# The sanitizer build uses clang so that the same build also makes the fuzz
# targets, whose short smoke runs are part of its tests.
"$root/scripts/configure-sanitize.sh" "$root/build-asan"
cmake --build "$root/build-asan" -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$root/build-asan" && ctest --output-on-failure -j "$jobs" --timeout 900)
