#!/usr/bin/env bash
# Builds pngcrush.bin: pngcrush and libpng from Debian's sources, with our
# change to pngcrush and our libpng options (libpng.dfa). For Windows it is
# compiled with MinGW-w64 and linked statically with MinGW's zlib, into a
# console program that runs on Windows XP and later and needs only
# KERNEL32.DLL and msvcrt.dll. The same sources and options also build for
# this machine (TARGET native, with the C compiler $CC and the system's
# zlib), so that the optimizer we ship can be run with sanitizers and fuzzed.
# Usage: build-pngcrush.sh TARGET SOURCE_CACHE WORK_DIR OUTPUT [FLAG...]
# TARGET is a MinGW-w64 triple or native. FLAGs go to every compile and the
# link: -ffile-prefix-map=... keeps folder names out of the file, and
# -fsanitize=... instruments it. An OUTPUT named *.a is libpng alone, built
# the same way, as an archive for libpng's own fuzzers (contrib/oss-fuzz).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
target=$1 cache=$2 work=$3 output=$4
shift 4
if [ "$target" = native ]; then
  cc=${CC:-cc} zlib=-lz include=/usr/include
  link=()
else
  cc=$target-gcc zlib=/usr/$target/lib/libz.a include=/usr/$target/include
  # The C library's clock() rather than clock_gettime, which MinGW has only
  # in libwinpthread.
  set -- -DPNGCRUSH_USE_CLOCK_GETTIME=0 "$@"
  # shellcheck disable=SC2054 # the linker's options hold commas
  link=(-static -s -Wl,--no-insert-timestamp -Wl,--subsystem,console:5.1
    -Wl,--major-os-version,5,--minor-os-version,1)
  # The zlib linked in is Debian's build of the pinned libz-mingw-w64.
  pinned=$(awk '$1 == "libz-mingw-w64" { print $2 }' "$here/sources.versions")
  installed=$(dpkg-query -W -f '${Version}' libz-mingw-w64-dev 2>/dev/null || true)
  [ -e "$zlib" ] && [ "$installed" = "$pinned" ] ||
    { echo "talvek: libz-mingw-w64-dev $pinned is needed, not '$installed'; install it, or move the pin in $here/sources.versions" >&2; exit 1; }
fi
command -v "${cc%% *}" >/dev/null ||
  { echo "talvek: $cc is missing; install g++-mingw-w64 (or clang, for native builds)" >&2; exit 1; }
grep -q '#define ZLIB_VERSION "1.2.13' "$include/zlib.h" ||
  { echo "talvek: zlib 1.2.13 headers are missing in $include; install libz-mingw-w64-dev (zlib1g-dev for native builds)" >&2; exit 1; }

bash "$here/fetch-sources.sh" "$cache" "$work"
# pnglibconf.h from libpng's own defaults and our options, by libpng's own
# scripts, with the zlib the program is linked with. make takes no blank in
# a file name, so the options are copied beside libpng's own.
cp "$here/libpng.dfa" "$work/libpng/talvek.dfa"
make -s -C "$work/libpng" -f scripts/pnglibconf.mak CC="$cc" AWK=awk \
  CPPFLAGS="-I$include" DFA_XTRA=talvek.dfa pnglibconf.h >"$work/pnglibconf.log" 2>&1 ||
  { echo "talvek: libpng's options do not make a pnglibconf.h; see $work/pnglibconf.log" >&2; exit 1; }
# Each option that libpng.dfa turns on or off must be so in pnglibconf.h:
# advisories.txt explains advisories away by the readers left out.
wrong=$(awk '$1 == "option" && ($NF == "on" || $NF == "off") { print $2, $NF }' "$here/libpng.dfa" |
  while read -r option state; do
    made=off
    ! grep -q "^#define PNG_${option}_SUPPORTED\$" "$work/libpng/pnglibconf.h" || made=on
    [ "$made" = "$state" ] || echo "$option $made"
  done)
[ -z "$wrong" ] ||
  { echo "talvek: pnglibconf.h has ${wrong//$'\n'/, }, against libpng.dfa; see $work/pnglibconf.log" >&2; exit 1; }

# Our own sources beside pngcrush's: its trials side by side in workers,
# with what Windows or Linux does for them; twin trials measured once and
# rows decoded once; the last guard of every copy's pixels; the input's own
# compressed data as the last candidate; and whether two names are one file,
# each system's way. A system's part NAME.c is compiled as NAME-os.c.
system=win32
[ "$target" != native ] || system=posix
cp "$here"/pngcrush-{workers,trials,pixels,own}.[ch] "$here"/pngcrush-{workers-os,files}.h \
  "$work/pngcrush"
for part in "$here/$system"/*.c; do
  cp "$part" "$work/pngcrush/$(basename "$part" .c)-os.c"
done
flags=(-O2 -I"$work/libpng" -I"$include" "$@")
objects=()
sources=("$work"/pngcrush/pngcrush{,-workers,-workers-os,-files-os,-trials,-pixels,-own}.c "$work"/libpng/png{,error,get,mem,pread,read,rio,rtran,rutil,set,trans,wio,write,wtran,wutil}.c)
# An archive is libpng alone, for libpng's own fuzzers.
[[ $output != *.a ]] || sources=("${sources[@]:7}")
mkdir -p "$work/obj"
# One compiler a core at once (TALVEK_JOBS, or nproc): the 22 files are most
# of the build's time (36 s one at a time for Windows here, 22 s on two cores).
jobs=${TALVEK_JOBS:-$(nproc 2>/dev/null || echo 1)} running=() failed=0
for source in "${sources[@]}"; do
  object=$work/obj/$(basename "${source%.c}").o
  if [ ${#running[@]} -ge "$jobs" ]; then
    wait "${running[0]}" || failed=1
    running=("${running[@]:1}")
  fi
  $cc "${flags[@]}" -c "$source" -o "$object" &
  running+=($!)
  objects+=("$object")
done
for pid in "${running[@]}"; do wait "$pid" || failed=1; done
[ $failed -eq 0 ] || { echo "talvek: compiling $output failed" >&2; exit 1; }
rm -f "$output.tmp"
if [[ $output == *.a ]]; then
  ar rcs "$output.tmp" "${objects[@]}"
else
  $cc "${flags[@]}" "${link[@]}" -o "$output.tmp" "${objects[@]}" "$zlib" -lm
fi
mv "$output.tmp" "$output"
