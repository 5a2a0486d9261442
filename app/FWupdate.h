// FWupdate: the firmware download dialog TFWUpdateForm ("DwonLoad FW").
#pragma once

#include <QDialog>

class TFWUpdateForm : public QDialog {
    Q_OBJECT
public:
    explicit TFWUpdateForm(QWidget* parent = nullptr);
};

extern TFWUpdateForm* FWUpdateForm;
