#!/usr/bin/env bash
# Configures the sanitizer build with clang: AddressSanitizer, UndefinedBehavior-
# Sanitizer and the libFuzzer targets, all from one build folder.
#   scripts/configure-sanitize.sh [folder (build-asan)] [extra cmake args...]
# A folder configured earlier with another compiler is configured anew.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$root/build-asan}
shift || true
if [[ -f $dir/CMakeCache.txt ]] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang' "$dir/CMakeCache.txt"; then
  rm -rf "$dir/CMakeCache.txt" "$dir/CMakeFiles"
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DH264_SANITIZE=ON -DH264_FUZZ=ON "$@" >/dev/null
