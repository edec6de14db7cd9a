#!/usr/bin/env bash
# The typical road under Wine, on the release package, in a clean prefix:
#   1. a new Wine prefix (timed);
#   2. the components of dist/ installed with the release's sxinstall.exe,
#      the install hooks included (skiffhook writes the ".sxvm" association);
#   3. a sample applet opened through that association by the shell's own
#      call (sxopen: ShellExecuteEx, "open"): launcher, then player;
#   4. an applet that needs a newer player: the launcher's real message box
#      is read and its OK button pressed;
#   5. the uninstaller, quiet; then nothing of the player may remain in the
#      prefix's files or registry.
# Prints one line per step with its outcome and time; exits 1 when any step
# failed. Windows appear on the display; without one the script runs itself
# under xvfb-run.
#   road/road-wine.sh DIST SXOPEN.EXE [KEEP_FOLDER]
# KEEP_FOLDER receives the applets, the player's record and pictures.
set -uo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
[ $# -ge 2 ] || { sed -n '2,19p' "$0" >&2; exit 2; }
top=$(cd "$(dirname "$0")/.." && pwd)
dist=$(cd "$1" && pwd) || exit 2
sxopen=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
source "$top/road/components.sh"
source "$top/cmake/wine-common.sh"
loader=$(sx_wine_loader 32)
work=$(mktemp -d /tmp/sxroad.XXXXXX)
keep=${3:-}
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
cleanup() {
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

# -- 2. install
begin install
status=0
components="C:\\Program Files\\Stellarix\\Stellarix Player\\components"
source_dir=$dist/$sx_release_components
for line in "${sx_components[@]}"; do
  read -r name version hook entries <<<"$line"
  arguments=()
  for entry in $entries; do
    arguments+=(--file "$entry:$(winpath "$source_dir/${entry#*=}")")
  done
  [ "$hook" = - ] || arguments+=(--hook "$hook")
  wine_run "$dist/tools/sxinstall.exe" install --name "$name" --version "$version" --force \
    "${arguments[@]}" || { status=1; echo "sxinstall failed for $name"; }
done
command=$(wine_run reg query 'HKCR\StellarixBytecode\shell\open\command' /ve 2>/dev/null |
  sed -n 's/.*REG_SZ[[:space:]]*//p' | tr -d '\r')
echo "association: $command"
case $command in
  "\"$components\\skiff\\Stellarix3D.exe\" \"%1\"") ;;
  *) status=1; echo "the .sxvm association is not the launcher's" ;;
esac
[ -f "$WINEPREFIX/drive_c/windows/system32/stellarix.cpl" ] ||
  { status=1; echo "the control panel hook did not copy stellarix.cpl"; }
end $status "${#sx_components[@]} components, hooks run"

# -- 3. open a sample applet through the association
begin open
status=0
applet=$out/road applet.sxvm
printf 'Stellarix3D: 1 12 x RUN=viewer:4 REQ=viewer:2 REQ=ruvane:1 REQ=advertising:1\r\n' >"$applet"
record=$out/player-command-line.txt
rm -f "$record"
shown=$(SXPLAYER_RECORD=$(winpath "$record") wine_run "$sxopen" "$(winpath "$applet")" 20000)
echo "$shown"
[ "$shown" = "exit: 0" ] || { status=1; echo "the launcher did not end cleanly"; }
for _ in $(seq 100); do [ -s "$record" ] && break; sleep 0.1; done
echo "player started with: $(cat "$record" 2>/dev/null)"
grep -qF "$(winpath "$applet")" "$record" 2>/dev/null ||
  { status=1; echo "the player was not started on the applet"; }
end $status "launcher -> player"

# -- 4. the failure road: a requirement the installation does not meet
begin too-old
status=0
old=$out/needs newer.sxvm
printf 'Stellarix3D: 1 12 x RUN=viewer:9\r\n' >"$old"
shown=$(wine_run "$sxopen" "$(winpath "$old")" 20000)
echo "$shown"
grep -q '^box: .*: Your Stellarix Player is not up to date\.\\n$' <<<"$shown" ||
  { status=1; echo "no message box with the expected text"; }
grep -qx 'exit: -1' <<<"$shown" || { status=1; echo "the launcher's exit code is not -1"; }
end $status "message box read and closed"

# -- 5. uninstall, then nothing may remain
begin uninstall
status=0
wine_run "C:\\Program Files\\Stellarix\\Stellarix Player\\components\\Uninstall\\uninstaller.exe" -q ||
  { status=1; echo "the uninstaller failed"; }
# The second stage runs on from a temporary copy.
for _ in $(seq 300); do
  [ -e "$WINEPREFIX/drive_c/Program Files/Stellarix" ] || break
  sleep 0.1
done
# A restart carries out the RunOnce commands (the temporary copy's removal).
wine_run wineboot -r >/dev/null 2>&1
wineserver -k
wineserver -w
left=$(cd "$WINEPREFIX" && { find drive_c -iname '*stellarix*' -o -iname 'sxplayer*' \
  -o -iname 'compindx.dat*' -o -iname 'uninstaller*.exe' | grep -v '^drive_c/windows/system32/uninstaller.exe$'
  grep -il 'stellarix\|\.sxvm' ./*.reg; })
if [ -n "$left" ]; then
  status=1
  echo "left behind:"
  echo "$left"
  grep -i -n 'stellarix\|\.sxvm' "$WINEPREFIX"/*.reg | head -20
fi
end $status "nothing of the player left"

echo
echo "=== the road under Wine"
printf '%s\n' "${summary[@]}"
echo "applets and records: $out"
[ "$failures" -eq 0 ]
