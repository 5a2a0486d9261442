#include "LTE.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>

#include "AgpsDownload.h"

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
    zorvik::service::UploadHooks hooks;
    hooks.status = [this](const std::string& text) {
        Label1->setText(QString::fromStdString(text));
        Label1->repaint();
    };
    zorvik::service::UploadLTE("LTE.bin", hooks);
    QApplication::restoreOverrideCursor();
}
