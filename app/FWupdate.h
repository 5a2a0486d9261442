// FWupdate: the firmware download dialog TFWUpdateForm ("DwonLoad FW").
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QString>

#include "FWThread.h"
#include "OpenDialog.h"
#include "ZorvikDll.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

class TFWUpdateForm : public QDialog {
    Q_OBJECT
  public:
    explicit TFWUpdateForm(QWidget* parent = nullptr);
    ~TFWUpdateForm() override;

    QGroupBox* GroupBox1 = nullptr;  // " Transfer Protocol "
    QComboBox* ComboBox1 = nullptr;  // "XModem-1K"
    QGroupBox* GroupBox2 = nullptr;  // " Upload Status"
    QComboBox* ComboBox2 = nullptr;  // the kind of the run (disabled)
    QLabel* Label8 = nullptr;        // "Waiting Time :"
    QLineEdit* Edit4 = nullptr;      // NAK waiting time, ms
    QGroupBox* GroupBox5 = nullptr;  // "FW to Update"
    QLineEdit* Edit3 = nullptr;
    QPushButton* Button5 = nullptr;
    QGroupBox* GroupBox3 = nullptr;  // "Kernel  to Upload " (disabled)
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button3 = nullptr;
    QGroupBox* GroupBox4 = nullptr;  // "FSA to Update"
    QLineEdit* Edit2 = nullptr;
    QPushButton* Button4 = nullptr;
    QGroupBox* GroupBox6 = nullptr;  // "All Image to Update"
    QLineEdit* Edit5 = nullptr;
    QPushButton* Button6 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QRadioButton* RadioButton3 = nullptr;
    QRadioButton* RadioButton4 = nullptr;
    TOpenDialog* OpenDialog1 = nullptr;  // kernel
    TOpenDialog* OpenDialog2 = nullptr;  // FSA
    TOpenDialog* OpenDialog3 = nullptr;  // firmware
    TOpenDialog* OpenDialog4 = nullptr;  // all image
    QProgressBar* ProgressBar1 = nullptr;
    QLabel* Label2 = nullptr;        // the percentage
    QLabel* Label1 = nullptr;        // the status line
    QPushButton* Button1 = nullptr;  // "Close"
    QPushButton* Button2 = nullptr;  // "Start"
    QTimer* Timer1 = nullptr;        // 200 ms progress refresh

    // The file of the current run and BaudRateText as it was at Start.
    QString fw_file_name;
    QString saved_baud;
    // The application's copy of the transfer progress.
    XmodemPPInfo ProgressCopy{};

    // The worker of the current run, while it exists.
    FWUpdateThread* Worker() const { return worker_; }

  public slots:
    void Button2Click();  // Start
    void Button1Click();  // Close
    void Button5Click();  // Browse: firmware
    void Button3Click();  // Browse: kernel
    void Button4Click();  // Browse: FSA
    void Button6Click();  // Browse: all image
    void Timer1Timer();

    // The window's close box and Escape take the same way as Button1.
    void reject() override;

  private slots:
    void OnTimer1Enabled(bool on);
    void OnStatusText(const QString& text);
    void OnBaudRateTextChanged(const QString& text);
    void OnRunEnded(bool completed);

  private:
    void Browse(TOpenDialog* dialog, QLineEdit* edit);
    void EnableButtons();
    // Waits, with the GUI running, until the worker has ended.
    void WaitForWorker();

    QPointer<FWUpdateThread> worker_;
};

extern TFWUpdateForm* FWUpdateForm;

// The application's message box: text, caption and buttons as given, the
// answer as the button pressed. The box's objectName is "ZorvikMessageBox".
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text,
                                           const QString& caption,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);
