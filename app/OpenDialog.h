// TOpenDialog: a file-open component. It keeps its filter, the file name it
// holds, the folder and the filter choice it last showed, and makes the file
// dialog only while it runs: a file dialog watches its folder and re-reads it on every change,
// which a closed one must not cost.
#pragma once

#include <QObject>
#include <QString>

class QFileDialog;
class QWidget;

class TOpenDialog : public QObject {
    Q_OBJECT
  public:
    TOpenDialog(QObject* parent, const char* name, const QString& filter);

    // Runs the dialog modally over owner. True when the user chose a file,
    // which FileName() then holds; otherwise FileName() is unchanged.
    bool Execute(QWidget* owner);
    const QString& FileName() const { return file_name_; }
    // The file dialog while Execute runs, otherwise nullptr.
    QFileDialog* Dialog() const { return dialog_; }

  private:
    QString filter_;
    QString file_name_;
    QString folder_;
    QString filter_choice_;
    QFileDialog* dialog_ = nullptr;
};
