#!/bin/sh
# Seed corpora for the NMEA fuzz targets, made from the real receiver logs:
# one file per distinct sentence, a few hundred at most, plus the
# proprietary replies the logs do not carry.
#   fuzz/make-corpus.sh [log-dir]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
logs=${1:-$here/../../shared/nmea-logs}
max=250

for target in fuzz_parse_nmea fuzz_checksum; do
    out=$here/corpus/$target
    rm -rf "$out"
    mkdir -p "$out"
    # Every kind of line, in an order that mixes the logs, without line ends.
    cat "$logs"/*.nmea | tr -d '\r' | grep '^\$' | sort -u |
        awk -v max=$max 'BEGIN { srand(7) } { print rand() "\t" $0 }' |
        sort -n | cut -f2- | head -n $max |
        awk -v dir="$out" '{ f = sprintf("%s/log-%04d", dir, NR); printf "%s", $0 > f; close(f) }'
    i=0
    for line in \
        '$PKVX100,INFO1,INFO2,01,05,xx,yy,02,10,A3B7X*3C' \
        '$PKVX28,01,CUSTOMER-FW-1.2,*00' \
        '$PKVX119,35.2*00' \
        '$PKVX200,9,1*00' \
        '$PKVX200,7,0*00' \
        '$GPGSV,1,1,00*79' \
        '$GPRMC,235947.000,V,,,,,,,041209,,*1D' \
        '$*'; do
        i=$((i + 1))
        printf '%s' "$line" > "$out/reply-$i"
    done
done
echo "corpus: $(ls "$here/corpus/fuzz_parse_nmea" | wc -l) files per target"
