// SetupComPort: the COM setup dialog TComPortForm ("Com-Port Setup").
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

class TComPortForm : public QDialog {
    Q_OBJECT
  public:
    explicit TComPortForm(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr;  // port name, items from the scan
    QLabel* Label2 = nullptr;
    QComboBox* ComboBox2 = nullptr;  // baud rate
    QPushButton* Button1 = nullptr;  // "Scan Com Port"
    QPushButton* COMSetupOK_Button1 = nullptr;
    QPushButton* COMSetupCancel_Button1 = nullptr;

  public slots:
    // Rebuilds ComboBox1's item list from a fresh port scan; its text stays.
    void Button1Click();
    // Stores the port name and the baud-rate text for the next connect; a
    // rate the serial port cannot be set to is refused with a warning.
    void COMSetupOK_Button1Click();
    void COMSetupCancel_Button1Click();
};

extern TComPortForm* ComPortForm;

// Editable drop-down lists: the selection index follows the text, as with a
// drop-down combo box whose text the user may type: the index of the item
// whose text equals the box's text, -1 when none does.
int SelectedIndex(const QComboBox* box);
// Sets an editable box's text, selecting the item with that text if any.
void SetComboText(QComboBox* box, const QString& text);
// The fixed-size dialogs' windows: a caption with a close button, no resizing.
inline constexpr Qt::WindowFlags kFixedDialogFlags =
    Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
// Names and captions a modal dialog and fixes its size.
void SetUpFixedDialog(QDialog* dialog, const char* name, const char* caption, QSize size);
// A drop-down list whose text the user may type; typed text is never added to the items.
QComboBox* NewEditableCombo(QWidget* parent, const char* name, const QStringList& items);
// The receiver's rates as the two rate lists show them, 4800 to 115200.
QStringList BaudRateItems();
// The message box of both rate lists for a typed rate they refuse.
void ShowRateWarning(const QString& text);
