#!/usr/bin/env bash
# Makes the Windows programs' icon from the logo: its emblem (the square at the
# logo's left end, as high as the logo) drawn at the sizes Windows shows, in one
# .ico file (the largest kept as PNG, the others as bitmaps).
#
#   scripts/make-icon.sh LOGO.svg OUT.ico
set -euo pipefail
[[ $# -eq 2 ]] || { echo "Usage: make-icon.sh LOGO.svg OUT.ico" >&2; exit 2; }
svg=$1
out=$2
for tool in rsvg-convert icotool python3; do
  command -v "$tool" >/dev/null ||
    { echo "make-icon: $tool is missing (run scripts/install-deps.sh: librsvg2-bin, icoutils)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The root element's size and view box become the square at the left.
python3 - "$svg" "$work/emblem.svg" <<'PY'
import re, sys
text = open(sys.argv[1], encoding="utf-8").read()
tag = re.search(r"<svg\b[^>]*>", text)
box = re.search(r'viewBox="([^"]+)"', tag.group(0)) if tag else None
if not box:
    sys.exit("make-icon: the logo has no <svg> element with a viewBox")
x, y, _, height = (float(v) for v in box.group(1).replace(",", " ").split())
square = re.sub(r'\s(width|height|viewBox)="[^"]*"', "", tag.group(0)).rstrip(">").rstrip("/")
square += f' width="{height:g}" height="{height:g}" viewBox="{x:g} {y:g} {height:g} {height:g}">'
open(sys.argv[2], "w", encoding="utf-8").write(text[:tag.start()] + square + text[tag.end():])
PY

bitmaps=()
for size in 16 20 24 32 40 48 64; do
  rsvg-convert -w "$size" -h "$size" "$work/emblem.svg" -o "$work/$size.png"
  bitmaps+=("$work/$size.png")
done
rsvg-convert -w 256 -h 256 "$work/emblem.svg" -o "$work/256.png"
icotool -c -o "$out" "${bitmaps[@]}" -r "$work/256.png"
