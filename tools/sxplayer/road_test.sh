#!/usr/bin/env bash
# The road of scripts/demo.sh --full in a fresh emulated Windows, checked
# from outside: the step outcomes, the files the player wrote, the answer of
# the ad server, the failure road's text and what the uninstaller left.
#   road_test.sh SOURCE_DIR NATIVE_BUILD_DIR
set -uo pipefail
source_dir=$1 build_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
out=$work/out
fail() { echo "FAILED: $*"; echo "--- demo output"; cat "$work/demo.txt"; exit 1; }

SX_WINROOT=$work/root SX_BUILD_DIR=$build_dir SX_DEMO_OUTPUT=$out \
  bash "$source_dir/scripts/demo.sh" --full --no-build >"$work/demo.txt" 2>&1
status=$?
[ $status -eq 0 ] || fail "demo.sh ended with $status"
[ "$(grep -c '^\[ ok \]' "$work/demo.txt")" -eq 8 ] || fail "not 8 steps ok"

# PNG signature, then the IHDR's width and height (big-endian words).
png_size() { od -An -tx1 -j0 -N24 "$1" | tr -d ' \n' | sed -n 's/^89504e470d0a1a0a0000000d49484452\(........\)\(........\)$/\1 \2/p'; }
[ "$(png_size "$out/scene.png")" = "00000320 00000258" ] || fail "scene.png is not an 800x600 PNG"
[ "$(png_size "$out/ad.png")" = "00000190 0000012c" ] || fail "ad.png is not a 400x300 PNG"
[ "$(png_size "$out/test-launch/scene.png")" = "00000320 00000258" ] || fail "no test-launch picture"

# The OBJ holds the triangles the player counted, each naming existing vertices.
triangles=$(sed -n 's/^scene vase: 4 surfaces, \([0-9]*\) triangles.*/\1/p' "$out/sxplayer.log")
awk -v want="$triangles" '
  /^v / { v++ } /^vn / { n++ } /^o / { o++ }
  /^f / { f++; for (i = 2; i <= 4; i++) { split($i, k, "//"); if (k[1] < 1 || k[1] > v || k[2] != k[1]) bad++ } }
  END { exit !(want > 1000 && f == want && o == 4 && n == v && !bad) }' "$out/scene.obj" ||
  fail "scene.obj does not hold the $triangles triangles of four objects"

grep -qx '   12 Critical Fix' "$work/demo.txt" || fail "upgrades_critical.dat lacks the critical upgrade"
grep -q 'GET /cgi/adserver5?PR=5&OS=Win32&AD=0' "$out/adserver.log" || fail "the report did not reach the server"
grep -q '^Error: Your Stellarix Player is not up to date.$' "$out/stereo.err" || fail "no failure text"

# After the uninstaller: no player folder, no index, no association.
system_dir="$work/root/drive_c/Program Files/Stellarix/Stellarix Player"
[ -z "$(ls -A "$system_dir" 2>/dev/null)" ] || fail "the system data directory is not empty"
SX_WINROOT=$work/root "$build_dir/tools/sxreg/sxreg" query 'HKCR\.sxvm' >/dev/null 2>&1 &&
  fail "the .sxvm association remains"
echo "road ok: $triangles triangles, pictures and answer checked, nothing left"
