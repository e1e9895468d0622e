#!/usr/bin/env bash
# Runs a Windows test program under Wine (the command line given), once
# more if it failed before saying anything at all: on a loaded machine Wine
# has failed to start a program (status 1 after 0.02 s, no output, once in
# a CI run's few hundred), which is Wine's failure, not the program's. A
# program that fails so twice fails, and its output is passed on as it was.
out=$(mktemp) err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT
for try in 1 2; do
  "$@" >"$out" 2>"$err"
  status=$?
  if [ "$status" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] || [ "$try" -eq 2 ]; then break; fi
  echo "wine: $* ended with status $status before saying anything; once more" >&2
done
cat "$out"
cat "$err" >&2
exit "$status"
