# Helpers shared by the shell tests: checks on inputs and optimized copies.
# Pixels are compared by the pixel oracle; a broken input must leave no copy.

# Folder runs in a graphical session send "Listo" to the desktop as well; the
# tests' runs must not reach the desktop of whoever runs them.
unset DISPLAY WAYLAND_DISPLAY

fails=0 groups_passed=0 groups_failed=0 groups_skipped=0 group_name='' group_fails=0
fail() { echo "FAIL: $group_name: $*"; fails=$((fails + 1)); }
# Marks the current group as not run, with the reason; it counts as skipped,
# never as passed.
skip() { echo "SKIPPED: $group_name: $*"; groups_skipped=$((groups_skipped + 1)); group_name=; }

# Starts a group of checks; a group passes when none of its checks fails.
group() {
  end_group
  group_name=$1 group_fails=$fails
  echo "# $1"
}
end_group() {
  [ -n "$group_name" ] || return 0
  if [ "$fails" -eq "$group_fails" ]; then
    groups_passed=$((groups_passed + 1))
  else
    groups_failed=$((groups_failed + 1))
  fi
  group_name=
}

# await FILE SECONDS: what a program started in the background wrote to FILE
# within SECONDS, then FILE is gone.
await() {
  for _ in $(seq $(($2 * 10))); do [ -s "$1" ] && break; sleep 0.1; done
  cat "$1" 2>/dev/null; rm -f "$1"
}

# The version in the project() line of the source folder $1.
project_version() { sed -n 's/^project(talvek VERSION \([0-9.]*\) .*/\1/p' "$1/CMakeLists.txt"; }

# The home page the build folder $1 was configured with: the host from its
# CMake cache (TALVEK_HOME_HOST), the path fixed.
home_page() {
  printf 'http://%s/soft/talvek' "$(sed -n 's/^TALVEK_HOME_HOST:STRING=//p' "$1/CMakeCache.txt")"
}

# size_words BYTES, change_words BEFORE AFTER: a size, and a copy's against
# its input's, worded anew as the report words them (platform/posix/text.cpp).
size_words() {
  awk -v n="$1" 'BEGIN { if (n < 10000) { printf "%d B\n", n; exit }
    split("kB MB GB", unit, " "); s = 1000
    for (i = 1; i < 3 && int((n + s / 20) / (s / 10)) >= 10000; i++) s *= 1000
    t = int((n + s / 20) / (s / 10)); printf "%d.%d %s\n", int(t / 10), t % 10, unit[i] }'
}
change_words() {
  awk -v b="$1" -v a="$2" 'BEGIN { if (a == b) { print "the same size"; exit }
    d = a < b ? b - a : a - b; w = a < b ? "smaller" : "larger"
    t = int((d * 1000 + int(b / 2)) / b)
    if (t == 0) print "under 0.1 % " w
    else if (t < 100) printf "%d.%d %% %s\n", int(t / 10), t % 10, w
    else printf "%d %% %s\n", int((d * 100 + int(b / 2)) / b), w }'
}

# Copies into the folder $1 the images the optimizer is tried on: the
# samples of $source, the corpus in $corpus, the images chunks.py makes, and
# corpus images that zopflipng and optipng optimized, whose own data beats
# every trial of pngcrush, with chunks.py's variants of one.
test_images() {
  # shellcheck disable=SC2154 # corpus is set by the test that sources this file
  mkdir -p "$1" && cp "$source"/examples/*.[pP][nN][gG] "$corpus"/*.png "$1" &&
    /usr/bin/python3 "$source/tests/chunks.py" "$1" &&
    zopflipng -m -y "$corpus/video-001.png" "$1/optimized-photo.png" >/dev/null &&
    optipng -quiet -o7 -i1 -out "$1/optimized-interlaced.png" "$corpus/video-001.png" &&
    zopflipng -m -y --keepchunks=sRGB,pHYs,tIME "$corpus/benchPaletted.png" \
      "$1/optimized-palette.png" >/dev/null &&
    zopflipng -m -y "$corpus/basn2c16.png" "$1/optimized-16-bit.png" >/dev/null &&
    /usr/bin/python3 "$source/tests/chunks.py" --variants "$1/optimized-16-bit.png" "$1"
}

# yardstick FOLDER COPIES: Debian's copies, or the inputs' own where smaller.
yardstick() { /usr/bin/python3 "$source/tests/chunks.py" --own "$1" "$2"; }

# same_pixels INPUT COPY: the pixel oracle (tests/pixels.c, built with the
# tests, found in TALVEK_PIXELS). Silent when every pixel of COPY is that of
# INPUT, as 16-bit RGBA samples; otherwise it says where they differ, and
# fails.
same_pixels() {
  "${TALVEK_PIXELS:?no pixel oracle: set TALVEK_PIXELS to build/PRESET/pixels}" "$1" "$2"
}

# A fingerprint of every file directly in a folder, outputs aside.
fingerprint() { (cd "$1" && find . -maxdepth 1 -type f -print0 | sort -z | xargs -0r sha256sum); }

# Every PNG in the folder has a copy in _talvek with its pixels, no larger
# than itself. Broken ones (names beginning with x, or invalid-) have none,
# unless Debian's pngcrush writes one for them (it passes some damage through):
# then the copy is exactly the one Debian's pngcrush makes, or none at all
# for the names in $no_copy_ok. invalid-palette.png indexes past its
# palette: Debian 12's libpng writes a copy as broken as the input, the
# newer libpng of our optimizer refuses to write one.
no_copy_ok=invalid-palette.png
check_copies() {
  local dir=$1 name copy diff own
  own=$(mktemp -d)
  for name in "$dir"/*.[pP][nN][gG]; do
    name=${name##*/}
    copy=$dir/_talvek/$name
    case $name in
      x* | invalid-*)
        pngcrush -rem alla -brute -reduce "$dir/$name" "$own/$name" >/dev/null 2>&1
        if [ ! -e "$own/$name" ]; then
          [ ! -e "$copy" ] || fail "broken $name left a copy"
        elif [ -e "$copy" ] || [[ " $no_copy_ok " != *" $name "* ]]; then
          cmp -s "$own/$name" "$copy" || fail "broken $name: not pngcrush's own copy"
        fi ;;
      *) if [ ! -s "$copy" ]; then
           fail "no copy of $name"
         else
           diff=$(same_pixels "$dir/$name" "$copy") || fail "$diff"
           [ "$(stat -c %s "$copy")" -le "$(stat -c %s "$dir/$name")" ] ||
             fail "$name: the copy is larger than its input"
         fi ;;
    esac
  done
  rm -rf "$own"
}

# crush_all FOLDER OUT [PROGRAM]: the copy that PROGRAM (Debian's pngcrush
# unless named) makes of each image of FOLDER with Talvek's options, in OUT.
# Debian's copies are the yardstick of several tests, so each is made once
# and kept in $source/build/yardstick, under the hash of the image and of
# the pngcrush, libpng and zlib that made it; tests running side by side
# may both make one, and the last rename wins with the same bytes.
crush_all() {
  local image cache='' kept
  mkdir -p "$2"
  if [ $# -lt 3 ] && [ -n "${source:-}" ]; then
    cache=$source/build/yardstick/$({ sha256sum "$(command -v pngcrush)"
      dpkg-query -W pngcrush libpng16-16 zlib1g; } 2>&1 | sha256sum | cut -c1-16)
    mkdir -p "$cache"
  fi
  for image in "$1"/*.[pP][nN][gG]; do
    if [ -z "$cache" ]; then
      "${3:-pngcrush}" -rem alla -brute -reduce "$image" "$2/${image##*/}" >/dev/null 2>&1
      continue
    fi
    kept=$cache/$(sha256sum <"$image" | cut -c1-64)
    if [ ! -e "$kept.made" ]; then
      rm -f "$kept.$$"
      pngcrush -rem alla -brute -reduce "$image" "$kept.$$" >/dev/null 2>&1
      [ ! -e "$kept.$$" ] || mv "$kept.$$" "$kept.png"
      touch "$kept.made"
    fi
    [ ! -e "$kept.png" ] || cp "$kept.png" "$2/${image##*/}"
  done
}

# lost_by FOLDER COPIES: the names of the valid images of FOLDER whose copy
# in COPIES lacks pixels, or is missing; where Debian's pngcrush does that,
# its copy is no yardstick, and the oracle alone judges ours; nor where the
# key matches no pixel (trns-dead-*), which ours drops and Debian's keeps.
lost_by() {
  local image name
  for image in "$1"/*.[pP][nN][gG]; do
    name=${image##*/}
    case $name in x* | invalid-*) continue ;; trns-dead-*) echo "$name"; continue ;; esac
    [ -e "$2/$name" ] && same_pixels "$image" "$2/$name" >/dev/null || echo "$name"
  done
}

# same_bytes FOLDER REFERENCE WHOSE [NAME...]: the copy of each image of
# FOLDER in FOLDER/_talvek is the one in REFERENCE, byte for byte, or
# neither has one; but for the NAMEs, and a missing copy of $no_copy_ok.
# WHOSE says whose copies REFERENCE holds.
same_bytes() {
  local dir=$1 reference=$2 whose=$3 image name
  shift 3
  for image in "$dir"/*.[pP][nN][gG]; do
    name=${image##*/}
    [[ " $* " != *" $name "* ]] || continue
    [[ -e "$dir/_talvek/$name" || " $no_copy_ok " != *" $name "* ]] || continue
    [ ! -e "$dir/_talvek/$name" ] && [ ! -e "$reference/$name" ] ||
      cmp -s "$dir/_talvek/$name" "$reference/$name" || fail "$name: not the bytes of $whose"
  done
}

# Wine for the Windows build $1 (win32 or win64), in a throwaway prefix with
# a scratch home, both under the folder $2, on a virtual X display. Wine
# writes menus, file associations and caches below the home folder, so it
# gets a scratch one, and the menu builder is off; a crash must not leave a
# debugger waiting. win32 runs through tests/windows/loader32.sh. All of it is
# taken down, and the folder removed, on exit. Needs $source.
wine_session() {
  real_home=$HOME
  touch "$2/started"
  export HOME=$2/home XDG_CONFIG_HOME=$2/home/.config \
    XDG_DATA_HOME=$2/home/.local/share XDG_CACHE_HOME=$2/home/.cache
  export WINEPREFIX=$2/prefix WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
  mkdir -p "$HOME" "$2/preflight" "$WINEPREFIX"
  ulimit -c 0
  if [ "$1" = win32 ]; then
    local loader
    loader=$(bash "$source/tests/windows/loader32.sh" "$source") || exit 1
    PATH=$loader:$PATH
  fi
  # Xvfb picks a free display itself, so tests can run side by side.
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$2/display" >/dev/null 2>&1 &
  # shellcheck disable=SC2064 # Xvfb's process and the folder, as they are now
  trap "wineserver -k 2>/dev/null; kill $!; rm -rf $(printf %q "$2")" EXIT
  for _ in $(seq 100); do [ -s "$2/display" ] && break; sleep 0.1; done
  DISPLAY=:$(cat "$2/display"); export DISPLAY
  # One wineserver for the whole session (it ends two minutes after its last
  # program), so that Wine's services and desktop start once, not again for
  # every program, where under load they can miss Wine's own time limits.
  # It starts only in an existing prefix folder, made above.
  wineserver -p120
  timeout 300 wine wineboot -i >/dev/null 2>&1
  # Wine ends quietly with status 0 when it cannot start a program, so first
  # make sure that the stand-in optimizer, built like talvek.exe, runs at all.
  cp "$source/build/$1/stand-in/pngcrush.bin" "$2/preflight"
  timeout 300 wine "$2/preflight/pngcrush.bin" >/dev/null 2>&1
  if [ ! -s "$2/preflight/calls.log" ]; then
    echo "FAIL: Wine cannot start a $1 program here; every group would fail"
    exit 1
  fi
}

# A group that checks that nothing in the real home folder changed since
# wine_session began. The checkout is left out: the tests' builds are there.
check_home() {
  group "Nothing written to the home folder of whoever runs the tests"
  wineserver -k 2>/dev/null
  local changed
  changed=$(find "$real_home" -xdev -path "$source" -prune -o \
    -newer "${WINEPREFIX%/prefix}/started" -print 2>/dev/null | head -5)
  [ -z "$changed" ] || fail "changed in $real_home: $changed"
}

# A Unix path as Wine's drive Z: sees it.
# shellcheck disable=SC1003 # tr reads '\\' as one backslash
dos() { printf 'Z:%s' "$1" | tr / '\\'; }
# The windows titled "Talvek", one a line.
boxes() { xdotool search --name '^Talvek$' 2>/dev/null; }
# Starts talvek.exe of the folder $1 in the background, with the rest of the
# arguments; $talvek is its process. It may run for $run_limit seconds.
run_limit=120
start() { timeout "$run_limit" wine "$1/talvek.exe" "${@:2}" & talvek=$!; }
# Waits for talvek.exe and returns its exit status. One still running after
# $run_limit seconds has hung, and every later run would too, so the test
# stops.
ended() {
  wait "$talvek"
  local status=$?
  if [ $status -eq 124 ]; then
    fail "talvek.exe did not end within $run_limit seconds; stopping"
    finish
    exit 1
  fi
  return $status
}
# Waits for the "Talvek" box while talvek.exe runs.
await_box() {
  for _ in $(seq $((run_limit * 10))); do
    boxes >/dev/null && return 0
    kill -0 "$talvek" 2>/dev/null || break
    sleep 0.1
  done
  boxes >/dev/null
}
dismiss() { xdotool key --window "$(boxes | head -1)" Return 2>/dev/null; }

# Finishes a test file: a summary line, and the status: 1 when a check
# failed, else 77 when a group was skipped (CTest's SKIP_RETURN_CODE, and
# tools/test.sh, read it as skipped), else 0.
finish() {
  end_group
  if [ "$groups_skipped" -gt 0 ]; then
    echo "$groups_passed passed, $groups_failed failed, $groups_skipped skipped"
  else
    echo "$groups_passed passed, $groups_failed failed"
  fi
  [ "$fails" -eq 0 ] || return 1
  [ "$groups_skipped" -eq 0 ] || return 77
}
