#include "LTE.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QThread>

#include "AgpsDownload.h"
#include "RegularFile.h"
#include "ZorvikDll.h"

TUpdateLTEToGPS* UpdateLTEToGPS = nullptr;

TUpdateLTEToGPS::TUpdateLTEToGPS(QWidget* parent) : QDialog(parent) {
    const EphemerisDialogControls controls =
        BuildEphemerisDialog(this, "UpdateLTEToGPS", "UpdateLTEToGPS");
    Button1 = controls.Button1;
    GroupBox1 = controls.GroupBox1;
    Label1 = controls.Label1;
    connect(Button1, &QPushButton::clicked, this, &TUpdateLTEToGPS::Button1Click);
}

void TUpdateLTEToGPS::RunFromToolButton() {
    // A failed download is not reported: the dialog works with whatever file
    // is present, and an older file survives a failed download untouched.
    DownloadAgpsFile(AgpsKind::LTE);
    exec();
    Label1->setText("  ");
}

void TUpdateLTEToGPS::Button1Click() {
    // The upload blocks the GUI thread for its whole duration.
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    Label1->setText(" ");
    Label1->repaint();

    CMD_NMEAToVBI_Input();
    QThread::msleep(200);

    // A FIFO or a device in the file's place counts as no file: opening it
    // could block for good.
    if (ReadableRegularFileSize("LTE.bin") < 0) {
        Label1->setText(" No LTE file existing!");
    } else {
        Label1->setText(UpdateLTE("LTE.bin") == 1 ? QString("LTE File update OK!")
                                                  : QString(" LTE file update failed!(NG)"));
    }
    // The receiver goes back to NMEA input on every way through.
    CMD_VBIToNMEA_Input();
    QApplication::restoreOverrideCursor();
}
