#!/usr/bin/env bash
# with_xvfb.sh [Xvfb's arguments] -- COMMAND...: runs COMMAND on a private
# Xvfb and ends with COMMAND's status. Xvfb picks a free display itself
# (-displayfd), so any number of these can start at once, unlike xvfb-run -a.
set -euo pipefail
args=()
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  args+=("$1")
  shift
done
[ $# -gt 1 ] || { echo "usage: with_xvfb.sh [Xvfb arguments] -- COMMAND..." >&2; exit 2; }
shift
fifo=$(mktemp -u)
mkfifo "$fifo"
Xvfb -displayfd 3 -nolisten tcp "${args[@]}" 3>"$fifo" >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$fifo"' EXIT
read -r -t 120 display <"$fifo" || { echo "with_xvfb: Xvfb did not start" >&2; exit 1; }
status=0
DISPLAY=:$display "$@" || status=$?
exit "$status"
