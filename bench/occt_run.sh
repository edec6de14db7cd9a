#!/usr/bin/env bash
# The comparison of ruvane with OpenCASCADE's mesher, from one command:
#   bash bench/occt_run.sh            all models, writes bench/results/occt_compare.*
#   bash bench/occt_run.sh --quick    a few faces, writes bench/results/occt_compare_quick.*
# Installs what it needs (Debian packages), configures a native build with
# -DSX_BENCH_OCCT=ON in build/occt-bench, checks the measures, runs the
# comparison and draws the chart.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mode=()
stem=occt_compare
if [ "${1:-}" = "--quick" ]; then
  mode=(--quick)
  stem=occt_compare_quick
fi

# The project's own build dependencies, then the kernel and the chart tool,
# which only this benchmark uses.
packages=(libocct-foundation-dev libocct-modeling-data-dev libocct-modeling-algorithms-dev
          libtbb-dev gnuplot-nox)
source "$root/bench/occt_setup.sh"
cmake --build "$build" -j2 --target occt_compare occt_measure_test
"$build/bench/occt_measure_test" --gtest_brief=1

revision=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
if ! git -C "$root" diff --quiet HEAD -- nurbs include 2>/dev/null; then
  revision="$revision with uncommitted library changes"
fi
work="$build/occt-work"
mkdir -p "$work"

# The first call in a fresh process (every face at each level, each in fresh
# processes), first, so that the report gets its per-model column. Not in
# the quick look.
first_calls=()
if [ "$stem" = occt_compare ]; then
  cmake --build "$build" -j2 --target occt_export_faces ruvane_first_call
  level=0
  for factor in 0.01 0.003 0.001; do
    rm -rf "$work/faces"
    "$build/bench/occt-export-faces" --out "$work/faces" --factor "$factor" >/dev/null
    "$build/bench/ruvane-first-call" --runs 7 --summary "$work/faces"/*.json \
      >"$work/first_call_$level.md"
    level=$((level + 1))
  done
  first_calls=(--first-calls "$work")
fi

"$build/bench/occt-compare" "${mode[@]}" "${first_calls[@]}" --out "$root/bench/results" \
  --work "$work" --revision "$revision"
gnuplot "$work/$stem.gp"
echo
sed -n '/^## Summary/,/^## /p' "$root/bench/results/$stem.md" | sed '$d'
echo "report: bench/results/$stem.md, chart: bench/results/$stem.png"

# The first calls on their own, and one curve point against the kernel's
# D0, each a table of its own. Not in the quick look.
[ "$stem" = occt_compare ] || exit 0
cmake --build "$build" -j2 --target occt_curve_compare
first="$root/bench/results/ruvane_first_call.md"
{
  echo "# ruvane's first call in a fresh process"
  echo
  echo "Revision: $revision. Machine: $(nproc) logical cores, $(uname -srm)."
  level=0
  for factor in 0.01 0.003 0.001; do
    echo
    echo "## D = $factor of the diagonal"
    echo
    cat "$work/first_call_$level.md"
    level=$((level + 1))
  done
  # What the first call pays for: each cost paid before it in turn (faces of
  # the last level).
  echo
  echo "## What the first call pays for (D = 0.001 of the diagonal)"
  echo
  "$build/bench/ruvane-first-call" --runs 7 --breakdown "$work/faces"/*.json
} >"$first"
curves="$root/bench/results/occt_curve_compare.md"
{
  echo "# A curve point: ruvane against Geom_BSplineCurve::D0"
  echo
  echo "Revision: $revision. Machine: $(nproc) logical cores, $(uname -srm)."
  echo "Interleaved rounds of 200000 points per curve and evaluator, processor time."
  echo
  "$build/bench/occt-curve-compare" 15
} >"$curves"
sed -n '/^| all/p' "$first"
echo "first calls: bench/results/ruvane_first_call.md, curves: bench/results/occt_curve_compare.md"
