// A firmware download through the firmware dialog and the Win32 serial
// backend: the receiver simulator runs on the Linux side of ZORVIK_SIM_PORT
// (scripts/wine-test.sh starts it and maps the port), the dialog commands its
// boot loader at 9600 bps, sends the image at 115200 bps, and the image the
// boot loader wrote (ZORVIK_SIM_IMAGE) must be the file, block padding aside.
// Without that set-up the test skips itself.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

#include "FWThread.h"
#include "FWupdate.h"
#include "Main.h"
#include "ZorvikDll.h"
#include "shell_support.h"

namespace {

QString Environment(const char* name) {
    return qEnvironmentVariable(name);
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestWin32Flash : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString port_, image_out_, report_;

  private slots:
    void initTestCase() {
        port_ = Environment("ZORVIK_SIM_PORT");
        image_out_ = Environment("ZORVIK_SIM_IMAGE");
        report_ = Environment("ZORVIK_SIM_REPORT");
        if (port_.isEmpty() || image_out_.isEmpty() || report_.isEmpty())
            QSKIP("no simulator on a mapped port (scripts/wine-test.sh sets one up)");
        QVERIFY(dir_.isValid());
        CreateApplicationWindows();
        // The live view's tick would clear the sentence flag watched here.
        MainForm->Timer1->stop();
    }

    void firmwareArrivesByteForByte() {
        PortName = port_;
        BaudRateText = "9600";
        MainForm->ToolButton1Click();
        QCOMPARE(GetComPort_connected_Status(), 1);
        QVERIFY(zorvik::apptest::ReceivingSentences(10000));

        // Not a multiple of the 1024-byte block, so the last block is padded.
        const QByteArray image = zorvik::apptest::ImagePattern(481280 + 700);
        const QString file = dir_.filePath("firmware.bin");
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(image), image.size());
        }
        QFile::remove(image_out_);

        TFWUpdateForm* form = FWUpdateForm;
        form->show();
        form->Edit4->setText("5000");
        form->RadioButton1->setChecked(true);
        form->Edit3->setText(QDir::toNativeSeparators(file));
        form->Button2Click();
        QVERIFY(form->Worker());
        QVERIFY(QTest::qWaitFor(
            [&] { return download_running.load() == 0 && form->Button2->isEnabled(); }, 240000));
        QCOMPARE(form->Label1->text(), QString("   File upload OK!(OK)"));
        QCOMPARE(form->ProgressBar1->value(), 100);

        // The boot loader began only once the port ran at 115200 bps, and
        // wrote what it received.
        QVERIFY(QTest::qWaitFor([&] { return ReadAll(report_).contains("\"event\":\"image\""); },
                                10000));
        QVERIFY(ReadAll(report_).contains("\"state\":\"erasing\""));
        QVERIFY(ReadAll(report_).contains("\"written\":true"));
        const QByteArray got = ReadAll(image_out_);
        QVERIFY(got.size() >= image.size());
        QVERIFY(got.left(image.size()) == image);
        QCOMPARE(got.mid(image.size()), QByteArray(got.size() - image.size(), '\x1A'));

        // Back at the NMEA rate, sentences arriving again.
        QCOMPARE(BaudRateText, QString("9600"));
        QVERIFY(zorvik::apptest::ReceivingSentences(15000));
        MainForm->ToolButton1Click();
    }
};

QTEST_MAIN(TestWin32Flash)
#include "test_win32_flash.moc"
