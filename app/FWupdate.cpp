#include "FWupdate.h"

#include "Unit11.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include "BaudChange.h"
#include "FWThread.h"
#include "Fonts.h"
#include "Main.h"
#include "OpenFailureText.h"

TFWUpdateForm* FWUpdateForm = nullptr;

namespace {

const char* const kFileFilter = "Binary Files (*.bin);;All Files (*.*)";

QGroupBox* FileGroup(QWidget* parent, const char* name, const char* title, const char* edit_name,
                     QLineEdit*& edit, const char* button_name, const char* button_text,
                     QPushButton*& button) {
    auto* group = new QGroupBox(title, parent);
    group->setObjectName(name);
    edit = new QLineEdit(group);
    edit->setObjectName(edit_name);
    edit->setMinimumWidth(300);
    button = new QPushButton(button_text, group);
    button->setObjectName(button_name);
    auto* layout = new QHBoxLayout(group);
    layout->addWidget(edit, 1);
    layout->addWidget(button);
    return group;
}

}  // namespace

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text,
                                           const QString& caption,
                                           QMessageBox::StandardButtons buttons) {
    QMessageBox box(parent);
    box.setObjectName("ZorvikMessageBox");
    box.setWindowTitle(caption);
    box.setText(text);
    box.setStandardButtons(buttons);
    box.setDefaultButton(buttons.testFlag(QMessageBox::Ok) ? QMessageBox::Ok
                                                           : QMessageBox::NoButton);
    box.setEscapeButton(buttons.testFlag(QMessageBox::Cancel) ? QMessageBox::Cancel
                                                              : QMessageBox::Ok);
    const int answer = box.exec();
    return static_cast<QMessageBox::StandardButton>(answer);
}

TFWUpdateForm::TFWUpdateForm(QWidget* parent) : QDialog(parent) {
    setObjectName("FWUpdateForm");
    setWindowTitle("DwonLoad FW");
    setModal(true);

    GroupBox1 = new QGroupBox(" Transfer Protocol ", this);
    GroupBox1->setObjectName("GroupBox1");
    ComboBox1 = new QComboBox(GroupBox1);
    ComboBox1->setObjectName("ComboBox1");
    ComboBox1->addItem("XModem-1K");
    ComboBox1->setCurrentIndex(0);
    (new QVBoxLayout(GroupBox1))->addWidget(ComboBox1);

    GroupBox2 = new QGroupBox(" Upload Status", this);
    GroupBox2->setObjectName("GroupBox2");
    ComboBox2 = new QComboBox(GroupBox2);
    ComboBox2->setObjectName("ComboBox2");
    ComboBox2->addItems({"FirmWare", "Flash Kernel", "FSA", "All Image"});
    ComboBox2->setCurrentIndex(0);
    ComboBox2->setEnabled(false);
    (new QVBoxLayout(GroupBox2))->addWidget(ComboBox2);

    Label8 = new QLabel("Waiting Time :", this);
    Label8->setObjectName("Label8");
    Edit4 = new QLineEdit("5000", this);
    Edit4->setObjectName("Edit4");
    Edit4->setMaximumWidth(90);

    GroupBox5 = FileGroup(this, "GroupBox5", "FW to Update", "Edit3", Edit3, "Button5", "Browse >>",
                          Button5);
    GroupBox3 = FileGroup(this, "GroupBox3", "Kernel  to Upload ", "Edit1", Edit1, "Button3",
                          " Browse  >>", Button3);
    GroupBox3->setEnabled(false);
    GroupBox4 = FileGroup(this, "GroupBox4", "FSA to Update", "Edit2", Edit2, "Button4",
                          "Browse >>", Button4);
    GroupBox6 = FileGroup(this, "GroupBox6", "All Image to Update", "Edit5", Edit5, "Button6",
                          "Browse >>", Button6);

    RadioButton1 = new QRadioButton("Enable FW Update", this);
    RadioButton1->setObjectName("RadioButton1");
    RadioButton2 = new QRadioButton("Enable Kernel Update", this);
    RadioButton2->setObjectName("RadioButton2");
    RadioButton3 = new QRadioButton("Enable FSA Update", this);
    RadioButton3->setObjectName("RadioButton3");
    RadioButton4 = new QRadioButton("Enable All-Image Update", this);
    RadioButton4->setObjectName("RadioButton4");
    RadioButton1->setChecked(true);

    OpenDialog1 = new TOpenDialog(this, "OpenDialog1", kFileFilter);
    OpenDialog2 = new TOpenDialog(this, "OpenDialog2", kFileFilter);
    OpenDialog3 = new TOpenDialog(this, "OpenDialog3", kFileFilter);
    OpenDialog4 = new TOpenDialog(this, "OpenDialog4", kFileFilter);

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName("ProgressBar1");
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    Label2 = new QLabel("0%", this);
    Label2->setObjectName("Label2");
    Label2->setMinimumWidth(40);

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setFont(Fonts::ArialPoints(14, QFont::Bold));
    QPalette palette = Label1->palette();
    palette.setColor(QPalette::WindowText, QColor(0, 0, 128));  // navy
    Label1->setPalette(palette);
    Label1->setMinimumHeight(32);

    Button1 = new QPushButton("Close", this);
    Button1->setObjectName("Button1");
    Button1->setAutoDefault(false);
    Button2 = new QPushButton("Start", this);
    Button2->setObjectName("Button2");
    Button2->setAutoDefault(false);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(200);

    // Layout: protocol, area and waiting time on top; the four files with
    // their radio buttons; progress, status line and the two buttons below.
    auto* top = new QHBoxLayout;
    top->addWidget(GroupBox1);
    top->addWidget(GroupBox2);
    auto* waiting = new QHBoxLayout;
    waiting->addWidget(Label8);
    waiting->addWidget(Edit4);
    waiting->addStretch();
    top->addLayout(waiting);

    auto* files = new QGridLayout;
    files->addWidget(RadioButton1, 0, 0);
    files->addWidget(GroupBox5, 0, 1);
    files->addWidget(RadioButton2, 1, 0);
    files->addWidget(GroupBox3, 1, 1);
    files->addWidget(RadioButton3, 2, 0);
    files->addWidget(GroupBox4, 2, 1);
    files->addWidget(RadioButton4, 3, 0);
    files->addWidget(GroupBox6, 3, 1);

    auto* progress = new QHBoxLayout;
    progress->addWidget(ProgressBar1, 1);
    progress->addWidget(Label2);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button2);
    buttons->addWidget(Button1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(files);
    layout->addLayout(progress);
    layout->addWidget(Label1);
    layout->addLayout(buttons);

    connect(Button1, &QPushButton::clicked, this, &TFWUpdateForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFWUpdateForm::Button2Click);
    connect(Button5, &QPushButton::clicked, this, &TFWUpdateForm::Button5Click);
    connect(Button3, &QPushButton::clicked, this, &TFWUpdateForm::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TFWUpdateForm::Button4Click);
    connect(Button6, &QPushButton::clicked, this, &TFWUpdateForm::Button6Click);
    connect(Timer1, &QTimer::timeout, this, &TFWUpdateForm::Timer1Timer);
}

TFWUpdateForm::~TFWUpdateForm() {
    // At exit a run may still be going: stop it and let it leave the library
    // call. The worker never waits for the GUI thread, so this cannot deadlock.
    if (worker_) {
        worker_->Cancel();
        worker_->wait();
    }
}

void TFWUpdateForm::Button2Click() {
    Button1->setEnabled(false);
    Button2->setEnabled(false);

    using zorvik::service::FlashKind;
    FlashKind kind = FlashKind::Firmware;
    QLineEdit* edit = Edit3;
    if (RadioButton2->isChecked()) {
        kind = FlashKind::Kernel;
        edit = Edit1;
    } else if (RadioButton3->isChecked()) {
        kind = FlashKind::Fsa;
        edit = Edit2;
    } else if (RadioButton4->isChecked()) {
        kind = FlashKind::AllImage;
        edit = Edit5;
    }
    fw_file_name = edit->text();
    ComboBox2->setCurrentIndex(static_cast<int>(kind));

    // The shared run's check: a readable regular file of the kind's size.
    const std::optional<std::string> problem =
        zorvik::service::CheckFlashFile(kind, QFile::encodeName(fw_file_name).toStdString());
    if (problem) {
        ShowMessageBox(this, QString::fromStdString(*problem), "Warning");
        EnableButtons();
        return;
    }
    // The boot loader talks at 115200, which a raw network port cannot be set to.
    if (!zorvik::link::RateFollows(PortName.toStdString())) {
        ShowMessageBox(this,
                       QString::fromStdString(zorvik::link::RateFixedText(PortName.toStdString())),
                       "Warning");
        EnableButtons();
        return;
    }

    download_running.store(1);
    saved_baud = BaudRateText;
    // Edit4 becomes read-only before its text is taken, so what the run uses
    // is what the dialog shows.
    Edit4->setReadOnly(true);

    FWRunParams params;
    params.file_name = fw_file_name;
    params.kind_index = static_cast<int>(kind);
    params.waiting_text = Edit4->text();
    params.port_name = PortName;
    params.saved_baud = saved_baud;

    auto* worker = new FWUpdateThread(std::move(params), this);
    connect(worker, &FWUpdateThread::Timer1Enabled, this, &TFWUpdateForm::OnTimer1Enabled);
    connect(worker, &FWUpdateThread::StatusText, this, &TFWUpdateForm::OnStatusText);
    connect(worker, &FWUpdateThread::BaudRateTextChanged, this,
            &TFWUpdateForm::OnBaudRateTextChanged);
    connect(worker, &FWUpdateThread::RunEnded, this, &TFWUpdateForm::OnRunEnded);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker_ = worker;
    worker->start();
}

void TFWUpdateForm::Button1Click() {
    if (download_running.load() == 0) {
        done(QDialog::Rejected);
        return;
    }
    const auto answer = ShowMessageBox(this, fwstatus::kCloseWarning, "Warning",
                                       QMessageBox::Ok | QMessageBox::Cancel);
    if (answer != QMessageBox::Ok) return;

    // The worker stops at its next step; until it has left the port (a
    // transfer in progress runs to its end) nothing here touches the port.
    WaitForWorker();

    BaudRateText = saved_baud;
    const bool reopened = ReopenPortBetweenReads(PortName, BaudRateText).ok();
    download_running.store(0);

    // The run is over either way: the dialog is usable again.
    Timer1Timer();
    Timer1->stop();
    Edit4->setReadOnly(false);
    EnableButtons();
    if (!reopened) {
        ShowMessageBox(this, "Cannot open COM port! #1", "Error");
        return;
    }
    done(QDialog::Rejected);
}

void TFWUpdateForm::WaitForWorker() {
    if (!worker_) return;
    worker_->Cancel();
    if (!worker_->isFinished()) {
        Label1->setText("Stopping the download...");
        QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        QEventLoop loop;
        connect(worker_, &QThread::finished, &loop, &QEventLoop::quit);
        connect(worker_, &QObject::destroyed, &loop, &QEventLoop::quit);
        if (worker_ && !worker_->isFinished()) loop.exec(QEventLoop::ExcludeUserInputEvents);
        QApplication::restoreOverrideCursor();
    }
    // The nested loop may have run the worker's finished -> deleteLater, so
    // the worker is only touched again through the guarded pointer.
    if (worker_) worker_->wait();
    // Deliver what the worker posted before it ended, so that none of it
    // lands after the port has been reopened here.
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void TFWUpdateForm::reject() {
    Button1Click();
}

void TFWUpdateForm::Browse(TOpenDialog* dialog, QLineEdit* edit) {
    dialog->Execute(this);
    // Also after a cancel: the edit then shows the name the dialog held before.
    edit->setText(dialog->FileName());
}

void TFWUpdateForm::Button5Click() {
    Browse(OpenDialog3, Edit3);
}
void TFWUpdateForm::Button3Click() {
    Browse(OpenDialog1, Edit1);
}
void TFWUpdateForm::Button4Click() {
    Browse(OpenDialog2, Edit2);
}
void TFWUpdateForm::Button6Click() {
    Browse(OpenDialog4, Edit5);
}

void TFWUpdateForm::Timer1Timer() {
    GetXmodemPPInfo(&ProgressCopy);
    const int percent = ProgressCopy.percent_1k;
    Label2->setText(QString::number(percent) + "%");
    ProgressBar1->setValue(qBound(0, percent, 100));
}

void TFWUpdateForm::EnableButtons() {
    Button2->setEnabled(true);
    Button1->setEnabled(true);
}

void TFWUpdateForm::OnTimer1Enabled(bool on) {
    if (on) {
        Timer1->start();
    } else {
        // One last refresh, so that the final figure shows.
        Timer1Timer();
        Timer1->stop();
    }
}

void TFWUpdateForm::OnStatusText(const QString& text) {
    Label1->setText(text);
}

void TFWUpdateForm::OnBaudRateTextChanged(const QString& text) {
    BaudRateText = text;
}

void TFWUpdateForm::OnRunEnded(bool completed) {
    if (!completed) OnTimer1Enabled(false);
    EnableButtons();
    Edit4->setReadOnly(false);
}
