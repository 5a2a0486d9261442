#include "BE.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QThread>

#include "AgpsDownload.h"
#include "RegularFile.h"
#include "ZorvikDll.h"

TUpdateBEToGPS* UpdateBEToGPS = nullptr;

TUpdateBEToGPS::TUpdateBEToGPS(QWidget* parent) : QDialog(parent) {
    const EphemerisDialogControls controls =
        BuildEphemerisDialog(this, "UpdateBEToGPS", "Update BE To GPS");
    Button1 = controls.Button1;
    GroupBox1 = controls.GroupBox1;
    Label1 = controls.Label1;
    connect(Button1, &QPushButton::clicked, this, &TUpdateBEToGPS::Button1Click);
}

void TUpdateBEToGPS::RunFromToolButton() {
    // A failed download is not reported: the dialog works with whatever file
    // is present, and an older file survives a failed download untouched.
    DownloadAgpsFile(AgpsKind::BE);
    exec();
    Label1->setText("  ");
}

void TUpdateBEToGPS::Button1Click() {
    // The upload blocks the GUI thread for its whole duration.
    QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    Label1->setText(" Updating Eph. now.");
    Label1->repaint();

    CMD_NMEAToVBI_Input();
    QThread::msleep(500);

    // A FIFO or a device in the file's place counts as no file: opening it
    // could block for good.
    if (ReadableRegularFileSize("BE.bin") < 0) {
        Label1->setText(" No BE file existing!");
        CMD_VBIToNMEA_Input();
        QApplication::restoreOverrideCursor();
        return;
    }

    const int result = UpdateBE("BE.bin");
    CMD_VBIToNMEA_Input();
    Label1->setText(result == 1 ? QString("BE file update OK!")
                                : QString(" BE file update failed!(NG)"));
    QApplication::restoreOverrideCursor();
}
