#!/usr/bin/env bash
# A clean build of the Windows release, from a copy of the sources in a
# differently named folder, must give the bytes of the checkout's own
# build/win32 and build/win64 (their package target): talvek.exe,
# pngcrush.bin, the zip, the installer and the bill of materials, for win32
# and win64. Both use the
# same SOURCE_DATE_EPOCH (the last commit's time) and the downloaded Debian
# sources of SOURCE_DIR/build/sources, which are checked by their SHA-256.
# Usage: reproducible.sh source-folder
set -u
source=$(realpath "$1")
. "$source/tests/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git -C "$source" log -1 --format=%ct)}
version=$(project_version "$source")

# Copies the sources as git sees them (no build folder) to $1 and builds
# both release presets there, with the checkout's home page host.
build_in() {
  mkdir -p "$1"
  (cd "$source" && git ls-files -z -co --exclude-standard | xargs -0 cp --parents -t "$1") &&
  for preset in win32 win64; do
    host=$(sed -n 's/^TALVEK_HOME_HOST:[A-Z]*=//p' "$source/build/$preset/CMakeCache.txt" 2>/dev/null)
    (cd "$1" && cmake --preset $preset -DTALVEK_SOURCES_CACHE="$source/build/sources" \
        -DTALVEK_HOME_HOST="${host:-talvek.example}" &&
      cmake --build --preset $preset -j"$(nproc)" --target package) >"$1.$preset.log" 2>&1 ||
      { fail "the $preset build in $1 failed; see its log:"; tail -20 "$1.$preset.log"; }
  done
}

group "A clean build in another folder gives the checkout's five files"
build_in "$work/second build/elsewhere/src"
for arch in win32 win64; do
  for file in talvek.exe pngcrush.bin talvek-$version-$arch.zip talvek-$version-$arch-setup.exe \
      talvek-$version-$arch.spdx.json; do
    a=$source/build/$arch/$file b="$work/second build/elsewhere/src/build/$arch/$file"
    [ -s "$a" ] && cmp -s "$a" "$b" ||
      fail "$arch/$file differs from the checkout's (build its package target again): $(cmp "$a" "$b" 2>&1)"
  done
done

finish
