#!/usr/bin/env bash
# The X server goes away under the running program: it must end at once with
# one line on standard error and exit status 1, not hang or crash.
# usage: display_lost_test.sh <chain>
set -u
chain=$1
err=$(mktemp)
fifo=$(mktemp -u)
mkfifo "$fifo"
trap 'rm -f "$err" "$fifo"; [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null' EXIT

Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
xvfb=$!
read -r -t 60 display <"$fifo" || { echo "FAIL: Xvfb did not start"; echo "0 passed, 1 failed"; exit 1; }

SDL_RENDER_VSYNC=0 DISPLAY=:$display "$chain" 2>"$err" &
pid=$!
# Once its window is up (however long a loaded machine takes), the server goes.
DISPLAY=:$display timeout 120 xdotool search --sync --onlyvisible --name '^Form1$' >/dev/null
sleep 0.5
kill "$xvfb"
wait "$xvfb" 2>/dev/null
xvfb=
start=$(date +%s%N)
# A generous ceiling: a loaded machine may be slow, but must not hang.
for _ in $(seq 6000); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.01
done
if kill -0 "$pid" 2>/dev/null; then
  kill -9 "$pid"
  echo "FAIL: still running a minute after the X server went away"
  echo "0 passed, 1 failed"
  exit 1
fi
wait "$pid"
status=$?
took=$((($(date +%s%N) - start) / 1000000))
lines=$(wc -l <"$err")
echo "exit status $status after $took ms; stderr: $(cat "$err")"
if [ "$status" -eq 1 ] && [ "$lines" -eq 1 ] && grep -q '^chain: lost the connection to the X display$' "$err"; then
  echo "1 passed, 0 failed"
else
  echo "FAIL: expected exit status 1 and one line on stderr"
  echo "0 passed, 1 failed"
  exit 1
fi
