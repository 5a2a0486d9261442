/* Opens a port and prints each fix the receiver reports, one line per RMC
 * sentence, with the receiver's texts as received.
 *
 *   print_fixes PORT [BAUD [COUNT]]    (9600 and 10 by default)
 *
 * Exits 0 after COUNT fixes; 1 when the port cannot be opened, goes away, or
 * stays five seconds without a sound RMC sentence. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>

#include <ZorvikDll.h>

#include "receiver_line.h"

/* A one-character field the receiver left empty holds NUL. */
static char shown(char field) {
    return field ? field : '-';
}

static void print_fix(const ParseNMEAInfo* info) {
    printf("time %s date %s status %c lat %s %c lon %s %c speed %s kn course %s\n", info->utc_time,
           info->utc_date, shown(info->rmc_status), info->latitude, shown(info->lat_hemisphere),
           info->longitude, shown(info->lon_hemisphere), info->speed, info->course);
    fflush(stdout);
}

int main(int argc, char** argv) {
    const char* baud = argc > 2 ? argv[2] : "9600";
    const int wanted = argc > 3 ? atoi(argv[3]) : 10;
    char line[RECEIVER_LINE_SIZE];
    ParseNMEAInfo info;
    int printed = 0;
    int handle;
    if (argc < 2) {
        fprintf(stderr, "usage: %s PORT [BAUD [COUNT]]\n", argv[0]);
        return 2;
    }
    handle = COM_Open(argv[1], baud);
    if (handle == 0) {
        fprintf(stderr, "cannot open %s (ZORVIK_OPEN_ code %d)\n", argv[1], COM_LastOpenError());
        return 1;
    }
    while (printed < wanted && read_sentence(handle, line, 5.0) == 1) {
        /* The library's own checksum gate is off: a damaged sentence would be
         * parsed. Only sentences whose checksum holds go in. */
        if (!Calculate_CheckSum(line)) continue;
        ParseNMEA(line);
        GetParseNMEAInfo(&info);
        if (!info.parse_rmc_done) continue;
        CMD_Clear_parse_rmc_done();
        print_fix(&info);
        ++printed;
    }
    COM_Close();
    if (printed < wanted) {
        fprintf(stderr, "%s: %d of %d fixes\n", argv[1], printed, wanted);
        return 1;
    }
    return 0;
}
