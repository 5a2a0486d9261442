#include "MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <iterator>
#include <optional>

#include "BaudChange.h"
#include "ChannelChart.h"
#include "DisplayFormats.h"
#include "EpochCollector.h"
#include "Fonts.h"
#include "Main.h"
#include "SetBaudRate.h"
#include "SkyPlot.h"
#include "Unit11.h"

TMainMDIChild* MainMDIChild = nullptr;
int SortByPRN = 0;

namespace {

namespace fmt = zorvik::link::DisplayFormats;

const QColor kNavy(0, 0, 128);
const QColor kBlue(0, 0, 255);
const QColor kValidGreen(207, 255, 207);
constexpr int kChannels = static_cast<int>(std::size(ParseNMEAInfo{}.sv_prn));
// Fix and Mode while they claim nothing, as at start-up.
const QString kNothingClaimed = QStringLiteral(" ");

QColor ButtonFace() {
    return QApplication::palette().color(QPalette::Button);
}

QString Text(const std::string& text) {
    return QString::fromLatin1(text.data(), text.size());
}

// Colours the enabled text only: disabled controls keep the toolkit's
// disabled text colour, so that they look disabled.
void SetTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, colour);
        palette.setColor(group, QPalette::Text, colour);
        palette.setColor(group, QPalette::ButtonText, colour);
    }
    widget->setPalette(palette);
}

void SetFieldColour(QLineEdit* edit, const QColor& colour) {
    QPalette palette = edit->palette();
    palette.setColor(QPalette::Base, colour);
    edit->setPalette(palette);
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const QString& caption, QRect bounds) {
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(name);
    box->setGeometry(bounds);
    return box;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, QPoint at) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->move(at);
    label->adjustSize();
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect bounds, int pixel_size,
                    bool read_only) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setGeometry(bounds);
    edit->setReadOnly(read_only);
    edit->setFont(Fonts::ArialBlack(pixel_size));
    edit->setTextMargins(0, 0, 0, 0);
    SetTextColour(edit, kNavy);
    SetFieldColour(edit, ButtonFace());
    return edit;
}

TImage* MakeImage(QWidget* parent, const char* name, QRect bounds) {
    auto* image = new TImage(parent);
    image->setObjectName(name);
    image->setGeometry(bounds);
    return image;
}

}  // namespace

// ---- TImage, TShape ---------------------------------------------------------

TImage::TImage(QWidget* parent) : QWidget(parent) {}

void TImage::setPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void TImage::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
}

TShape::TShape(QWidget* parent) : QWidget(parent), brush_(Qt::white) {}

void TShape::setBrushColor(const QColor& colour) {
    brush_ = colour;
    update();
}

void TShape::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(brush_);
    const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = qMin(box.width(), box.height()) / 4.0;
    painter.drawRoundedRect(box, radius, radius);
}

// ---- TMainMDIChild ----------------------------------------------------------

TMainMDIChild::TMainMDIChild(QWidget* parent) : QWidget(parent) {
    SkyPlot::EnsureAssets();
    setObjectName("MainMDIChild");
    setWindowTitle(Text(fmt::kPlainCaption));
    setFont(Fonts::SansSerif(11));
    setMinimumSize(698, 596);
    resize(698, 596);
    setAutoFillBackground(true);
    QPalette face = palette();
    face.setColor(QPalette::Window, ButtonFace());
    setPalette(face);

    // Background memo behind all group boxes, created first so that it stays
    // at the bottom.
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setGeometry(-26, -141, 739, 742);
    Memo1->setReadOnly(true);
    Memo1->setFocusPolicy(Qt::NoFocus);
    {
        QPalette p = Memo1->palette();
        p.setColor(QPalette::Base, ButtonFace());
        Memo1->setPalette(p);
    }

    GroupBox1 = MakeGroup(this, "GroupBox1", " Time and Date ", QRect(8, 8, 233, 97));
    Label1 = MakeLabel(GroupBox1, "Label1", "Time :", QPoint(16, 24));
    Edit1 = MakeEdit(GroupBox1, "Edit1", QRect(72, 16, 145, 30), 15, true);
    Label2 = MakeLabel(GroupBox1, "Label2", "Date :", QPoint(16, 64));
    Edit2 = MakeEdit(GroupBox1, "Edit2", QRect(72, 56, 145, 30), 15, true);

    GroupBox8 = MakeGroup(this, "GroupBox8", "DOP", QRect(248, 8, 121, 97));
    Label17 = MakeLabel(GroupBox8, "Label17", "HDOP :", QPoint(8, 24));
    Edit16 = MakeEdit(GroupBox8, "Edit16", QRect(50, 18, 57, 25), 12, false);
    Label18 = MakeLabel(GroupBox8, "Label18", "VDOP :", QPoint(8, 64));
    Edit17 = MakeEdit(GroupBox8, "Edit17", QRect(50, 58, 57, 25), 12, false);

    GroupBox10 = MakeGroup(this, "GroupBox10", "Fix Mode", QRect(8, 115, 361, 49));
    Label21 = MakeLabel(GroupBox10, "Label21", "Fix :", QPoint(16, 22));
    Edit18 = MakeEdit(GroupBox10, "Edit18", QRect(72, 15, 73, 25), 12, false);
    Edit18->setText(kNothingClaimed);
    Label22 = MakeLabel(GroupBox10, "Label22", "Mode: ", QPoint(200, 19));
    Edit19 = MakeEdit(GroupBox10, "Edit19", QRect(240, 15, 81, 25), 12, false);
    Edit19->setText(kNothingClaimed);

    GroupBox2 = MakeGroup(this, "GroupBox2", " Position ", QRect(8, 175, 361, 114));
    Label3 = MakeLabel(GroupBox2, "Label3", "Latitude :", QPoint(16, 20));
    Edit3 = MakeEdit(GroupBox2, "Edit3", QRect(72, 11, 41, 30), 15, true);
    Image6 = MakeImage(GroupBox2, "Image6", QRect(112, 11, 9, 30));
    Edit20 = MakeEdit(GroupBox2, "Edit20", QRect(120, 11, 129, 30), 15, true);
    Label4 = MakeLabel(GroupBox2, "Label4", "Longitude :", QPoint(16, 52));
    Edit4 = MakeEdit(GroupBox2, "Edit4", QRect(72, 44, 41, 30), 15, true);
    Image7 = MakeImage(GroupBox2, "Image7", QRect(112, 43, 9, 30));
    Edit21 = MakeEdit(GroupBox2, "Edit21", QRect(120, 44, 129, 30), 15, true);
    // Left of the other labels: its text at 16 would run under Edit13.
    Label13 = MakeLabel(GroupBox2, "Label13", "Altitude (m) :", QPoint(8, 85));
    Edit13 = MakeEdit(GroupBox2, "Edit13", QRect(72, 78, 177, 30), 15, true);
    Label14 = MakeLabel(GroupBox2, "Label14", "Velocity (km/h) :", QPoint(272, 8));
    Edit14 = MakeEdit(GroupBox2, "Edit14", QRect(272, 24, 73, 30), 15, true);
    Label15 = MakeLabel(GroupBox2, "Label15", "Heading (deg) :", QPoint(272, 59));
    Edit15 = MakeEdit(GroupBox2, "Edit15", QRect(272, 77, 73, 30), 15, true);
    // The degree signs sit over the edits' adjoining borders.
    Image6->raise();
    Image7->raise();
    const QImage degree_sign(QStringLiteral(":/live/degree_sign.png"));
    Image6->setPicture(degree_sign);
    Image7->setPicture(degree_sign);

    GroupBox3 = MakeGroup(this, "GroupBox3", "TTFF Test", QRect(385, 8, 313, 164));
    GroupBox3->setFont(Fonts::SansSerif(12));
    SetTextColour(GroupBox3, kBlue);
    RadioButton1 = new QRadioButton("Cold Start", GroupBox3);
    RadioButton1->setObjectName("RadioButton1");
    RadioButton1->setGeometry(24, 28, 81, 25);
    RadioButton1->setChecked(true);
    RadioButton2 = new QRadioButton("Hot Start", GroupBox3);
    RadioButton2->setObjectName("RadioButton2");
    RadioButton2->setGeometry(112, 28, 97, 25);
    RadioButton3 = new QRadioButton("Warm Start", GroupBox3);
    RadioButton3->setObjectName("RadioButton3");
    RadioButton3->setGeometry(208, 28, 89, 25);
    SpeedButton2 = new QPushButton("Start", GroupBox3);
    SpeedButton2->setObjectName("SpeedButton2");
    SpeedButton2->setGeometry(104, 72, 97, 25);
    SpeedButton2->setFlat(true);
    SpeedButton2->setEnabled(false);
    connect(SpeedButton2, &QPushButton::clicked, this, &TMainMDIChild::SpeedButton2Click);
    GroupBox4 = MakeGroup(GroupBox3, "GroupBox4", "Result", QRect(24, 104, 265, 41));
    Label8 = MakeLabel(GroupBox4, "Label8", "TTFF Time (sec) :", QPoint(32, 16));
    Edit8 = new QLineEdit(GroupBox4);
    Edit8->setObjectName("Edit8");
    Edit8->setGeometry(136, 13, 89, 21);
    Edit8->setReadOnly(true);
    Edit8->setFont(Fonts::SansSerif(12));
    SetTextColour(Edit8, kBlue);
    SetFieldColour(Edit8, ButtonFace());

    GroupBox6 = MakeGroup(this, "GroupBox6", " Channel Status ", QRect(8, 290, 361, 297));
    SetTextColour(GroupBox6, kBlue);
    Image2 = MakeImage(GroupBox6, "Image2", QRect(40, 24, 252, 240));
    StaticText_CN0 = new QLabel("C/No", GroupBox6);
    StaticText_CN0->setObjectName("StaticText_CN0");
    StaticText_CN0->setGeometry(8, 120, 30, 17);
    StaticText_ID = new QLabel("PRN", GroupBox6);
    StaticText_ID->setObjectName("StaticText_ID");
    StaticText_ID->setGeometry(8, 234, 27, 17);
    for (QLabel* label : {StaticText_CN0, StaticText_ID}) {
        label->setFont(Fonts::SansSerif(8));
        SetTextColour(label, Qt::black);
    }
    auto legend = [&](const char* shape_name, QRect shape_bounds, const char* label_name,
                      const QString& caption, QPoint label_at, TShape*& shape, QLabel*& label) {
        shape = new TShape(GroupBox6);
        shape->setObjectName(shape_name);
        shape->setGeometry(shape_bounds);
        label = new QLabel(caption, GroupBox6);
        label->setObjectName(label_name);
        label->setFont(Fonts::Arial(11));
        SetTextColour(label, Qt::black);
        label->move(label_at);
        label->adjustSize();
        label->setAutoFillBackground(true);
    };
    legend("Shape_C1", QRect(56, 270, 50, 20), "Label_C1", "Search", QPoint(65, 272), Shape_C1,
           Label_C1);
    legend("Shape_C2", QRect(140, 270, 50, 20), "Label_C2", "Track", QPoint(150, 272), Shape_C2,
           Label_C2);
    legend("Shape_C3", QRect(224, 270, 50, 20), "Label_C3", "PVT", QPoint(237, 272), Shape_C3,
           Label_C3);
    Button1 = new QPushButton("SV", GroupBox6);
    Button1->setObjectName("Button1");
    Button1->setGeometry(300, 32, 50, 25);
    SetTextColour(Button1, kBlue);
    connect(Button1, &QPushButton::clicked, this, &TMainMDIChild::Button1Click);

    GroupBox7 = MakeGroup(this, "GroupBox7", " Satellite Status", QRect(376, 288, 313, 297));
    Image1 = MakeImage(GroupBox7, "Image1", QRect(24, 24, 268, 257));
    Image3 = MakeImage(GroupBox7, "Image3", QRect(24, 24, 268, 257));
    Image3->setEnabled(false);
    Image3->setVisible(false);
    Image3->setPicture(SkyPlot::Template());

    ReportDrawingFailure = [this](const QString& message) {
        QMessageBox::information(this, QCoreApplication::applicationName(), message,
                                 QMessageBox::Ok);
    };
}

void TMainMDIChild::PlaceInFrame() {
    auto* frame = qobject_cast<QMdiSubWindow*>(parentWidget());
    if (frame == nullptr) return;
    // 700 x 627 outside is a 698 x 596 client inside the thin borders and
    // caption of the original frame. This frame is sized from its own borders
    // instead, so that the client keeps its 698 x 596 and nothing is cut off.
    const QMargins m = frame->contentsMargins();
    const int width = 698 + m.left() + m.right();
    const int height = 596 + m.top() + m.bottom();
    frame->setGeometry(0, 0, width, height);
}

bool TMainMDIChild::event(QEvent* e) {
    // The window's outer geometry belongs to the MDI frame around it, which
    // only exists once the main window has adopted the view.
    if (e->type() == QEvent::ParentChange) PlaceInFrame();
    return QWidget::event(e);
}

void TMainMDIChild::FormCreate() {
    PlaceInFrame();
    const std::pair<TShape*, QLabel*> legend[] = {
        {Shape_C1, Label_C1}, {Shape_C2, Label_C2}, {Shape_C3, Label_C3}};
    for (int status = 1; status <= 3; ++status) {
        const QColor colour = StateColors(status);
        legend[status - 1].first->setBrushColor(colour);
        QPalette p = legend[status - 1].second->palette();
        p.setColor(QPalette::Window, colour);
        legend[status - 1].second->setPalette(p);
    }
    DrawEmptyChannelChart();
    DrawSkyBackground();
}

void TMainMDIChild::Report(const QString& message) {
    if (ReportDrawingFailure) ReportDrawingFailure(message);
}

void TMainMDIChild::DrawEmptyChannelChart() {
    const QImage chart = ChannelChart::RenderEmpty();
    if (chart.isNull()) {
        Report("Could display bitmap(Ch)");
        return;
    }
    chart_failure_reported_ = false;
    Image2->setPicture(chart);
}

void TMainMDIChild::DrawSkyBackground() {
    const QImage sky = SkyPlot::RenderBackground(Image3->picture());
    if (sky.isNull()) {
        Report("Could display bitmap(Sat)");
        return;
    }
    sky_failure_reported_ = false;
    Image1->setPicture(sky);
}

void TMainMDIChild::DrawChannelChart() {
    if (SortByPRN != 0) {
        // Sorted from the copy's own table by the library's rule: the
        // library's live table may already hold part of the next epoch.
        std::copy(std::begin(StateCopy.sv_snr), std::end(StateCopy.sv_snr), StateCopy.sorted_snr);
        std::copy(std::begin(StateCopy.sv_prn), std::end(StateCopy.sv_prn), StateCopy.sorted_prn);
        std::copy(std::begin(StateCopy.ch_status), std::end(StateCopy.ch_status),
                  StateCopy.sorted_status);
        SV_Sort(StateCopy.sorted_snr, StateCopy.sorted_prn, kChannels, StateCopy.sorted_status);
    }
    const QImage chart = ChannelChart::Render(StateCopy, SortByPRN != 0);
    if (chart.isNull()) {
        // Reported once per run of failures: the tick retries every 500 ms.
        if (!chart_failure_reported_) Report("Could display bitmap(Ch)");
        chart_failure_reported_ = true;
        return;
    }
    chart_failure_reported_ = false;
    Image2->setPicture(chart);
}

void TMainMDIChild::DrawSkyPlot() {
    const QImage sky = SkyPlot::Render(StateCopy, Image3->picture());
    if (sky.isNull()) {
        if (!sky_failure_reported_) Report("Could display bitmap(Sat)");
        sky_failure_reported_ = true;
        return;
    }
    sky_failure_reported_ = false;
    Image1->setPicture(sky);
}

void TMainMDIChild::Button1Click() {
    // The caption names the order that the next click selects.
    if (SortByPRN == 0) {
        Button1->setText("Channel");
        SortByPRN = 1;
    } else {
        Button1->setText("SV");
        SortByPRN = 0;
    }
}

void TMainMDIChild::SpeedButton2Click() {
    if (MainForm == nullptr) return;
    if (RadioButton1->isChecked()) {
        MainForm->Cold_StartClick();
    } else if (RadioButton2->isChecked()) {
        MainForm->Hot_StartClick();
    } else if (RadioButton3->isChecked()) {
        MainForm->Warm_StartClick();
    }
}

QList<QLineEdit*> TMainMDIChild::ValidityEdits() const {
    return {Edit1,  Edit2,  Edit3,  Edit4,  Edit13, Edit14, Edit15,
            Edit16, Edit17, Edit18, Edit19, Edit20, Edit21};
}

void TMainMDIChild::ShowTtffResult() {
    if (StateCopy.parse_ttff_done == 0) return;
    Edit8->setText(Text(fmt::OneDecimalText(static_cast<double>(StateCopy.ttff))));
    // Only the copy's flag: the library keeps its own until it clears it.
    StateCopy.parse_ttff_done = 0;
}

void TMainMDIChild::ClearTtffResult() {
    // A report the library still holds answers an earlier test or link.
    CMD_Clear_parse_ttff_done();
    StateCopy.parse_ttff_done = 0;
    Edit8->clear();
}

void TMainMDIChild::ShowNavigation(const zorvik::link::Epoch& epoch) {
    using zorvik::link::Kind;
    if (!epoch.Has(Kind::Rmc)) return;
    const ParseNMEAInfo& s = epoch.record;
    Edit1->setText(Text(fmt::TimeText(fmt::FieldText(s.utc_time))));

    const fmt::Dms lat = fmt::ToDms(fmt::FieldText(s.latitude));
    const fmt::Dms lon = fmt::ToDms(fmt::FieldText(s.longitude));
    Edit3->setText(Text(fmt::LatitudeDegreesText(lat)));
    Edit20->setText(Text(fmt::MinutesSecondsText(lat, s.lat_hemisphere)));
    Edit2->setText(Text(fmt::DateText(fmt::FieldText(s.utc_date))));
    Edit4->setText(Text(fmt::LongitudeDegreesText(lon)));
    Edit21->setText(Text(fmt::MinutesSecondsText(lon, s.lon_hemisphere)));
    Edit14->setText(Text(fmt::SpeedText(fmt::FieldText(s.speed))));
    Edit15->setText(Text(fmt::CourseText(fmt::FieldText(s.course))));
    // Altitude and DOPs of this epoch's own GGA and GSA, never an older one's
    // beside this time.
    if (epoch.Has(Kind::Gga)) {
        Edit13->setText(Text(fmt::AltitudeText(fmt::FieldText(s.altitude))));
        gga_on_link_ = true;
    }
    if (epoch.Has(Kind::Gsa)) {
        Edit16->setText(Text(fmt::DopText(s.hdop)));
        Edit17->setText(Text(fmt::DopText(s.vdop)));
        gsa_on_link_ = true;
    }
    position_valid_ =
        s.rmc_status == 'A' && fmt::PossiblePosition(fmt::FieldText(s.latitude), s.lat_hemisphere,
                                                     fmt::FieldText(s.longitude), s.lon_hemisphere);
    fix_text_ = position_valid_ ? " Valid " : " Invalid ";
}

void TMainMDIChild::ShowFixMode(const zorvik::link::Epoch& epoch) {
    if (!epoch.Has(zorvik::link::Kind::Gsa)) return;
    gsa_on_link_ = true;
    switch (epoch.record.fix_mode) {
        case 1:
            mode_text_ = " Invalid ";
            Edit3->setText("     0");
            Edit4->setText("     0");
            Edit20->setText("0'0.0");
            Edit21->setText("0'0.0");
            break;
        case 2:
            mode_text_ = " 2D ";
            break;
        case 3:
            mode_text_ = " 3D ";
            break;
        default:
            break;
    }
}

void TMainMDIChild::ShowFreshness(const zorvik::link::Freshness& fresh) {
    const bool position_current = position_valid_ && fresh.rmc;
    const bool dop_current = position_current && fresh.gsa && gsa_on_link_;
    for (QLineEdit* edit : ValidityEdits()) {
        bool current = position_current;
        if (edit == Edit13) current = position_current && fresh.gga && gga_on_link_;
        if (edit == Edit16 || edit == Edit17 || edit == Edit19) current = dop_current;
        SetFieldColour(edit, current ? kValidGreen : ButtonFace());
    }
    Edit18->setText(fresh.rmc ? fix_text_ : kNothingClaimed);
    Edit19->setText(fresh.gsa && gsa_on_link_ ? mode_text_ : kNothingClaimed);
}

void TMainMDIChild::ShowSky(const ParseNMEAInfo& sky) {
    // The chart and plot read StateCopy: this epoch's whole table goes there.
    std::copy(std::begin(sky.sv_prn), std::end(sky.sv_prn), StateCopy.sv_prn);
    std::copy(std::begin(sky.sv_elevation), std::end(sky.sv_elevation), StateCopy.sv_elevation);
    std::copy(std::begin(sky.sv_azimuth), std::end(sky.sv_azimuth), StateCopy.sv_azimuth);
    std::copy(std::begin(sky.sv_snr), std::end(sky.sv_snr), StateCopy.sv_snr);
    std::copy(std::begin(sky.sv_pos_missing), std::end(sky.sv_pos_missing),
              StateCopy.sv_pos_missing);
    std::copy(std::begin(sky.ch_status), std::end(sky.ch_status), StateCopy.ch_status);
    std::copy(std::begin(sky.sv_used), std::end(sky.sv_used), StateCopy.sv_used);
    DrawSkyPlot();
    DrawChannelChart();
    sky_shown_ = true;
}

void TMainMDIChild::ShowNoSky() {
    if (!sky_shown_) return;
    DrawEmptyChannelChart();
    DrawSkyBackground();
    sky_shown_ = false;
}

void TMainMDIChild::ShowNothingCurrent() {
    gsa_on_link_ = false;
    gga_on_link_ = false;
    position_valid_ = false;
    fix_text_ = kNothingClaimed;
    mode_text_ = kNothingClaimed;
    for (QLineEdit* edit : ValidityEdits()) SetFieldColour(edit, ButtonFace());
    Edit18->setText(kNothingClaimed);
    Edit19->setText(kNothingClaimed);
    ShowNoSky();
}

void TMainMDIChild::ShowStartUpLook() {
    for (QLineEdit* edit : ValidityEdits()) edit->clear();
    ShowNothingCurrent();
}

// ---- The main window's 500 ms tick -------------------------------------------

void TMainForm::Timer1Timer() {
    CheckPortLost();
    TMainMDIChild* view = MainMDIChild;
    const QList<QAction*> live_items = {Cold_Start, Warm_Start, Hot_Start, SetNMEASentences1,
                                        LoadFW};
    auto set_live_items = [&](bool enabled) {
        for (QAction* item : live_items) {
            if (item != nullptr) item->setEnabled(enabled);
        }
    };

    // Receiver data are shown only by a tick that began with the port open:
    // whatever the record holds otherwise is not current.
    const bool connected = GetComPort_connected_Status() == 1;
    if (connected) {
        ShowLinkStatus("Connected : ");
        set_live_items(true);
        GetParseNMEAInfo(&StateCopy);
        if (VersionCaptionShown == 0 && StateCopy.parse_fw_ver_done == 1) {
            if (view != nullptr) {
                view->setWindowTitle(Text(fmt::VersionCaption(
                    fmt::FieldText(StateCopy.fw_ver_major), fmt::FieldText(StateCopy.fw_ver_minor),
                    fmt::FieldText(StateCopy.kernel_ver_major),
                    fmt::FieldText(StateCopy.kernel_ver_minor),
                    fmt::FieldText(StateCopy.fsa_ver))));
            }
            VersionCaptionShown = 1;
        }
        if (CustomerCaptionShown == 0 && StateCopy.parse_customer_fw_ver_done == 1) {
            if (view != nullptr) {
                view->setWindowTitle(
                    Text(fmt::CustomerCaption(fmt::FieldText(StateCopy.customer_fw_ver))));
            }
            CustomerCaptionShown = 1;
        }
        if (zorvik::link::RateSwitched(StateCopy)) {
            // The receiver has switched its rate, which only now becomes the
            // link's: close, and let Timer2 reopen at it. The rest of this
            // tick still runs.
            if (BaudRateForm != nullptr)
                BaudRateText = BaudRateForm->AcknowledgedRate(BaudRateText);
            zorvik::link::LeaveOldRate();
            if (Timer2 != nullptr) Timer2->start();
            if (Timer1 != nullptr) Timer1->stop();
            StopReader();
        } else if (BaudRateForm != nullptr && BaudRateForm->AcknowledgementOverdue()) {
            // Shown after the tick: a modal box inside it would run further ticks.
            const QString text = RateNotTakenText(BaudRateForm->RequestedRate(), BaudRateText);
            QTimer::singleShot(0, this, [text] { ShowMessage("Warning", text); });
        }
    } else {
        ShowLinkStatus("Not Connected : ");
        if (view != nullptr) {
            view->setWindowTitle(Text(fmt::kPlainCaption));
            view->ShowNothingCurrent();
        }
        set_live_items(false);
    }

    // What the reader gathered: one epoch's values shown together, each
    // field group current only while its sentence keeps arriving intact.
    zorvik::link::EpochCollector& epochs = ReceivedEpochs();
    const std::optional<zorvik::link::Epoch> epoch =
        connected ? epochs.TakePublished() : std::nullopt;
    if (view != nullptr) {
        view->ShowTtffResult();
        if (epoch) view->ShowNavigation(*epoch);
    }
    CMD_Clear_parse_rmc_done();
    if (view != nullptr && epoch) view->ShowFixMode(*epoch);
    const zorvik::link::Freshness fresh = epochs.FreshAt(zorvik::link::SteadyClock::now());
    if (view != nullptr && connected) view->ShowFreshness(fresh);

    GetParseNMEAInfo(&StateCopy);
    if (!connected) return;
    // The chart and plot only from a whole GSV group with its epoch's GSA.
    if (const std::optional<zorvik::link::Epoch> sky = epochs.TakeSky()) {
        if (view != nullptr) view->ShowSky(sky->record);
        CMD_Clear_parse_gsv_done();
        CMD_Clear_parse_gsa_done();
    } else if (!fresh.sky && view != nullptr) {
        view->ShowNoSky();
    }
}
