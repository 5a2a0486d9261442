// SetBaudRate: the baud-rate dialog TBaudRateForm ("Baud Rate Setting"), which
// asks the connected receiver to change its rate.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>

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

    // The rate asked for last, until the link follows it or forgets it. The
    // link takes a rate only when the receiver acknowledges it.
    const QString& RequestedRate() const { return requested_rate_; }
    // True once, when the acknowledgement has been awaited longer than the
    // receiver ever takes. A late acknowledgement is still followed.
    bool AcknowledgementOverdue();
    // The receiver acknowledged: the rate the link follows now (`current`
    // when nothing was asked on this link).
    QString AcknowledgedRate(const QString& current);
    // The link ended: what was asked on it is no longer awaited.
    void ForgetRequest();

  public slots:
    // Sends the rate command for a rate of the list and awaits the receiver's
    // acknowledgement; any other text gets a warning, and nothing is sent.
    void Button1Click();

  protected:
    // Each showing starts from the link's rate, not from a choice closed
    // unsent by the close box.
    void showEvent(QShowEvent* event) override;

  private:
    QString requested_rate_;
    QElapsedTimer awaiting_;  // valid while the acknowledgement is awaited
};

// The warning for a rate the receiver did not acknowledge; the link stays at
// link_rate.
QString RateNotTakenText(const QString& requested_rate, const QString& link_rate);

extern TBaudRateForm* BaudRateForm;
