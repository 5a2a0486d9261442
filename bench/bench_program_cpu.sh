#!/usr/bin/env bash
# CPU share of the built program DLL_Zorvik_V103 itself, read from
# /proc/<pid>/stat: disconnected, then connected to the simulator streaming at
# 115200 (through scripts/demo.sh, under a virtual display when there is none).
#   bench/bench_program_cpu.sh [--seconds N] [--build-dir DIR]   (default build/bench)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds=20
build_dir="$root/build/bench"
while (($#)); do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --build-dir) build_dir="$2"; shift 2 ;;
    *) echo "bench_program_cpu.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

# Prints the CPU share of process $1 over $2 seconds, in per cent of one core.
measure() {
  local pid="$1" secs="$2" hz t0 t1
  hz="$(getconf CLK_TCK)"
  t0="$(awk '{print $14 + $15}' "/proc/$pid/stat")"
  sleep "$secs"
  t1="$(awk '{print $14 + $15}' "/proc/$pid/stat")"
  awk -v a="$t0" -v b="$t1" -v hz="$hz" -v s="$secs" 'BEGIN { printf "%.2f", 100 * (b - a) / hz / s }'
}
export -f measure

out="$(mktemp -d /tmp/zorvik-bench.XXXXXX)"
trap 'rm -rf "$out"' EXIT
# Connected: the demo drives the program to connect, then the measurement runs.
"$root/scripts/demo.sh" --build-dir "$build_dir" --baud 115200 --seconds 0 \
  --screenshot "$out/shot.png" \
  --exec "sleep 2; echo connected \$(measure \$PROGRAM_PID $seconds) > $out/connected" >/dev/null
echo "connected at 115200: $(cut -d' ' -f2 "$out/connected") % of one core over $seconds s"

# Disconnected: the program alone under a virtual display.
program="$build_dir/app/DLL_Zorvik_V103"
if [[ -z "${DISPLAY:-}" ]]; then
  declare -f measure > "$out/measure.sh"
  xvfb-run -a -s "-screen 0 1280x800x24" bash -c ". $out/measure.sh; \"$program\" >/dev/null 2>&1 & p=\$!; sleep 2; measure \$p $seconds > $out/idle; kill \$p"
else
  "$program" >/dev/null 2>&1 & p=$!; sleep 2; measure "$p" "$seconds" > "$out/idle"; kill "$p"
fi
echo "disconnected: $(cat "$out/idle") % of one core over $seconds s"
