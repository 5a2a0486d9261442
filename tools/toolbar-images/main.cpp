// Draws the tool bar's image list (24 x 24 pictures by index) and the about
// box's program picture. Everything is drawn from fixed shapes and a built-in
// pixel font, no system fonts, so the output is the same on every machine.
//
//   toolbar-images <assets-dir>   writes <dir>/toolbar/NN.png and <dir>/about/program.png
#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <map>

namespace {

constexpr int kSize = 24;

// 3 x 5 pixel glyphs, one row per entry, bit 2 is the left column.
const std::map<char, std::array<int, 5>>& Glyphs() {
    static const std::map<char, std::array<int, 5>> glyphs = {
        {'B', {6, 5, 6, 5, 6}}, {'C', {7, 4, 4, 4, 7}}, {'E', {7, 4, 6, 4, 7}},
        {'I', {7, 2, 2, 2, 7}}, {'K', {5, 5, 6, 5, 5}}, {'L', {4, 4, 4, 4, 7}},
        {'O', {7, 5, 5, 5, 7}}, {'R', {6, 5, 6, 5, 5}}, {'T', {7, 2, 2, 2, 2}},
        {'V', {5, 5, 5, 5, 2}}, {'Z', {7, 1, 2, 4, 7}}, {'1', {2, 6, 2, 2, 7}},
    };
    return glyphs;
}

// Draws text in the pixel font, each font pixel a scale x scale square.
void PixelText(QPainter& p, int x, int y, const char* text, int scale, const QColor& colour) {
    for (const char* c = text; *c; ++c) {
        const auto it = Glyphs().find(*c);
        if (it != Glyphs().end()) {
            for (int row = 0; row < 5; ++row) {
                for (int col = 0; col < 3; ++col) {
                    if (it->second[row] & (4 >> col)) {
                        p.fillRect(x + col * scale, y + row * scale, scale, scale, colour);
                    }
                }
            }
        }
        x += 4 * scale;
    }
}

int PixelTextWidth(const char* text, int scale) {
    int n = 0;
    for (const char* c = text; *c; ++c) ++n;
    return n == 0 ? 0 : n * 4 * scale - scale;
}

QImage Blank() {
    QImage img(kSize, kSize, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    return img;
}

const QColor kNavy(0, 0, 128);
const QColor kOutline(40, 40, 40);

// A plug (left) and a socket (right); apart with a red gap, or joined in green.
QImage Plug(bool connected) {
    QImage img = Blank();
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor body = connected ? QColor(30, 150, 50) : QColor(150, 150, 150);
    const int gap = connected ? 0 : 4;
    // Cable ends.
    p.fillRect(0, 11, 4, 2, kOutline);
    p.fillRect(20, 11, 4, 2, kOutline);
    // Plug body and prongs.
    const int plugRight = 11 - gap / 2;
    p.fillRect(4, 7, plugRight - 6, 10, body);
    p.setPen(kOutline);
    p.drawRect(4, 7, plugRight - 7, 9);
    p.fillRect(plugRight - 2, 9, 3, 2, kOutline);
    p.fillRect(plugRight - 2, 13, 3, 2, kOutline);
    // Socket body.
    const int socketLeft = 13 + gap / 2;
    p.fillRect(socketLeft, 6, 20 - socketLeft, 12, body);
    p.drawRect(socketLeft, 6, 19 - socketLeft, 11);
    if (!connected) {
        p.setPen(QPen(QColor(220, 30, 30), 2));
        p.drawLine(9, 20, 15, 3);
    }
    return img;
}

// Letters on a rounded tile.
QImage Lettered(const char* text, const QColor& tile, int scale) {
    QImage img = Blank();
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(kNavy, 1));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(0.5, 3.5, 23, 17), 3, 3);
    p.setRenderHint(QPainter::Antialiasing, false);
    const int w = PixelTextWidth(text, scale);
    PixelText(p, (kSize - w) / 2, (kSize - 5 * scale) / 2, text, scale, kNavy);
    return img;
}

// A page with a "V" for the version queries.
QImage VersionPage() {
    QImage img = Blank();
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(kOutline);
    p.setBrush(Qt::white);
    p.drawRect(4, 1, 15, 21);
    p.fillRect(14, 1, 6, 5, Qt::transparent);
    p.drawLine(14, 1, 19, 6);
    for (int y = 5; y <= 8; y += 3) p.fillRect(7, y, 6, 1, QColor(120, 120, 120));
    PixelText(p, 8, 11, "V", 2, kNavy);
    return img;
}

// One lit bar among empty channel slots, with a "1".
QImage SingleChannel() {
    QImage img = Blank();
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(0, 0, 255));
    for (int i = 0; i < 4; ++i) {
        const int x = 1 + i * 6;
        p.setBrush(Qt::NoBrush);
        p.drawRect(x, 8, 4, 14);
        if (i == 1) p.fillRect(x + 1, 11, 3, 11, QColor(0, 200, 0));
    }
    PixelText(p, 9, 1, "1", 1, kNavy);
    return img;
}

QImage ProgramPicture() {
    QImage img(150, 62, QImage::Format_ARGB32);
    img.fill(QColor(0, 0, 128));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    // A receiver module: board, chip and antenna arcs on the left.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 120, 60));
    p.drawRoundedRect(QRectF(4, 14, 34, 34), 3, 3);
    p.setBrush(QColor(30, 30, 30));
    p.drawRect(QRectF(12, 22, 18, 18));
    p.setPen(QPen(QColor(255, 200, 0), 2));
    p.setBrush(Qt::NoBrush);
    for (int r = 6; r <= 14; r += 4)
        p.drawArc(QRectF(21 - r, 8 - r, 2 * r, 2 * r), 30 * 16, 120 * 16);
    p.setRenderHint(QPainter::Antialiasing, false);
    PixelText(p, 46, 18, "ZORVIK", 4, Qt::white);
    return img;
}

bool Save(const QImage& img, const QString& path) {
    if (!img.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: toolbar-images <assets-dir>\n");
        return 2;
    }
    const QDir assets(QString::fromLocal8Bit(argv[1]));
    if (!assets.mkpath("toolbar") || !assets.mkpath("about")) {
        std::fprintf(stderr, "cannot create folders under %s\n", argv[1]);
        return 1;
    }
    const std::map<int, QImage> pictures = {
        {24, Plug(false)},
        {25, Plug(true)},
        {27, Lettered("BE", QColor(200, 225, 255), 2)},
        {28, Lettered("LTE", QColor(255, 235, 190), 2)},
        {33, VersionPage()},
        {34, SingleChannel()},
    };
    bool ok = true;
    for (const auto& [index, img] : pictures) {
        ok = Save(img, assets.filePath(QString("toolbar/%1.png").arg(index, 2, 10, QChar('0')))) &&
             ok;
    }
    ok = Save(ProgramPicture(), assets.filePath("about/program.png")) && ok;
    return ok ? 0 : 1;
}
