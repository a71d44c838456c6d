#!/usr/bin/env bash
# Long runs under LeakSanitizer (the sanitizer build): a headless playback of a
# long recording at 8x, and a live view of the real RTSP test server for some
# minutes. Each prints its resident memory over time and a summary; a leak
# makes LeakSanitizer report it and the run fail.
#   scripts/long_runs.sh [recording minutes (10)] [live-view seconds (240)]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-asan
minutes=${1:-10}
live_seconds=${2:-240}

"$root/scripts/configure-sanitize.sh" "$build" || exit 1
cmake --build "$build" -j "$(nproc)" --target make_recording soak_playback soak_live_view >/dev/null || exit 1

export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy SDL_RENDER_DRIVER=software
# A small quarantine: freed memory is reused at once, so the resident figures
# show real growth rather than the sanitizer holding freed blocks back.
export ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
work=$(mktemp -d)
server_pid=
cleanup() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failed=0

recording=$work/long.264
echo "== making a ${minutes}-minute recording (320x240, 25 fps, sound)"
ASAN_OPTIONS=detect_leaks=0 "$build/tools/make_recording" --out "$recording" --width 320 --height 240 \
  --fps 25 --duration $((minutes * 60)) --gop 50 --audio >/dev/null || exit 1
echo "   $(stat -c %s "$recording") bytes"
echo "== playback at 8x"
# The decoder complains about parameter sets sent alone ("no frame!"); not news.
(cd "$work" && "$build/tools/soak_playback" "$recording" 1000 2> >(grep -v "no frame!" >&2)) || failed=1

echo "== live view for ${live_seconds}s against the GStreamer RTSP test server"
# python3-gi belongs to the system interpreter, which a python3 first on PATH may not be.
python=/usr/bin/python3
[[ -x $python ]] || python=python3
"$python" "$root/tests/support/rtsp_test_server.py" --port 0 >"$work/server.log" 2>&1 &
server_pid=$!
port=
for _ in $(seq 100); do
  port=$(grep -o '^PORT [0-9]*' "$work/server.log" | grep -o '[0-9]*$')
  [[ -n $port ]] && break
  sleep 0.1
done
if [[ -z $port ]]; then
  echo "the RTSP test server did not start:" >&2
  cat "$work/server.log" >&2
  exit 1
fi
(cd "$work" && "$build/tools/soak_live_view" "rtsp://127.0.0.1:$port/test" "$live_seconds" 10) || failed=1
echo "server saw: $(grep -c REQUEST "$work/server.log") requests ($(grep REQUEST "$work/server.log" | awk '{print $2}' | tr '\n' ' '))"
exit $failed
