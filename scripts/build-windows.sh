#!/usr/bin/env bash
# Builds the player and its tools for 64-bit Windows and packs them into
# h264player-<version>-windows-x64.zip and the installer
# h264player-<version>-windows-x64-setup.exe in the build folder.
#
#   scripts/build-windows.sh [--libraries-only] [build folder]   (default: build-windows)
#
# FFmpeg, SDL2 and SDL2_image are built from Debian's source packages of the
# versions the Linux build uses, with Debian's mingw-w64. They are kept in
# $H264_WINDOWS_CACHE (default /var/cache/h264player-windows), one folder per
# source version and configuration, which counts only once its "complete" mark
# is written after a successful install: an interrupted build is redone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
libraries_only=0
if [[ ${1:-} == --libraries-only ]]; then libraries_only=1; shift; fi
build=${1:-$root/build-windows}
cache=${H264_WINDOWS_CACHE:-/var/cache/h264player-windows}
jobs=$(nproc)
triple=x86_64-w64-mingw32
toolchain=$root/cmake/mingw-w64-x86_64.cmake

fail() { echo "build-windows: $*" >&2; exit 1; }
as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }

for tool in $triple-gcc-posix $triple-g++-posix $triple-objdump nasm dpkg-source makensis \
  rsvg-convert icotool; do
  command -v "$tool" >/dev/null ||
    fail "$tool is missing (run scripts/install-deps.sh: g++-mingw-w64-x86-64-posix, nasm, dpkg-dev, nsis, librsvg2-bin, icoutils)"
done

# apt-get source needs a deb-src entry; Debian's images ship only deb lines.
ensure_source_entries() {
  if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then return; fi
  echo "Adding deb-src entries for Debian's archive"
  local codename
  codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
  as_root tee /etc/apt/sources.list.d/h264player-deb-src.sources >/dev/null <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $codename $codename-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: $codename-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  as_root apt-get update -qq || fail "apt-get update failed after adding deb-src entries"
}

# "<source package> <version>" of the source that built an installed package.
source_of() {
  dpkg-query -W -f='${source:Package} ${source:Version}' "$1" 2>/dev/null ||
    fail "$1 is not installed (run scripts/install-deps.sh)"
}

# Unpacks Debian's source (with Debian's patches) of "package version" into
# folder $3, which must not exist yet.
fetch_source() {
  local package=$1 version=$2 into=$3 download
  download=$(mktemp -d "$cache/download.XXXXXX")
  (cd "$download" && apt-get source --download-only -qq "$package=$version" >/dev/null 2>&1) || {
    rm -rf "$download"
    fail "cannot download the source package $package $version (is deb.debian.org reachable?)"
  }
  dpkg-source --no-check -x "$download"/*.dsc "$into" >/dev/null ||
    fail "cannot unpack the source package $package $version"
  rm -rf "$download"
}

# cached_prefix NAME PACKAGE VERSION CONFIG...: the install folder for this
# source and configuration; its key holds the version and a hash of the
# configuration and the compiler's version.
cached_prefix() {
  local name=$1 version=$3; shift 3
  local key
  key=$( { printf '%s\n' "$@"; $triple-gcc-posix --version | head -1; } | sha256sum | cut -c1-12)
  echo "$cache/$name-${version//[:~+]/_}-$key"
}

ffmpeg_config=(
  --target-os=mingw32 --arch=x86_64 --enable-cross-compile --cross-prefix=$triple-
  --cc=$triple-gcc-posix --cxx=$triple-g++-posix
  --enable-shared --disable-static --disable-programs --disable-doc --disable-debug
  --disable-autodetect --enable-w32threads --disable-network
  --disable-everything --disable-avdevice --disable-avfilter --disable-postproc
  --enable-decoder=h264,hevc,aac --enable-parser=h264,hevc
  --enable-muxer=mp4 --enable-encoder=aac --enable-protocol=file
  --enable-swscale --enable-swresample --enable-x86asm
)
sdl2_config=(
  -DSDL_SHARED=ON -DSDL_STATIC=OFF -DSDL_TEST=OFF -DSDL2_DISABLE_SDL2MAIN=OFF
  -DSDL_HIDAPI=OFF -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_SENSOR=OFF
)
sdl2_image_config=(
  -DBUILD_SHARED_LIBS=ON -DSDL2IMAGE_SAMPLES=OFF -DSDL2IMAGE_TESTS=OFF -DSDL2IMAGE_VENDORED=OFF
  -DSDL2IMAGE_BACKEND_STB=OFF -DSDL2IMAGE_BACKEND_WIC=OFF -DSDL2IMAGE_BACKEND_IMAGEIO=OFF
  -DSDL2IMAGE_AVIF=OFF -DSDL2IMAGE_BMP=OFF -DSDL2IMAGE_GIF=OFF -DSDL2IMAGE_JPG=OFF
  -DSDL2IMAGE_JXL=OFF -DSDL2IMAGE_LBM=OFF -DSDL2IMAGE_PCX=OFF -DSDL2IMAGE_PNG=OFF
  -DSDL2IMAGE_PNM=OFF -DSDL2IMAGE_QOI=OFF -DSDL2IMAGE_TGA=OFF -DSDL2IMAGE_TIF=OFF
  -DSDL2IMAGE_WEBP=OFF -DSDL2IMAGE_XCF=OFF -DSDL2IMAGE_XPM=OFF -DSDL2IMAGE_XV=OFF
  -DSDL2IMAGE_SVG=ON
)

# build_cached NAME DEBIAN_PACKAGE BUILD_FUNCTION CONFIG...: prints the prefix,
# building into it first unless a complete one is cached.
build_cached() {
  local name=$1 package=$2 builder=$3; shift 3
  local source_package version prefix work
  read -r source_package version < <(source_of "$package")
  prefix=$(cached_prefix "$name" "$source_package" "$version" "$@" "$toolchain_key")
  if [[ -f $prefix/complete ]]; then echo "$prefix"; return; fi
  rm -rf "$prefix"
  work=$(mktemp -d "$cache/work-$name.XXXXXX")
  echo "Building $name $version for Windows into $prefix" >&2
  ensure_source_entries >&2
  fetch_source "$source_package" "$version" "$work/src" >&2
  local started=$SECONDS
  "$builder" "$work/src" "$work/build" "$prefix" "$@" >"$work/log" 2>&1 || {
    tail -30 "$work/log" >&2
    fail "building $name failed; the whole log is $work/log"
  }
  touch "$prefix/complete"
  rm -rf "$work"
  echo "Built $name in $((SECONDS - started)) s" >&2
  echo "$prefix"
}

build_ffmpeg() {
  local src=$1 prefix=$3; shift 3
  cd "$src"
  ./configure --prefix="$prefix" "$@"
  make -j "$jobs"
  make install
}

build_with_cmake() {
  local src=$1 work=$2 prefix=$3; shift 3
  cmake -S "$src" -B "$work" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
  cmake --build "$work" -j "$jobs"
  cmake --install "$work"
}

mkdir -p "$cache" 2>/dev/null || as_root install -d -m 0777 "$cache"
[[ -w $cache ]] || as_root chmod 0777 "$cache"
toolchain_key=$(sha256sum "$toolchain" | cut -c1-12)

ffmpeg_prefix=$(build_cached ffmpeg libavcodec-dev build_ffmpeg "${ffmpeg_config[@]}")
sdl2_prefix=$(build_cached sdl2 libsdl2-dev build_with_cmake "${sdl2_config[@]}")
sdl2_image_config+=("-DSDL2_DIR=$sdl2_prefix/lib/cmake/SDL2")
sdl2_image_prefix=$(build_cached sdl2-image libsdl2-image-dev build_with_cmake "${sdl2_image_config[@]}")
[[ $libraries_only -eq 1 ]] && exit 0

# The project, against those libraries.
export PKG_CONFIG_LIBDIR="$ffmpeg_prefix/lib/pkgconfig:$sdl2_prefix/lib/pkgconfig:$sdl2_image_prefix/lib/pkgconfig"
export PKG_CONFIG_PATH=
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$jobs"

# Windows' own DLLs, which a program may import without shipping them.
is_system_dll() {
  case ${1,,} in
    kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | ole32.dll | oleaut32.dll | \
    comdlg32.dll | ws2_32.dll | msvcrt.dll | imm32.dll | version.dll | winmm.dll | setupapi.dll | \
    bcrypt.dll | crypt32.dll | secur32.dll | shlwapi.dll | dwmapi.dll | uxtheme.dll | dinput8.dll | dxgi.dll | \
    d3d9.dll | d3d11.dll | d3d12.dll | hid.dll | cfgmgr32.dll | api-ms-win-*) return 0 ;;
  esac
  return 1
}
dll_folders=("$ffmpeg_prefix/bin" "$sdl2_prefix/bin" "$sdl2_image_prefix/bin"
  "$(dirname "$($triple-gcc-posix -print-libgcc-file-name)")" /usr/$triple/lib)

# Copies every DLL that $1 imports, and theirs in turn, into folder $2.
copy_imported_dlls() {
  local file=$1 into=$2 name folder found
  while read -r name; do
    [[ -e $into/$name ]] && continue
    is_system_dll "$name" && continue
    found=
    for folder in "${dll_folders[@]}"; do
      if [[ -f $folder/$name ]]; then found=$folder/$name; break; fi
    done
    [[ -n $found ]] || fail "$(basename "$file") imports $name, which is neither built nor part of Windows"
    # The toolchain's own DLLs carry debug symbols (libstdc++ is 24 MB with them).
    $triple-strip --strip-unneeded -o "$into/$name" "$found"
    copy_imported_dlls "$into/$name" "$into"
  done < <($triple-objdump -p "$file" | sed -n 's/^\s*DLL Name: //p')
}

version=$(sed -n 's/^project(h264player VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
package=h264player-$version-windows-x64
stage=$build/$package
rm -rf "$stage" "$build/$package.zip"
mkdir -p "$stage"
for program in h264player convert_mp4 inspect_recording rtsp_probe; do
  $triple-strip -o "$stage/$program.exe" "$build/tools/$program.exe" 2>/dev/null ||
    $triple-strip -o "$stage/$program.exe" "$build/src/$program.exe"
done
for program in "$stage"/*.exe; do copy_imported_dlls "$program" "$stage"; done
cp "$root/logo.svg" "$stage/"
sed 's/$/\r/' "$root/packaging/windows-readme.txt" >"$stage/README.txt"
(cd "$build" && rm -f "$package.zip" && zip -qr "$package.zip" "$package")

# The installer, of the same files (see packaging/windows/installer.nsi).
installer=$build/$package-setup.exe
nsis=$build/installer
rm -rf "$nsis" "$installer"
mkdir -p "$nsis"
for file in "$stage"/*; do
  name=$(basename "$file")
  printf 'File "%s"\n' "$file" >>"$nsis/install-files.nsh"
  printf 'Delete "$INSTDIR\\%s"\n' "$name" >>"$nsis/uninstall-files.nsh"
done
makensis -V2 -INPUTCHARSET UTF8 -DVERSION="$version" -DICON="$build/h264player.ico" \
  -DINSTALL_FILES="$nsis/install-files.nsh" -DUNINSTALL_FILES="$nsis/uninstall-files.nsh" \
  -DOUTFILE="$installer" "$root/packaging/windows/installer.nsi" >"$nsis/makensis.log" 2>&1 || {
  cat "$nsis/makensis.log" >&2
  fail "makensis could not build the installer"
}
echo "Built $build/$package.zip ($(du -k "$build/$package.zip" | cut -f1) KiB) and" \
  "$(basename "$installer") ($(du -k "$installer" | cut -f1) KiB):"
(cd "$stage" && ls)
