# The images the benchmarks time, drawn the same way every time, or fetched;
# sourced by release.sh, optimizer.sh and sizes.sh. Needs ImageMagick.

# ours: the path of our optimizer, the Debian package's when it is
# installed, else build/linux's; stops when there is none.
ours() {
  local program=/usr/lib/talvek/pngcrush.bin
  [ -x "$program" ] || program=$PWD/build/linux/pngcrush.bin
  [ -x "$program" ] || { echo "talvek: no $program; run tools/setup.sh first" >&2; exit 1; }
  echo "$program"
}
#
# images FOLDER: Talvek's 48-pixel icon (icon.png); a 1280 x 800 screenshot,
# two windows of "text" on a gradient, drawn at twice the size and scaled
# down, which smooths the edges as a screen's font smoothing does
# (screenshot.png); a 1024 x 768 photo, ImageMagick's plasma fractal from a
# fixed seed, 8 bits a channel, which compresses about as badly as a
# photograph, to 56 % of its raw size (photo.png); the screenshot in 256
# colours, a palette image (palette.png); and the photo interlaced
# (interlaced.png).
images() {
  mkdir -p "$1"
  cp resources/icon-48.png "$1/icon.png"
  convert -size 2560x1600 gradient:'#2d5f8b-#6a9fc9' \
    -fill '#f3f3f3' -draw 'rectangle 120,100 1520,1300' -fill '#d4d0c8' -draw 'rectangle 120,100 1520,156' \
    -fill '#ffffff' -draw 'rectangle 1040,360 2440,1520' -fill '#0a246a' -draw 'rectangle 1040,360 2440,416' \
    -fill '#202020' -draw "$(words 161 201 28)" -draw "$(words 1081 461 29)" \
    -fill '#e8e8e8' -draw 'rectangle 0,1540 2560,1600' -resize 50% -depth 8 -strip "$1/screenshot.png"
  convert -size 1024x768 -seed 7 plasma:fractal -depth 8 -strip "$1/photo.png"
  convert "$1/screenshot.png" -colors 256 -strip "PNG8:$1/palette.png"
  convert "$1/photo.png" -interlace PNG -strip "$1/interlaced.png"
}

# words X Y LINES: lines of dark "words" of varied widths, for the screenshot.
words() {
  local x y=$2 line word width
  for ((line = 0; line < $3; line++, y += 36)); do
    x=$1
    for ((word = 0; word < 10; word++)); do
      width=$((29 + (line * 7 + word * 13) % 85))
      printf 'rectangle %d,%d %d,%d ' "$x" "$y" $((x + width)) $((y + 17))
      x=$((x + width + 13))
    done
  done
}

# peak PATTERN COMMAND...: runs COMMAND and prints the highest memory of all
# the processes whose command line holds PATTERN together, their resident
# sizes summed, sampled every 20 ms, in MiB.
peak() {
  local pattern=$1 most=0 now
  shift
  "$@" >/dev/null 2>&1 &
  while kill -0 $! 2>/dev/null; do
    now=$(ps -eo rss=,args= | awk -v p="$pattern" 'index($0, p) && !/awk/ { k += $1 } END { print k + 0 }')
    [ "$now" -le "$most" ] || most=$now
    sleep 0.02
  done
  echo "$((most / 1024))"
}

# real_images FOLDER: real PNG images as Debian ships them, fetched once
# into build/bench-images with apt-get download (no root, nothing
# installed): the figures and screenshots of Python 3.11's documentation
# (python3.11-doc), Matplotlib's toolbar and sample images
# (python-matplotlib-data), and every sixth of the Adwaita theme's
# 48-pixel legacy icons, the symbolic ones and links left out
# (adwaita-icon-theme), saved already optimized.
real_images() {
  local cache=build/bench-images package
  if [ ! -d "$cache/set" ]; then
    rm -rf "$cache" && mkdir -p "$cache/tree" "$cache/set.new"
    for package in python3.11-doc python-matplotlib-data adwaita-icon-theme; do
      (cd "$cache" && apt-get download -q "$package" >download.log 2>&1) ||
        { echo "talvek: cannot download $package; run 'apt-get update' as root first" >&2; exit 1; }
    done
    for package in "$cache"/*.deb; do dpkg-deb -x "$package" "$cache/tree"; done
    find "$cache/tree/usr/share/doc/python3.11/html" "$cache/tree/usr/share/matplotlib" \
      -name '*.png' -type f -exec cp {} "$cache/set.new" \;
    find "$cache/tree/usr/share/icons/Adwaita/48x48/legacy" -name '*.png' -type f ! -name '*symbolic*' |
      LC_ALL=C sort | awk 'NR % 6 == 1' | xargs -r cp -t "$cache/set.new"
    mv "$cache/set.new" "$cache/set"
  fi
  mkdir -p "$1" && cp "$cache"/set/*.png "$1"
}
