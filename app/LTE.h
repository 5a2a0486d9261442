// LTE: the LTE ephemeris tool: download from the A-GPS server and the upload dialog.
#pragma once

#include "AgpsDownload.h"

class TUpdateLTEToGPS : public TEphemerisUploadDialog {
    Q_OBJECT
  public:
    explicit TUpdateLTEToGPS(QWidget* parent = nullptr);
};

extern TUpdateLTEToGPS* UpdateLTEToGPS;
