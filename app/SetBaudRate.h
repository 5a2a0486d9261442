// SetBaudRate: the baud-rate dialog TBaudRateForm ("Baud Rate Setting"), which
// asks the connected receiver to change its rate.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

class TBaudRateForm : public QDialog {
    Q_OBJECT
  public:
    explicit TBaudRateForm(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QComboBox* ComBox1 = nullptr;
    QPushButton* Button1 = nullptr;  // "OK"

    // Rate code of the receiver's baud-rate command for an item index of
    // ComBox1 (0 for any other index, including none selected).
    static int RateCode(int index);

  public slots:
    // Sends the rate command for a rate of the list and stores the rate; any
    // other text gets a warning, and nothing is sent or stored.
    void Button1Click();
};

extern TBaudRateForm* BaudRateForm;
