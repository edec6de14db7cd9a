#!/bin/sh
# Runs a Windows program under Wine with the build's prefix (set by ctest in
# WINEPREFIX) and a quiet log.
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEDEBUG WINEDLLOVERRIDES
exec wine "$@"
