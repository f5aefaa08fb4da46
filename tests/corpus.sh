#!/usr/bin/env bash
# Prints the folder of real PNG images the tests run on, fetching it first
# if this clone does not have it yet: the PNG test data that Debian ships in
# golang-1.19-src (35 images of the PNG test suite, Go's own test images and
# five broken files named invalid-*). The package is only downloaded and the
# images unpacked into build/corpus, without installing anything, so any
# user can run it. Later runs reuse the folder.
# Usage: corpus.sh source-folder
set -euo pipefail
source=$(realpath "$1")
corpus=$source/build/corpus
package=golang-1.19-src
if [ ! -d "$corpus" ]; then
  mkdir -p "$source/build"
  scratch=$(mktemp -d "$source/build/corpus.XXXXXX")
  trap 'rm -rf "$scratch"' EXIT
  if ! (cd "$scratch" && apt-get download -q "$package" >download.log 2>&1); then
    echo "talvek: cannot download $package for the test images;" \
      "run 'apt-get update' as root first: $(tail -1 "$scratch/download.log")" >&2
    exit 1
  fi
  mkdir "$scratch/tree" "$scratch/corpus"
  dpkg-deb --fsys-tarfile "$scratch"/"$package"_*.deb |
    tar -x -C "$scratch/tree" --wildcards './usr/share/go-1.19/src/image/*.png'
  find "$scratch/tree" -name '*.png' -exec cp {} "$scratch/corpus" \;
  # Two tests may fetch at once; the first to finish wins, the other's copy goes.
  mv -T "$scratch/corpus" "$corpus" 2>/dev/null || true
fi
echo "$corpus"
