#!/usr/bin/env bash
# The setup's build on a stand-in release package: the setup program carries
# the version information and stays under its size bound; the zip holds the
# package and an INSTALL.txt with one hook command per component that has a
# hook; wrong versions and folders that are no release package are refused.
set -uo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
source "$top/road/components.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # description, then the command that must succeed
  local what=$1
  shift
  if "$@"; then echo "ok    $what"; else echo "FAIL  $what"; failures=$((failures + 1)); fi
}

dist=$work/dist
mkdir -p "$dist/tools" "$dist/$sx_release_components"
head -c 3000 /dev/urandom >"$dist/tools/sxinstall.exe"
hooked=0
for line in "${sx_components[@]}"; do
  read -r _ _ hook entries <<<"$line"
  [ "$hook" = - ] || hooked=$((hooked + 1))
  for entry in $entries; do
    file=$dist/$sx_release_components/${entry#*=}
    mkdir -p "$(dirname "$file")"
    echo "${entry%%=*}" >"$file"
  done
done
echo index >"$dist/$sx_release_components/compindx.dat"

check "builds" bash -c "bash '$top/setup/build-setup.sh' --version 4.5.6 '$dist' '$work' >/dev/null"
setup=$work/Stellarix-Player-Setup.exe
check "version information 4.5.6" \
  bash -c "python3 '$top/road/check_release.py' --version 4.5.6 '$setup' >/dev/null"
check "not version information 2.2.1" \
  bash -c "! python3 '$top/road/check_release.py' --version 2.2.1 '$setup' >/dev/null"
zip=$work/Stellarix-Player-4.5.6.zip
listed=$(unzip -Z1 "$zip" 2>/dev/null | grep -v '/$' | sort)
expected=$({ cd "$dist" && find . -type f | sed 's|^\./|Stellarix-Player-4.5.6/|'
  echo Stellarix-Player-4.5.6/INSTALL.txt; } | sort)
check "the zip holds the package and INSTALL.txt" test "$listed" = "$expected"
install_text=$(unzip -p "$zip" Stellarix-Player-4.5.6/INSTALL.txt 2>/dev/null)
check "INSTALL.txt: one hook command per hooked component" \
  test "$(grep -c 'sxinstall.exe install .* --hook ' <<<"$install_text")" -eq "$hooked"
check "INSTALL.txt: Windows line ends" \
  test "$(grep -c $'\r$' <<<"$install_text")" -eq "$(wc -l <<<"$install_text")"
check "INSTALL.txt: the skiff command lists both entries" \
  grep -q -- '--name skiff --version 1 --force --entry skiff=skiff/Stellarix3D.exe --entry skiffhook=skiff/skiffhook.dll --hook skiffhook' <<<"$install_text"

for bad in 2.2 2.2.1.0 "2.2.x" ""; do
  bash "$top/setup/build-setup.sh" --version "$bad" "$dist" "$work/bad" >/dev/null 2>&1
  check "version '$bad' refused (exit 2)" test $? -eq 2
done
mkdir -p "$work/empty"
bash "$top/setup/build-setup.sh" "$work/empty" "$work" >/dev/null 2>&1
check "a folder without the package refused (exit 1)" test $? -eq 1

[ "$failures" -eq 0 ]
