#!/usr/bin/env bash
# The quick tests from a clone (tracked files as they are, uncommitted too)
# named with a blank and a non-ASCII letter, below a folder of mode 0700,
# built with only what they need, sharing this checkout's caches.
# Usage: clone.sh source-folder sources-cache
set -u
source=$(realpath "$1")
cache=$(realpath "$2")
corpus=$(bash "$source/tests/corpus.sh" "$source") || exit 1
. "$source/tests/lib.sh"
closed=$(mktemp -d)
trap 'rm -rf "$closed"' EXIT
chmod 700 "$closed"
clone="$closed/my wörk"
log=$closed/log
git() { command git -c safe.directory='*' "$@"; } # root may test a user's checkout
# step COMMAND...: COMMAND, its output in the log; the test stops when it fails.
step() { "$@" >>"$log" 2>&1 || { fail "$*: $(tail -5 "$log")"; finish; exit 1; }; }
# The working tree's tracked files as they are, over the clone's.
overlay() {
  (cd "$clone" && git ls-files -z | xargs -0r rm -f) &&
    (cd "$source" && git ls-files -z | while IFS= read -r -d '' file; do
      [ ! -e "$file" ] || printf '%s\0' "$file"; done | tar -c --null --no-recursion -T - -f -) |
    tar -x -C "$clone" -f -
}

group "A clone below a folder of mode 0700, in one named with a blank and a non-ASCII letter, built"
started=$SECONDS
step git clone -q -u "git -c safe.directory='*' upload-pack" "$source" "$clone"
step overlay
step mkdir -p "$clone/build" "$source/build/yardstick"
step ln -s "$corpus" "$source/build/yardstick" "$clone/build"
cd "$clone" || exit 1
step cmake --preset linux -DBUILD_TESTING=ON "-DTALVEK_SOURCES_CACHE=$cache"
step cmake --build --preset linux -j2 --target talvek pngcrush_native stand_in pixels \
  driver_test posix_test trials_test
echo "cloned and built in $((SECONDS - started)) s"

group "The tests' own patch added by a path with a blank, as the optimizer test's build adds it"
TALVEK_PATCHES_ADDED=$clone/tests/linux/planted-damage.patch \
  bash optimizer/fetch-sources.sh "$cache" build/planted >"$log" 2>&1 &&
  grep -q PNGCRUSH_PLANTED_DAMAGE build/planted/pngcrush/pngcrush.c ||
  fail "not applied: $(tail -3 "$log")"

group "The quick tests from the clone$([ "$(id -u)" -ne 0 ] || echo ", as root, the locked folders as nobody")"
started=$SECONDS
if ! ctest --preset quick -j2 -V >"$log" 2>&1; then
  fail "they failed in the clone:"
  grep -E '^[0-9]+: FAIL|tests failed|\((Failed|Timeout)\)' "$log"
else
  for name in integration robustness shellcheck docs; do
    grep -qE "Test +#[0-9]+: $name \.+ +(Passed|\*+Skipped)" "$log" || fail "$name did not run"
  done
fi
echo "quick tests in $((SECONDS - started)) s"
# A case that cannot run here (no user nobody, say) skips this group too.
said=$(sed -n 's/^[0-9]*: SKIPPED: //p' "$log")
[ -z "$said" ] || skip "in the clone: $said"
finish
