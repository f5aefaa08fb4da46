#!/usr/bin/env bash
# Our optimizer on Linux against Debian's pngcrush, one image at a time
# with Talvek's options: wall time and CPU time (user and system, every
# process of the run) on one core (taskset -c 0, so the serial path) and on
# all, medians of RUNS runs (default 3), for Debian's pngcrush, ours as it
# was before a copy could keep the input's own compressed data (built here
# without pngcrush-10-never-larger.patch and the patch after it), and ours
# now (the Debian package's when it is installed, else build/linux's). The images
# are those of bench/images.sh: a photo, a screenshot, a palette image, an
# interlaced one and Talvek's 48-pixel icon, none of which ours keeps its own
# data of. Every copy
# of ours must be byte for byte Debian's, and its ratio to Debian's time
# is given. Then the peak memory of all the
# processes of one run together, on the photo and on a 64-megapixel image.
# Usage: bench/optimizer.sh [RUNS]   (after tools/setup.sh, or a build of
# the linux preset)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
. tools/packages.sh
install_packages imagemagick pngcrush time util-linux
. bench/images.sh
now=$(ours)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
images "$work/images"
before=$work/before/pngcrush.bin
TALVEK_PATCHES_LEFT_OUT="pngcrush-10-never-larger.patch pngcrush-11-same-file.patch" \
  bash optimizer/build-pngcrush.sh native \
  "${TALVEK_SOURCES_CACHE:-build/sources}" "$work/before" "$before" >"$work/before.log" 2>&1 ||
  { echo "talvek: our optimizer before did not build; see $work/before.log" >&2; exit 1; }

median() { sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
# run CORES PROGRAM IMAGE: "wall cpu" of one run, the copy in $work/out.png.
run() {
  local cores=$1 program=$2 image=$3 pin=()
  [ "$cores" = all ] || pin=(taskset -c 0)
  rm -f "$work/out.png"
  /usr/bin/time -f '%e %U %S' -o "$work/time" "${pin[@]}" "$program" -rem alla -brute -reduce \
    "$image" "$work/out.png" >/dev/null 2>&1
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$work/time"
}

printf '| %-34s | %-5s | %8s | %8s | %9s | %9s |\n' "One image, median of $runs" cores \
  "wall (s)" "CPU (s)" "wall, to" "CPU, to"
printf '| %-34s | %-5s | %8s | %8s | %9s | %9s |\n' "" "" "" "" "Debian's" "Debian's"
printf '|%s|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..36})" ------- ---------- ---------- \
  ----------- -----------
for name in photo screenshot palette interlaced icon; do
  image=$work/images/$name.png
  printf '| %-34s | %-5s | %8s | %8s | %9s | %9s |\n' \
    "$name.png, $(identify -format %wx%h "$image"), $(stat -c %s "$image") B" "" "" "" "" ""
  pngcrush -rem alla -brute -reduce "$image" "$work/debian.png" >/dev/null 2>&1
  builds=("Debian's pngcrush:$(command -v pngcrush)" "ours before:$before" "ours now:$now")
  for cores in 1 all; do
    # The three in turn, run after run, so that a machine whose speed
    # drifts slows all three alike.
    rm -f "$work"/times-* "$work"/other-*
    for ((i = 0; i < runs; i++)); do
      for b in 0 1 2; do
        run $cores "${builds[b]#*:}" "$image" >>"$work/times-$b"
        cmp -s "$work/out.png" "$work/debian.png" || touch "$work/other-$b"
      done
    done
    for b in 0 1 2; do
      build=${builds[b]} label=${builds[b]%%:*}
      [ ! -e "$work/other-$b" ] || label="$label (OTHER BYTES)"
      wall=$(cut -d' ' -f1 "$work/times-$b" | median) cpu=$(cut -d' ' -f2 "$work/times-$b" | median)
      case $build in
        Debian*) debian_wall=$wall debian_cpu=$cpu ratios=("" "") ;;
        *) ratios=("$(awk -v a="$wall" -v b="$debian_wall" 'BEGIN { printf "%.2f", a / b }')"
             "$(awk -v a="$cpu" -v b="$debian_cpu" 'BEGIN { printf "%.2f", a / b }')") ;;
      esac
      printf '| %-34s | %-5s | %8s | %8s | %9s | %9s |\n' "  $label" "$cores" "$wall" "$cpu" \
        "${ratios[0]}" "${ratios[1]}"
    done
  done
done

# The peak memory, all processes together: the photo with Talvek's options,
# and a 64-megapixel gradient (8000 x 8000 RGB, 183 MiB of raw pixels)
# with six of its methods, since all 176 would take an hour; the processes'
# memory does not grow with the methods tried.
convert -size 8000x8000 gradient:'#204080-#f0c080' -depth 8 -strip "$work/images/large.png"
echo
printf '| %-40s | %14s | %14s |\n' "Peak memory of all processes (MiB)" "serial" "all cores"
printf '|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..42})" ---------------- ----------------
for image in photo large; do
  options=(-brute)
  [ $image = photo ] || options=(-m 11 -m 17 -m 53 -m 125 -m 137 -m 157)
  crushing() { "$1" -rem alla "${options[@]}" -reduce "$work/images/$image.png" "$work/peak.png"; }
  for build in "Debian's pngcrush:$(command -v pngcrush)" "ours now:$now"; do
    printf '| %-40s | %14s | %14s |\n' "$image.png, ${build%%:*}" \
      "$(PNGCRUSH_WORKERS=1 peak "$image.png" crushing "${build#*:}")" \
      "$(peak "$image.png" crushing "${build#*:}")"
  done
done
