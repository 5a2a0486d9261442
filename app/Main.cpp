#include "Main.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QHash>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <cstring>

#include "BE.h"
#include "FWThread.h"
#include "FWupdate.h"
#include "Fonts.h"
#include "LTE.h"
#include "MainWindow.h"
#include "OpenFailureText.h"
#include "SetBaudRate.h"
#include "SetNMEASentences.h"
#include "SetupComPort.h"
#include "SignalChannelMode.h"
#include "Unit11.h"
#include "Unit12.h"
#include "about.h"
#include "network_port.h"
#include "zorvik/service/receiver_settings.h"

// ---- Application-wide state -------------------------------------------------

QString PortName;
QString BaudRateText;
std::atomic<std::intptr_t> PortHandle{0};
QPointer<UartThread> ReaderThread;
ParseNMEAInfo StateCopy{};
std::atomic<int> download_running{0};
int VersionCaptionShown = 0;
int CustomerCaptionShown = 0;
int CustomerVersionQueried = 0;
int SingleChannelActive = 0;

// ZORVIK_VERSION is the project's version, given by the build.
const char* const kMainCaption = "DLL Zorvik V" ZORVIK_VERSION;
const char* const kVersionText = "Version " ZORVIK_VERSION;

TMainForm* MainForm = nullptr;

namespace {

// Hints on the tool bar: shown as tool tip and, through the status-tip event,
// in status panel 0.
void SetHint(QWidget* w, const QString& hint) {
    w->setToolTip(hint);
    w->setStatusTip(hint);
}

// The MDI children live for the whole run: their close box minimises them,
// as an MDI child does by default, instead of destroying them.
class KeepChildAlive : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (e->type() == QEvent::Close) {
            e->ignore();
            if (auto* sub = qobject_cast<QMdiSubWindow*>(watched)) sub->showMinimized();
            return true;
        }
        return QObject::eventFilter(watched, e);
    }
};

QMdiSubWindow* AddChild(QMdiArea* area, QWidget* child) {
    QMdiSubWindow* sub = area->addSubWindow(child);
    sub->setAttribute(Qt::WA_DeleteOnClose, false);
    child->setAttribute(Qt::WA_DeleteOnClose, false);
    sub->installEventFilter(new KeepChildAlive(sub));
    return sub;
}

}  // namespace

QIcon ImageList1Icon(int index) {
    static QHash<int, QIcon> cache;
    auto it = cache.find(index);
    if (it == cache.end()) {
        it = cache.insert(index, QIcon(QString(":/toolbar/%1.png").arg(index, 2, 10, QChar('0'))));
    }
    return it.value();
}

void ShowMessage(const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
    box.setObjectName("MessageBox");
    box.exec();
}

// ---- TMainForm --------------------------------------------------------------

TMainForm::TMainForm(QWidget* parent) : QMainWindow(parent) {
    setObjectName("MainForm");
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);

    // Tool bar ToolBar2.
    ToolBar2 = new QToolBar(this);
    ToolBar2->setObjectName("ToolBar2");
    ToolBar2->setMovable(false);
    ToolBar2->setFloatable(false);
    ToolBar2->setFixedHeight(33);
    ToolBar2->setIconSize(QSize(24, 24));
    ToolBar2->setContextMenuPolicy(Qt::PreventContextMenu);
    ToolBar2->toggleViewAction()->setVisible(false);
    addToolBar(Qt::TopToolBarArea, ToolBar2);

    auto button = [this](const char* name, const char* hint, int image, bool visible) {
        auto* b = new QToolButton(ToolBar2);
        b->setObjectName(name);
        b->setIcon(ImageList1Icon(image));
        b->setAutoRaise(true);
        SetHint(b, hint);
        QAction* slot = ToolBar2->addWidget(b);
        slot->setVisible(visible);
        b->setEnabled(false);
        return b;
    };
    auto separator = [this](const char* name, int width) {
        auto* gap = new QWidget(ToolBar2);
        gap->setObjectName(name);
        gap->setFixedWidth(width);
        ToolBar2->addWidget(gap);
    };

    ToolButton1 = button("ToolButton1", "Connect", 24, true);
    ToolButton1->setEnabled(true);
    ToolButton1ImageIndex = 24;
    separator("ToolButton2", 8);
    ToolButton13 = button("ToolButton13", "Load 3 FWs", 28, false);
    ToolButton10 = button("ToolButton10", "Customer Version", 33, true);
    ToolButton28 = button("ToolButton28", "Single Channel Mode", 34, false);
    ToolButton3 = button("ToolButton3", "BE", 27, false);
    ToolButton4 = button("ToolButton4", "LTE", 28, false);
    for (int i = 20; i <= 26; ++i) {
        separator(QString("ToolButton%1").arg(i).toLatin1().constData(), 8);
    }
    separator("ToolButton5", 362);

    Label1 = new QLabel("NMEA Command Line : ", ToolBar2);
    Label1->setObjectName("Label1");
    Label1->setFont(Fonts::ArialPoints(-1, QFont::Bold));
    Label1->setStyleSheet("color: #000080;");
    ToolBar2->addWidget(Label1)->setVisible(false);
    MaskEdit1 = new QLineEdit(ToolBar2);
    MaskEdit1->setObjectName("MaskEdit1");
    MaskEdit1->setFixedWidth(274);
    ToolBar2->addWidget(MaskEdit1)->setVisible(false);
    Send = new QPushButton("Send", ToolBar2);
    Send->setObjectName("Send");
    Send->setFixedWidth(70);
    ToolBar2->addWidget(Send)->setVisible(false);

    connect(ToolButton1, &QToolButton::clicked, this, &TMainForm::ToolButton1Click);
    connect(ToolButton10, &QToolButton::clicked, this, &TMainForm::ToolButton10Click);
    connect(ToolButton28, &QToolButton::clicked, this, &TMainForm::ToolButton28Click);
    connect(ToolButton3, &QToolButton::clicked, this, &TMainForm::ToolButton3Click);
    connect(ToolButton4, &QToolButton::clicked, this, &TMainForm::ToolButton4Click);
    connect(Send, &QPushButton::clicked, this, &TMainForm::SendClick);

    // Menu bar MainMenu1.
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");
    auto menu = [bar](const char* name, const char* caption) {
        QMenu* m = bar->addMenu(caption);
        m->setObjectName(name);
        return m;
    };
    // A hidden item is kept out of its menu rather than switched invisible:
    // the toolkit disables invisible actions, and a hidden item's enabled
    // state must still follow the connection.
    auto item = [this](QMenu* m, const char* name, const char* caption, bool enabled, bool visible,
                       void (TMainForm::*handler)()) {
        auto* a = new QAction(caption, m);
        a->setObjectName(name);
        a->setEnabled(enabled);
        if (visible) m->addAction(a);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    File1 = menu("File1", "File");
    Exit1 = item(File1, "Exit1", "Exit", true, true, &TMainForm::Exit1Click);
    Setup1 = menu("Setup1", "Mode");
    COM1 = item(Setup1, "COM1", "&Setup COM Port", true, true, &TMainForm::COM1Click);
    LoadFW = item(Setup1, "LoadFW", "Download FW", false, false, &TMainForm::LoadFWClick);
    Restart = menu("Restart", "Command");
    Cold_Start =
        item(Restart, "Cold_Start", "Cold Start", false, true, &TMainForm::Cold_StartClick);
    Warm_Start =
        item(Restart, "Warm_Start", "Warm Start", false, true, &TMainForm::Warm_StartClick);
    Hot_Start = item(Restart, "Hot_Start", "Hot Start", false, true, &TMainForm::Hot_StartClick);
    SetNMEASentences1 = item(Restart, "SetNMEASentences1", "Set NMEA Sentences", false, false,
                             &TMainForm::SetNMEASentences1Click);
    SetBaudRate1 =
        item(Restart, "SetBaudRate1", "SetBaudRate", false, true, &TMainForm::SetBaudRate1Click);
    Help1 = menu("Help1", "&Help");
    Help1->menuAction()->setStatusTip("Help topics");
    HelpAboutItem =
        item(Help1, "HelpAboutItem", "&About", true, true, &TMainForm::HelpAboutItemClick);

    // The MDI client area, in the application-workspace colour.
    MdiArea = new QMdiArea(this);
    MdiArea->setObjectName("MdiArea");
    MdiArea->setBackground(QApplication::palette().brush(QPalette::Dark));
    setCentralWidget(MdiArea);

    // StatusBar with its two panels.
    QStatusBar* status = statusBar();
    status->setObjectName("StatusBar");
    status->setSizeGripEnabled(false);
    StatusPanel0 = new QLabel(status);
    StatusPanel0->setObjectName("StatusPanel0");
    StatusPanel0->setFixedWidth(200);
    StatusPanel1 = new QLabel(status);
    StatusPanel1->setObjectName("StatusPanel1");
    StatusPanel1->setFixedWidth(50);
    status->addWidget(StatusPanel0);
    status->addWidget(StatusPanel1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(500);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::Timer1Timer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setInterval(1000);
    connect(Timer2, &QTimer::timeout, this, &TMainForm::Timer2Timer);

    FormCreate();
    Timer1->start();
}

TMainForm::~TMainForm() {
    if (MainForm == this) MainForm = nullptr;
}

void TMainForm::FormCreate() {
    FitOuterSize();
    setWindowTitle(kMainCaption);
    GetParseNMEAInfo(&StateCopy);
}

void TMainForm::FitOuterSize() {
    // Outer size includes the window frame, known only once it is shown.
    const QRect outer = frameGeometry();
    const QRect inner = geometry();
    const int dw = outer.width() - inner.width();
    const int dh = outer.height() - inner.height();
    setFixedSize(kOuterWidth - dw, kOuterHeight - dh);
    move(kLeft, kTop);
}

void TMainForm::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (!e->spontaneous()) QTimer::singleShot(0, this, [this] { FitOuterSize(); });
}

bool TMainForm::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(e)->tip();
        if (!tip.isEmpty() && StatusPanel0) StatusPanel0->setText(tip);
        return true;
    }
    return QMainWindow::event(e);
}

void TMainForm::ShowLinkStatus(const QString& state) {
    if (StatusPanel0 == nullptr) return;
    const QString rate = " / " + BaudRateText + " bps";
    const QString full = state + PortName + rate;
    // A long port name is shortened from its start (its end names the
    // device); the rate is always shown whole.
    const QFontMetrics metrics(StatusPanel0->font());
    const int room = StatusPanel0->contentsRect().width();
    QString shown = full;
    for (int port_room = room - metrics.horizontalAdvance(state + rate);
         metrics.horizontalAdvance(shown) > room && port_room > 0; port_room -= 2) {
        shown = state + metrics.elidedText(PortName, Qt::ElideLeft, port_room) + rate;
    }
    StatusPanel0->setText(shown);
    StatusPanel0->setToolTip(full);
}

void TMainForm::SetConnectedControls(bool connected) {
    COM1->setEnabled(!connected);
    for (QAction* a :
         {Cold_Start, Warm_Start, Hot_Start, SetNMEASentences1, SetBaudRate1, LoadFW}) {
        a->setEnabled(connected);
    }
    for (QToolButton* b : {ToolButton13, ToolButton10, ToolButton28, ToolButton3, ToolButton4}) {
        b->setEnabled(connected);
    }
    if (MainMDIChild && MainMDIChild->SpeedButton2)
        MainMDIChild->SpeedButton2->setEnabled(connected);
}

void TMainForm::StartReader() {
    // A reader left idle (for instance after a failed reopen) is retired here;
    // the new one reads only after it has ended.
    StopReader();
    auto* reader = new UartThread();
    ReaderThread = reader;
    reader->start();
}

void TMainForm::StopReader() {
    // A reader that has ended by itself is either gone (null) or finished,
    // and a stop request to a finished thread does nothing.
    if (UartThread* reader = ReaderThread.data()) reader->requestInterruption();
}

void TMainForm::Disconnect() {
    VersionCaptionShown = 0;
    CustomerCaptionShown = 0;
    SingleChannelActive = 0;
    ToolButton1->setIcon(ImageList1Icon(24));
    ToolButton1ImageIndex = 24;
    SetHint(ToolButton1, "Disconnect");
    // A pause before the close, so that a sentence under way still reaches
    // the reader whole. Safety does not rest on it (the close waits for the
    // reader to be between two reads); 50 ms on the GUI thread go unnoticed.
    QThread::msleep(50);
    ClosePortBetweenReads();
    link_up_ = false;
    if (BaudRateForm) BaudRateForm->ForgetRequest();
    if (MainMDIChild) MainMDIChild->ShowNothingCurrent();
    SetConnectedControls(false);
    StopReader();
}

void TMainForm::CheckPortLost() {
    // A download closes and reopens the port by itself; its outcome is judged
    // once it has ended.
    if (!link_up_ || download_running.load() != 0) return;
    if (GetComPort_connected_Status() != 0) return;
    Disconnect();
    // A pulled receiver shows as Not Connected; a device server's connection
    // that ended is told, since nothing on the desk shows it.
    const std::string port = PortName.toLocal8Bit().toStdString();
    if (zorvik::serial::is_network_port_name(port))
        ShowMessage("Error", QString::fromLocal8Bit(zorvik::link::LostPortText(port)));
}

void TMainForm::ToolButton1Click() {
    if (GetComPort_connected_Status() != 0) {
        Disconnect();
        return;
    }

    const zorvik::link::OpenResult opened = OpenPortBetweenReads(PortName, BaudRateText);
    if (!opened.ok()) {
        ShowMessage("Error", QString::fromLocal8Bit(zorvik::link::ProgramOpenFailureText(
                                 PortName.toLocal8Bit().toStdString(), opened.failure)));
        return;
    }

    link_up_ = true;
    if (BaudRateForm) BaudRateForm->ForgetRequest();
    ToolButton1->setIcon(ImageList1Icon(25));
    ToolButton1ImageIndex = 25;
    SetHint(ToolButton1, "Connect");
    if (Terminal) Terminal->Clear();
    // The record still holds what the receiver of an earlier link sent; its
    // sentence flags start afresh, so that only this link's sentences show.
    CMD_Clear_parse_rmc_done();
    CMD_Clear_parse_gga_done();
    CMD_Clear_parse_gsa_done();
    CMD_Clear_parse_gsv_done();
    if (MainMDIChild) {
        MainMDIChild->ShowStartUpLook();
        MainMDIChild->ClearTtffResult();
    }
    IgnoreEarlierVersionReports();
    ClearChStatus();
    if (MainMDIChild) {
        MainMDIChild->DrawEmptyChannelChart();
        MainMDIChild->DrawSkyBackground();
    }
    SetConnectedControls(true);
    StartReader();
}

void TMainForm::IgnoreEarlierVersionReports() {
    // A version the library holds from an earlier link does not name the
    // receiver on this one: its caption waits until a restart or a version
    // query clears the library's flag and this receiver answers.
    ParseNMEAInfo record{};
    GetParseNMEAInfo(&record);
    VersionCaptionShown = record.parse_fw_ver_done != 0 ? 1 : 0;
    CustomerCaptionShown = record.parse_customer_fw_ver_done != 0 ? 1 : 0;
}

void TMainForm::ToolButton10Click() {
    if (CustomerVersionQueried == 0) {
        CMD_CustomerVersion();
        CustomerCaptionShown = 0;
        CustomerVersionQueried = 1;
    } else {
        CMD_FWVersion();
        VersionCaptionShown = 0;
        CustomerVersionQueried = 0;
    }
}

void TMainForm::ToolButton28Click() {
    if (Single_Channel_Mode) Single_Channel_Mode->exec();
}

void TMainForm::ToolButton3Click() {
    if (UpdateBEToGPS) UpdateBEToGPS->RunFromToolButton();
}

void TMainForm::ToolButton4Click() {
    if (UpdateLTEToGPS) UpdateLTEToGPS->RunFromToolButton();
}

void TMainForm::Exit1Click() {
    close();
}

void TMainForm::COM1Click() {
    if (ComPortForm) ComPortForm->exec();
}

void TMainForm::LoadFWClick() {
    if (FWUpdateForm) FWUpdateForm->exec();
}

void TMainForm::BeginRestart() {
    VersionCaptionShown = 0;
    CustomerVersionQueried = 0;
    // Cleared before the command goes out, so that this restart's report
    // cannot be lost.
    if (MainMDIChild) MainMDIChild->ClearTtffResult();
}

void TMainForm::Cold_StartClick() {
    BeginRestart();
    CMD_ColdStart();
}

void TMainForm::Warm_StartClick() {
    BeginRestart();
    CMD_WarmStart();
}

void TMainForm::Hot_StartClick() {
    BeginRestart();
    CMD_HotStart();
}

void TMainForm::SetNMEASentences1Click() {
    if (SetNMEA_S) SetNMEA_S->exec();
}

void TMainForm::SetBaudRate1Click() {
    if (BaudRateForm) BaudRateForm->exec();
}

void TMainForm::HelpAboutItemClick() {
    if (AboutBox) AboutBox->exec();
}

void TMainForm::SendClick() {
    const QByteArray text = MaskEdit1->text().toLatin1();
    if (text.isEmpty() || text.back() != '*') {
        ShowMessage("Warning!", zorvik::service::kCommandLineWarning);
        return;
    }
    // The checksum covers the text between the first character and the first
    // '*' after it; a text whose only '*' is its first character has none.
    if (std::memchr(text.constData() + 1, '*', static_cast<std::size_t>(text.size() - 1)) ==
        nullptr) {
        ShowMessage("Warning!", zorvik::service::kCommandLineWarning);
        return;
    }
    // The library writes to the handle of the last port it opened; with the
    // port closed nothing may be sent.
    if (GetComPort_connected_Status() == 0) {
        ShowMessage("Warning!", "The COM port is not connected!");
        return;
    }
    CheckSum(text.constData());
    GetParseNMEAInfo(&StateCopy);
    Send->setText(QString::fromLatin1(
        StateCopy.checksum_text,
        static_cast<qsizetype>(strnlen(StateCopy.checksum_text, sizeof StateCopy.checksum_text))));
    CMD_SendNMEACommand(text.constData(), static_cast<int>(text.size()));
}

void TMainForm::Timer2Timer() {
    // With the timer's second, time for the receiver to take up its new rate
    // after the second step before the port opens at it; the GUI thread
    // stalls once per rate change (and per retry while the port is still open).
    QThread::msleep(200);
    if (GetComPort_connected_Status() != 0) return;  // try again one interval later

    // BaudRateText holds the rate the receiver acknowledged; the baud-rate
    // dialog's box may have been edited since (a refused text stays in it).
    if (ComPortForm) SetComboText(ComPortForm->ComboBox2, BaudRateText);
    // A failed reopen keeps the controls as they are; it is no vanished port.
    link_up_ = OpenAtNewRateBetweenReads(PortName, BaudRateText).ok();
    Timer2->stop();
    Timer1->start();
    // Started even when the open failed: it idles until asked to stop.
    StartReader();
}

// ---- Start-up -----------------------------------------------------------------

// The pictures are compiled into the program's static core library; naming
// their initialiser keeps the linker from dropping them.
static void LoadShellResources() {
    Q_INIT_RESOURCE(toolbar);
    Fonts::Install();
}

void CreateApplicationWindows() {
    LoadShellResources();
    MainForm = new TMainForm();

    Terminal = new TTerminal();
    AddChild(MainForm->MdiArea, Terminal);
    Terminal->FormCreate();
    Terminal->show();

    AboutBox = new TAboutBox(MainForm);
    ComPortForm = new TComPortForm(MainForm);
    SetNMEA_S = new TSetNMEA_S(MainForm);

    MainMDIChild = new TMainMDIChild();
    AddChild(MainForm->MdiArea, MainMDIChild);
    MainMDIChild->FormCreate();
    MainMDIChild->show();

    FWUpdateForm = new TFWUpdateForm(MainForm);
    Single_Channel_Mode = new TSingle_Channel_Mode(MainForm);
    UpdateBEToGPS = new TUpdateBEToGPS(MainForm);
    UpdateLTEToGPS = new TUpdateLTEToGPS(MainForm);
    BaudRateForm = new TBaudRateForm(MainForm);

    // The end of the run stops the readers quickly rather than leaving
    // threads running into the toolkit's shutdown.
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, [] { UartThread::StopAll(); });
}
