#!/usr/bin/env bash
# A Windows build under Wine, in a throwaway prefix and home on a virtual X
# display: every command line, the message box, the home page, the exit
# status, and one run with the real optimizer. win64 runs under wine64;
# win32, the executable we ship, runs with Wine's 32-bit loader under
# qemu's user-mode emulator (tests/wine/loader32.sh), because this kind of
# machine cannot run 32-bit Linux programs.
# Usage: wine.sh win32|win64 source-folder
set -u
arch=$1
source=$(realpath "$2")
build=$source/build/$arch
. "$source/tests/lib.sh"
work=$(mktemp -d)
home=$HOME
marker=$work/started
touch "$marker"
# Wine writes menus, file associations and caches below the home folder, so
# it gets a scratch one, and the menu builder is off. A crash must not leave
# a debugger waiting.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config \
  XDG_DATA_HOME=$work/home/.local/share XDG_CACHE_HOME=$work/home/.cache
mkdir "$HOME"
export WINEPREFIX=$work/prefix WINEDEBUG=-all \
  WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
ulimit -c 0
if [ "$arch" = win32 ]; then
  loader=$(bash "$source/tests/wine/loader32.sh" "$source") || exit 1
  PATH=$loader:$PATH
fi
# Xvfb picks a free display itself, so that two of these tests can run at once.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
trap 'wineserver -k 2>/dev/null; kill $xvfb; rm -rf "$work"' EXIT
timeout 300 wine wineboot -i >/dev/null 2>&1

dos() { printf 'Z:%s' "$1" | tr / '\\'; }
boxes() { xdotool search --name '^Talvek$' 2>/dev/null; }
# Starts talvek.exe in the background; $talvek is its process.
start() { timeout 120 wine "$1/talvek.exe" "${@:2}" & talvek=$!; }
# Waits for talvek.exe and returns its exit status. One still running after
# two minutes has hung, and every later run would too, so the test stops.
ended() {
  wait $talvek
  local status=$?
  if [ $status -eq 124 ]; then
    fail "talvek.exe did not end within two minutes; stopping"
    finish
    exit 1
  fi
  return $status
}
# Waits for the "Talvek" box, up to two minutes, or until talvek.exe ends.
await_box() {
  for _ in $(seq 1200); do
    boxes >/dev/null && return 0
    kill -0 $talvek 2>/dev/null || break
    sleep 0.1
  done
  boxes >/dev/null
}
dismiss() { xdotool key --window "$(boxes | head -1)" Return 2>/dev/null; }

tool=$work/tool
mkdir "$tool"
cp "$build/talvek.exe" "$build/stand-in/pngcrush.bin" "$tool"
crush="\"$(dos "$tool")\\pngcrush.bin\" -rem alla -brute -reduce"

# Wine ends quietly with status 0 when it cannot start a program, so first
# make sure that the stand-in, built like talvek.exe, runs at all.
timeout 300 wine "$tool/pngcrush.bin" >/dev/null 2>&1
if [ ! -s "$tool/calls.log" ]; then
  echo "FAIL: Wine cannot start a $arch program here; every group would fail"
  exit 1
fi
rm "$tool/calls.log"

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
ended || fail "exit status $?"
[ "$(cat "$tool/calls.log")" = "$crush \"Upper.png\" \".\\_talvek\\Upper.png\"" ] ||
  fail "command line: $(cat "$tool/calls.log")"
[ -z "$(boxes)" ] || fail "a box was shown"

group "A folder with no match: nothing made, no box"
mkdir "$work/none"
start "$tool" "\"$(dos "$work/none")\""
ended && [ ! -e "$work/none/_talvek" ] && [ -z "$(boxes)" ] || fail "empty folder run"

group "No argument: the home page reaches the browser"
mkdir "$work/bin"
printf '#!/bin/sh\necho "$@" >> "%s/opened"\n' "$work" > "$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
PATH="$work/bin:$PATH" start "$tool"
ended || fail "exit status $?"
for _ in $(seq 300); do [ -s "$work/opened" ] && break; sleep 0.1; done
[ "$(cat "$work/opened" 2>/dev/null)" = http://talvek.example/soft/talvek ] ||
  fail "home page: $(cat "$work/opened" 2>/dev/null)"

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
  if await_box; then dismiss; else fail "no box"; fi
  ended || fail "exit status $?"
  [ "$(fingerprint "$taken")" = "$before" ] || fail "inputs changed"
done
[ "$(ls -A "$bare")" = talvek.exe ] || fail "wrote beside the program"

group "The real optimizer: copies with every pixel kept"
real=$work/real
mkdir "$real"
cp "$build/talvek.exe" "$real"
# Wine starts this Unix script as the optimizer. It turns the Windows
# operands into Unix paths, finding the input without regard to case.
cat > "$real/pngcrush.bin" <<'SCRIPT'
#!/bin/sh
in=$(printf '%s' "$5" | tr '\\' /)
out=$(printf '%s' "$6" | tr '\\' /)
[ -e "$in" ] || in=$(find . -maxdepth 1 -iname "$in" | head -1)
exec pngcrush "$1" "$2" "$3" "$4" "$in" "$out" >/dev/null 2>&1
SCRIPT
chmod +x "$real/pngcrush.bin"
photos="$work/photos"
mkdir "$photos"
cp "$source"/examples/*.[pP][nN][gG] "$photos"
before=$(fingerprint "$photos")
start "$real" "$(dos "$photos")"
if await_box; then dismiss; else fail "no box"; fi
ended || fail "exit status $?"
check_copies "$photos"
[ "$(fingerprint "$photos")" = "$before" ] || fail "inputs changed"

group "Nothing written to the home folder of whoever runs the tests"
wineserver -k 2>/dev/null
changed=$(find "$home" -xdev -path "$source" -prune -o -newer "$marker" -print 2>/dev/null | head -5)
[ -z "$changed" ] || fail "changed in $home: $changed"

finish
