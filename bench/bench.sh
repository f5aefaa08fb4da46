#!/usr/bin/env bash
# Measures what talvek costs beyond the optimizer runs themselves, and prints
# a table. Uses bash, dash, /usr/bin/time, awk, gdb, Debian's pngcrush (its
# -d mode) and, as root, perf; installs gdb, time and pngcrush when they are
# missing, as tools/setup.sh does, and builds the tests' stand-in optimizer.
# Usage: bench/bench.sh [RUNS]   (after tools/setup.sh; RUNS, at least 5, is
# how many times each timed command runs)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-7}
. tools/packages.sh
install_packages gdb time pngcrush
talvek=$PWD/build/linux/talvek
[ -x "$talvek" ] || { echo "talvek: no $talvek; run tools/setup.sh first" >&2; exit 1; }
suite=$(bash tests/corpus.sh .)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The tests' stand-in, built here as CMake builds it with the tests: static,
# so that it starts as fast as a real optimizer would.
stand_in=$work/stand-in
g++ -std=c++17 -O3 -DNDEBUG -static -o "$stand_in" tests/linux/stand-in.cpp ||
  { echo "talvek: the stand-in optimizer did not build" >&2; exit 1; }
# In a graphical session every folder run would also start notify-send; the
# figures are of talvek alone.
unset DISPLAY WAYLAND_DISPLAY

# Tool folders: talvek beside the stand-in (which only creates its output,
# empty), and beside the real pngcrush.
mkdir "$work/stand" "$work/real"
cp "$talvek" "$work/stand/talvek"
cp "$stand_in" "$work/stand/pngcrush.bin"
cp "$talvek" "$work/real/talvek"
ln -s "$PWD/build/linux/pngcrush.bin" "$work/real/pngcrush.bin"
export STAND_IN=touch

# The cheapest shell loop that starts the same commands.
# shellcheck disable=SC2016 # expanded by the shell that runs the loop
loop='mkdir -p _talvek; for f in *.png; do "$0/pngcrush.bin" -rem alla -brute -reduce "$f" "./_talvek/$f"; done'

now() { echo "${EPOCHREALTIME/./}"; }  # microseconds
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# Runs a command on a pseudo-terminal of its own, as in a terminal window:
# talvek then reports every file on it. What the terminal shows is dropped.
on_terminal() { SHELL=/bin/bash script -qfec "$(printf '%q ' "$@")" /dev/null </dev/null >/dev/null; }

# Times talvek and the dash loop on one folder, alternating, RUNS times
# each, from a clean _talvek, both through WRAP (on_terminal) if given;
# prints both medians in microseconds.
race() {
  local dir=$1 tool=$2 wrap=${3:-} i start
  : > "$work/t-talvek"; : > "$work/t-dash"
  for ((i = 0; i < runs; i++)); do
    rm -rf "$dir/_talvek"
    start=$(now); $wrap "$tool/talvek" "$dir" >/dev/null; echo $(($(now) - start)) >> "$work/t-talvek"
    rm -rf "$dir/_talvek"
    start=$(now); (cd "$dir" && $wrap dash -c "$loop" "$tool"); echo $(($(now) - start)) >> "$work/t-dash"
  done
  echo "$(median < "$work/t-talvek") $(median < "$work/t-dash")"
}

row() { printf '| %-44s | %14s | %14s | %8s |\n' "$@"; }
ms() { awk -v us="$1" 'BEGIN {printf "%.1f ms", us / 1000}'; }

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(uname -sr)"
echo "Runs per timed command: $runs (medians), alternating talvek and the loop"
echo
row "Driver overhead (stand-in optimizer)" "talvek" "dash loop" "ratio"
row "--------------------------------------------" "--------------" "--------------" "--------"
declare -A per_file
for count in 1000 10000; do
  dir=$work/empty-$count
  mkdir "$dir"
  (cd "$dir" && seq -f 'f%05g.png' "$count" | xargs touch)
  read -r t d < <(race "$dir" "$work/stand")
  per_file[$count]=$((t * 1000 / count))
  row "$count empty files: wall time" "$(ms "$t")" "$(ms "$d")" \
    "$(awk -v a="$t" -v b="$d" 'BEGIN {printf "%.3f", a / b}')"
  row "$count empty files: cost per file" "$(awk -v us="$t" -v n="$count" 'BEGIN {printf "%.1f us", us / n}')" \
    "$(awk -v us="$d" -v n="$count" 'BEGIN {printf "%.1f us", us / n}')" ""
done
row "Cost per file, 10000 against 1000" "$(awk -v a="${per_file[10000]}" -v b="${per_file[1000]}" 'BEGIN {printf "%.3f x", a / b}')" "" ""
# The same with standard error on a terminal, where talvek counts the
# files first, reads each run's messages through a pipe, stats each input
# and copy, and writes a line for each file; both run on a pseudo-terminal.
read -r t d < <(race "$work/empty-1000" "$work/stand" on_terminal)
row "1000 empty files on a terminal: wall time" "$(ms "$t")" "$(ms "$d")" \
  "$(awk -v a="$t" -v b="$d" 'BEGIN {printf "%.3f", a / b}')"
echo

# Real work: the suite and the samples with the real pngcrush, three ways,
# each the median of three runs; and the bytes each way wrote.
bytes() { find "$1" -maxdepth 1 -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}'; }
real_way() {
  local dir=$1 way=$2 i start
  for ((i = 0; i < 3; i++)); do
    rm -rf "$dir/_talvek"
    start=$(now)
    case $way in
      talvek) "$work/real/talvek" "$dir" >/dev/null ;;
      loop) (cd "$dir" && dash -c "$loop" "$work/real" >/dev/null 2>&1) ;;
      multi) (cd "$dir" && pngcrush -d _talvek -rem alla -brute -reduce ./*.[pP][nN][gG] >/dev/null 2>&1 || true) ;;
    esac
    echo $(($(now) - start))
  done | median
}
row "Real work (pngcrush -brute), 3 runs each" "talvek" "dash loop" "-d mode"
row "--------------------------------------------" "--------------" "--------------" "--------"
for set in suite examples; do
  dir=$work/$set
  mkdir "$dir"
  if [ "$set" = suite ]; then cp "$suite"/*.png "$dir"; else cp examples/*.[pP][nN][gG] "$dir"; fi
  n=$(ls "$dir" | wc -l)
  declare -A took wrote
  for way in talvek loop multi; do
    took[$way]=$(real_way "$dir" $way)
    wrote[$way]=$(bytes "$dir/_talvek")
  done
  # What the optimized files took before: those with a copy.
  before=$(for f in "$dir"/_talvek/*; do stat -c %s "$dir/${f##*/}"; done | awk '{s += $1} END {print s + 0}')
  row "$set ($n files): wall time" "$(ms "${took[talvek]}")" "$(ms "${took[loop]}")" \
    "$(awk -v us="${took[multi]}" 'BEGIN {printf "%.0f ms", us / 1000}')"
  row "$set: bytes written (from $before)" "${wrote[talvek]}" "${wrote[loop]}" "${wrote[multi]}"
  row "$set: bytes saved" "$((before - wrote[talvek]))" \
    "$(awk -v a="$before" -v b="${wrote[talvek]}" 'BEGIN {printf "%.1f %%", 100 * (a - b) / a}')" ""
done
echo

# Peak memory, start-up, size and heap use of the driver itself.
row "The driver itself" "value" "target" ""
row "--------------------------------------------" "--------------" "--------------" "--------"
for count in 1000 10000; do
  rm -rf "$work/empty-$count/_talvek"
  rss=$(/usr/bin/time -f %M "$work/stand/talvek" "$work/empty-$count" 2>&1 >/dev/null | tail -1)
  row "Peak memory (max RSS), $count files" "$rss KiB" "<= 2048 KiB" ""
done
# From the start of talvek's process to the start of its first optimizer.
# Where perf can read the kernel's execve tracepoints (as root), this is the
# time from the shell's execve of talvek to talvek's first execve of the
# optimizer, on the kernel's clock.
mkdir -p "$work/empty-1000/_talvek"
if perf record -q -o "$work/perf.probe" -e syscalls:sys_enter_execve true >/dev/null 2>&1; then
  # shellcheck disable=SC2016 # expanded by the bash that perf starts
  perf record -q -o "$work/perf.data" -e syscalls:sys_enter_execve -- \
    bash -c 'for ((i = 0; i < $1; i++)); do "$0" "$2" >/dev/null; done' \
    "$work/stand/talvek" $((runs * 2)) "$work/empty-1000" >/dev/null 2>&1
  traced=$(perf script -i "$work/perf.data" -F comm,time 2>/dev/null | awk '
    $1 == "bash" { start = $2 + 0 }
    $1 == "talvek" && start { printf "%.0f\n", ($2 - start) * 1e6; start = 0 }' | median)
  row "Start of process to first optimizer start" "$(ms "$traced")" "<= 2 ms" ""
else
  row "Start of process to first optimizer start" "(needs perf)" "<= 2 ms" ""
fi
# The same seen from the shell: the stand-in stamps the time its first run
# begins, and the same with the stand-in started straight from the shell is
# subtracted. Each side includes a start of the stand-in, whose cost varies
# with where the kernel places it, so this figure is the noisier one.
latency() {
  local i
  for ((i = 0; i < runs * 4; i++)); do
    rm -f "$work/stamp"
    bash -c 'printf %s "${EPOCHREALTIME/./}" > "$0"; exec "$@"' "$work/t0" "$@" >/dev/null
    echo $(($(cat "$work/stamp") - $(cat "$work/t0")))
  done | median
}
first=$(ls "$work/empty-1000" | head -1)
with=$(cd "$work/empty-1000" && STAND_IN_STAMP=$work/stamp latency "$work/stand/talvek" "$work/empty-1000")
without=$(cd "$work/empty-1000" && STAND_IN_STAMP=$work/stamp latency "$work/stand/pngcrush.bin" \
  -rem alla -brute -reduce "$first" "./_talvek/$first")
row "  seen from the shell (difference)" "$(ms $((with - without)))" "" ""
row "  (shell to optimizer: via talvek, direct)" "$(ms "$with")" "$(ms "$without")" ""
if [ -f build/win32/talvek.exe ]; then
  row "Size of build/win32/talvek.exe" "$(stat -c %s build/win32/talvek.exe) bytes" "<= 65536" ""
fi
# Every heap allocation, stopped at in gdb and put down to the innermost
# function of talvek's own code on its stack (the C library's own set-up
# has none).
rm -rf "$work/empty-1000/_talvek"
cat > "$work/gdb" <<'GDB'
set pagination off
set confirm off
break malloc
break calloc
break realloc
commands 1-3
silent
backtrace
continue
end
run
GDB
gdb -q -batch -x "$work/gdb" --args "$work/stand/talvek" "$work/empty-1000" > "$work/allocations" 2>&1
awk -v driver="WinMain FormCommandTail ProcessFolder ProcessFile RunOptimizer FormatBounded" '
  BEGIN { n = split(driver, d, " "); for (i = 1; i <= n; i++) own[d[i]] = "driver" }
  /^#0 / { if (open) count[owner]++; open = 1; owner = "C library set-up"; found = 0 }
  /^#[0-9]+ / && !found {
    name = ($3 == "in") ? $4 : $2
    sub(/\(.*/, "", name)
    if (name in own) { owner = "driver: " name; found = 1 }
    else if (name ~ /^[A-Z][A-Za-z]+A?$/ && name != "IO") { owner = "platform layer: " name; found = 1 }
  }
  END { if (open) count[owner]++
        for (o in count) printf "| %-44s | %14s | %14s | %8s |\n", "Heap blocks, " o, count[o], "", ""
        printf "| %-44s | %14s | %14s | %8s |\n", "Heap blocks by the driver itself", count["driver"] + 0, "0", "" }
' "$work/allocations"
