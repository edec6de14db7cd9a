#!/usr/bin/env bash
# Installs, on Debian 12, everything the native and win32 builds and all their
# tests need. Idempotent and quick when nothing is missing: the installed
# packages are checked with dpkg first, and apt is used only for what lacks.
set -euo pipefail

# The one list. Architecture-qualified names are i386 packages.
packages=(
  cmake g++ clang libclang-rt-14-dev          # builds; clang's libFuzzer and sanitizer runtimes
  libgtest-dev googletest                     # GoogleTest: native library, sources for win32
  libbenchmark-dev                            # bench/
  libsqlite3-dev sqlite3                      # the emulated registry
  nlohmann-json3-dev                          # tool input files
  fonts-liberation                            # text of the emulated screen (Arial metrics)
  libstb-dev                                  # PNG pictures and screenshots in tests and stand-ins
  libcurl4-openssl-dev                        # the stand-in player's downloads
  g++-mingw-w64-i686 mingw-w64-i686-dev       # the product: 32-bit Windows
  g++-mingw-w64-x86-64                        # 64-bit Windows test build (see scripts/test.sh)
  wine wine32:i386 wine64                     # running the Windows tests
  xvfb xauth                                  # a display for windows under test
  nsis                                        # the setup program (makensis and its Windows stubs)
  zip unzip                                   # the release zip and its test
  python3 git                                 # test-to-code count and mutation check (scripts/)
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#packages[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo[@]}" dpkg --add-architecture i386
fi
"${sudo[@]}" apt-get update -q
"${sudo[@]}" apt-get install -y -q "${missing[@]}" </dev/null
