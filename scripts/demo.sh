#!/usr/bin/env bash
# The typical road, natively, on the default emulated Windows:
#   1. installs what the build needs and builds the native programs;
#   2. installs the player's components into the system component directory
#      with sxinstall: the stand-in player (run file of "interpreter1" and of
#      the newer "interpreter2"), the launcher with skiffhook, ruvane,
#      advertising with its default picture and pixmill, "legalinfo", the
#      control panel with its hook and test applet, the uninstaller with
#      purgehook;
#   3. opens samples/vase.sxvm as the shell does, through the ".sxvm"
#      association skiffhook wrote; the launcher checks the requirements and
#      starts the player, which shows the ad, tessellates the scene with
#      ruvane, reports to the stand-in ad server on loopback and writes the
#      pictures (scene.obj, scene.png, ad.png);
#   4. opens samples/stereo.sxvm, which needs a component that is not
#      installed: the launcher says "Your Stellarix Player is not up to date.";
#   5. with --full: a test launch from the control panel's Rasterizers page,
#      then "uninstaller -q", and shows that nothing of the player remains.
#
#   scripts/demo.sh [--full] [--no-build]
# Environment: SX_WINROOT (the emulated Windows; default the per-user one),
# SX_BUILD_ROOT (build folders, default build; SX_BUILD_DIR: the native build
# folder itself), SX_DEMO_OUTPUT (pictures,
# default build/demo), SX_JOBS (parallel build jobs, default 2).
# Exit code 0 when every step had the outcome it should.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD
full=0 build_it=1
for arg in "$@"; do
  case $arg in
    --full) full=1 ;;
    --no-build) build_it=0 ;;
    *) echo "usage: scripts/demo.sh [--full] [--no-build]" >&2; exit 2 ;;
  esac
done
build=${SX_BUILD_DIR:-${SX_BUILD_ROOT:-build}/native}
case $build in /*) ;; *) build=$top/$build ;; esac
out=${SX_DEMO_OUTPUT:-$top/build/demo}
root=${SX_WINROOT:-${XDG_DATA_HOME:-$HOME/.local/share}/stellarix/winroot}
export SX_WINROOT=$root

failures=0
system_dir="$root/drive_c/Program Files/Stellarix/Stellarix Player"
now_ms() { date +%s%3N; }
# step TITLE COMMAND...: runs the command, its output indented, then one
# summary line with the outcome and the time it took.
# The command runs in this shell (what it sets stays set), with errexit off:
# it checks what it needs itself.
step() {
  local title=$1 start status=0 output
  shift
  start=$(now_ms)
  printf '\n== %s\n' "$title"
  output=$(mktemp)
  "$@" >"$output" 2>&1 || status=$?
  sed 's/^/   /' "$output"
  rm -f "$output"
  local line
  if [ "$status" -eq 0 ]; then
    line=$(printf '[ ok ] %s (%d ms)' "$title" $(($(now_ms) - start)))
  else
    line=$(printf '[FAIL] %s (%d ms, exit %d)' "$title" $(($(now_ms) - start)) "$status")
    failures=$((failures + 1))
  fi
  echo "$line"
  summary+=("$line")
}
summary=()

win_path() { local p=${1//\//\\}; echo "Z:$p"; }           # a host path as drive Z:
host_path() { local p=${1//\\//}; echo "$root/drive_c/${p:3}"; }  # C:\x -> the root's drive C

build_programs() {
  bash scripts/install-deps.sh </dev/null
  [ -f "$build/CMakeCache.txt" ] ||
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSX_BENCH=OFF >/dev/null
  cmake --build "$build" -j"${SX_JOBS:-2}" --target sxreg sxinstall sxquery sxplayer \
    sxadserver Stellarix3D skiffhook purgehook ruvane advertising pixmill uninstaller \
    stellarix sxcpl | grep -E '^\[100%\]|error|warning' || true
  [ -x "$build/tools/sxplayer/sxplayer" ] && [ -x "$build/control_panel/native/sxcpl" ]
}
if [ $build_it -eq 1 ]; then
  step "Build the native programs ($build)" build_programs
fi
[ $failures -eq 0 ] || exit 1

bin() { echo "$build/$1"; }
sxinstall=$(bin tools/sxinstall/sxinstall)
sxreg=$(bin tools/sxreg/sxreg)
sxquery=$(bin tools/sxquery/sxquery)
launcher_exe=$(bin launcher/Stellarix3D)
components=(interpreter1 interpreter2 skiff ruvane advertising pixmill legalinfo controlpanel
            uninstall)

clean_previous() {
  echo "emulated Windows: $root"
  # A rerun starts from nothing of the player.
  for name in "${components[@]}"; do "$sxinstall" remove "$name" --force >/dev/null 2>&1 || true; done
  "$sxreg" delete 'HKLM\SOFTWARE\Stellarix' /f >/dev/null 2>&1 || true
  # Only what the road writes: the output folder may be the user's own.
  rm -rf "$out/test-launch"
  rm -f "$out"/{scene.png,scene.obj,ad.png,sxplayer.log,adserver.port,adserver.log,stereo.err}
  mkdir -p "$out"
}
step "Prepare the emulated Windows" clean_previous

# The association (skiffhook), the Add/Remove Programs entry (purgehook) and
# the control panel's test applet (its hook).
hook_keys=('HKCR\.sxvm' 'HKCR\StellarixBytecode\shell\open\command'
  'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Stellarix 3D Player'
  'HKLM\SOFTWARE\Stellarix\Stellarix3D')
panel_copy="$root/drive_c/Windows/System32/stellarix.cpl"
install_all() {
  local player
  player=$(bin tools/sxplayer/sxplayer)
  inst() { "$sxinstall" install "$@" >/dev/null || { echo "sxinstall install $* failed"; return 1; }; }
  inst --name interpreter1 --version 1 --file "run=interp1\\sxplayer.exe:$player" &&
    inst --name interpreter2 --version 3 --file "run=player\\sxplayer.exe:$player" &&
    inst --name skiff --version 1 --file "skiff=Stellarix3D.exe:$launcher_exe" \
      --file "skiffhook=skiffhook.dll:$(bin install_hooks/skiffhook.so)" --hook skiffhook &&
    inst --name ruvane --version 1 --file "library=ruvane.dll:$(bin nurbs/libruvane.so)" &&
    inst --name advertising --version 1 \
      --file "library=advertising.dll:$(bin advertising/libadvertising.so)" \
      --file "default_ad=ad\\default.gif:$top/samples/ad.gif" &&
    inst --name pixmill --version 1 --file "library=pixmill.dll:$(bin tools/pixmill/libpixmill.so)" &&
    inst --name legalinfo --version 1 --file "legalinfo=legal\\legal.txt:$top/samples/legal.txt" &&
    inst --name controlpanel --version 1 \
      --file "cpl=stellarix.cpl:$(bin control_panel/native/stellarix.cpl)" \
      --file "fish=test\\test_ball.sxvm:$top/samples/test_ball.sxvm" --hook cpl &&
    inst --name uninstall --version 1 \
      --file "uninstaller=uninstaller.exe:$(bin uninstaller/uninstaller)" \
      --file "purgehook=purgehook.dll:$(bin install_hooks/purgehook.so)" --hook purgehook ||
    return 1
  echo "into $system_dir/components:"
  "$sxquery" list | sed 's/^/  /'
  echo "what the install hooks did:"
  local key
  for key in "${hook_keys[@]}"; do
    "$sxreg" query "$key" >/dev/null 2>&1 || { echo "  $key: missing"; return 1; }
    echo "  $key: written"
  done
  [ -f "$panel_copy" ] || { echo "  no control panel copy in the system folder"; return 1; }
  echo "  the control panel copied into C:\Windows\System32"
}
step "Install the player's components (sxinstall)" install_all

# The stand-in ad server on loopback, and the setting that points the ad
# library at it (in the per-user settings file).
server_pid=""
cleanup() { [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true; }
trap cleanup EXIT
start_server() {
  local user_components user_dir
  "$(bin tools/sxadserver/sxadserver)" --port-file "$out/adserver.port" --log "$out/adserver.log" \
    --max-requests 4 --time-limit 120000 >/dev/null &
  server_pid=$!
  for _ in $(seq 100); do [ -s "$out/adserver.port" ] && break; sleep 0.05; done
  [ -s "$out/adserver.port" ] || { echo "the ad server did not start"; return 1; }
  # The user's data folder as the player finds it (the user shell folder
  # first, then the shell folder): its components folder's parent.
  user_components=$("$sxquery" list | sed -n 's/^Components-User: //p')
  [ -n "$user_components" ] || { echo "the player has no user data folder"; return 1; }
  user_components=${user_components%\\}
  user_dir=$(host_path "${user_components%\\components}")
  mkdir -p "$user_dir"
  printf 'BaseURLs/Scripts=http://127.0.0.1:%s/cgi\n' "$(cat "$out/adserver.port")" \
    >"$user_dir/SXRegistry.dat"
  echo "listening on 127.0.0.1:$(cat "$out/adserver.port"); BaseURLs/Scripts set in $user_dir"
}
step "Start the stand-in ad server" start_server

# The shell's "open": the association's command with %1 the document.
open_as_shell() {
  local document=$1 progid command program rest args=()
  progid=$("$sxreg" query 'HKCR\.sxvm' /ve | sed -n 's/.*REG_SZ *//p')
  command=$("$sxreg" query "HKCR\\$progid\\shell\\open\\command" /ve | sed -n 's/.*REG_[A-Z_]*SZ *//p')
  echo "association: .sxvm -> $progid -> $command"
  program=${command#\"}
  program=${program%%\"*}
  rest=${command#\""$program"\"}
  while read -r word; do
    word=${word#\"}
    word=${word%\"}
    args+=("${word//%1/$document}")
  done < <(grep -oE '"[^"]*"|[^ ]+' <<<"$rest")
  echo "the shell runs: $program ${args[*]}"
  "$(host_path "$program")" "${args[@]}"
}

# Waits for the player's last log line and shows the log.
wait_for_player() {
  local log=$1
  for _ in $(seq 600); do grep -q '^player exit' "$log" 2>/dev/null && break; sleep 0.1; done
  [ -f "$log" ] && grep -v '^tick ' "$log" | sed 's/^/player: /'
  grep -q '^player exit 0$' "$log"
}

open_vase() {
  rm -f "$system_dir/upgrades_critical.dat"
  local status=0
  export SXPLAYER_OUTPUT
  SXPLAYER_OUTPUT=$(win_path "$out")
  open_as_shell "$(win_path "$top/samples/vase.sxvm")" || status=$?
  unset SXPLAYER_OUTPUT
  echo "the launcher ended with exit code $status"
  [ $status -eq 0 ] && wait_for_player "$out/sxplayer.log"
}
step "Open samples/vase.sxvm as the shell does (ad, tessellation, report, pictures)" open_vase

show_upgrades() {
  echo "the ad server saw: $(cut -c1-100 "$out/adserver.log" | head -n 1)"
  echo "upgrades_critical.dat in the system data directory:"
  cat "$system_dir/upgrades_critical.dat"
}
step "The report's answer: critical upgrades" show_upgrades

open_stereo() {
  local status=0
  open_as_shell "$(win_path "$top/samples/stereo.sxvm")" 2>"$out/stereo.err" || status=$?
  echo "the launcher ended with exit code $status and showed:"
  cat "$out/stereo.err"
  [ $status -ne 0 ] && grep -q "Your Stellarix Player is not up to date." "$out/stereo.err"
}
step "Open samples/stereo.sxvm, which needs a component that is not installed" open_stereo

if [ $full -eq 1 ]; then
  test_launch() {
    local log="$out/test-launch/sxplayer.log"
    rm -rf "$out/test-launch"
    "$(bin control_panel/native/sxcpl)" list || return 1
    SXPLAYER_OUTPUT=$(win_path "$out/test-launch") "$(bin control_panel/native/sxcpl)" test 0 ||
      return 1
    wait_for_player "$log"
  }
  step "Test launch from the control panel's Rasterizers page" test_launch

  uninstall() {
    local uninstaller
    uninstaller=$(host_path "$("$sxquery" file uninstall uninstaller)")
    echo "running $uninstaller -q"
    "$uninstaller" -q || return 1
    # The uninstaller's copy does the removal after the first one ends.
    for _ in $(seq 300); do [ ! -e "$system_dir/components" ] && break; sleep 0.1; done
    echo "left of the player:"
    echo "  files in the system data directory: $(find "$system_dir" -mindepth 1 2>/dev/null | wc -l)"
    echo "  the component search finds $("$sxquery" list | sed -n 's/^components: //p') components"
    local key left=0
    for key in "${hook_keys[@]}"; do
      if "$sxreg" query "$key" >/dev/null 2>&1; then echo "  $key: still there"; left=1; else echo "  $key: gone"; fi
    done
    if [ -e "$panel_copy" ]; then echo "  the control panel copy: still there"; left=1; fi
    [ $left -eq 0 ] && [ ! -e "$system_dir/components" ]
  }
  step "Uninstall (uninstaller -q)" uninstall
fi

printf '\nSummary:\n'
printf '  %s\n' "${summary[@]}"
printf '\nPictures and the mesh are in %s:\n' "$out"
ls -l "$out"/scene.png "$out"/ad.png "$out"/scene.obj 2>/dev/null | awk '{print "  " $NF " (" $5 " bytes)"}'
if [ $failures -eq 0 ]; then echo "The road went as it should."; else echo "$failures step(s) failed."; fi
[ $failures -eq 0 ]
