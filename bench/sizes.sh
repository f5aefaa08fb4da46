#!/usr/bin/env bash
# What the copies weigh, against their inputs: real images as Debian ships
# them (bench/images.sh, real_images), as found and after zopflipng -m, an
# optimizer that beats pngcrush's trials; for each set the bytes of the
# inputs, of Debian's pngcrush's copies and of ours with Talvek's options,
# and how many copies are larger than their inputs; zopflipng's own total
# for scale. Every copy of ours is checked by the pixel oracle when the
# tests are built (build/linux/pixels).
# Usage: bench/sizes.sh   (after tools/setup.sh, or a build of the linux preset)
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/packages.sh
install_packages pngcrush zopfli
. bench/images.sh
ours=$(ours)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
real_images "$work/found"
mkdir "$work/zopfli"
for image in "$work"/found/*.png; do
  zopflipng -m -y "$image" "$work/zopfli/${image##*/}" >/dev/null
done

bytes() { cat "$1"/*.png | wc -c; }
# larger INPUTS COPIES: how many copies are larger than their inputs.
larger() {
  local image count=0
  for image in "$1"/*.png; do
    [ "$(stat -c %s "$2/${image##*/}")" -le "$(stat -c %s "$image")" ] || count=$((count + 1))
  done
  echo "$count"
}
row() { printf "| %-38s | %10s | %9s | %14s |\n" "$@"; }
total=$(bytes "$work/found")
echo "$(ls "$work/found" | wc -l) images, $total bytes"
echo
row "Set, and whose files" bytes "to found" "larger than"
row "" "" "" "their input"
printf '|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..40})" ------------ ----------- ----------------
for set in found zopfli; do
  label="as found: the inputs"
  [ $set = found ] || label="after zopflipng -m: its files, inputs"
  row "$label" "$(bytes "$work/$set")" \
    "$(awk -v a="$(bytes "$work/$set")" -v b="$total" 'BEGIN { printf "%.3f", a / b }')" ""
  for who in debian ours; do
    mkdir "$work/$set-$who"
    program=$(command -v pngcrush)
    [ $who = debian ] || program=$ours
    for image in "$work/$set"/*.png; do
      "$program" -rem alla -brute -reduce "$image" "$work/$set-$who/${image##*/}" >/dev/null 2>&1
      [ $who = debian ] || [ ! -x build/linux/pixels ] ||
        build/linux/pixels "$image" "$work/$set-$who/${image##*/}" >&2 ||
        echo "talvek: ${image##*/}: a pixel lost" >&2
    done
    row "  $([ $who = debian ] && echo "Debian's pngcrush" || echo ours)" "$(bytes "$work/$set-$who")" \
      "$(awk -v a="$(bytes "$work/$set-$who")" -v b="$total" 'BEGIN { printf "%.3f", a / b }')" \
      "$(larger "$work/$set" "$work/$set-$who")"
  done
done
