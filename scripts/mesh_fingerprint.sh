#!/usr/bin/env bash
# Prints a checksum of every mesh ruvane-tess makes of the samples (the
# surface samples at their own tolerances and at 1/3 and 1/10 of them, the
# IGES samples at 1e-2, 1e-3 and 1e-4 of their diagonal), one line each, so
# that a change meant to leave the meshes alone can be shown to:
#   bash scripts/mesh_fingerprint.sh build/native/tools/ruvane_tess/ruvane-tess > before.txt
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tess=$1
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
sum() { md5sum <"$out/m.obj" | cut -c1-32; }
for sample in "$root"/tools/ruvane_tess/samples/*.json; do
  read -r surface trim < <(python3 -c "import json,sys; j=json.load(open(sys.argv[1])); print(j['surface_tolerance'], j['trim_tolerance'])" "$sample")
  for scale in 1 0.333333 0.1; do
    s=$(python3 -c "print($surface*$scale, $trim*$scale)")
    "$tess" "$sample" --surface-tolerance "${s% *}" --trim-tolerance "${s#* }" -o "$out/m.obj" \
      >/dev/null 2>&1 || echo failed >"$out/m.obj"
    echo "$(sum) $(basename "$sample") $scale"
  done
done
for model in "$root"/iges/samples/*.igs; do
  for d in 1e-2 1e-3 1e-4; do
    "$tess" "$model" --relative-deflection "$d" -o "$out/m.obj" >/dev/null 2>&1 || echo failed >"$out/m.obj"
    echo "$(sum) $(basename "$model") $d"
  done
done
