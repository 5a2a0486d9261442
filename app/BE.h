// BE: the BE ephemeris tool: download from the A-GPS server and the upload dialog.
#pragma once

#include "AgpsDownload.h"

class TUpdateBEToGPS : public TEphemerisUploadDialog {
    Q_OBJECT
  public:
    explicit TUpdateBEToGPS(QWidget* parent = nullptr);
};

extern TUpdateBEToGPS* UpdateBEToGPS;
