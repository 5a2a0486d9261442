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

/* The receiver state record. Field order and widths are shared by both
 * deliverables: natural alignment, no packing. */
typedef struct ParseNMEAInfo {
    int32_t parsing;                    /*  1 */
    int32_t checksum_check;             /*  2 */
    int32_t checksum_error;             /*  3 */
    int32_t restart_begin;              /*  4 */
    int32_t parse_rmc_done;             /*  5 */
    int32_t parse_gsv_done;             /*  6 */
    int32_t parse_gsa_done;             /*  7 */
    int32_t parse_gga_done;             /*  8 */
    int32_t parse_fw_ver_done;          /*  9 */
    int32_t parse_customer_fw_ver_done; /* 10 */
    int32_t parse_ttff_done;            /* 11 */
    int32_t parse_reply_done;           /* 12 */
    int32_t NMEA09_2ndCommmand_done;    /* 13 */
    char rmc_status;                    /* 14 */
    char utc_time[30];                  /* 15 */
    char latitude[12];                  /* 16 */
    char longitude[20];                 /* 17 */
    char altitude[12];                  /* 18 */
    char lat_hemisphere;                /* 19 */
    char lon_hemisphere;                /* 20 */
    char speed[12];                     /* 21 */
    char course[12];                    /* 22 */
    char utc_date[10];                  /* 23 */
    int32_t nmea_sentence;              /* 24 */
    int32_t sats_in_view;               /* 25 */
    int32_t sv_prn[12];                 /* 26 */
    int32_t sv_elevation[12];           /* 27 */
    int32_t sv_azimuth[12];             /* 28 */
    int32_t sv_snr[12];                 /* 29 */
    int32_t sv_pos_missing[12];         /* 30 */
    int32_t ch_status[12];              /* 31 */
    int32_t fix_mode;                   /* 32 */
    int32_t sv_used[12];                /* 33 */
    float pdop;                         /* 34 */
    float hdop;                         /* 35 */
    float vdop;                         /* 36 */
    char fw_info1[10];                  /* 37 */
    char fw_info2[10];                  /* 38 */
    char fw_ver_major[10];              /* 39 */
    char fw_ver_minor[10];              /* 40 */
    char kernel_ver_major[10];          /* 41 */
    char kernel_ver_minor[10];          /* 42 */
    char fsa_ver[18];                   /* 43 */
    char customer_fw_ver[17];           /* 44 */
    float ttff;                         /* 45 */
    int32_t reply_code;                 /* 46 */
    int32_t sorted_prn[12];             /* 47 */
    int32_t sorted_snr[12];             /* 48 */
    int32_t sorted_status[12];          /* 49 */
    char checksum_text[3];              /* 50 */
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
 * parser. A $PKVX200 reply with code 9 while NMEA09_2ndCommmand_done is 0
 * writes the second baud-rate step (see Writes); nothing else blocks.
 * Nothing is verified unless checksum_check is 1 (RMC, GGA, GSA and GSV
 * only); it is 0 at load and the library never sets it. The program and
 * zorvik verify every line themselves before handing it over. */
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

/* Checks a file's size and layout as UpdateBE and UpdateLTE read them,
 * sending nothing and reading no clock: the time after the first line (BE)
 * or every record's header (LTE), and the frames of the file or of every
 * record, each whole; the records fill the file to its end. Returns
 * ZORVIK_EPHEMERIS_OK or the first fault. A file that passes may still lie
 * outside its four hours. Meant for a download before it replaces a file.
 * Reads the file only; any thread. */
ZORVIK_API int CheckBE(const char* file_name);
ZORVIK_API int CheckLTE(const char* file_name);

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
