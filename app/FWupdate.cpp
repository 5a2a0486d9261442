#include "FWupdate.h"

TFWUpdateForm* FWUpdateForm = nullptr;

TFWUpdateForm::TFWUpdateForm(QWidget* parent) : QDialog(parent) {
    setObjectName("FWUpdateForm");
    setWindowTitle("DwonLoad FW");
}
