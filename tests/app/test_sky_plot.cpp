// Pixel checks of the sky plot: template, disc squares, labels, and failures.
#include <QApplication>
#include <QPainter>
#include <QTest>
#include <cstring>

#include "ChannelChart.h"
#include "Main.h"
#include "MainWindow.h"
#include "SkyPlot.h"
#include "shell_support.h"

namespace {

ParseNMEAInfo EmptyInfo() {
    ParseNMEAInfo info;
    std::memset(&info, 0, sizeof info);
    return info;
}

void SetSatellite(ParseNMEAInfo& info, int ch, int status, int prn, int elevation, int azimuth) {
    info.ch_status[ch] = status;
    info.sv_prn[ch] = prn;
    info.sv_snr[ch] = status >= 2 ? 40 : 0;
    info.sv_elevation[ch] = elevation;
    info.sv_azimuth[ch] = azimuth;
}

QColor At(const QImage& image, int x, int y) {
    return image.pixelColor(x, y);
}
bool Dark(QColor c) {
    return c.red() < 80 && c.green() < 80 && c.blue() < 80;
}

}  // namespace

class TestSkyPlot : public QObject {
    Q_OBJECT
  private slots:
    void templateMatchesTheGrid() {
        const QImage sky = SkyPlot::RenderBackground();
        QCOMPARE(sky.size(), QSize(512, 384));
        const QColor cyan(0, 255, 255);
        // Axes through the zenith (136, 132), horizon ring 102 pixels out.
        QCOMPARE(At(sky, 136, 100), cyan);
        QCOMPARE(At(sky, 180, 132), cyan);
        int cyan_on_horizon = 0;
        for (int dx = -2; dx <= 2; ++dx) {
            const QColor c = At(sky, 136 + 102 + dx, 140);
            cyan_on_horizon += c.red() < 120 && c.green() > 150 && c.blue() > 150;
        }
        QVERIFY(cyan_on_horizon > 0);
        // Beyond the seen 268 x 257 area the bitmap is white.
        QCOMPARE(At(sky, 300, 100), QColor(Qt::white));
        QCOMPARE(At(sky, 100, 300), QColor(Qt::white));
    }

    void discSquares_data() {
        QTest::addColumn<int>("elevation");
        QTest::addColumn<int>("azimuth");
        QTest::addColumn<QRect>("square");  // left, top, right, bottom (GDI)
        QTest::newRow("zenith") << 90 << 0 << QRect(QPoint(124, 120), QPoint(148, 144));
        QTest::newRow("east horizon") << 0 << 90 << QRect(QPoint(226, 120), QPoint(250, 144));
        QTest::newRow("west horizon") << 0 << -90 << QRect(QPoint(22, 120), QPoint(46, 144));
    }
    void discSquares() {
        QFETCH(int, elevation);
        QFETCH(int, azimuth);
        QFETCH(QRect, square);
        const int l = square.left(), t = square.top();
        const int r = square.right(), b = square.bottom();  // QPoint-built: r, b inclusive
        ParseNMEAInfo info = EmptyInfo();
        SetSatellite(info, 0, 3, 5, elevation, azimuth);
        const QImage sky = SkyPlot::Render(info);
        const QImage bare = SkyPlot::RenderBackground();
        const int cy = (t + b) / 2;  // row 132: the east-west axis crosses the disc there
        // Outline on the square's left and right columns, not beyond.
        QCOMPARE(At(sky, l, cy), QColor(Qt::black));
        QCOMPARE(At(sky, r - 1, cy), QColor(Qt::black));
        QCOMPARE(At(sky, l - 1, cy), At(bare, l - 1, cy));
        QCOMPARE(At(sky, r, cy), At(bare, r, cy));
        QCOMPARE(At(sky, (l + r) / 2, b - 1), QColor(Qt::black));
        QCOMPARE(At(sky, (l + r) / 2, b), At(bare, (l + r) / 2, b));
        // Filled in the status colour.
        QCOMPARE(At(sky, l + 2, cy), QColor(0, 255, 0));
        QCOMPARE(At(sky, (l + r) / 2, b - 3), QColor(0, 255, 0));
    }

    void labelOffsets() {
        // Three discs far apart; the text's leftmost dark pixel inside each.
        ParseNMEAInfo info = EmptyInfo();
        SetSatellite(info, 0, 2, 7, 60, 0);
        SetSatellite(info, 1, 2, 17, 60, 120);
        SetSatellite(info, 2, 2, 129, 60, 240);
        const QImage sky = SkyPlot::Render(info);
        auto ink = [&](int ch) {
            int x = 0, y = 0;
            GetSAT_Pos(info.sv_elevation[ch], info.sv_azimuth[ch], &x, &y);
            for (int cx = x + 2; cx < x + 22; ++cx)
                for (int cy = y + 6; cy < y + 17; ++cy)
                    if (Dark(At(sky, cx, cy))) return cx - x;
            return -1;
        };
        QVERIFY(ink(1) > 0);
        QCOMPARE(ink(2), ink(1) - 3);  // three digits start 3 pixels further left
        QVERIFY(ink(0) > ink(1));      // the leading space of a one-digit PRN
    }

    void onlyPositionedSatellitesAppear() {
        ParseNMEAInfo info = EmptyInfo();
        SetSatellite(info, 0, 2, 12, 90, 0);
        info.sv_pos_missing[0] = 1;          // GSV gave no elevation or azimuth
        SetSatellite(info, 1, 0, 0, 0, 90);  // empty channel
        const QImage sky = SkyPlot::Render(info);
        QCOMPARE(sky, SkyPlot::RenderBackground());
        // The chart still shows the tracked satellite.
        const QImage chart = ChannelChart::Render(info, false);
        QCOMPARE(At(chart, 1, ChannelChart::kBaseline + 1), StateColors(2));
    }

    void laterChannelCoversEarlier() {
        ParseNMEAInfo info = EmptyInfo();
        SetSatellite(info, 0, 3, 20, 90, 0);
        SetSatellite(info, 1, 1, 21, 90, 0);
        const QImage sky = SkyPlot::Render(info);
        QCOMPARE(At(sky, 126, 132), QColor(255, 255, 144));
    }

    void viewDrawsAndReportsFailures() {
        zorvik::apptest::EnsureApplicationWindows();
        TMainMDIChild* view = MainMDIChild;
        QStringList reported;
        auto saved = view->ReportDrawingFailure;
        view->ReportDrawingFailure = [&](const QString& m) { reported << m; };

        view->DrawSkyBackground();
        QCOMPARE(view->Image1->picture(), SkyPlot::RenderBackground());
        std::memset(&StateCopy, 0, sizeof StateCopy);
        SetSatellite(StateCopy, 0, 3, 5, 90, 0);
        view->DrawSkyPlot();
        const QImage plotted = view->Image1->picture();
        QCOMPARE(At(plotted, 126, 132), QColor(0, 255, 0));

        // A missing template: the message, and the picture stays as it was.
        const QString path = SkyPlot::TemplatePath;
        SkyPlot::TemplatePath = "/nonexistent/sky.png";
        QVERIFY(SkyPlot::LoadTemplate().isNull());
        SkyPlot::TemplatePath = path;
        view->Image3->setPicture(SkyPlot::LoadTemplate());
        view->DrawSkyBackground();
        QCOMPARE(reported, QStringList{});
        view->Image3->setPicture(QImage());
        view->DrawSkyBackground();
        QCOMPARE(reported, QStringList{"Could display bitmap(Sat)"});
        view->DrawSkyPlot();
        view->DrawSkyPlot();  // a run of failures is reported once
        QCOMPARE(reported.size(), 2);
        QCOMPARE(reported.last(), QString("Could display bitmap(Sat)"));
        QCOMPARE(view->Image1->picture(), SkyPlot::Template());  // the last good picture
        view->Image3->setPicture(SkyPlot::Template());
        view->DrawSkyBackground();
        QCOMPARE(reported.size(), 2);
        QCOMPARE(view->Image1->picture(), SkyPlot::Template());
        view->ReportDrawingFailure = saved;
        std::memset(&StateCopy, 0, sizeof StateCopy);
    }

    void degreeSignIsVisible() {
        zorvik::apptest::EnsureApplicationWindows();
        const QImage sign = MainMDIChild->Image6->picture();
        QCOMPARE(sign.size(), QSize(364, 335));
        int ink = 0;
        for (int x = 0; x < 9; ++x)
            for (int y = 0; y < 30; ++y)
                ink += sign.pixelColor(x, y).blue() > 100 && sign.pixelColor(x, y).red() < 100;
        QVERIFY(ink > 4);
    }
};

QTEST_MAIN(TestSkyPlot)
#include "test_sky_plot.moc"
