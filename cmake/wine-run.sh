#!/bin/sh
# Runs a Windows program under Wine with the build's prefix (set by ctest in
# WINEPREFIX) and a quiet log; picks the 32- or 64-bit loader from the
# program's header. Exits 77 (a skip for ctest) when the prefix's setup found
# that this machine cannot run Wine programs.
. "$(dirname "$0")/wine-common.sh"
if [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/.sx-unusable" ]; then
  echo "skipped: $(cat "$WINEPREFIX/.sx-unusable")" >&2
  exit 77
fi
loader=$(sx_wine_loader "$(sx_pe_bits "$1")")
# Wine's own service processes, started by the first program, outlive it and
# inherit its standard output and error; on ctest's pipes they would make
# ctest wait for them. So the program writes to files, copied out at its end.
out=$(mktemp) || exit 1
err=$(mktemp) || exit 1
"$loader" "$@" >"$out" 2>"$err"
status=$?
cat "$out"
cat "$err" >&2
rm -f "$out" "$err"
exit $status
