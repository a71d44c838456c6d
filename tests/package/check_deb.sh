#!/usr/bin/env bash
# Makes the Debian package from a build folder and checks it: its files, its
# dependencies (taken from the linked libraries) and that the player installed
# from it into a scratch root answers --version.
set -euo pipefail
build=$1
version=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/out/h264player_*.deb)

contents=$(dpkg-deb -c "$deb")
for file in ./usr/bin/h264player ./usr/bin/convert_mp4 ./usr/bin/inspect_recording ./usr/bin/rtsp_probe \
            ./usr/share/h264player/logo.svg ./usr/share/applications/h264player.desktop \
            ./usr/share/mime/packages/h264player-recording.xml \
            ./usr/share/icons/hicolor/scalable/apps/h264player.svg; do
  grep -q " $file\$" <<<"$contents" || { echo "missing from the package: $file"; exit 1; }
done

depends=$(dpkg-deb -f "$deb" Depends)
for library in libavcodec libavformat libsdl2-2 libsdl2-image libc6; do
  grep -q "$library" <<<"$depends" || { echo "Depends lacks $library: $depends"; exit 1; }
done

dpkg-deb -x "$deb" "$scratch/root"
answer=$("$scratch/root/usr/bin/h264player" --version)
[[ $answer == "h264player $version" ]] || { echo "h264player --version said: $answer"; exit 1; }
desktop-file-validate "$scratch/root/usr/share/applications/h264player.desktop" 2>/dev/null ||
  ! command -v desktop-file-validate >/dev/null
echo "package ok: $(basename "$deb")"
