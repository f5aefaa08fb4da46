# Helpers shared by the shell tests: checks on inputs and optimized copies.
# Pixels are compared with ImageMagick; a broken input must leave no copy.

fails=0 groups_passed=0 groups_failed=0 group_name= group_fails=0
fail() { echo "FAIL: $group_name: $*"; fails=$((fails + 1)); }

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

# A fingerprint of every file directly in a folder, outputs aside.
fingerprint() { (cd "$1" && find . -maxdepth 1 -type f -print0 | sort -z | xargs -0r sha256sum); }

# Every PNG in the folder has a copy in _talvek with the same pixels; those
# whose names begin with x (deliberately broken) have none.
check_copies() {
  local dir=$1 name copy diff
  for name in "$dir"/*.[pP][nN][gG]; do
    name=${name##*/}
    copy=$dir/_talvek/$name
    case $name in
      x*) [ ! -e "$copy" ] || fail "broken $name left a copy" ;;
      *) if [ ! -s "$copy" ]; then
           fail "no copy of $name"
         else
           diff=$(compare -metric AE "$dir/$name" "$copy" null: 2>&1)
           [ "$diff" = 0 ] || fail "$name: $diff pixels differ"
         fi ;;
    esac
  done
}

# Wine in a throwaway prefix with a scratch home, both under the folder $1,
# on a virtual X display, so nothing is written to the real home. All of it
# is taken down, and the folder removed, on exit. $WINE runs Windows
# programs: wine unless the caller names another runner.
wine_session() {
  export WINEPREFIX=$1/prefix HOME=$1/home WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
  WINE=${WINE:-wine}
  mkdir -p "$HOME"
  # Xvfb picks a free display itself, so tests can run side by side.
  Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$1/display" >/dev/null 2>&1 &
  trap "wineserver -k 2>/dev/null; kill $!; rm -rf '$1'" EXIT
  for _ in $(seq 100); do [ -s "$1/display" ] && break; sleep 0.1; done
  export DISPLAY=:$(cat "$1/display")
  timeout 300 $WINE wineboot -i >/dev/null 2>&1
}

# A Unix path as Wine's drive Z: sees it.
dos() { printf 'Z:%s' "$1" | tr / '\\'; }
# The windows titled "Talvek", one a line.
boxes() { xdotool search --name '^Talvek$' 2>/dev/null; }
# Starts talvek.exe of the folder $1 in the background, with the rest of the
# arguments; $talvek is its process.
start() { timeout 300 $WINE "$1/talvek.exe" "${@:2}" & talvek=$!; }
# Waits for the "Talvek" box, up to a minute.
await_box() {
  for _ in $(seq 600); do boxes >/dev/null && return 0; sleep 0.1; done
  return 1
}
dismiss() { xdotool key --window "$(boxes | head -1)" Return 2>/dev/null; }

# Finishes a test file: a summary line, and the status.
finish() {
  end_group
  echo "$groups_passed passed, $groups_failed failed"
  [ "$fails" -eq 0 ]
}
