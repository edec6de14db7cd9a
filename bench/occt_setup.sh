# Sourced by the comparison scripts: installs the packages they name (beyond
# the project's own) when missing, and configures the native build with
# OpenCASCADE in $build (OCCT_BENCH_BUILD, default build/occt-bench).
# Needs: $root, and the array `packages`.
bash "$root/scripts/install-deps.sh"
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
