// AgpsDownload: what the "BE" and "LTE" tools share: fetching ephemeris files
// from the A-GPS server into the current directory, and the upload dialog.
#pragma once

#include <QDialog>
#include <QString>
#include <QtGlobal>

#include "zorvik/service/agps.h"

class QGroupBox;
class QLabel;
class QPushButton;

enum class AgpsKind { BE, LTE };

// The limits and results are the shared procedure's.
using AgpsResult = zorvik::service::AgpsResult;
using AgpsDownloadOutcome = zorvik::service::AgpsDownloadOutcome;
inline constexpr qint64 kBEFileLimit = static_cast<qint64>(zorvik::service::kBEFileLimit);
inline constexpr qint64 kLTEFileLimit = static_cast<qint64>(zorvik::service::kLTEFileLimit);

// Scheme, host and port of the A-GPS server (a build setting).
QString AgpsHost();
// "BE.bin" or "LTE.bin", relative to the current directory.
QString AgpsLocalFileName(AgpsKind kind);

// Downloads the kind's request address into its local file. The file is
// written beside the old one and replaces it only once the whole answer has
// arrived and has the kind's layout, so a failed, partial, oversized or
// malformed download leaves the older file as it was. Blocks the caller (with
// a busy cursor, user input held back, the windows still repainted) until the
// download ends or the time limit passes.
AgpsDownloadOutcome DownloadAgpsFile(AgpsKind kind);

// Test hooks: point the tools at a local server, shorten the time limit.
// An empty host or a limit of 0 or less restores the built-in value.
void SetAgpsHostForTesting(const QString& host);
void SetAgpsTimeoutForTesting(int timeout_ms);

// The upload dialog of the "BE" and "LTE" tools: the "Start" button and the
// "Updating Message" group with its large message line. The kind picks the
// file to download and upload; the shared upload procedure holds the two
// kinds' differences (the pause, and whether the message line changes before
// or after the receiver is switched back to NMEA input).
class TEphemerisUploadDialog : public QDialog {
    Q_OBJECT
  public:
    // The main window's tool button: download, then show this dialog (with
    // the reason on its message line when the server's answer was refused).
    void RunFromToolButton();

    QPushButton* Button1 = nullptr;  // "Start"
    QGroupBox* GroupBox1 = nullptr;  // "Updating Message"
    QLabel* Label1 = nullptr;        // the message line

  public slots:
    // Start: switch the receiver to VBI input, upload the file, switch it back.
    void Button1Click();

  protected:
    TEphemerisUploadDialog(AgpsKind kind, const char* object_name, const char* caption,
                           QWidget* parent);

  private:
    AgpsKind kind_;
};
