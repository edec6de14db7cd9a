#!/bin/sh
# Creates (once) and primes the Wine prefix the win32 tests share, and turns
# off the crash dialog so a crashing test fails instead of hanging.
set -e
prefix="$1"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/.sx-primed" ]; then
  wineserver -k 2>/dev/null || true
  mkdir -p "$prefix"
  wineboot -i
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
  wineserver -w
  touch "$prefix/.sx-primed"
fi
