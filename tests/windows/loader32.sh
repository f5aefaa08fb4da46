#!/usr/bin/env bash
# Makes a private Wine that can run 32-bit Windows programs on a kernel that
# cannot run 32-bit Linux programs, and prints the folder whose `wine` to
# put first on PATH.
#
# Wine runs a 32-bit program by starting its own i386 loader. Here that
# loader runs under qemu's user-mode emulator, while wineserver, wineboot
# and every 64-bit program stay native. The loader comes out of Debian's
# wine32 package, unpacked, not installed: once installed, Debian's own
# `wine` would pick it and fail for every program. Wine looks for its
# loader, its server and its libraries beside the program it was started
# as, so the folder copies wine64 and links the rest at the same relative
# places as in /usr.
# Usage: loader32.sh source-folder
set -euo pipefail
source=$(realpath "$1")
root=$source/build/wine32-loader
lib=$root/usr/lib/wine
if [ ! -x "$lib/wine.real" ]; then
  for need in /usr/lib/wine/wine64 /usr/lib/i386-linux-gnu/wine/i386-unix/ntdll.so \
      /usr/bin/qemu-i386-static; do
    [ -e "$need" ] || { echo "talvek: $need is missing; as root, run:" \
      "dpkg --add-architecture i386 && apt-get update &&" \
      "apt-get install wine64 libwine:i386 qemu-user-static" >&2; exit 1; }
  done
  rm -rf "$root"
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  if ! (cd "$scratch" && apt-get download -q wine32:i386 >download.log 2>&1); then
    echo "talvek: cannot download wine32:i386: $(tail -1 "$scratch/download.log")" >&2
    exit 1
  fi
  dpkg-deb -x "$scratch"/wine32_*.deb "$scratch/tree"
  mkdir -p "$lib" "$root/usr/share" "$root/bin"
  ln -s /usr/lib/i386-linux-gnu "$root/usr/lib/i386-linux-gnu"
  ln -s /usr/lib/x86_64-linux-gnu "$root/usr/lib/x86_64-linux-gnu"
  ln -s /usr/share/wine "$root/usr/share/wine"
  ln -s /usr/lib/wine/wineserver64 "$lib/wineserver"
  # A copy, not a link: Wine takes its own folder from /proc/self/exe.
  cp /usr/lib/wine/wine64 "$lib/wine64"
  # qemu reserves a 2 GiB guest address space up front; without -R, Wine's
  # own reservation of the 32-bit address space takes about a minute.
  # -0 makes the loader's argv[0] this script, so a loader that starts
  # itself again goes through qemu too.
  cat > "$lib/wine" <<'SCRIPT'
#!/bin/sh
here=$(dirname "$(readlink -f "$0")")
WINELOADERNOEXEC=1 exec qemu-i386-static -R 0x81000000 -0 "$here/wine" "$here/wine.real" "$@"
SCRIPT
  for name in wine64 wineserver; do
    # shellcheck disable=SC2016 # expanded by the wrapper when it runs
    printf '#!/bin/sh\nexec "$(dirname "$(readlink -f "$0")")/../usr/lib/wine/%s" "$@"\n' \
      $name > "$root/bin/${name%64}"
  done
  chmod +x "$lib/wine" "$root/bin/wine" "$root/bin/wineserver"
  # Last, so that a folder with wine.real in it is a complete one.
  cp "$scratch/tree/usr/lib/wine/wine" "$lib/wine.real"
fi
echo "$root/bin"
