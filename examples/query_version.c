/* Asks the receiver for its firmware version and waits for the reply.
 *
 *   query_version PORT [BAUD]    (9600 by default)
 *
 * Exits 0 with the versions printed; 1 when the port cannot be opened, the
 * query cannot be written, or no reply comes within three seconds. */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>

#include <ZorvikDll.h>

#include "receiver_line.h"

#define REPLY_WAIT_SECONDS 3.0

/* Waits for the reply to a query already sent, handing every sound sentence
 * to the library meanwhile. 1 once parse_fw_ver_done is up. */
static int await_version(int handle, ParseNMEAInfo* info) {
    const double deadline = monotonic_seconds() + REPLY_WAIT_SECONDS;
    char line[RECEIVER_LINE_SIZE];
    double left;
    while ((left = deadline - monotonic_seconds()) > 0 && read_sentence(handle, line, left) == 1) {
        if (!Calculate_CheckSum(line)) continue;
        ParseNMEA(line);
        GetParseNMEAInfo(info);
        if (info->parse_fw_ver_done) return 1;
    }
    return 0;
}

int main(int argc, char** argv) {
    ParseNMEAInfo info;
    int handle;
    int answered;
    if (argc < 2) {
        fprintf(stderr, "usage: %s PORT [BAUD]\n", argv[0]);
        return 2;
    }
    handle = COM_Open(argv[1], argc > 2 ? argv[2] : "9600");
    if (handle == 0) {
        fprintf(stderr, "cannot open %s (ZORVIK_OPEN_ code %d)\n", argv[1], COM_LastOpenError());
        return 1;
    }
    /* CMD_FWVersion clears parse_fw_ver_done, so only a fresh reply raises it. */
    if (!CMD_FWVersion()) {
        fprintf(stderr, "%s: the query was not written\n", argv[1]);
        COM_Close();
        return 1;
    }
    answered = await_version(handle, &info);
    COM_Close();
    if (!answered) {
        fprintf(stderr, "%s: no version reply within %.0f s\n", argv[1], REPLY_WAIT_SECONDS);
        return 1;
    }
    /* The texts as received; the last field still carries the reply's
     * '*' and checksum digits, so only the version's four characters. */
    printf("firmware %s.%s\nkernel %s.%s\nFSA %.4s\n", info.fw_ver_major, info.fw_ver_minor,
           info.kernel_ver_major, info.kernel_ver_minor, info.fsa_ver);
    return 0;
}
