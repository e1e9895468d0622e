#!/usr/bin/env bash
# Runs every benchmark and prints a table of figures against their floors,
# all measured in this one run. Needs a release build with benchmarks
# (tools/dev bench does all of it) and runs its windows on a private Xvfb.
#   bench/run.sh BUILD_DIR
set -euo pipefail
build=${1:-build/release}
step_bench=$build/bench/step_bench
frame_bench=$build/bench/frame_bench
chain=$build/app/chain

if [ -z "${CHAIN_BENCH_ON_XVFB:-}" ]; then
  export CHAIN_BENCH_ON_XVFB=1
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
hz=$(getconf CLK_TCK)

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//')"
echo

echo "== frame step (Google Benchmark, 1024 frames of a moving pointer per iteration)"
"$step_bench" 2>/dev/null | grep -E "median|frame step"
echo

echo "== frame loop under Xvfb, unpaced, 6 rounds of 3 s each, medians"
# The plain window surface (the default), then OpenGL as a user may ask for it.
for renderer in default opengl; do
  drv=""
  [ "$renderer" = opengl ] && drv=opengl
  : >/tmp/chain-fps.$$ ; : >/tmp/bare-fps.$$
  # The one that runs second in a pair tends to be faster, so the order
  # alternates from round to round.
  for round in 1 2 3 4 5 6; do
    order="chain bare"
    [ $((round % 2)) -eq 0 ] && order="bare chain"
    for which in $order; do
      SDL_RENDER_DRIVER=$drv SDL_RENDER_VSYNC=0 CHAIN_VSYNC=0 "$frame_bench" loop "$which" 3 >/tmp/line.$$
      awk '{print $3}' /tmp/line.$$ >>/tmp/$which-fps.$$
      [ "$which" = bare ] && name=$(awk '{print $2}' /tmp/line.$$)
    done
  done
  c=$(median </tmp/chain-fps.$$) b=$(median </tmp/bare-fps.$$)
  echo "$name: chain $c fps, bare SDL2 loop $b fps: $(awk -v c="$c" -v b="$b" 'BEGIN {printf "%.3f", c / b}') x"
done
rm -f /tmp/chain-fps.$$ /tmp/bare-fps.$$ /tmp/line.$$
echo

echo "== start-up and memory, 16 runs each, alternating, medians"
echo "window surface (default; goals: memory <= 1.3 x, start-up <= 1.2 x):"
"$frame_bench" startup 16
echo "OpenGL (SDL_RENDER_DRIVER=opengl, for both):"
SDL_RENDER_DRIVER=opengl "$frame_bench" startup 16
echo "the program itself, to its window mapped, against a bare SDL window surface (21 runs each; goal <= 1.2 x):"
"$build/bench/viewable_x11" 21 "$chain" -- "$build/bench/bare_sdl"
echo

echo "== CPU of the frame loop on a display of 60 and 144 Hz (the null backend, real clock; 5 s moving, then 5 s at rest after 10 s to settle)"
for rate in 60 144; do "$frame_bench" display "$rate" 5; done
echo

echo "== CPU of the real program over 5 s"
start_chain() {
  "$chain" &
  pid=$!
  wid=$(xdotool search --sync --onlyvisible --name '^Form1$' | head -1)
  xdotool mousemove --window "$wid" 150 110
}
stop_chain() {
  kill -TERM "$pid"
  wait "$pid" || true
}
# At rest: unpaced, so the chain settles in well under a second.
export CHAIN_VSYNC=0
start_chain
for _ in $(seq 40); do  # wait for rest: half a second without a tick
  a=$(ticks "$pid"); sleep 0.5; b=$(ticks "$pid")
  [ "$b" -eq "$a" ] && break
done
a=$(ticks "$pid"); sleep 5; b=$(ticks "$pid")
stop_chain
echo "at rest, pointer still:        $(awk -v t=$((b - a)) -v hz="$hz" 'BEGIN {printf "%.1f", 100 * t / hz / 5}') % of one core (goal 0 %; a loop that never waits: 100 %)"
unset CHAIN_VSYNC
# Moving, paced by the display.
start_chain
a=$(ticks "$pid")
end=$((SECONDS + 5))
i=0
while [ $SECONDS -lt $end ]; do
  xdotool mousemove --window "$wid" $((60 + (i * 7) % 400)) $((40 + (i * 3) % 300))
  i=$((i + 1))
  sleep 0.01
done
b=$(ticks "$pid")
stop_chain
echo "pointer moving, paced:         $(awk -v t=$((b - a)) -v hz="$hz" 'BEGIN {printf "%.1f", 100 * t / hz / 5}') % of one core ($i pointer moves; goal <= 3 % at 60 Hz)"
