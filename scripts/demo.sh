#!/usr/bin/env bash
# The main job on the default environment, natively:
#   1. installs what the build needs (scripts/install-deps.sh) and builds the
#      native programs;
#   2. uses the default emulated Windows (created on first use; SX_WINROOT
#      chooses another);
#   3. installs a sample player component ("viewer", version 4, whose "run"
#      file is the stand-in player) and the launcher component with its
#      install hook, which associates ".sxvm" files with the launcher;
#   4. answers component queries as the launcher asks them;
#   5. opens a sample applet the way the shell does and shows the command
#      line the player was started with.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
build=${SX_BUILD_ROOT:-build}/native

bash scripts/install-deps.sh </dev/null
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${SX_JOBS:-2}" --target sxreg sxinstall sxquery sxplayer Stellarix3D skiffhook

case $build in /*) ;; *) build=$top/$build ;; esac
bin() { echo "$build/$1"; }
sxinstall=$(bin tools/sxinstall/sxinstall)
sxquery=$(bin tools/sxquery/sxquery)
sxreg=$(bin tools/sxreg/sxreg)
skiffhook=$(bin install_hooks/skiffhook.so)

step() { printf '\n== %s\n' "$*"; }

step "Emulated Windows root: ${SX_WINROOT:-default per-user root}"

step "Installing the player component (the stand-in player as its run file)"
"$sxinstall" install --name viewer --version 4 \
  --file "run=player\\sxplayer.exe:$(bin tools/sxplayer/sxplayer)"

step "Installing the launcher component with skiffhook"
"$sxinstall" install --name skiff --version 1 \
  --file "skiff=Stellarix3D.exe:$(bin launcher/Stellarix3D)" \
  --file "skiffhook=skiffhook.dll:$skiffhook" --hook skiffhook

step "The component index"
"$sxinstall" list

step "Component queries, as the launcher makes them"
"$sxquery" list
echo "version of viewer: $("$sxquery" version viewer)"
echo "version of pixmill: $("$sxquery" version pixmill || true)"
player=$("$sxquery" file viewer run)
echo "viewer's run file: $player"

step "The .sxvm association that skiffhook wrote"
"$sxreg" query 'HKCR\.sxvm'
"$sxreg" query 'HKCR\StellarixBytecode\shell\open\command'

step "Opening a sample applet with a further argument"
work=$(mktemp -d)
applet_host="$work/demo applet.sxvm"
printf 'Stellarix3D: 1 12 x RUN=viewer:4 REQ=viewer:2\n<bytecode>\n' >"$applet_host"
applet="Z:${applet_host//\//\\}"
record="Z:${work//\//\\}\\player-command-line.txt"
status=0
SXPLAYER_RECORD="$record" "$(bin launcher/Stellarix3D)" "$applet" -renderer software || status=$?
echo "the launcher ended with exit code $status; the player was started with:"
cat "$work/player-command-line.txt"; echo

step "An applet that needs a newer player (the launcher shows an error box)"
printf 'Stellarix3D: 1 12 x RUN=viewer:9\n' >"$applet_host"
status=0
"$(bin launcher/Stellarix3D)" "$applet" || status=$?
echo "the launcher ended with exit code $status"
rm -rf "$work"
