/*
 * ZorvikDll: the receiver interface library.
 *
 * Everything that speaks the receiver's protocols: the serial port, the NMEA
 * intake and the receiver state record it fills, the command sentences, the
 * XMODEM engine with the loader images, and the ephemeris upload.
 *
 * Plain C ABI. Records cross by copy into storage that the caller provides;
 * texts passed in stay the caller's. Flags are 32-bit integers holding 0 or 1.
 *
 * Threads: any function may be called from any thread; the port, the state
 * record, the command buffer, the port scan and the progress record each have
 * a lock or are atomic. Rules the locks cannot give are stated below.
 *
 * Writes: a function that writes to the port first waits for a command, write,
 * open or close under way on another thread, then blocks until its bytes are
 * handed to the port: at most the time they need at the line rate plus one
 * second. Each write goes out whole. It fails (0) when no port is open: never
 * opened, after COM_Close, or once the device has gone.
 */
#ifndef ZORVIK_DLL_H
#define ZORVIK_DLL_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#if defined(ZORVIK_BUILDING_DLL)
#define ZORVIK_API __declspec(dllexport)
#elif defined(ZORVIK_STATIC)
#define ZORVIK_API
#else
#define ZORVIK_API __declspec(dllimport)
#endif
#else
#define ZORVIK_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Records ----------------------------------------------------------- */

/* The receiver state record: what the library has learned from the receiver.
 * The library keeps one; GetParseNMEAInfo copies the whole of it into the
 * caller's, which nothing shares with the library afterwards (a write into a
 * copy never reaches the library).
 *
 * Layout: field order and widths are fixed for this soname (natural
 * alignment, no packing; the asserts at the end of this header pin them).
 * GetParseNMEAInfo writes sizeof(ParseNMEAInfo) bytes into the caller's
 * storage, so a program built against an older header must never meet a
 * larger record: new data goes out through a new export, and a change of the
 * record itself comes with a new soname.
 *
 * Texts: NUL-terminated char arrays holding the receiver's field as received,
 * character for character: no unit is converted, nothing trimmed, a field too
 * long for its array is cut to fit. An empty field gives an empty text; a
 * one-character field (status, hemisphere) gives NUL when empty. Numbers
 * (int32_t, float) are converted from the field's decimal text, '.' as the
 * decimal point; text that is no number gives 0.
 *
 * Data fields keep their value until the next sentence of their kind, which
 * overwrites them whole (an empty field with an empty text or 0); only
 * ClearChStatus, ttff_sv_cn_clean and a GSV group's first message reset any.
 * The record is all zero at load.
 *
 * Done flags (0 or 1) are levels, not counters: raised when a sentence of
 * their kind has been parsed, they stay 1 until cleared, so two sentences
 * between two copies look like one. The handshake: copy the record, act on a
 * flag in the copy, then clear it in the library with its CMD_Clear_ export,
 * so that the next copy shows it again only after a new sentence. */
typedef struct ParseNMEAInfo {
    /* 1 while ParseNMEA handles a line, 0 once a standard sentence (or a line
     * it ignores) is done; stays 1 after a proprietary reply and after a
     * sentence the checksum gate dropped. */
    int32_t parsing;
    /* 1 makes ParseNMEA check the checksum of RMC, GGA, GSA and GSV before
     * parsing; 0 at load, and no export sets it: the gate is off. */
    int32_t checksum_check;
    /* Set to 1 by Calculate_CheckSum (and the gate) on a mismatch; never
     * cleared. */
    int32_t checksum_error;
    /* For the caller's own copy (a restart marker); the library only clears
     * it: CMD_Clear_restart_begin. */
    int32_t restart_begin;

    /* Done flags: raised by / cleared by.
     * parse_rmc_done: ParseRMC / CMD_Clear_parse_rmc_done.
     * parse_gsv_done: ParseGSV on the group's last message (its number equals
     *   the message count) / CMD_Clear_parse_gsv_done.
     * parse_gsa_done: ParseGSA / CMD_Clear_parse_gsa_done.
     * parse_gga_done: ParseGGA / CMD_Clear_parse_gga_done.
     * parse_fw_ver_done: ParseNMEA after a $PKVX100 reply / CMD_FWVersion and
     *   the three restarts (CMD_ColdStart, CMD_WarmStart, CMD_HotStart).
     * parse_customer_fw_ver_done: ParseNMEA after a $PKVX28,01 reply /
     *   CMD_CustomerVersion.
     * parse_ttff_done: ParseNMEA after a $PKVX119 reply /
     *   CMD_Clear_parse_ttff_done.
     * parse_reply_done: ParseNMEA after a $PKVX200 reply / nothing.
     * NMEA09_2ndCommmand_done: ParseNMEA, when it writes the second step of a
     *   baud-rate change / CMD_Clear_NMEA09_2ndCommmand_done, which also arms
     *   the next change (see CMD_Set_BuadRate). */
    int32_t parse_rmc_done;
    int32_t parse_gsv_done;
    int32_t parse_gsa_done;
    int32_t parse_gga_done;
    int32_t parse_fw_ver_done;
    int32_t parse_customer_fw_ver_done;
    int32_t parse_ttff_done;
    int32_t parse_reply_done;
    int32_t NMEA09_2ndCommmand_done;

    /* From RMC (texts as received), except altitude. */
    char rmc_status;     /* 'A' valid, 'V' invalid */
    char utc_time[30];   /* hhmmss[.sss], UTC */
    char latitude[12];   /* ddmm.mmmm, degrees and minutes */
    char longitude[20];  /* dddmm.mmmm */
    char altitude[12];   /* from GGA: metres above mean sea level, at most 10 characters */
    char lat_hemisphere; /* 'N' or 'S' */
    char lon_hemisphere; /* 'E' or 'W' */
    char speed[12];      /* speed over ground, knots */
    char course[12];     /* course over ground, degrees true */
    char utc_date[10];   /* ddmmyy */

    /* For the caller's own copy; the library only clears it:
     * CMD_Clear_nmea_sentence. */
    int32_t nmea_sentence;

    /* From GSV: satellites in view, and the channel table, parallel columns
     * indexed by channel 0 to 11 (channel 4 * (message - 1) + slot; messages
     * 1 to 3 fill it, message 1 empties it first). Numbers. */
    int32_t sats_in_view;
    int32_t sv_prn[12];         /* satellite number, 0 = empty channel; a GSV number above 32
                                 * is stored plus 87 (SBAS 33 to 64 as PRN 120 to 151), one
                                 * outside 0 to 999 as 0 */
    int32_t sv_elevation[12];   /* degrees above the horizon */
    int32_t sv_azimuth[12];     /* degrees from true north */
    int32_t sv_snr[12];         /* C/N0, dB-Hz; 0 = not tracked */
    int32_t sv_pos_missing[12]; /* 1 when the sentence left elevation or azimuth empty */
    int32_t ch_status[12];      /* 0 empty, 1 Search, 2 Track, 3 PVT: set by GetChStatus */

    /* From GSA. Numbers. */
    int32_t fix_mode;    /* 1 no fix, 2 2-D, 3 3-D; 0 when the field is empty */
    int32_t sv_used[12]; /* satellite IDs used in the fix, in the sentence's order
                          * (not by channel); 0 = empty */
    float pdop;          /* dilutions of precision, no unit */
    float hdop;
    float vdop;

    /* From the $PKVX100 firmware version reply: fields 1 to 4 and 7 to 9, as
     * received (the major and minor numbers are decimal texts, "01"). The
     * last field keeps the reply's '*' and checksum digits behind it
     * ("1.08*hh"): the version is its first four characters. */
    char fw_info1[10];
    char fw_info2[10];
    char fw_ver_major[10];
    char fw_ver_minor[10];
    char kernel_ver_major[10];
    char kernel_ver_minor[10];
    char fsa_ver[18];
    /* From $PKVX28,01: the customer version text as received, up to the
     * next ',' (a reply without it keeps the '*' and checksum digits). */
    char customer_fw_ver[17];
    /* From $PKVX119: the receiver's own time to first fix, seconds. */
    float ttff;
    /* From $PKVX200: its first field, the number of the command answered
     * (9: the first step of a baud-rate change). */
    int32_t reply_code;

    /* The channel table sorted by PRN (empty channels first): sort_sv_cn
     * builds it, ttff_sv_cn_clean zeroes it. */
    int32_t sorted_prn[12];
    int32_t sorted_snr[12];
    int32_t sorted_status[12];

    /* The two upper-case hexadecimal digits of the last CheckSum, with their
     * NUL; the commands built at run time and CMD_SendNMEACommand leave
     * theirs here too. */
    char checksum_text[3];
} ParseNMEAInfo;

/* Number of port names a scan keeps, and the size of one name with its NUL.
 * A name that would not fit is not listed (never cut). */
#define ZORVIK_MAX_PORTS 20
#define ZORVIK_PORT_NAME_SIZE 64

/* The serial ports found by the last scan. */
typedef struct ComInfo {
    int32_t count;
    char names[ZORVIK_MAX_PORTS][ZORVIK_PORT_NAME_SIZE];
} ComInfo;

/* Progress of the XMODEM transfers; every field is written whole. */
typedef struct XmodemPPInfo {
    int32_t percent_1k;
    int32_t percent_128;
    int32_t nak_received;
} XmodemPPInfo;

/* ---- Serial link ------------------------------------------------------- */

/* Closes any port still open, then opens port_name (a name as the scan lists
 * it, or a device path) exclusively: raw 8N1 at baud_text (a rate it does not
 * know keeps the port's speed), no flow control. Returns the handle value (a
 * file descriptor on POSIX, a HANDLE on Win32), 0 on failure. Blocks for the
 * close and the open; any thread.
 *
 * port_name may also name a port on a serial device server:
 * rfc2217://HOST:PORT sets the rate and 8N1 on the server's device through the
 * telnet COM-port option and fails unless the server confirms them;
 * tcp://HOST:PORT passes bytes as they are at the server's own rate. Such an
 * open waits at most 5 s for the name, 5 s for the connection, 3 s for the
 * option and 2 s for the settings. The handle reads exactly as a local port's
 * (POSIX: a pseudo-terminal that the library relays to the connection; a lost
 * connection is a device gone). On Win32 it is the read end of a pipe that
 * the library's relay fills: ReadFile on it waits for the first byte however
 * long that takes, so read what PeekNamedPipe reports waiting (0 bytes: wait
 * and look again, at most 100 ms per read as on a COM port); a read that
 * fails with ERROR_BROKEN_PIPE is a device gone.
 *
 * The handle is for reading the receiver's bytes with the platform's own call
 * (read(), ReadFile): a read waits at most 100 ms and returns what has
 * arrived, 0 bytes when nothing did (POSIX: a blocking descriptor, VMIN 0 /
 * VTIME 1). The library owns it: never write through it, close it or change
 * its settings. The library's commands write through a second, non-blocking
 * descriptor of the same device (POSIX) or under write time-outs (Win32).
 *
 * Read from one thread at a time, only while GetComPort_connected_Status()
 * is 1, and never while COM_Open or COM_Close runs: a closed descriptor's
 * number goes to the next file opened. A device that goes away closes the
 * port by itself (status 0); until the next COM_Open or COM_Close, reads
 * through the old value fail or return 0 at once and never reach another
 * file. */
ZORVIK_API int COM_Open(const char* port_name, const char* baud_text);
/* Lets written output drain (at most its time at the line rate plus one
 * second), discards pending input, puts back the read time-outs found at open
 * (never the rate), closes the port's handles and forgets them: later
 * commands fail with 0. First waits for a library read (at most 100 ms) or
 * write under way. Harmless with no port open; any thread. */
ZORVIK_API void COM_Close(void);
/* 1 while a port is open, else 0. Never blocks; at most every 50 ms it also
 * checks whether the device has gone, and closes the port if so. */
ZORVIK_API int GetComPort_connected_Status(void);
/* Lists the machine's serial ports and the registered virtual ports, at most
 * ZORVIK_MAX_PORTS, for GetScanComPortPara. Blocks while the system lists its
 * devices; never touches the open port. */
ZORVIK_API void ScanComPort(void);
/* Copies the last scan: count, and the first count names (the rest of the
 * caller's record untouched). Never blocks. */
ZORVIK_API void GetScanComPortPara(ComInfo* info);

/* Why the last COM_Open failed, so that a caller can tell the user without
 * opening the port again. */
#define ZORVIK_OPEN_OK 0            /* the last COM_Open succeeded (or none ran yet) */
#define ZORVIK_OPEN_NO_NAME 1       /* no port name was given */
#define ZORVIK_OPEN_ABSENT 2        /* no device behind the name */
#define ZORVIK_OPEN_NO_PERMISSION 3 /* the user may not use the device */
#define ZORVIK_OPEN_HELD 4          /* another program holds the port */
#define ZORVIK_OPEN_NOT_SERIAL 5    /* the name leads to something that is not a serial port */
#define ZORVIK_OPEN_OTHER 6         /* the system refused for another reason */
/* A port on a serial device server, named rfc2217://HOST:PORT or tcp://HOST:PORT: */
#define ZORVIK_OPEN_BAD_ADDRESS 7  /* the name has no valid HOST:PORT */
#define ZORVIK_OPEN_UNKNOWN_HOST 8 /* the host name is not known */
#define ZORVIK_OPEN_REFUSED 9      /* the host refused the connection: nothing listens there */
#define ZORVIK_OPEN_UNREACHABLE 10 /* no answer from the host within 5 seconds */
#define ZORVIK_OPEN_NO_COM_PORT_OPTION 11 /* the server did not take COM-port commands in time */
#define ZORVIK_OPEN_SETTINGS_REFUSED 12   /* the server answered another rate or format */
#define ZORVIK_OPEN_CONNECTION_LOST 13    /* the server closed the connection during the open */
#define ZORVIK_OPEN_SERVER_BUSY 14        /* it ended each connection at once: its device is held */
/* Returns the ZORVIK_OPEN_ code of the last COM_Open on any thread; never blocks. */
ZORVIK_API int COM_LastOpenError(void);

/* ---- Receiver state record --------------------------------------------- */

/* Copies the whole record, never halfway through a line's parse (it waits
 * for that one parse at most). */
ZORVIK_API void GetParseNMEAInfo(ParseNMEAInfo* info);
/* Each sets its one field to 0. The caller acts on a done flag in its copy of
 * the record, then clears it here so that the next sentence raises it anew. */
ZORVIK_API void CMD_Clear_NMEA09_2ndCommmand_done(void);
ZORVIK_API void CMD_Clear_parse_rmc_done(void);
ZORVIK_API void CMD_Clear_parse_gsv_done(void);
ZORVIK_API void CMD_Clear_parse_gsa_done(void);
ZORVIK_API void CMD_Clear_parse_gga_done(void);
ZORVIK_API void CMD_Clear_parse_ttff_done(void);
ZORVIK_API void CMD_Clear_restart_begin(void);
ZORVIK_API void CMD_Clear_nmea_sentence(void);

/* ---- NMEA intake ------------------------------------------------------- */

/* Hands one received line ('$' first, line end removed; not changed) to its
 * parser. It recognises, by the characters after the '$' (which itself is not
 * tested), the talker GP alone:
 *   GPRMC, GPGGA, GPGSA, GPGSV    ParseRMC, ParseGGA, ParseGSA, ParseGSV
 *   PKVX100                       ParseFW_Ver, then parse_fw_ver_done
 *   PKVX28,01                     Parse_Customer_FW_Ver, then parse_customer_fw_ver_done
 *   PKVX119                       parse_ttff, then parse_ttff_done
 *   PKVX200                       reply_code and parse_reply_done
 * and ignores every other line (other talkers such as GN, other sentences
 * such as VTG), changing nothing but `parsing`.
 *
 * Checks: the checksum gate is off by default. The four standard sentences
 * are checked only while checksum_check is 1 (no export sets it), and then one
 * that fails is dropped; the proprietary replies are never checked. A caller
 * that acts only on sound sentences checks each line with Calculate_CheckSum
 * before handing it over, as the program, zorvik and the examples/ programs
 * do. A $PKVX200 reply whose
 * first field is no decimal integer (or has no ',' within 12 characters) is
 * ignored. The parsers read only inside the line: a short or cut line leaves
 * the fields it lacks empty or 0; RMC and GSV read nothing from position 100
 * on.
 *
 * A $PKVX200 reply with code 9 while NMEA09_2ndCommmand_done is 0 writes the
 * second baud-rate step (see Writes); nothing else blocks. */
ZORVIK_API void ParseNMEA(char* line);
/* XOR of the characters after the first one up to the first '*' (or the
 * end); also leaves its two upper-case hex digits in checksum_text. */
ZORVIK_API int CheckSum(const char* text);
/* 1 when the two digits after the first '*' match the line's checksum;
 * otherwise sets checksum_error and returns 0. */
ZORVIK_API int Calculate_CheckSum(const char* line);

/* One sentence kind's parser, no checksum check; start indexes the line's
 * first field (7 for "$GPRMC,"). RMC, GGA, GSA and a GSV group's last message
 * raise their done flags; ParseNMEA raises the version and TTFF ones. */
ZORVIK_API void ParseRMC(int start, char* line);
ZORVIK_API void ParseGGA(int start, char* line);
ZORVIK_API void ParseFW_Ver(int start, char* line);
ZORVIK_API void Parse_Customer_FW_Ver(int start, char* line);
ZORVIK_API void parse_ttff(int start, char* line);
ZORVIK_API void ParseGSV(int start, char* line);
ZORVIK_API void ParseGSA(int start, char* line);

/* ---- Clock ------------------------------------------------------------- */

/* Whole seconds from 1980-01-06 00:00:00 (no leap seconds) to the last RMC's
 * date and time, which it also puts into the clock fields; 0 when the month is
 * not 1 to 12 (no RMC yet). */
ZORVIK_API uint32_t GetGPSTime(void);
/* The same conversion of the clock fields as last set: by GetGPSTime, or by an
 * ephemeris upload that took the computer's clock. */
ZORVIK_API uint32_t time_and_date_to_seconds(void);

/* ---- Channel table ----------------------------------------------------- */

/* Zeroes the channel table (PRN, elevation, azimuth, C/N0, position missing)
 * and sv_used; ch_status and the sorted copy stay. */
ZORVIK_API void ClearChStatus(void);
/* Derives ch_status per channel: 0 no satellite, 1 no signal (Search),
 * 2 signal (Track), 3 also used in the fix (PVT). */
ZORVIK_API void GetChStatus(void);
/* 1 when prn is one of the twelve sv_used entries, else 0. */
ZORVIK_API int CheckSAT_Used(int prn);
/* Rebuilds sorted_prn, sorted_snr and sorted_status from the channel table,
 * by ascending PRN (empty channels first); ttff_sv_cn_clean zeroes them. */
ZORVIK_API void sort_sv_cn(void);
ZORVIK_API void ttff_sv_cn_clean(void);
/* These two work on the caller's data alone. SV_Sort sorts key[0..count)
 * ascending and moves first[] and second[] along. GetSAT_Pos gives the sky
 * plot's pixel: zenith at (124, 120), horizon radius 102, y downwards. */
ZORVIK_API void SV_Sort(int* first, int* key, int count, int* second);
ZORVIK_API void GetSAT_Pos(int elevation, int azimuth, int* x, int* y);

/* ---- Command sentences ------------------------------------------------- */

/* Each writes one command (see Writes) and returns 1 when it was handed to
 * the port, else 0; none waits for an answer. The restarts and CMD_FWVersion
 * then clear parse_fw_ver_done, CMD_CustomerVersion parse_customer_fw_ver_done,
 * whatever the write returned. */
ZORVIK_API int CMD_ColdStart(void);
ZORVIK_API int CMD_WarmStart(void);
ZORVIK_API int CMD_HotStart(void);
ZORVIK_API int CMD_FWVersion(void);
ZORVIK_API int CMD_CustomerVersion(void);
/* First step of a rate change; code + '0' is the rate digit (not checked).
 * ParseNMEA sends the second step on the receiver's reply once the caller has
 * armed it with CMD_Clear_NMEA09_2ndCommmand_done. */
ZORVIK_API int CMD_Set_BuadRate(int code);
ZORVIK_API int CMD_NMEA09_2ndCommmand(void);
/* Mode 0 switches the sentence on, 1 off; any other mode writes nothing and
 * returns 0. */
ZORVIK_API int CMD_SetNMEASentences(int sentence, int mode);
/* The two characters of the satellite number, sent as they are. */
ZORVIK_API int In_Single_Channel_Mode(char first, char second);
ZORVIK_API int Exit_Single_Channel_Mode(void);
ZORVIK_API int CMD_Prog_AP(void);
ZORVIK_API int CMD_Prog_FK(void);
ZORVIK_API int CMD_Prog_FSA(void);
ZORVIK_API int CMD_Prog_AllImage(void);
ZORVIK_API int CMD_WriteLTEToSPIFlash(void);
ZORVIK_API int CMD_NMEAToVBI_Input(void);
ZORVIK_API int CMD_VBIToNMEA_Input(void);
/* Writes the first `length` bytes of text (up to and including its '*'; never
 * past its NUL), then their checksum digits (also left in checksum_text) and
 * CR LF. Returns 1 when both went out; 0 for no text or length < 1, or when
 * a write failed (a body that failed gets no trailer). */
ZORVIK_API int CMD_SendNMEACommand(const char* text, int length);

/* ---- XMODEM ------------------------------------------------------------ */

/* Results of Xmodem_1K. */
#define ZORVIK_XMODEM_FILE_CANNOT_OPEN 512 /* not opened; or read short mid-way (no EOT sent) */
#define ZORVIK_XMODEM_WRITE_FAILED 513     /* a block was not written (also Xmodem's) */
#define ZORVIK_XMODEM_NO_ACK 514           /* a block or the final EOT unacknowledged */
#define ZORVIK_XMODEM_OK 515               /* the receiver acknowledged the EOT */
/* Results of Xmodem (besides ZORVIK_XMODEM_WRITE_FAILED). */
#define ZORVIK_XMODEM_IMAGE_NO_ACK 257 /* a block unacknowledged */
#define ZORVIK_XMODEM_IMAGE_OK 258     /* every block acknowledged */

/* Xmodem_1K sends a file in 1024-byte blocks, Xmodem loader image 2 (259) or
 * 1 (any other value) in 128-byte ones, once the caller has seen the NAK.
 * Blocks to the end: per block a write (see Writes) and up to 1 s for its ACK;
 * Xmodem_1K 1 s more for the EOT's. These and the polls read the port: one at
 * a time and with no other reader, or an acknowledgement is lost. */
ZORVIK_API int Xmodem_1K(const char* file_name);
ZORVIK_API int Xmodem(int image);
/* 1 when an ACK (a NAK) arrives within one second, else 0 (also with no port
 * open); other bytes are dropped. Blocks up to one second and one 100 ms read.
 * PollingXmodem_NAK raises nak_received and clears it again before it returns. */
ZORVIK_API int PollingXmodem_ACK(void);
ZORVIK_API int PollingXmodem_NAK(void);
/* Copy the progress (percent 0 to 100, set per acknowledged block, kept
 * between transfers); GetXmodemPP leaves nak_received alone. Never block. */
ZORVIK_API void GetXmodemPP(XmodemPPInfo* info);
ZORVIK_API void GetXmodemPPInfo(XmodemPPInfo* info);

/* ---- Ephemeris upload -------------------------------------------------- */

/* The sizes a broadcast (BE) and a long-term (LTE) ephemeris file may have,
 * in bytes, both ends included. */
#define ZORVIK_BE_MIN_SIZE 2048
#define ZORVIK_BE_MAX_SIZE 8192
#define ZORVIK_LTE_MIN_SIZE 1024
#define ZORVIK_LTE_MAX_SIZE 131072

/* Send an ephemeris file's VBI frames to a receiver already on VBI input, one
 * write each (see Writes). 1 when the frames valid now were sent, else 0
 * (frames sent stay sent). Now is the last RMC's time, or the computer's UTC
 * clock while the receiver's year is below 2008 or (LTE) when no record is
 * valid by the receiver's. UpdateBE: a BE-sized file; blocks 1 s before the
 * first frame and 150 ms after each. UpdateLTE: an LTE-sized file, the one
 * valid record; 100 ms after each frame. A failed write costs 1 s more. */
ZORVIK_API int UpdateBE(const char* file_name);
ZORVIK_API int UpdateLTE(const char* file_name);

/* Results of CheckBE and CheckLTE: the first fault of the file's layout. */
#define ZORVIK_EPHEMERIS_OK 0
#define ZORVIK_EPHEMERIS_CANNOT_OPEN 1
#define ZORVIK_EPHEMERIS_TOO_SMALL 2
#define ZORVIK_EPHEMERIS_TOO_LARGE 3
/* BE: the ten digits of the file's time do not follow its first line;
 * LTE: a record header without its time or its frame byte count. */
#define ZORVIK_EPHEMERIS_BAD_HEADER 4
#define ZORVIK_EPHEMERIS_RECORD_CUT 5 /* LTE: a record runs past the end of the file */
#define ZORVIK_EPHEMERIS_NO_FRAME 6   /* BE: none in the file; LTE: a record without one */
#define ZORVIK_EPHEMERIS_BAD_FRAME 7  /* above 1,024 bytes, or past the end of file or record */
/* Results of CheckBENow and CheckLTENow beyond those of the layout. */
#define ZORVIK_EPHEMERIS_EXPIRED 8  /* BE: its four hours have passed; LTE: every record's */
#define ZORVIK_EPHEMERIS_NOT_YET 9  /* BE: its time lies ahead; LTE: the next record's does */
#define ZORVIK_EPHEMERIS_NO_TIME 10 /* neither the receiver nor the computer gives a time */

/* Checks a file's size and layout as UpdateBE and UpdateLTE read them,
 * sending nothing and reading no clock: the time after the first line (BE)
 * or every record's header (LTE), and the frames of the file or of every
 * record, each whole; the records fill the file to its end. Returns
 * ZORVIK_EPHEMERIS_OK or the first fault. A file that passes may still lie
 * outside its four hours. Meant for a download before it replaces a file.
 * Reads the file only; any thread. */
ZORVIK_API int CheckBE(const char* file_name);
ZORVIK_API int CheckLTE(const char* file_name);
/* CheckBE or CheckLTE, then whether UpdateBE or UpdateLTE would send frames
 * now, by their rule and their time (the last RMC's, or the computer's
 * clock): ZORVIK_EPHEMERIS_OK, a layout fault, _EXPIRED, _NOT_YET or
 * _NO_TIME. Sends nothing; leaves the clock fields as the upload would. */
ZORVIK_API int CheckBENow(const char* file_name);
ZORVIK_API int CheckLTENow(const char* file_name);

#ifdef __cplusplus
} /* extern "C" */
#endif

/* The layout is part of the ABI between the two deliverables. */
#ifdef __cplusplus
static_assert(sizeof(ParseNMEAInfo) == 776, "ParseNMEAInfo layout changed");
static_assert(offsetof(ParseNMEAInfo, rmc_status) == 52, "ParseNMEAInfo layout changed");
static_assert(offsetof(ParseNMEAInfo, utc_date) == 153, "ParseNMEAInfo layout changed");
static_assert(offsetof(ParseNMEAInfo, nmea_sentence) == 164, "ParseNMEAInfo layout changed");
static_assert(offsetof(ParseNMEAInfo, sv_prn) == 172, "ParseNMEAInfo layout changed");
static_assert(offsetof(ParseNMEAInfo, fix_mode) == 460, "ParseNMEAInfo layout changed");
static_assert(offsetof(ParseNMEAInfo, pdop) == 512, "ParseNMEAInfo layout changed");
static_assert(offsetof(ParseNMEAInfo, fw_info1) == 524, "ParseNMEAInfo layout changed");
static_assert(offsetof(ParseNMEAInfo, customer_fw_ver) == 602, "ParseNMEAInfo layout changed");
static_assert(offsetof(ParseNMEAInfo, ttff) == 620, "ParseNMEAInfo layout changed");
static_assert(offsetof(ParseNMEAInfo, sorted_prn) == 628, "ParseNMEAInfo layout changed");
static_assert(offsetof(ParseNMEAInfo, checksum_text) == 772, "ParseNMEAInfo layout changed");
static_assert(sizeof(ComInfo) == 4 + ZORVIK_MAX_PORTS * ZORVIK_PORT_NAME_SIZE,
              "ComInfo layout changed");
static_assert(sizeof(XmodemPPInfo) == 12, "XmodemPPInfo layout changed");
#else
_Static_assert(sizeof(ParseNMEAInfo) == 776, "ParseNMEAInfo layout changed");
_Static_assert(sizeof(XmodemPPInfo) == 12, "XmodemPPInfo layout changed");
#endif

#endif /* ZORVIK_DLL_H */
