#include "SignalChannelMode.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "Fonts.h"
#include "Main.h"
#include "ZorvikDll.h"
#include "zorvik/service/receiver_settings.h"

TSingle_Channel_Mode* Single_Channel_Mode = nullptr;

TSingle_Channel_Mode::TSingle_Channel_Mode(QWidget* parent) : QDialog(parent) {
    setObjectName("Single_Channel_Mode");
    setWindowTitle("Signal Channel  Mode");
    setModal(true);
    resize(317, 153);

    const QFont font = Fonts::Arial(21);
    const QString navy = "color: #000080;";

    Lable1 = new QLabel("Single Channel ID :", this);
    Lable1->setObjectName("Lable1");
    Lable1->setFont(font);
    Lable1->setStyleSheet(navy);
    Lable1->setGeometry(16, 24, 186, 28);

    Edit1 = new QLineEdit("06", this);
    Edit1->setObjectName("Edit1");
    Edit1->setFont(font);
    Edit1->setStyleSheet(navy);
    Edit1->setMaxLength(2);
    Edit1->setGeometry(204, 22, 57, 32);

    BitBtn1 = new QPushButton("Enter", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setGeometry(48, 80, 89, 30);
    BitBtn2 = new QPushButton("Exit", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setGeometry(168, 80, 89, 30);
    BitBtn1->setAutoDefault(false);
    BitBtn2->setAutoDefault(false);

    connect(BitBtn1, &QPushButton::clicked, this, &TSingle_Channel_Mode::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TSingle_Channel_Mode::BitBtn2Click);
}

void TSingle_Channel_Mode::BitBtn1Click() {
    const QByteArray id = Edit1->text().toLatin1();
    if (id.size() < 2) {
        ShowMessage("Warning!", zorvik::service::kSvIdWarning);
        return;
    }
    In_Single_Channel_Mode(id[0], id[1]);
    SingleChannelActive = 1;
}

void TSingle_Channel_Mode::BitBtn2Click() {
    if (SingleChannelActive == 1) {
        Exit_Single_Channel_Mode();
        SingleChannelActive = 0;
    }
    accept();
}
