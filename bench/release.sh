#!/usr/bin/env bash
# The Windows release in figures: the size of each file, and the time to
# optimize examples/ with the win64 build under Wine against the Linux build
# (medians of RUNS runs, default 5). For scale: the Windows run with the
# stand-in optimizer of the tests, which only copies, and what Wine takes to
# start one program that does nothing; talvek starts one optimizer per file.
# Then what a user waits for one image: pngcrush as talvek runs it, on an
# icon, a screenshot and a photo, wall and CPU time (medians of RUNS runs,
# at most 3): Debian's build, and ours, natively and the win64 one under
# Wine, each serial and with one process a processor measuring the trials,
# with the ratio of the two and the path each took.
# Usage: bench/release.sh [RUNS]   (after tools/test.sh, or the linux and
# win64 presets with the win32 and win64 package targets)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
. tests/lib.sh
version=$(project_version .)
for file in build/linux/talvek build/win64/pngcrush.bin build/win32/talvek-$version-win32.zip; do
  [ -e "$file" ] || { echo "build first: $file is missing"; exit 1; }
done
source=$PWD
work=$(mktemp -d)
# The session's own steps may end non-zero (the preflight run of the
# stand-in does) and check their results themselves.
set +e; wine_session win64 "$work"; set -e

now() { echo "${EPOCHREALTIME/./}"; }  # microseconds
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
row() { printf '| %-40s | %14s | %14s |\n' "$@"; }

row "File" "win32 (bytes)" "win64 (bytes)"
row "----------------------------------------" "--------------" "--------------"
for file in talvek.exe pngcrush.bin "talvek-$version-ARCH.zip" "talvek-$version-ARCH-setup.exe"; do
  row "$file" "$(stat -c %s "build/win32/${file/ARCH/win32}")" "$(stat -c %s "build/win64/${file/ARCH/win64}")"
done

mkdir "$work/pics" "$work/win" "$work/stand"
cp examples/*.[pP][nN][gG] "$work/pics"
count=$(ls "$work/pics" | wc -l)
cp build/win64/talvek.exe build/win64/pngcrush.bin "$work/win"
cp build/win64/talvek.exe build/win64/stand-in/pngcrush.bin "$work/stand"
# Wine's start alone: a program that does nothing, in the running session.
for ((i = 0; i < runs; i++)); do
  start=$(now); wine cmd /c exit 0 >/dev/null 2>&1; echo $(($(now) - start)) >> "$work/t-wine"
done
for ((i = 0; i < runs; i++)); do
  rm -rf "$work/pics/_talvek"
  start=$(now); build/linux/talvek "$work/pics" >/dev/null; echo $(($(now) - start)) >> "$work/t-linux"
  for tool in win stand; do
    rm -rf "$work/pics/_talvek"
    start=$(now)
    start "$work/$tool" "$(dos "$work/pics")"
    await_box
    echo $(($(now) - start)) >> "$work/t-$tool"
    dismiss; wait $talvek
  done
done
echo
row "Optimizing examples/ ($count files)" "median" ""
row "----------------------------------------" "--------------" "--------------"
row "Linux build" "$(($(median < "$work/t-linux") / 1000)) ms" ""
row "win64 build under Wine, to the box" "$(($(median < "$work/t-win") / 1000)) ms" ""
row "  the same with the stand-in optimizer" "$(($(median < "$work/t-stand") / 1000)) ms" ""
row "Wine starting one program, for scale" "$(($(median < "$work/t-wine") / 1000)) ms" ""

# One image at a time: Talvek's 48-pixel icon, and a screenshot and a photo
# drawn here the same way every time. The screenshot is two windows of
# "text" on a gradient, drawn at twice the size and scaled down, which
# smooths the edges as a screen's font smoothing does. The photo is
# ImageMagick's plasma fractal from a fixed seed, 8 bits a channel, which
# compresses about as badly as a photograph (to 56 % of its raw size).
words() {  # X Y LINES: lines of dark "words" of varied widths
  local x y=$2 line word width
  for ((line = 0; line < $3; line++, y += 36)); do
    x=$1
    for ((word = 0; word < 10; word++)); do
      width=$((29 + (line * 7 + word * 13) % 85))
      printf 'rectangle %d,%d %d,%d ' $x $y $((x + width)) $((y + 17))
      x=$((x + width + 13))
    done
  done
}
images=$work/images
mkdir "$images"
cp resources/icon-48.png "$images/icon.png"
convert -size 2560x1600 gradient:'#2d5f8b-#6a9fc9' \
  -fill '#f3f3f3' -draw 'rectangle 120,100 1520,1300' -fill '#d4d0c8' -draw 'rectangle 120,100 1520,156' \
  -fill '#ffffff' -draw 'rectangle 1040,360 2440,1520' -fill '#0a246a' -draw 'rectangle 1040,360 2440,416' \
  -fill '#202020' -draw "$(words 161 201 28)" -draw "$(words 1081 461 29)" \
  -fill '#e8e8e8' -draw 'rectangle 0,1540 2560,1600' -resize 50% -depth 8 -strip "$images/screenshot.png"
convert -size 1024x768 -seed 7 plasma:fractal -depth 8 -strip "$images/photo.png"
# The optimizer built from our sources for this machine, without
# sanitizers, to time its workers natively.
native=$work/native
bash optimizer/build-pngcrush.sh native "${TALVEK_SOURCES_CACHE:-build/sources}" \
  "$native" "$native/pngcrush-native" >"$work/native.log" 2>&1 ||
  { echo "the native optimizer did not build; see $work/native.log"; exit 1; }
# Wall and CPU seconds of one optimizer run, as "wall cpu". The CPU time is
# the whole machine's, from /proc/stat, so that the workers and Wine's own
# processes count too: run the bench on an idle machine.
busy() { awk '/^cpu / { print $2 + $3 + $4 + $7 + $8 + $9 }' /proc/stat; }
crush() {
  local start cpu
  start=$(now) cpu=$(busy)
  (cd "$images" && "$@" -rem alla -brute -reduce "$name" out.png >/dev/null 2>&1)
  awk -v us=$(($(now) - start)) -v ticks=$(($(busy) - cpu)) -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "%.2f %.2f\n", us / 1e6, ticks / hz }'
  rm -f "$images/out.png"
}
# Which path an optimizer took on the image: the processes it says measured.
path() {
  (cd "$images" && "$@" -v -rem alla -brute -reduce "$name" out.png 2>&1) |
    sed -n 's/.*side by side in \([0-9]*\) processes.*/\1 processes/p' | grep . || echo serial
  rm -f "$images/out.png"
}
image_runs=$((runs < 3 ? runs : 3))
echo
printf '| %-44s | %8s | %8s | %9s | %-11s |\n' "One image, pngcrush -brute, median of $image_runs" \
  "wall (s)" "CPU (s)" "wall, to" "path"
printf '| %-44s | %8s | %8s | %9s | %-11s |\n' "" "" "" "serial" ""
printf '|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..46})" ---------- ---------- ----------- -------------
for name in icon.png screenshot.png photo.png; do
  printf '| %-44s | %8s | %8s | %9s | %-11s |\n' \
    "$name, $(identify -format %wx%h "$images/$name"), $(stat -c %s "$images/$name") bytes" "" "" "" ""
  for build in "Debian's pngcrush:pngcrush" \
      "ours, native, serial:env PNGCRUSH_WORKERS=1 $native/pngcrush-native" \
      "ours, native, one process a processor:$native/pngcrush-native" \
      "win64 under Wine, serial:env PNGCRUSH_WORKERS=1 wine $work/win/pngcrush.bin" \
      "win64 under Wine, one process a processor:wine $work/win/pngcrush.bin"; do
    label=${build%%:*} command=${build#*:}
    : > "$work/t-image"
    for ((i = 0; i < image_runs; i++)); do
      # shellcheck disable=SC2086
      crush $command >> "$work/t-image"
    done
    wall=$(cut -d' ' -f1 "$work/t-image" | median) cpu=$(cut -d' ' -f2 "$work/t-image" | median)
    ratio=
    case $label in
      *serial) one=$wall ;;
      *processor) ratio=$(awk -v a="$wall" -v b="$one" 'BEGIN { printf "%.2f", a / b }') ;;
    esac
    # shellcheck disable=SC2086
    printf '| %-44s | %8s | %8s | %9s | %-11s |\n' "  $label" "$wall" "$cpu" "$ratio" \
      "$([ "$label" = "Debian's pngcrush" ] && echo serial || path $command)"
  done
done

# The memory of one image's run, all its processes together: their
# resident sizes summed, sampled every 20 ms, at the highest.
peak() {
  local most=0 now
  (cd "$images" && "$@" -rem alla -brute -reduce photo.png out.png >/dev/null 2>&1) &
  while kill -0 $! 2>/dev/null; do
    now=$(ps -eo rss=,args= | awk '/-rem alla -brute -reduce photo.png out.png/ && !/awk/ { k += $1 } END { print k + 0 }')
    [ "$now" -le "$most" ] || most=$now
    sleep 0.02
  done
  rm -f "$images/out.png"
  echo "$((most / 1024)) MiB"
}
echo
row "photo.png, peak memory of all processes" "serial" "side by side"
row "----------------------------------------" "--------------" "--------------"
row "ours, native" "$(PNGCRUSH_WORKERS=1 peak "$native/pngcrush-native")" "$(peak "$native/pngcrush-native")"
row "win64 under Wine (Wine's own included)" "$(PNGCRUSH_WORKERS=1 peak wine "$work/win/pngcrush.bin")" \
  "$(peak wine "$work/win/pngcrush.bin")"
