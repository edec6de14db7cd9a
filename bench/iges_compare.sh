#!/usr/bin/env bash
# ruvane's IGES reading and model meshing against OpenCASCADE's, from one
# command: writes bench/results/iges_compare.md (machine and date on top).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
packages=(libocct-foundation-dev libocct-modeling-data-dev libocct-modeling-algorithms-dev
          libocct-data-exchange-dev libtbb-dev)
missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    "${missing[@]}" </dev/null
fi
build=${OCCT_BENCH_BUILD:-$root/build/occt-bench}
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$root}
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake --preset native -S "$root" -B "$build" -DSX_BENCH_OCCT=ON "${launcher[@]}" >/dev/null
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
