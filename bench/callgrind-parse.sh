#!/bin/sh
# Instructions per sentence of ParseNMEA on the fixed epoch (6 sentences),
# counted by callgrind: two runs of the loop that differ only in their count,
# so start-up and the one-time work cancel out.
#   bench/callgrind-parse.sh [path/to/bench_parse_nmea]
set -eu
bin=${1:-$(dirname "$0")/../build/nmea-bench/bench/bench_parse_nmea}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
count() {
    valgrind --tool=callgrind --callgrind-out-file="$tmp/out.$1" "$bin" --loop "$1" \
        > /dev/null 2> "$tmp/log.$1"
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$tmp/log.$1"
}
small=1000
large=11000
a=$(count $small)
b=$(count $large)
sentences=$(( (large - small) * 6 ))
echo "instructions: $a ($small epochs), $b ($large epochs)"
echo "per sentence: $(( (b - a) / sentences ))"
