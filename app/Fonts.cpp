#include "Fonts.h"

#include <QStringList>

namespace Fonts {
namespace {

const QString kArial = QStringLiteral("Arial");
const QString kMetricTwin = QStringLiteral("Liberation Sans");
const QString kSansSerif = QStringLiteral("MS Sans Serif");
// No metric twin exists for the heavy face: the nearest heavy sans faces.
const QStringList kArialBlack = {"Arial Black", "Nimbus Sans", "DejaVu Sans"};

}  // namespace

void InstallSubstitutions() {
    QFont::insertSubstitution(kArial, kMetricTwin);
    QFont::insertSubstitutions(kSansSerif, {kArial, kMetricTwin});
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
