#!/usr/bin/env bash
# Runs the Windows build's tests under Wine (64-bit, headless).
#
#   cmake --preset windows && cmake --build --preset windows && scripts/wine-test.sh
#
# Installs nothing: the packages come from scripts/packages-windows.txt
# (scripts/install-deps.sh packages-windows.txt). What it does:
#   1. checks ZorvikDll.dll's export table against ZorvikDll.h;
#   2. makes a private Wine prefix in build/windows/wineprefix (once);
#   3. joins two pseudo-terminals with socat and maps them to COM1 and COM2 of
#      that prefix (Wine's port overrides, which also fill the SERIALCOMM key);
#   4. runs the library tests built for Windows, then the Win32 serial test,
#      then an XMODEM transfer to Debian's python3-xmodem on the Linux side of
#      COM2;
#   5. in a build with the program (preset windows-app): the A-GPS download
#      through the Windows backend against the A-GPS test server; the
#      program's Qt Tests that need no Linux facility on the offscreen
#      platform (their receiver is COM2); a firmware download through the
#      dialog at 115200 bps to the receiver simulator on COM3, whose boot
#      loader must receive the image byte for byte; then
#      scripts/wine-app-test.sh on the installer (silent install, the program
#      against the simulator, a screenshot with a valid fix, uninstall);
#   6. network ports: Debian's ser2net (a telnet(rfc2217) and a raw tcp
#      accepter) in front of a receiver simulator's pty, read through
#      rfc2217:// and tcp:// by test_win32_network, the rate followed over
#      RFC 2217, in a build with the program a firmware download through it
#      (the service's run, then the program's dialog); then a second ser2net
#      killed mid-stream;
#   7. stops socat, the simulators, ser2net and the Wine server. Any failure
#      makes the exit status non-zero.
# Environment: ZORVIK_WINDOWS_BUILD (build dir), ZORVIK_WINE_TIMEOUT (seconds
# per test program, default 300), ZORVIK_WINE_SERIAL_ARGS (extra GoogleTest
# options for the serial test, e.g. --gtest_repeat=20), ZORVIK_WINE_NETWORK_ARGS
# (the same for the network test through ser2net), ZORVIK_LINUX_BUILD
# (the build with receiver-sim, default build/default).
#
# Wine hands a Windows program none of the caller's QT_* variables (they are
# left to the host's own Qt): a Qt setting must be spelled WINEQT_*, which Wine
# passes on as QT_*. So QT_QPA_PLATFORM=offscreen never reaches the program,
# which then runs on the windows platform instead.
set -uo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${ZORVIK_WINDOWS_BUILD:-$root/build/windows}"
per_test_timeout="${ZORVIK_WINE_TIMEOUT:-300}"
tests_dir="$build/tests/windows"
ports="$build/ports"

export WINEPREFIX="$build/wineprefix"
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko installer at prefix creation (it would want a display).
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"
unset DISPLAY WAYLAND_DISPLAY

find_tool() {
  local name
  for name in "$@"; do
    if command -v "$name" >/dev/null 2>&1; then command -v "$name"; return 0; fi
    if [[ -x "/usr/lib/wine/$name" ]]; then echo "/usr/lib/wine/$name"; return 0; fi
  done
  return 1
}
wine="$(find_tool wine64 wine)" || { echo "wine-test: wine64 not found (scripts/install-deps.sh packages-windows.txt)" >&2; exit 2; }
wineserver="$(find_tool wineserver64 wineserver)" || { echo "wine-test: wineserver not found" >&2; exit 2; }
command -v socat >/dev/null || { echo "wine-test: socat not found" >&2; exit 2; }
python=/usr/bin/python3

failures=()
pids=()
log() { echo "wine-test: $*"; }
fail() { failures+=("$1"); log "FAILED: $1"; }

cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  timeout 30 "$wineserver" -k >/dev/null 2>&1
  rm -rf "$ports"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Runs a Windows program under Wine with a time limit.
run_wine() {
  local limit="$1"; shift
  timeout --kill-after=10 "$limit" "$wine" "$@"
}

# ---- 1. Export table ---------------------------------------------------------
dll="$build/library/ZorvikDll.dll"
[[ -f "$dll" ]] || { echo "wine-test: $dll missing: build the windows preset first" >&2; exit 2; }
if "$root/scripts/check-dll-exports.sh" "$dll"; then :; else fail "export table"; fi

# ---- 2. Prefix -----------------------------------------------------------------
start=$SECONDS
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
  log "creating the Wine prefix $WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  if ! timeout --kill-after=10 300 "$wine" wineboot -i >/dev/null 2>&1; then
    echo "wine-test: wineboot failed" >&2; exit 2
  fi
  timeout 60 "$wineserver" -w >/dev/null 2>&1
fi

# ---- 3. Ports ------------------------------------------------------------------
timeout 30 "$wineserver" -k >/dev/null 2>&1
rm -rf "$ports" && mkdir -p "$ports"
socat -d -d "pty,raw,echo=0,link=$ports/ttyA" "pty,raw,echo=0,link=$ports/ttyB" \
  >"$ports/socat.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
  [[ -e "$ports/ttyA" && -e "$ports/ttyB" ]] && break
  sleep 0.1
done
[[ -e "$ports/ttyA" && -e "$ports/ttyB" ]] || { cat "$ports/socat.log" >&2; echo "wine-test: socat made no pair" >&2; exit 2; }
# Holding both ends open keeps the pair alive while the tests close and reopen
# their ports (socat ends when a side is closed by its last user); this
# process never reads, so it takes nothing from the tests.
sleep 100000 <>"$ports/ttyA" 3<>"$ports/ttyB" &
pids+=($!)

# In a build with the firmware test, the receiver simulator (a Linux program)
# plays the receiver on COM3.
mappings=("COM1=$ports/ttyA" "COM2=$ports/ttyB")
flash_test="$tests_dir/test_win32_flash.exe"
if [[ -f "$flash_test" ]]; then
  sim="${ZORVIK_LINUX_BUILD:-$root/build/default}/tools/receiver-sim/receiver-sim"
  [[ -x "$sim" ]] || { echo "wine-test: $sim missing (the default build's receiver-sim)" >&2; exit 2; }
  "$sim" --no-register --baud 9600 --time-scale 0.25 --report "$ports/sim-report.jsonl" \
    --image-out "$ports/sim-image.bin" >"$ports/sim.out" 2>"$ports/sim.err" &
  pids+=($!)
  for _ in $(seq 100); do grep -q '^ready' "$ports/sim.out" && break; sleep 0.1; done
  grep -q '^ready' "$ports/sim.out" || { cat "$ports/sim.err" >&2; echo "wine-test: the simulator did not start" >&2; exit 2; }
  mappings+=("COM3=$(awk '$1 == "device" {print $2}' "$ports/sim.out")")
fi

# Wine maps COMn to the device its Ports override names, makes the
# dosdevices link and lists the port under HARDWARE\DEVICEMAP\SERIALCOMM.
for mapping in "${mappings[@]}"; do
  if ! run_wine 60 reg add 'HKLM\Software\Wine\Ports' /v "${mapping%%=*}" /d "${mapping#*=}" /f >/dev/null 2>&1; then
    echo "wine-test: cannot set the port override ${mapping}" >&2; exit 2
  fi
done
# The overrides take effect at the Wine server's next start; from then on one
# persistent server serves every test program.
timeout 30 "$wineserver" -k >/dev/null 2>&1
timeout 30 "$wineserver" -w >/dev/null 2>&1
"$wineserver" -p >/dev/null 2>&1
serialcomm="$(run_wine 60 reg query 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' 2>/dev/null | tr -d '\r')"
for port in COM1 COM2; do
  link="$WINEPREFIX/dosdevices/${port,,}"
  if [[ "$(readlink "$link")" != "$ports/tty"* ]]; then
    echo "wine-test: $link does not lead to the socat pair ($(readlink "$link"))" >&2; exit 2
  fi
  grep -qw "$port" <<<"$serialcomm" || { echo "wine-test: $port missing from SERIALCOMM" >&2; exit 2; }
done
log "COM1 -> $(readlink "$ports/ttyA"), COM2 -> $(readlink "$ports/ttyB") (set-up $((SECONDS - start)) s)"

# ---- Network ports: ser2net in front of a simulator ---------------------------
# Each starts a simulator of its own: ser2net holds its device for a while
# after a session, and the killed one may leave it set as it was.
sim="${ZORVIK_LINUX_BUILD:-$root/build/default}/tools/receiver-sim/receiver-sim"
ser2net=/usr/sbin/ser2net
net_dir="$build/net-ports"

free_tcp_port() {
  "$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# True once every given port listens, read from the kernel's table: a probe
# connection would itself hold the device for a while after it closed.
listening() {
  local port hex
  for port in "$@"; do
    hex="$(printf '%04X' "$port")"
    awk -v hex="$hex" 'NR > 1 && $4 == "0A" && split($2, a, ":") && a[2] == hex {found = 1} END {exit !found}' \
      /proc/net/tcp || return 1
  done
}

# start_device_server NAME ACCEPTER:PORT... : a simulator and a ser2net in
# front of it with these accepters; ser2net's pid in server_pid.
start_device_server() {
  local name="$1" listener accepter port ports=() dir="$net_dir/$1"
  shift
  mkdir -p "$dir"
  "$sim" --no-register --baud 9600 --time-scale 0.25 --image-out "$dir/image.bin" \
    --report "$dir/report.jsonl" >"$dir/sim.out" 2>"$dir/sim.err" &
  pids+=($!)
  for _ in $(seq 100); do grep -q '^ready' "$dir/sim.out" && break; sleep 0.1; done
  grep -q '^ready' "$dir/sim.out" || { cat "$dir/sim.err" >&2; return 1; }
  local device
  device="$(awk '$1 == "device" {print $2}' "$dir/sim.out")"
  : >"$dir/ser2net.yaml"
  for listener in "$@"; do
    accepter="${listener%:*}" port="${listener##*:}"
    ports+=("$port")
    printf 'connection: &%s%s\n  accepter: %s,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
      "$name" "$port" "$accepter" "$port" "$device" >>"$dir/ser2net.yaml"
  done
  "$ser2net" -n -d -c "$dir/ser2net.yaml" >"$dir/ser2net.log" 2>&1 &
  server_pid=$!
  pids+=("$server_pid")
  for _ in $(seq 200); do listening "${ports[@]}" && return 0; sleep 0.05; done
  cat "$dir/ser2net.log" >&2
  return 1
}

# A firmware download through ser2net, in a build with the program.
run_network_flash() {
  local flash_net_test="$tests_dir/test_win32_network_flash.exe" port
  [[ -f "$flash_net_test" ]] || return 0
  port="$(free_tcp_port)"
  if ! start_device_server flash "telnet(rfc2217),tcp:$port"; then
    fail "test_win32_network_flash: ser2net did not start"; return
  fi
  ran=$((ran + 1))
  log "running test_win32_network_flash through ser2net"
  if ! ZORVIK_NET_FLASH="rfc2217://127.0.0.1:$port" ZORVIK_NET_FLASH_IMAGE="Z:$net_dir/flash/image.bin" \
      run_wine "$per_test_timeout" "$flash_net_test" </dev/null; then
    fail "test_win32_network_flash"
  fi
}

run_network_tests() {
  local net_test="$tests_dir/test_win32_network.exe"
  [[ -f "$net_test" ]] || return 0
  [[ -x "$sim" ]] || { fail "test_win32_network: $sim missing (the default build's receiver-sim)"; return; }
  [[ -x "$ser2net" ]] || { fail "test_win32_network: no ser2net (scripts/packages.txt)"; return; }
  rm -rf "$net_dir" && mkdir -p "$net_dir"
  local rfc raw doomed
  rfc="$(free_tcp_port)" raw="$(free_tcp_port)" doomed="$(free_tcp_port)"
  if ! start_device_server main "telnet(rfc2217),tcp:$rfc" "tcp:$raw"; then
    fail "test_win32_network: ser2net did not start"; return
  fi
  ran=$((ran + 1))
  log "running test_win32_network through ser2net"
  if ! ZORVIK_NET_RFC2217="rfc2217://127.0.0.1:$rfc" ZORVIK_NET_RAW="tcp://127.0.0.1:$raw" \
      run_wine "$per_test_timeout" "$net_test" --gtest_filter='-Win32NetworkLost.*' \
      ${ZORVIK_WINE_NETWORK_ARGS:-} </dev/null; then
    fail "test_win32_network"
  fi
  run_network_flash
  if ! start_device_server doomed "telnet(rfc2217),tcp:$doomed"; then
    fail "test_win32_network: the second ser2net did not start"; return
  fi
  local kill_file="$net_dir/kill-now" doomed_pid="$server_pid"
  rm -f "$kill_file"
  # Kills the second ser2net as soon as the test asks for it.
  ( for _ in $(seq 1200); do
      [[ -e "$kill_file" ]] && { kill -9 "$doomed_pid" 2>/dev/null; exit 0; }
      sleep 0.05
    done ) &
  local killer=$!
  log "running test_win32_network with ser2net killed mid-stream"
  if ! ZORVIK_NET_DOOMED="rfc2217://127.0.0.1:$doomed" ZORVIK_NET_KILL_FILE="Z:$kill_file" \
      run_wine "$per_test_timeout" "$net_test" --gtest_filter='Win32NetworkLost.*' </dev/null; then
    fail "test_win32_network (ser2net killed mid-stream)"
  fi
  kill "$killer" 2>/dev/null
  wait "$killer" "$doomed_pid" 2>/dev/null
}

# ---- 4. Tests --------------------------------------------------------------------
start=$SECONDS
ran=0
if [[ -f "$tests_dir/library-tests.txt" ]]; then
  while read -r name; do
    [[ -z "$name" ]] && continue
    ran=$((ran + 1))
    log "running $name"
    if ! run_wine "$per_test_timeout" "$tests_dir/$name.exe" --gtest_brief=1 </dev/null; then fail "$name"; fi
  done <"$tests_dir/library-tests.txt"
else
  fail "no list of library tests in $tests_dir"
fi

export ZORVIK_SERIAL_PAIR=1 ZORVIK_TEST_PORT=COM1 ZORVIK_PEER_PORT=COM2
# A broadcast ephemeris file from the project's A-GPS test server, made for now.
agps_server="$root/tools/agps-server/agps_server.py"
if [[ -f "$agps_server" ]]; then
  be_fixture="$build/be-fixture.bin"
  rm -f "$be_fixture"
  if timeout 60 "$python" "$agps_server" --write-be "$be_fixture" >/dev/null 2>&1 && [[ -s "$be_fixture" ]]; then
    export ZORVIK_BE_FIXTURE="Z:$be_fixture"
  else
    fail "the A-GPS test server wrote no broadcast ephemeris file"
  fi
fi
run_network_tests

log "running test_win32_serial"
if ! run_wine "$per_test_timeout" "$tests_dir/test_win32_serial.exe" \
    --gtest_filter='-Win32XmodemIndependentReceiver.*' ${ZORVIK_WINE_SERIAL_ARGS:-} </dev/null; then
  fail "test_win32_serial"
fi

# XMODEM-1K to the independent receiver: it takes the Linux side of COM2, so
# the Windows side opens only COM1.
peer_dir="$build/xmodem-peer"
rm -rf "$peer_dir" && mkdir -p "$peer_dir"
timeout --kill-after=5 240 "$python" "$root/tests/windows/xmodem_peer.py" "$ports/ttyB" "$peer_dir" 3 &
peer_pid=$!
pids+=("$peer_pid")
log "running test_win32_serial against python3-xmodem"
if ! ZORVIK_XMODEM_PEER_DIR="Z:$peer_dir" run_wine "$per_test_timeout" "$tests_dir/test_win32_serial.exe" \
    --gtest_filter='Win32XmodemIndependentReceiver.*' --gtest_also_run_disabled_tests </dev/null; then
  fail "XMODEM to python3-xmodem (Windows side)"
fi
if ! wait "$peer_pid"; then fail "XMODEM to python3-xmodem (receiver)"; fi

# The A-GPS download through the Windows fetch backend, against the project's
# A-GPS test server in four modes on the Linux side (a build with the program).
agps_test="$tests_dir/test_win32_agps.exe"
if [[ -f "$agps_test" ]]; then
  agps_dir="$build/agps-servers"
  rm -rf "$agps_dir" && mkdir -p "$agps_dir"
  : >"$agps_dir/answer.bin"
  agps_env=("ZORVIK_AGPS_ANSWER_FILE=Z:$agps_dir/answer.bin")
  for server in NORMAL:normal ANSWER:normal:--answer:$agps_dir/answer.bin BROKEN:broken HANG:hang; do
    IFS=: read -r name mode extra <<<"$server"
    # shellcheck disable=SC2086 # extra is the option and its file, or nothing
    "$python" "$agps_server" --port 0 --mode "$mode" ${extra//:/ } >"$agps_dir/$name.out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do grep -q '^listening' "$agps_dir/$name.out" && break; sleep 0.1; done
    agps_env+=("ZORVIK_AGPS_$name=http://$(awk '$1 == "listening" {print $2}' "$agps_dir/$name.out")")
  done
  ran=$((ran + 1))
  log "running test_win32_agps"
  if ! (export "${agps_env[@]}"; run_wine "$per_test_timeout" "$agps_test" --gtest_brief=1 </dev/null); then
    fail "test_win32_agps"
  fi
fi

# The program's Qt Tests: offscreen, with the fonts they have on Linux (the
# offscreen platform's font database on Windows reads one folder, by default
# Qt's own, empty one: without it no text is drawn), the Qt and MinGW runtime
# DLLs on the PATH. Their log goes to a file: under Wine a Qt Test's log to
# the console is lost.
# run_qt_test NAME [no-skips]
run_qt_test() {
  local name="$1" result="$build/qt-tests/$1.txt"
  mkdir -p "$build/qt-tests"
  rm -f "$result"
  ran=$((ran + 1))
  log "running $name"
  if WINEPATH="$(cat "$tests_dir/app-tests-path.txt")" WINEQT_QPA_PLATFORM=offscreen \
      WINEQT_QPA_FONTDIR="Z:$qt_font_dir" run_wine "$per_test_timeout" "$tests_dir/$name.exe" \
      -o "Z:$result,txt" </dev/null; then
    grep '^Totals' "$result"
    # A program that must run every case (the flash) may not pass by skipping.
    if [[ -n "${2:-}" ]] && ! grep -q '^Totals: .* 0 skipped' "$result"; then fail "$name skipped its cases"; fi
  else
    [[ -f "$result" ]] && grep -E -A2 '^(FAIL|QFATAL)|^Totals' "$result"
    fail "$name"
  fi
}
qt_font_dir=/usr/share/fonts/truetype/liberation2
if [[ -f "$tests_dir/app-tests.txt" ]]; then
  [[ -d "$qt_font_dir" ]] || fail "no fonts in $qt_font_dir (fonts-liberation2, scripts/packages-windows.txt)"
  while read -r name; do
    [[ -n "$name" ]] && run_qt_test "$name"
  done <"$tests_dir/app-tests.txt"
fi
if [[ -f "$flash_test" ]]; then
  ZORVIK_SIM_PORT=COM3 ZORVIK_SIM_IMAGE="Z:$ports/sim-image.bin" ZORVIK_SIM_REPORT="Z:$ports/sim-report.jsonl" \
    run_qt_test test_win32_flash no-skips
  # The same download through ser2net's RFC 2217 accepter: the program's
  # connect, its reader thread and the dialog's switch to 115200 bps over
  # the network.
  if [[ -x "$ser2net" ]]; then
    program_port="$(free_tcp_port)"
    if start_device_server program "telnet(rfc2217),tcp:$program_port"; then
      ZORVIK_SIM_PORT="rfc2217://127.0.0.1:$program_port" ZORVIK_SIM_IMAGE="Z:$net_dir/program/image.bin" \
        ZORVIK_SIM_REPORT="Z:$net_dir/program/report.jsonl" run_qt_test test_win32_flash no-skips
    else
      fail "test_win32_flash through ser2net: ser2net did not start"
    fi
  fi
fi

log "$((ran + 2)) test runs in $((SECONDS - start)) s"

# The installed program against the simulator, in a build with the installer.
installer="$(ls "$build"/Zorvik-*-win64-setup.exe 2>/dev/null | head -n1)"
if [[ -n "$installer" ]]; then
  if ! "$root/scripts/wine-app-test.sh" "$installer"; then fail "the installed program (wine-app-test.sh)"; fi
fi
if ((${#failures[@]})); then
  log "${#failures[@]} failed: ${failures[*]}"
  exit 1
fi
log "all passed"
exit 0
