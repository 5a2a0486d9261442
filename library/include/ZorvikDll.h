/*
 * ZorvikDll: the receiver interface library.
 *
 * Everything that speaks the receiver's protocols: the serial port, the NMEA
 * intake and the receiver state record it fills, the command sentences, the
 * XMODEM engine with the loader images, and the ephemeris upload.
 *
 * Plain C ABI. Records cross by copy into storage that the caller provides;
 * texts passed in stay the caller's. Flags are 32-bit integers holding 0 or 1.
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

/* Opens the port (8N1, no flow control, 100 ms read time-out). Returns the
 * handle value (a file descriptor on POSIX), 0 on failure. */
ZORVIK_API int COM_Open(const char* port_name, const char* baud_text);
ZORVIK_API void COM_Close(void);
ZORVIK_API int GetComPort_connected_Status(void);
ZORVIK_API void ScanComPort(void);
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

ZORVIK_API void GetParseNMEAInfo(ParseNMEAInfo* info);
ZORVIK_API void CMD_Clear_NMEA09_2ndCommmand_done(void);
ZORVIK_API void CMD_Clear_parse_rmc_done(void);
ZORVIK_API void CMD_Clear_parse_gsv_done(void);
ZORVIK_API void CMD_Clear_parse_gsa_done(void);
ZORVIK_API void CMD_Clear_parse_gga_done(void);
ZORVIK_API void CMD_Clear_parse_ttff_done(void);
ZORVIK_API void CMD_Clear_restart_begin(void);
ZORVIK_API void CMD_Clear_nmea_sentence(void);

/* ---- NMEA intake ------------------------------------------------------- */

/* Dispatches one received line (starting with '$', line end removed). */
ZORVIK_API void ParseNMEA(char* line);
/* Checksum of the characters between the first character and the first '*';
 * leaves its two upper-case hex digits in checksum_text. */
ZORVIK_API int CheckSum(const char* text);
/* 1 when the two digits after '*' match; else sets checksum_error, 0. */
ZORVIK_API int Calculate_CheckSum(const char* line);

ZORVIK_API void ParseRMC(int start, char* line);
ZORVIK_API void ParseGGA(int start, char* line);
ZORVIK_API void ParseFW_Ver(int start, char* line);
ZORVIK_API void Parse_Customer_FW_Ver(int start, char* line);
ZORVIK_API void parse_ttff(int start, char* line);
ZORVIK_API void ParseGSV(int start, char* line);
ZORVIK_API void ParseGSA(int start, char* line);

/* ---- Clock ------------------------------------------------------------- */

ZORVIK_API uint32_t GetGPSTime(void);
ZORVIK_API uint32_t time_and_date_to_seconds(void);

/* ---- Channel table ----------------------------------------------------- */

ZORVIK_API void ClearChStatus(void);
ZORVIK_API void GetChStatus(void);
ZORVIK_API int CheckSAT_Used(int prn);
ZORVIK_API void sort_sv_cn(void);
ZORVIK_API void ttff_sv_cn_clean(void);
ZORVIK_API void SV_Sort(int* first, int* key, int count, int* second);
ZORVIK_API void GetSAT_Pos(int elevation, int azimuth, int* x, int* y);

/* ---- Command sentences ------------------------------------------------- */

ZORVIK_API int CMD_ColdStart(void);
ZORVIK_API int CMD_WarmStart(void);
ZORVIK_API int CMD_HotStart(void);
ZORVIK_API int CMD_FWVersion(void);
ZORVIK_API int CMD_CustomerVersion(void);
ZORVIK_API int CMD_Set_BuadRate(int code);
ZORVIK_API int CMD_NMEA09_2ndCommmand(void);
ZORVIK_API int CMD_SetNMEASentences(int sentence, int mode);
ZORVIK_API int In_Single_Channel_Mode(char first, char second);
ZORVIK_API int Exit_Single_Channel_Mode(void);
ZORVIK_API int CMD_Prog_AP(void);
ZORVIK_API int CMD_Prog_FK(void);
ZORVIK_API int CMD_Prog_FSA(void);
ZORVIK_API int CMD_Prog_AllImage(void);
ZORVIK_API int CMD_WriteLTEToSPIFlash(void);
ZORVIK_API int CMD_NMEAToVBI_Input(void);
ZORVIK_API int CMD_VBIToNMEA_Input(void);
/* Writes the first `length` bytes of text (up to and including its '*'),
 * then the two checksum digits and CR LF. */
ZORVIK_API int CMD_SendNMEACommand(const char* text, int length);

/* ---- XMODEM ------------------------------------------------------------ */

/* Results of Xmodem_1K. */
#define ZORVIK_XMODEM_FILE_CANNOT_OPEN 512 /* nothing was sent */
#define ZORVIK_XMODEM_WRITE_FAILED 513     /* also a result of Xmodem */
#define ZORVIK_XMODEM_NO_ACK 514           /* a block or the final EOT unacknowledged */
#define ZORVIK_XMODEM_OK 515               /* the receiver acknowledged the EOT */
/* Results of Xmodem (besides ZORVIK_XMODEM_WRITE_FAILED). */
#define ZORVIK_XMODEM_IMAGE_NO_ACK 257
#define ZORVIK_XMODEM_IMAGE_OK 258

ZORVIK_API int Xmodem_1K(const char* file_name);
ZORVIK_API int Xmodem(int image);
ZORVIK_API int PollingXmodem_ACK(void);
ZORVIK_API int PollingXmodem_NAK(void);
ZORVIK_API void GetXmodemPP(XmodemPPInfo* info);
ZORVIK_API void GetXmodemPPInfo(XmodemPPInfo* info);

/* ---- Ephemeris upload -------------------------------------------------- */

ZORVIK_API int UpdateBE(const char* file_name);
ZORVIK_API int UpdateLTE(const char* file_name);

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
