// MainWindow: the live view TMainMDIChild ("Main Window"): time, date,
// position, DOP, fix, the TTFF test, the channel chart and the sky plot.
#pragma once

#include <QWidget>

class QPushButton;

class TMainMDIChild : public QWidget {
    Q_OBJECT
public:
    explicit TMainMDIChild(QWidget* parent = nullptr);

    // The TTFF test's "Start" (enabled while connected, by the main window).
    QPushButton* SpeedButton2 = nullptr;

    void FormCreate();
    void DrawEmptyChannelChart();
    void DrawSkyBackground();
    void DrawChannelChart();
    void DrawSkyPlot();
};

extern TMainMDIChild* MainMDIChild;
