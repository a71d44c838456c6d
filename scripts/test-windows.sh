#!/usr/bin/env bash
# Runs the Windows build under Wine, headless:
#
#   scripts/test-windows.sh [Windows build folder] [Linux build folder]
#
# (defaults: build-windows and build, made by scripts/build-windows.sh and
# scripts/build.sh). The zip is unpacked into a folder whose path has spaces,
# the programs are started from another folder, recordings are made by the
# Linux maker (named with spaces, accents and Japanese), the RTSP server is
# GStreamer's on the Linux side, and the GUI runs on an Xvfb screen that is
# read back for pixel checks; its open dialogs are answered by the test
# program dialog_driver.exe. Then the installer is installed and uninstalled
# (tests/package/check_windows_installer.sh). Prints one line per check and
# exits 1 when any failed.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows_build=${1:-$root/build-windows}
linux_build=${2:-$root/build}
version=$(sed -n 's/^project(h264player VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
zip=$windows_build/h264player-$version-windows-x64.zip
[[ -f $zip ]] || { echo "test-windows: $zip is missing (run scripts/build-windows.sh)" >&2; exit 1; }
for program in wine Xvfb xdotool /usr/bin/python3 ffprobe wrestool; do
  command -v $program >/dev/null || { echo "test-windows: $program is missing (run scripts/install-deps.sh)" >&2; exit 1; }
done

work=$(mktemp -d)
export WINEPREFIX=${H264_WINEPREFIX:-$windows_build/wine-prefix}
# Wine's menu builder would copy Start-menu entries and file types into the
# Linux desktop's folders.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export SDL_AUDIODRIVER=dummy
# Wine hands the programs their Linux arguments (file names with é and 日本)
# as the locale reads them; run_tests sets another language where one is wanted.
export LANG=en_US.UTF-8
unset LC_ALL LANGUAGE LC_MESSAGES
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
# run_tests NAME "VARIABLE=VALUE..." PROGRAM [GTEST ARGS...]: a test program
# under Wine, with the locale and other variables given.
run_tests() {
  local name=$1 variables=$2 program=$3; shift 3
  local log=$work/$name.log
  # shellcheck disable=SC2086  # the variables are separate words
  check "$name" env $variables SDL_VIDEODRIVER=dummy SDL_RENDER_DRIVER=software \
    bash -c 'timeout 900 wine "$@" >"'"$log"'" 2>&1' wine "$program" "$@"
  local ran
  ran=$(tr -d '\r' <"$log" | sed -n 's/^\[==========\] \([0-9]*\) tests\? from .* ran\..*/\1/p')
  gtest_count=$((gtest_count + ${ran:-0}))
  tr -d '\r' <"$log" | grep -a '^\[  \(PASSED\|FAILED\)' | sed 's/^/      /'
}
# Files, sockets and wide text with an ANSI code page; the open dialogs in
# English, in Japanese (code page 932), and in Japanese with code page 1252
# (a Japanese interface on a western code page: the texts must be wide).
platform_tests=$windows_build/tests/test_platform.exe
run_tests "test_platform (files, sockets, wide text; code page 1252)" LANG=en_US.UTF-8 \
  "$platform_tests" --gtest_filter='-WindowsPlatform.OpenDialog*'
run_tests "test_platform (open dialogs in English; code page 1252)" \
  "LANG=en_US.UTF-8 H264_EXPECT_UI=en" "$platform_tests" --gtest_filter='WindowsPlatform.OpenDialog*'
run_tests "test_platform (open dialogs in Japanese; code page 932)" \
  "LANG=ja_JP.UTF-8 H264_EXPECT_UI=ja" "$platform_tests" --gtest_filter='WindowsPlatform.OpenDialog*'
run_tests "test_platform (open dialogs in Japanese; code page 1252)" \
  "LANG=en_US.UTF-8 LC_MESSAGES=ja_JP.UTF-8 H264_EXPECT_UI=ja" "$platform_tests" \
  --gtest_filter='WindowsPlatform.OpenDialog*'
for area in recording draw media player convert rtsp ui app; do
  # An area whose test files all run on Linux only has no program here.
  [[ -f $windows_build/tests/test_$area.exe ]] || continue
  run_tests "test_$area" LANG=en_US.UTF-8 "$windows_build/tests/test_$area.exe"
done
# Said aloud, so that nothing is left out unnoticed: the test files that run
# on Linux only, and why, are listed in tests/CMakeLists.txt.
echo "Linux-only test files:" $(sed -n '/set(linux_only/,/)/p' "$root/tests/CMakeLists.txt" |
  sed 's/set(linux_only//; s/)//')

# Recordings made by the Linux maker, one in a folder and under a name that
# hold spaces, a character of the ANSI code page and characters outside it.
recordings="$work/camera recordings é 日本"
mkdir -p "$recordings"
plain="$recordings/front door カメラ.264"
"$linux_build/tools/make_recording" --out "$plain" --width 320 --height 240 --fps 25 --frames 75 \
  --audio >/dev/null
small=$work/small.264
"$linux_build/tools/make_recording" --out "$small" --width 160 --height 120 --fps 10 --frames 20 >/dev/null

# The programs answer --help and --version, also into a redirected output;
# the help tells only what users type; an unknown option gets the usage,
# naming the program and not its path, and exit status 2.
refuses_unknown_option() {
  local status=0
  wine "$app/$1.exe" --no-such-option >"$work/refused.out" 2>&1 || status=$?
  [[ $status -eq 2 ]] && crlf_free "$work/refused.out" | grep -q "^Usage: $1 " &&
    ! grep -q 'Z:' "$work/refused.out"
}
for program in h264player convert_mp4 inspect_recording rtsp_probe; do
  check "$program --version reaches a redirected output" \
    bash -c "wine '$app/$program.exe' --version >'$work/version.out' 2>/dev/null &&
             [[ \$(tr -d '\r' <'$work/version.out') == '$program $version' ]]"
  check "$program --help tells only what users type" \
    bash -c "wine '$app/$program.exe' --help >'$work/help.out' 2>/dev/null &&
             grep -q '^Usage: $program ' '$work/help.out' && ! grep -q '__' '$work/help.out'"
  log=$work/refused.out check "$program refuses an unknown option with its usage and status 2" \
    refuses_unknown_option "$program"
done

# Every program carries the icon, the version information and the manifest
# (common controls 6, DPI awareness, long paths).
has_resources() {
  wrestool -l "$1" >"$work/resources.txt" 2>&1 &&
    grep -q 'type=group_icon' "$work/resources.txt" && grep -q 'type=version' "$work/resources.txt" &&
    wrestool -x --raw --type=24 "$1" >"$work/manifest.xml" 2>/dev/null &&
    grep -q 'Microsoft.Windows.Common-Controls' "$work/manifest.xml" &&
    grep -q 'PerMonitorV2' "$work/manifest.xml" && grep -q '<longPathAware[^>]*>true' "$work/manifest.xml" &&
    wrestool -x --raw --type=16 "$1" >"$work/version.res" 2>/dev/null &&
    tr -d '\0' <"$work/version.res" | grep -ac "$version" >/dev/null
}
for program in h264player convert_mp4 inspect_recording rtsp_probe; do
  check "$program.exe has its icon, version information and manifest" has_resources "$app/$program.exe"
done

# The inspector prints what the Linux one prints.
same_inspection() {
  "$linux_build/tools/inspect_recording" "$1" >"$work/linux.txt" 2>&1 || true
  wine "$app/inspect_recording.exe" "$(windows_path "$1")" >"$work/windows.raw" 2>&1 || true
  crlf_free "$work/windows.raw" >"$work/windows.txt"
  grep -q '^Loaded:' "$work/linux.txt" && diff "$work/linux.txt" "$work/windows.txt"
}
log=$work/windows.txt check "inspect_recording.exe prints the Linux lines (path with spaces, é and 日本)" same_inspection "$plain"
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
log=$work/convert.out check "convert_mp4.exe writes an MP4 with all 75 frames (name with é and 日本)" converts_all_frames "$plain" 75
# Its result line names both files as they are, in UTF-8.
names_the_files() {
  crlf_free "$work/convert.out" |
    grep -qF "OK  $(windows_path "$plain") -> $(windows_path "${plain%.264}.mp4")"
}
log=$work/convert.out check "convert_mp4.exe's result line names the files with é and 日本" names_the_files
check "convert_mp4.exe writes an MP4 with all 20 frames" converts_all_frames "$small" 20

# A path past the old limit of 260 characters (the manifest declares long
# paths, the programs use the wide calls).
deep=$work/deep
for level in 1 2 3 4 5 6 7 8 9; do deep="$deep/a folder name that is rather long 日本 $level"; done
mkdir -p "$deep"
"$linux_build/tools/make_recording" --out "$deep/clip é.264" --width 160 --height 120 --fps 10 \
  --frames 20 >/dev/null
takes_a_long_path() {
  wine "$app/inspect_recording.exe" "$(windows_path "$deep/clip é.264")" >"$work/deep.out" 2>&1 &&
    crlf_free "$work/deep.out" | grep -q '^Loaded: .* 20 frames' &&
    converts_all_frames "$deep/clip é.264" 20
}
deep_path=$(windows_path "$deep/clip é.264")
log=$work/deep.out check "inspect_recording.exe and convert_mp4.exe take a path of ${#deep_path} characters" \
  takes_a_long_path

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

# Over IPv6 (an address in brackets): a noisy 1280x720 stream at a camera's
# bit rate, every picture the server sent decoded over UDP, and over TCP.
/usr/bin/python3 "$root/tests/support/rtsp_test_server.py" --address ::1 --size 1280x720 --pattern snow \
  --bitrate 4000 --count 50 >"$work/server6.log" 2>&1 &
started_pids+=($!)
for _ in $(seq 100); do grep -q '^PORT ' "$work/server6.log" && break; sleep 0.1; done
port6=$(sed -n 's/^PORT //p' "$work/server6.log")
if [[ -z $port6 ]]; then
  echo "FAIL  the RTSP test server did not start on ::1:"; cat "$work/server6.log"; failed=$((failed + 1))
else
  probe_decodes_every_picture_over_ipv6_udp() {
    wine "$app/rtsp_probe.exe" --udp "rtsp://[::1]:$port6/test" 7 >"$work/probe6.raw" 2>&1
    local sent
    sent=$(sed -n 's/^SENT //p' "$work/server6.log" | tail -1)
    crlf_free "$work/probe6.raw" | grep -q '^Transport: RTP over UDP' &&
      crlf_free "$work/probe6.raw" | grep -Eq ', lost: 0$' &&
      [[ -n $sent ]] && crlf_free "$work/probe6.raw" | grep -q "^Pictures decoded: $sent\$"
  }
  probe_decodes_over_ipv6_tcp() {
    wine "$app/rtsp_probe.exe" "rtsp://[::1]:$port6/test" 2 >"$work/probe6-tcp.raw" 2>&1
    crlf_free "$work/probe6-tcp.raw" | grep -Eq '^Pictures decoded: [1-9]'
  }
  log=$work/probe6.raw check "rtsp_probe.exe --udp decodes every picture of a 1280x720 stream from [::1]" \
    probe_decodes_every_picture_over_ipv6_udp
  log=$work/probe6-tcp.raw check "rtsp_probe.exe decodes pictures from [::1] over TCP" probe_decodes_over_ipv6_tcp
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
log=$work/play.out check "h264player.exe plays a recording (path with spaces, é and 日本) to the finished title" plays_to_the_end
wineserver -k 2>/dev/null || true

# The player's own open dialogs, answered by dialog_driver.exe as a user
# would (keys go to the player through the X server): a recording named in
# Japanese chosen and played, then two chosen and converted, whose results
# stay on the screen until a key brings the menu back.
clip="$recordings/clip 日本 é.264"
"$linux_build/tools/make_recording" --out "$clip" --width 160 --height 120 --fps 2 --frames 6 >/dev/null
answer_dialog() {  # answer_dialog TITLE [FILE NAMES]
  wine "$windows_build/tests/dialog_driver.exe" "$@" >"$work/driver.out" 2>&1
}
corner_is() {  # corner_is R G B: the player window's bottom-left corner has that colour
  local id
  id=$(window_id 'H.264 Player')
  [[ -n $id ]] && window_pixels "$id" 5 595 | awk -v r="$1" -v g="$2" -v b="$3" '$3 == r && $4 == g && $5 == b' | grep -q .
}
wait_until() {  # wait_until SECONDS COMMAND...: true once the command is
  local seconds=$1; shift
  for _ in $(seq $((seconds * 5))); do "$@" && return 0; sleep 0.2; done
  return 1
}
both_mp4s_written() {
  [[ $(video_frames "${clip%.264}.mp4" 2>/dev/null) == 6 && $(video_frames "${plain%.264}.mp4" 2>/dev/null) == 75 ]]
}
opens_from_its_dialog() {
  (wine "$app/h264player.exe" >"$work/dialogs.out" 2>&1 &)
  wait_for_window '^H\.264 Player$' 60 && sleep 1 || return 1
  xdotool key o
  answer_dialog "Open a .264 file" "$(windows_path "$clip")" &&
    wait_for_window 'H.264 Player  \[Finished\]' 30 &&
    crlf_free "$work/dialogs.out" | grep -q '^Loaded: .* 6 frames'
}
converts_from_its_dialog_and_keeps_the_results() {
  rm -f "${clip%.264}.mp4" "${plain%.264}.mp4"
  xdotool key Escape
  wait_for_window '^H\.264 Player$' 10 && sleep 0.5 || return 1
  xdotool key c
  # The dialog opens in the folder of the recording chosen before.
  answer_dialog "Select .264 files to convert" "\"$(basename "$clip")\" \"$(basename "$plain")\"" &&
    wait_until 60 both_mp4s_written || return 1
  sleep 1.5
  corner_is 20 20 30 || return 1  # the conversion screen, its results still shown
  xdotool key space
  wait_until 10 corner_is 41 98 168  # the menu
}
log=$work/driver.out check "h264player.exe's open dialog plays the recording chosen (name with é and 日本)" \
  opens_from_its_dialog
log=$work/driver.out check "h264player.exe's convert dialog converts two chosen recordings; the results stay until a key" \
  converts_from_its_dialog_and_keeps_the_results
wineserver -k 2>/dev/null || true

# With a Japanese interface language (on a western code page) the dialog
# speaks Japanese.
asks_in_japanese() {
  (LC_MESSAGES=ja_JP.UTF-8 wine "$app/h264player.exe" >"$work/japanese.out" 2>&1 &)
  wait_for_window '^H\.264 Player$' 60 && sleep 1 || return 1
  xdotool key o
  answer_dialog ".264 ファイルを開く" &&
    crlf_free "$work/driver.out" | grep -qxF "H.264 ファイル (*.264)" &&
    crlf_free "$work/driver.out" | grep -qxF "全てのファイル (*.*)"
}
log=$work/driver.out check "h264player.exe's open dialog is in Japanese for a Japanese user" asks_in_japanese
wineserver -k 2>/dev/null || true

# The installer: both kinds of install, the .264 association, clean uninstalls.
installer=$windows_build/h264player-$version-windows-x64-setup.exe
if [[ -f $installer ]]; then
  installer_checks=$(mktemp)
  H264_INSTALLER_PREFIX=${H264_INSTALLER_PREFIX:-$windows_build/wine-prefix-installer}
  if [[ ! -f $H264_INSTALLER_PREFIX/system.reg ]]; then
    WINEPREFIX=$H264_INSTALLER_PREFIX wineboot -i >/dev/null 2>&1
    WINEPREFIX=$H264_INSTALLER_PREFIX wineserver -w
  fi
  WINEPREFIX=$H264_INSTALLER_PREFIX "$root/tests/package/check_windows_installer.sh" "$installer" "$app" \
    "$linux_build" >"$installer_checks" 2>&1 || true
  cat "$installer_checks"
  passed=$((passed + $(grep -c '^PASS' "$installer_checks" || true)))
  failed=$((failed + $(grep -c '^FAIL' "$installer_checks" || true)))
  grep -q '^Installer checks:' "$installer_checks" || { echo "FAIL  the installer checks did not finish"; failed=$((failed + 1)); }
  rm -f "$installer_checks"
else
  echo "FAIL  $installer is missing"; failed=$((failed + 1))
fi
echo "Sizes: $(basename "$zip") $(du -k "$zip" | cut -f1) KiB, $(basename "$installer") $(du -k "$installer" 2>/dev/null | cut -f1) KiB"

echo "Windows checks: $passed passed, $failed failed (the test programs ran $gtest_count tests)"
[[ $failed -eq 0 ]]
