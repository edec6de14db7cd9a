#!/usr/bin/env bash
# The release package: builds the win32 preset and installs its deliverables
# into dist/ (or the folder given), laid out as an installed player keeps
# them, stripped; writes the component index with the tree's own installer;
# checks every program and library for its version information and prints
# their sizes, which must stay within the deliverables' limits.
#   scripts/package.sh [DIST]
# Environment: SX_BUILD_ROOT (default build), SX_JOBS (default 2); the build
# folders SX_WIN32_BUILD and SX_NATIVE_BUILD (default: the presets' folders
# under SX_BUILD_ROOT).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build_root=${SX_BUILD_ROOT:-build}
case $build_root in /*) ;; *) build_root=$top/$build_root ;; esac
dist=${1:-dist}
case $dist in /*) ;; *) dist=$top/$dist ;; esac
jobs=${SX_JOBS:-2}
version=2.2.1
source road/components.sh

bash scripts/install-deps.sh </dev/null >/dev/null
win32=${SX_WIN32_BUILD:-$build_root/win32}
native=${SX_NATIVE_BUILD:-$build_root/native}
[ -f "$win32/CMakeCache.txt" ] || cmake --preset win32 -B "$win32" >/dev/null
[ -f "$native/CMakeCache.txt" ] || cmake --preset native -B "$native" >/dev/null
cmake --build "$win32" -j"$jobs" --target Stellarix3D ruvane skiffhook purgehook stellarix \
  advertising uninstaller sxplayer pixmill sxinstall
# The index is written on the build machine: the native installer writes the
# same file as the Windows one, and needs no Wine.
cmake --build "$native" -j"$jobs" --target sxinstall

rm -rf "$dist"
cmake --install "$win32" --prefix "$dist" >/dev/null

components=$dist/$sx_release_components
winroot=$(mktemp -d)
trap 'rm -rf "$winroot"' EXIT
for line in "${sx_components[@]}"; do
  read -r name component_version _ entries <<<"$line"
  arguments=()
  for entry in $entries; do arguments+=(--entry "$entry"); done
  SX_WINROOT=$winroot "$native/tools/sxinstall/sxinstall" install --name "$name" \
    --version "$component_version" --dir "$components" --force "${arguments[@]}"
done

echo "dist: $dist"
mapfile -t files < <(find "$dist" -type f \( -name '*.exe' -o -name '*.dll' -o -name '*.cpl' \) | sort)
# The seven deliverables' sizes, stripped and unpacked: the hooks under
# 100 KB, every other one under 300 KB.
limits=()
for name in skiffhook.dll purgehook.dll; do limits+=(--limit "$name=$((100 * 1024))"); done
for name in Stellarix3D.exe ruvane.dll stellarix.cpl advertising.dll uninstaller.exe; do
  limits+=(--limit "$name=$((300 * 1024))")
done
python3 road/check_release.py --version "$version" --stripped "${limits[@]}" "${files[@]}"

# The setup program and the zip, next to the package folder.
bash setup/build-setup.sh --version "$version" "$dist"
