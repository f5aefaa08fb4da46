#!/usr/bin/env bash
# Puts a corpus of real PNG images in build/corpus/ of the source folder:
# the test images of Go's PNG package (a share of the PNG suite among them),
# taken from Debian's golang-1.19-src, downloaded with apt-get into build/.
# The deliberately broken ones (invalid-*) are left out. Prints the folder.
# Usage: png-corpus.sh SOURCE_DIR
set -euo pipefail
build=$(realpath "$1")/build
corpus=$build/corpus
if ! ls "$corpus"/*.png >/dev/null 2>&1; then
  mkdir -p "$build/corpus-deb" "$corpus"
  (cd "$build/corpus-deb" && ls golang-1.19-src_*.deb >/dev/null 2>&1 ||
    apt-get download -qq golang-1.19-src 2>/dev/null) ||
    { echo "png-corpus: apt-get download golang-1.19-src failed" >&2; exit 1; }
  scratch=$(mktemp -d)
  dpkg-deb --fsys-tarfile "$build"/corpus-deb/golang-1.19-src_*.deb |
    tar -x -C "$scratch" --wildcards '*/image/png/testdata/*.png'
  find "$scratch" -name '*.png' ! -name 'invalid-*' -exec cp {} "$corpus" \;
  rm -rf "$scratch"
fi
echo "$corpus"
