#include "ChannelChart.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>

QColor StateColors(int status) {
    switch (status) {
        case 1:
            return QColor(255, 255, 144);
        case 2:
            return QColor(215, 228, 242);  // inactive caption gradient
        case 3:
            return QColor(0, 255, 0);
        default:
            return QApplication::palette().color(QPalette::Button);
    }
}

namespace ChannelChart {

QString PrnText(int prn) {
    QString text = QString::number(prn);
    if (prn < 10) text.prepend(' ');
    return text;
}

int BarHeight(int cn0) {
    // Values far outside the range of a C/N0 are drawn as they come, but
    // kept where the multiplication cannot overflow; the bitmap clips them.
    const int bounded = std::clamp(cn0, -100000, 100000);
    return static_cast<int>(std::trunc(bounded * 3.2));
}

void GdiRectangle(QPainter& painter, int left, int top, int right, int bottom, const QColor& pen,
                  const QColor& fill) {
    if (right < left) std::swap(left, right);
    if (bottom < top) std::swap(top, bottom);
    if (right == left || bottom == top) return;
    painter.fillRect(QRect(left, top, right - left, bottom - top), fill);
    QPen outline(pen);
    outline.setWidth(0);  // cosmetic, one pixel
    painter.setPen(outline);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(left, top, right - left - 1, bottom - top - 1);
}

QFont BitmapFont() {
    QFont font;
    font.setFamilies({"MS Sans Serif", "Arial", "Nimbus Sans", "Liberation Sans", "DejaVu Sans"});
    font.setPixelSize(11);
    font.setStyleStrategy(QFont::NoAntialias);
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

namespace {

// Text with its top-left corner at (x, y), black on the fill colour.
void DrawOpaqueText(QPainter& painter, int x, int y, const QString& text, const QColor& fill) {
    painter.setPen(Qt::black);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(fill);
    painter.drawText(QRect(x, y, 200, 40), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
    painter.setBackgroundMode(Qt::TransparentMode);
}

int SlotLeft(int slot) {
    return kSlotPitch * slot;
}

QImage NewBitmap() {
    QImage image(kBitmapWidth, kHeight, QImage::Format_RGB32);
    if (!image.isNull()) image.fill(StateColors(0));
    return image;
}

}  // namespace

void DrawChannelFrame(QPainter& painter, int slot) {
    const int x = SlotLeft(slot);
    GdiRectangle(painter, x, kHeight - 232, x + kSlotWidth, kBaseline, FrameColor(),
                 StateColors(0));
    GdiRectangle(painter, x, kBaseline, x + kSlotWidth, kHeight - 10, FrameColor(), StateColors(0));
}

void DrawChannelBar(QPainter& painter, int slot, int status, int prn, int cn0) {
    if (status == 0) return;
    const int x = SlotLeft(slot);
    const int h = BarHeight(cn0);
    const QColor colour = StateColors(status);
    painter.setFont(BitmapFont());
    GdiRectangle(painter, x, kBaseline, x + kSlotWidth, kHeight - 10, Qt::black, colour);
    DrawOpaqueText(painter, prn < 100 ? x + 2 : x, kBaseline + 3, PrnText(prn), colour);
    if (status != 2 && status != 3) return;
    GdiRectangle(painter, x, kBaseline - h, x + kSlotWidth, kBaseline, Qt::black, BarColor());
    GdiRectangle(painter, x, kBaseline - h - 9, x + kSlotWidth, kBaseline - h + 2, Qt::black,
                 colour);
    DrawOpaqueText(painter, x + 2, kBaseline - h + 6, QString::number(cn0), BarColor());
}

QImage RenderEmpty() {
    QImage image = NewBitmap();
    if (image.isNull()) return image;
    QPainter painter(&image);
    if (!painter.isActive()) return QImage();
    for (int i = 0; i < kSlots; ++i) DrawChannelFrame(painter, i);
    return image;
}

QImage Render(const ParseNMEAInfo& info, bool by_prn) {
    QImage image = NewBitmap();
    if (image.isNull()) return image;
    QPainter painter(&image);
    for (int i = 0; i < kSlots; ++i) {
        DrawChannelFrame(painter, i);
        if (by_prn) {
            DrawChannelBar(painter, i, info.sorted_status[i], info.sorted_prn[i],
                           info.sorted_snr[i]);
        } else {
            DrawChannelBar(painter, i, info.ch_status[i], info.sv_prn[i], info.sv_snr[i]);
        }
    }
    return image;
}

}  // namespace ChannelChart
