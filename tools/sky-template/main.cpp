// Generator of the live view's stored pictures:
//  - sky_template.png (512 x 384): the polar grid of the sky plot. Only its
//    top-left 268 x 257 pixels are shown. The grid matches GetSAT_Pos: the
//    zenith at (136, 132), the horizon 102 pixels around it, the elevation
//    rings at (90 - e) x 102 / 90 pixels.
//  - degree_sign.png (364 x 335): a small ring in its top-left 9 x 30 pixels,
//    the part that the position fields show.
#include <QDir>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QtMath>
#include <cstdio>

namespace {

constexpr QPointF kZenith(136.5, 132.5);  // centre of pixel (136, 132)
constexpr double kHorizon = 102.0;

double RingRadius(int elevation) {
    return (90 - elevation) * kHorizon / 90.0;
}

QFont LabelFont(int pixel_size, bool bold) {
    QFont font;
    font.setFamilies({"Arial", "Liberation Sans", "DejaVu Sans"});
    font.setPixelSize(pixel_size);
    font.setBold(bold);
    font.setHintingPreference(QFont::PreferFullHinting);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

void DrawCentredText(QPainter& p, QPointF centre, const QString& text) {
    const QFontMetrics fm(p.font());
    const QRect box = fm.tightBoundingRect(text);
    p.drawText(QPointF(centre.x() - box.width() / 2.0 - box.left(),
                       centre.y() + box.height() / 2.0 - box.bottom()),
               text);
}

QImage SkyTemplate() {
    QImage image(512, 384, QImage::Format_RGB888);
    image.fill(Qt::white);
    QPainter p(&image);
    // The visible part sits on the light grey window colour.
    p.fillRect(QRect(0, 0, 268, 257), QColor(224, 224, 224));
    p.setRenderHint(QPainter::Antialiasing, true);

    // The disc: a bezel shaded lighter towards the upper left, holding the
    // black sky.
    const QPointF disc_centre(135.5, 131.5);
    QLinearGradient bezel(disc_centre + QPointF(-126, -126), disc_centre + QPointF(126, 126));
    bezel.setColorAt(0.0, QColor(214, 214, 214));
    bezel.setColorAt(0.5, QColor(150, 150, 150));
    bezel.setColorAt(1.0, QColor(96, 96, 96));
    p.setPen(QPen(QColor(64, 64, 64), 1));
    p.setBrush(bezel);
    p.drawEllipse(disc_centre, 125.5, 125.5);
    QLinearGradient sky(kZenith + QPointF(-104, -104), kZenith + QPointF(104, 104));
    sky.setColorAt(0.0, QColor(40, 40, 48));
    sky.setColorAt(0.45, Qt::black);
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawEllipse(kZenith, kHorizon + 2, kHorizon + 2);

    // Elevation rings (80, 60, 40, 20 degrees) and the horizon, in cyan.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::cyan, 1));
    for (int elevation = 80; elevation >= 0; elevation -= 20) {
        const double r = RingRadius(elevation);
        p.drawEllipse(kZenith, r, r);
    }
    // The red ring at 93 pixels (about 8 degrees above the horizon).
    p.setPen(QPen(Qt::red, 1));
    p.drawEllipse(kZenith, 93.0, 93.0);

    // North-south and east-west axes with a tick every 10 degrees of elevation.
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(Qt::cyan, 1));
    const QPoint c(136, 132);
    p.drawLine(c.x(), c.y() - 102, c.x(), c.y() + 102);
    p.drawLine(c.x() - 102, c.y(), c.x() + 102, c.y());
    for (int elevation = 80; elevation >= 0; elevation -= 10) {
        const int r = static_cast<int>(RingRadius(elevation));
        const int half = elevation % 20 == 0 ? 3 : 2;
        p.drawLine(c.x() + r, c.y() - half, c.x() + r, c.y() + half);
        p.drawLine(c.x() - r, c.y() - half, c.x() - r, c.y() + half);
        p.drawLine(c.x() - half, c.y() + r, c.x() + half, c.y() + r);
        p.drawLine(c.x() - half, c.y() - r, c.x() + half, c.y() - r);
    }

    // White elevation labels just below the eastern axis, on their rings.
    p.setFont(LabelFont(9, false));
    p.setPen(Qt::white);
    for (int elevation = 80; elevation >= 20; elevation -= 20) {
        const double r = RingRadius(elevation);
        DrawCentredText(p, QPointF(c.x() + r + 0.5, c.y() + 10.5), QString::number(elevation));
    }

    // Azimuth labels on the bezel, every 30 degrees, clockwise from north.
    p.setFont(LabelFont(11, true));
    p.setPen(Qt::black);
    for (int azimuth = 0; azimuth < 360; azimuth += 30) {
        const double a = qDegreesToRadians(static_cast<double>(azimuth));
        const double r = 114.0;
        DrawCentredText(p, QPointF(kZenith.x() + std::sin(a) * r, kZenith.y() - std::cos(a) * r),
                        QString::number(azimuth));
    }
    p.end();
    return image;
}

QImage DegreeSign() {
    QImage image(364, 335, QImage::Format_RGB888);
    image.fill(QColor(250, 244, 222));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(QColor(0, 0, 128), 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(4.5, 9.5), 2.6, 2.6);
    p.end();
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: sky-template OUTPUT_DIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) return 1;
    const bool ok = SkyTemplate().save(out.filePath("sky_template.png"), "PNG") &&
                    DegreeSign().save(out.filePath("degree_sign.png"), "PNG");
    if (!ok) {
        std::fprintf(stderr, "sky-template: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
