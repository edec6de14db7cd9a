#!/bin/sh
# wine-version-run.sh VERSION PROGRAM [ARGUMENTS...]
#   Runs a Windows program under Wine as it would run on an older Windows:
#   sets Wine's per-program "Version" (win98, nt40, win2k, ...) for the
#   program's file name in the build's prefix, then runs it through
#   wine-run.sh with SX_WINDOWS_VERSION naming that version. Other programs
#   in the prefix keep the prefix's own version.
here=$(dirname "$0")
. "$here/wine-common.sh"
if [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/.sx-unusable" ]; then
  echo "skipped: $(cat "$WINEPREFIX/.sx-unusable")" >&2
  exit 77
fi
version=$1
shift
program=$1
loader=$(sx_wine_loader "$(sx_pe_bits "$program")")
key="HKCU\\Software\\Wine\\AppDefaults\\$(basename "$program")"
"$loader" reg add "$key" /v Version /t REG_SZ /d "$version" /f >/dev/null 2>&1 || {
  echo "cannot set the Windows version $version for $program" >&2
  exit 1
}
SX_WINDOWS_VERSION=$version
export SX_WINDOWS_VERSION
exec "$here/wine-run.sh" "$@"
