#!/usr/bin/env bash
# A Windows build under Wine, in a throwaway prefix and home on a virtual X
# display: every command line, the message box, the home page, the exit
# status, and one run with the Windows build of pngcrush. win64 runs under wine64;
# win32, the executable we ship, runs with Wine's 32-bit loader under
# qemu's user-mode emulator (tests/windows/loader32.sh), because this kind of
# machine cannot run 32-bit Linux programs.
# Usage: wine.sh win32|win64 source-folder
set -u
arch=$1
source=$(realpath "$2")
build=$source/build/$arch
. "$source/tests/lib.sh"
work=$(mktemp -d)
wine_session "$arch" "$work"

tool=$work/tool
mkdir "$tool"
cp "$build/talvek.exe" "$build/stand-in/pngcrush.bin" "$tool"
crush="\"$(dos "$tool")\\pngcrush.bin\" -rem alla -brute -reduce"

group "A folder run: every command line, then one box, then exit 0"
pics="$work/my pics"
mkdir -p "$pics/sub.png"
cp "$source/examples/sunset.png" "$pics/a.png"
cp "$source/examples/fog.png" "$pics/b c.png"
cp "$source/examples/glass.png" "$pics/-brute.png"
cp "$source/examples/Tiles.PNG" "$pics/Upper.PNG"
touch "$pics/notes.txt"
start "$tool" "$(dos "$pics")"
if await_box; then
  [ "$(boxes | wc -l)" -eq 1 ] || fail "more than one box"
  kill -0 $talvek 2>/dev/null || fail "exited before the box was dismissed"
  expected=$(for name in a.png "b c.png" Upper.PNG; do
    echo "$crush \"$name\" \".\\_talvek\\$name\""; done
    echo "$crush \".\\-brute.png\" \".\\_talvek\\-brute.png\"")
  [ "$(sort "$tool/calls.log")" = "$(echo "$expected" | sort)" ] ||
    fail "command lines: $(cat "$tool/calls.log")"
  sleep 1
  kill -0 $talvek 2>/dev/null || fail "exited while the box was up"
  dismiss
else
  fail "no box"
fi
ended || fail "exit status $?"
for name in a.png "b c.png" -brute.png Upper.PNG; do
  cmp -s "$pics/$name" "$pics/_talvek/$name" || fail "no copy of $name"
done

group "A file run: no box, the extension lowered in both operands"
rm "$tool/calls.log"
start "$tool" "$(dos "$pics/Upper.PNG")"
# A box lasts only as long as its program, so it is looked for while that runs.
! await_box || { fail "a box was shown"; dismiss; }
ended || fail "exit status $?"
[ "$(cat "$tool/calls.log")" = "$crush \"Upper.png\" \".\\_talvek\\Upper.png\"" ] ||
  fail "command line: $(cat "$tool/calls.log")"

group "A folder with no match: nothing made, no box"
mkdir "$work/none"
start "$tool" "$(dos "$work/none")"
! await_box || { fail "a box was shown"; dismiss; }
ended && [ ! -e "$work/none/_talvek" ] || fail "empty folder run"

group "No argument: the home page reaches the browser"
mkdir "$work/bin"
printf '#!/bin/sh\necho "$@" >> "%s/opened"\n' "$work" > "$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
PATH="$work/bin:$PATH" start "$tool"
ended || fail "exit status $?"
opened=$(await "$work/opened" 30)
[ "$opened" = "$(home_page "$build")" ] || fail "home page: $opened"

group "Faults: no optimizer beside the program, _talvek taken by a file"
bare=$work/bare
mkdir "$bare"
cp "$build/talvek.exe" "$bare"
taken=$work/taken
mkdir "$taken"
cp "$source/examples/fog.png" "$taken"
echo mine > "$taken/_talvek"
before=$(fingerprint "$taken")
for tool_folder in "$bare" "$tool"; do
  start "$tool_folder" "$(dos "$taken")"
  # Without an optimizer not one run starts: nothing done, so no box.
  if await_box; then
    dismiss
    [ "$tool_folder" = "$tool" ] || fail "a box with no optimizer"
  else
    [ "$tool_folder" = "$bare" ] || fail "no box"
  fi
  ended || fail "exit status $?"
  [ "$(fingerprint "$taken")" = "$before" ] || fail "inputs changed"
done
[ "$(ls -A "$bare")" = talvek.exe ] || fail "wrote beside the program"

group "The real optimizer: copies with every pixel kept, and made again when an input changed but not in size"
real=$work/real
mkdir "$real"
cp "$build/talvek.exe" "$build/pngcrush.bin" "$real"
photos="$work/photos"
mkdir "$photos"
cp "$source"/examples/*.[pP][nN][gG] "$photos"
# An image whose copy keeps its own compressed data, byte for byte.
zopflipng -m -y "$source/examples/sunset.png" "$photos/kept.png" >/dev/null
before=$(fingerprint "$photos")
start "$real" "$(dos "$photos")"
if await_box; then dismiss; else fail "no box"; fi
ended || fail "exit status $?"
check_copies "$photos"
[ "$(fingerprint "$photos")" = "$before" ] || fail "inputs changed"
cmp -s "$photos/kept.png" "$photos/_talvek/kept.png" || fail "kept.png: not its own data"
# Other bytes (another zlib header), the old copy's size: no input of it.
/usr/bin/python3 -c '
import struct, sys, zlib
data = bytearray(open(sys.argv[1], "rb").read())
at = data.index(b"IDAT")
data[at + 4:at + 6] = b"\x78\x9c"
length = struct.unpack(">I", data[at - 4:at])[0]
data[at + 4 + length:at + 8 + length] = struct.pack(">I", zlib.crc32(data[at:at + 4 + length]))
open(sys.argv[1], "wb").write(data)' "$photos/kept.png"
start "$real" "$(dos "$photos/kept.png")"
ended || fail "exit status $?"
cmp -s "$photos/kept.png" "$photos/_talvek/kept.png" || fail "kept.png: the old copy stayed"

check_home

finish
