#!/usr/bin/env bash
# chain.exe against a bare GDI window under Wine, in one run: launch to the
# window shown, and peak memory of the program's process once at rest, 8 runs each,
# alternating, medians; then the size of the stripped exe. Run by
# `tools/dev bench`, which starts a Wine session and builds both first.
#   bench/windows.sh WINDOWS_BUILD_DIR E2E_DRIVER
set -euo pipefail
build=${1:-build/windows}
e2e=${2:-build/release/tests/e2e_x11}
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }
run() {  # EXE -> "ms kib"
  "$e2e" --no-look --idle -- wine "$1" | awk '/window shown after/ {ms=$5} /peak resident/ {kb=$5} END {print ms, kb}'
}
: >/tmp/chain-w.$$ ; : >/tmp/bare-w.$$
for round in 1 2 3 4 5 6 7 8; do
  order="chain bare"
  [ $((round % 2)) -eq 0 ] && order="bare chain"
  for which in $order; do
    exe=$build/app/chain.exe
    [ "$which" = bare ] && exe=$build/bare_gdi.exe
    run "$exe" >>/tmp/$which-w.$$
  done
done
cm=$(awk '{print $1}' /tmp/chain-w.$$ | median) bm=$(awk '{print $1}' /tmp/bare-w.$$ | median)
ck=$(awk '{print $2}' /tmp/chain-w.$$ | median) bk=$(awk '{print $2}' /tmp/bare-w.$$ | median)
rm -f /tmp/chain-w.$$ /tmp/bare-w.$$
echo "under Wine: launch to window shown: chain.exe $cm ms, bare GDI window $bm ms: $(awk -v c="$cm" -v b="$bm" 'BEGIN {printf "%.2f", c / b}') x"
echo "under Wine: peak resident memory:   chain.exe $ck KiB, bare GDI window $bk KiB: $(awk -v c="$ck" -v b="$bk" 'BEGIN {printf "%.2f", c / b}') x"
echo "chain.exe stripped: $(stat -c %s "$build"/packaging/windows/zip/chain-*/chain.exe) bytes (goal <= 1048576)"
