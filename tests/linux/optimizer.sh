#!/usr/bin/env bash
# The optimizer we ship for Windows, built for Linux from the same sources
# and options with AddressSanitizer and UndefinedBehaviorSanitizer, run with
# Talvek's options on the corpus, the samples and the chunk-rich and hostile
# images of chunks.py: no sanitizer may report anything.
# Usage: optimizer.sh path/to/sanitized/pngcrush source-folder
set -u
optimizer=$1
source=$(realpath "$2")
. "$source/tests/lib.sh"
corpus=$(bash "$source/tests/corpus.sh" "$source") || exit 1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
test_images "$work/in"
# A report ends the run with this status, whatever pngcrush itself returns.
export ASAN_OPTIONS=exitcode=86 UBSAN_OPTIONS=exitcode=86:print_stacktrace=1

group "Every image with Talvek's options, and not one sanitizer report"
made=0
for image in "$work"/in/*; do
  timeout 300 "$optimizer" -rem alla -brute -reduce "$image" "$work/out.png" >/dev/null 2>"$work/log"
  status=$?
  [ $status -ne 86 ] && ! grep -q 'Sanitizer\|runtime error' "$work/log" ||
    fail "${image##*/}: $(grep -m5 'ERROR\|runtime error\|#[0-9] ' "$work/log")"
  [ ! -s "$work/out.png" ] || made=$((made + 1))
  rm -f "$work/out.png"
done
# A copy of every valid image at least: the optimizer did run.
[ "$made" -ge "$(ls "$work/in" | grep -vc '^invalid-')" ] || fail "copies of only $made images"

finish
