/* Reading the receiver's sentences through the handle that COM_Open returned,
 * with the platform's own read(), one byte at a time as the library's header
 * describes (each read waits at most 100 ms). POSIX; shared by the examples. */
#ifndef RECEIVER_LINE_H
#define RECEIVER_LINE_H

#include <errno.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <ZorvikDll.h>

/* ParseNMEA takes lines of at most 499 characters. */
#define RECEIVER_LINE_SIZE 500

static double monotonic_seconds(void) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

/* Waits at most `seconds` for one whole sentence: '$' starts it (dropping a
 * sentence in progress), the line feed ends it, the line end is cut off and
 * the rest of `line` is zero. A sentence too long for `line` is dropped.
 * Returns 1 for a sentence, 0 when the time ran out, -1 when the port is
 * gone. */
static int read_sentence(int handle, char line[RECEIVER_LINE_SIZE], double seconds) {
    const double deadline = monotonic_seconds() + seconds;
    size_t length = 0;
    int started = 0;
    while (monotonic_seconds() < deadline) {
        unsigned char byte;
        ssize_t got;
        if (!GetComPort_connected_Status()) return -1;
        got = read(handle, &byte, 1);
        if (got < 0 && errno != EINTR) return -1;
        if (got <= 0) continue;
        if (byte == '$') {
            started = 1;
            length = 0;
        }
        if (!started) continue;
        if (byte == '\n') {
            if (length > 0 && line[length - 1] == '\r') --length;
            memset(line + length, 0, RECEIVER_LINE_SIZE - length);
            return 1;
        }
        if (length == RECEIVER_LINE_SIZE - 1) {
            started = 0;
            continue;
        }
        line[length++] = (char)byte;
    }
    return 0;
}

#endif /* RECEIVER_LINE_H */
