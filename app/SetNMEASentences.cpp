#include "SetNMEASentences.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "SetupComPort.h"
#include "ZorvikDll.h"
#include "zorvik/service/receiver_settings.h"

TSetNMEA_S* SetNMEA_S = nullptr;

TSetNMEA_S::TSetNMEA_S(QWidget* parent) : QDialog(parent, kFixedDialogFlags) {
    SetUpFixedDialog(this, "SetNMEA_S", "Set NMEA Sentences", {456, 93});

    Label1 = new QLabel("NMEA Sentences :", this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(16, 16, 110, 21);
    QStringList sentences;
    for (const char* name : zorvik::service::kSentenceNames) sentences << name;
    ComboBox1 = NewEditableCombo(this, "ComboBox1", sentences);
    ComboBox1->setGeometry(128, 14, 97, 24);
    ComboBox1->setCurrentIndex(0);

    Label2 = new QLabel("Update Rate :", this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(236, 16, 90, 21);
    ComboBox2 = NewEditableCombo(this, "ComboBox2", {"1 - ON", "0 - OFF"});
    ComboBox2->setGeometry(328, 14, 105, 24);
    ComboBox2->setCurrentIndex(0);

    Button1 = new QPushButton("Send", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(190, 54, 75, 28);
    connect(Button1, &QPushButton::clicked, this, &TSetNMEA_S::Button1Click);
}

void TSetNMEA_S::Button1Click() {
    const int sentence = SelectedIndex(ComboBox1);
    const int mode = SelectedIndex(ComboBox2);
    if (sentence < 0 || mode < 0) return;
    CMD_SetNMEASentences(sentence, mode);
}
