#!/bin/sh
# wine-prime.sh start PREFIX BITS
#   Creates (once) and primes the Wine prefix the win32 tests share, turns
#   off the crash dialog so that a crashing test fails instead of hanging,
#   and keeps one wineserver alive for the run (each Wine start without a
#   running server costs seconds).
#   When this machine cannot run Wine programs of BITS bits at all, writes
#   the reason to PREFIX/.sx-unusable and succeeds: wine-run.sh then reports
#   every test as skipped with that reason.
# wine-prime.sh stop PREFIX BITS
#   Ends the prefix's wineserver and waits for it.
set -u
action=$1
prefix=$2
bits=${3:-32}
. "$(dirname "$0")/wine-common.sh"
WINEPREFIX=$prefix
export WINEPREFIX
marker=$prefix/.sx-unusable
mkdir -p "$prefix"

case "$action" in
  stop)
    [ -f "$marker" ] && exit 0
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    exit 0
    ;;
  start) ;;
  *) echo "usage: $0 start|stop PREFIX BITS" >&2; exit 2 ;;
esac

loader=$(sx_wine_loader "$bits")
if [ -z "$loader" ]; then
  echo "Wine is not installed (no loader for $bits-bit programs)" | tee "$marker"
  exit 0
fi
emulator=
[ "$bits" = 32 ] && emulator=$(sx_i386_binfmt_interpreter)
if [ -n "$emulator" ]; then
  echo "32-bit x86 programs run through $emulator on this machine (binfmt_misc), under which Wine's 32-bit loader cannot start" | tee "$marker"
  exit 0
fi
if ! probe=$("$loader" --version 2>&1); then
  probe=$(echo "$probe" | sed 's/^.*: [0-9]*: //')  # the shell's own "script: line:" prefix
  {
    echo "this machine cannot run Wine's $bits-bit loader $loader: $probe"
    if [ "$bits" = 32 ]; then
      echo "(a kernel without 32-bit program support; the 64-bit test build runs the Windows side here)"
    fi
  } | tee "$marker"
  exit 0
fi
rm -f "$marker"

# A server left from an earlier, interrupted run may hold the prefix.
wineserver -k 2>/dev/null
if [ ! -f "$prefix/.sx-primed" ]; then
  if [ ! -f "$prefix/system.reg" ]; then
    if [ "$bits" = 64 ]; then WINEARCH=win64; else WINEARCH=win32; fi
    export WINEARCH
  fi
  echo "priming $prefix with $probe"
  "$loader" wineboot -i </dev/null || exit 1
  "$loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f || exit 1
  wineserver -w
  touch "$prefix/.sx-primed"
fi
# Persistent until wine-prime.sh stop. Detached from our output, or ctest
# would wait for the server as for a child that still writes to its pipe.
wineserver -p </dev/null >/dev/null 2>&1 || exit 1
echo "wineserver running for $prefix"
