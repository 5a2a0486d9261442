// MainWindow: the live view TMainMDIChild ("Main Window"): time, date,
// position, DOP, fix, the TTFF test, the channel chart and the sky plot.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

#include "EpochCollector.h"
#include "ZorvikDll.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

// Order of the channel chart: 0 channel order, 1 ascending PRN. Button1
// toggles it; it keeps its value for the whole run.
extern int SortByPRN;

// A picture surface: shows a stored image unscaled at its top-left corner,
// clipped to the control's size (the image may be larger than the control).
class TImage : public QWidget {
    Q_OBJECT
  public:
    explicit TImage(QWidget* parent = nullptr);
    // Replaces the whole picture in one step.
    void setPicture(const QImage& picture);
    const QImage& picture() const { return picture_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage picture_;
};

// A legend shape: a rounded rectangle filled with one colour.
class TShape : public QWidget {
    Q_OBJECT
  public:
    explicit TShape(QWidget* parent = nullptr);
    void setBrushColor(const QColor& colour);
    QColor brushColor() const { return brush_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor brush_;
};

class TMainMDIChild : public QWidget {
    Q_OBJECT
  public:
    explicit TMainMDIChild(QWidget* parent = nullptr);

    QPlainTextEdit* Memo1 = nullptr;

    QGroupBox* GroupBox1 = nullptr;  // " Time and Date "
    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;  // UTC time
    QLabel* Label2 = nullptr;
    QLineEdit* Edit2 = nullptr;  // UTC date

    QGroupBox* GroupBox8 = nullptr;  // "DOP"
    QLabel* Label17 = nullptr;
    QLineEdit* Edit16 = nullptr;  // HDOP
    QLabel* Label18 = nullptr;
    QLineEdit* Edit17 = nullptr;  // VDOP

    QGroupBox* GroupBox10 = nullptr;  // "Fix Mode"
    QLabel* Label21 = nullptr;
    QLineEdit* Edit18 = nullptr;  // Valid / Invalid
    QLabel* Label22 = nullptr;
    QLineEdit* Edit19 = nullptr;  // 2D / 3D / Invalid

    QGroupBox* GroupBox2 = nullptr;  // " Position "
    QLabel* Label3 = nullptr;
    QLineEdit* Edit3 = nullptr;   // latitude degrees
    TImage* Image6 = nullptr;     // degree sign
    QLineEdit* Edit20 = nullptr;  // latitude minutes, seconds, hemisphere
    QLabel* Label4 = nullptr;
    QLineEdit* Edit4 = nullptr;  // longitude degrees
    TImage* Image7 = nullptr;
    QLineEdit* Edit21 = nullptr;  // longitude minutes, seconds, hemisphere
    QLabel* Label13 = nullptr;
    QLineEdit* Edit13 = nullptr;  // altitude
    QLabel* Label14 = nullptr;
    QLineEdit* Edit14 = nullptr;  // speed
    QLabel* Label15 = nullptr;
    QLineEdit* Edit15 = nullptr;  // heading

    QGroupBox* GroupBox3 = nullptr;        // "TTFF Test"
    QRadioButton* RadioButton1 = nullptr;  // "Cold Start"
    QRadioButton* RadioButton2 = nullptr;  // "Hot Start"
    QRadioButton* RadioButton3 = nullptr;  // "Warm Start"
    // The TTFF test's "Start" (enabled while connected, by the main window).
    QPushButton* SpeedButton2 = nullptr;
    QGroupBox* GroupBox4 = nullptr;  // "Result"
    QLabel* Label8 = nullptr;
    QLineEdit* Edit8 = nullptr;  // last reported time to first fix

    QGroupBox* GroupBox6 = nullptr;  // " Channel Status "
    TImage* Image2 = nullptr;        // channel chart
    QLabel* StaticText_CN0 = nullptr;
    QLabel* StaticText_ID = nullptr;
    TShape* Shape_C1 = nullptr;
    QLabel* Label_C1 = nullptr;
    TShape* Shape_C2 = nullptr;
    QLabel* Label_C2 = nullptr;
    TShape* Shape_C3 = nullptr;
    QLabel* Label_C3 = nullptr;
    QPushButton* Button1 = nullptr;  // "SV" / "Channel"

    QGroupBox* GroupBox7 = nullptr;  // " Satellite Status"
    TImage* Image1 = nullptr;        // sky plot
    TImage* Image3 = nullptr;        // the stored sky template, never shown

    // How a failed drawing is reported; a message box with an OK button
    // unless replaced (tests record the message instead).
    std::function<void(const QString&)> ReportDrawingFailure;

    void FormCreate();
    void DrawEmptyChannelChart();
    void DrawSkyBackground();
    void DrawChannelChart();
    void DrawSkyPlot();

    // Parts of the main window's tick that write this view's fields, from
    // StateCopy (TTFF) and from one published epoch (navigation, fix mode),
    // only in ticks that began with the port open.
    void ShowTtffResult();
    // A new test or link: the field stays empty until the receiver reports
    // this test's time to first fix.
    void ClearTtffResult();
    void ShowNavigation(const zorvik::link::Epoch& epoch);
    void ShowFixMode(const zorvik::link::Epoch& epoch);
    // Each field group is green, and Fix and Mode claim, only while its
    // sentence keeps arriving intact (a possible position with status A).
    void ShowFreshness(const zorvik::link::Freshness& fresh);
    // Chart and sky plot of one epoch's whole channel table.
    void ShowSky(const ParseNMEAInfo& sky);
    // Chart and plot claim nothing: empty frames and the bare template.
    void ShowNoSky();
    // The link ended: Fix and Mode claim nothing, no field stays green and
    // the chart and plot are blank; the last values stay readable.
    void ShowNothingCurrent();
    // A new link: the navigation fields return to their start-up look until
    // the receiver's sentences arrive.
    void ShowStartUpLook();

    // The thirteen edits that the validity colours.
    QList<QLineEdit*> ValidityEdits() const;

  public slots:
    void Button1Click();
    void SpeedButton2Click();

  protected:
    bool event(QEvent* event) override;

  private:
    void PlaceInFrame();
    void Report(const QString& message);
    bool chart_failure_reported_ = false;
    bool sky_failure_reported_ = false;
    // A GGA and a GSA have been shown from the current link.
    bool gga_on_link_ = false;
    bool gsa_on_link_ = false;
    // The last RMC shown had status A and a possible position.
    bool position_valid_ = false;
    QString fix_text_ = QStringLiteral(" ");   // Edit18 while RMC arrives
    QString mode_text_ = QStringLiteral(" ");  // Edit19 while GSA arrives
    bool sky_shown_ = false;                   // the chart and plot show satellites
};

extern TMainMDIChild* MainMDIChild;
