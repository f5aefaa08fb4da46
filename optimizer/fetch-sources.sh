#!/usr/bin/env bash
# Fetches the Debian source packages of pngcrush and libpng into a cache
# folder, checks each file against the SHA-256 pinned in sources.sha256, and
# unpacks them into a build folder: pngcrush with our own changes, and
# libpng with Debian's patches applied. (zlib is Debian's own build of the
# version in sources.versions, installed, not fetched.) apt runs with its
# own state, cache and sources list under the cache folder, made from this
# machine's own Debian entries as deb-src entries, plus Debian's development suite (where the
# newest libpng is), so the system's apt set-up is not touched.
# Usage: fetch-sources.sh CACHE_DIR UNPACK_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=$(mkdir -p "$1" && cd "$1" && pwd)
unpack=$(mkdir -p "$2" && cd "$2" && pwd)
stop() { echo "talvek: cannot build pngcrush.bin: $*" >&2; exit 1; }
# Each pinned file in the cache must have its SHA-256: one that differs
# stops the build, not fetched again over, so that a change to it is seen.
# Fails when a file is missing.
pinned_present() {
  local sum file status=0
  while read -r sum file; do
    [ -e "$cache/$file" ] || { status=1; continue; }
    echo "$sum  $cache/$file" | sha256sum --status -c ||
      stop "$cache/$file does not have the SHA-256 pinned in $here/sources.sha256; delete it and build again."
  done < "$here/sources.sha256"
  return $status
}

# Writes into the folder $1 a sources list of deb-src entries: this
# machine's own entries for its Debian release (those whose suite starts
# with its code name), as apt itself reads them from either form, the
# one-line sources.list or deb822 .sources files; and beside the release's
# own archive, its development suite.
debian_sources() {
  local release development=sid
  # shellcheck source=/dev/null # the system's own file
  release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$release" ] || stop "/etc/os-release names no Debian release"
  # apt names each archive, suite and component once per architecture.
  # shellcheck disable=SC2016 # apt's own fields, not the shell's
  apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' \
      'Created-By: Packages' | sort -u |
    awk -v release="$release" -v development="$development" '
      index($2, release) == 1 { parts[$1 " " $2] = parts[$1 " " $2] " " $3 }
      END {
        for (entry in parts) {
          print "deb-src " entry parts[entry]
          split(entry, field, " ")
          if (field[2] == release) print "deb-src " field[1] " " development " main"
        }
      }' | sort > "$1/sources.list"
  grep -qs " $development " "$1/sources.list" ||
    stop "no Debian entry for $release in /etc/apt: build on Debian 12, or copy the files named in $here/sources.sha256 into $cache."
}

# One download at a time, when the 32- and 64-bit builds share the cache.
exec 9>"$cache/.lock"
flock 9

# Only missing files are fetched. apt-get source may fail on a file that is
# not needed (another package's Debian folder, say); only the pinned files
# count.
if ! pinned_present; then
  apt=$cache/apt
  rm -rf "${apt:?}/etc"
  mkdir -p "$apt/etc/sources.list.d" "$apt/state/lists/partial" "$apt/cache/archives/partial"
  debian_sources "$apt/etc"
  # The machine's own keys vouch for the archive (an entry's signed-by
  # option is not carried over).
  options=(-o "Dir::Etc=$apt/etc" -o "Dir::State=$apt/state" -o "Dir::Cache=$apt/cache"
    -o Dir::Etc::Trusted=/etc/apt/trusted.gpg -o Dir::Etc::TrustedParts=/etc/apt/trusted.gpg.d
    -o Dir::State::status=/dev/null -o Debug::NoLocking=1 -qq)
  [ "$(id -u)" -ne 0 ] || options+=(-o APT::Sandbox::User=root)
  apt-get "${options[@]}" update >"$apt/log" 2>&1 ||
    stop "apt could not reach Debian's archive (see $apt/log); connect, or copy the files named in $here/sources.sha256 into $cache."
  while read -r package version installed; do
    [ -z "$installed" ] || continue
    (cd "$cache" && apt-get "${options[@]}" source --download-only "$package=$version") \
      >>"$apt/log" 2>&1 || true
  done < "$here/sources.versions"
  while read -r _ file; do
    [ -e "$cache/$file" ] || stop "Debian's archive did not give $file; see $apt/log, or put the file in $cache by hand."
  done < "$here/sources.sha256"
  pinned_present
fi

# Unpacked afresh each time from the checked files; the cache may hold
# files of earlier pins too.
pinned() { awk -v start="$1" 'index($2, start) == 1 { print $2 }' "$here/sources.sha256"; }
rm -rf "$unpack/pngcrush" "$unpack/libpng" "$unpack/libpng-debian"
mkdir -p "$unpack/pngcrush" "$unpack/libpng" "$unpack/libpng-debian"
tar -xf "$cache/$(pinned pngcrush_)" -C "$unpack/pngcrush" --strip-components=1
tar -xf "$cache/$(pinned libpng1.6_ | grep orig)" -C "$unpack/libpng" --strip-components=1
tar -xf "$cache/$(pinned libpng1.6_ | grep debian)" -C "$unpack/libpng-debian"
# Debian's fixes for broken and hostile images: the optimizer reads whatever
# a user drops on it. Lines starting with # are patches Debian leaves out.
grep -v '^#' "$unpack/libpng-debian/debian/patches/series" | while read -r patch; do
  patch -s -d "$unpack/libpng" -p1 < "$unpack/libpng-debian/debian/patches/$patch" ||
    stop "Debian's patch $patch does not apply"
done
# Our own changes, each explained at its head, in the order of their
# numbers (10 after 9). A test build may leave some out, by name, and add
# its own, by path, one a line, so that a path may hold blanks
# (TALVEK_PATCHES_LEFT_OUT, TALVEK_PATCHES_ADDED).
mapfile -t ours < <(printf '%s\n' "$here"/*.patch | sort -V)
mapfile -t added <<<"${TALVEK_PATCHES_ADDED:-}"
for patch in "${ours[@]}" "${added[@]}"; do
  [ -n "$patch" ] || continue
  [[ " ${TALVEK_PATCHES_LEFT_OUT:-} " != *" ${patch##*/} "* ]] || continue
  patch -s -d "$unpack" -p1 < "$patch" || stop "$(basename "$patch") does not apply"
done
