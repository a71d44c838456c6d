#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite twice: once
# in a normal build and once under AddressSanitizer and UndefinedBehaviorSanitizer
# (clang, with the fuzz targets' smoke runs).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
jobs=$(nproc)

# The Windows code paths (file dialogs, Windows sockets) compile with mingw-w64,
# against Debian's SDL2 headers and a Windows stand-in for their configuration.
windows_objects=$(mktemp -d)
trap 'rm -rf "$windows_objects"' EXIT
for source in src/app/choosers.cpp src/app/chooser_program.cpp src/rtsp/net_socket.cpp; do
  x86_64-w64-mingw32-g++ -std=c++20 -Wall -Werror -c "$root/$source" -I"$root/src" \
    -I"$root/tests/windows" -I/usr/include/SDL2 -o "$windows_objects/$(basename "$source" .cpp).o"
done
echo "Windows objects compile"

"$root/scripts/build.sh" "$root/build"
(cd "$root/build" && ctest --output-on-failure -j "$jobs" --timeout 600)

# The sanitizer build uses clang so that the same build also makes the fuzz
# targets, whose short smoke runs are part of its tests.
"$root/scripts/configure-sanitize.sh" "$root/build-asan"
cmake --build "$root/build-asan" -j "$jobs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd "$root/build-asan" && ctest --output-on-failure -j "$jobs" --timeout 900)
