#include "OpenDialog.h"

#include <QFileDialog>

TOpenDialog::TOpenDialog(QObject* parent, const char* name, const QString& filter)
    : QObject(parent), filter_(filter) {
    setObjectName(name);
}

bool TOpenDialog::Execute(QWidget* owner) {
    QFileDialog dialog(owner);
    dialog.setObjectName(objectName());
    dialog.setNameFilter(filter_);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!folder_.isEmpty()) dialog.setDirectory(folder_);
    if (!filter_choice_.isEmpty()) dialog.selectNameFilter(filter_choice_);
    if (!file_name_.isEmpty()) dialog.selectFile(file_name_);

    dialog_ = &dialog;
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    dialog_ = nullptr;
    if (chosen) file_name_ = dialog.selectedFiles().constFirst();
    folder_ = dialog.directory().absolutePath();
    filter_choice_ = dialog.selectedNameFilter();
    return chosen;
}
