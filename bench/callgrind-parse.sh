#!/bin/sh
# Instructions per sentence of ParseNMEA, counted by callgrind: two runs of the
# loop that differ only in their count, so start-up, reading the log and the
# one-time work cancel out.
#   bench/callgrind-parse.sh [--log] [path/to/bench_parse_nmea]
#     default  the fixed epoch (RMC, GGA, GSA, three GSV: 6 sentences)
#     --log    the long real log (long-run-empty-fields.nmea)
# The last line is "per sentence: N".
set -eu
mode=epoch
if [ "${1:-}" = "--log" ]; then
    mode=log
    shift
fi
bin=${1:-$(dirname "$0")/../build/bench/bench/bench_parse_nmea}
if [ ! -x "$bin" ]; then
    echo "callgrind-parse.sh: no benchmark at $bin (build the bench preset first)" >&2
    exit 1
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ "$mode" = epoch ]; then
    flag=--loop
    per_loop=6
    small=1000
    large=11000
else
    flag=--loop-log
    per_loop=$("$bin" --count-log)
    small=2
    large=22
fi
count() {
    valgrind --tool=callgrind --callgrind-out-file="$tmp/out.$1" "$bin" "$flag" "$1" \
        > /dev/null 2> "$tmp/log.$1"
    n=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$tmp/log.$1")
    if [ -z "$n" ]; then
        echo "callgrind-parse.sh: callgrind reported no count" >&2
        cat "$tmp/log.$1" >&2
        exit 1
    fi
    echo "$n"
}
a=$(count $small)
b=$(count $large)
sentences=$(( (large - small) * per_loop ))
echo "workload: $mode, $per_loop sentences per loop"
echo "instructions: $a ($small loops), $b ($large loops)"
echo "per sentence: $(( (b - a) / sentences ))"
