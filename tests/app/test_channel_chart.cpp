// Pixel checks of the channel chart, in channel and in PRN order.
#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <cstring>

#include "ChannelChart.h"
#include "Main.h"
#include "MainWindow.h"
#include "shell_support.h"

namespace {

using namespace ChannelChart;

constexpr int B = kBaseline;  // 210

int SlotX(int slot) {
    return kSlotPitch * slot;
}

QColor At(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}

ParseNMEAInfo EmptyInfo() {
    ParseNMEAInfo info;
    std::memset(&info, 0, sizeof info);
    return info;
}

void SetChannel(ParseNMEAInfo& info, int ch, int status, int prn, int cn0) {
    info.ch_status[ch] = status;
    info.sv_prn[ch] = prn;
    info.sv_snr[ch] = cn0;
}

bool Dark(QColor c) {
    return c.red() < 80 && c.green() < 80 && c.blue() < 80;
}

// Leftmost column with a dark pixel inside a box, searching between first and
// last column (inclusive) over the given rows.
int LeftmostDark(const QImage& image, int first, int last, int top, int bottom) {
    for (int x = first; x <= last; ++x)
        for (int y = top; y <= bottom; ++y)
            if (Dark(At(image, x, y))) return x;
    return -1;
}

// Where the first dark pixel of a text lies relative to the point it is drawn at.
int TextInk(const QString& text) {
    QImage image(60, 30, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setFont(BitmapFont());
    p.setPen(Qt::black);
    p.drawText(QRect(10, 5, 50, 25), Qt::AlignLeft | Qt::AlignTop, text);
    p.end();
    return LeftmostDark(image, 0, 59, 0, 29) - 10;
}

}  // namespace

class TestChannelChart : public QObject {
    Q_OBJECT
  private slots:
    void emptySlotsShowBlueFrames() {
        const QImage chart = RenderEmpty();
        QCOMPARE(chart.size(), QSize(266, 240));
        const QColor blue(0, 0, 255);
        const QColor face = StateColors(0);
        for (int slot : {0, 5, 11}) {
            const int x = SlotX(slot);
            // Bar frame 8..209 and PRN box 210..229, each 18 columns wide.
            QCOMPARE(At(chart, x, 8), blue);
            QCOMPARE(At(chart, x + 17, 100), blue);
            QCOMPARE(At(chart, x + 9, 8), blue);
            QCOMPARE(At(chart, x + 9, 209), blue);
            QCOMPARE(At(chart, x + 9, 210), blue);
            QCOMPARE(At(chart, x + 9, 229), blue);
            QCOMPARE(At(chart, x + 9, 7), face);
            QCOMPARE(At(chart, x + 9, 230), face);
            QCOMPARE(At(chart, x + 18, 100), face);  // the gap between slots
            QCOMPARE(At(chart, x + 9, 100), face);
            QCOMPARE(At(chart, x + 9, 220), face);  // empty PRN box
        }
        QCOMPARE(At(chart, 249, 100), face);  // slot 11 ends at 248
    }

    void statusZeroDrawsNothingWhateverItsCn0() {
        ParseNMEAInfo info = EmptyInfo();
        SetChannel(info, 3, 0, 0, 45);
        QCOMPARE(Render(info, false), RenderEmpty());
    }

    void searchingSlotHasYellowBoxAndNoBar() {
        ParseNMEAInfo info = EmptyInfo();
        SetChannel(info, 2, 1, 5, 40);
        const QImage chart = Render(info, false);
        const int x = SlotX(2);
        QCOMPARE(At(chart, x, B), QColor(Qt::black));
        QCOMPARE(At(chart, x + 1, B + 1), QColor(255, 255, 144));
        QCOMPARE(At(chart, x + 16, 228), QColor(255, 255, 144));
        for (int y = 9; y < B - 1; y += 7) QCOMPARE(At(chart, x + 9, y), StateColors(0));
    }

    void trackingAndUsedBars_data() {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("cn0");
        QTest::newRow("track 45") << 2 << 45;
        QTest::newRow("pvt 30") << 3 << 30;
        QTest::newRow("pvt 1") << 3 << 1;
        QTest::newRow("track 61 lifts the cap over the frame") << 2 << 61;
    }
    void trackingAndUsedBars() {
        QFETCH(int, status);
        QFETCH(int, cn0);
        ParseNMEAInfo info = EmptyInfo();
        SetChannel(info, 4, status, 12, cn0);
        const QImage chart = Render(info, false);
        const int x = SlotX(4);
        const int h = static_cast<int>(cn0 * 3.2);
        const QColor green(52, 169, 90);
        const QColor cap = StateColors(status);
        QCOMPARE(h, BarHeight(cn0));
        // PRN box in the status colour.
        QCOMPARE(At(chart, x + 1, B + 1), cap);
        // Bar from B - h down to B, black outline, green inside.
        QCOMPARE(At(chart, x, B - 1), QColor(Qt::black));
        QCOMPARE(At(chart, x + 17, B - 1), QColor(Qt::black));
        QCOMPARE(At(chart, x + 9, B - 1), QColor(Qt::black));
        if (h > 4) QCOMPARE(At(chart, x + 16, B - 2), green);
        // Cap: 11 rows from B - h - 9 to B - h + 1, overlapping the bar by 2.
        QCOMPARE(At(chart, x + 9, B - h - 9), QColor(Qt::black));
        QCOMPARE(At(chart, x + 9, B - h + 1), QColor(Qt::black));
        QCOMPARE(At(chart, x + 16, B - h - 8), cap);
        QCOMPARE(At(chart, x + 16, B - h), cap);
        QCOMPARE(At(chart, x + 9, B - h - 10),
                 B - h - 10 == 8 ? QColor(0, 0, 255) : StateColors(0));
        if (h >= 6) QCOMPARE(At(chart, x + 9, B - h + 2), green);
        // The C/N0 label sits just below the cap on the bar's green.
        const int ink = LeftmostDark(chart, x + 1, x + 16, B - h + 6, B - h + 17);
        QCOMPARE(ink, x + 2 + TextInk(QString::number(cn0)));
    }

    void zeroCn0PutsTheCapOnTheBaseline() {
        ParseNMEAInfo info = EmptyInfo();
        SetChannel(info, 0, 2, 8, 0);
        const QImage chart = Render(info, false);
        QCOMPARE(At(chart, 9, B - 9), QColor(Qt::black));
        QCOMPARE(At(chart, 9, B + 1), QColor(Qt::black));
        QCOMPARE(At(chart, 16, B - 5), StateColors(2));
        QCOMPARE(At(chart, 9, B - 10), StateColors(0));
        // "0" written at B + 6 on green, over the PRN box.
        int green = 0;
        for (int y = B + 6; y < B + 18; ++y)
            for (int x = 2; x < 16; ++x) green += At(chart, x, y) == QColor(52, 169, 90);
        QVERIFY(green > 10);
        QCOMPARE(LeftmostDark(chart, 1, 16, B + 6, B + 17), 2 + TextInk("0"));
    }

    void prnLabelOffsets() {
        ParseNMEAInfo info = EmptyInfo();
        SetChannel(info, 1, 1, 7, 0);
        SetChannel(info, 2, 1, 17, 0);
        SetChannel(info, 3, 1, 129, 0);
        const QImage chart = Render(info, false);
        auto ink = [&](int slot) {
            return LeftmostDark(chart, SlotX(slot) + 1, SlotX(slot) + 16, B + 2, 228) - SlotX(slot);
        };
        QCOMPARE(ink(1), 2 + TextInk(" 7"));  // one leading space below 10
        QCOMPARE(ink(2), 2 + TextInk("17"));
        QCOMPARE(ink(3), ink(2) - 2);  // three digits start 2 pixels further left
        QVERIFY(ink(1) > ink(2));
    }

    void absurdValuesAreClipped() {
        ParseNMEAInfo info = EmptyInfo();
        SetChannel(info, 0, 3, 1, 2147483647);
        SetChannel(info, 1, 2, -5, -2147483647);
        SetChannel(info, 2, 77, 3, 20);  // unknown status: no colour of its own
        const QImage chart = Render(info, false);
        QCOMPARE(chart.size(), QSize(266, 240));
        QCOMPARE(At(chart, 2 * 21 + 1, B + 1), StateColors(0));
    }

    // Through the live view: PRN order from the library's sorted columns.
    void prnOrderFollowsTheLibrary() {
        zorvik::apptest::EnsureApplicationWindows();
        TMainMDIChild* view = MainMDIChild;
        QVERIFY(view != nullptr);
        ClearChStatus();
        using zorvik::apptest::Sentence;
        for (const std::string& body :
             {std::string("GPGSV,1,1,03,17,45,090,40,03,30,180,35,09,10,270,")}) {
            std::string line = Sentence(body);
            line.resize(line.size() - 2);  // the reader strips CR LF
            ParseNMEA(line.data());
        }
        std::string gsa = Sentence("GPGSA,A,3,17,,,,,,,,,,,,2.0,1.0,1.7");
        gsa.resize(gsa.size() - 2);
        ParseNMEA(gsa.data());
        GetChStatus();
        GetParseNMEAInfo(&StateCopy);
        QCOMPARE(StateCopy.ch_status[0], 3);
        QCOMPARE(StateCopy.ch_status[1], 2);
        QCOMPARE(StateCopy.ch_status[2], 1);

        SortByPRN = 0;
        view->Button1->setText("SV");
        view->DrawChannelChart();
        QImage chart = view->Image2->picture();
        QCOMPARE(At(chart, SlotX(0) + 1, B + 1), StateColors(3));
        QCOMPARE(At(chart, SlotX(1) + 1, B + 1), StateColors(2));
        QCOMPARE(At(chart, SlotX(2) + 1, B + 1), StateColors(1));

        // The button's caption names the order that the next click selects;
        // the chart changes only at its next drawing.
        QTest::mouseClick(view->Button1, Qt::LeftButton);
        QCOMPARE(SortByPRN, 1);
        QCOMPARE(view->Button1->text(), QString("Channel"));
        QCOMPARE(view->Image2->picture(), chart);
        view->DrawChannelChart();
        chart = view->Image2->picture();
        // Nine empty channels first, then PRN 3, 9, 17.
        for (int slot = 0; slot < 9; ++slot)
            QCOMPARE(At(chart, SlotX(slot) + 9, B), QColor(0, 0, 255));
        QCOMPARE(At(chart, SlotX(9) + 1, B + 1), StateColors(2));
        QCOMPARE(At(chart, SlotX(10) + 1, B + 1), StateColors(1));
        QCOMPARE(At(chart, SlotX(11) + 1, B + 1), StateColors(3));

        QTest::mouseClick(view->Button1, Qt::LeftButton);
        QCOMPARE(SortByPRN, 0);
        QCOMPARE(view->Button1->text(), QString("SV"));
    }

    void legendHasTheStatusColours() {
        zorvik::apptest::EnsureApplicationWindows();
        TMainMDIChild* view = MainMDIChild;
        QCOMPARE(view->Shape_C1->brushColor(), StateColors(1));
        QCOMPARE(view->Shape_C2->brushColor(), QColor(215, 228, 242));
        QCOMPARE(view->Shape_C3->brushColor(), QColor(0, 255, 0));
        QCOMPARE(view->Label_C2->palette().color(QPalette::Window), QColor(215, 228, 242));
        QCOMPARE(view->Label_C1->text(), QString("Search"));
        QCOMPARE(view->Label_C3->text(), QString("PVT"));
    }
};

QTEST_MAIN(TestChannelChart)
#include "test_channel_chart.moc"
