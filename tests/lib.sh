# Helpers shared by the shell tests: checks on inputs and optimized copies.
# Pixels are compared with ImageMagick; a broken input must leave no copy.

# Folder runs in a graphical session send "Listo" to the desktop as well; the
# tests' runs must not reach the desktop of whoever runs them.
unset DISPLAY WAYLAND_DISPLAY

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

# Finishes a test file: a summary line, and the status.
finish() {
  end_group
  echo "$groups_passed passed, $groups_failed failed"
  [ "$fails" -eq 0 ]
}
