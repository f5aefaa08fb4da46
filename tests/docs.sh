#!/usr/bin/env bash
# The figures the users' documents give, against where each is measured
# (bench/README.md) or set (the code), within their rounding; and every
# version a document names, against optimizer/sources.versions.
# Usage: docs.sh source-folder
set -u
cd "$1" || exit 1
. tests/lib.sh

# One row a figure: the document | its words, the figure in braces | the
# source, "HEADING > IMAGE > ROW > CELL [UNIT]" in bench/README.md (IMAGE "-"
# for any; cells joined by " / ") or "FILE: NAME [UNIT]" | how far, or "under".
read -r -d '' figures <<'TABLE'
README.md          | screenshot takes about {1.5 s}             | The optimizer > screenshot.png > ours now / all > 3 s | 0.05 s
README.md          | photo about {5.5 s}                        | The optimizer > photo.png > ours now / all > 3 s | 0.5 s
README.md          | own pngcrush takes {8.6 s}                 | The optimizer > screenshot.png > Debian's pngcrush / 1 > 3 s | 0.05 s
README.md          | 8.6 s and {16.8 s}                         | The optimizer > photo.png > Debian's pngcrush / 1 > 3 s | 0.05 s
README.md          | 20 % smaller, {1.5 s}                      | The optimizer > screenshot.png > ours now / all > 3 s | 0.05 s
README.md          | its first optimizer run {1.5 ms} after     | Figures > - > Start of process to first optimizer start > 2 | 0.05 ms
README.md          | and uses under {1 MiB}                     | Figures > - > Peak memory (max RSS), 10000 files > 2 | under
README.md          | in at most {64} processes                  | optimizer/pngcrush-workers-os.h: MAX_WORKERS | 0
README.md          | when the image has {128 KiB} of raw pixels | optimizer/pngcrush-workers.c: SIDE_BY_SIDE_MIN_BYTES B | 0
resources/talvek.1 | screenshot takes about {1.5 s}             | The optimizer > screenshot.png > ours now / all > 3 s | 0.05 s
resources/talvek.1 | photo about {5.5 s}                        | The optimizer > photo.png > ours now / all > 3 s | 0.5 s
resources/talvek.1 | pngcrush takes {8.6 s}                     | The optimizer > screenshot.png > Debian's pngcrush / 1 > 3 s | 0.05 s
resources/talvek.1 | 8.6 s and {16.8 s}                         | The optimizer > photo.png > Debian's pngcrush / 1 > 3 s | 0.05 s
resources/talvek.1 | 0.1 % smaller, {5.6 s}                     | The optimizer > photo.png > ours now / all > 3 s | 0.05 s
resources/talvek.1 | 20 % smaller, {1.5 s}                      | The optimizer > screenshot.png > ours now / all > 3 s | 0.05 s
resources/talvek.1 | in at most {64} processes                  | optimizer/pngcrush-workers-os.h: MAX_WORKERS | 0
resources/talvek.1 | less than {128 KiB} of raw pixels          | optimizer/pngcrush-workers.c: SIDE_BY_SIDE_MIN_BYTES B | 0
resources/talvek.1 | one longer than {2047} bytes               | driver/talvek.h: LongestTail | 0
packaging/windows/README.txt | 48 x 48 icon under {a second}    | One image: what a Windows user waits for > icon.png > win64 under Wine, one process a processor > 2 s | under
packaging/windows/README.txt | screenshot about {2 seconds}     | One image: what a Windows user waits for > screenshot.png > win64 under Wine, one process a processor > 2 s | 0.5 s
packaging/windows/README.txt | photo about {6 seconds}          | One image: what a Windows user waits for > photo.png > win64 under Wine, one process a processor > 2 s | 0.5 s
packaging/windows/README.txt | at once, up to {64},             | optimizer/pngcrush-workers-os.h: MAX_WORKERS | 0
packaging/windows/README.txt | less than {128 KiB} of pixels    | optimizer/pngcrush-workers.c: SIDE_BY_SIDE_MIN_BYTES B | 0
packaging/windows/README.txt | run past {2047} characters       | driver/talvek.h: LongestTail | 0
TABLE

# amount TEXT [UNIT]: the number TEXT begins with ("a" is one), in seconds
# or bytes by the unit after it, else UNIT; "?" when there is none.
amount() {
  awk -v t="$1" -v u="${2:-}" 'BEGIN { n = split("s 1 second 1 seconds 1 ms 0.001 us 0.000001 B 1 " \
      "bytes 1 KiB 1024 MiB 1048576", f, " "); for (i = 1; i < n; i += 2) unit[f[i]] = f[i + 1]
    split(t, w, " "); v = w[1] == "a" ? 1 : w[1]; if (w[2] != "") u = w[2]
    if (v !~ /^[0-9]+([.][0-9]+)?$/ || (u != "" && !(u in unit))) print "?"
    else printf "%.9g\n", v * (u == "" ? 1 : unit[u]) }'
}

# measured HEADING IMAGE ROW CELL: that cell of bench/README.md, as above.
measured() {
  awk -v heading="$1" -v image="$2" -v row="$3" -v cell="$4" '
    /^#/ { sub(/^#+ +/, ""); inside = $0 == heading; seen = image == "-"; next }
    !inside || !/^\|/ { next }
    { n = split($0, c, "|"); line = ""; for (i = 2; i < n; i++) { gsub(/^ +| +$/, "", c[i]); line = line c[i] " / " } }
    !seen { seen = index(c[2], image) == 1; next }
    index(line, row " / ") == 1 { print c[cell + 1]; exit }' bench/README.md
}

group "Each figure of the users' documents matches where it is measured or set"
checked=0
while IFS='|' read -r document written source within; do
  read -r document <<<"$document"; read -r written <<<"$written"
  read -r source <<<"$source"; read -r within <<<"$within"
  figure=${written#*\{} figure=${figure%%\}*} words=${written//[\{\}]/}
  if ! tr -s ' \n\t' '   ' <"$document" | grep -qF -- "$words"; then
    fail "$document does not say \"$words\""; continue
  fi
  if [[ $source == *' > '* ]]; then
    IFS=$'\x1f' read -r heading image row place <<<"${source// > /$'\x1f'}"
    value=$(measured "$heading" "$image" "$row" "${place%% *}") unit=${place#"${place%% *}"}
  else # a constant of the code: a #define, or NAME = VALUE
    read -r name unit <<<"${source#*: }"
    value=$(sed -nE "s/^\s*(#define\s+$name\s+|$name\s*=\s*)([0-9.]+).*/\2/p" "${source%%: *}" | head -1)
  fi
  said=$(amount "$figure") got=$(amount "$value" "${unit# }")
  if [ -z "$value" ] || [ "$got" = "?" ] || [ "$said" = "?" ]; then
    fail "$document, \"$words\": no figure found in $source"
  elif ! awk -v said="$said" -v got="$got" -v within="$within" -v step="$(amount "$within")" \
      'BEGIN { d = said - got; exit !(within == "under" ? got < said : d * d <= step * step * 1.000001) }'; then
    fail "$document says \"$words\", but $source is $value"
  fi
  checked=$((checked + 1))
done <<<"$figures"
echo "$checked figures checked"

group "Each version that a document names is the one pinned in optimizer/sources.versions"
named=0
for document in README.md DEVELOPING.md optimizer/README.md bench/README.md packaging/windows/README.txt \
    packaging/windows/RELEASE.md packaging/debian/NOTES.md resources/talvek.1 packaging/debian/changelog; do
  # The changelog's newest entry only; a name perhaps in Markdown's backquotes.
  # shellcheck disable=SC2016 # backquotes, not a command
  while read -r name version; do
    name=${name//\`/} version=${version%.}
    case $name in libpng*) name=libpng1.6 ;; zlib) name=libz-mingw-w64 ;; esac
    pin=$(awk -v p="$name" '$1 == p { print $2 }' optimizer/sources.versions)
    [ "$version" = "$pin" ] || [ "$version" = "${pin%%[-+]*}" ] ||
      fail "$document names ${name%1.6} $version; the pin is $pin"
    named=$((named + 1))
  done < <(sed '/^ -- /q' "$document" | tr -s ' \n' '  ' |
    grep -oE '`?(pngcrush|libpng1\.6|libpng|libz-mingw-w64|zlib)`? [0-9]+\.[0-9][0-9A-Za-z.+~-]*')
done
[ "$named" -gt 0 ] || fail "no document names a version: is the pattern wrong?"
echo "$named versions named"
finish
