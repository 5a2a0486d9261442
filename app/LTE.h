// LTE: the LTE ephemeris tool: download from the A-GPS server and the upload dialog.
#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QPushButton;

class TUpdateLTEToGPS : public QDialog {
    Q_OBJECT
  public:
    explicit TUpdateLTEToGPS(QWidget* parent = nullptr);
    // The main window's "LTE" tool button: download, then show this dialog.
    void RunFromToolButton();

    QPushButton* Button1 = nullptr;  // "Start"
    QGroupBox* GroupBox1 = nullptr;  // "Updating Message"
    QLabel* Label1 = nullptr;        // the message line

  public slots:
    // Start: switch the receiver to VBI input, upload LTE.bin, switch it back.
    void Button1Click();
};

extern TUpdateLTEToGPS* UpdateLTEToGPS;
