// The setup dialogs and the command line, against a real pseudo-terminal that
// plays the receiver: what each control stores, sends and warns.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "Main.h"
#include "SetBaudRate.h"
#include "SetNMEASentences.h"
#include "SetupComPort.h"
#include "SignalChannelMode.h"
#include "ZorvikDll.h"
#include "about.h"
#include "shell_support.h"

using zorvik::apptest::ModalWatcher;
using zorvik::apptest::PtyPeer;

namespace {
// Linux ports take only the termios rates; Windows leaves the rate to the
// port's driver, so there the serial layer lets any positive rate through.
#ifdef _WIN32
constexpr bool kOddRateAccepted = true;
#else
constexpr bool kOddRateAccepted = false;
#endif
}  // namespace

class TestDialogs : public QObject {
    Q_OBJECT
    std::unique_ptr<PtyPeer> pty;

    // Opens the port on the pseudo-terminal the way connect does.
    void connectPty() {
        PortName = pty->port();
        BaudRateText = "9600";
        MainForm->ToolButton1Click();
        QVERIFY(GetComPort_connected_Status() != 0);
        pty->drain();
    }

  private slots:
    void initTestCase() { zorvik::apptest::EnsureApplicationWindows(); }
    void init() {
        zorvik::apptest::ResetProgramState();
        pty = std::make_unique<PtyPeer>();
    }
    void cleanup() {
        zorvik::apptest::ResetProgramState();
        pty.reset();
    }

    void comSetupDefaultsAndOk() {
        QCOMPARE(ComPortForm->windowTitle(), QString("Com-Port Setup"));
        QCOMPARE(ComPortForm->ComboBox1->currentText(), QString("COM1"));
        QCOMPARE(ComPortForm->ComboBox2->currentText(), QString("9600"));
        QStringList rates;
        for (int i = 0; i < ComPortForm->ComboBox2->count(); ++i)
            rates << ComPortForm->ComboBox2->itemText(i);
        QCOMPARE(rates, QStringList({"4800", "9600", "19200", "38400", "57600", "115200"}));

        // Through the menu item, as the user does it: the dialog opens modally, OK stores.
        ModalWatcher watcher([](QWidget* w) {
            if (auto* d = qobject_cast<TComPortForm*>(w)) d->COMSetupOK_Button1->click();
        });
        MainForm->COM1->trigger();
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].objectName, QString("ComPortForm"));
        QCOMPARE(PortName, QString("COM1"));
        QCOMPARE(BaudRateText, QString("9600"));
    }

    // Before its first OK the dialog's values are the link's: the status
    // bar names them and a connect opens them.
    void comSetupShownValuesBeforeAnyOk() {
        TComPortForm fresh(MainForm);
        QCOMPARE(PortName, fresh.ComboBox1->currentText());
        QCOMPARE(BaudRateText, fresh.ComboBox2->currentText());
        MainForm->Timer1Timer();
        QCOMPARE(MainForm->StatusPanel0->text(), QString("Not Connected : COM1 / 9600 bps"));
    }

    // The baud-rate dialog closed unsent by its close box opens again at the
    // link's rate.
    void baudDialogShowsLinkRate() {
        connectPty();
        QString shown;
        ModalWatcher watcher([&](QWidget* w) {
            if (auto* d = qobject_cast<TBaudRateForm*>(w)) {
                shown = d->ComBox1->currentText();
                SetComboText(d->ComBox1, "57600");
            }
        });
        MainForm->SetBaudRate1->trigger();
        MainForm->SetBaudRate1->trigger();
        QCOMPARE(shown, QString("9600"));
        QCOMPARE(pty->read_burst(300), std::string());
    }

    void comSetupCancelStoresNothing() {
        ComPortForm->ComboBox1->setEditText("ttyUSB7");
        ModalWatcher watcher([](QWidget* w) {
            if (auto* d = qobject_cast<TComPortForm*>(w)) d->COMSetupCancel_Button1->click();
        });
        MainForm->COM1Click();
        QVERIFY(PortName.isEmpty());
        QVERIFY(BaudRateText.isEmpty());
        // The dialog keeps what was typed for the next showing.
        QCOMPARE(ComPortForm->ComboBox1->currentText(), QString("ttyUSB7"));
        ComPortForm->ComboBox1->setEditText("COM1");
    }

    void comScanKeepsText() {
        ComPortForm->ComboBox1->setEditText("MyPort");
        ComPortForm->Button1Click();
        QCOMPARE(ComPortForm->ComboBox1->currentText(), QString("MyPort"));
        QVERIFY(ComPortForm->ComboBox1->count() <= ZORVIK_MAX_PORTS);
        ComPortForm->ComboBox1->setEditText("COM1");
    }

    void baudRateCodes_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("code");
        QTest::newRow("4800") << "4800" << 1;
        QTest::newRow("9600") << "9600" << 2;
        QTest::newRow("19200") << "19200" << 4;
        QTest::newRow("38400") << "38400" << 6;
        QTest::newRow("57600") << "57600" << 7;
        QTest::newRow("115200") << "115200" << 8;
    }
    void baudRateCodes() {
        QFETCH(QString, typed);
        QFETCH(int, code);
        connectPty();
        SetComboText(BaudRateForm->ComBox1, typed);
        BaudRateForm->Button1Click();
        // The rate becomes the link's only when the receiver acknowledges it.
        QCOMPARE(BaudRateText, QString("9600"));
        const std::string sent = pty->read_burst();
        const std::string body = "$PKVX09,2," + std::string(1, static_cast<char>('0' + code));
        QVERIFY2(sent.rfind(body + "*", 0) == 0, sent.c_str());
        QCOMPARE(sent.size(), std::size_t{16});
        SetComboText(BaudRateForm->ComBox1, "9600");
    }

    // The baud-rate dialog commands the receiver: only the list's rates. The
    // COM setup dialog sets our own port: any rate the serial layer can set.
    void typedRates_data() {
        QTest::addColumn<bool>("receiverDialog");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("baud: listed") << true << "57600" << true;
        QTest::newRow("baud: unknown to the receiver") << true << "12345" << false;
        QTest::newRow("baud: port rate, not the receiver's") << true << "921600" << false;
        QTest::newRow("baud: empty") << true << "" << false;
        QTest::newRow("com: port rate beyond the list") << false << "921600" << true;
        QTest::newRow("com: no such port rate") << false << "12345" << kOddRateAccepted;
        QTest::newRow("com: empty") << false << "" << false;
        QTest::newRow("com: garbage") << false << "96OO" << false;
    }
    void typedRates() {
        QFETCH(bool, receiverDialog);
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        if (receiverDialog) connectPty();
        const QString portBefore = PortName, rateBefore = BaudRateText;
        QComboBox* box = receiverDialog ? BaudRateForm->ComBox1 : ComPortForm->ComboBox2;
        ComPortForm->ComboBox1->setEditText(pty->port());
        SetComboText(box, typed);
        {
            ModalWatcher watcher;
            receiverDialog ? BaudRateForm->Button1Click() : ComPortForm->COMSetupOK_Button1Click();
            QCOMPARE(watcher.messageBoxes(), accepted ? 0 : 1);
            QCOMPARE(watcher.lastTitle(), accepted ? QString() : QString("Warning"));
            QCOMPARE(watcher.lastText().contains("38400, 57600 or 115200"), !accepted);
        }
        // The receiver's acknowledgement, not the OK, changes the link's rate.
        QCOMPARE(BaudRateText, accepted && !receiverDialog ? typed : rateBefore);
        if (receiverDialog) {
            const std::string sent = pty->read_burst(accepted ? 1000 : 300);
            QVERIFY2(accepted ? sent.rfind("$PKVX09,2,7*", 0) == 0 : sent.empty(), sent.c_str());
        } else {
            QCOMPARE(PortName, accepted ? pty->port() : portBefore);
        }
        SetComboText(box, "9600");
        ComPortForm->ComboBox1->setEditText("COM1");
    }

    void sentenceDialogSends_data() {
        QTest::addColumn<QString>("sentence");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("expected");
        QTest::newRow("RMC on") << "RMC"
                                << "1 - ON"
                                << "$PKVX12,0,4,*";
        QTest::newRow("GSV off") << "GSV"
                                 << "0 - OFF"
                                 << "$PKVX12,4,0,*";
        QTest::newRow("ZDA on") << "ZDA"
                                << "1 - ON"
                                << "$PKVX12,7,4,*";
        QTest::newRow("typed sentence, no item") << "XYZ"
                                                 << "1 - ON"
                                                 << "";
        QTest::newRow("typed mode, no item") << "GGA"
                                             << "2"
                                             << "";
    }
    void sentenceDialogSends() {
        QFETCH(QString, sentence);
        QFETCH(QString, mode);
        QFETCH(QString, expected);
        connectPty();
        SetComboText(SetNMEA_S->ComboBox1, sentence);
        SetComboText(SetNMEA_S->ComboBox2, mode);
        SetNMEA_S->Button1Click();
        const std::string sent = pty->read_burst(expected.isEmpty() ? 300 : 1000);
        if (expected.isEmpty()) {
            QCOMPARE(QString::fromStdString(sent), QString());
        } else {
            QVERIFY2(sent.rfind(expected.toStdString(), 0) == 0, sent.c_str());
        }
        SetComboText(SetNMEA_S->ComboBox1, "RMC");
        SetComboText(SetNMEA_S->ComboBox2, "1 - ON");
    }

    void singleChannel() {
        connectPty();
        QCOMPARE(Single_Channel_Mode->windowTitle(), QString("Signal Channel  Mode"));
        QCOMPARE(Single_Channel_Mode->Edit1->text(), QString("06"));
        QCOMPARE(Single_Channel_Mode->Edit1->maxLength(), 2);

        // Exit without Enter sends nothing.
        Single_Channel_Mode->BitBtn2Click();
        QCOMPARE(QString::fromStdString(pty->read_burst(300)), QString());

        // One character warns and sends nothing.
        Single_Channel_Mode->Edit1->setText("6");
        {
            ModalWatcher watcher;
            Single_Channel_Mode->BitBtn1Click();
            QCOMPARE(watcher.messageBoxes(), 1);
            QCOMPARE(watcher.lastTitle(), QString("Warning!"));
            QCOMPARE(watcher.lastText(), QString("Please key-in correct SV Id!"));
        }
        QCOMPARE(SingleChannelActive, 0);
        QCOMPARE(QString::fromStdString(pty->read_burst(300)), QString());

        // "06" sends the two characters and marks the mode active.
        Single_Channel_Mode->Edit1->setText("06");
        Single_Channel_Mode->BitBtn1Click();
        QCOMPARE(SingleChannelActive, 1);
        std::string sent = pty->read_burst();
        QVERIFY2(sent.rfind("$PKVX08,06*", 0) == 0, sent.c_str());

        // Exit now leaves the mode.
        Single_Channel_Mode->BitBtn2Click();
        QCOMPARE(SingleChannelActive, 0);
        sent = pty->read_burst();
        QVERIFY2(sent.rfind("$PKVX08,,*", 0) == 0, sent.c_str());
    }

    void commandLineSendsWithChecksum() {
        connectPty();
        MainForm->MaskEdit1->setText("$*");
        MainForm->SendClick();
        QCOMPARE(MainForm->Send->text(), QString("00"));
        QCOMPARE(QString::fromStdString(pty->read_burst()), QString("$*00\r\n"));

        MainForm->MaskEdit1->setText("$PKVX14,8*");
        MainForm->SendClick();
        const std::string expected = zorvik::apptest::Sentence("PKVX14,8");
        QCOMPARE(QString::fromStdString(pty->read_burst()), QString::fromStdString(expected));
        QCOMPARE(MainForm->Send->text(),
                 QString::fromStdString(expected.substr(expected.size() - 4, 2)));
    }

    void commandLineRefuses_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("message");
        const QString format = "Please key in '$.......,*'";
        QTest::newRow("empty") << "" << true << format;
        QTest::newRow("no star at the end") << "$PKVX14,8" << true << format;
        QTest::newRow("only star is the first character") << "*" << true << format;
        QTest::newRow("port closed") << "$PKVX14,8*" << false << "The COM port is not connected!";
    }
    void commandLineRefuses() {
        QFETCH(QString, text);
        QFETCH(bool, connected);
        QFETCH(QString, message);
        if (connected) connectPty();
        MainForm->Send->setText("Send");
        MainForm->MaskEdit1->setText(text);
        ModalWatcher watcher;
        MainForm->SendClick();
        QCOMPARE(watcher.messageBoxes(), 1);
        QCOMPARE(watcher.lastTitle(), QString("Warning!"));
        QCOMPARE(watcher.lastText(), message);
        QCOMPARE(MainForm->Send->text(), QString("Send"));
        QCOMPARE(QString::fromStdString(pty->read_burst(300)), QString());
    }

    void aboutBox() {
        QCOMPARE(AboutBox->windowTitle(), QString("About"));
        QCOMPARE(AboutBox->Version->text(), QString("Version " ZORVIK_VERSION));
        QVERIFY(AboutBox->ProgramIcon->pixmap().width() > 0);
        ModalWatcher watcher([](QWidget* w) {
            if (auto* d = qobject_cast<TAboutBox*>(w)) d->OKButton->click();
        });
        MainForm->HelpAboutItem->trigger();
        QCOMPARE(watcher.seen().size(), 1);
        QCOMPARE(watcher.seen()[0].objectName, QString("AboutBox"));
    }
};

QTEST_MAIN(TestDialogs)
#include "test_dialogs.moc"
