#!/usr/bin/env bash
# The typical road under Wine, from the setup program a user downloads, in a
# clean prefix:
#   1. a new Wine prefix (timed);
#   2. the setup, silent (/S): it installs every component with the release's
#      component installer, the install hooks included; the index and the
#      files must be those of the release package, the association, the
#      panel and the Add/Remove entry those the hooks write;
#   3. a sample applet opened through that association by the shell's own
#      call (sxopen: ShellExecuteEx, "open"): launcher, then player;
#   4. an applet that needs a newer player: the launcher's real message box
#      is read and its OK button pressed;
#   5. a test launch from the control panel's Rasterizers page (the panel
#      the hook copied to system32, opened as the Control Panel does);
#   6. a setup with a newer version upgrades in place and keeps a setting;
#      the older setup then refuses to run over it; a setup whose component
#      installer fails ends with exit code 2 and says why in its log;
#   7. the Add/Remove entry's uninstall command, read from the registry and
#      started as Windows starts it, its wizard driven through; then nothing
#      of the player may remain in the prefix's files or registry;
#   8. the setup once more, driven through its pages (welcome, licence,
#      folder, progress, finish), with pictures of the welcome and finish
#      pages in KEEP_FOLDER.
# Prints one line per step with its outcome and time; exits 1 when any step
# failed. Windows appear on the display; without one the script runs itself
# under xvfb-run.
#   road/road-wine.sh SETUP.EXE SXOPEN.EXE [KEEP_FOLDER [SXADSERVER]]
# SXDRIVE.EXE is taken from beside SXOPEN.EXE; the release package the setup
# was built from (for the comparison and the newer setup) is the folder
# "dist" beside SETUP.EXE, or SX_DIST. KEEP_FOLDER receives the player's
# record, log and pictures; SXADSERVER (the native stand-in ad server)
# receives the ad's report on loopback.
set -uo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# -ge 2 ] || { sed -n '2,31p' "$0" >&2; exit 2; }
top=$(cd "$(dirname "$0")/.." && pwd)
setup=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
[ -f "$setup" ] || { echo "no setup program $1" >&2; exit 2; }
dist=$(cd "${SX_DIST:-$(dirname "$setup")/dist}" && pwd) || exit 2
sxopen=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
sxdrive=$(dirname "$sxopen")/sxdrive.exe
source "$top/road/components.sh"
source "$top/cmake/wine-common.sh"
loader=$(sx_wine_loader 32)
work=$(mktemp -d /tmp/sxroad.XXXXXX)
keep=${3:-}
adserver=${4:-}
server_pid=""
out=${keep:-$work/out}
mkdir -p "$out"
out=$(cd "$out" && pwd)
export WINEPREFIX=$work/prefix WINEARCH=win32

failures=0
summary=()
step_start=$SECONDS
begin() { step_name=$1; step_start=$SECONDS; echo "--- $1"; }
end() {  # status, note
  local word=ok
  [ "$1" -eq 0 ] || { word=FAILED; failures=$((failures + 1)); }
  summary+=("$(printf '%-10s %-6s %4ss  %s' "$step_name" "$word" $((SECONDS - step_start)) "$2")")
}
winpath() { local p=${1//\//\\}; echo "Z:$p"; }
wine_run() { "$loader" "$@" </dev/null; }
# What a Windows console program printed, without its carriage returns.
wine_text() { "$loader" "$@" </dev/null | tr -d '\r'; }
# Registry keys of the player (with their values) and values that name it.
player_registry() {
  awk '/^\[/ { header = $0; ours = tolower($0) ~ /stellarix|\.sxvm/; if (ours) print; next }
       ours && NF && !/^#/ { print "  " $0; next }
       tolower($0) ~ /stellarix|\.sxvm/ { print header ": " $0 }' "$WINEPREFIX"/*.reg
}
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null
  wineserver -k 2>/dev/null
  rm -rf "$work/prefix"
  [ -n "$keep" ] || rm -rf "$work"
}
trap cleanup EXIT

# -- 1. a clean prefix
begin prefix
status=0
wine_run wineboot -i >/dev/null 2>&1 &&
  wine_run reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    >/dev/null 2>&1 || status=1
wineserver -w
# One server for the rest of the road: each Wine start then costs little.
wineserver -p </dev/null >/dev/null 2>&1
end $status "new prefix $WINEPREFIX"

# -- 2. the setup, silent
begin setup
status=0
components="C:\\Program Files\\Stellarix\\Stellarix Player\\components"
installed="$WINEPREFIX/drive_c/Program Files/Stellarix/Stellarix Player/components"
source_dir=$dist/$sx_release_components
wine_run "$setup" /S
code=$?
[ $code -eq 0 ] || { status=1; echo "the setup exited with $code"; }
# The same index as the release's, written by the same installer; the same
# files.
cmp -s "$source_dir/compindx.dat" "$installed/compindx.dat" ||
  { status=1; echo "the installed compindx.dat differs from the release's"; }
files=0
while IFS= read -r -d '' file; do
  relative=${file#"$source_dir"/}
  [ "$relative" = compindx.dat ] && continue
  files=$((files + 1))
  cmp -s "$file" "$installed/$relative" || { status=1; echo "installed $relative differs"; }
done < <(find "$source_dir" -type f -print0)
command=$(wine_text reg query 'HKCR\StellarixBytecode\shell\open\command' /ve 2>/dev/null |
  sed -n 's/.*REG_SZ[[:space:]]*//p')
echo "association: $command"
case $command in
  "\"$components\\skiff\\Stellarix3D.exe\" \"%1\"") ;;
  *) status=1; echo "the .sxvm association is not the launcher's" ;;
esac
[ -f "$WINEPREFIX/drive_c/windows/system32/stellarix.cpl" ] ||
  { status=1; echo "the control panel hook did not copy stellarix.cpl"; }
test_applet=$(wine_text reg query 'HKLM\SOFTWARE\Stellarix\Stellarix3D' /v TestSXVMPath |
  sed -n 's/.*REG_SZ[[:space:]]*//p')
[ "$test_applet" = "$components\controlpanel\test_ball.sxvm" ] ||
  { status=1; echo "TestSXVMPath is '$test_applet'"; }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Stellarix 3D Player'
uninstall_value() {
  wine_text reg query "$uninstall_key" /v "$1" 2>/dev/null | sed -n 's/.*REG_SZ[[:space:]]*//p'
}
uninstall_string=$(uninstall_value UninstallString)
echo "Add/Remove: $(uninstall_value DisplayName); $uninstall_string"
[ "$uninstall_string" = "$components\\Uninstall\\uninstaller.exe" ] ||
  { status=1; echo "the Add/Remove entry's UninstallString is '$uninstall_string'"; }
[ "$(uninstall_value InstallLocation)" = "$components" ] ||
  { status=1; echo "the Add/Remove entry's InstallLocation is '$(uninstall_value InstallLocation)'"; }
end $status "exit $code; index and $files files as the release's; association, panel, Add/Remove"

# -- 3. open a sample applet through the association
begin open
status=0
system_data="$WINEPREFIX/drive_c/Program Files/Stellarix/Stellarix Player"
if [ -n "$adserver" ]; then
  "$adserver" --port-file "$work/port" --log "$out/adserver.log" --max-requests 4 \
    --time-limit 120000 >/dev/null &
  server_pid=$!
  for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.05; done
  # The system settings file points the ad's report at the stand-in server.
  printf 'BaseURLs/Scripts=http://127.0.0.1:%s/cgi\n' "$(cat "$work/port")" \
    >"$system_data/SXRegistry.dat"
fi
applet=$top/samples/vase.sxvm
record=$out/player-command-line.txt
rm -f "$record" "$out"/sxplayer.log "$out"/scene.obj "$out"/scene.png "$out"/ad.png
shown=$(SXPLAYER_RECORD=$(winpath "$record") SXPLAYER_OUTPUT=$(winpath "$out") \
  wine_text "$sxopen" "$(winpath "$applet")" 20000)
echo "$shown"
[ "$shown" = "exit: 0" ] || { status=1; echo "the launcher did not end cleanly"; }
# The launcher does not wait for the player; the player's log ends with its
# outcome.
for _ in $(seq 600); do grep -q '^player exit' "$out/sxplayer.log" 2>/dev/null && break; sleep 0.1; done
echo "player started with: $(cat "$record" 2>/dev/null)"
grep -qF "$(winpath "$applet")" "$record" 2>/dev/null ||
  { status=1; echo "the player was not started on the applet"; }
grep -v '^tick ' "$out/sxplayer.log" 2>/dev/null | tr -d '\r' | sed 's/^/player: /'
tr -d '\r' <"$out/sxplayer.log" 2>/dev/null | grep -qx 'player exit 0' ||
  { status=1; echo "the player failed"; }
for picture in scene.obj scene.png ad.png; do
  [ -s "$out/$picture" ] || { status=1; echo "no $picture"; }
done
note="launcher -> player; pictures in $out"
if [ -n "$adserver" ]; then
  grep -q 'GET /cgi/adserver5?' "$out/adserver.log" 2>/dev/null ||
    { status=1; echo "the ad server got no report"; }
  echo "upgrades_critical.dat: $(cat "$system_data/upgrades_critical.dat" 2>/dev/null)"
  grep -q 'Critical Fix' "$system_data/upgrades_critical.dat" 2>/dev/null ||
    { status=1; echo "the critical upgrades were not stored"; }
  note="$note; reported"
fi
end $status "$note"

# -- 4. the failure road: a component the installation does not have
begin too-old
status=0
shown=$(wine_text "$sxopen" "$(winpath "$top/samples/stereo.sxvm")" 20000)
echo "$shown"
grep -q '^box: .*: Your Stellarix Player is not up to date\.\\n$' <<<"$shown" ||
  { status=1; echo "no message box with the expected text"; }
grep -qx 'exit: -1' <<<"$shown" || { status=1; echo "the launcher's exit code is not -1"; }
end $status "message box read and closed"

# -- 5. a test launch from the control panel's Rasterizers page
begin panel
status=0
record=$out/panel/player-command-line.txt
mkdir -p "$out/panel"
rm -f "$record" "$out/panel/sxplayer.log"
shown=$(SXPLAYER_RECORD=$(winpath "$record") SXPLAYER_OUTPUT=$(winpath "$out/panel") \
  wine_text "$sxopen" --test-launch 'C:\windows\system32\stellarix.cpl' 0)
echo "$shown"
# The page waits for the launcher only; the player plays the test applet on.
for _ in $(seq 600); do grep -q '^player exit' "$out/panel/sxplayer.log" 2>/dev/null && break; sleep 0.1; done
echo "player started with: $(cat "$record" 2>/dev/null)"
# In a clean prefix the page shows the built-in list, first row "Direct 3D
# with Acceleration".
grep -qE 'test_ball\.sxvm" -renderer d3d_hw$' "$record" 2>/dev/null ||
  { status=1; echo "the test launch did not start the player on the test applet"; }
grep -q '^box: ' <<<"$shown" && { status=1; echo "the panel showed a message"; }
end $status "the panel's test launch started the player"

# -- 6. upgrade in place with a newer setup; the older one then refuses
begin upgrade
status=0
newer_version=2.2.99
setting="Preferences/KeptByUpgrade=set before $newer_version"
settings_file="$system_data/SXRegistry.dat"
printf '%s\r\n' "$setting" >>"$settings_file"
setup_version() {
  wine_text reg query 'HKLM\SOFTWARE\Stellarix\Stellarix3D' /v SetupVersion 2>/dev/null |
    sed -n 's/.*REG_SZ[[:space:]]*//p'
}
echo "installed: $(setup_version)"
if bash "$top/setup/build-setup.sh" --version "$newer_version" --name newer-setup.exe \
  "$dist" "$work" >/dev/null; then
  wine_run "$work/newer-setup.exe" /S
  code=$?
  [ $code -eq 0 ] || { status=1; echo "the newer setup exited with $code"; }
  [ "$(setup_version)" = "$newer_version" ] ||
    { status=1; echo "after the upgrade the version is '$(setup_version)'"; }
  tr -d '\r' <"$settings_file" | grep -qxF "$setting" ||
    { status=1; echo "the setting did not survive the upgrade"; }
  cmp -s "$source_dir/compindx.dat" "$installed/compindx.dat" ||
    { status=1; echo "the index after the upgrade differs from the release's"; }
  [ "$(uninstall_value UninstallString)" = "$uninstall_string" ] ||
    { status=1; echo "the upgrade moved the Add/Remove entry"; }
  echo "after the newer setup: $(setup_version); setting: $(tr -d '\r' <"$settings_file" | grep -F KeptByUpgrade)"
  wine_run "$setup" /S
  refused=$?
  echo "the older setup over it: exit $refused"
  # Started by a user, it says why in a message box.
  shown=$(wine_text "$sxopen" "$(winpath "$setup")" 30000)
  echo "$shown"
  grep -qF "box: Stellarix Player 2.2.1 Setup: The Stellarix Player $newer_version is installed, which is newer than this setup's version 2.2.1. Setup will not replace it with an older version." <<<"$shown" ||
    { status=1; echo "no message box saying why the older setup refuses"; }
  grep -qx 'exit: 3' <<<"$shown" || { status=1; echo "the refusing setup's exit code is not 3"; }
  [ $refused -eq 3 ] || { status=1; echo "the older setup over the newer exited with $refused"; }
  [ "$(setup_version)" = "$newer_version" ] ||
    { status=1; echo "the older setup changed the version to '$(setup_version)'"; }
else
  status=1
  echo "could not build the newer setup"
fi
end $status "to $newer_version in place, setting kept; the older setup refused (exit ${refused:-?}, and with a message)"

# -- 6b. a setup whose component installer fails says so by its exit code
begin failing
status=0
broken=$work/broken-dist
rm -rf "$broken"
cp -r "$dist" "$broken"
# sxdrive, given install's arguments, cannot start "--name" and exits 1: a
# component installer that failed.
cp "$sxdrive" "$broken/tools/sxinstall.exe"
temp_log=$(find "$WINEPREFIX/drive_c/users" -maxdepth 4 -iname temp -type d | head -n 1)
rm -f "$temp_log/Stellarix-Player-Setup.log"
if bash "$top/setup/build-setup.sh" --version 2.3.0 --name failing-setup.exe "$broken" "$work" \
  >/dev/null; then
  wine_run "$work/failing-setup.exe" /S
  code=$?
  [ $code -eq 2 ] || { status=1; echo "the failing setup exited with $code"; }
  reason=$(tr -d '\r' <"$temp_log/Stellarix-Player-Setup.log" 2>/dev/null)
  echo "its log: $reason"
  grep -q '^The component interpreter1 could not be installed: ' <<<"$reason" &&
    [[ $reason == *"(exit code 1)" ]] ||
    { status=1; echo "the log does not name the component and the installer's exit code"; }
  # The log is the setup's, in the user's temp folder, not the player's.
  rm -f "$temp_log/Stellarix-Player-Setup.log"
  [ "$(setup_version)" = "$newer_version" ] ||
    { status=1; echo "the failed setup recorded its version"; }
else
  status=1
  echo "could not build the failing setup"
fi
end $status "exit ${code:-?}, the reason in its log, the version not recorded"

# -- 7. remove through the Add/Remove entry, then nothing may remain
begin uninstall
status=0
uninstall_string=$(uninstall_value UninstallString)
echo "uninstall command: $uninstall_string"
# Add/Remove Programs starts the command as it stands (no -q): the wizard's
# Next, then the finished dialog's OK of the copy that does the removal.
wine_text "$sxdrive" 120000 "$uninstall_string" --window "Stellarix Player Uninstaller" \
  --press 1002 --press 1003 || { status=1; echo "the uninstaller's wizard did not go through"; }
# The second stage runs on from a temporary copy.
for _ in $(seq 300); do
  [ -e "$WINEPREFIX/drive_c/Program Files/Stellarix" ] || break
  sleep 0.1
done
# A restart carries out the RunOnce commands (the temporary copy's removal).
wine_run wineboot -r >/dev/null 2>&1
wineserver -k
wineserver -w
left=$(cd "$WINEPREFIX" && find drive_c -iname '*stellarix*' -o -iname 'sxplayer*' \
  -o -iname 'compindx.dat*' -o -iname 'uninstaller*.exe' |
  grep -v '^drive_c/windows/system32/uninstaller.exe$')
registry=$(player_registry)
note="nothing of the player left"
# The uninstaller removes the player's own keys and keeps the maker's key
# above them; left empty, it holds nothing of the player.
if [[ "$registry" =~ ^\[Software\\\\Stellarix\]\ [0-9]+$ ]]; then
  registry=""
  note="$note (but the empty key HKLM\\Software\\Stellarix)"
fi
if [ -n "$left$registry" ]; then
  status=1
  echo "left behind:"
  printf '%s\n' "$left" "$registry"
fi
end $status "$note"

# -- 8. the setup driven through its pages
begin pages
status=0
wineserver -p </dev/null >/dev/null 2>&1
caption="Stellarix Player 2.2.1 Setup"
rm -f "$out"/setup-*.bmp "$out"/setup-*.png
wine_text "$sxdrive" 180000 "\"$(winpath "$setup")\"" --window "$caption" \
  --shot "$(winpath "$out/setup-welcome.bmp")" --press 1 --press 1 --press 1 --await '1:&Finish' \
  --shot "$(winpath "$out/setup-finish.bmp")" --press 1 || status=1
for page in welcome finish; do
  python3 "$top/setup/testing/bmp_to_png.py" "$out/setup-$page.bmp" "$out/setup-$page.png" &&
    rm -f "$out/setup-$page.bmp" || { status=1; echo "no picture of the $page page"; }
done
[ -f "$installed/compindx.dat" ] || { status=1; echo "the interactive setup installed nothing"; }
end $status "welcome, licence, folder, progress, finish; pictures in $out"

echo
echo "=== the road under Wine"
printf '%s\n' "${summary[@]}"
echo "applets and records: $out"
[ "$failures" -eq 0 ]
