#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang 16, address and
# undefined-behaviour sanitizers, exactly sized read-only file mappings) into
# ./build-fuzz and runs each target for the given number of seconds (default
# 300), two at a time, starting from the seeds in fuzz/corpus/<target>.
# Inputs the fuzzer finds go to build-fuzz/corpus/<target>, so the seeds in
# the repository stay as they are; a crashing input is saved as
# build-fuzz/artifacts/<target>-crash-... and the script fails.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-300}"

bash scripts/apt_install.sh cmake ninja-build binutils python3 python3-dev libssl-dev libsimdjson-dev \
  clang-16 libclang-rt-16-dev

build_dir="${ZR_FUZZ_BUILD_DIR:-build-fuzz}"
if [ ! -f "$build_dir/build.ninja" ]; then
  launcher=()
  if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
  cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-16 \
    -DZR_FUZZ=ON -DZR_BUILD_TESTS=OFF -DZR_BUILD_BENCH=OFF "${launcher[@]}"
fi
cmake --build "$build_dir" -j "$(nproc)" --target fuzz_targets

# Longest input per target: JSON texts stay small, JSON Lines files may hold
# a few long lines, index files are a few kilobytes when built.
declare -A max_len=([json]=4096 [jsonl]=65536 [index_bin]=16384 [token_bin]=16384)
targets=(json jsonl index_bin token_bin)
# Targets run side by side, one per core, at most two (ZR_FUZZ_PARALLEL).
parallel="${ZR_FUZZ_PARALLEL:-$(( $(nproc) < 2 ? 1 : 2 ))}"
mkdir -p "$build_dir/artifacts"

run_target() {
  local target="$1" corpus="$build_dir/corpus/$1"
  mkdir -p "$corpus"
  if "$build_dir/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len="${max_len[$target]}" -timeout=30 \
      -print_final_stats=1 -artifact_prefix="$build_dir/artifacts/$target-" "$corpus" "fuzz/corpus/$target" \
      > "$build_dir/fuzz_$target.log" 2>&1; then
    echo passed > "$build_dir/fuzz_$target.status"
  else
    echo failed > "$build_dir/fuzz_$target.status"
  fi
}

echo "== fuzzing ${targets[*]}, ${seconds}s each, $parallel at a time"
for target in "${targets[@]}"; do
  while (( $(jobs -rp | wc -l) >= parallel )); do wait -n || true; done
  run_target "$target" &
done
wait

failed=()
for target in "${targets[@]}"; do
  echo "== fuzz_$target: $(cat "$build_dir/fuzz_$target.status")"
  if [ "$(cat "$build_dir/fuzz_$target.status")" != passed ]; then
    failed+=("$target")
    tail -n 60 "$build_dir/fuzz_$target.log"
  fi
  grep -E '^(#[0-9]+[[:space:]]+DONE|stat::)' "$build_dir/fuzz_$target.log" || true
done

if ((${#failed[@]})); then echo "failing targets: ${failed[*]} (inputs in $build_dir/artifacts)"; fi
# The closing line in the plain "N passed, N failed" form that CI reads.
echo "fuzz: $((${#targets[@]} - ${#failed[@]})) passed, ${#failed[@]} failed"
((${#failed[@]} == 0))
