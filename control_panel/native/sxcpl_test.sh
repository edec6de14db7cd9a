#!/usr/bin/env bash
# sxcpl on a fresh emulated Windows, checked from outside: OK on an untouched
# sheet leaves the registry and the settings file byte for byte (a 1.1 MB
# line, hand-written lines and out-of-range values included), an edit
# changes its own line only, Cancel stores nothing, and "test ROW" tests the
# rasterizer of that row.
# Usage: sxcpl_test.sh BUILD_DIR
set -u
build=$1
sxcpl=$build/control_panel/native/sxcpl
sxreg=$build/tools/sxreg/sxreg
SX_WINROOT=$(mktemp -d)
export SX_WINROOT
trap 'rm -rf "$SX_WINROOT"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

player='HKLM\SOFTWARE\Stellarix\Stellarix3D'
user='HKCU\SOFTWARE\Stellarix\Stellarix3D'
"$sxreg" add 'HKLM\SOFTWARE\Stellarix\Stellarix Player' /v SystemDataPath /t REG_SZ /d 'C:\SXData' /f >/dev/null
"$sxreg" add "$player" /v Rasterizers /t REG_SZ /d 'dotf,ogl,eol' /f >/dev/null
"$sxreg" add "$player" /v LastRasterizer /t REG_SZ /d '' /f >/dev/null
"$sxreg" add "$user" /v AlwaysInstall /t REG_DWORD /d 5 /f >/dev/null
settings=$SX_WINROOT/drive_c/SXData/SXRegistry.dat
mkdir -p "$(dirname "$settings")"
{
    printf '# written by hand\r\nStereo/Enable = yes\r\nStereo/EyeSeparation=5.0\n'
    head -c 1100000 /dev/zero | tr '\0' 'x'
    printf '\nProcessorUsage=99999999999999999999\nOverlaySignedStatus=on\nBaseURLs/Scripts=http%%3A%%2F%%2Fx\nlast line without a break'
} >"$settings"
cp "$settings" "$SX_WINROOT/original.dat"

dump() {  # the player's keys and the settings file
    "$sxreg" export 'HKLM\SOFTWARE\Stellarix' "$(printf 'Z:%s' "$1.hklm" | tr / '\\')" /y >/dev/null
    "$sxreg" export 'HKCU\SOFTWARE\Stellarix' "$(printf 'Z:%s' "$1.hkcu" | tr / '\\')" /y >/dev/null
    cp "$settings" "$1.dat"
}
same() { cmp -s "$1.hklm" "$2.hklm" && cmp -s "$1.hkcu" "$2.hkcu" && cmp -s "$1.dat" "$2.dat"; }

dump "$SX_WINROOT/before"
[ "$(stat -c %s "$SX_WINROOT/before.dat")" -gt 1100000 ] || fail "the settings file was not written"
grep -q 'Rasterizers' "$SX_WINROOT/before.hklm" || fail "the registry dump is empty"

# Every page shown, nothing touched, OK.
out=$("$sxcpl" visit all show ok 2>&1) || fail "untouched OK: exit code $?: $out"
dump "$SX_WINROOT/after"
same "$SX_WINROOT/before" "$SX_WINROOT/after" || fail "untouched OK changed the registry or the settings"
grep -q '^stereo: on, eye separation at 311 ' <<<"$out" || fail "stereo as read: $out"
grep -q '^advanced: processor usage 6$' <<<"$out" || fail "usage saturates to the maximum: $out"
grep -q '^last rasterizer used: N/A$' <<<"$out" || fail "empty LastRasterizer: $out"

# Edits, then Cancel: nothing stored.
"$sxcpl" usage 2 stereo off eye 900 install off check 2 up cancel >/dev/null 2>&1 ||
    fail "cancel: exit code $?"
dump "$SX_WINROOT/after"
same "$SX_WINROOT/before" "$SX_WINROOT/after" || fail "Cancel changed the registry or the settings"

# One edit: its line changes, every other byte stays.
"$sxcpl" usage 3 ok >/dev/null 2>&1 || fail "usage 3 ok: exit code $?"
sed 's/^ProcessorUsage=99999999999999999999$/PROCESSORUSAGE=3/' "$SX_WINROOT/original.dat" >"$SX_WINROOT/expected.dat"
cmp -s "$settings" "$SX_WINROOT/expected.dat" || fail "usage 3 changed more than its line"
dump "$SX_WINROOT/after"
cmp -s "$SX_WINROOT/before.hklm" "$SX_WINROOT/after.hklm" &&
    cmp -s "$SX_WINROOT/before.hkcu" "$SX_WINROOT/after.hkcu" || fail "usage 3 changed the registry"

# The rasterizer rows: check, move, store.
"$sxcpl" check 1 select 1 up apply list >"$SX_WINROOT/rows" 2>&1 || fail "check 1 up apply: exit code $?"
"$sxreg" query "$player" /v Rasterizers | grep -q 'd3d_hw,ogl,eol' ||
    fail "rows stored: $("$sxreg" query "$player" /v Rasterizers)"

# "test ROW" tests that row's rasterizer.
"$sxreg" add "$player" /v SkiffPath /t REG_SZ /d 'Z:\bin\true' /f >/dev/null
"$sxreg" add "$player" /v TestSXVMPath /t REG_SZ /d 'C:\test.sxvm' /f >/dev/null
out=$("$sxcpl" list test 3 2>&1) || fail "test 3: exit code $?: $out"
# Rows now: 3D with Acceleration, OpenGL Software, 3D without, OpenGL ICD.
grep -qx '\[ \] OpenGL ICD' <<<"$(sed -n 4p <<<"$out")" || fail "row 3: $out"
grep -qx 'testing OpenGL ICD' <<<"$out" || fail "test 3 names another row: $out"
grep -q -- '-renderer ogl_icd$' <<<"$out" || fail "test 3 launched another rasterizer: $out"
grep -qx 'the launcher ended with exit code 0' <<<"$out" || fail "test 3 did not wait: $out"

# The report: what the player used last and both index files, each press
# a report of its own.
out=$("$sxcpl" report report 2>&1) || fail "report: exit code $?: $out"
[ "$(grep -c '^Last Used Renderer: N/A' <<<"$out")" -eq 2 ] || fail "report twice: $out"
[ "$(grep -c 'compindx.dat' <<<"$out")" -eq 4 ] || fail "report's index files: $out"

# The help convention.
"$sxcpl" --help | grep -q '^usage: sxcpl' || fail "--help"
"$sxcpl" nonsense >/dev/null 2>&1
[ $? -eq 2 ] || fail "a wrong word is exit code 2"

[ "$failures" -eq 0 ] && echo "sxcpl_test: all passed"
exit $((failures > 0))
