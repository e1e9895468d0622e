#!/usr/bin/env bash
# The Windows installer under Wine: a silent install puts the programs in
# Program Files with a Start-menu shortcut and an Add/Remove Programs entry;
# the silent uninstaller takes all of it away again.
# usage: installer_test.sh <setup.exe>   (WINEPREFIX names the prefix)
set -u
setup=$1
wine=${WINE:-wine}
prefix=${WINEPREFIX:-$HOME/.wine}
dir="$prefix/drive_c/Program Files/Chain"
link="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Chain.lnk"
key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Chain'
version=$(cmake -P "$(dirname "$0")/../cmake/version.cmake")
passed=0 failed=0
check() {  # NAME command...
  local name=$1
  shift
  if "$@" >/dev/null 2>&1; then passed=$((passed + 1)); echo "ok   $name"
  else failed=$((failed + 1)); echo "FAIL $name"; fi
}
value() { "$wine" reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | grep -q "$2"; }
# Waits, within a generous ceiling, until a path exists (or, with !, is gone).
await() {
  for _ in $(seq 600); do
    if [ "$1" = "!" ]; then [ ! -e "$2" ] && return; else [ -e "$1" ] && return; fi
    sleep 0.1
  done
}

"$wine" "$setup" /S
await "$dir/uninstall.exe"
check "installs chain.exe" test -f "$dir/chain.exe"
check "installs chain-replay.exe, README and LICENSE" \
  test -f "$dir/chain-replay.exe" -a -f "$dir/README.md" -a -f "$dir/LICENSE.txt"
check "adds a Start-menu shortcut" test -f "$link"
check "registers with Add/Remove Programs" value DisplayName 'Chain'
check "with its version" value DisplayVersion "^ *DisplayVersion.*${version//./\\.}$"
check "and its publisher" value Publisher 'The chain developers'
check "the installed program runs" sh -c "\"$wine\" \"$dir/chain.exe\" --version | grep -qxF $version"

# The uninstaller copies itself away and returns before it is done.
"$wine" "$dir/uninstall.exe" /S
await ! "$dir"
check "uninstall removes the programs" test ! -e "$dir"
check "and the shortcut" test ! -e "$link"
check "and the Add/Remove Programs entry" sh -c "! \"$wine\" reg query '$key'"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
