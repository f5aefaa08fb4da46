#!/usr/bin/env bash
# The Debian package as a user gets it: lintian finds nothing, apt installs
# it, talvek runs from the PATH and from its desktop entry as a file manager
# starts it, the manual page reads, and a purge leaves nothing behind. Its
# optimizer is ours, not Debian's pngcrush: it keeps every pixel of every
# test image, with Debian's pngcrush's bytes wherever Debian's copy keeps
# them and our Linux build's elsewhere, and leaves no worker behind when
# its run is killed. Installing needs root; as anyone else the test is
# skipped.
# Usage: package.sh path/to/talvek_VERSION_ARCH.deb source-folder
set -u
deb=$(realpath "$1")
source=$(realpath "$2")
. "$source/tests/lib.sh"
# The test as a whole is skipped, with the reason, when it cannot run here.
not_here() { group "package"; skip "$1"; finish; exit; }
[ "$(id -u)" -eq 0 ] || not_here "installing a package needs root"
corpus=$(bash "$source/tests/corpus.sh" "$source") || exit 1
dpkg-query -W -f '${db:Status-Abbrev}' talvek 2>/dev/null | grep -q '^[ihr]' &&
  not_here "talvek is installed here already, and the test would remove it"
work=$(mktemp -d)
export HOME=$work/home
mkdir "$HOME"
packages() { dpkg-query -W -f '${db:Status-Abbrev} ${Package}\n' | sed -n 's/^ii *//p'; }
before_packages=$(packages)
purge() {
  # talvek, and whatever its installation brought in.
  local added
  added=$(comm -13 <(echo "$before_packages") <(packages))
  # shellcheck disable=SC2086 # package names, one a word
  [ -z "$added" ] || apt-get purge -y -qq $added >"$work/purge.log" 2>&1
}
trap 'purge; rm -rf "$work"' EXIT
# Every path on this file system but those that change by themselves, the
# users' own files and the checkouts beside this one.
snapshot() {
  local skip=(/proc /sys /dev /tmp /run /var/cache /var/lib/apt /var/lib/dpkg
    /var/log /var/tmp /root /home "$(dirname "$source")") args=() path
  for path in "${skip[@]}"; do args+=(-path "$path" -prune -o); done
  find / -xdev "${args[@]}" -print 2>/dev/null | LC_ALL=C sort
}
pics="$work/Mis fotos"
mkdir "$pics"
cp "$source"/examples/*.[pP][nN][gG] "$pics"

group "The package: lintian (manual page and links included), desktop entry, icons"
lintian --fail-on error,warning "$deb" >"$work/lintian" 2>&1 ||
  fail "lintian: $(cat "$work/lintian")"
dpkg-deb -x "$deb" "$work/x"
desktop-file-validate "$work/x/usr/share/applications/talvek.desktop" || fail "desktop entry"
for size in 16 32 48; do
  cmp -s "$source/resources/icon-$size.png" \
    "$work/x/usr/share/icons/hicolor/${size}x$size/apps/talvek.png" || fail "no $size px icon"
done

group "The package brings its own optimizer, and does not depend on pngcrush"
optimizer=$work/x/usr/lib/talvek/pngcrush.bin
[ -f "$optimizer" ] && [ ! -L "$optimizer" ] && [ -x "$optimizer" ] || fail "pngcrush.bin is no program of its own"
(cd "$work" && "$optimizer" -h 2>&1) | grep -q "Changed for Talvek" || fail "pngcrush.bin is not our pngcrush"
! dpkg-deb -f "$deb" Depends | grep -qw pngcrush || fail "it depends on pngcrush: $(dpkg-deb -f "$deb" Depends)"
built_using=$(dpkg-deb -f "$deb" Built-Using)
for source_name in glibc pngcrush libpng1.6; do
  echo "$built_using" | grep -q "\(^\|, \)$source_name (= " || fail "Built-Using has no $source_name: $built_using"
done

group "Installed with apt: talvek from the PATH, and its manual page"
before=$(snapshot)
apt-get install -y -qq -o DPkg::Lock::Timeout=600 "$deb" >"$work/install.log" 2>&1 ||
  fail "apt-get install: $(tail -5 "$work/install.log")"
out=$(cd / && timeout 600 talvek "$pics")
[ "$(command -v talvek)" = /usr/bin/talvek ] && [ "$out" = "Talvek: Listo" ] ||
  fail "talvek from the PATH said: $out"
check_copies "$pics"
[ "$(man -w talvek)" = /usr/share/man/man1/talvek.1.gz ] &&
  MANWIDTH=80 man talvek 2>/dev/null | grep -q "pngcrush.bin" || fail "man talvek"

group "Every test image with 3 processes: every pixel kept, and Debian's bytes, or ours where Debian loses pixels"
test_images "$work/images"
crush_all "$work/images" "$work/debian"
debian_loses=$(lost_by "$work/images" "$work/debian")
yardstick "$work/images" "$work/debian"
mkdir "$work/ours"
for name in $debian_loses; do
  PNGCRUSH_WORKERS=1 "$source/build/linux/pngcrush.bin" -rem alla -brute -reduce \
    "$work/images/$name" "$work/ours/$name" >/dev/null 2>&1
done
out=$(cd / && PNGCRUSH_WORKERS=3 timeout 900 talvek "$work/images")
[ "$out" = "Talvek: Listo" ] || fail "the run said: $out"
check_copies "$work/images"
# shellcheck disable=SC2086 # names, one a word
same_bytes "$work/images" "$work/debian" "Debian's pngcrush or the input's own data" $debian_loses
for name in $debian_loses; do
  cmp -s "$work/images/_talvek/$name" "$work/ours/$name" || fail "$name: not the bytes of our Linux build"
done

group "A run killed, talvek then pngcrush.bin: no worker is left"
mkdir "$work/photo"
convert -size 1024x768 -seed 7 plasma:fractal -depth 8 -strip "$work/photo/photo.png"
workers() { pgrep -f 'pngcrush[.]bin -rem alla' | wc -l; }
(cd / && exec talvek "$work/photo") >/dev/null &
for _ in $(seq 100); do [ "$(workers)" -ge 2 ] && break; sleep 0.1; done
[ "$(workers)" -ge 2 ] || fail "no workers seen"
kill -9 $!
kill -9 "$(pgrep -o -f 'pngcrush[.]bin -rem alla')" 2>/dev/null
for _ in $(seq 50); do [ "$(workers)" -eq 0 ] && break; sleep 0.1; done
[ "$(workers)" -eq 0 ] || fail "$(workers) pngcrush.bin left running"

group "Open With: the desktop entry on a folder with blanks, on an X display"
mkdir "$work/bin"
printf '#!/bin/sh\nprintf "%%s|" "$@" > "%s/notified"\n' "$work" > "$work/bin/notify-send"
chmod +x "$work/bin/notify-send"
rm -r "$pics/_talvek"
XDG_DATA_DIRS=/usr/local/share:/usr/share PATH="$work/bin:$PATH" \
  timeout 60 xvfb-run -a gtk-launch talvek "$pics" >"$work/launch.log" 2>&1 ||
  fail "gtk-launch: $(cat "$work/launch.log")"
# The notification comes once every copy is made, with the run's figures.
got=$(await "$work/notified" 60)
check_copies "$pics"
sizes() { stat -c %s "$@" | awk '{s += $1} END {print s}'; }
inputs=$(sizes "$pics"/*.[pP][nN][gG]) copies=$(sizes "$pics"/_talvek/*)
[ "$got" = "--app-name=Talvek|--icon=talvek|--|Talvek|Listo: 6 copies, $(size_words "$inputs") → $(size_words "$copies") ($(change_words "$inputs" "$copies"))
Mis fotos|" ] || fail "notified: $got"

group "Purged: nothing of it is left"
purge
dpkg-query -W -f '${db:Status-Abbrev}' talvek 2>/dev/null | grep -q '^[ihrc]' &&
  fail "still known to dpkg"
left=$(comm -13 <(echo "$before") <(snapshot))
# Caches that the system's triggers rebuild may be new, as long as they no
# longer speak of talvek.
for cache in /usr/share/applications/mimeinfo.cache /usr/share/icons/hicolor/icon-theme.cache; do
  left=$(grep -vxF "$cache" <<<"$left")
  ! grep -qa talvek "$cache" 2>/dev/null || fail "$cache still lists talvek"
done
[ -z "$left" ] || fail "left behind: $left"
[ -z "$(ls /var/lib/dpkg/info/talvek.* 2>/dev/null)" ] || fail "dpkg's records left"

finish
