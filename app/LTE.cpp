#include "LTE.h"

TUpdateLTEToGPS* UpdateLTEToGPS = nullptr;

TUpdateLTEToGPS::TUpdateLTEToGPS(QWidget* parent)
    : TEphemerisUploadDialog(AgpsKind::LTE, "UpdateLTEToGPS", "UpdateLTEToGPS", parent) {}
