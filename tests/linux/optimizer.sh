#!/usr/bin/env bash
# The optimizer we ship for Windows, built for Linux from the same sources
# and options with AddressSanitizer and UndefinedBehaviorSanitizer, run with
# Talvek's options on the corpus, the samples and the chunk-rich, hostile
# and transparent images of chunks.py: no sanitizer may report anything,
# every copy must keep every pixel without the last guard's help, and the
# copy must be the same byte for byte whether its trials run one after
# another or side by side in 2 or 3 worker processes, one of which may
# fail, and the copy of our build before it measured each distinct trial
# once and decoded the image once. Every trial measured in full gives the
# same lengths from the rows kept, twins left out, as from the file, and
# twins come to equal lengths. Then the rows kept below the cap only; the
# last guard alone, in a build without the patches that keep transparency
# and with a planted fault; libpng's messages whole; and workers that hang
# or meet a libpng error.
# Usage: optimizer.sh path/to/sanitized/pngcrush source-folder
set -u
optimizer=$1
source=$(realpath "$2")
. "$source/tests/lib.sh"
corpus=$(bash "$source/tests/corpus.sh" "$source") || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
test_images "$work/in"
# A report ends the run with this status, whatever pngcrush itself returns.
export ASAN_OPTIONS=exitcode=86 UBSAN_OPTIONS=exitcode=86:print_stacktrace=1

# crush IMAGE NAME [VARIABLE=VALUE...]: the copy of IMAGE as $work/NAME,
# with the environment given, and what pngcrush said in $work/log; fails on
# a sanitizer's report. $program is the optimizer run.
program=$optimizer options=()
crush() {
  rm -f "$work/$2"
  env "${@:3}" timeout 300 "$program" "${options[@]}" -rem alla -brute -reduce "$1" "$work/$2" \
    >/dev/null 2>"$work/log"
  [ $? -ne 86 ] && ! grep -q 'Sanitizer\|runtime error' "$work/log" ||
    fail "${1##*/} ($*): $(grep -m5 'ERROR\|runtime error\|#[0-9] ' "$work/log")"
}

group "Every image with Talvek's options: no sanitizer report, every pixel kept, the copy of Debian's pngcrush or the input's own data, and the same copy from 1, 2 and 3 workers, from a failing one, and from our build before"
made=0
mkdir "$work/in/_talvek"
for image in "$work"/in/*.[pP][nN][gG]; do
  program=${optimizer}-before
  crush "$image" before.png PNGCRUSH_WORKERS=1
  program=$optimizer
  crush "$image" serial.png PNGCRUSH_WORKERS=1
  if [ -e "$work/serial.png" ] || [ -e "$work/before.png" ]; then
    grep -q "Kept the input's own compressed data" "$work/log" ||
      cmp -s "$work/serial.png" "$work/before.png" || fail "${image##*/}: not the copy of our build before"
  fi
  if [ -s "$work/serial.png" ]; then
    made=$((made + 1))
    cp "$work/serial.png" "$work/in/_talvek/${image##*/}"
    case ${image##*/} in
      invalid-*) ;;
      *) said=$(same_pixels "$image" "$work/serial.png") || fail "$said" ;;
    esac
  fi
  ! grep -q 'again without reductions' "$work/log" ||
    fail "${image##*/}: the last guard had to write the copy again: $(grep -m1 again "$work/log")"
  for run in PNGCRUSH_WORKERS=2 PNGCRUSH_WORKERS=3 "PNGCRUSH_WORKERS=3 PNGCRUSH_WORKER_FAULT=2"; do
    # shellcheck disable=SC2086
    crush "$image" side.png $run
    if [ -e "$work/serial.png" ] || [ -e "$work/side.png" ]; then
      cmp -s "$work/serial.png" "$work/side.png" || fail "${image##*/}: $run makes another copy"
    fi
  done
done
# A copy of every valid image at least: the optimizer did run.
[ "$made" -ge "$(ls "$work/in" | grep -vc '^invalid-\|^_talvek$')" ] || fail "copies of only $made images"
crush_all "$work/in" "$work/debian"
debian_loses=$(lost_by "$work/in" "$work/debian")
cp -r "$work/debian" "$work/yardstick"
yardstick "$work/in" "$work/yardstick"
# shellcheck disable=SC2086 # names, one a word
same_bytes "$work/in" "$work/yardstick" "Debian's pngcrush or the input's own data" $debian_loses
# -force keeps its meaning: the best trial, even where it is larger.
options=(-force); crush "$work/in/optimized-16-bit.png" forced.png; options=()
cmp -s "$work/forced.png" "$work/debian/optimized-16-bit.png" || fail "-force: not the best trial"

group "Every trial in full: the same lengths from the rows kept, twins left out, as from the file; twins of equal lengths"
# The twins of pngcrush's table by zlib's rules, from the methods' numbers
# alone: stored with the filtered strategy (143-148) and the default
# (137-142); run-length at level 4 (131-136) and 1 (125-130), and with the
# adaptive filter at levels 2 to 9 (169-176) and 1 (168); filtered and
# default at levels 1 to 3 (method 17 + 12 (level - 1) + 6 strategy +
# filter; and 158-160, 149-151); and methods 1 to 10, as pngcrush.c's table
# names them, with 167 Huffman codes like 9.
twins=$(printf '%s\n' "8 5" "53 1" "54 2" "113 7" "119 4" "120 5" "157 6" "161 3" "166 10" "167 9"
  for filter in 0 1 2 3 4 5; do
    echo $((143 + filter)) $((137 + filter)); echo $((131 + filter)) $((125 + filter))
    for level in 0 1 2; do echo $((23 + 12 * level + filter)) $((17 + 12 * level + filter)); done
  done
  for method in 169 170 171 172 173 174 175 176; do echo $method 168; done
  for level in 0 1 2; do echo $((158 + level)) $((149 + level)); done)
[ "$(wc -l <<<"$twins")" -eq 51 ] || fail "the tests know $(wc -l <<<"$twins") twins, not 51"
# Every trial in full, without bailing, takes long under the sanitizers:
# the build's plain optimizer, beside talvek, is the same code.
plain=${optimizer%/optimizer/pngcrush}/pngcrush.bin
for image in "$work"/in/*.[pP][nN][gG]; do
  # The two at once, each on a core of its own.
  for path in old new; do
    PNGCRUSH_TRIALS_IN_FULL=$path "$plain" -rem alla -brute -reduce "$image" "$work/full-$path.png" \
      >"$work/$path" 2>/dev/null &
  done
  wait
  old=$(cat "$work/old") new=$(cat "$work/new")
  [ "$old" = "$new" ] ||
    fail "${image##*/}: other lengths: $(diff <(echo "$old") <(echo "$new") | grep '^[<>]' | head -4 | tr '\n' ' ')"
  [ -z "$old" ] && continue
  # One awk for all 51 pairs: a sed a pair took a second an image.
  differ=$(awk 'NR == FNR { twin[$1] = $2; next } $1 == "trial" { length_of[$2] = $3 }
    END { for (t in twin) if (length_of[t] != length_of[twin[t]])
      printf "trials %s and %s: %s and %s; ", t, twin[t], length_of[t], length_of[twin[t]] }' \
    <(echo "$twins") "$work/old")
  [ -z "$differ" ] || fail "${image##*/}: twins differ: $differ"
done

group "The rows kept below the cap, all the processes measuring together, and read in every trial above it"
# 24 MiB of rows: kept by one process, not by three (64 MiB at most).
/usr/bin/python3 -c '
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 4096, 6144, 8, 0, 0, 0, 0))
    + chunk(b"IDAT", zlib.compress(bytes(4097 * 6144))) + chunk(b"IEND", b""))' "$work/large.png"
for run in "1 kept" "3 read"; do
  PNGCRUSH_WORKERS=${run% *} "$optimizer" -v -rem alla -m 11 -m 12 -m 13 -reduce "$work/large.png" \
    "$work/large-copy.png" >/dev/null 2>"$work/log"
  grep -q "Rows ${run#* } .*: 25165824 bytes a process, ${run% *} measuring" "$work/log" ||
    fail "${run% *} processes: $(grep -i 'rows' "$work/log" || echo 'nothing said of the rows')"
done

group "The last guard alone: without the patches that keep transparency, and with a planted fault"
program=${optimizer}-planted
# Without those patches each of them loses pixels, but for the one that
# gets no copy at all (a libpng error ends its trials).
rescued=0 images=0
for image in "$work"/in/trns-lost-*.png; do
  [[ $image != *first-column* ]] || continue
  images=$((images + 1))
  crush "$image" guarded.png
  said=$(same_pixels "$image" "$work/guarded.png" 2>&1) || fail "${image##*/}: $said"
  ! grep -q 'again without reductions' "$work/log" || rescued=$((rescued + 1))
done
[ $rescued -eq $images ] || fail "the guard wrote $rescued copies again, not $images"
# -force: the best trial, not the input's own data, which no fault reaches.
options=(-force)
for image in "$work"/in/{reduce-palette,trns-lost-grey-rgb,basn6a16}.png; do
  crush "$image" damaged.png PNGCRUSH_PLANTED_DAMAGE=1
  [ ! -e "$work/damaged.png" ] && [ "$(grep -c 'no copy written$' "$work/log")" -eq 1 ] ||
    fail "${image##*/}: a damaged copy was kept, or not said: $(cat "$work/log")"
done
options=()
# The input's own data refused once written: the trial's copy, written again.
crush "$work/in/optimized-16-bit.png" refused.png PNGCRUSH_PLANTED_DAMAGE=own
grep -q "writing the trial's copy again" "$work/log" &&
  cmp -s "$work/refused.png" "$work/debian/optimized-16-bit.png" ||
  fail "optimized-16-bit.png: the trial's copy not written again as it was: $(cat "$work/log")"
program=$optimizer

group "A header that claims 10 gigapixels"
# 100000 x 100000 RGBA, and two rows of data: no copy, soon, with no
# sanitizer report, and no memory taken for rows it does not have.
/usr/bin/python3 -c '
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 100000, 100000, 8, 6, 0, 0, 0))
    + chunk(b"IDAT", zlib.compress(bytes(2 * 400001))) + chunk(b"IEND", b""))' "$work/claims.png"
for workers in 1 3; do
  crush "$work/claims.png" claims-copy.png PNGCRUSH_WORKERS=$workers
  [ ! -e "$work/claims-copy.png" ] || fail "a copy of an image with two rows of 100000"
done

group "libpng's error messages, whole"
crush "$corpus/invalid-crc32.png" crc.png
said=$(grep -A1 'caught libpng error' "$work/log" | tail -1)
[ "$said" = "   [00][00][00][00]: CRC error" ] || fail "a CRC error was told as: $(cat -v <<<"$said")"

group "A worker that hangs is ended, one that meets a libpng error is measured again, and one that fails on trial 1 changes no choice"
# trns-grey-2.png: 160, the twin of 151, ties with 156, a plan's loss shows.
for run in "basn2c16 3 2:hang" "basn2c16 3 2:error" "trns-grey-2 2 1:first"; do
  read -r name workers fault <<<"$run"
  crush "$work/in/$name.png" serial.png PNGCRUSH_WORKERS=1
  start=$SECONDS
  crush "$work/in/$name.png" side.png PNGCRUSH_WORKERS="$workers" PNGCRUSH_WORKER_FAULT="$fault"
  cmp -s "$work/serial.png" "$work/side.png" || fail "$fault: another copy"
  ! grep -q 'caught libpng error\|settings undetermined' "$work/log" || fail "$fault: $(cat "$work/log")"
  [ $((SECONDS - start)) -lt 60 ] || fail "$fault: waited $((SECONDS - start)) s"
done

finish
