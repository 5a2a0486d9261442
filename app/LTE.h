// LTE: the LTE ephemeris tool: download from the A-GPS server and the upload dialog.
#pragma once

#include <QDialog>

class TUpdateLTEToGPS : public QDialog {
    Q_OBJECT
public:
    explicit TUpdateLTEToGPS(QWidget* parent = nullptr);
    // The main window's "LTE" tool button: download, then show this dialog.
    void RunFromToolButton();
};

extern TUpdateLTEToGPS* UpdateLTEToGPS;
