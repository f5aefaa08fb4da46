#!/usr/bin/env bash
# Fuzzes for a bounded time (SECONDS, 30 by default) and prints each
# target's runs:
# - Talvek's own libFuzzer targets (build/fuzz/fuzz_*), from fuzz/corpus;
# - libpng's own fuzzers of contrib/oss-fuzz (libpng_read, libpng_readapi,
#   libpng_transformations, libpng_colormap), built with the libpng we ship,
#   from the tests' images and libpng's contrib/testpngs;
# - the optimizer we ship, built with afl++ and sanitizers, under afl-fuzz,
#   where a copy that loses a pixel aborts it: "optimizer" on Talvek's own
#   command line (-rem alla -brute -reduce), "methods" on eleven methods
#   only, from the tests' images of 2 KiB or less; every input kept runs
#   again through the sanitizer build, whose copy the pixel oracle checks;
# - "selfcheck", a small afl++ target that crashes on a planted input: the
#   run passes only if that crash is reported, with its input.
# A target named gets SECONDS of its own; with none named, the targets
# added last share SECONDS: methods half, libpng's four fuzzers an eighth
# each. A crash, a hang, a sanitizer report or a lost pixel fails the
# run; the inputs stay under build/fuzz (libfuzzer/NAME, afl/NAME), and the
# failure names them. Last, the seeds and every input kept run through the
# coverage builds, and the share of the lines of pngcrush.c and of libpng's
# reading files that they reach is printed.
# Usage: fuzz.sh [SECONDS [TARGET...]]   (after the fuzz preset, and the
# linux one configured with -DBUILD_TESTING=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
# Further arguments name the targets to run (tail, ..., libpng_read, ...,
# optimizer, methods, selfcheck); all by default.
shift $(($# > 0 ? 1 : 0))
wanted=" $* "
chosen() { [ "$wanted" = "  " ] || [[ "$wanted" == *" $1 "* ]]; }
# On a RAM disk where there is one: afl++ writes each input to a file.
scratch=$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0 passed=0 failed=0
libpng=build/fuzz/libpng/build/libpng/contrib
afl_libpng=build/fuzz/optimizer/build/libpng/contrib
# The optimizer with sanitizers, and the tests' pixel oracle, both built by
# the linux preset with its tests.
sanitized=build/linux/optimizer/pngcrush
pixels=build/linux/pixels
# The eleven methods of "methods", from pngcrush's table of methods
# (filter, zlib strategy, level): 11 to 16 are filters 0 to 5 (none, sub,
# up, average, Paeth, adaptive) with Huffman codes only at level 2; 17 is
# filter 0, default, level 1, and 23 the same filtered, its twin, which is
# not run; 125 is filter 0, run-length, level 1; 137 is filter 0, default,
# level 0 (stored); 157 is filter 6 (adaptive among none, sub and up),
# default, level 9. So every filter, every strategy and levels 0, 1, 2 and
# 9, a twin, and with ten trials the choice among them too.
methods=(-m 11 -m 12 -m 13 -m 14 -m 15 -m 16 -m 17 -m 23 -m 125 -m 137 -m 157)
declare -A optimizer_args=([optimizer]="-brute" [methods]="${methods[*]}")
# optimizer measures its trials side by side in 3 workers on every input,
# small ones too, so that afl++ and the sanitizers go through the workers;
# methods keeps to the serial path, for speed.
declare -A optimizer_workers=([optimizer]=3 [methods]=1)

pass() { passed=$((passed + 1)); }
flunk() { status=1 failed=$((failed + 1)); }
rate() { echo "$1 runs in $2 s, $(($1 / ($2 > 0 ? $2 : 1))) a second"; }
# with_input INPUT ARG...: sets args to the ARGs, "@@" replaced by INPUT.
with_input() {
  local input=$1 arg
  shift
  args=()
  for arg in "$@"; do [ "$arg" = @@ ] && args+=("$input") || args+=("$arg"); done
}

# libfuzzer NAME PROGRAM SECONDS [OPTION | SEED_FOLDER]...: one libFuzzer
# target, whose new inputs, crashes, timeouts and leaks are kept in
# build/fuzz/libfuzzer/NAME.
# shellcheck disable=SC2317 # run by in_batch
libfuzzer() {
  local name=$1 program=$2 time=$3 kept=build/fuzz/libfuzzer/$1 input
  shift 3
  rm -rf "$kept" && mkdir -p "$kept/corpus"
  if "$program" -max_total_time="$time" -timeout=10 -artifact_prefix="$kept/" \
      "$kept/corpus" "$@" >"$scratch/$name.log" 2>&1; then
    # shellcheck disable=SC2046 # the runs and the seconds
    echo "$name: $(rate $(sed -n 's/^Done \([0-9]*\) runs in \([0-9]*\) second.*/\1 \2/p' \
      "$scratch/$name.log"))"
  else
    echo "$name: FAILED"
    tail -30 "$scratch/$name.log"
    for input in "$kept"/*-*; do [ ! -e "$input" ] || echo "input: $input"; done
    return 1
  fi
}

# in_batch FUNCTION NAME ...: starts FUNCTION (libfuzzer or afl_target) with
# these arguments in the background. Each run is one process, so as many run
# at once as there are processors; when the batch is full, or with no
# arguments, it waits for the batch and prints each run's lines in order.
batch=()
in_batch() {
  local run
  if [ $# -gt 0 ]; then
    "$@" >"$scratch/$2.out" 2>&1 &
    batch+=("$2:$!")
    [ ${#batch[@]} -ge "$(nproc)" ] || return 0
  fi
  for run in "${batch[@]}"; do
    if wait "${run#*:}"; then pass; else flunk; fi
    cat "$scratch/${run%%:*}.out"
  done
  batch=()
}

# afl_run NAME SECONDS SEEDS REPLAY [AFL_OPTION...] -- PROGRAM ARG...: runs
# PROGRAM under afl-fuzz ("@@" in ARG is the input) from the folder SEEDS
# with libpng's dictionary, keeping what it finds in build/fuzz/afl/NAME.
# afl++'s compiler passes drop some of the sanitizers' checks, so every
# input it kept, crashed or hung on runs again through REPLAY, with the
# same arguments, and the pixel oracle checks the copy it makes, which
# PROGRAM writes to $scratch/afl-NAME/copy.png, the folder of this run's
# own files, so that two runs go side by side. Fails (status 1), naming
# the inputs, on a crash, a hang, a report or a lost pixel.
afl_run() {
  local name=$1 time=$2 seeds=$3 replay=$4 out=build/fuzz/afl/$1 options=() found=()
  local afl=0 input code limit stats tmp=$scratch/afl-$1
  shift 4
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  rm -rf "$out" && mkdir -p build/fuzz/afl "$tmp"
  # -t 10000+: ten seconds an input before it counts as a hang, and a seed
  # that takes longer is passed over rather than ending the run. The seeds
  # are not calibrated before fuzzing starts (with -brute that took 80 of
  # a run's first seconds); each is when it is first fuzzed, and all of them
  # run again below with the rest of the queue.
  AFL_NO_UI=1 AFL_SKIP_CPUFREQ=1 AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1 AFL_NO_AFFINITY=1 \
    AFL_FAST_CAL=1 AFL_NO_STARTUP_CALIBRATION=1 AFL_TMPDIR=$tmp afl-fuzz -i "$seeds" -o "$out" -V "$time" -t 10000+ \
    -m none -x "$afl_libpng/oss-fuzz/png.dict" "${options[@]}" -- "$@" \
    >"$tmp/afl.log" 2>&1 || afl=$?
  for input in "$out"/default/{queue,crashes,hangs}/id*; do
    [ -e "$input" ] || continue
    limit=300
    [[ $input == */queue/* ]] || limit=60
    code=0
    with_input "$input" "$@"
    rm -f "$tmp/copy.png"
    # A subshell that waits, so that the shell does not announce a crash.
    (ASAN_OPTIONS=exitcode=86 UBSAN_OPTIONS=exitcode=86 timeout "$limit" "$replay" \
      "${args[@]:1}" >/dev/null 2>"$tmp/replay.log"; exit $?) 2>/dev/null || code=$?
    # A copy that the last guard had to write again, or whose pixels differ
    # (1; an input that the oracle cannot read is 2).
    ! grep -q 'again without reductions' "$tmp/replay.log" || code=86
    if [ -e "$tmp/copy.png" ] && [ -x "$pixels" ] &&
        ! "$pixels" "$input" "$tmp/copy.png" >>"$tmp/replay.log"; then
      grep -q ' differ' "$tmp/replay.log" && code=86 &&
        echo "SUMMARY: lost pixels: $(tail -1 "$tmp/replay.log")" >>"$tmp/replay.log"
    fi
    # A copy larger than the input's own data, where that is intact, by
    # the tests' own yardstick (chunks.py --own).
    if [ -e "$tmp/copy.png" ]; then
      rm -rf "$tmp/own" && mkdir -p "$tmp/own/copies"
      cp "$input" "$tmp/own/copy.png" && cp "$tmp/copy.png" "$tmp/own/copies"
      /usr/bin/python3 tests/chunks.py --own "$tmp/own" "$tmp/own/copies"
      cmp -s "$tmp/copy.png" "$tmp/own/copies/copy.png" || { code=86
        echo "SUMMARY: a copy larger than the input's own data" >>"$tmp/replay.log"; }
    fi
    [[ $input != */queue/* ]] || [ $code -eq 86 ] || continue
    found+=("$input ($(grep -m1 -o 'SUMMARY: .*\|runtime error: .*\|pngcrush: .*again without reductions' \
      "$tmp/replay.log" ||
      echo "status $code when run again"))")
  done
  # afl++ passes over a seed that crashes, with a warning: a finding too.
  while read -r input; do
    found+=("seed $input (it crashes)")
  done < <(sed -n "s/.*Test case '.*orig:\(.*\)' results in a crash, skipping.*/\1/p" "$tmp/afl.log")
  stats=$out/default/fuzzer_stats
  if [ $afl -eq 0 ] && [ -s "$stats" ] && [ ${#found[@]} -eq 0 ]; then
    echo "$name: $(rate "$(sed -n 's/^execs_done *: //p' "$stats")" \
      "$(sed -n 's/^run_time *: //p' "$stats")"), $(ls "$seeds" | wc -l) seeds," \
      "a queue of $(sed -n 's/^corpus_count *: //p' "$stats") inputs"
  else
    echo "$name: FAILED"
    [ ${#found[@]} -gt 0 ] || tail -20 "$tmp/afl.log"
    for input in "${found[@]}"; do echo "input: $input"; done
    return 1
  fi
}

# afl_target NAME SECONDS: the optimizer under afl_run, with NAME's
# arguments and workers.
# shellcheck disable=SC2317 # run by in_batch
afl_target() {
  export PNGCRUSH_WORKERS=${optimizer_workers[$1]}
  # shellcheck disable=SC2086 # the arguments are words
  afl_run "$1" "$2" "$scratch/seeds" "$sanitized" -- build/fuzz/optimizer/pngcrush-afl \
    -rem alla ${optimizer_args[$1]} -reduce @@ "$scratch/afl-$1/copy.png"
}

# The tests' images, for the seeds of libpng's fuzzers and of the optimizer.
source=. corpus=$(bash tests/corpus.sh .)
. tests/lib.sh
test_images "$scratch/images"

for program in build/fuzz/fuzz_*; do
  name=${program#build/fuzz/fuzz_}
  chosen "$name" || continue
  in_batch libfuzzer "fuzz_$name" "$program" "$seconds" -max_len=4200 "fuzz/corpus/$name"
done
in_batch

# With no target named, as in tools/test.sh, methods gets half of SECONDS
# and each of libpng's fuzzers an eighth, so that the run grows by little.
half=$seconds eighth=$seconds
[ "$wanted" != "  " ] || half=$(((seconds + 1) / 2)) eighth=$(((seconds + 7) / 8))
# libpng's fuzzers print libpng's warnings and errors on every broken
# input; -close_fd_mask=3 sends the fuzzers' own output nowhere, while
# libFuzzer's and the sanitizers' still reach the log.
for name in read readapi transformations colormap; do
  chosen "libpng_$name" || continue
  program=build/fuzz/libpng/libpng_${name}_fuzzer
  if [ ! -x "$program" ]; then
    echo "libpng_$name: FAILED: no $program; build the fuzz preset"
    flunk
    continue
  fi
  in_batch libfuzzer "libpng_$name" "$program" "$eighth" -close_fd_mask=3 \
    -dict="$libpng/oss-fuzz/png.dict" "$scratch/images" "$libpng/testpngs"
done
in_batch

# The optimizer's seeds: the tests' images of 2 KiB or less.
mkdir "$scratch/seeds"
find "$scratch/images" -type f -size -2049c -exec cp -t "$scratch/seeds" {} +
for name in optimizer methods; do
  chosen "$name" || continue
  if [ ! -x build/fuzz/optimizer/pngcrush-afl ] || [ ! -x "$sanitized" ]; then
    echo "$name: FAILED: no build/fuzz/optimizer/pngcrush-afl or $sanitized;" \
      "install afl++, then build the fuzz preset, and the linux one with its tests"
    flunk
    continue
  fi
  span=$seconds
  [ "$name" = optimizer ] || span=$half
  # afl-fuzz and the runs again after it keep one core busy each: the two
  # go side by side.
  in_batch afl_target "$name" "$span"
done
in_batch

# The self-check: afl++ finds the input that crashes fuzz/selfcheck.c (one
# bit away from its seed, by its deterministic steps) and stops. Its target
# must fail, naming the crash, while the run goes on.
if chosen selfcheck; then
  mkdir "$scratch/planted" && printf TALVEJ >"$scratch/planted/seed"
  (AFL_BENCH_UNTIL_CRASH=1 afl_run selfcheck "$seconds" "$scratch/planted" build/fuzz/selfcheck-afl \
    -D -- build/fuzz/selfcheck-afl @@) >"$scratch/selfcheck.out" || true
  crash=$(sed -n 's#^input: \(build/fuzz/afl/selfcheck/default/crashes/[^ ]*\).*#\1#p' \
    "$scratch/selfcheck.out")
  if [ -n "$crash" ] && [ "$(head -c 6 "$crash" 2>/dev/null)" = TALVEK ]; then
    echo "selfcheck: the planted crash failed its target, as it must: $crash"
    pass
  else
    echo "selfcheck: FAILED: the planted crash was not reported; its target said:"
    sed 's/^/  /' "$scratch/selfcheck.out"
    flunk
  fi
fi

# covered NAME PROGRAM ARG...: runs PROGRAM on each file named on standard
# input ("@@" in ARG is the file), adding what it reaches to the raw
# profiles $profiles/NAME-*.
covered() {
  local name=$1 input
  shift
  while read -r input; do
    with_input "$input" "$@"
    (LLVM_PROFILE_FILE="$profiles/$name-%4m.profraw" timeout 300 "${args[@]}" >/dev/null \
      2>&1; exit $?) 2>/dev/null || true
  done
}

# report TITLE NAME PROGRAM... -- SOURCE...: merges the raw profiles of
# NAME's seeds (NAME-seeds) and of all its inputs (NAME) into
# build/fuzz/coverage/NAME{-seeds,}.profdata, and prints the share of the
# lines of each SOURCE, and of all of them together, that each reached.
report() {
  local title=$1 name=$2 objects=()
  shift 2
  while [ "$1" != -- ]; do objects+=(-object "$1"); shift; done
  shift
  if ! { llvm-profdata merge -o "$coverage/$name-seeds.profdata" \
           "$profiles/$name"-seeds-*.profraw &&
         llvm-profdata merge -o "$coverage/$name.profdata" "$profiles/$name"-*.profraw &&
         llvm-cov export -summary-only -instr-profile="$coverage/$name-seeds.profdata" \
           "${objects[@]:1}" "$@" >"$scratch/$name-seeds.json" &&
         llvm-cov export -summary-only -instr-profile="$coverage/$name.profdata" \
           "${objects[@]:1}" "$@" >"$scratch/$name.json"; } 2>"$scratch/coverage.log"; then
    echo "coverage of $title: FAILED: build the fuzz preset, and install llvm"
    tail -5 "$scratch/coverage.log"
    flunk
    return
  fi
  echo "coverage of $title, from the seeds to every input kept:"
  python3 - "$scratch/$name-seeds.json" "$scratch/$name.json" <<'EOF'
import json, os, sys
before, after = ({os.path.basename(f["filename"]): f["summary"]["lines"]
                  for f in json.load(open(path))["data"][0]["files"]} for path in sys.argv[1:])
def line(name, seeds, kept):
    print("  %-22s %5.1f %% -> %5.1f %% of %d lines" % (name, 100.0 * seeds["covered"] /
          seeds["count"], 100.0 * kept["covered"] / kept["count"], kept["count"]))
ours = sorted(name for name in after if name.startswith("pngcrush"))
reading = sorted(name for name in after if name not in ours)
for name in ours + reading:
    line(name, before[name], after[name])
line("libpng's reading files", *({key: sum(files[name][key] for name in reading)
     for key in ("covered", "count")} for files in (before, after)))
EOF
}

# What the seeds and the kept inputs reach, through the builds with clang's
# source coverage: pngcrush.c, and libpng's reading files (png.c holds the
# checks the reader makes; pngpread.c, the progressive reader, is left out:
# neither pngcrush nor libpng's fuzzers use it).
coverage=build/fuzz/coverage profiles=build/fuzz/coverage/profiles
reading=(png.c pngread.c pngrio.c pngrtran.c pngrutil.c)
rm -rf "$profiles"
programs=()
for name in optimizer methods; do
  chosen "$name" && [ -d "build/fuzz/afl/$name" ] || continue
  programs=("$coverage/pngcrush")
  # shellcheck disable=SC2086 # the arguments are words
  set -- -rem alla ${optimizer_args[$name]} -reduce @@ "$scratch/cover.png"
  export PNGCRUSH_WORKERS=${optimizer_workers[$name]}
  printf '%s\n' "$scratch"/seeds/* | covered optimizer-seeds "$coverage/pngcrush" "$@"
  for input in build/fuzz/afl/"$name"/default/{queue,crashes,hangs}/id*; do
    [ ! -e "$input" ] || [[ $input == *,orig:* ]] || echo "$input"
  done | covered optimizer-found "$coverage/pngcrush" "$@"
  unset PNGCRUSH_WORKERS
done
if [ ${#programs[@]} -gt 0 ]; then
  report "the optimizer under afl++" optimizer "${programs[@]}" -- \
    "$coverage"/optimizer/pngcrush/pngcrush{,-workers,-workers-os,-pixels,-own}.c \
    "${reading[@]/#/$coverage/optimizer/libpng/}"
fi
programs=()
for name in read readapi transformations colormap; do
  chosen "libpng_$name" && [ -d "build/fuzz/libfuzzer/libpng_$name" ] || continue
  programs+=("$coverage/libpng_${name}_fuzzer")
  # A libFuzzer program runs each file named; a few hundred at a time.
  for kept in seeds found; do
    if [ $kept = seeds ]; then
      find "$scratch/images" "$libpng/testpngs" -type f -print0
    else
      find "build/fuzz/libfuzzer/libpng_$name" -type f -print0
    fi | LLVM_PROFILE_FILE="$profiles/libpng-$kept-%4m.profraw" \
      xargs -0r -n 300 "$coverage/libpng_${name}_fuzzer" >/dev/null 2>&1 || true
  done
done
if [ ${#programs[@]} -gt 0 ]; then
  report "libpng's fuzzers" libpng "${programs[@]}" -- "${reading[@]/#/$coverage/build/libpng/}"
fi
echo "fuzz: $passed passed, $failed failed"
exit $status
