#!/usr/bin/env bash
# ruvane's IGES reading and model meshing against OpenCASCADE's, from one
# command: writes bench/results/iges_compare.md (machine and date on top).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
packages=(libocct-foundation-dev libocct-modeling-data-dev libocct-modeling-algorithms-dev
          libocct-data-exchange-dev libtbb-dev)
source "$root/bench/occt_setup.sh"
cmake --build "$build" -j2 --target iges_compare >/dev/null
work=$build/iges-work
mkdir -p "$work" "$root/bench/results"
report=$root/bench/results/iges_compare.md
{
  echo "# IGES models: ruvane against OpenCASCADE"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'),"
  echo "$(nproc) cores (shared), OpenCASCADE $(dpkg-query -W -f='${Version}' libocct-foundation-dev)."
  echo "Processor times in ms; D is the linear deflection, a fraction of the bounding box"
  echo "diagonal; open edges are mesh edges not used exactly once each way; deviation is"
  echo "the largest distance of sampled triangle centroids and edge midpoints (at most about"
  echo "2000 triangles) to the triangle's own face surface, in units of D (ruvane only: the"
  echo "same measure on OpenCASCADE's faces gave implausible values and is left out)."
  echo "OpenCASCADE's reader does not sew loose faces: its open edges on the sewn models are"
  echo "the cracks between faces."
  echo
} >"$report"
"$build/bench/iges-compare" "$work" "$work/table.md"
cat "$work/table.md" >>"$report"
echo "written $report"
