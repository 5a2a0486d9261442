#include "MainWindow.h"

#include <QPushButton>

#include "Main.h"

TMainMDIChild* MainMDIChild = nullptr;

TMainMDIChild::TMainMDIChild(QWidget* parent) : QWidget(parent) {
    setObjectName("MainMDIChild");
    SpeedButton2 = new QPushButton("Start", this);
    SpeedButton2->setObjectName("SpeedButton2");
    SpeedButton2->setEnabled(false);
}

void TMainMDIChild::FormCreate() {}
void TMainMDIChild::DrawEmptyChannelChart() {}
void TMainMDIChild::DrawSkyBackground() {}
void TMainMDIChild::DrawChannelChart() {}
void TMainMDIChild::DrawSkyPlot() {}

void TMainForm::Timer1Timer() {}
