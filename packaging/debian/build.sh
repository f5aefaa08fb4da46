#!/usr/bin/env bash
# Builds the Debian package from this checkout:
#   bash packaging/debian/build.sh   ->   build/deb/talvek_<version>_<arch>.deb
# The source is copied into a scratch folder with this folder as its debian/,
# and dpkg-buildpackage builds the binary package there. Every date in the
# package is SOURCE_DATE_EPOCH when it is set, else that of the latest
# changelog entry, so two builds of one commit give the same package.
set -euo pipefail
cd "$(dirname "$0")/../.."
. tools/packages.sh
install_packages "${BUILD_PACKAGES[@]}" "${DEB_BUILD_PACKAGES[@]}"

# The package's version is the project's: a release bumps both together.
version=$(dpkg-parsechangelog -l packaging/debian/changelog -S Version)
project=$(sed -n 's/^project(talvek VERSION \([^ ]*\) .*/\1/p' CMakeLists.txt)
if [ "$version" != "$project" ]; then
  echo "packaging/debian/changelog is at $version, CMakeLists.txt at $project" >&2
  exit 1
fi

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
tree=$scratch/talvek-$version
mkdir "$tree"
tar -c --exclude=./.git --exclude=./build --exclude=./packaging \
  --exclude=_talvek . | tar -x -C "$tree"
cp -r packaging/debian "$tree/debian"
rm "$tree/debian/build.sh"
(cd "$tree" && dpkg-buildpackage --build=binary --no-sign)

mkdir -p build/deb
rm -f build/deb/talvek_*.deb
mv "$scratch"/talvek_"$version"_*.deb build/deb/
ls build/deb/talvek_"$version"_*.deb
