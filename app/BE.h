// BE: the BE ephemeris tool: download from the A-GPS server and the upload dialog.
#pragma once

#include <QDialog>

class TUpdateBEToGPS : public QDialog {
    Q_OBJECT
public:
    explicit TUpdateBEToGPS(QWidget* parent = nullptr);
    // The main window's "BE" tool button: download, then show this dialog.
    void RunFromToolButton();
};

extern TUpdateBEToGPS* UpdateBEToGPS;
