#!/usr/bin/env bash
# The optimizer we ship for Windows, built for Linux from the same sources
# and options with AddressSanitizer and UndefinedBehaviorSanitizer, run with
# Talvek's options on the corpus, the samples and the chunk-rich and hostile
# images of chunks.py: no sanitizer may report anything, and the copy must
# be the same byte for byte whether its trials run one after another or
# side by side in 2 or 3 worker processes, one of which may fail.
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

# crush IMAGE NAME [VARIABLE=VALUE...]: the copy of IMAGE as $work/NAME,
# with the environment given; fails on a sanitizer's report.
crush() {
  rm -f "$work/$2"
  env "${@:3}" timeout 300 "$optimizer" -rem alla -brute -reduce "$1" "$work/$2" \
    >/dev/null 2>"$work/log"
  [ $? -ne 86 ] && ! grep -q 'Sanitizer\|runtime error' "$work/log" ||
    fail "${1##*/} ($*): $(grep -m5 'ERROR\|runtime error\|#[0-9] ' "$work/log")"
}

group "Every image with Talvek's options: no sanitizer report, and the same copy from 1, 2 and 3 workers and from a failing one"
made=0
for image in "$work"/in/*; do
  crush "$image" serial.png PNGCRUSH_WORKERS=1
  [ ! -s "$work/serial.png" ] || made=$((made + 1))
  for run in PNGCRUSH_WORKERS=2 PNGCRUSH_WORKERS=3 "PNGCRUSH_WORKERS=3 PNGCRUSH_WORKER_FAULT=2"; do
    # shellcheck disable=SC2086
    crush "$image" side.png $run
    if [ -e "$work/serial.png" ] || [ -e "$work/side.png" ]; then
      cmp -s "$work/serial.png" "$work/side.png" || fail "${image##*/}: $run makes another copy"
    fi
  done
done
# A copy of every valid image at least: the optimizer did run.
[ "$made" -ge "$(ls "$work/in" | grep -vc '^invalid-')" ] || fail "copies of only $made images"

finish
