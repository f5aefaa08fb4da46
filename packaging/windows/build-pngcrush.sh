#!/usr/bin/env bash
# Builds pngcrush.bin for Windows: pngcrush and libpng from Debian's sources,
# compiled with MinGW-w64 and linked statically with MinGW's zlib, into a
# console program that runs on Windows XP and later and needs only
# KERNEL32.DLL and msvcrt.dll.
# Usage: build-pngcrush.sh TRIPLE SOURCE_CACHE WORK_DIR OUTPUT [PREFIX_MAP...]
# PREFIX_MAP options (-ffile-prefix-map=...) keep folder names out of the file.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
triple=$1 cache=$2 work=$3 output=$4
shift 4
cc=$triple-gcc
zlib=/usr/$triple/lib/libz.a
command -v "$cc" >/dev/null ||
  { echo "talvek: $cc is missing; install g++-mingw-w64" >&2; exit 1; }
[ -e "$zlib" ] && grep -q '#define ZLIB_VERSION "1.2.13"' "/usr/$triple/include/zlib.h" ||
  { echo "talvek: zlib 1.2.13 for $triple is missing; install libz-mingw-w64-dev" >&2; exit 1; }

bash "$here/fetch-sources.sh" "$cache" "$work"
cp "$work/libpng/scripts/pnglibconf.h.prebuilt" "$work/libpng/pnglibconf.h"

# The C library's clock() rather than clock_gettime, which MinGW has only in
# libwinpthread.
flags=(-O2 -DPNGCRUSH_USE_CLOCK_GETTIME=0 -I"$work/libpng" -I"/usr/$triple/include" "$@")
objects=()
for source in "$work"/pngcrush/pngcrush.c "$work"/libpng/png{,error,get,mem,pread,read,rio,rtran,rutil,set,trans,wio,write,wtran,wutil}.c; do
  object=$work/obj/$(basename "${source%.c}").o
  mkdir -p "$work/obj"
  "$cc" "${flags[@]}" -c "$source" -o "$object"
  objects+=("$object")
done
"$cc" -static -s -o "$output.tmp" "${objects[@]}" "$zlib" -lm \
  -Wl,--no-insert-timestamp -Wl,--subsystem,console:5.1 \
  -Wl,--major-os-version,5,--minor-os-version,1
mv "$output.tmp" "$output"
