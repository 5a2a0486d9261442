// SignalChannelMode: the single channel dialog TSingle_Channel_Mode, which puts
// the receiver into single channel test mode on one satellite and out of it.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

class TSingle_Channel_Mode : public QDialog {
    Q_OBJECT
  public:
    explicit TSingle_Channel_Mode(QWidget* parent = nullptr);

    QLabel* Lable1 = nullptr;
    QLineEdit* Edit1 = nullptr;      // the two-character satellite id
    QPushButton* BitBtn1 = nullptr;  // "Enter"
    QPushButton* BitBtn2 = nullptr;  // "Exit"

  public slots:
    void BitBtn1Click();
    void BitBtn2Click();
};

extern TSingle_Channel_Mode* Single_Channel_Mode;
