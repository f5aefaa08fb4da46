#!/usr/bin/env bash
# Checks that every CVE which Debian's changelog of this machine's libpng
# names is either fixed in the pinned libpng, by its own CHANGES, or listed
# in advisories.txt with the reason it cannot reach our build. So a new
# Debian security upload of libpng stops the release until someone has
# looked at it. A CVE that the ledger explains away by libpng options left
# out also needs each of them off in the build's pnglibconf.h. Prints
# "libpng advisories: N checked, all accounted for", or one line on stderr
# and fails.
# Usage: advisories.sh LIBPNG_BUILD_DIR (the unpacked libpng, with its pnglibconf.h)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
changes=$1/CHANGES config=$1/pnglibconf.h
changelog=/usr/share/doc/libpng16-16/changelog.Debian.gz
[ -r "$changelog" ] ||
  { echo "talvek: $changelog is missing; install libpng16-16 to check libpng's advisories" >&2; exit 1; }
[ -r "$changes" ] && [ -r "$config" ] || { echo "talvek: $changes or $config is missing" >&2; exit 1; }
unknown=() checked=0
# Debian writes some as "CVE 2026-33416".
for cve in $(zcat "$changelog" | grep -oE 'CVE[- ][0-9]{4}-[0-9]+' | tr ' ' - | sort -u); do
  checked=$((checked + 1))
  grep -qw -- "$cve" "$changes" && continue
  options=$(awk -v cve="$cve" '$1 == cve { print $2 }' "$here/advisories.txt")
  [ -n "$options" ] || { unknown+=("$cve"); continue; }
  for option in ${options//,/ }; do
    [ "$option" = - ] || { grep -qx "/\*#undef PNG_${option}_SUPPORTED\*/" "$config" &&
      ! grep -qx "#define PNG_${option}_SUPPORTED" "$config"; } ||
      { echo "talvek: $here/advisories.txt accounts for $cve by $option off, but $config does not have it off" >&2; exit 1; }
  done
done
[ ${#unknown[@]} -eq 0 ] || {
  echo "talvek: ${unknown[*]}, named in $changelog, neither fixed in the pinned libpng nor listed in $here/advisories.txt" >&2
  exit 1
}
echo "libpng advisories: $checked checked, all accounted for"
