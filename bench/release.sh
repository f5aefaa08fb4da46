#!/usr/bin/env bash
# The Windows release in figures: the size of each file, and the time to
# optimize examples/ with the win64 build under Wine against the Linux build
# (medians of RUNS runs, default 5). For scale: the Windows run with the
# stand-in optimizer of the tests, which only copies, and what Wine takes to
# start one program that does nothing; talvek starts one optimizer per file.
# Then what a user waits for one image: pngcrush as talvek runs it, on an
# icon, a screenshot and a photo, wall and CPU time (medians of RUNS runs,
# at most 3): Debian's build, and the win64 one under Wine, serial and with
# one process a processor measuring the trials, with the ratio of the two
# and the path each took; and the photo's peak memory. bench/optimizer.sh
# measures our optimizer natively.
# Usage: bench/release.sh [RUNS]   (after tools/test.sh, or the linux and
# win64 presets with the win32 and win64 package targets)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
. tests/lib.sh
version=$(project_version .)
for file in build/linux/talvek build/win64/pngcrush.bin build/win32/talvek-$version-win32.zip; do
  [ -e "$file" ] || { echo "talvek: $file is missing; build it first (DEVELOPING.md)" >&2; exit 1; }
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

# One image at a time (bench/images.sh): the icon, the screenshot and the
# photo.
. bench/images.sh
images=$work/images
images "$images"
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

# The memory of the photo's run, all its processes together, Wine's own
# included.
echo
row "photo.png, peak memory of all processes" "serial" "side by side"
row "----------------------------------------" "--------------" "--------------"
crush_photo() { cd "$images" && "$@" -rem alla -brute -reduce photo.png out.png; }
row "win64 under Wine" "$(PNGCRUSH_WORKERS=1 peak photo.png crush_photo wine "$work/win/pngcrush.bin") MiB" \
  "$(peak photo.png crush_photo wine "$work/win/pngcrush.bin") MiB"
rm -f "$images/out.png"
