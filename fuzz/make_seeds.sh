#!/usr/bin/env bash
# Makes the binary seed corpora of the fuzz targets in BUILD_DIR/fuzz/seeds/:
# small recordings from the project's recording maker (plain, with sound, with
# odd layouts) and, from one of them, the byte streams a camera sends (an RTSP
# exchange followed by interleaved RTP in every packetisation).
#   fuzz/make_seeds.sh BUILD_DIR
# Fails loudly when the maker or the stream writer is missing or fails.
set -euo pipefail
build=$1
maker=${MAKE_RECORDING:-$build/tools/make_recording}
streams=$build/fuzz/make_stream_seeds
for program in "$maker" "$streams"; do
  if [[ ! -x $program ]]; then
    echo "make_seeds: missing $program (build the make_recording and make_stream_seeds targets)" >&2
    exit 1
  fi
done
seeds=$build/fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds/recordings"

make() {  # NAME MAKER-OPTIONS...
  local name=$1
  shift
  if ! "$maker" --out "$seeds/recordings/$name.264" "$@" >"$seeds/recordings/$name.log" 2>&1; then
    echo "make_seeds: make_recording $* failed:" >&2
    cat "$seeds/recordings/$name.log" >&2
    exit 1
  fi
  rm -f "$seeds/recordings/$name.log"
}
# Small pictures and few frames keep the seeds a few kilobytes each.
make plain --width 64 --height 48 --fps 10 --frames 12 --gop 5
make sound --width 64 --height 48 --fps 8 --frames 10 --audio --block-samples 80 --audio-offset-ms 200
make odd --width 48 --height 32 --fps 12.5 --frames 9 --mid-gop 2 --no-hxvf --bad-hxaf 3 --slices 2
make resize --width 64 --height 48 --fps 5 --frames 12 --size-change-at 1 --width2 32 --height2 32
make activity --width 64 --height 48 --fps 10 --frames 40 --gop 10 --noise 3 --qp 28 --moving-object 1-2.5

for target in recording_load alaw_blocks remux; do
  mkdir -p "$seeds/$target"
  cp "$seeds/recordings/"*.264 "$seeds/$target/"
done
# The frame-rate target reads the frame count (8 bytes, little-endian) before the payload.
mkdir -p "$seeds/frame_rate"
for entry in plain:12 sound:10 odd:9 resize:12; do
  name=${entry%%:*} count=${entry##*:}
  { printf "\\x$(printf %02x "$count")\\0\\0\\0\\0\\0\\0\\0"; tail -c +33 "$seeds/recordings/$name.264"; } \
    >"$seeds/frame_rate/$name"
done
mkdir -p "$seeds/interleaved_stream" "$seeds/rtsp_exchange"
for name in plain odd; do
  "$streams" "$seeds/recordings/$name.264" "$seeds/interleaved_stream/$name" \
    "$seeds/rtsp_exchange/$name"
done
echo "seeds in $seeds: $(find "$seeds" -type f | wc -l) files"
