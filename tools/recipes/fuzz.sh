# The fuzz targets, side by side.
# Sourced by tools/dev, from the project's root.
# shellcheck shell=bash

# One fuzz target for FUZZ_SECONDS (30 by default), from its seed corpus;
# its findings and status in $2.log and $2.status.
fuzz_one() {
  local target=$1 out=$2 name corpus status=0
  name=${target#fuzz_}
  name=${name%_input}
  corpus=$(mktemp -d)
  build/fuzz/tests/fuzz/$target -max_total_time="${FUZZ_SECONDS:-30}" -print_final_stats=1 \
    "$corpus" "tests/fuzz/corpus/$name" >"$out.log" 2>&1 || status=$?
  rm -rf "$corpus"
  echo "$status" >"$out.status"
}

# Both fuzz targets side by side, one a core.
fuzz() {
  echo "== fuzz"
  build fuzz --target fuzz_chain fuzz_replay_input
  local target out failed=0 pids=()
  out=$(mktemp -d)
  for target in fuzz_chain fuzz_replay_input; do
    fuzz_one "$target" "$out/$target" &
    pids+=($!)
  done
  wait "${pids[@]}"  # these two only: the test command's second lane runs on
  for target in fuzz_chain fuzz_replay_input; do
    grep -E "^(Done|stat::(number_of_executed_units|new_units_added))" "$out/$target.log" || true
    if [ "$(cat "$out/$target.status")" -ne 0 ]; then
      tail -n 40 "$out/$target.log"
      echo "dev: $target found a fault (status $(cat "$out/$target.status"))"
      failed=1
    else
      echo "$target: no finding"
    fi
  done
  rm -rf "$out"
  [ "$failed" -eq 0 ] || exit 1
  echo "fuzz: 2 passed, 0 failed"
}
