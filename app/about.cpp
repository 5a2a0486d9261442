#include "about.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "Fonts.h"
#include "Main.h"
#include "SetupComPort.h"

TAboutBox* AboutBox = nullptr;

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent, kFixedDialogFlags) {
    SetUpFixedDialog(this, "AboutBox", "About", {368, 271});

    Panel1 = new QFrame(this);
    Panel1->setObjectName("Panel1");
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Sunken);
    Panel1->setGeometry(8, 8, 352, 209);

    ProgramIcon = new QLabel(Panel1);
    ProgramIcon->setObjectName("ProgramIcon");
    ProgramIcon->setGeometry(16, 16, 150, 62);
    ProgramIcon->setScaledContents(true);
    ProgramIcon->setPixmap(QPixmap(":/about/program.png"));

    const QString navy = "color: #000080;";
    const QFont productFont = Fonts::Arial(19, QFont::Bold);
    ProductName = new QLabel("DLL Zorvik", Panel1);
    ProductName->setObjectName("ProductName");
    ProductName->setFont(productFont);
    ProductName->setStyleSheet(navy);
    ProductName->setGeometry(16, 100, 320, 28);

    QFont versionFont;
    versionFont.setBold(true);
    Version = new QLabel(Panel1);
    Version->setObjectName("Version");
    Version->setFont(versionFont);
    Version->setStyleSheet(navy);
    Version->setGeometry(16, 140, 320, 22);

    OKButton = new QPushButton("OK", this);
    OKButton->setObjectName("OKButton");
    OKButton->setGeometry(147, 230, 75, 28);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    FormCreate();
}

void TAboutBox::FormCreate() {
    Version->setText(kVersionText);
}
