#!/usr/bin/env bash
# The performance report: builds the bench preset, runs every benchmark one
# after the other (so that they do not disturb each other) and prints one
# Markdown table with each figure, its unit and the command that produced it,
# followed by the machine it ran on.
#
#   bench/run-all.sh [--seconds N] [--long-minutes M] [--no-build] [--out FILE]
#     --seconds N        each CPU-share window of the program (default 15)
#     --long-minutes M   the streaming run at 115200 that also watches memory
#                        (default 3: the terminal fills to its 500 lines and is
#                        emptied twice in that time)
#     --no-build         use what is in build/bench as it is
#     --out FILE         also write the report as a Markdown page to FILE
#
# Needs no display: the program's windows run on Qt's offscreen platform.
# Takes under five minutes on two cores once the preset is built.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/bench"
seconds=15
long_minutes=3
do_build=1
out=""
invocation="bench/run-all.sh${*:+ $*}"
while (($#)); do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --long-minutes) long_minutes="$2"; shift 2 ;;
    --no-build) do_build=0; shift ;;
    --out) out="$2"; shift 2 ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run-all.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
for n in "$seconds" "$long_minutes"; do
  [[ "$n" =~ ^[1-9][0-9]*$ ]] || { echo "run-all.sh: '$n' is not a positive whole number" >&2; exit 2; }
done
for tool in jq valgrind; do
  command -v "$tool" >/dev/null || { echo "run-all.sh: $tool is needed (apt-get install $tool)" >&2; exit 1; }
done

tmp="$(mktemp -d /tmp/zorvik-run-all.XXXXXX)"
trap 'rm -rf "$tmp"' EXIT
started=$SECONDS

# Runs a step with its output in $tmp/NAME.log; on failure shows the log and
# stops, unless the step left the file given as KEEP (a run that measured but
# found a fault, such as lost sentences, whose figures the table shows).
step() {
  local keep=""
  if [[ "$1" == --keep ]]; then keep="$2"; shift 2; fi
  local name="$1"
  shift
  printf '%-28s' "$name ..." >&2
  local t0=$SECONDS
  if "$@" >"$tmp/$name.log" 2>&1; then
    echo " $((SECONDS - t0)) s" >&2
  elif [[ -n "$keep" && -s "$keep" ]]; then
    echo " $((SECONDS - t0)) s, reported a fault:" >&2
    sed 's/^/    /' "$tmp/$name.log" >&2
  else
    echo " FAILED" >&2
    cat "$tmp/$name.log" >&2
    exit 1
  fi
}

targets=(bench_parse_nmea bench_xmodem bench_live_view program_cpu_harness receiver-sim)
if ((do_build)); then
  step configure bash -c "cd '$root' && cmake --preset bench -B '$build'"
  step build cmake --build "$build" -j2 --target "${targets[@]}"
fi
bin="$build/bench"
for t in bench_parse_nmea bench_xmodem bench_live_view program_cpu_harness; do
  [[ -x "$bin/$t" ]] || { echo "run-all.sh: $bin/$t is missing (build the bench preset)" >&2; exit 1; }
done

# Paths as the table shows them: relative to the checkout when inside it.
rel() { local p="$1"; echo "${p#"$root"/}"; }
rbin="$(rel "$bin")"

# ---- Runs -------------------------------------------------------------------
cmd_cg_epoch="bench/callgrind-parse.sh $rbin/bench_parse_nmea"
cmd_cg_log="bench/callgrind-parse.sh --log $rbin/bench_parse_nmea"
cmd_parse="$rbin/bench_parse_nmea --benchmark_filter=BM_Parse --benchmark_min_time=1"
cmd_xmodem="$rbin/bench_xmodem"
cmd_live="$rbin/bench_live_view"
cmd_h115="$rbin/program_cpu_harness --baud 115200 --phases disconnected,streaming,silent --seconds $seconds --minutes $long_minutes"
cmd_h921="$rbin/program_cpu_harness --baud 921600 --phases streaming --seconds $seconds"
cmd_busy="$rbin/program_cpu_harness --phases busy-directory --seconds $seconds"

step callgrind-epoch "$root/bench/callgrind-parse.sh" "$bin/bench_parse_nmea"
step callgrind-log "$root/bench/callgrind-parse.sh" --log "$bin/bench_parse_nmea"
step parse-ns "$bin/bench_parse_nmea" --benchmark_filter=BM_Parse --benchmark_min_time=1 \
  --benchmark_out="$tmp/parse.json" --benchmark_out_format=json
step xmodem "$bin/bench_xmodem" --benchmark_out="$tmp/xmodem.json" --benchmark_out_format=json
step live-view env QT_QPA_PLATFORM=offscreen "$bin/bench_live_view" \
  --benchmark_out="$tmp/live.json" --benchmark_out_format=json
step --keep "$tmp/h115.json" program-115200 "$bin/program_cpu_harness" --baud 115200 --phases disconnected,streaming,silent \
  --seconds "$seconds" --minutes "$long_minutes" --json "$tmp/h115.json"
step --keep "$tmp/h921.json" program-921600 "$bin/program_cpu_harness" --baud 921600 --phases streaming \
  --seconds "$seconds" --json "$tmp/h921.json"
step --keep "$tmp/busy.json" program-busy-directory "$bin/program_cpu_harness" --phases busy-directory \
  --seconds "$seconds" --json "$tmp/busy.json"

# ---- Figures ----------------------------------------------------------------
per_sentence() { sed -n 's/^per sentence: \([0-9]*\)$/\1/p' "$tmp/$1.log"; }
# jq_num FILE FILTER [DECIMALS]: a number from a JSON file with that many
# decimals (2 unless given), "n/a" when the run did not report it.
jq_num() {
  local v
  v="$(jq -r "($2) // \"n/a\"" "$1")"
  if [[ "$v" == n/a ]]; then echo n/a; else LC_ALL=C printf "%.${3:-2}f\n" "$v"; fi
}
bm() { echo ".benchmarks[] | select(.name | startswith(\"$1\"))"; }

cg_epoch="$(per_sentence callgrind-epoch)"
cg_log="$(per_sentence callgrind-log)"
ns_epoch="$(jq_num "$tmp/parse.json" "$(bm BM_ParseEpoch)[\"ns/sentence\"]" 1)"
ns_log="$(jq_num "$tmp/parse.json" "$(bm BM_ParseLongLog)[\"ns/sentence\"]" 1)"

x="$(bm BM_Xmodem1K_Firmware)"
x_ms="$(jq_num "$tmp/xmodem.json" "$x.engine_ms" 1)"
x_line="$(jq_num "$tmp/xmodem.json" "$x.line_rate_s" 2)"
x_vs_line="$(jq_num "$tmp/xmodem.json" "$x.engine_vs_line_pct" 3)"
x_own_vs_line="$(jq_num "$tmp/xmodem.json" "$x.own_vs_line_pct" 4)"
x_own_share="$(jq_num "$tmp/xmodem.json" "$x.own_share_pct" 1)"
x_bps="$(jq_num "$tmp/xmodem.json" "$x.blocks_per_s" 0)"

# Google Benchmark reports these in microseconds (their Unit).
tick_full_ms="$(jq_num "$tmp/live.json" "$(bm BM_TickFullTable).real_time / 1000" 3)"
tick_idle_us="$(jq_num "$tmp/live.json" "$(bm BM_TickWithoutNewData).real_time" 3)"
chart_ms="$(jq_num "$tmp/live.json" "$(bm BM_RenderChannelChart).real_time / 1000" 3)"
sky_ms="$(jq_num "$tmp/live.json" "$(bm BM_RenderSkyPlot).real_time / 1000" 3)"
tick_label="$(jq -r "$(bm BM_TickFullTable).label // \"\"" "$tmp/live.json")"
lm="$(bm BM_LongRunMemory)"
live_hwm="$(jq_num "$tmp/live.json" "$lm.hwm_after_kb" 0)"
live_before="$(jq_num "$tmp/live.json" "$lm.rss_before_kb" 0)"
live_growth="$(jq_num "$tmp/live.json" "$lm.rss_growth_kb" 0)"
live_ticks="$(jq_num "$tmp/live.json" "$lm.ticks" 0)"

h="$tmp/h115.json"
cpu_disc="$(jq_num "$h" .disconnected.process_pct)"
cpu_115="$(jq_num "$h" .streaming.process_pct)"
rd_115="$(jq_num "$h" .streaming.reader_pct 3)"
cpu_silent="$(jq_num "$h" .silent.process_pct)"
cpu_busy="$(jq_num "$tmp/busy.json" .busy_directory.process_pct)"
rd_silent="$(jq_num "$h" .silent.reader_pct 3)"
loss_115="$(jq -r '.streaming | "\(if .lossless then "yes" else "NO" end): \(.sentences) sentences, \(.bad) bad, \(.rmc) RMC, \(.gsv_broken) broken GSV groups"' "$h")"
h_hwm="$(jq_num "$h" .vmhwm_kb 0)"
# Growth over the last third of the run, past the terminal's first filling.
h_third="$(jq -r '.streaming.rss_kb_per_second // [0] | .[(length * 2 / 3 | floor)]' "$h")"
h_end="$(jq_num "$h" .streaming.rss_end_kb 0)"
h_growth="$(jq -r '.streaming.rss_kb_per_second // [0] | .[-1] - .[(length * 2 / 3 | floor)]' "$h")"
cpu_921="$(jq_num "$tmp/h921.json" .streaming.process_pct)"
rd_921="$(jq_num "$tmp/h921.json" .streaming.reader_pct 3)"
loss_921="$(jq -r '.streaming | "\(if .lossless then "yes" else "NO" end): \(.sentences) sentences, \(.bad) bad, \(.rmc) RMC, \(.gsv_broken) broken GSV groups"' "$tmp/h921.json")"
long_s=$((long_minutes * 60))

# Growth beyond allocator and glyph-cache noise: more than 256 kB.
grew() { if (($1 > 256)); then echo "grew by $1 kB"; else echo "did not grow ($1 kB)"; fi; }
per_tick_bytes="$(awk -v g="$live_growth" -v t="$live_ticks" 'BEGIN { printf "%.1f", g * 1024 / t }')"

# ---- Report -----------------------------------------------------------------
table() {
  echo "| Figure | Value | Unit | Command |"
  echo "|---|---:|---|---|"
  row() { printf '| %s | %s | %s | `%s` |\n' "$1" "$2" "$3" "$4"; }
  row "Parser, fixed epoch (RMC, GGA, GSA, 3 GSV): instructions" "$cg_epoch" "instructions per sentence" "$cmd_cg_epoch"
  row "Parser, long real log: instructions" "$cg_log" "instructions per sentence" "$cmd_cg_log"
  row "Parser, fixed epoch: time" "$ns_epoch" "ns per sentence" "$cmd_parse"
  row "Parser, long real log: time" "$ns_log" "ns per sentence" "$cmd_parse"
  row "Reader thread, streaming at 115,200 baud" "$rd_115" "% of one core" "$cmd_h115"
  row "Whole program, streaming at 115,200 baud" "$cpu_115" "% of one core" "$cmd_h115"
  row "Reader thread, streaming at 921,600 baud" "$rd_921" "% of one core" "$cmd_h921"
  row "Whole program, streaming at 921,600 baud" "$cpu_921" "% of one core" "$cmd_h921"
  row "No loss at 115,200 over $long_s s" "$loss_115" "" "$cmd_h115"
  row "No loss at 921,600 over $seconds s" "$loss_921" "" "$cmd_h921"
  row "Reader thread, connected, receiver silent" "$rd_silent" "% of one core" "$cmd_h115"
  row "Whole program, connected, receiver silent" "$cpu_silent" "% of one core" "$cmd_h115"
  row "Whole program, disconnected" "$cpu_disc" "% of one core" "$cmd_h115"
  row "Whole program, disconnected, in a busy directory (3,000 files, 100 created and deleted a second)" "$cpu_busy" "% of one core" "$cmd_busy"
  row "XMODEM-1K, 491,520 bytes (480 blocks) over a pty: transfer" "$x_ms" "ms" "$cmd_xmodem"
  row "XMODEM-1K: transfer against the line-rate minimum ($x_line s at 115,200)" "$x_vs_line" "% of the line-rate minimum" "$cmd_xmodem"
  row "XMODEM-1K: engine's own work (transfer less port I/O) against the line-rate minimum" "$x_own_vs_line" "% of the line-rate minimum" "$cmd_xmodem"
  row "XMODEM-1K: engine's own work within the transfer" "$x_own_share" "% of the transfer" "$cmd_xmodem"
  row "XMODEM-1K: blocks" "$x_bps" "blocks per second" "$cmd_xmodem"
  row "GUI tick, full channel table, both drawings ($tick_label)" "$tick_full_ms" "ms per tick" "$cmd_live"
  row "GUI tick, no new data" "$tick_idle_us" "µs per tick" "$cmd_live"
  row "Channel chart drawing alone" "$chart_ms" "ms" "$cmd_live"
  row "Sky plot drawing alone" "$sky_ms" "ms" "$cmd_live"
  row "Live view, $live_ticks ticks from real logs: peak memory (VmHWM)" "$live_hwm" "kB" "$cmd_live"
  row "Live view, $live_ticks ticks: resident size after warm-up $live_before kB, $(grew "$live_growth")" "$per_tick_bytes" "bytes per tick" "$cmd_live"
  row "Program streaming at 115,200 for $long_s s: peak memory (VmHWM)" "$h_hwm" "kB" "$cmd_h115"
  row "Program streaming: resident size $h_third kB at two thirds, $h_end kB at the end, $(grew "$h_growth")" "$h_growth" "kB over the last third" "$cmd_h115"
}

machine() {
  local cpu mem kernel cxx qt
  cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
  mem="$(awk '/^MemTotal:/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)"
  kernel="$(uname -sr)"
  cxx="$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null | head -1)"
  cxx="$("${cxx:-c++}" --version | head -1)"
  qt="$(pkg-config --modversion Qt6Core 2>/dev/null || echo unknown)"
  echo "- Cores: $(nproc) ($cpu)"
  echo "- Memory: $mem"
  echo "- Kernel: $kernel"
  echo "- Compiler: $cxx, build type $(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt" 2>/dev/null)"
  echo "- Qt: $qt (offscreen platform); valgrind $(valgrind --version | sed 's/^valgrind-//')"
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC'); whole run $((SECONDS - started)) s"
}

report="$tmp/report.md"
{
  table
  echo
  echo "Machine:"
  echo
  machine
  echo
  echo "Command: \`$invocation\`"
} >"$report"
cat "$report"

if [[ -n "$out" ]]; then
  {
    cat <<'EOF'
# Performance

Measured by one command, which builds the `bench` preset (Release), runs each
benchmark in turn and prints the table below. It needs no display (the
program's windows run on Qt's offscreen platform) and takes under five
minutes on two cores.

EOF
    cat "$report"
    cat <<EOF

How the figures are made:

- Parser: \`ParseNMEA\` on each line in the reader's 500-byte buffer. The
  instruction counts are callgrind's, from two runs that differ only in their
  loop count, so start-up and reading the log cancel out. The fixed epoch is
  one second of a receiver tracking ten satellites; the long log is
  \`long-run-empty-fields.nmea\` from the real receiver logs (long stretches
  without a fix, many empty fields).
- CPU shares: the real windows, timers, reader thread and parser in one
  process (\`program_cpu_harness\`), connected through the program's own
  Connect to the receiver simulator, which sends one epoch (RMC, GGA, GSA and
  a GSV group) a second at the line rate. "Whole program" is the process's
  CPU time over the window's wall time; "reader thread" is the CPU time of
  the \`UartThread\` alone. The silent case uses the simulator's
  \`--fault silent\`: the port is open and no byte arrives. The no-loss check
  counts what reached the terminal: every sentence's checksum, one RMC a
  second, every GSV group complete.
  The busy-directory case starts the program, disconnected, in a directory
  of 3,000 files in which another process (\`bench/busy_directory.py\`)
  creates and deletes 100 files a second, as in a download folder or /tmp.
- XMODEM-1K: \`Xmodem_1K\` sends a 491,520-byte file over a pseudo-terminal
  to a peer that acknowledges each block at once. XMODEM waits for each ACK,
  so the line-rate minimum at 115,200 baud and 10 bits a byte is the 480
  blocks of 1,028 bytes and the EOT one way plus 481 ACKs the other:
  493,922 byte times. A pty has no line rate, so the transfer's time is the
  engine's and the port's own cost; "own work" subtracts the time of the
  same writes and ACK reads done directly through the port functions (it is
  noise-level, and may read slightly negative on a busy machine).
- GUI tick: \`TMainForm::Timer1Timer\` with a full twelve-channel table (and
  the six sentences of one epoch parsed before it), which redraws the channel
  chart and the sky plot; and the same tick when nothing new has arrived.
- Memory: the live-view run feeds the real logs for 2,000 warm-up ticks and
  then 20,000 ticks (the program's events processed as it does), and
  compares the resident size before and after. The program run samples its
  resident size once a second while streaming; the terminal holds at most
  500 lines and is emptied when full (about 83 s at six sentences a second),
  and most of the growth comes while it first fills; growth is judged over
  the last third of the run. Growth of 256 kB or less counts as none.
EOF
  } >"$out"
  echo >&2
  echo "written to $out" >&2
fi
