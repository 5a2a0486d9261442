#include "BE.h"

TUpdateBEToGPS* UpdateBEToGPS = nullptr;

TUpdateBEToGPS::TUpdateBEToGPS(QWidget* parent)
    : TEphemerisUploadDialog(AgpsKind::BE, "UpdateBEToGPS", "Update BE To GPS", parent) {}
