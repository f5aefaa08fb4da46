#!/usr/bin/env bash
# Fetches the Debian source packages of pngcrush and libpng into a cache
# folder, checks each file against the SHA-256 pinned in sources.sha256, and
# unpacks them into a build folder: pngcrush, and libpng with Debian's
# patches applied. apt runs with its own state, cache and sources list under
# the cache folder, made from this machine's Debian entry with
# "Types: deb-src", so the system's apt set-up is not touched.
# Usage: fetch-sources.sh CACHE_DIR UNPACK_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=$(mkdir -p "$1" && cd "$1" && pwd)
unpack=$(mkdir -p "$2" && cd "$2" && pwd)
stop() { echo "talvek: cannot build pngcrush.bin: $*" >&2; exit 1; }
pinned_ok() { (cd "$cache" && sha256sum --status -c "$here/sources.sha256") 2>/dev/null; }

# One download at a time, when the 32- and 64-bit builds share the cache.
exec 9>"$cache/.lock"
flock 9

# apt-get source may fail on a file that is not needed (another package's
# Debian folder, say); only the pinned files count.
if ! pinned_ok; then
  entry=/etc/apt/sources.list.d/debian.sources
  [ -r "$entry" ] || stop "$entry is missing: build on Debian 12, or copy the files named in $here/sources.sha256 into $cache."
  apt=$cache/apt
  mkdir -p "$apt/etc/sources.list.d" "$apt/state/lists/partial" "$apt/cache/archives/partial"
  sed 's/^Types:.*/Types: deb-src/' "$entry" > "$apt/etc/sources.list.d/debian.sources"
  options=(-o "Dir::Etc=$apt/etc" -o "Dir::State=$apt/state" -o "Dir::Cache=$apt/cache"
    -o Dir::State::status=/dev/null -o Debug::NoLocking=1 -qq)
  [ "$(id -u)" -ne 0 ] || options+=(-o APT::Sandbox::User=root)
  apt-get "${options[@]}" update >"$apt/log" 2>&1 ||
    stop "apt could not reach Debian's archive (see $apt/log); connect, or copy the files named in $here/sources.sha256 into $cache."
  while read -r package version; do
    (cd "$cache" && apt-get "${options[@]}" source --download-only "$package=$version") \
      >>"$apt/log" 2>&1 || true
  done < "$here/sources.versions"
  while read -r sum file; do
    [ -e "$cache/$file" ] || stop "Debian's archive did not give $file; see $apt/log, or put the file in $cache by hand."
    echo "$sum  $cache/$file" | sha256sum --status -c ||
      stop "$cache/$file does not have the SHA-256 pinned in $here/sources.sha256; delete it and build again."
  done < "$here/sources.sha256"
fi

# Unpacked afresh each time from the checked files.
rm -rf "$unpack/pngcrush" "$unpack/libpng" "$unpack/libpng-debian"
mkdir -p "$unpack/pngcrush" "$unpack/libpng" "$unpack/libpng-debian"
tar -xf "$cache"/pngcrush_*.orig.tar.* -C "$unpack/pngcrush" --strip-components=1
tar -xf "$cache"/libpng1.6_*.orig.tar.* -C "$unpack/libpng" --strip-components=1
tar -xf "$cache"/libpng1.6_*.debian.tar.* -C "$unpack/libpng-debian"
# Debian's fixes for broken and hostile images: the optimizer reads whatever
# a user drops on it. Lines starting with # are patches Debian leaves out.
grep -v '^#' "$unpack/libpng-debian/debian/patches/series" | while read -r patch; do
  patch -s -d "$unpack/libpng" -p1 < "$unpack/libpng-debian/debian/patches/$patch" ||
    stop "Debian's patch $patch does not apply"
done
