#!/usr/bin/env bash
# Builds the Debian package from this checkout:
#   bash packaging/debian/build.sh   ->   build/deb/talvek_<version>_<arch>.deb
# The source is copied into a scratch folder with this folder as its debian/,
# and dpkg-buildpackage builds the binary package there. The optimizer's
# pinned sources are fetched and checked first (optimizer/fetch-sources.sh,
# into build/sources) and handed to the build in optimizer-sources/, so the
# build itself needs no network; their notices go into the package's
# copyright file. Every date in the package is SOURCE_DATE_EPOCH when it is
# set, else that of the latest changelog entry, so two builds of one commit
# give the same package.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tools/packages.sh
install_packages "${BUILD_PACKAGES[@]}" "${DEB_BUILD_PACKAGES[@]}"
stop() { echo "talvek: $*" >&2; exit 1; }

# The package's version is the project's: a release bumps both together.
version=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
project=$(sed -n 's/^project(talvek VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
[ "$version" = "$project" ] ||
  stop "packaging/debian/changelog is at $version, CMakeLists.txt at $project"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
tree=$scratch/talvek-$version
mkdir "$tree"
tar -c --exclude=./.git --exclude=./build --exclude=./packaging \
  --exclude=_talvek . | tar -x -C "$tree"
cp -r packaging/debian "$tree/debian"
rm "$tree/debian/build.sh" "$tree/debian/NOTES.md"

# The optimizer's sources, fetched if missing and checked against their pins.
cache=${TALVEK_SOURCES_CACHE:-build/sources}
bash optimizer/fetch-sources.sh "$cache" "$scratch/unpacked"
mkdir "$tree/optimizer-sources"
awk '{ print $2 }' optimizer/sources.sha256 | (cd "$cache" && xargs cp -t "$tree/optimizer-sources")

# The copyright file: ours, then the notices of what pngcrush.bin is built
# from, each from its own source; in the file's format, every line of text
# indented, and an empty one written " .".
indented() { sed -e 's/[[:space:]]*$//' -e 's/^/ /' -e 's/^ $/ ./' "$@"; }
upstream() { awk -v p="$1" '$1 == p { print $2 }' optimizer/sources.versions; }
{
  cat <<EOF

Files: optimizer-sources/pngcrush_*
Copyright: 1998-2002, 2006-2017 Glenn Randers-Pehrson
           2005 Greg Roelofs
License: pngcrush
Comment: pngcrush $(upstream pngcrush), Debian's source package, built into
 /usr/lib/talvek/pngcrush.bin with Talvek's changes (optimizer/pngcrush-*.patch
 and optimizer/pngcrush-*.c), which are under the same licence and named in
 its notices, as the licence asks.

Files: optimizer-sources/libpng1.6_*
Copyright: 1995-2026 The PNG Reference Library Authors
           2018-2026 Cosmin Truta
           2000-2002, 2004, 2006-2018 Glenn Randers-Pehrson
           1996-1997 Andreas Dilger
           1995-1996 Guy Eric Schalnat, Group 42, Inc.
License: libpng-2.0
Comment: libpng $(upstream libpng1.6), Debian's source package with Debian's
 patches and Talvek's options (optimizer/libpng.dfa), built into
 /usr/lib/talvek/pngcrush.bin. It is linked with the system's zlib (zlib1g),
 Copyright (C) 1995-2022 Jean-loup Gailly and Mark Adler, under the Zlib
 licence above.

License: pngcrush
EOF
  indented "$scratch/unpacked/pngcrush/LICENSE" | sed '1{/^ \.$/d}'
  echo
  echo "License: libpng-2.0"
  indented "$scratch/unpacked/libpng/LICENSE"
} >> "$tree/debian/copyright"
(cd "$tree" && dpkg-buildpackage --build=binary --no-sign)

mkdir -p build/deb
rm -f build/deb/talvek_*.deb
mv "$scratch"/talvek_"$version"_*.deb build/deb/
ls build/deb/talvek_"$version"_*.deb
