#!/usr/bin/env bash
# Makes the release files of one Windows build: talvek-VERSION-ARCH.zip and
# talvek-VERSION-ARCH-setup.exe, both holding talvek.exe, pngcrush.bin,
# README.txt (made from the README.txt here) and LICENSE.txt, and beside
# them their bill of materials, talvek-VERSION-ARCH.spdx.json. Every time
# stored in them is SOURCE_DATE_EPOCH, by default the last commit's time,
# so the same sources give the same bytes. First, every libpng advisory
# that Debian knows of must be accounted for (advisories.sh); the bill
# carries the line that says so.
# Usage: package.sh SOURCE_DIR BUILD_DIR VERSION ARCH (win32 or win64) HOME_PAGE TRIPLE
# TRIPLE is the build's MinGW-w64 triple, whose zlib pngcrush.bin holds.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source=$1 build=$2 version=$3 arch=$4 home_page=$5 triple=$6
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source" log -1 --format=%ct 2>/dev/null || true)}
[ -n "$epoch" ] || { echo "talvek: set SOURCE_DATE_EPOCH; $source is not a git clone" >&2; exit 1; }
export SOURCE_DATE_EPOCH=$epoch TZ=UTC LC_ALL=C
name=talvek-$version-$arch
# A run that fails leaves no release file of an earlier one behind.
rm -f "$build/$name.zip" "$build/$name-setup.exe" "$build/$name.spdx.json"
# The gate's line goes into the bill: a release made without the gate shows.
gate=$(bash "$source/optimizer/advisories.sh" "$build/pngcrush-build/libpng")
echo "$gate"
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
# "NAME VERSION (in pngcrush.bin)", underlined; the version is upstream's.
heading() {
  local line
  line="$1 $(awk -v p="$2" '$1 == p { sub(/-[^-]*$/, "", $2); sub(/\+dfsg.*/, "", $2); print $2 }' \
    "$source/optimizer/sources.versions") (in pngcrush.bin)"
  printf '\n\n%s\n%s\n\n' "$line" "${line//?/=}"
}
{
  printf 'Talvek\n======\n\n'; cat "$source/LICENSE"
  heading pngcrush pngcrush
  echo "Changed for Talvek, as its notices say: see optimizer/pngcrush-*.patch"
  echo "in Talvek's sources."; echo
  cat "$build/pngcrush-build/pngcrush/LICENSE"
  heading libpng libpng1.6
  cat "$build/pngcrush-build/libpng/LICENSE"
  heading zlib libz-mingw-w64
  sed -n '2,/^\*\//p' "/usr/$triple/include/zlib.h" | sed '$d'
} | sed 's/$/\r/' > "$stage/LICENSE.txt"

chmod 644 "$stage"/*
chmod 755 "$stage"/*.exe "$stage/pngcrush.bin"
touch -d "@$epoch" "$stage"/*
# The zip: entries in a fixed order, no extra fields with owners or times.
(cd "$stage" && zip -q -X -D "$build/$name.zip" LICENSE.txt README.txt pngcrush.bin talvek.exe)

# The size shown in the installed programs: the files, and the uninstaller,
# which is NSIS's stub with a few KiB of its own.
stub=/usr/share/nsis/Stubs/lzma_solid-$([ "$arch" = win32 ] && echo x86 || echo amd64)-unicode
size_kb=$(( ($(cat "$stage"/* "$stub" | wc -c) + 4095) / 1024 ))
defines=(-DVERSION="$version" -DSTAGE="$stage" -DOUTFILE="$build/$name-setup.exe" -DSIZE_KB="$size_kb"
  -DICON="$source/resources/talvek.ico")
[ "$arch" = win32 ] || defines+=(-DWIN64)
makensis -V2 -NOCD "${defines[@]}" "$here/talvek.nsi"
/usr/bin/python3 "$here/spdx.py" "$source" "$build" "$version" "$arch" "$triple" "$gate"
echo "Made $build/$name.zip, $build/$name-setup.exe and $build/$name.spdx.json"
