#!/usr/bin/env bash
# The built talvek with the optimizer built beside it, on the sample
# images, the corpus of real and broken PNG images (tests/corpus.sh) and the
# images of tests/chunks.py, run the way a user runs it; and the pixel
# oracle, against Debian's pngcrush.
# Usage: TALVEK_HOME_PAGE=http://HOST/soft/talvek \
#   integration.sh path/to/talvek source-folder
set -u
talvek=$(realpath "$1")
source=$2
home=${TALVEK_HOME_PAGE:?the home page this build opens, set by CTest}
corpus=$(bash "$source/tests/corpus.sh" "$source") || exit 1
. "$source/tests/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Standard error is no terminal: both outputs must be what stdout always said.
run() { timeout 600 "$talvek" "$@" 2>&1; }

group "A folder with blanks and non-ASCII letters, quoted and unquoted"
pics="$work/Fotos de año"
mkdir "$pics"
cp "$source"/examples/*.[pP][nN][gG] "$pics"
cp "$pics/sunset.png" "$pics/-brute.png"
cp "$pics/glass.png" "$pics/-ow.png"
before=$(fingerprint "$pics")
mkdir "$work/start"
out=$(cd "$work/start" && run "$pics")
[ "$out" = "Talvek: Listo" ] || fail "folder run said: $out"
check_copies "$pics"
rm -r "$pics/_talvek"
# shellcheck disable=SC2086  # several words on purpose
out=$(cd "$work/start" && run $pics)
[ "$out" = "Talvek: Listo" ] || fail "unquoted folder run said: $out"
check_copies "$pics"
[ "$(fingerprint "$pics")" = "$before" ] || fail "inputs changed"
[ -z "$(ls -A "$work/start")" ] || fail "wrote to the current folder"

group "Listo as a desktop notification with the run's figures, and none without a desktop"
# Stand-ins for notify-send: one that records its arguments, one that fails
# and one that hangs; none of them may change the run.
mkdir "$work/notify" "$work/failing" "$work/hanging"
printf '#!/bin/sh\nprintf "%%s|" "$@" >> "%s/notified"\n' "$work" > "$work/notify/notify-send"
printf '#!/bin/sh\nexit 1\n' > "$work/failing/notify-send"
printf '#!/bin/sh\necho $$ > "%s/hanging.pid"\nexec sleep 60\n' "$work" > "$work/hanging/notify-send"
chmod +x "$work"/{notify,failing,hanging}/notify-send
notified() { await "$work/notified" "${1:-30}"; }
# A folder whose name is markup, with an image and a text file named .png.
note="$work/one <picture> & co"
mkdir "$note"
cp "$source/examples/glass.png" "$note"
echo "not a picture" > "$note/xtext.png"
# desktop NOTIFIED NOTIFY-FOLDER VARIABLES...: a folder run with the stand-in
# first on the PATH ends at once with status 0, says Listo, makes the copy,
# and notifies the run's figures and folder (NOTIFIED yes), or does not.
desktop() {
  local notify=$1 bin=$2 out status got expected='' size copy
  shift 2
  rm -rf "$note/_talvek"
  out=$(cd "$work/start" && env "$@" PATH="$bin:$PATH" timeout 30 "$talvek" "$note" 2>&1)
  status=$?
  [ $status -eq 0 ] && [ "$out" = "Talvek: Listo" ] || fail "with $*: status $status, said $out"
  check_copies "$note"
  [ -z "$(ls -A "$work/start")" ] || fail "with $*: wrote to the current folder"
  if [ "$notify" = yes ]; then
    size=$(stat -c %s "$note/glass.png") copy=$(stat -c %s "$note/_talvek/glass.png")
    expected="--app-name=Talvek|--icon=talvek|--|Talvek|Listo: 1 copy, $(size_words "$size") → $(size_words "$copy") ($(change_words "$size" "$copy")), 1 without a copy
one &lt;picture&gt; &amp; co|"
  fi
  got=$(notified "$([ -n "$expected" ] && echo 30 || echo 1)")
  [ "$got" = "$expected" ] || fail "with $*: notified '$got'"
}
desktop yes "$work/notify" DISPLAY=:99
desktop yes "$work/notify" WAYLAND_DISPLAY=wayland-0
desktop "" "$work/notify"
desktop "" "$work/notify" DISPLAY= WAYLAND_DISPLAY=
desktop "" "$work/failing" DISPLAY=:99
desktop "" "$work/hanging" DISPLAY=:99
[ -s "$work/hanging.pid" ] && kill "$(cat "$work/hanging.pid")" 2>/dev/null ||
  fail "hanging stand-in not started, or already ended"

group "Every test image, broken ones included: every pixel kept, no copy larger than its input, and Debian's pngcrush's bytes wherever its copy keeps every pixel, or the input's own data where that is smaller"
test_images "$work/suite"
crush_all "$work/suite" "$work/debian"
debian_loses=$(lost_by "$work/suite" "$work/debian")
cp -r "$work/debian" "$work/yardstick"
yardstick "$work/suite" "$work/yardstick"
echo "Debian's pngcrush loses pixels of, or makes no copy of: ${debian_loses//$'\n'/ }"
before=$(fingerprint "$work/suite")
out=$(cd "$work" && run "$work/suite")
[ "$out" = "Talvek: Listo" ] || fail "the run said: $out"
check_copies "$work/suite"
# shellcheck disable=SC2086 # names, one a word
same_bytes "$work/suite" "$work/yardstick" "Debian's pngcrush or the input's own data" $debian_loses
[ "$(ls "$work/suite/_talvek" | grep -vc '^invalid-')" -eq "$(ls "$work/suite" | grep -vc '^invalid-\|^_talvek$')" ] ||
  fail "wrong number of copies"
[ "$(fingerprint "$work/suite")" = "$before" ] || fail "inputs changed"

group "A file run from another folder, extension in capitals"
mkdir "$work/one" "$work/elsewhere"
cp "$source/examples/Tiles.PNG" "$source/examples/glass.png" "$work/one"
out=$(cd "$work/elsewhere" && run "$work/one/Tiles.PNG")
[ -z "$out" ] || fail "file run said: $out"
[ -s "$work/one/_talvek/Tiles.png" ] || fail "no Tiles.png copy"
same_pixels "$work/one/Tiles.PNG" "$work/one/_talvek/Tiles.png" >/dev/null ||
  fail "Tiles.png pixels differ"
[ "$(ls "$work/one/_talvek")" = Tiles.png ] || fail "file run made other copies"
[ -z "$(ls -A "$work/elsewhere")" ] || fail "file run wrote to the current folder"
# Folders and names spelled in another case are found, as on Windows.
out=$(cd "$work/elsewhere" && run "$work/ONE/TILES.png")
[ -z "$out" ] && cmp -s "$work/one/_talvek/Tiles.png" "$work/one/_talvek/TILES.png" ||
  fail "another spelling was not found"
rm "$work/one/_talvek/TILES.png"
cp "$work/one/glass.png" "$work/one/glass.png.bak"
out=$(cd "$work/elsewhere" && run "$work/one/glass.png.bak")
[ -z "$out" ] && [ "$(ls "$work/one/_talvek")" = Tiles.png ] ||
  fail "a name that is no PNG was run"

group "A folder with no match, and one that does not exist"
mkdir "$work/none"
touch "$work/none/notes.txt" "$work/none/a.png.bak"
out=$(run "$work/none")
[ -z "$out" ] && [ ! -e "$work/none/_talvek" ] || fail "empty folder run: $out"
out=$(cd "$pics" && run "$work/missing")
[ -z "$out" ] || fail "missing folder said: $out"

group "The pixel oracle: it sees what Debian's pngcrush loses, and passes equal pixels in another form"
/usr/bin/python3 "$source/tests/chunks.py" --same "$work/pairs"
for first in "$work"/pairs/*-a.png; do
  pair=${first%-a.png}
  said=$(same_pixels "$first" "$pair-b.png")
  case $? in
    0) [[ $pair == */same-* ]] || fail "${pair##*/}: one sample differs, and the oracle passed it" ;;
    1) [[ $pair == */differ-* ]] || fail "${pair##*/}: $said" ;;
    *) fail "${pair##*/}: $said" ;;
  esac
done
# Each image named trns-lost-* loses pixels in Debian's pngcrush, or gets
# no copy (Debian's copies of every test image, above); the oracle must
# see every loss.
lost=0
for image in "$work"/suite/trns-lost-*.png; do
  name=${image##*/}
  [ -e "$work/debian/$name" ] || continue
  said=$(same_pixels "$image" "$work/debian/$name")
  [ $? -eq 1 ] && lost=$((lost + 1)) || fail "$name: the oracle said '$said' of Debian's copy"
done
[ $lost -ge 7 ] || fail "the oracle saw Debian's pngcrush lose pixels in $lost images, not 7"
[ "${debian_loses//$'\n'/ }" = "$(cd "$work/suite" && echo trns-dead-*.png trns-lost-*.png)" ] ||
  fail "Debian's pngcrush loses: $debian_loses; not every trns-lost-* image and no other"
# A key matching no pixel is dropped: smaller than Debian's lucky copy.
for image in "$work"/suite/trns-dead-*.png; do
  name=${image##*/}
  same_pixels "$image" "$work/debian/$name" >/dev/null &&
    [ "$(stat -c %s "$work/suite/_talvek/$name")" -lt "$(stat -c %s "$work/debian/$name")" ] ||
    fail "$name: Debian's copy lost pixels, or ours is no smaller"
done

group "The home page, and the 2047-byte limit"
mkdir "$work/bin"
printf '#!/bin/sh\necho "$@" >> "%s/opened"\n' "$work" > "$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
opened() { await "$work/opened" 30; }
PATH="$work/bin:$PATH" run
[ "$(opened)" = "$home" ] || fail "home page not opened"
long=$work/long
while [ ${#long} -lt 1900 ]; do long=$long/$(printf 'd%.0s' $(seq 100)); done
long=$long/$(printf 'e%.0s' $(seq $((2047 - ${#long} - 1))))
mkdir -p "$long"
cp "$source/examples/fog.png" "$long"
out=$(PATH="$work/bin:$PATH" run "$long")
[ "${#long}" -eq 2047 ] && [ "$out" = "Talvek: Listo" ] && [ -s "$long/_talvek/fog.png" ] ||
  fail "2047-byte folder not run: $out"
mkdir "${long}f"
cp "$source/examples/fog.png" "${long}f"
out=$(PATH="$work/bin:$PATH" run "${long}f")
[ -z "$out" ] && [ ! -e "${long}f/_talvek" ] && [ "$(opened)" = "$home" ] ||
  fail "2048-byte tail did not open the home page"
out=$(PATH=/nonexistent "$talvek" 2>&1)
[ "$out" = "$home" ] || fail "no xdg-open: $out"

group "Installed under ~/.local, run from there, and removed by README.md's steps"
# The removal's lines, as README.md gives them, run with a scratch home.
removal=$(awk '/^To remove an install under/ { found = 1 } found && /^    / { print; took = 1 }
  took && /^[^ ]/ { exit }' "$source/README.md")
user=$work/user
mkdir -p "$user/pics"
cp "$source/examples/glass.png" "$user/pics"
if ! HOME=$user cmake --install "$(dirname "$talvek")" --prefix "$user/.local" >"$work/install.log" 2>&1; then
  fail "cmake --install: $(tail -3 "$work/install.log")"
elif ! out=$(timeout 600 "$user/.local/bin/talvek" "$user/pics" 2>&1) || [ "$out" != "Talvek: Listo" ]; then
  fail "the installed talvek said: $out"
elif check_copies "$user/pics" && [ -z "$removal" ]; then
  fail "README.md gives no removal steps"
elif ! HOME=$user bash -euc "$removal" 2>"$work/removal.log"; then
  fail "the removal steps failed: $(cat "$work/removal.log")"
fi
left=$(find "$user/.local" ! -type d)
[ -z "$left" ] && [ ! -e "$user/.local/lib/talvek" ] || fail "left after the removal: $left"

finish
