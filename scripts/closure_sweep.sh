#!/usr/bin/env bash
# Meshes every closed IGES sample at a range of relative deflections with the
# given ruvane-tess binaries and prints one line per run that leaves free
# edges or failed faces, then the totals. Exit status 1 when any run does.
#   bash scripts/closure_sweep.sh build/native/tools/ruvane_tess/ruvane-tess [more binaries]
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deflections=(0.05 0.02 0.01 5e-3 2e-3 1e-3 5e-4 2e-4 1e-4 5e-5)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
bad=0 runs=0
for tess in "$@"; do
  total=0
  for model in "$root"/iges/samples/*.igs; do
    case $(basename "$model") in skin_faces.igs) continue ;; esac  # the one open sample
    for d in "${deflections[@]}"; do
      line=$("$tess" "$model" --relative-deflection "$d" -o "$out/m.obj" 2>&1 | tail -n 1)
      runs=$((runs + 1))
      tris=$(sed -n 's/.*(\([0-9]*\) failed), \([0-9]*\) triangles, \([0-9]*\) free edges.*/\1 \2 \3/p' <<<"$line")
      read -r failed count free <<<"${tris:-x 0 x}"
      total=$((total + count))
      if [[ "$failed" != 0 || "$free" != 0 ]]; then
        echo "$tess $(basename "$model") $d: $line"
        bad=$((bad + 1))
      fi
    done
  done
  echo "$tess: $total triangles over the sweep"
done
echo "$runs runs, $bad with free edges or failed faces"
[[ $bad == 0 ]]
