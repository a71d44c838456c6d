#!/usr/bin/env bash
# Runs the Windows build under Wine, headless:
#
#   scripts/test-windows.sh [Windows build folder] [Linux build folder]
#
# (defaults: build-windows and build, made by scripts/build-windows.sh and
# scripts/build.sh). The zip is unpacked into a folder whose path has spaces,
# the programs are started from another folder, recordings are made by the
# Linux maker, the RTSP server is GStreamer's on the Linux side, and the GUI
# runs on an Xvfb screen that is read back for pixel checks. Prints one line
# per check and exits 1 when any failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows_build=${1:-$root/build-windows}
linux_build=${2:-$root/build}
version=$(sed -n 's/^project(h264player VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
zip=$windows_build/h264player-$version-windows-x64.zip
[[ -f $zip ]] || { echo "test-windows: $zip is missing (run scripts/build-windows.sh)" >&2; exit 1; }
for program in wine Xvfb xdotool /usr/bin/python3 ffprobe; do
  command -v $program >/dev/null || { echo "test-windows: $program is missing (run scripts/install-deps.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
export WINEPREFIX=${H264_WINEPREFIX:-$windows_build/wine-prefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export SDL_AUDIODRIVER=dummy
started_pids=()
cleanup() {
  for pid in "${started_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
# check NAME COMMAND...: one result line; on failure the end of $log (when
# set, as in `log=FILE check ...`) follows it.
check() {
  local name=$1; shift
  if "$@"; then
    echo "PASS  $name"; passed=$((passed + 1))
  else
    echo "FAIL  $name"; failed=$((failed + 1))
    [[ -n ${log:-} && -f ${log:-} ]] && tail -20 "$log" | tr -d '\r'
  fi
  return 0
}
windows_path() { echo "Z:${1//\//\\}"; }
crlf_free() { tr -d '\r' <"$1"; }

# A Wine prefix takes a while to create the first time; later runs reuse it.
if [[ ! -f $WINEPREFIX/system.reg ]]; then wineboot -i >/dev/null 2>&1; wineserver -w; fi

# The screen the dialogs and the player draw on; -fbdir lets us read it back.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x800x24 -fbdir "$work" -nolisten tcp >/dev/null 2>&1 &
started_pids+=($!)
export DISPLAY=$display
for _ in $(seq 50); do [[ -f $work/Xvfb_screen0 ]] && break; sleep 0.1; done

install_folder="$work/Program Files/h264 player"
mkdir -p "$install_folder"
unzip -q "$zip" -d "$install_folder"
app=$install_folder/h264player-$version-windows-x64
elsewhere=$work/elsewhere
mkdir -p "$elsewhere"
cd "$elsewhere"

# Linux programs the Windows test programs need (the maker, ffprobe, the RTSP
# server) are started for them by the host runner.
H264_LINUX_TOOLS_DIR=$linux_build/tools /usr/bin/python3 "$root/tests/support/host_runner.py" \
  >"$work/runner.log" 2>&1 &
started_pids+=($!)
for _ in $(seq 100); do grep -q '^PORT ' "$work/runner.log" && break; sleep 0.1; done
export H264_HOST_RUNNER_PORT=$(sed -n 's/^PORT //p' "$work/runner.log")
[[ -n $H264_HOST_RUNNER_PORT ]] || { echo "test-windows: the host runner did not start:"; cat "$work/runner.log"; exit 1; }
# The test programs find the DLLs in the unpacked zip.
export WINEPATH=$(windows_path "$app")

gtest_count=0
# run_tests NAME LOCALE PROGRAM [GTEST ARGS...]: a test program under Wine.
run_tests() {
  local name=$1 locale=$2 program=$3; shift 3
  local log=$work/$name.log
  check "$name" bash -c 'LANG=$0 SDL_VIDEODRIVER=dummy SDL_RENDER_DRIVER=software timeout 900 wine "$@" >"'"$log"'" 2>&1' \
    "$locale" "$program" "$@"
  local ran
  ran=$(tr -d '\r' <"$log" | sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p')
  gtest_count=$((gtest_count + ${ran:-0}))
  tr -d '\r' <"$log" | grep -a '^\[  \(PASSED\|FAILED\)' | sed 's/^/      /'
}
# Files and sockets with an ANSI code page, the open dialog with a Japanese one.
run_tests "test_platform (files, sockets; code page 1252)" en_US.UTF-8 \
  "$windows_build/tests/test_platform.exe" --gtest_filter='-WindowsPlatform.OpenDialog*'
run_tests "test_platform (open dialog; code page 932)" ja_JP.UTF-8 \
  "$windows_build/tests/test_platform.exe" --gtest_filter='WindowsPlatform.OpenDialog*'
for area in recording draw player convert rtsp; do
  run_tests "test_$area" en_US.UTF-8 "$windows_build/tests/test_$area.exe"
done
# Said aloud, so that nothing is left out unnoticed: the test files that run
# on Linux only, and why, are listed in tests/CMakeLists.txt.
echo "Linux-only test files:" $(sed -n '/set(linux_only/,/)/p' "$root/tests/CMakeLists.txt" |
  sed 's/set(linux_only//; s/)//')

# Recordings made by the Linux maker, one in a folder whose name holds spaces
# and a character of the ANSI code page.
recordings="$work/camera recordings é"
mkdir -p "$recordings"
plain="$recordings/front door.264"
"$linux_build/tools/make_recording" --out "$plain" --width 320 --height 240 --fps 25 --frames 75 \
  --audio >/dev/null
small=$work/small.264
"$linux_build/tools/make_recording" --out "$small" --width 160 --height 120 --fps 10 --frames 20 >/dev/null

# The programs answer --help and --version, also into a redirected output.
for program in h264player convert_mp4 inspect_recording rtsp_probe; do
  check "$program --version reaches a redirected output" \
    bash -c "wine '$app/$program.exe' --version >'$work/version.out' 2>/dev/null &&
             [[ \$(tr -d '\r' <'$work/version.out') == '$program $version' ]]"
  check "$program --help" \
    bash -c "wine '$app/$program.exe' --help 2>/dev/null | grep -qi usage"
done

# The inspector prints what the Linux one prints.
same_inspection() {
  "$linux_build/tools/inspect_recording" "$1" >"$work/linux.txt" 2>&1 || true
  wine "$app/inspect_recording.exe" "$(windows_path "$1")" >"$work/windows.raw" 2>&1 || true
  crlf_free "$work/windows.raw" >"$work/windows.txt"
  grep -q '^Loaded:' "$work/linux.txt" && diff "$work/linux.txt" "$work/windows.txt"
}
log=$work/windows.txt check "inspect_recording.exe prints the Linux lines (path with spaces and é)" same_inspection "$plain"
check "inspect_recording.exe prints the Linux lines (small)" same_inspection "$small"

# The converter writes an MP4 that ffprobe reads with every frame.
video_frames() {
  ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$1"
}
converts_all_frames() {
  rm -f "${1%.264}.mp4"
  wine "$app/convert_mp4.exe" --quiet "$(windows_path "$1")" >"$work/convert.out" 2>&1 &&
    [[ $(video_frames "${1%.264}.mp4") == "$2" ]] &&
    # A second conversion replaces the first one's MP4.
    wine "$app/convert_mp4.exe" --quiet "$(windows_path "$1")" >>"$work/convert.out" 2>&1 &&
    [[ $(video_frames "${1%.264}.mp4") == "$2" ]]
}
log=$work/convert.out check "convert_mp4.exe writes an MP4 with all 75 frames" converts_all_frames "$plain" 75
check "convert_mp4.exe writes an MP4 with all 20 frames" converts_all_frames "$small" 20

# rtsp_probe.exe decodes pictures from GStreamer's server on the Linux side.
/usr/bin/python3 "$root/tests/support/rtsp_test_server.py" >"$work/server.log" 2>&1 &
started_pids+=($!)
for _ in $(seq 100); do grep -q '^PORT ' "$work/server.log" && break; sleep 0.1; done
port=$(sed -n 's/^PORT //p' "$work/server.log")
if [[ -z $port ]]; then
  echo "FAIL  the RTSP test server did not start:"; cat "$work/server.log"; failed=$((failed + 1))
else
  probe_decodes() {
    wine "$app/rtsp_probe.exe" "rtsp://127.0.0.1:$port/test" 3 >"$work/probe.raw" 2>&1
    crlf_free "$work/probe.raw" | grep -Eq '^Pictures decoded: [1-9]'
  }
  probe_decodes_over_udp() {
    wine "$app/rtsp_probe.exe" --udp "rtsp://127.0.0.1:$port/test" 3 >"$work/probe-udp.raw" 2>&1
    crlf_free "$work/probe-udp.raw" | grep -q '^Transport: RTP over UDP' &&
      crlf_free "$work/probe-udp.raw" | grep -Eq '^Pictures decoded: [1-9]'
  }
  log=$work/probe.raw check "rtsp_probe.exe decodes pictures from the GStreamer server" probe_decodes
  log=$work/probe-udp.raw check "rtsp_probe.exe --udp decodes pictures sent over UDP" probe_decodes_over_udp
fi

# The GUI program on the Xvfb screen.
window_id() { xdotool search --name "$1" 2>/dev/null | head -1; }
wait_for_window() {  # wait_for_window TITLE SECONDS
  for _ in $(seq $(($2 * 5))); do [[ -n $(window_id "$1") ]] && return 0; sleep 0.2; done
  return 1
}
# "x y r g b" lines of the screen at the given window-relative points.
window_pixels() {
  local id=$1; shift
  eval "$(xdotool getwindowgeometry --shell "$id")"
  python3 - "$work/Xvfb_screen0" "$X" "$Y" "$@" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
header_size, _, _, depth, width, height = struct.unpack(">6I", data[:24])
bytes_per_line, = struct.unpack(">I", data[48:52])
colormap_entries, = struct.unpack(">I", data[76:80])
pixels = header_size + colormap_entries * 12
left, top = int(sys.argv[2]), int(sys.argv[3])
points = sys.argv[4:]
for i in range(0, len(points), 2):
    x, y = left + int(points[i]), top + int(points[i + 1])
    b, g, r = data[pixels + y * bytes_per_line + x * 4: pixels + y * bytes_per_line + x * 4 + 3]
    print(points[i], points[i + 1], r, g, b)
PY
}
menu_shows() {
  local id
  id=$(window_id '^H\.264 Player$')
  [[ -n $id ]] || return 1
  sleep 1  # a few frames drawn
  # Two corners, then three points of the logo (its ring, its play sign, its name).
  window_pixels "$id" 5 595 955 5 340 90 385 90 520 75 >"$work/menu.pixels"
  cp "$work/Xvfb_screen0" "$windows_build/menu-screen.xwd"  # to look at when this fails
  # The corners show the menu's background, the logo's points do not.
  [[ $(awk 'NR <= 2 && $3 == 41 && $4 == 98 && $5 == 168' "$work/menu.pixels" | wc -l) -eq 2 &&
     $(awk 'NR > 2 && !($3 == 41 && $4 == 98 && $5 == 168)' "$work/menu.pixels" | wc -l) -eq 3 ]]
}
wine "$app/h264player.exe" >"$work/menu.out" 2>&1 &
started_pids+=($!)
menu_pid=$!
wait_for_window '^H\.264 Player$' 60 || true
log=$work/menu.out check "h264player.exe shows the start menu with the logo beside the .exe" menu_shows
kill "$menu_pid" 2>/dev/null || true
wineserver -k 2>/dev/null || true

plays_to_the_end() {
  wine "$app/h264player.exe" "$(windows_path "$plain")" >"$work/play.out" 2>&1 &
  started_pids+=($!)
  wait_for_window 'H.264 Player  \[Finished\]' 60 || return 1
  # Its lines reach the redirected standard output.
  crlf_free "$work/play.out" | grep -q '^Loaded: .* 75 frames'
}
log=$work/play.out check "h264player.exe plays a recording (path with spaces and é) to the finished title" plays_to_the_end
wineserver -k 2>/dev/null || true

echo "Windows checks: $passed passed, $failed failed (the test programs ran $gtest_count tests)"
[[ $failed -eq 0 ]]
