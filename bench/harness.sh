# Sourced by the benchmark scripts (bench/run_*.sh, bench/perf/*.sh): their
# command line, the quick size, pinning to one core, building what they
# time, and the alternation between this tree's build and the baseline's
# with the check that both gave the same output.
#
# Alternating matters because the figures are times on a shared machine: a
# burst of load then hits both builds alike, and each side keeps its best.

# bench_sides NEW_BUILD BASE_BUILD WORK_DIR: the command line of a
# bench/perf script, as $new, $base and $work (created).
bench_sides() {
  new=$1 base=$2 work=$3
  mkdir -p "$work"
}

# True under SIZE=small, the quick run.
small() { [ "${SIZE:-}" = small ]; }

# A command prefix that runs on the last core, where the machine has more
# than one and taskset is there.
pin=()
if command -v taskset >/dev/null; then pin=(taskset -c "$(($(nproc) - 1))"); fi

# build_targets BUILD_DIR TARGET...: configures BUILD_DIR (Release) on its
# first use and builds the targets.
build_targets() {
  local dir=$1
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  fi
  ninja -C "$dir" -j2 "$@" >/dev/null
}

# alternate ROUNDS COMMAND ARG...: ROUNDS times, `COMMAND BUILD ARG...` with
# the baseline's build and with this tree's, the baseline first in odd rounds
# and second in even ones: the first run of a pair can pay for what the one
# before it left behind (its output still being written back, say), so each
# side takes each place in turn. Every output, on one line after its side
# ("new ..." or "base ..."), is added to the array `results` (emptied first).
alternate() {
  local rounds=$1 command=$2 side build round sides
  shift 2
  results=()
  for round in $(seq "$rounds"); do
    sides="base new"
    [ $((round % 2)) -eq 0 ] && sides="new base"
    for side in $sides; do
      build=$new
      [ "$side" = base ] && build=$base
      results+=("$side $("$command" "$build" "$@" | tr '\n' ' ')")
    done
  done
}

# lower A B: the smaller of two numbers ("inf" is one).
lower() { /usr/bin/python3 -c "print(min(float('$1'), float('$2')))"; }

# best_field SIDE N: the smallest number in field N (1 is the first after
# the side) of SIDE's results.
best_field() {
  local entry fields best=inf
  for entry in "${results[@]}"; do
    read -r -a fields <<<"$entry"
    [ "${fields[0]}" = "$1" ] && best=$(lower "$best" "${fields[$2]}")
  done
  echo "$best"
}

# last_field SIDE N: field N of SIDE's last result.
last_field() {
  local entry fields value=
  for entry in "${results[@]}"; do
    read -r -a fields <<<"$entry"
    [ "${fields[0]}" = "$1" ] && value=${fields[$2]}
  done
  echo "$value"
}

# same_output A B MESSAGE: stops the script with MESSAGE when A and B differ.
same_output() {
  [ "$1" = "$2" ] || { echo "$3" >&2; exit 1; }
}
