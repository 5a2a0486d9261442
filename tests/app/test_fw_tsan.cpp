// A firmware run with the progress timer polling the transfer engine from the
// GUI thread while the worker transfers: meant for the ThreadSanitizer build.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "FWThread.h"
#include "FWupdate.h"
#include "Main.h"
#include "ZorvikDll.h"
#include "receiver_sim.h"

class TestFWTsan : public QObject {
    Q_OBJECT

  private slots:
    void runWithProgressPolling() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QDir::setCurrent(dir.path());
        CreateApplicationWindows();
        MainForm->Timer1->stop();

        ReceiverSim sim({"--time-scale", "0.25"});
        PortName = QString::fromStdString(sim.device());
        BaudRateText = "9600";
        MainForm->ToolButton1Click();
        QCOMPARE(GetComPort_connected_Status(), 1);

        QFile file("fsa.bin");
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(8192, '\x5A'));
        file.close();

        auto* f = FWUpdateForm;
        f->show();
        f->RadioButton3->setChecked(true);
        f->Edit2->setText(QDir::current().absoluteFilePath("fsa.bin"));
        // Besides Timer1, poll the progress record as often as the loop allows.
        QTimer extra;
        int last_percent = 0;
        bool went_backwards = false;
        connect(&extra, &QTimer::timeout, this, [&] {
            XmodemPPInfo info{};
            GetXmodemPPInfo(&info);
            if (info.percent_1k < last_percent) went_backwards = true;
            last_percent = info.percent_1k;
        });
        extra.start(1);
        f->Button2Click();
        QVERIFY(f->Worker());
        QVERIFY(QTest::qWaitFor(
            [&] { return download_running.load() == 0 && f->Button2->isEnabled(); }, 120000));
        extra.stop();
        QCOMPARE(f->Label1->text(), QString("   File upload OK!(OK)"));
        QCOMPARE(f->Label2->text(), QString("100%"));
        QVERIFY(!went_backwards);

        f->Button1Click();
        MainForm->ToolButton1Click();
        QTest::qWait(300);
    }
};

QTEST_MAIN(TestFWTsan)
#include "test_fw_tsan.moc"
