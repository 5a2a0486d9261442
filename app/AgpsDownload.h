// AgpsDownload: fetching ephemeris files from the A-GPS server into the
// current directory, shared by the "BE" and "LTE" tools.
#pragma once

#include <QString>
#include <QtGlobal>

class QDialog;
class QGroupBox;
class QLabel;
class QPushButton;

enum class AgpsKind { BE, LTE };

// The largest file each kind may be: the upload refuses anything larger.
inline constexpr qint64 kBEFileLimit = 8192;
inline constexpr qint64 kLTEFileLimit = 131072;
// How long a download may take before it is given up.
inline constexpr int kAgpsDownloadTimeoutMs = 15000;

// Scheme, host and port of the A-GPS server (a build setting).
QString AgpsHost();
// Path and query of the request for one kind, with the installation's credentials.
QString AgpsRequestPath(AgpsKind kind);
// AgpsHost() followed by AgpsRequestPath(kind).
QString AgpsRequestAddress(AgpsKind kind);
// "BE.bin" or "LTE.bin", relative to the current directory.
QString AgpsLocalFileName(AgpsKind kind);

enum class AgpsResult {
    Ok,            // the file was fetched whole and replaced the local one
    NetworkError,  // no connection, HTTP error status, broken answer
    TooLarge,      // the answer exceeded the kind's size limit
    Empty,         // the server answered with no data
    TimedOut,      // the server did not finish within the time limit
    WriteError,    // the local file could not be written
};

// Downloads the kind's request address into its local file. The file is
// written beside the old one and replaces it only once the whole answer has
// arrived, so a failed, partial or oversized download leaves the older file as
// it was. Blocks the caller (with a busy cursor, user input held back) until
// the download ends or the time limit passes.
AgpsResult DownloadAgpsFile(AgpsKind kind);

// Test hooks: point the tools at a local server, shorten the time limit.
// An empty host or a limit of 0 or less restores the built-in value.
void SetAgpsHostForTesting(const QString& host);
void SetAgpsTimeoutForTesting(int timeout_ms);

// The controls the two upload dialogs share: the "Start" button and the
// "Updating Message" group with its large message line.
struct EphemerisDialogControls {
    QPushButton* Button1;
    QGroupBox* GroupBox1;
    QLabel* Label1;
};
EphemerisDialogControls BuildEphemerisDialog(QDialog* dialog, const char* object_name,
                                             const char* caption);
