#include "Fonts.h"

#include <QApplication>
#include <QStringList>

namespace Fonts {
namespace {

const QString kArial = QStringLiteral("Arial");
const QString kMetricTwin = QStringLiteral("Liberation Sans");
const QString kSansSerif = QStringLiteral("MS Sans Serif");
// No metric twin exists for the heavy face: the nearest heavy sans faces, and
// the metric twin in its heaviest weight where none of them is installed.
const QStringList kArialBlack = {"Arial Black", "Nimbus Sans", "DejaVu Sans", kMetricTwin};
// The forms' face and size (8 points at 96 dots per inch).
constexpr int kFormPixelSize = 11;

}  // namespace

void Install() {
    QFont::insertSubstitution(kArial, kMetricTwin);
    QFont::insertSubstitutions(kSansSerif, {kArial, kMetricTwin});
    // Left to the system, the default face can be any installed one (a
    // monospaced face on a minimal installation).
    QApplication::setFont(SansSerif(kFormPixelSize));
}

QFont Arial(int pixel_size, QFont::Weight weight) {
    QFont font(kArial);
    font.setPixelSize(pixel_size);
    font.setWeight(weight);
    return font;
}

QFont ArialPoints(int point_size, QFont::Weight weight) {
    return QFont(kArial, point_size, weight);
}

QFont ArialBlack(int pixel_size) {
    QFont font;
    font.setFamilies(kArialBlack);
    font.setPixelSize(pixel_size);
    font.setWeight(QFont::Black);
    return font;
}

QFont SansSerif(int pixel_size) {
    QFont font(kSansSerif);
    font.setPixelSize(pixel_size);
    return font;
}

}  // namespace Fonts
