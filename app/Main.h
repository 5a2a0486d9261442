// Main: the MDI frame window TMainForm and the application-wide state.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <atomic>
#include <cstdint>

#include "ZorvikDll.h"

class QAction;
class QLabel;
class QLineEdit;
class QMdiArea;
class QMenu;
class QPushButton;
class QTimer;
class QToolBar;
class QToolButton;
class QEvent;
class QShowEvent;
class UartThread;

// ---- Application-wide state (GUI thread unless noted) ----------------------

extern QString PortName;
extern QString BaudRateText;
// What the last COM_Open returned (0: the open failed). Read by the reader thread.
extern std::atomic<std::intptr_t> PortHandle;
// The reader started by the last connect or reopen; null once it has ended.
extern QPointer<UartThread> ReaderThread;
extern ParseNMEAInfo StateCopy;
// 1 while a firmware download runs; the reader leaves the port alone meanwhile.
extern std::atomic<int> download_running;
extern int VersionCaptionShown;
extern int CustomerCaptionShown;
extern int CustomerVersionQueried;
extern int SingleChannelActive;

extern const char* const kMainCaption;  // "DLL Zorvik V" and the version
extern const char* const kVersionText;  // "Version " and the version

class TMainForm : public QMainWindow {
    Q_OBJECT
  public:
    explicit TMainForm(QWidget* parent = nullptr);
    ~TMainForm() override;

    // Tool bar ToolBar2, left to right.
    QToolBar* ToolBar2 = nullptr;
    QToolButton* ToolButton1 = nullptr;
    QToolButton* ToolButton13 = nullptr;
    QToolButton* ToolButton10 = nullptr;
    QToolButton* ToolButton28 = nullptr;
    QToolButton* ToolButton3 = nullptr;
    QToolButton* ToolButton4 = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* MaskEdit1 = nullptr;
    QPushButton* Send = nullptr;

    // Menu bar MainMenu1.
    QMenu* File1 = nullptr;
    QMenu* Setup1 = nullptr;
    QMenu* Restart = nullptr;
    QMenu* Help1 = nullptr;
    QAction* Exit1 = nullptr;
    QAction* COM1 = nullptr;
    QAction* LoadFW = nullptr;
    QAction* Cold_Start = nullptr;
    QAction* Warm_Start = nullptr;
    QAction* Hot_Start = nullptr;
    QAction* SetNMEASentences1 = nullptr;
    QAction* SetBaudRate1 = nullptr;
    QAction* HelpAboutItem = nullptr;

    QMdiArea* MdiArea = nullptr;
    // StatusBar's two panels, 200 and 50 pixels wide.
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;

    QTimer* Timer1 = nullptr;  // 500 ms, live view refresh (MainWindow.cpp)
    QTimer* Timer2 = nullptr;  // 1000 ms, reopen after a baud-rate change

    // Image index currently shown by ToolButton1 (24 disconnected, 25 connected).
    int ToolButton1ImageIndex = 24;

    // Outer size and place of the main window (frame included).
    static constexpr int kOuterWidth = 1032;
    static constexpr int kOuterHeight = 736;
    static constexpr int kLeft = -2;
    static constexpr int kTop = 0;

    void FormCreate();
    // Starts a new reader and stores it as ReaderThread; an earlier reader
    // still running is asked to stop first (the new one reads only after it
    // has ended).
    void StartReader();
    // Asks ReaderThread to stop, if one exists; does not wait for it.
    void StopReader();
    // Called by every tick: when the library has closed a port that vanished
    // under a connection, shows exactly what a disconnect shows.
    void CheckPortLost();
    // Panel 0: state, PortName, " / ", BaudRateText and " bps", shortened in
    // the port name to fit; the full text is its tool tip.
    void ShowLinkStatus(const QString& state);

  public slots:
    void ToolButton1Click();
    void ToolButton10Click();
    void ToolButton28Click();
    void ToolButton3Click();  // BE.cpp does the work: UpdateBEToGPS->RunFromToolButton()
    void ToolButton4Click();  // LTE.cpp does the work: UpdateLTEToGPS->RunFromToolButton()
    void Exit1Click();
    void COM1Click();
    void LoadFWClick();
    void Cold_StartClick();
    void Warm_StartClick();
    void Hot_StartClick();
    void SetNMEASentences1Click();
    void SetBaudRate1Click();
    void HelpAboutItemClick();
    void SendClick();
    void Timer1Timer();  // defined in MainWindow.cpp with the live view
    void Timer2Timer();

  protected:
    // Hints of the control or menu item under the mouse go to panel 0.
    bool event(QEvent* e) override;
    void showEvent(QShowEvent* e) override;

  private:
    void Disconnect();
    void IgnoreEarlierVersionReports();
    // What every restart command does before it is sent.
    void BeginRestart();
    void SetConnectedControls(bool connected);
    void FitOuterSize();

    // True from a successful connect or reopen until a disconnect or a failed
    // reopen: the port is expected to be open.
    bool link_up_ = false;
};

extern TMainForm* MainForm;

// ImageList1: the tool bar's pictures by index (24, 25, 27, 28, 33, 34 are used).
class QIcon;
QIcon ImageList1Icon(int index);

// Creates the eleven windows in their fixed order (MainForm first).
void CreateApplicationWindows();

// A message box with an OK button and no icon, owned by the application.
void ShowMessage(const QString& title, const QString& text);
