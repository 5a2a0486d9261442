#include "BE.h"

TUpdateBEToGPS* UpdateBEToGPS = nullptr;

TUpdateBEToGPS::TUpdateBEToGPS(QWidget* parent) : QDialog(parent) {
    setObjectName("UpdateBEToGPS");
}

void TUpdateBEToGPS::RunFromToolButton() {}
