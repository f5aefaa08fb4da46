#!/usr/bin/env bash
# The Windows release in figures: the size of each file, and the time to
# optimize examples/ with the win64 build under Wine against the Linux build
# (medians of RUNS runs, default 5). For scale: the Windows run with the
# stand-in optimizer of the tests, which only copies, and what Wine takes to
# start one program that does nothing; talvek starts one optimizer per file.
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
wine_session win64 "$work"

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
