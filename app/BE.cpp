#include "BE.h"

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

TUpdateBEToGPS* UpdateBEToGPS = nullptr;

TUpdateBEToGPS::TUpdateBEToGPS(QWidget* parent) : QDialog(parent) {
    setObjectName("UpdateBEToGPS");
    setWindowTitle("Update BE To GPS");
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

    QFile file("BE.bin");
    if (!file.open(QIODevice::ReadOnly)) {
        Label1->setText(" No BE file existing!");
        CMD_VBIToNMEA_Input();
        QApplication::restoreOverrideCursor();
        return;
    }
    file.close();

    const int result = UpdateBE("BE.bin");
    CMD_VBIToNMEA_Input();
    Label1->setText(result == 1 ? QString("BE file update OK!")
                                : QString(" BE file update failed!(NG)"));
    QApplication::restoreOverrideCursor();
}
