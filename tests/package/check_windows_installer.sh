#!/usr/bin/env bash
# The Windows installer under Wine, as a user meets it: installed for the
# current user and for all users, its Start-menu entries, .264 recordings
# opening in the player, and uninstalls (through the commands Windows' list of
# programs runs) that leave no file, registry key or value behind and give
# .264 back to the program that had it before.
#
#   tests/package/check_windows_installer.sh SETUP.exe ZIP-FOLDER LINUX-BUILD
#
# ZIP-FOLDER is the unpacked zip, whose files the installer must install.
# Runs in the Wine prefix (WINEPREFIX, made before) and on the X display
# (DISPLAY) of the environment. Prints one line per check; exit status 1 when
# any failed.
set -euo pipefail
setup=$1
zip_folder=$2
linux_build=$3
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
export WINEDEBUG=-all SDL_AUDIODRIVER=dummy
# Wine's menu builder would copy Start-menu entries and associations into the
# Linux desktop's own folders, outside the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

passed=0
failed=0
check() {  # check NAME COMMAND...
  local name=$1; shift
  if "$@"; then echo "PASS  $name"; passed=$((passed + 1)); else echo "FAIL  $name"; failed=$((failed + 1)); fi
  return 0
}
windows_path() { echo "Z:${1//\//\\}"; }

# What the prefix holds: its files, and its registry keys and values. Left
# out, as Windows' own business: the temporary folders (the uninstaller runs
# from a copy there that Windows deletes at the next start, noted in
# PendingFileRenameOperations) and a time stamp Wine renews on its own.
snapshot() {
  wineserver -w
  (cd "$WINEPREFIX/drive_c" && find . | grep -v -e '^\./windows/' -e '/Temp/' -e '/Temp$' | sort) \
    >"$work/$1.files"
  for hive in system user; do
    grep -v -e '^#time=' -e '^"PendingFileRenameOperations"=' -e '^"DriverDateData"=' \
      "$WINEPREFIX/$hive.reg" | sed 's/^\(\[.*\]\) [0-9]*$/\1/'
  done >"$work/$1.registry"
}
# Only what was added counts: Wine rewrites some of its own keys meanwhile.
nothing_added() {  # nothing_added BEFORE AFTER: prints what was, if anything
  ! diff "$1" "$2" | grep '^>'
}
registry_value() {  # registry_value KEY [VALUE]: the data, empty when absent
  local args=(/ve)
  [[ $# -gt 1 ]] && args=(/v "$2")
  wine reg query "$1" "${args[@]}" 2>/dev/null | tr -d '\r' | sed -n 's/^ *[^ ].*  *REG_[A-Z_]* *//p' | head -1
}
window_title_shows() {  # window_title_shows PATTERN SECONDS
  local id
  for _ in $(seq $(($2 * 5))); do
    for id in $(xdotool search --name 'H.264 Player' 2>/dev/null); do
      xdotool getwindowname "$id" 2>/dev/null | grep -q -- "$1" && return 0
    done
    sleep 0.2
  done
  return 1
}
# Runs a command line as Windows' registry holds it: a quoted program, then
# its arguments (%1 replaced by the recording).
run_registered_command() {  # run_registered_command COMMAND-LINE [RECORDING]
  local line=$1 program rest
  program=$(sed 's/^"\([^"]*\)".*/\1/' <<<"$line")
  rest=$(sed 's/^"[^"]*" *//' <<<"$line")
  if [[ $rest == *'%1'* ]]; then
    wine "$program" "$2" >/dev/null 2>&1 &
  else
    # shellcheck disable=SC2086  # the switches are separate words
    wine "$program" $rest >/dev/null 2>&1
  fi
}

# A 13-second recording in a folder and under a name with spaces, accents and
# Japanese: the player's title shows its length, so its window shows which
# file it plays.
recordings="$work/camera é 日本"
mkdir -p "$recordings"
recording="$recordings/front door カメラ.264"
"$linux_build/tools/make_recording" --out "$recording" --width 160 --height 120 --fps 2 \
  --frames 26 >/dev/null
plays_the_recording() { window_title_shows ' / 00:13\]' 30; }

# .264 belonged to another program before: the uninstall gives it back.
wine reg add 'HKCU\Software\Classes\.264' /ve /d OtherPlayer.Recording /f >/dev/null 2>&1
snapshot before

per_user="$(wine cmd /c echo '%LOCALAPPDATA%' 2>/dev/null | tr -d '\r')\\Programs\\H.264 Player"
all_users='C:\Program Files\H.264 Player'
unix_folder() { wine winepath -u "$1" 2>/dev/null | tr -d '\r'; }

installs_every_file() {  # installs_every_file WINDOWS-FOLDER
  local folder
  folder=$(unix_folder "$1")
  diff <({ ls "$zip_folder"; echo Uninstall.exe; } | sort) <(ls "$folder" | sort) >/dev/null &&
    cmp -s "$zip_folder/h264player.exe" "$folder/h264player.exe"
}
has_start_menu_entry() {  # has_start_menu_entry FOLDER-OF-THE-ENTRY
  grep -aq 'h264player.exe' "$1/H.264 Player.lnk" 2>/dev/null
}
associates() {  # associates HIVE FOLDER: .264 opens in the player of FOLDER, with its icon
  [[ $(registry_value "$1\\Software\\Classes\\.264") == H264Player.Recording ]] &&
    [[ $(registry_value "$1\\Software\\Classes\\H264Player.Recording\\shell\\open\\command") == "\"$2\\h264player.exe\" \"%1\"" ]] &&
    [[ $(registry_value "$1\\Software\\Classes\\H264Player.Recording\\DefaultIcon") == "\"$2\\h264player.exe\",0" ]]
}
uninstall_entry() {  # uninstall_entry HIVE VALUE
  registry_value "$1\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\H264Player" "$2"
}

# For the current user.
wine "$setup" /S /CurrentUser >/dev/null 2>&1; wineserver -w
check "installer (current user) puts every file of the zip in $per_user" installs_every_file "$per_user"
check "installer (current user) adds a Start-menu entry" \
  has_start_menu_entry "$(unix_folder "$(wine cmd /c echo '%APPDATA%' 2>/dev/null | tr -d '\r')")/Microsoft/Windows/Start Menu/Programs"
check "installer (current user) associates .264 with the player and its icon" associates HKCU "$per_user"
check "installer (current user) lists the player among the installed programs" \
  test "$(uninstall_entry HKCU DisplayName)" = "H.264 Player"
# Wine reads file types from the machine's classes only, so the current
# user's association is run as Explorer would run it: its command, %1 the file.
run_registered_command "$(registry_value 'HKCU\Software\Classes\H264Player.Recording\shell\open\command')" \
  "$(windows_path "$recording")"
check "the current user's .264 command plays a recording named with é and 日本" plays_the_recording
wineserver -k 2>/dev/null || true

# For all users, beside it.
wine "$setup" /S /AllUsers >/dev/null 2>&1; wineserver -w
check "installer (all users) puts every file of the zip in $all_users" installs_every_file "$all_users"
check "installer (all users) adds a Start-menu entry for everyone" \
  has_start_menu_entry "$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs"
check "installer (all users) associates .264 with the player and its icon" associates HKLM "$all_users"
# Opening the file as Explorer does (ShellExecute, through the file type).
wine start /unix "$recording" >/dev/null 2>&1 &
check "opening a .264 file (Wine's start) plays it in the installed player" plays_the_recording
wineserver -k 2>/dev/null || true

# Uninstalled as Windows' list of programs does it, one install at a time.
run_registered_command "$(uninstall_entry HKLM QuietUninstallString)"
wineserver -w
only_the_current_user_install_left() {
  installs_every_file "$per_user" && associates HKCU "$per_user" &&
    [[ ! -e "$WINEPREFIX/drive_c/Program Files/H.264 Player" ]] &&
    [[ -z $(registry_value 'HKLM\Software\Classes\H264Player.Recording') ]]
}
check "uninstalling for all users leaves the current user's install whole" \
  only_the_current_user_install_left
run_registered_command "$(uninstall_entry HKCU QuietUninstallString)"
snapshot after
check "after both uninstalls no file is left behind" nothing_added "$work/before.files" "$work/after.files"
check "after both uninstalls no registry key or value is left behind, .264 is the other program's again" \
  nothing_added "$work/before.registry" "$work/after.registry"
wine reg delete 'HKCU\Software\Classes\.264' /f >/dev/null 2>&1 || true
wineserver -w

echo "Installer checks: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
