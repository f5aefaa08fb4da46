#!/usr/bin/env bash
# Tries to break the promise: whatever it is given, talvek exits 0, leaves
# every input byte-identical, creates or changes nothing outside
# <input folder>/_talvek, and says "Listo" only after a folder run that
# matched something and could start the optimizer.
# Usage: TALVEK_HOME_PAGE=http://HOST/soft/talvek \
#   robustness.sh path/to/talvek path/to/stand-in source-folder
set -u
talvek=$(realpath "$1")
stand_in=$(realpath "$2")
source=$(realpath "$3")
home=${TALVEK_HOME_PAGE:?the home page this build opens, set by CTest}
corpus=$(bash "$source/tests/corpus.sh" "$source") || exit 1
. "$source/tests/lib.sh"
# Root runs some cases as nobody, who must reach the work folder's programs.
umask 022
work=$(mktemp -d)
chmod 755 "$work"
trap 'chmod -R u+rwx "$work"; rm -rf "$work"' EXIT
as_user=()

# Tool folders: the real optimizer, the stand-in, and none at all.
for kind in real stand none; do mkdir "$work/$kind"; cp "$talvek" "$work/$kind/talvek"; done
# A copy: nobody may not reach the build folder.
cp "$(dirname "$talvek")/pngcrush.bin" "$work/real/pngcrush.bin"
cp "$stand_in" "$work/stand/pngcrush.bin"
# The folder every run starts in, with a PNG of its own: a run that falls
# back on it instead of its input would change it.
mkdir "$work/cwd"
cp "$source/examples/fog.png" "$work/cwd/here.png"
export STAND_IN_LOG=$work/log

# Everything under the work folder except one output folder, with contents.
snapshot() {
  (cd "$work" && find . -path "./${1#"$work"/}/_talvek" -type d -prune -o \
      ! -path ./log -printf '%y %m %p\n' 2>/dev/null | LC_ALL=C sort &&
    find . -path "./${1#"$work"/}/_talvek" -type d -prune -o -type f \
      ! -path ./log -print0 2>/dev/null | xargs -0r sha256sum | LC_ALL=C sort)
}

# check LISTO INPUT-FOLDER TOOL [ARGUMENTS...]: runs talvek from the cwd
# folder, rid of any _talvek, and checks the promise; LISTO is yes or no,
# INPUT-FOLDER - for none. Standard error, no terminal, stays silent.
check() {
  local listo=$1 input=$2 tool=$3 before out status
  shift 3
  rm -rf "$work/cwd/_talvek"
  before=$(snapshot "$input")
  out=$(cd "$work/cwd" && timeout 600 "${as_user[@]}" "$work/$tool/talvek" "$@" 2>&1)
  status=$?
  [ $status -eq 0 ] || fail "exit status $status for $*"
  if [ "$listo" = yes ]; then
    [ "$out" = "Talvek: Listo" ] || fail "said '$out' for $*"
  else
    [ -z "$out" ] || fail "said '$out' for $*"
  fi
  [ "$(snapshot "$input")" = "$before" ] || fail "something else changed for $*"
}

# The operands the stand-in saw, one "input<tab>output" line per run (the
# options before them are checked in the first group).
seen() { cut -f5- "$STAND_IN_LOG" 2>/dev/null | LC_ALL=C sort; rm -f "$STAND_IN_LOG"; }

group "Names: blanks, non-ASCII, dashes, 255 bytes, quotes and backslashes"
names=$work/names
mkdir "$names" "$names/sub.png"
long=$(printf 'l%.0s' $(seq 251)).png
for name in "a b.png" "año ñ.png" -brute.png --.png --ow.png -rem "$long" \
    'q"uote.png' 'back\slash.png' uote.png slash.png; do
  cp "$source/examples/fog.png" "$names/$name"
done
check yes "$names" stand "$names"
[ "$(cut -f-4 "$STAND_IN_LOG" | sort -u)" = "$(printf -- '-rem\talla\t-brute\t-reduce')" ] ||
  fail "options differ"
expected=$(for name in "a b.png" "año ñ.png" "$long" uote.png slash.png; do
    printf '%s\t./_talvek/%s\n' "$name" "$name"; done
  for name in -brute.png --.png --ow.png; do
    printf './%s\t./_talvek/%s\n' "$name" "$name"; done)
[ "$(seen)" = "$(echo "$expected" | LC_ALL=C sort)" ] || fail "operands differ"
rm -r "$names/_talvek"
check yes "$names" real "$names"
[ "$(ls "$names/_talvek" | wc -l)" -eq 8 ] || fail "not 8 copies"
for name in "a b.png" "año ñ.png" -brute.png --.png --ow.png "$long"; do
  same_pixels "$names/$name" "$names/_talvek/$name" >/dev/null ||
    fail "$name not optimized"
done
for name in 'q"uote.png' 'back\slash.png'; do
  check no "$names" stand "$names/$name"
  [ -z "$(seen)" ] || fail "$name was run"
done
check no "$names" real "$names/-ReM.PNG"

group "Content: broken, empty, random and text files among valid ones"
mixed=$work/mixed
mkdir "$mixed"
cp "$source"/examples/*.[pP][nN][gG] "$corpus"/invalid-*.png "$mixed"
head -c 1500 "$source/examples/sunset.png" > "$mixed/xtruncated.png"
head -c 33 "$source/examples/glass.png" > "$mixed/xheader-only.png"
: > "$mixed/xempty.png"
head -c 4096 /dev/urandom > "$mixed/xrandom.png"
echo "not a picture" > "$mixed/xtext.png"
check yes "$mixed" real "$mixed"
check_copies "$mixed"

group "Faults: no optimizer, one that fails, one killed by a signal"
faults=$work/faults
mkdir "$faults"
for n in 1 2 3 4 5; do cp "$source/examples/fog.png" "$faults/f$n.png"; done
# Not one run could start, so nothing was done: no Listo.
check no "$faults" none "$faults"
for mode in fail kill; do
  STAND_IN=$mode check yes "$faults" stand "$faults"
  [ "$(seen | wc -l)" -eq 5 ] || fail "not every file was tried with $mode"
  [ -z "$(ls -A "$faults/_talvek")" ] || fail "copies left by $mode"
done

group "On a terminal: each image and why one has no copy, a summary, the status line, messages"
term=$work/term
mkdir "$term" "$term/shots" "$term/one" "$term/none" "$term/--help"
# on_terminal FOLDER TOOL PATH: talvek run from FOLDER (as $as_user) with
# standard error on a pseudo-terminal, standard output in $term/stdout;
# prints what the terminal showed. The terminal stays T_LINGER seconds,
# since its hanging up ends what talvek started.
on_terminal() {
  # shellcheck disable=SC2016 # the terminal's own shell expands them
  "${as_user[@]}" env -u STAND_IN_LOG T_FOLDER="$1" T_TALVEK="$work/$2/talvek" T_PATH="$3" T_OUT="$term/stdout" \
    timeout 120 script -qec 'cd "$T_FOLDER" && "$T_TALVEK" "$T_PATH" >"$T_OUT"; sleep "${T_LINGER:-0}"' /dev/null \
    </dev/null | sed 's/\r$//'
}
shows() { grep -qxF -- "$1" <<<"$said" || fail "not shown: '$1', in: $said"; }
ctl=$'ctl\e[2J\a\xff.png'
cp "$source/examples/glass.png" "$term/shots"
cp "$source/examples/sunset.png" "$term/shots/$ctl"
cp "$corpus/invalid-crc32.png" "$term/shots"
echo "not a picture" > "$term/shots/text.png"
said=$(on_terminal "$term" real "$term/shots")
[ "$(cat "$term/stdout")" = "Talvek: Listo" ] || fail "standard output: $(cat "$term/stdout")"
# No control character of the name reaches the terminal, but the report's.
# shellcheck disable=SC2001 # a pattern of control characters
sed 's/\r\x1b\[K//g' <<<"$said" | tr -d '\n' | LC_ALL=C grep -q '[[:cntrl:]]' &&
  fail "a control character reached the terminal: $(cat -A <<<"$said")"
# What stays on the screen: each line as last drawn over its status line.
# shellcheck disable=SC2001 # a pattern, to the line's last clearing
said=$(sed 's/.*\r\x1b\[K//' <<<"$said")
[ "$(grep -o '^\[[0-9]*/4\]' <<<"$said" | sort | tr -d '\n')" = "[1/4][2/4][3/4][4/4]" ] ||
  fail "images not numbered 1 to 4 of 4: $said"
g=$(stat -c %s "$term/shots/glass.png") gc=$(stat -c %s "$term/shots/_talvek/glass.png")
c=$(stat -c %s "$term/shots/$ctl") cc=$(stat -c %s "$term/shots/_talvek/$ctl")
# The times vary: each line is compared without its own.
said=$(sed -E 's/^\[[0-9]\/4\] //; s/[,;] [0-9][^,;]* s$//' <<<"$said")
shows "glass.png: $(size_words "$g") → $(size_words "$gc"), $(change_words "$g" "$gc")"
shows 'ctl\x1b[2J\x07\xff.png'": $(size_words "$c") → $(size_words "$cc"), $(change_words "$c" "$cc")"
shows "invalid-crc32.png: no copy, damaged"
shows "text.png: no copy, not a PNG file"
shows "4 images: 2 copies, 2 without a copy; $(size_words $((g + c))) → $(size_words $((gc + cc))), $(change_words $((g + c)) $((gc + cc)))"
# A slow image's status line, redrawn at most twice a second, then its line.
cp "$source/examples/fog.png" "$term/one/a.png"
said=$(STAND_IN=slow on_terminal "$term" stand "$term/one")
draws=$(grep -o $'\r\e\\[K\\[1/1\\] a\\.png, [0-9.]* s' <<<"$said" | wc -l)
[ "$draws" -ge 1 ] && [ "$draws" -le 4 ] && grep -q $'\r\e\\[K\\[1/1\\] a\\.png: [0-9]* B → ' <<<"$said" ||
  fail "status line drawn $draws times for 1.6 s: $(cat -A <<<"$said")"
said=$(STAND_IN=kept on_terminal "$term" stand "$term/one")
grep -q "^\[1/1\] a\.png: .*, kept the original's own compression$" <<<"$said" || fail "kept data not said: $said"
# shellcheck disable=SC2209 # the stand-in's way to fail, not a command
said=$(STAND_IN=kill on_terminal "$term" stand "$term/one")
grep -q '^\[1/1\] a\.png: no copy, the optimizer failed (killed by signal 9), ' <<<"$said" || fail "killed: $said"
said=$(on_terminal "$term" none "$term/one")
[ "$(tail -1 <<<"$said")" = "talvek: cannot start the optimizer $work/none/pngcrush.bin: No such file or directory; no copy was made" ] ||
  fail "no optimizer: $said"
# A file run's line has no number; runs that did nothing say why.
said=$(on_terminal "$term" stand "$term/one/a.png")
grep -qx 'a\.png: [0-9]* B → [0-9]* B, the same size, [0-9.]* s' <<<"$said" || fail "file run: $said"
touch "$term/none/notes.txt"
said=$(on_terminal "$term" real "$term/none/notes.txt")
shows "talvek: $term/none/notes.txt is not a .png file; talvek takes a folder, or a file whose name ends in .png"
said=$(on_terminal "$term" real "$term/missing")
shows "talvek: cannot open $term/missing: No such file or directory"
said=$(on_terminal "$term" real "$term/none")
shows "talvek: no PNG file directly in $term/none; subfolders are not searched"
mkdir "$term/bin"
printf '#!/bin/sh\necho "$@" > "%s/opened"\n' "$term" > "$term/bin/xdg-open"
chmod +x "$term/bin/xdg-open"
said=$(PATH="$term/bin:$PATH" T_LINGER=1 on_terminal "$term" stand "/$(printf 'd%.0s' $(seq 2047))")
shows "talvek: a path longer than 2047 bytes cannot be run; the home page was opened instead"
[ "$(await "$term/opened" 10)" = "$home" ] || fail "home page not opened for a long path"
[ ! -s "$term/stdout" ] || fail "said on standard output: $(cat "$term/stdout")"
# -h, --help and --version, but a folder so named is a path.
version=$(project_version "$source")
said=$(on_terminal "$term/one" stand --help)
[ -z "$said" ] && [ "$(head -1 "$term/stdout")" = "talvek $version" ] &&
  grep -q "^Usage: talvek FOLDER$" "$term/stdout" || fail "--help: $said$(cat "$term/stdout")"
said=$(on_terminal "$term/one" stand --version)
[ "$(cat "$term/stdout")" = "talvek $version" ] || fail "--version: $(cat "$term/stdout")"
cp "$source/examples/fog.png" "$term/--help"
said=$(on_terminal "$term" stand --help)
[ "$(cat "$term/stdout")" = "Talvek: Listo" ] && [ -s "$term/--help/_talvek/fog.png" ] ||
  fail "a folder named --help was not run: $(cat "$term/stdout")"

group "Places: _talvek taken by a file, a folder given as several words"
taken=$work/taken
mkdir "$taken"
cp "$source/examples/fog.png" "$taken"
echo "mine" > "$taken/_talvek"
check yes "$taken" real "$taken"
[ "$(cat "$taken/_talvek")" = mine ] || fail "_talvek file changed"
words="$work/three word folder"
mkdir "$words"
cp "$source/examples/fog.png" "$words"
# shellcheck disable=SC2086  # several words on purpose
check yes "$words" real $words
[ -s "$words/_talvek/fog.png" ] || fail "unquoted words not one path"

group "Places: folders that cannot be entered or written"
locked=$work/locked
mkdir "$locked" "$work/readonly"
cp "$source/examples/fog.png" "$locked"
cp "$source/examples/fog.png" "$work/readonly"
chmod 000 "$locked"
chmod 555 "$work/readonly"
chmod 777 "$work/cwd"
# Mode 000 already stops a normal user; root passes through it, so root
# runs these cases as nobody.
[ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
if ! said=$("${as_user[@]}" true 2>&1); then
  skip "they cannot run as nobody here: $said"
elif ! "${as_user[@]}" test -x "$work"; then
  skip "nobody cannot enter $work: TMPDIR lies in a folder closed to others"
elif "${as_user[@]}" test -x "$locked"; then
  skip "$("${as_user[@]}" id -un) can enter a folder with mode 000"
else
  check no "$locked" real "$locked"
  check no "$locked" real "$locked/fog.png"
  check yes "$work/readonly" real "$work/readonly"
  check no "$work/readonly" real "$work/readonly/fog.png"
  [ ! -e "$work/readonly/_talvek" ] || fail "wrote into a read-only folder"
  # On a terminal, each says why.
  chmod 666 "$term/stdout"
  said=$(on_terminal "$work/cwd" real "$locked")
  [ "$said" = "talvek: cannot enter the folder $locked: Permission denied" ] || fail "locked, on a terminal: $said"
  said=$(on_terminal "$work/cwd" real "$work/readonly" | sed 's/.*\r\x1b\[K//')
  grep -qx '\[1/1\] fog\.png: no copy, the copy could not be written in _talvek, [0-9.]* s' <<<"$said" ||
    fail "read-only, on a terminal: $said"
fi
as_user=()
chmod 755 "$locked" "$work/readonly" "$work/cwd"

group "Lengths: paths near 1023 bytes, tails of 2047 and 2048, quotes and blanks"
# A folder whose "<folder>/fog.PNG" is exactly $1 bytes long.
long_folder() {
  local dir=$work/deep/$1
  while [ $(($1 - ${#dir} - 8)) -gt 200 ]; do dir=$dir/$(printf 'd%.0s' $(seq 150)); done
  dir=$dir/$(printf 'e%.0s' $(seq $(($1 - ${#dir} - 9))))
  mkdir -p "$dir"
  cp "$source/examples/fog.png" "$dir/fog.PNG"
  echo "$dir"
}
for total in 1022 1023 1024 1025 2047; do
  dir=$(long_folder $total)
  [ ${#dir} -eq $((total - 8)) ] || fail "built a path of ${#dir} + 8 bytes"
  check no "$dir" stand "$dir/fog.PNG"
  [ "$(seen)" = "$(printf 'fog.PNG\t./_talvek/fog.png')" ] || fail "$total-byte path not run"
done
dir=$(long_folder 2048)
out=$(cd "$work/cwd" && PATH=/nonexistent "$work/stand/talvek" "$dir/fog.PNG" 2>&1)
[ "$out" = "$home" ] && [ ! -e "$dir/_talvek" ] && [ -z "$(seen)" ] ||
  fail "2048-byte tail did not open the home page"
mkdir "$work/bin"
printf '#!/bin/sh\ntrue\n' > "$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
# shellcheck disable=SC1003,SC2086,SC2089,SC2090 # tails of quotes and backslashes, split too
for tail in '"' '""' '" "' '"""' ' " ' '"  "' ' ' '\"' '"\' '\\"\\"'; do
  PATH="$work/bin:$PATH" check no - stand "$tail"
  PATH="$work/bin:$PATH" check no - stand $tail
done
[ -z "$(seen)" ] || fail "a tail of quotes and blanks ran the optimizer"

group "Scale: 10,000 files, each run once, memory flat"
many=$work/many
mkdir "$many"
(cd "$many" && seq -f 'f%05g.png' 10000 | xargs touch)
rss() { /usr/bin/time -f %M "$work/stand/talvek" "$1" 2>&1 >/dev/null | tail -1; }
rss_many=$(STAND_IN='touch' rss "$many")
[ "$(LC_ALL=C sort -u "$STAND_IN_LOG" | wc -l)" -eq 10000 ] &&
  [ "$(wc -l < "$STAND_IN_LOG")" -eq 10000 ] || fail "not every file run once"
rm -f "$STAND_IN_LOG"
mkdir "$work/few"
cp "$many"/f0000*.png "$work/few"
rss_few=$(STAND_IN='touch' rss "$work/few")
rm -f "$STAND_IN_LOG"
echo "peak memory: $rss_few KiB for 9 files, $rss_many KiB for 10,000"
if [ -n "${TALVEK_SANITIZED:-}" ]; then
  echo "memory not compared: the sanitizer's own use varies from run to run"
else
  [ "$rss_many" -le $((rss_few + 256)) ] || fail "memory grows with the folder"
fi

finish
