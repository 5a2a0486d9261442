// SetNMEASentences: the NMEA sentence dialog TSetNMEA_S, which switches one of
// the receiver's output sentences on or off.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

class TSetNMEA_S : public QDialog {
    Q_OBJECT
  public:
    explicit TSetNMEA_S(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr;  // sentence, indexes 0 to 7
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox2 = nullptr;  // 0 "1 - ON", 1 "0 - OFF"
    QPushButton* Button1 = nullptr;  // "Send"

  public slots:
    // Sends the sentence selection; a list without a selected item sends nothing.
    void Button1Click();
};

extern TSetNMEA_S* SetNMEA_S;
