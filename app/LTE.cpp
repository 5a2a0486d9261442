#include "LTE.h"

TUpdateLTEToGPS* UpdateLTEToGPS = nullptr;

TUpdateLTEToGPS::TUpdateLTEToGPS(QWidget* parent) : QDialog(parent) {
    setObjectName("UpdateLTEToGPS");
}

void TUpdateLTEToGPS::RunFromToolButton() {}
