#!/usr/bin/env bash
# Installs what is missing, builds, and plays a bundled sample recording.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# zenity shows the file choosers of the menu and the player, in a font that
# has the Japanese texts of the recording chooser.
"$root/scripts/install-deps.sh" zenity fonts-sawarabi-gothic
"$root/scripts/build.sh" "$root/build"
sample_dir="$root/build/sample"
mkdir -p "$sample_dir"
if [[ ! -f "$sample_dir/sample.264" ]]; then
  "$root/build/tools/make_recording" --out "$sample_dir/sample.264" --width 640 --height 360 \
    --fps 25 --duration 8 --gop 50 --audio
fi
cp -f "$root/logo.svg" "$sample_dir/" 2>/dev/null || true
cd "$sample_dir"
exec "$root/build/src/h264player" sample.264 "$@"
