// Checks a screenshot of the program connected to a receiver with a 3D fix:
// the position fields on the valid-fix green, signal bars in the channel
// chart, and satellite discs inside the sky plot's grid.
//
//   screenshot_check FILE     exit 0 when all three are seen, 1 otherwise
#include <QImage>
#include <QRect>
#include <cstdio>

namespace {

bool Is(QRgb p, int r, int g, int b) {
    return qRed(p) == r && qGreen(p) == g && qBlue(p) == b;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: screenshot_check FILE\n");
        return 2;
    }
    const QImage shot =
        QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
    if (shot.isNull()) {
        std::fprintf(stderr, "screenshot_check: cannot read %s\n", argv[1]);
        return 1;
    }
    // The sky plot's grid: the bounding box of its pure cyan pixels.
    QRect grid;
    long valid_green = 0, bar_green = 0;
    for (int y = 0; y < shot.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
        for (int x = 0; x < shot.width(); ++x) {
            if (Is(row[x], 0, 255, 255)) grid |= QRect(x, y, 1, 1);
            if (Is(row[x], 207, 255, 207)) ++valid_green;
        }
    }
    long discs = 0;
    for (int y = 0; y < shot.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
        for (int x = 0; x < shot.width(); ++x) {
            const bool in_grid = grid.contains(x, y);
            if (!in_grid && Is(row[x], 52, 169, 90)) ++bar_green;
            if (in_grid &&
                (Is(row[x], 0, 255, 0) || Is(row[x], 215, 228, 242) || Is(row[x], 255, 255, 144)))
                ++discs;
        }
    }
    std::printf("sky grid %dx%d at (%d,%d); valid-fix green %ld px; bars %ld px; discs %ld px\n",
                grid.width(), grid.height(), grid.x(), grid.y(), valid_green, bar_green, discs);
    bool ok = true;
    // Thirteen fields of about 40 to 180 by 25 to 30 pixels.
    if (valid_green < 5000) {
        std::printf("FAIL: the position fields are not on the valid-fix green\n");
        ok = false;
    }
    if (bar_green < 1000) {
        std::printf("FAIL: no signal bars in the channel chart\n");
        ok = false;
    }
    if (grid.width() < 150 || grid.height() < 150) {
        std::printf("FAIL: no sky plot grid\n");
        ok = false;
    }
    // A disc is about 400 pixels; at least three satellites.
    if (discs < 1000) {
        std::printf("FAIL: no satellite discs in the sky plot\n");
        ok = false;
    }
    return ok ? 0 : 1;
}
