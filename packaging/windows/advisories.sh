#!/usr/bin/env bash
# Checks that every CVE which Debian's changelog of this machine's libpng
# names is either fixed in the pinned libpng, by its own CHANGES, or listed
# in advisories.txt with the reason it cannot reach our build. So a new
# Debian security upload of libpng stops the release until someone has
# looked at it. Prints one line and fails otherwise.
# Usage: advisories.sh LIBPNG_SOURCE_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
changes=$1/CHANGES
changelog=/usr/share/doc/libpng16-16/changelog.Debian.gz
[ -r "$changelog" ] ||
  { echo "talvek: $changelog is missing; install libpng16-16 to check libpng's advisories" >&2; exit 1; }
[ -r "$changes" ] || { echo "talvek: $changes is missing" >&2; exit 1; }
unknown=()
# Debian writes some as "CVE 2026-33416".
for cve in $(zcat "$changelog" | grep -oE 'CVE[- ][0-9]{4}-[0-9]+' | tr ' ' - | sort -u); do
  grep -qw -- "$cve" "$changes" || grep -q "^$cve " "$here/advisories.txt" || unknown+=("$cve")
done
[ ${#unknown[@]} -eq 0 ] || {
  echo "talvek: ${unknown[*]}, named in $changelog, neither fixed in the pinned libpng nor listed in $here/advisories.txt" >&2
  exit 1
}
