#!/usr/bin/env bash
# Runs each fuzz target of build/fuzz for a bounded time (default 30 s),
# starting from its seed corpus in fuzz/corpus, and prints the executions.
# New inputs go to a scratch folder, so the seeds stay as committed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0 passed=0 failed=0
for target in build/fuzz/fuzz_*; do
  name=${target#build/fuzz/fuzz_}
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
echo "fuzz: $passed passed, $failed failed"
exit $status
