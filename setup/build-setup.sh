#!/usr/bin/env bash
# Builds the setup program and the zip of a release package:
#   setup/build-setup.sh [--version A.B.C] [--name FILE] DIST [OUT]
# writes OUT/Stellarix-Player-Setup.exe (or FILE) with makensis, and, unless
# --name is given, OUT/Stellarix-Player-VERSION.zip (DIST with INSTALL.txt).
# OUT defaults to the folder that holds DIST. The components and their hooks
# are those of road/components.sh; the setup installs each with the
# release's own sxinstall.exe.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
version=2.2.1
name=""
while [ $# -gt 0 ]; do
  case $1 in
    --version) version=$2; shift 2 ;;
    --name) name=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { sed -n '2,8p' "$0" >&2; exit 2; }
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "build-setup: not a version: $version" >&2; exit 2; }
dist=$(cd "$1" && pwd)
out=$(cd "${2:-$dist/..}" && pwd)
source "$top/road/components.sh"
payload=$dist/$sx_release_components
tool=$dist/tools/sxinstall.exe
[ -f "$tool" ] && [ -d "$payload" ] || { echo "build-setup: $dist is no release package" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One SxComponent line per component: its entries copied from the payload.
for line in "${sx_components[@]}"; do
  read -r component component_version hook entries <<<"$line"
  arguments=""
  for entry in $entries; do
    relative=${entry#*=}
    arguments+=" --file \"$entry:\$PLUGINSDIR\\payload\\${relative//\//\\}\""
  done
  [ "$hook" = - ] || arguments+=" --hook $hook"
  printf '!insertmacro SxComponent %s %s `%s`\n' "$component" "$component_version" "${arguments# }"
done >"$work/components.nsh"

setup=$out/${name:-Stellarix-Player-Setup.exe}
makensis -V2 -NOCD \
  "-DVERSION=$version" "-DPAYLOAD=$payload" "-DTOOL=$tool" \
  "-DLICENSE=$top/samples/legal.txt" "-DICON=$top/launcher/resources/Stellarix3D.ico" \
  "-DCOMPONENTS=$work/components.nsh" "-DOUTFILE=$setup" "-DFILENAME=$(basename "$setup")" \
  "$top/setup/stellarix-setup.nsi" >"$work/makensis.log" 2>&1 ||
  { cat "$work/makensis.log" >&2; exit 1; }
python3 "$top/road/check_release.py" --version "$version" "$setup"
size=$(stat -c %s "$setup")
echo "setup: $setup ($size bytes)"
# The setup carries the whole release; past 1.5 MB it is too big to ship.
[ "$size" -le 1572864 ] || { echo "build-setup: the setup exceeds 1.5 MB" >&2; exit 1; }
[ -z "$name" ] || exit 0

# The zip, for those who unpack by hand.
stage=$work/zip/Stellarix-Player-$version
mkdir -p "$stage"
cp -r "$dist"/. "$stage"/
sed "s/@VERSION@/$version/g" "$top/setup/INSTALL.txt.in" >"$stage/INSTALL.txt"
for line in "${sx_components[@]}"; do
  read -r component component_version hook entries <<<"$line"
  [ "$hook" != - ] || continue
  command="   tools\\sxinstall.exe install --name $component --version $component_version --force"
  for entry in $entries; do command+=" --entry $entry"; done
  echo "$command --hook $hook"
done >>"$stage/INSTALL.txt"
cat >>"$stage/INSTALL.txt" <<'TEXT'

   Without --dir, sxinstall uses the system component directory,
   C:\Program Files\Stellarix\Stellarix Player\components.
   "tools\sxinstall.exe --help" explains its options.

3. To remove the player: Add/Remove Programs, "Stellarix 3D Player", or run
   "Stellarix Player\components\Uninstall\uninstaller.exe".
TEXT
sed -i 's/$/\r/' "$stage/INSTALL.txt"
zip_file=$out/Stellarix-Player-$version.zip
rm -f "$zip_file"
(cd "$work/zip" && zip -qr -X "$zip_file" "Stellarix-Player-$version")
echo "zip: $zip_file ($(stat -c %s "$zip_file") bytes)"
