#!/usr/bin/env bash
# ruvane's IGES reading and model meshing against OpenCASCADE's, from one
# command: rebuilds the programs, rewrites the sample models (iges/samples/,
# the same bytes unless a writer changed), measures them into
# bench/results/iges_compare.md (machine and date on top) and draws
# docs/iges_turned_mesh.png and docs/iges_pockets_mesh.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
packages=(libocct-foundation-dev libocct-modeling-data-dev libocct-modeling-algorithms-dev
          libocct-data-exchange-dev libtbb-dev)
source "$root/bench/occt_setup.sh"
cmake --build "$build" -j2 --target iges_models iges_compare iges_render >/dev/null
work=$build/iges-work
mkdir -p "$work" "$root/bench/results"
(cd "$root/iges/samples" && "$build/bench/iges-models" .)
report=$root/bench/results/iges_compare.md
"$build/bench/iges-compare" "$root/iges/samples" "$work/table.md" 2>/dev/null | grep '^|'
{
  echo "# IGES models: ruvane against OpenCASCADE"
  echo
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'),"
  echo "$(nproc) cores (shared), OpenCASCADE $(dpkg-query -W -f='${Version}' libocct-foundation-dev)."
  echo "The models are the files of iges/samples/ (bench/iges_models.cpp writes them)."
  echo "Processor times in ms, the best of 3 fresh reads and meshes per side; D is the linear deflection, a fraction of the bounding box"
  echo "diagonal; open edges are mesh edges not used exactly once each way (for the open skin"
  echo "also their total length, since the two meshes' boundaries are divided differently);"
  echo "deviation is the largest distance of sampled triangle centroids and edge midpoints"
  echo "(at most about 2000 triangles) to the surface of the triangle's own face, in units of"
  echo "D: OpenCASCADE's surface for its mesh, ruvane's surface (as an OpenCASCADE B-spline)"
  echo "for ruvane's, the nearer of the kernel's projection and its shape analysis' nearest point."
  echo "OpenCASCADE's reader does not sew loose faces: its open edges on the loose-face models"
  echo "are the cracks between faces. A box cannot be meshed with fewer than 12 triangles."
  echo "\"Of them set by edges\": the triangles ruvane's mesh would keep with the same edge points"
  echo "and no vertex inside any face (each inner vertex of a face costs two triangles), and"
  echo "that count over OpenCASCADE's triangles: where it is above 0.6, the triangle goal needs"
  echo "fewer edge points, not fewer inner vertices."
  echo
  cat "$work/table.md"
} >"$report"
"$build/bench/iges-render" "$root/iges/samples/turned_brep.igs" "$root/docs/iges_turned_mesh.png" 1e-3
"$build/bench/iges-render" "$root/iges/samples/pockets_brep.igs" "$root/docs/iges_pockets_mesh.png" 1e-3
echo "written $report"
