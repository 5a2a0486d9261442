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

benchmarks=(bench_parse_nmea bench_xmodem bench_live_view program_cpu_harness)
if ((do_build)); then
  step configure bash -c "cd '$root' && cmake --preset bench -B '$build'"
  step build cmake --build "$build" -j2 --target "${benchmarks[@]}" receiver-sim
fi
bin="$build/bench"
for t in "${benchmarks[@]}"; do
  [[ -x "$bin/$t" ]] || { echo "run-all.sh: $bin/$t is missing (build the bench preset)" >&2; exit 1; }
done

# ---- Runs -------------------------------------------------------------------
# Each run keeps the command it ran, as the table shows it (paths relative to
# the checkout), under its name in `shown`: the table prints what ran. Only
# the output options that leave the figures in $tmp for this script are not
# shown; without them the same figures go to the terminal.
declare -A shown
record() {
  local name="$1" word line=""
  shift
  for word in "$@"; do
    word="${word#"$root"/}"
    [[ "$word" =~ ^[[:alnum:]_./=,:+-]+$ ]] || word="'${word//\'/\'\\\'\'}'"
    line+="${line:+ }$word"
  done
  shown[$name]="$line"
}
# run NAME COMMAND...: a run whose figures are read from its log.
run() { record "$@"; step "$@"; }
# run_benchmark NAME COMMAND...: a Google Benchmark run; figures in $tmp/NAME.json.
run_benchmark() {
  record "$@"
  step "$@" --benchmark_out="$tmp/$1.json" --benchmark_out_format=json
}
# run_program NAME OPTION...: the program harness; figures in $tmp/NAME.json,
# shown even when the run found a fault such as lost sentences.
run_program() {
  local name="$1"
  shift
  record "$name" "$bin/program_cpu_harness" "$@"
  step --keep "$tmp/$name.json" "$name" "$bin/program_cpu_harness" "$@" --json "$tmp/$name.json"
}

run callgrind-epoch "$root/bench/callgrind-parse.sh" "$bin/bench_parse_nmea"
run callgrind-log "$root/bench/callgrind-parse.sh" --log "$bin/bench_parse_nmea"
run_benchmark parse "$bin/bench_parse_nmea" --benchmark_filter=BM_Parse --benchmark_min_time=1
run_benchmark xmodem "$bin/bench_xmodem"
run_benchmark live env QT_QPA_PLATFORM=offscreen "$bin/bench_live_view"
run_program h115 --baud 115200 --phases disconnected,streaming,silent \
  --seconds "$seconds" --minutes "$long_minutes"
run_program h921 --baud 921600 --phases streaming --seconds "$seconds"
run_program busy --phases busy-directory --seconds "$seconds"

# ---- Figures ----------------------------------------------------------------
# A figure that cannot be read stops the report at once, with the run's output.
unreadable() {
  echo "run-all.sh: no $1 in the output of run '$2':" >&2
  sed 's/^/    /' "$tmp/$2.log" >&2
  exit 1
}
per_sentence() {
  local v
  v="$(sed -n 's/^per sentence: \([0-9]*\)$/\1/p' "$tmp/$1.log")"
  [[ "$v" =~ ^[0-9]+$ ]] || unreadable "instructions per sentence" "$1"
  echo "$v"
}
# figure RUN FILTER [DECIMALS]: a number from the run's JSON with that many
# decimals (2 unless given).
figure() {
  local v
  v="$(jq -r "($2) // empty" "$tmp/$1.json" 2>/dev/null)" || v=""
  [[ "$v" =~ ^-?[0-9]+(\.[0-9]+)?([eE][-+]?[0-9]+)?$ ]] || unreadable "'$2'" "$1"
  LC_ALL=C printf "%.${3:-2}f\n" "$v"
}
# lossless RUN: the streaming phase's no-loss verdict with its counts.
lossless() {
  local v
  v="$(jq -r '.streaming | select(.sentences != null) | "\(if .lossless then "yes" else "NO" end): \(.sentences) sentences, \(.bad) bad, \(.rmc) RMC, \(.gsv_broken) broken GSV groups"' "$tmp/$1.json" 2>/dev/null)" || v=""
  [[ -n "$v" ]] || unreadable "no-loss verdict" "$1"
  echo "$v"
}
bm() { echo ".benchmarks[] | select(.name | startswith(\"$1\"))"; }

cg_epoch="$(per_sentence callgrind-epoch)"
cg_log="$(per_sentence callgrind-log)"
ns_epoch="$(figure parse "$(bm BM_ParseEpoch)[\"ns/sentence\"]" 1)"
ns_log="$(figure parse "$(bm BM_ParseLongLog)[\"ns/sentence\"]" 1)"

x="$(bm BM_Xmodem1K_Firmware)"
x_ms="$(figure xmodem "$x.engine_ms" 1)"
x_line="$(figure xmodem "$x.line_rate_s" 2)"
x_vs_line="$(figure xmodem "$x.engine_vs_line_pct" 3)"
x_own_vs_line="$(figure xmodem "$x.own_vs_line_pct" 4)"
x_own_share="$(figure xmodem "$x.own_share_pct" 1)"
x_bps="$(figure xmodem "$x.blocks_per_s" 0)"

# Google Benchmark reports these in microseconds (their Unit).
tick_full_ms="$(figure live "$(bm BM_TickFullTable).real_time / 1000" 3)"
tick_idle_us="$(figure live "$(bm BM_TickWithoutNewData).real_time" 3)"
chart_ms="$(figure live "$(bm BM_RenderChannelChart).real_time / 1000" 3)"
sky_ms="$(figure live "$(bm BM_RenderSkyPlot).real_time / 1000" 3)"
tick_label="$(jq -r "$(bm BM_TickFullTable).label // \"\"" "$tmp/live.json")"
lm="$(bm BM_LongRunMemory)"
live_hwm="$(figure live "$lm.hwm_after_kb" 0)"
live_before="$(figure live "$lm.rss_before_kb" 0)"
live_growth="$(figure live "$lm.rss_growth_kb" 0)"
live_ticks="$(figure live "$lm.ticks" 0)"

cpu_disc="$(figure h115 .disconnected.process_pct)"
cpu_115="$(figure h115 .streaming.process_pct)"
rd_115="$(figure h115 .streaming.reader_pct 3)"
cpu_silent="$(figure h115 .silent.process_pct)"
cpu_busy="$(figure busy .busy_directory.process_pct)"
rd_silent="$(figure h115 .silent.reader_pct 3)"
loss_115="$(lossless h115)"
h_hwm="$(figure h115 .vmhwm_kb 0)"
# Growth over the last third of the run, past the terminal's first filling.
h_third="$(figure h115 '.streaming.rss_kb_per_second | .[(length * 2 / 3 | floor)]' 0)"
h_end="$(figure h115 .streaming.rss_end_kb 0)"
h_growth="$(figure h115 '.streaming.rss_kb_per_second | .[-1] - .[(length * 2 / 3 | floor)]' 0)"
cpu_921="$(figure h921 .streaming.process_pct)"
rd_921="$(figure h921 .streaming.reader_pct 3)"
loss_921="$(lossless h921)"
long_s=$((long_minutes * 60))

# Growth beyond allocator and glyph-cache noise: more than 256 kB.
grew() { if (($1 > 256)); then echo "grew by $1 kB"; else echo "did not grow ($1 kB)"; fi; }
per_tick_bytes="$(awk -v g="$live_growth" -v t="$live_ticks" 'BEGIN { printf "%.1f", g * 1024 / t }')"

# ---- Report -----------------------------------------------------------------
table() {
  echo "| Figure | Value | Unit | Command |"
  echo "|---|---:|---|---|"
  row() { printf '| %s | %s | %s | `%s` |\n' "$1" "$2" "$3" "$4"; }
  row "Parser, fixed epoch (RMC, GGA, GSA, 3 GSV): instructions" "$cg_epoch" "instructions per sentence" "${shown[callgrind-epoch]}"
  row "Parser, long real log: instructions" "$cg_log" "instructions per sentence" "${shown[callgrind-log]}"
  row "Parser, fixed epoch: time" "$ns_epoch" "ns per sentence" "${shown[parse]}"
  row "Parser, long real log: time" "$ns_log" "ns per sentence" "${shown[parse]}"
  row "Reader thread, streaming at 115,200 baud" "$rd_115" "% of one core" "${shown[h115]}"
  row "Whole program, streaming at 115,200 baud" "$cpu_115" "% of one core" "${shown[h115]}"
  row "Reader thread, streaming at 921,600 baud" "$rd_921" "% of one core" "${shown[h921]}"
  row "Whole program, streaming at 921,600 baud" "$cpu_921" "% of one core" "${shown[h921]}"
  row "No loss at 115,200 over $long_s s" "$loss_115" "" "${shown[h115]}"
  row "No loss at 921,600 over $seconds s" "$loss_921" "" "${shown[h921]}"
  row "Reader thread, connected, receiver silent" "$rd_silent" "% of one core" "${shown[h115]}"
  row "Whole program, connected, receiver silent" "$cpu_silent" "% of one core" "${shown[h115]}"
  row "Whole program, disconnected" "$cpu_disc" "% of one core" "${shown[h115]}"
  row "Whole program, disconnected, in a busy directory (3,000 files, 100 created and deleted a second)" "$cpu_busy" "% of one core" "${shown[busy]}"
  row "XMODEM-1K, 491,520 bytes (480 blocks) over a pty: transfer" "$x_ms" "ms" "${shown[xmodem]}"
  row "XMODEM-1K: transfer against the line-rate minimum ($x_line s at 115,200)" "$x_vs_line" "% of the line-rate minimum" "${shown[xmodem]}"
  row "XMODEM-1K: engine's own work (transfer less port I/O) against the line-rate minimum" "$x_own_vs_line" "% of the line-rate minimum" "${shown[xmodem]}"
  row "XMODEM-1K: engine's own work within the transfer" "$x_own_share" "% of the transfer" "${shown[xmodem]}"
  row "XMODEM-1K: blocks" "$x_bps" "blocks per second" "${shown[xmodem]}"
  row "GUI tick, full channel table, both drawings ($tick_label)" "$tick_full_ms" "ms per tick" "${shown[live]}"
  row "GUI tick, no new data" "$tick_idle_us" "µs per tick" "${shown[live]}"
  row "Channel chart drawing alone" "$chart_ms" "ms" "${shown[live]}"
  row "Sky plot drawing alone" "$sky_ms" "ms" "${shown[live]}"
  row "Live view, $live_ticks ticks from real logs: peak memory (VmHWM)" "$live_hwm" "kB" "${shown[live]}"
  row "Live view, $live_ticks ticks: resident size after warm-up $live_before kB, $(grew "$live_growth")" "$per_tick_bytes" "bytes per tick" "${shown[live]}"
  row "Program streaming at 115,200 for $long_s s: peak memory (VmHWM)" "$h_hwm" "kB" "${shown[h115]}"
  row "Program streaming: resident size $h_third kB at two thirds, $h_end kB at the end, $(grew "$h_growth")" "$h_growth" "kB over the last third" "${shown[h115]}"
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
