#include "SetBaudRate.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <chrono>

#include "BaudChange.h"
#include "Fonts.h"
#include "Main.h"
#include "OpenFailureText.h"
#include "SetupComPort.h"
#include "zorvik/service/baud_rates.h"
#include "zorvik/service/receiver_settings.h"

TBaudRateForm* BaudRateForm = nullptr;

TBaudRateForm::TBaudRateForm(QWidget* parent)
    : QDialog(parent, kFixedDialogFlags | Qt::WindowMinimizeButtonHint) {
    SetUpFixedDialog(this, "BaudRateForm", "Baud Rate Setting", {318, 121});
    move(246, 183);

    Label1 = new QLabel("Baud Rate : ", this);
    Label1->setObjectName("Label1");
    Label1->setFont(Fonts::Arial(21, QFont::Bold));
    Label1->setStyleSheet("color: #000080;");
    Label1->setGeometry(24, 24, 130, 28);

    ComBox1 = NewEditableCombo(this, "ComBox1", BaudRateItems());
    ComBox1->setGeometry(160, 26, 129, 26);
    ComBox1->setCurrentIndex(1);

    Button1 = new QPushButton("OK", this);
    Button1->setObjectName("Button1");
    Button1->setGeometry(121, 76, 75, 28);
    Button1->setDefault(true);
    connect(Button1, &QPushButton::clicked, this, &TBaudRateForm::Button1Click);
}

int TBaudRateForm::RateCode(int index) {
    const auto& rates = zorvik::service::kBaudRates;
    if (index < 0 || index >= static_cast<int>(rates.size())) return 0;
    return rates[static_cast<std::size_t>(index)].code;
}

void TBaudRateForm::Button1Click() {
    const int index = SelectedIndex(ComBox1);
    // Only a rate of the list has a command code; the dialog stays open for another choice.
    if (index < 0) {
        ShowRateWarning(QString::fromStdString(zorvik::service::BaudRateWarning()));
        return;
    }
    // A raw network port stays at the device server's rate: the receiver
    // would switch and be lost. Nothing is sent.
    if (!zorvik::link::RateFollows(PortName.toStdString())) {
        ShowRateWarning(
            QString::fromStdString(zorvik::link::RateFixedText(PortName.toStdString())));
        return;
    }
    requested_rate_ = ComBox1->currentText();
    awaiting_.start();
    zorvik::link::SendRateCommand(RateCode(index));
    accept();
}

bool TBaudRateForm::AcknowledgementOverdue() {
    using std::chrono::milliseconds;
    if (!awaiting_.isValid() ||
        milliseconds(awaiting_.elapsed()) < zorvik::link::kRateAcknowledgementTime)
        return false;
    awaiting_.invalidate();
    return true;
}

QString TBaudRateForm::AcknowledgedRate(const QString& current) {
    const QString rate = requested_rate_.isEmpty() ? current : requested_rate_;
    ForgetRequest();
    return rate;
}

void TBaudRateForm::ForgetRequest() {
    requested_rate_.clear();
    awaiting_.invalidate();
}

void TBaudRateForm::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) SetComboText(ComBox1, BaudRateText);
    QDialog::showEvent(event);
}

QString RateNotTakenText(const QString& requested_rate, const QString& link_rate) {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(zorvik::link::kRateAcknowledgementTime);
    return QString(
               "The receiver did not take %1 bps: it did not acknowledge the change within "
               "%2 s. The link stays at %3 bps.")
        .arg(requested_rate)
        .arg(seconds.count())
        .arg(link_rate);
}
