#include "SkyPlot.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>

#include "ChannelChart.h"

static void RegisterLiveAssets() {
    Q_INIT_RESOURCE(live);
}

namespace SkyPlot {

QString TemplatePath = QStringLiteral(":/live/sky_template.png");

void EnsureAssets() {
    static const bool registered = (RegisterLiveAssets(), true);
    (void)registered;
}

QImage LoadTemplate() {
    EnsureAssets();
    QFile file(TemplatePath);
    if (!file.open(QIODevice::ReadOnly)) return QImage();
    QImage image;
    if (!image.loadFromData(file.readAll())) return QImage();
    return image.convertToFormat(QImage::Format_RGB32);
}

const QImage& Template() {
    static const QImage decoded = LoadTemplate();
    return decoded;
}

QImage RenderBackground(const QImage& sky_template) {
    if (sky_template.isNull()) return QImage();
    // Implicitly shared: the first painter on the result detaches it, so the
    // template itself is never drawn on.
    return sky_template.convertToFormat(QImage::Format_RGB32);
}

QImage Render(const ParseNMEAInfo& info, const QImage& sky_template) {
    QImage image = RenderBackground(sky_template);
    if (image.isNull()) return image;
    QPainter painter(&image);
    painter.setFont(ChannelChart::BitmapFont());
    for (int i = 0; i < ChannelChart::kSlots; ++i) {
        if (info.ch_status[i] == 0 || info.sv_pos_missing[i] != 0) continue;
        int x = 0;
        int y = 0;
        GetSAT_Pos(info.sv_elevation[i], info.sv_azimuth[i], &x, &y);
        // Far off the bitmap (a malformed elevation): nothing would show, and
        // the label offsets must not overflow.
        if (x < -10000 || x > 10000 || y < -10000 || y > 10000) continue;
        const QColor colour = StateColors(info.ch_status[i]);
        painter.setPen(QPen(Qt::black, 0));
        painter.setBrush(colour);
        // A GDI ellipse in (x, y, x + 24, y + 24) covers the pixels x..x+23.
        painter.drawEllipse(QRect(x, y, kDiscSize - 1, kDiscSize - 1));
        const int prn = info.sv_prn[i];
        painter.setPen(Qt::black);
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.setBackground(colour);
        painter.drawText(QRect(prn < 100 ? x + 5 : x + 2, y + 5, 200, 40),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip,
                         ChannelChart::PrnText(prn));
        painter.setBackgroundMode(Qt::TransparentMode);
    }
    return image;
}

}  // namespace SkyPlot
