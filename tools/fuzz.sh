#!/usr/bin/env bash
# Runs each fuzz target of build/fuzz for a bounded time (default 30 s),
# starting from its seed corpus in fuzz/corpus, and prints the executions.
# New inputs go to a scratch folder, so the seeds stay as committed. Then the
# optimizer we ship, built with afl++ and sanitizers, runs under afl-fuzz for
# as long on Talvek's own command line, from the small images of the tests;
# what it finds is kept in build/fuzz/afl, and a crash or a hang fails.
# Usage: fuzz.sh [SECONDS [TARGET...]]   (after the fuzz and sanitize presets)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
# Further arguments name the targets to run (tail, ..., optimizer); all by default.
shift $(($# > 0 ? 1 : 0))
wanted=" $* "
chosen() { [ "$wanted" = "  " ] || [[ "$wanted" == *" $1 "* ]]; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0 passed=0 failed=0
for target in build/fuzz/fuzz_*; do
  name=${target#build/fuzz/fuzz_}
  chosen "$name" || continue
  mkdir "$scratch/$name"
  if "$target" -max_total_time="$seconds" -max_len=4200 -timeout=10 \
      -artifact_prefix="$scratch/" "$scratch/$name" "fuzz/corpus/$name" \
      >"$scratch/$name.log" 2>&1; then
    echo "fuzz_$name: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$scratch/$name.log")"
    passed=$((passed + 1))
  else
    echo "fuzz_$name: FAILED"
    tail -30 "$scratch/$name.log"
    ls "$scratch"/crash-* "$scratch"/leak-* "$scratch"/timeout-* 2>/dev/null | while read -r f; do
      echo "input: $(od -An -c "$f" | head -5)"; done
    status=1 failed=$((failed + 1))
  fi
done
optimizer=build/fuzz/optimizer/pngcrush-afl
findings=build/fuzz/afl
if ! chosen optimizer; then
  :
elif [ ! -x "$optimizer" ]; then
  echo "optimizer: FAILED: no $optimizer; install afl++, then build the fuzz preset"
  status=1 failed=$((failed + 1))
else
  # The seeds: the tests' images of 2 KiB or less.
  source=. corpus=$(bash tests/corpus.sh .)
  . tests/lib.sh
  test_images "$scratch/images"
  mkdir "$scratch/seeds"
  find "$scratch/images" -size -2049c -exec cp -t "$scratch/seeds" {} +
  rm -rf "$findings"
  # -t 10000+: ten seconds an image before it counts as a hang, and a seed
  # that takes longer is passed over rather than ending the run.
  afl=0
  AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_AFFINITY=1 \
    AFL_FAST_CAL=1 afl-fuzz -i "$scratch/seeds" -o "$findings" -V "$seconds" -t 10000+ -m none \
    -- "$optimizer" -rem alla -brute -reduce @@ "$scratch/copy.png" >"$scratch/afl.log" 2>&1 || afl=$?
  stats=$findings/default/fuzzer_stats
  found=$(ls "$findings"/default/crashes/id* "$findings"/default/hangs/id* 2>/dev/null || true)
  # afl++'s compiler passes drop some of the sanitizers' checks (a write
  # past an array, here), so every input it kept runs again through the
  # sanitizer build of the tests, when there is one.
  sanitized=build/sanitize/optimizer/pngcrush
  for input in "$findings"/default/queue/id*; do
    [ -x "$sanitized" ] && [ -e "$input" ] || break
    ASAN_OPTIONS=exitcode=86 UBSAN_OPTIONS=exitcode=86 timeout 300 "$sanitized" \
      -rem alla -brute -reduce "$input" "$scratch/copy.png" >/dev/null 2>&1 ||
      [ $? -ne 86 ] || found="$found $input"
  done
  if [ $afl -eq 0 ] && [ -s "$stats" ] && [ -z "$found" ]; then
    echo "optimizer: $(sed -n 's/^execs_done *: //p' "$stats") runs in" \
      "$(sed -n 's/^run_time *: //p' "$stats") second(s), $(ls "$scratch/seeds" | wc -l) seeds," \
      "a queue of $(sed -n 's/^corpus_count *: //p' "$stats") inputs"
    passed=$((passed + 1))
  else
    echo "optimizer: FAILED"
    [ -n "$found" ] || tail -20 "$scratch/afl.log"
    for input in $found; do echo "input: $input"; done
    status=1 failed=$((failed + 1))
  fi
fi
echo "fuzz: $passed passed, $failed failed"
exit $status
