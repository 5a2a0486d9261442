#!/usr/bin/env bash
# Starts the receiver simulator as virtual port COM1 and the program against it.
#
# Without --interactive the program is driven the way a user starts a session:
# Mode -> Setup COM Port, OK (COM1 at the chosen rate), Connect; after a few
# seconds a screenshot is saved and its path printed. Without a display all of
# it runs under a virtual X display.
#
#   scripts/demo.sh [--screenshot FILE] [--seconds N] [--baud RATE]
#                   [--sim-arg ARG]... [--build-dir DIR] [--exec COMMAND]
#                   [--replay FILE [--loop]] [--interactive]
#
#   --screenshot FILE  where to save the picture (default screenshots/demo.png)
#   --seconds N        how long the program runs connected before the picture (default 5)
#   --baud RATE        the simulator's rate and the rate set in the COM setup dialog (default 9600)
#   --sim-arg ARG      one more argument for the simulator (repeatable), e.g. --sim-arg --time-scale --sim-arg 0.05
#   --build-dir DIR    where the programs were built (default build/default)
#   --exec COMMAND     run COMMAND (through bash) once connected, with PROGRAM_PID, SIM_PID
#                      and SIM_REPORT in its environment, before the picture is taken
#   --replay FILE      the simulator plays this recording (a capture or an NMEA log) instead
#                      of its own sky; --loop starts it again at its end
#   --interactive      do not drive the program: wait until the user closes it
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

screenshot="$root/screenshots/demo.png"
seconds=5
baud=9600
build_dir="$root/build/default"
exec_cmd=""
interactive=0
sim_args=()
while (($#)); do
  case "$1" in
    --screenshot) screenshot="$2"; shift 2 ;;
    --seconds) seconds="$2"; shift 2 ;;
    --baud) baud="$2"; shift 2 ;;
    --sim-arg) sim_args+=("$2"); shift 2 ;;
    --replay) sim_args+=(--replay "$(realpath -- "$2")"); shift 2 ;;
    --loop) sim_args+=(--loop); shift ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    --exec) exec_cmd="$2"; shift 2 ;;
    --interactive) interactive=1; shift ;;
    -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

program="$build_dir/app/DLL_Zorvik_V103"
sim="$build_dir/tools/receiver-sim/receiver-sim"
for f in "$program" "$sim"; do
  [[ -x "$f" ]] || { echo "demo.sh: $f is missing; build first (cmake --build --preset default)" >&2; exit 1; }
done

work="$(mktemp -d /tmp/zorvik-demo.XXXXXX)"
xvfb_pid="" sim_pid="" program_pid=""
cleanup() {
  for pid in "$program_pid" "$sim_pid" "$xvfb_pid"; do
    [[ -n "$pid" ]] && kill "$pid" 2>/dev/null || true
  done
  for pid in "$program_pid" "$sim_pid" "$xvfb_pid"; do
    [[ -n "$pid" ]] && wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

# A virtual display when there is none.
if [[ -z "${DISPLAY:-}" ]]; then
  command -v Xvfb >/dev/null || { echo "demo.sh: no display and no Xvfb" >&2; exit 1; }
  exec 3>"$work/displayfd"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [[ -s "$work/displayfd" ]] && break; sleep 0.1; done
  exec 3>&-
  [[ -s "$work/displayfd" ]] || { echo "demo.sh: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$work/displayfd")"
fi

# The receiver simulator, registered as COM1.
"$sim" --port-name COM1 --baud "$baud" --report "$work/sim-report.jsonl" "${sim_args[@]}" \
  >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 100); do grep -q '^ready' "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
grep -q '^ready' "$work/sim.out" || { echo "demo.sh: the simulator did not start:" >&2; cat "$work/sim.err" >&2; exit 1; }
echo "Receiver simulator: $(grep '^device' "$work/sim.out" | cut -d' ' -f2) as COM1 at $baud bps"

"$program" >"$work/program.log" 2>&1 &
program_pid=$!

if ((interactive)); then
  echo "Program running; in it: Mode -> Setup COM Port -> OK, then Connect. Close it to end."
  wait "$program_pid" || true
  program_pid=""
  exit 0
fi

command -v xdotool >/dev/null || { echo "demo.sh: xdotool is needed to drive the program" >&2; exit 1; }

# Waits for a top-level window by exact title and prints its id.
window_of() {
  local id=""
  for _ in $(seq 100); do
    id="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1 || true)"
    [[ -n "$id" ]] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "demo.sh: window \"$1\" did not appear" >&2
  return 1
}
# Clicks at a point given relative to a window's top left corner.
click_in() {
  local id="$1" x="$2" y="$3" X Y
  eval "$(xdotool getwindowgeometry --shell "$id")"
  xdotool mousemove $((X + x)) $((Y + y)) click 1
  sleep 0.3
}

main="$(window_of 'DLL Zorvik V[0-9.]*')"
sleep 1
# Mode -> Setup COM Port (menu bar at the window's top, the item under it).
click_in "$main" 60 8
click_in "$main" 115 29
dialog="$(window_of 'Com-Port Setup')"
if [[ "$baud" != 9600 ]]; then
  click_in "$dialog" 160 66            # the baud-rate field
  xdotool key --clearmodifiers ctrl+a
  xdotool type --delay 20 "$baud"
  sleep 0.2
fi
click_in "$dialog" 125 109             # OK
# Connect (the first tool button).
click_in "$main" 20 35

if [[ -n "$exec_cmd" ]]; then
  PROGRAM_PID="$program_pid" SIM_PID="$sim_pid" SIM_REPORT="$work/sim-report.jsonl" bash -c "$exec_cmd"
fi
sleep "$seconds"

mkdir -p "$(dirname "$screenshot")"
import -window root "$screenshot"
echo "$screenshot"
