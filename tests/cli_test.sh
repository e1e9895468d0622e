#!/usr/bin/env bash
# The command lines of chain and chain-replay: the exact bytes they print,
# and their exit statuses.
# usage: cli_test.sh <chain> <chain-replay> [windows|web]
#   With "windows", the programs are Windows builds run through $WINE, and
#   the cases about an X display are left out. With "web", chain-replay is
#   chain-replay.js run by node, and the page's program is left out.
set -u
chain=$1
replay=$2
platform=${3:-linux}
run=()
[ "$platform" = windows ] && run=("${WINE:-wine}")
[ "$platform" = web ] && run=(node)
passed=0
failed=0
out=$(mktemp) err=$(mktemp) want=$(mktemp)
trap 'rm -f "$out" "$err" "$want"' EXIT

# expect NAME STATUS STDOUT STDERR -- command...
# STDOUT and STDERR are the exact text expected (a newline is added unless
# empty), or ~REGEX for a one-line match.
expect() {
  local name=$1 status=$2 outwant=$3 errwant=$4
  shift 5
  "$@" >"$out" 2>"$err" </dev/null
  local got=$? why=""
  # Wine under load now and then fails to start a program at all: status 1
  # and not a byte from it (its own complaint is silenced by WINEDEBUG).
  # Our programs never end so; that one case is run once more.
  if [ "$platform" = windows ] && [ "$got" -eq 1 ] && [ "$status" -ne 1 ] && [ ! -s "$out" ] &&
    [ ! -s "$err" ]; then
    echo "     (Wine started nothing: once more)"
    "$@" >"$out" 2>"$err" </dev/null
    got=$?
  fi
  [ "$got" -eq "$status" ] || why="exit status $got, expected $status"
  check() {  # FILE WANT LABEL
    if [ "${2:0:1}" = "~" ]; then
      [ "$(wc -l <"$1")" -eq 1 ] && grep -Eq -- "${2:1}" "$1" || why="$why; $3 is not one line matching /${2:1}/"
    else
      if [ -n "$2" ]; then printf '%s\n' "$2" >"$want"; else : >"$want"; fi
      cmp -s "$1" "$want" || why="$why; $3 differs from the expected bytes"
    fi
  }
  check "$out" "$outwant" stdout
  check "$err" "$errwant" stderr
  if [ -z "$why" ]; then
    passed=$((passed + 1))
    echo "ok   $name"
  else
    failed=$((failed + 1))
    echo "FAIL $name: ${why#; }"
    od -c "$out" | head -5 | sed 's/^/     stdout: /'
    od -c "$err" | head -5 | sed 's/^/     stderr: /'
  fi
}

help='usage: chain [--help] [--version]
Opens a window in which a chain of 41 red links hangs from a fixed point;
the chain'"'"'s free end follows the mouse pointer. Close the window to quit.'
if [ "$platform" != web ]; then
expect "chain --version" 0 "$(cmake -P "$(dirname "$0")/../cmake/version.cmake")" '' -- "${run[@]}" "$chain" --version
expect "chain --help" 0 "$help" '' -- "${run[@]}" "$chain" --help
expect "chain with an unknown argument" 2 '' "chain: unexpected argument '--fast' (try 'chain --help')" -- \
  "${run[@]}" "$chain" --fast
expect "chain with two arguments" 2 '' "chain: unexpected argument 'x' (try 'chain --help')" -- \
  "${run[@]}" "$chain" --version x
fi
if [ "$platform" = linux ]; then
  expect "chain without a display" 1 '' 'chain: no display: set DISPLAY (X11) or WAYLAND_DISPLAY (Wayland), or start chain from a desktop session' -- \
    env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$chain"
  expect "chain with an unreachable display" 1 '' '~^chain: cannot open the display: .*\(cannot reach the X display ":4242"\)$' -- \
    env -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER DISPLAY=:4242 "$chain"
  expect "chain with an unusable video driver" 1 '' '~^chain: cannot open the display: .*bogus' -- \
    env SDL_VIDEODRIVER=bogus "$chain"
  # Which window system: an empty WAYLAND_DISPLAY is none; CHAIN_BACKEND=x11
  # wins over it; a compositor that cannot be reached gives way to DISPLAY.
  nowhere=(env -u DISPLAY -u WAYLAND_DISPLAY -u WAYLAND_SOCKET -u SDL_VIDEODRIVER -u CHAIN_BACKEND)
  expect "chain with an empty WAYLAND_DISPLAY" 1 '' 'chain: no display: set DISPLAY (X11) or WAYLAND_DISPLAY (Wayland), or start chain from a desktop session' -- \
    "${nowhere[@]}" WAYLAND_DISPLAY= "$chain"
  expect "chain on X11 when asked, beside WAYLAND_DISPLAY" 1 '' '~^chain: cannot open the display: x11.* \(no X display: DISPLAY is not set\)$' -- \
    "${nowhere[@]}" WAYLAND_DISPLAY=chain-nowhere CHAIN_BACKEND=x11 "$chain"
  expect "chain tries DISPLAY where the compositor is unreachable" 1 '' '~^chain: cannot open the display: cannot reach the Wayland compositor through "chain-nowhere" \(No such file or directory\).*; and X11: cannot open the display: .*":4242"\)$' -- \
    "${nowhere[@]}" WAYLAND_DISPLAY=chain-nowhere DISPLAY=:4242 "$chain"
  expect "chain on X11 when SDL_VIDEODRIVER asks, beside WAYLAND_DISPLAY" 1 '' '~^chain: cannot open the display: [^;]*\(cannot reach the X display ":4242"\)$' -- \
    "${nowhere[@]}" WAYLAND_DISPLAY=chain-nowhere SDL_VIDEODRIVER=x11 DISPLAY=:4242 "$chain"
  # WAYLAND_SOCKET hands down a connected socket; anything else is named.
  handed='chain: cannot open the display: WAYLAND_SOCKET="%s" should hand down a socket connected to a Wayland compositor, but %s'
  expect "chain with a junk WAYLAND_SOCKET" 1 '' "$(printf "$handed" junk 'is not a descriptor number')" -- \
    "${nowhere[@]}" WAYLAND_SOCKET=junk "$chain"
  expect "chain with a closed WAYLAND_SOCKET" 1 '' "$(printf "$handed" 99 'names no open descriptor')" -- \
    "${nowhere[@]}" WAYLAND_SOCKET=99 "$chain"
  expect "chain with WAYLAND_SOCKET naming a file" 1 '' "$(printf "$handed" 0 'names a file')" -- \
    "${nowhere[@]}" WAYLAND_SOCKET=0 "$chain"
  expect "chain with WAYLAND_SOCKET naming a pipe" 1 '' "$(printf "$handed" 3 'names a pipe')" -- \
    sh -c 'true | "$@" 3<&0' sh "${nowhere[@]}" WAYLAND_SOCKET=3 "$chain"
  # Out of descriptors: said so, not blamed on the display.
  expect "chain out of file descriptors" 1 '' '~^chain: cannot open the display: too few file descriptors left \(this process may have 6; see ulimit -n\)$' -- \
    sh -c 'ulimit -n 6 && exec "$@"' sh env -u WAYLAND_DISPLAY -u CHAIN_BACKEND DISPLAY=:4242 "$chain"
  # Under a memory limit, whatever stage it stops at, the line says memory
  # (or, with enough of it, that no display answered). Below about 6 MB the
  # dynamic loader itself fails before the program runs: not tried.
  # (A sanitiser's shadow memory alone is over any such limit.)
  grep -qa -e __asan_init -e AddressSanitizer "$chain" || for limit in 12 16 24 28 32 40; do
    expect "chain under a memory limit of $limit MB" 1 '' '~^chain: .*(out of memory|cannot reach the X display ":4242")' -- \
      sh -c 'ulimit -v '$((limit * 1024))' && exec "$@"' sh env -u WAYLAND_DISPLAY -u CHAIN_BACKEND DISPLAY=:4242 "$chain"
  done
  # The null display, named in any case, says what it is and ends with 0 on
  # each ending signal, sent twice.
  for signal in INT TERM HUP; do
    expect "chain on the null display ends with 0 on SIG$signal, twice" 0 '' \
      'chain: the null display shows nothing; it is meant for tests (CHAIN_BACKEND)' -- \
      sh -c '"$@" 2>&1 | { read -r line; echo "$line" >&2; pkill -'$signal' -P $$ -x chain; pkill -'$signal' -P $$ -x chain; cat; }' \
      sh env "${nowhere[@]}" CHAIN_BACKEND=NuLl "$chain"
  done
fi
if [ "$platform" = windows ]; then
  # Wine with no X display: no desktop, said so (not "Invalid window handle").
  expect "chain without a desktop" 1 '' 'chain: cannot create the window: there is no desktop to show it on' -- \
    env -u DISPLAY -u WAYLAND_DISPLAY "${run[@]}" "$chain"
fi
if [ "$platform" != windows ]; then
  expect "replay reports a failed write" 1 '' '~^chain-replay: cannot write the points: No space left on device$' -- \
    sh -c "echo '1 2' | \"\$@\" >/dev/full" sh "${run[@]}" "$replay"
fi
if [ "$platform" = linux ]; then
  expect "chain reports a failed write of its version" 1 '' 'chain: cannot write the version: No space left on device' -- \
    sh -c "\"\$@\" --version >/dev/full" sh "$chain"
  expect "chain reports its help unwritten to a closed output" 1 '' 'chain: cannot write the help: Bad file descriptor' -- \
    sh -c "\"\$@\" --help >&-" sh "$chain"
fi
if [ "$platform" != web ]; then
  expect "chain shows control bytes of an argument escaped" 2 '' \
    'chain: unexpected argument '"'"'\x1b[2J\\'"'"' (try '"'"'chain --help'"'"')' -- "${run[@]}" "$chain" "$(printf '\033[2J\\')"
fi

pinned=$(printf '0 0\n'; for _ in $(seq 39); do printf '0 0\n'; done; printf '280 300')
expect "replay of nothing prints the pinned chain" 0 "$pinned" '' -- \
  sh -c "\"\$@\" </dev/null" sh "${run[@]}" "$replay"
expect "replay names the bad line" 2 '' 'chain-replay: line 3: expected two numbers "X Y", found 1' -- \
  sh -c "printf '1 2\n3 4\n5\n' | \"\$@\"" sh "${run[@]}" "$replay"
expect "replay rejects numbers out of range" 2 '' "chain-replay: line 1: number out of range: '2e9'" -- \
  sh -c "echo '2e9 0' | \"\$@\"" sh "${run[@]}" "$replay"
# A Ctrl-Z byte is data, not the end of the input.
expect "replay reads a Ctrl-Z byte as data" 2 '' "chain-replay: line 2: not a number: '4\\x1a'" -- \
  sh -c "printf '1 2\n3 4\032\n5 6\n' | \"\$@\"" sh "${run[@]}" "$replay"
expect "replay with an argument" 2 '' "chain-replay: unexpected argument 'extra' (try --help)" -- \
  "${run[@]}" "$replay" extra
expect "replay names what follows --help" 2 '' "chain-replay: unexpected argument 'x' (try --help)" -- \
  "${run[@]}" "$replay" --help x
expect "replay shows control bytes of an argument escaped" 2 '' \
  "chain-replay: unexpected argument '\\x1b[2J' (try --help)" -- "${run[@]}" "$replay" "$(printf '\033[2J')"
# Input no line break ever ends is refused once a line is too long.
expect "replay ends an endless line" 2 '' 'chain-replay: line 1: line longer than 256 bytes' -- \
  sh -c "\"\$@\" </dev/zero" sh "${run[@]}" "$replay"
expect "replay shows control bytes of its input escaped" 2 '' \
  "chain-replay: line 1: not a number: '1\x00\x1b[2J'" -- \
  sh -c "printf '1\0\033[2J 2\n' | \"\$@\"" sh "${run[@]}" "$replay"
# Every byte that could hide or steer shown escaped, to the edges of each
# class: DEL, a C1 control in UTF-8, the last character before the
# surrogates and the first after, a surrogate, a bidirectional override, a
# byte-order mark; a valid character at the very end kept. The surrogates
# are escaped at both ends of their range.
expect "replay shows hidden and steering characters escaped" 2 '' \
  "chain-replay: line 1: not a number: '\xef\xbb\xbf1\x7f\xc2\x85"$'\xed\x9f\xbf'"\xed\xa0\x80\xed\xbf\xbf"$'\xee\x80\x80'"\xe2\x80\xae\xe2\x80\x8b"$'\xc3\xa9'"'" -- \
  sh -c "printf '\357\273\2771\177\302\205\355\237\277\355\240\200\355\277\277\356\200\200\342\200\256\342\200\213\303\251 2\n' | \"\$@\"" sh "${run[@]}" "$replay"
if [ "$platform" != windows ]; then
  # What cannot be read is said with the reason; a reader that stops early
  # wanted no more.
  expect "replay reads a directory" 1 '' 'chain-replay: cannot read the input: Is a directory' -- \
    sh -c "\"\$@\" </" sh "${run[@]}" "$replay"
  expect "replay ends quietly when its reader stops" 0 '0 0' '' -- \
    sh -c "seq 1 50000 | sed 's/.*/& 1/' | \"\$@\" | head -n 1 | sed 's/.*/0 0/'" sh "${run[@]}" "$replay"
fi
if [ "$platform" = linux ]; then
  expect "replay reads a closed input" 1 '' 'chain-replay: cannot read the input: Bad file descriptor' -- \
    sh -c "\"\$@\" <&-" sh "$replay"
fi
# A number below a float's range rounds to zero, as any value to its float.
expect "replay rounds a number below a float's range" 0 '0 2' '' -- \
  sh -c "printf '1e-46 2\n' | \"\$@\" | sed -n 1p" sh "${run[@]}" "$replay"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
