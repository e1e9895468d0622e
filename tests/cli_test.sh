#!/usr/bin/env bash
# The command lines of chain and chain-replay: answers, messages, exit statuses.
# usage: cli_test.sh <chain> <chain-replay>
set -u
chain=$1
replay=$2
passed=0
failed=0
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

# expect NAME STATUS STDOUT-PATTERN STDERR-PATTERN -- command...
# Patterns are grep -E expressions over the whole stream; '^$' means empty.
# Every failing run must also say what failed on exactly one line, within 1 s.
expect() {
  local name=$1 want=$2 outpat=$3 errpat=$4
  shift 5
  local start end status
  start=$(date +%s%N)
  timeout 10 "$@" >"$out" 2>"$err" </dev/null
  status=$?
  end=$(date +%s%N)
  local why=""
  [ "$status" -eq "$want" ] || why="exit status $status, expected $want"
  if [ "$outpat" = '^$' ]; then [ -s "$out" ] && why="$why; stdout not empty"
  else grep -Eq -- "$outpat" "$out" || why="$why; stdout lacks /$outpat/"; fi
  if [ "$errpat" = '^$' ]; then [ -s "$err" ] && why="$why; stderr not empty"
  else
    grep -Eq -- "$errpat" "$err" || why="$why; stderr lacks /$errpat/"
    [ "$(wc -l <"$err")" -eq 1 ] || why="$why; stderr has $(wc -l <"$err") lines"
  fi
  if [ "$want" -ne 0 ] && [ $(((end - start) / 1000000)) -gt 1000 ]; then
    why="$why; took $(((end - start) / 1000000)) ms"
  fi
  if [ -z "$why" ]; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name: ${why#; }"
    sed 's/^/     stdout: /' "$out" | head -5
    sed 's/^/     stderr: /' "$err" | head -5
  fi
}

expect "chain --version" 0 '^1\.00$' '^$' -- "$chain" --version
expect "chain --help" 0 'usage: chain' '^$' -- "$chain" --help
expect "chain with an unknown argument" 2 '^$' "^chain: unexpected argument '--fast'" -- "$chain" --fast
expect "chain with two arguments" 2 '^$' "unexpected argument 'x'" -- "$chain" --version x
expect "chain without a display" 1 '^$' '^chain: cannot open the display: .*no display' -- \
  env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$chain"
expect "chain with an unreachable display" 1 '^$' '^chain: cannot open the display: .*":4242"' -- \
  env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER DISPLAY=:4242 "$chain"
expect "chain with an unusable video driver" 1 '^$' '^chain: cannot open the display: .*bogus' -- \
  env SDL_VIDEODRIVER=bogus "$chain"

expect "replay of nothing prints the pinned chain" 0 '^280 300$' '^$' -- \
  sh -c "\"$replay\" </dev/null"
[ "$("$replay" </dev/null | wc -l)" -eq 41 ] && [ "$("$replay" </dev/null | head -1)" = "0 0" ] &&
  passed=$((passed + 1)) || { failed=$((failed + 1)); echo "FAIL replay prints 41 points, head first"; }
expect "replay names the bad line" 2 '^$' '^chain-replay: line 3: ' -- \
  sh -c "printf '1 2\n3 4\n5\n' | \"$replay\""
expect "replay rejects numbers out of range" 2 '^$' 'line 1: number out of range' -- \
  sh -c "echo '2e9 0' | \"$replay\""
expect "replay reports a failed write" 1 '^$' '^chain-replay: cannot write the points' -- \
  sh -c "echo '1 2' | \"$replay\" >/dev/full"
expect "replay with an argument" 2 '^$' "unexpected argument" -- "$replay" extra

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
