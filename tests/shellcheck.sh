#!/usr/bin/env bash
# Every shell script of the checkout through shellcheck (.shellcheckrc): the
# tracked *.sh files and those starting bash or sh (.ci/run), found anew.
# Usage: shellcheck.sh source-folder
set -u
cd "$1" || exit 1
. tests/lib.sh

group "Every shell script passes shellcheck"
scripts=()
while IFS= read -r -d '' file; do
  [ -f "$file" ] || continue
  [[ $file == *.sh ]] || head -n1 "$file" | grep -qE '^#!.*[/ ](ba|da)?sh( |$)' || continue
  scripts+=("$file")
done < <(git -c safe.directory='*' ls-files -z)
if [ ${#scripts[@]} -eq 0 ]; then
  fail "no shell script found; is $PWD a git checkout?"
elif ! command -v shellcheck >/dev/null; then
  fail "shellcheck is missing: install Debian's package shellcheck"
elif ! shellcheck -f gcc "${scripts[@]}"; then
  fail "shellcheck has findings in the ${#scripts[@]} scripts"
else
  echo "${#scripts[@]} scripts checked"
fi
finish
