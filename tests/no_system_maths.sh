#!/usr/bin/env bash
# No program of ours takes atan, sin, cos or sincos from the system's maths
# library: the chain's own give the same bits everywhere.
# usage: no_system_maths.sh NM OBJDUMP PROGRAM...
#   On Linux NM lists the dynamic symbols a program needs; for Windows
#   programs OBJDUMP lists the DLL imports and NM the symbols linked in
#   statically (from MinGW's runtime).
set -u
nm=$1 objdump=$2
shift 2
names='^_*(atan|sin|cos|sincos)[fl]?(@.*)?$'
failed=0
for program in "$@"; do
  if [[ $program == *.exe ]]; then
    taken=$( { "$objdump" -p "$program" | awk '/DLL Name|^\s+[0-9a-f]+\s+[0-9]+\s/ {print $NF}';
               "$nm" "$program" 2>/dev/null | awk '$2 ~ /^[Tt]$/ {print $3}'; } | grep -E "$names")
  else
    taken=$("$nm" -D --undefined-only "$program" | awk '{print $NF}' | grep -E "$names")
  fi
  if [ -n "$taken" ]; then
    echo "$(basename "$program") takes from the system: $(echo $taken)"
    failed=$((failed + 1))
  else
    echo "$(basename "$program"): none of atan, sin, cos, sincos from the system"
  fi
done
echo "$(($# - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
