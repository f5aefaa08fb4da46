#!/usr/bin/env bash
# Makes the release files of one Windows build: talvek-VERSION-ARCH.zip and
# talvek-VERSION-ARCH-setup.exe, both holding talvek.exe, pngcrush.bin,
# README.txt (made from the README.txt here) and LICENSE.txt. Every time
# stored in them is SOURCE_DATE_EPOCH, by default the last commit's time,
# so the same sources give the same bytes.
# Usage: package.sh SOURCE_DIR BUILD_DIR VERSION ARCH (win32 or win64) HOME_PAGE
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$1 build=$2 version=$3 arch=$4 home_page=$5
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source" log -1 --format=%ct 2>/dev/null || true)}
[ -n "$epoch" ] || { echo "talvek: set SOURCE_DATE_EPOCH; $source is not a git clone" >&2; exit 1; }
export SOURCE_DATE_EPOCH=$epoch TZ=UTC LC_ALL=C
name=talvek-$version-$arch
stage=$build/package/$name
rm -rf "$stage"
mkdir -p "$stage"

cp "$build/talvek.exe" "$build/pngcrush.bin" "$stage"
# README.txt: the plain text for the Windows user, naming this build's
# files and home page, with Windows line ends for Notepad.
sed -e "s/@VERSION@/$version/g" -e "s/@ARCH@/$arch/g" -e "s|@HOME_PAGE@|$home_page|g" \
  "$here/README.txt" | sed 's/$/\r/' > "$stage/README.txt"
! grep -q '@[A-Z_]*@' "$stage/README.txt" || { echo "talvek: README.txt has a placeholder left" >&2; exit 1; }
# LICENSE.txt: Talvek's own licence, then those of what pngcrush.bin holds,
# each from its own sources.
zlib_header=/usr/$( [ "$arch" = win32 ] && echo i686 || echo x86_64 )-w64-mingw32/include/zlib.h
{
  printf 'Talvek\n======\n\n'; cat "$source/LICENSE"
  printf '\n\npngcrush 1.8.13 (in pngcrush.bin)\n==================================\n\n'
  cat "$build/pngcrush-build/pngcrush/LICENSE"
  printf '\n\nlibpng 1.6.39 (in pngcrush.bin)\n================================\n\n'
  cat "$build/pngcrush-build/libpng/LICENSE"
  printf '\n\nzlib 1.2.13 (in pngcrush.bin)\n==============================\n\n'
  sed -n '2,/^\*\//p' "$zlib_header" | sed '$d'
} | sed 's/$/\r/' > "$stage/LICENSE.txt"

chmod 644 "$stage"/*
chmod 755 "$stage"/*.exe "$stage/pngcrush.bin"
touch -d "@$epoch" "$stage"/*
# The zip: entries in a fixed order, no extra fields with owners or times.
rm -f "$build/$name.zip"
(cd "$stage" && zip -q -X -D "$build/$name.zip" LICENSE.txt README.txt pngcrush.bin talvek.exe)

# The size shown in the installed programs: the files, and the uninstaller,
# which is NSIS's stub with a few KiB of its own.
stub=/usr/share/nsis/Stubs/lzma_solid-$([ "$arch" = win32 ] && echo x86 || echo amd64)-unicode
size_kb=$(( ($(cat "$stage"/* "$stub" | wc -c) + 4095) / 1024 ))
defines=(-DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$build/$name-setup.exe" -DSIZE_KB=$size_kb
  -DICON="$source/resources/talvek.ico")
[ "$arch" = win32 ] || defines+=(-DWIN64)
makensis -V2 -NOCD "${defines[@]}" "$here/talvek.nsi"
echo "Made $build/$name.zip and $build/$name-setup.exe"
