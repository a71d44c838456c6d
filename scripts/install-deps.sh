#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, plus
# any package names given as arguments; does nothing when they are all present.
# Uses sudo when not run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  libsdl2-dev libsdl2-image-dev
  libgtest-dev
  python3 python3-gi gir1.2-gstreamer-1.0 gir1.2-gst-rtsp-server-1.0
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-ugly
  gstreamer1.0-plugins-bad gstreamer1.0-libav
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 g++-mingw-w64-x86-64-posix nasm dpkg-dev zip unzip
  wine wine64 xvfb xdotool locales
  # The Windows installer (NSIS's makensis) and the programs' icon, drawn from
  # logo.svg (rsvg-convert) and packed as an .ico (icotool).
  nsis librsvg2-bin icoutils
  # The recording chooser's title and filters are Japanese; without a font
  # that has them zenity shows empty boxes. The smallest Debian Japanese font.
  fonts-sawarabi-gothic
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The Windows programs are tested under Wine with an ANSI (1252) and a
# Japanese (932) code page, which Wine takes from these locales.
for locale in en_US ja_JP; do
  locale -a | grep -qx "$locale.utf8" || "${sudo_cmd[@]}" localedef -i "$locale" -f UTF-8 "$locale.UTF-8"
done
