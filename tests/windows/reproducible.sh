#!/usr/bin/env bash
# A clean build of the Windows release, from its own copy of the sources in
# a differently named folder, must give the same bytes as this checkout's
# own builds in build/win32 and build/win64: talvek.exe, pngcrush.bin, the
# zip, the installer and the bill of materials. The clean build uses the
# same SOURCE_DATE_EPOCH (the last commit's time), home page host and
# downloaded Debian sources (SOURCE_DIR/build/sources, checked by their
# SHA-256) as the checkout's.
# Usage: reproducible.sh source-folder   (after the package target of both
# Windows presets)
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
    host=$(sed -n 's/^TALVEK_HOME_HOST:[A-Z]*=//p' "$source/build/$preset/CMakeCache.txt")
    (cd "$1" && cmake --preset $preset -DTALVEK_SOURCES_CACHE="$source/build/sources" \
        -DTALVEK_HOME_HOST="$host" &&
      cmake --build --preset $preset -j"$(nproc)" --target package) >"$1.$preset.log" 2>&1 ||
      { fail "the $preset build in $1 failed; see its log:"; tail -20 "$1.$preset.log"; }
  done
}

group "A clean build in another folder gives the checkout's five files"
files=()
for arch in win32 win64; do
  for file in talvek.exe pngcrush.bin talvek-$version-$arch.zip talvek-$version-$arch-setup.exe \
      talvek-$version-$arch.spdx.json; do
    files+=("$arch/$file")
    [ -s "$source/build/$arch/$file" ] ||
      { echo "FAIL: no build/$arch/$file; build the package target of both Windows presets first"; exit 1; }
  done
done
build_in "$work/second build/elsewhere/src"
for file in "${files[@]}"; do
  a=$source/build/$file b="$work/second build/elsewhere/src/build/$file"
  cmp -s "$a" "$b" ||
    fail "$file differs from the checkout's (is it built from these sources and this commit?): $(cmp "$a" "$b" 2>&1)"
done

finish
