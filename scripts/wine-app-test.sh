#!/usr/bin/env bash
# The installed program under Wine, against the receiver simulator:
#   1. installs Zorvik-<version>-win64-setup.exe silently (/S) and checks the
#      program folder, the Start-menu entry and the registered uninstaller;
#   2. starts receiver-sim (a Linux program) on a pseudo-terminal and maps COM1
#      of the Wine prefix to it;
#   3. starts the installed program through its Start-menu entry on a virtual
#      display, connects by clicks (Mode -> Setup COM Port, OK, Connect), saves
#      a screenshot and checks it for a valid 3D fix (screenshot_check);
#      changes the baud rate to 115200 (Command -> SetBaudRate) and checks that
#      the receiver switched and that the program, following it, still shows
#      a valid fix (a second screenshot, <name>-115200.png);
#   4. ends the program and uninstalls silently: the folder, the entry and the
#      registry key are gone.
# Called by scripts/wine-test.sh, which made the prefix; runs on its own as
#   scripts/wine-app-test.sh [INSTALLER]
# Environment: WINEPREFIX (default build/windows-app/wineprefix),
# ZORVIK_LINUX_BUILD (the build with receiver-sim and screenshot_check,
# default build/default), ZORVIK_WINE_SCREENSHOT (where the picture goes,
# default next to the installer as wine-app.png).
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
windows_build="$root/build/windows-app"
installer="${1:-$(ls "$windows_build"/Zorvik-*-win64-setup.exe 2>/dev/null | head -n1)}"
linux_build="${ZORVIK_LINUX_BUILD:-$root/build/default}"
sim="$linux_build/tools/receiver-sim/receiver-sim"
check="$linux_build/tests/app/screenshot_check"
shot="${ZORVIK_WINE_SCREENSHOT:-$(dirname "$installer")/wine-app.png}"

export WINEPREFIX="${WINEPREFIX:-$windows_build/wineprefix}"
export WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
command -v wine64 >/dev/null && wine="$(command -v wine64)"

log() { echo "wine-app-test: $*"; }
die() { log "FAILED: $*"; exit 1; }
for f in "$installer" "$sim" "$check"; do
  [[ -f "$f" ]] || die "$f is missing (build the windows-app preset's windows-installer and the default build's receiver-sim, screenshot_check)"
done
[[ -f "$WINEPREFIX/system.reg" ]] || die "no Wine prefix at $WINEPREFIX (scripts/wine-test.sh makes it)"
for tool in Xvfb xdotool import; do command -v "$tool" >/dev/null || die "$tool is missing (scripts/packages-display.txt)"; done

version="$(basename "$installer" | sed -E 's/^Zorvik-(.*)-win64-setup\.exe$/\1/')"
program_dir="$WINEPREFIX/drive_c/Program Files/Zorvik"
menu_dir="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Zorvik"
shortcut_windows='C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Zorvik\DLL Zorvik V'"$version"'.lnk'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Zorvik'

work="$(mktemp -d /tmp/zorvik-wine-app.XXXXXX)"
pids=()
cleanup() {
  local pid
  timeout 30 "$wineserver" -k >/dev/null 2>&1
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

run_wine() {
  local limit="$1"; shift
  timeout --kill-after=10 "$limit" "$wine" "$@"
}
# Polls COMMAND (through bash) every 0.2 s for at most SECONDS.
wait_for() {
  local seconds="$1" command="$2" i
  for ((i = 0; i < seconds * 5; i++)); do
    bash -c "$command" >/dev/null 2>&1 && return 0
    sleep 0.2
  done
  return 1
}
uninstall_silently() {
  run_wine 60 "$program_dir/Uninstall.exe" /S >/dev/null 2>&1
  # The uninstaller copies itself away and runs from there.
  wait_for 30 "[[ ! -e '$program_dir' ]]"
}

start=$SECONDS
# ---- 1. Silent installation ---------------------------------------------------------
timeout 30 "$wineserver" -k >/dev/null 2>&1
if [[ -e "$program_dir/Uninstall.exe" ]]; then
  log "removing an earlier installation"
  uninstall_silently || die "the earlier installation did not uninstall"
fi
log "installing $(basename "$installer") silently"
run_wine 120 "$installer" /S >/dev/null 2>&1 || die "the installer failed"
for f in DLL_Zorvik_V103.exe ZorvikDll.dll Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll platforms/qwindows.dll \
    styles/qwindowsvistastyle.dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll \
    licenses/LGPL-3.txt Uninstall.exe; do
  [[ -f "$program_dir/$f" ]] || die "the installation lacks $f"
done
[[ -f "$menu_dir/DLL Zorvik V$version.lnk" ]] || die "no Start-menu entry"
registered="$(run_wine 30 reg query "$uninstall_key" 2>/dev/null | tr -d '\r')"
grep -Eq "DisplayVersion +REG_SZ +$version\$" <<<"$registered" || die "no registered uninstaller of version $version"
grep -Eq 'UninstallString +REG_SZ +"C:\\Program Files\\Zorvik\\Uninstall.exe"$' <<<"$registered" ||
  die "the registered uninstaller is not the installed one"

# ---- 2. The simulator on COM1 ---------------------------------------------------------
"$sim" --registry-dir "$work/ports" --port-name COM1 --baud 9600 --time-scale 0.2 \
  --report "$work/sim-report.jsonl" >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
wait_for 10 "grep -q '^ready' '$work/sim.out'" || die "the simulator did not start: $(cat "$work/sim.err")"
device="$(awk '$1 == "device" {print $2}' "$work/sim.out")"
run_wine 30 reg add 'HKLM\Software\Wine\Ports' /v COM1 /d "$device" /f >/dev/null 2>&1 ||
  die "cannot map COM1 to $device"
timeout 30 "$wineserver" -k >/dev/null 2>&1  # the mapping takes effect at the server's next start
log "COM1 -> $device (receiver-sim)"

# ---- 3. Start, connect, look ----------------------------------------------------------------
exec 3>"$work/displayfd"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
wait_for 10 "[[ -s '$work/displayfd' ]]" || die "Xvfb did not start"
exec 3>&-
export DISPLAY=":$(head -n1 "$work/displayfd")"

# As a user starts it: the Start-menu entry, in the working folder it names.
run_wine 60 start "$shortcut_windows" >"$work/start.log" 2>&1 || die "the Start-menu entry did not start"
window_of() {
  local id
  for _ in $(seq 150); do
    id="$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1)"
    [[ -n "$id" ]] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}
# Clicks at a point relative to a window's top left corner.
click_in() {
  local X Y
  eval "$(xdotool getwindowgeometry --shell "$1")"
  xdotool mousemove $((X + $2)) $((Y + $3)) click 1
  sleep 0.5
}
main="$(window_of "^DLL Zorvik V$version\$")" || die "the program's window did not appear"
sleep 1
click_in "$main" 60 8   # Mode
click_in "$main" 115 29 # Setup COM Port
dialog="$(window_of '^Com-Port Setup$')" || die "the COM setup dialog did not open"
click_in "$dialog" 125 109 # OK: COM1 at 9600, the dialog's first port and rate
click_in "$main" 20 35     # Connect
sleep 8
import -window root "$shot" || die "no screenshot"
log "screenshot $shot"
"$check" "$shot" || die "the screenshot shows no valid fix"
grep -q '"event":"start"' "$work/sim-report.jsonl" || die "the simulator reported nothing"

# A baud-rate change: Command -> SetBaudRate, 115200, OK. The receiver
# switches, and the program must follow it to the new rate by itself.
click_in "$main" 108 8 # Command
click_in "$main" 140 98 # SetBaudRate
rate_dialog="$(window_of '^Baud Rate Setting$')" || die "the baud-rate dialog did not open"
click_in "$rate_dialog" 220 39 # the rate field
xdotool key --clearmodifiers ctrl+a
xdotool type --delay 20 115200
sleep 0.2
click_in "$rate_dialog" 158 90 # OK
wait_for 15 "grep -q '\"event\":\"baud\",\"rate\":115200' '$work/sim-report.jsonl'" ||
  die "the receiver was not switched to 115200 bps"
sleep 6
import -window root "${shot%.png}-115200.png" || die "no screenshot"
"$check" "${shot%.png}-115200.png" || die "after the switch to 115200 bps the screenshot shows no valid fix"

# ---- 4. End and uninstall ---------------------------------------------------------------
run_wine 30 taskkill /f /im DLL_Zorvik_V103.exe >/dev/null 2>&1
wait_for 20 "! xdotool search --onlyvisible --name '^DLL Zorvik V' >/dev/null" || die "the program did not end"
uninstall_silently || die "the silent uninstall left $program_dir"
[[ ! -e "$menu_dir" ]] || die "the uninstall left the Start-menu entry"
if run_wine 30 reg query "$uninstall_key" >/dev/null 2>&1; then die "the uninstall left its registry key"; fi
log "installed, connected with a valid fix, followed the switch to 115200 bps, uninstalled ($((SECONDS - start)) s)"
