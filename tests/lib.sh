# Helpers shared by the shell tests: checks on inputs and optimized copies.
# Pixels are compared with ImageMagick; a broken input must leave no copy.

# Folder runs in a graphical session send "Listo" to the desktop as well; the
# tests' runs must not reach the desktop of whoever runs them.
unset DISPLAY WAYLAND_DISPLAY

fails=0 groups_passed=0 groups_failed=0 groups_skipped=0 group_name= group_fails=0
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

# A fingerprint of every file directly in a folder, outputs aside.
fingerprint() { (cd "$1" && find . -maxdepth 1 -type f -print0 | sort -z | xargs -0r sha256sum); }

# Every PNG in the folder has a copy in _talvek with the same pixels. Broken
# ones (names beginning with x, or invalid- in the corpus) have none, unless
# pngcrush itself writes one for them (it passes some damage through): then
# the copy is exactly the one pngcrush makes on its own.
check_copies() {
  local dir=$1 name copy diff own
  own=$(mktemp -d)
  for name in "$dir"/*.[pP][nN][gG]; do
    name=${name##*/}
    copy=$dir/_talvek/$name
    case $name in
      x* | invalid-*)
        pngcrush -rem alla -brute -reduce "$dir/$name" "$own/$name" >/dev/null 2>&1
        if [ -e "$own/$name" ]; then
          cmp -s "$own/$name" "$copy" || fail "broken $name: not pngcrush's own copy"
        else
          [ ! -e "$copy" ] || fail "broken $name left a copy"
        fi ;;
      *) if [ ! -s "$copy" ]; then
           fail "no copy of $name"
         else
           diff=$(compare -metric AE "$dir/$name" "$copy" null: 2>&1)
           [ "$diff" = 0 ] || fail "$name: $diff pixels differ"
         fi ;;
    esac
  done
  rm -rf "$own"
}

# Finishes a test file: a summary line, and the status.
finish() {
  end_group
  if [ "$groups_skipped" -gt 0 ]; then
    echo "$groups_passed passed, $groups_failed failed, $groups_skipped skipped"
  else
    echo "$groups_passed passed, $groups_failed failed"
  fi
  [ "$fails" -eq 0 ]
}
