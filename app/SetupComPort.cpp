#include "SetupComPort.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstring>

#include "Main.h"
#include "ZorvikDll.h"
#include "serial_port.h"
#include "zorvik/service/baud_rates.h"
#include "zorvik/service/receiver_settings.h"

TComPortForm* ComPortForm = nullptr;

int SelectedIndex(const QComboBox* box) {
    return box->findText(box->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

void SetComboText(QComboBox* box, const QString& text) {
    const int index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    box->setCurrentIndex(index);
    box->setEditText(text);
}

QComboBox* NewEditableCombo(QWidget* parent, const char* name, const QStringList& items) {
    auto* box = new QComboBox(parent);
    box->setObjectName(name);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(items);
    return box;
}

void SetUpFixedDialog(QDialog* dialog, const char* name, const char* caption, QSize size) {
    dialog->setObjectName(name);
    dialog->setWindowTitle(caption);
    dialog->setModal(true);
    dialog->setFixedSize(size);
}

QStringList BaudRateItems() {
    QStringList items;
    for (const auto& rate : zorvik::service::kBaudRates) items << rate.text;
    return items;
}

void ShowRateWarning(const QString& text) {
    ShowMessage("Warning", text);
}

TComPortForm::TComPortForm(QWidget* parent) : QDialog(parent, kFixedDialogFlags) {
    SetUpFixedDialog(this, "ComPortForm", "Com-Port Setup", {353, 134});

    Label1 = new QLabel("COM Port :", this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(24, 20, 80, 21);
    ComboBox1 = NewEditableCombo(this, "ComboBox1", {});
    ComboBox1->setGeometry(112, 18, 129, 24);
    ComboBox1->setEditText("COM1");

    Label2 = new QLabel("Baud Rate :", this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(24, 56, 80, 21);
    ComboBox2 = NewEditableCombo(this, "ComboBox2", BaudRateItems());
    ComboBox2->setGeometry(112, 54, 129, 24);
    ComboBox2->setCurrentIndex(1);

    Button1 = new QPushButton("Scan Com Port", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(248, 17, 99, 26);
    COMSetupOK_Button1 = new QPushButton("OK", this);
    COMSetupOK_Button1->setObjectName("COMSetupOK_Button1");
    COMSetupOK_Button1->setGeometry(88, 96, 75, 26);
    COMSetupOK_Button1->setDefault(true);
    COMSetupCancel_Button1 = new QPushButton("Cancel", this);
    COMSetupCancel_Button1->setObjectName("COMSetupCancel_Button1");
    COMSetupCancel_Button1->setGeometry(188, 96, 75, 26);

    connect(Button1, &QPushButton::clicked, this, &TComPortForm::Button1Click);
    connect(COMSetupOK_Button1, &QPushButton::clicked, this,
            &TComPortForm::COMSetupOK_Button1Click);
    connect(COMSetupCancel_Button1, &QPushButton::clicked, this,
            &TComPortForm::COMSetupCancel_Button1Click);

    // The scan runs once when the dialog is created.
    Button1Click();
    // Until its first OK, a connect uses what the dialog shows.
    PortName = ComboBox1->currentText();
    BaudRateText = ComboBox2->currentText();
}

void TComPortForm::Button1Click() {
    const QString text = ComboBox1->currentText();
    ComboBox1->clear();

    ScanComPort();
    ComInfo info;
    std::memset(&info, 0, sizeof info);
    GetScanComPortPara(&info);

    // Never trust the count or the names beyond the record's own bounds.
    const int count =
        info.count < 0 ? 0 : (info.count > ZORVIK_MAX_PORTS ? ZORVIK_MAX_PORTS : info.count);
    for (int i = 0; i < count; ++i) {
        const char* name = info.names[i];
        ComboBox1->addItem(QString::fromLocal8Bit(
            name, static_cast<qsizetype>(strnlen(name, ZORVIK_PORT_NAME_SIZE))));
    }
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setEditText(text);
}

void TComPortForm::COMSetupOK_Button1Click() {
    // Our own port may run at rates the receiver's list lacks (921600), but a
    // rate the port cannot be set to would open at the old speed while the
    // status bar names the typed one.
    const QString rate = ComboBox2->currentText();
    if (!zorvik::serial::baud_rate_supported(rate.toStdString())) {
        ShowRateWarning(QString("The serial port cannot be set to \"%1\" bps. The receiver's rates "
                                "are %2.")
                            .arg(rate, QString::fromStdString(zorvik::service::BaudRateNames())));
        return;
    }
    PortName = ComboBox1->currentText();
    BaudRateText = rate;
    accept();
}

void TComPortForm::COMSetupCancel_Button1Click() {
    reject();
}
