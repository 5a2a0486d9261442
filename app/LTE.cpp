#include "LTE.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include "AgpsDownload.h"
#include "ZorvikDll.h"

TUpdateLTEToGPS* UpdateLTEToGPS = nullptr;

TUpdateLTEToGPS::TUpdateLTEToGPS(QWidget* parent) : QDialog(parent) {
    setObjectName("UpdateLTEToGPS");
    setWindowTitle("UpdateLTEToGPS");
    setModal(true);

    Button1 = new QPushButton("Start", this);
    Button1->setObjectName("Button1");
    GroupBox1 = new QGroupBox("Updating Message", this);
    GroupBox1->setObjectName("GroupBox1");
    Label1 = new QLabel(GroupBox1);
    Label1->setObjectName("Label1");
    QFont font("Arial", 14, QFont::Bold);
    Label1->setFont(font);
    Label1->setMinimumWidth(320);
    Label1->setMinimumHeight(40);

    auto* group_layout = new QVBoxLayout(GroupBox1);
    group_layout->addWidget(Label1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Button1, 0, Qt::AlignLeft);
    layout->addWidget(GroupBox1);

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

    QFile file("LTE.bin");
    if (!file.open(QIODevice::ReadOnly)) {
        Label1->setText(" No LTE file existing!");
    } else {
        file.close();
        Label1->setText(UpdateLTE("LTE.bin") == 1 ? QString("LTE File update OK!")
                                                  : QString(" LTE file update failed!(NG)"));
    }
    // The receiver goes back to NMEA input on every way through.
    CMD_VBIToNMEA_Input();
    QApplication::restoreOverrideCursor();
}
