// Every window and dialog of the program, walked control by control: each
// caption, measured with the font it is drawn in, fits the control that holds
// it and is not covered by a control stacked above it. The pixel layout was
// made for Arial's metrics; this catches a font with other metrics.
#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTest>
#include <QToolButton>

#include "Main.h"
#include "MainWindow.h"
#include "shell_support.h"

namespace {

QString Path(const QWidget* w) {
    QStringList names;
    for (const QObject* o = w; o; o = o->parent())
        names.prepend(o->objectName().isEmpty() ? o->metaObject()->className() : o->objectName());
    return names.join('/');
}

int Advance(const QWidget* w, const QString& text) {
    return w->fontMetrics().horizontalAdvance(QString(text).remove('&'));
}

// The text's drawn rectangle inside its label, in the parent's coordinates.
QRect LabelTextRect(const QLabel* label) {
    const QRect area = label->contentsRect().adjusted(label->margin(), 0, -label->margin(), 0);
    const QSize text(Advance(label, label->text()), label->fontMetrics().height());
    const QRect drawn =
        QStyle::alignedRect(label->layoutDirection(), label->alignment(), text, area);
    return drawn.translated(label->pos());
}

// The width a button needs for its caption with the style's margins.
int NeededButtonWidth(const QAbstractButton* b) {
    const QStyle* s = b->style();
    const int text = Advance(b, b->text());
    if (qobject_cast<const QCheckBox*>(b))
        return s->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, b) +
               s->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, b) + text;
    if (qobject_cast<const QRadioButton*>(b))
        return s->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, b) +
               s->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, nullptr, b) + text;
    int icon = b->icon().isNull() ? 0 : b->iconSize().width() + 4;
    return text + icon + s->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b) +
           2 * s->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
}

QRect GroupTitleRect(const QGroupBox* box) {
    QStyleOptionGroupBox opt;
    opt.initFrom(box);
    opt.text = box->title();
    opt.textAlignment = box->alignment();
    opt.lineWidth = 1;
    opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
    if (box->isCheckable()) opt.subControls |= QStyle::SC_GroupBoxCheckBox;
    return box->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, box);
}

bool IsControl(const QWidget* w) {
    return qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractButton*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QLabel*>(w);
}

// A sibling stacked above the label (later in its parent's child order) that
// covers part of the label's text.
QString CoveringSibling(const QLabel* label) {
    const QRect text = LabelTextRect(label);
    const QObjectList& siblings = label->parentWidget()->children();
    for (qsizetype i = siblings.indexOf(label) + 1; i < siblings.size(); ++i) {
        auto* w = qobject_cast<QWidget*>(siblings[i]);
        if (w && !w->isHidden() && IsControl(w) && w->geometry().intersects(text)) return Path(w);
    }
    return {};
}

// Why a control's caption does not fit, or nothing; counts the captions seen.
QString CaptionFault(QWidget* w, int& checked) {
    if (auto* label = qobject_cast<QLabel*>(w);
        label && !label->text().isEmpty() && label->textFormat() != Qt::RichText) {
        ++checked;
        const int needed = LabelTextRect(label).width();
        const int room = label->contentsRect().width() - 2 * label->margin();
        if (needed > room) return QString("text needs %1 px, has %2").arg(needed).arg(room);
        if (const QString cover = CoveringSibling(label); !cover.isEmpty())
            return QString("text %1 px wide covered by %2").arg(needed).arg(cover);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w);
               b && !b->text().isEmpty() && !qobject_cast<QToolButton*>(w)) {
        ++checked;
        if (NeededButtonWidth(b) > b->width())
            return QString("needs %1 px, has %2").arg(NeededButtonWidth(b)).arg(b->width());
    } else if (auto* box = qobject_cast<QGroupBox*>(w); box && !box->title().isEmpty()) {
        ++checked;
        if (GroupTitleRect(box).right() >= box->width()) return "title wider than the box";
    }
    return {};
}

// Every window of the program: the top-level ones and the dialogs they own.
QList<QWidget*> AllWindows() {
    QList<QWidget*> windows;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!windows.contains(top)) windows << top;
        for (QWidget* w : top->findChildren<QWidget*>())
            if (w->isWindow() && !windows.contains(w)) windows << w;
    }
    return windows;
}

}  // namespace

class TestLayoutFits : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() { zorvik::apptest::EnsureApplicationWindows(); }

    // Each window is shown while it is measured, so that its layouts have
    // placed what they manage.
    void everyCaptionFitsItsControl() {
        QStringList faults;
        int checked = 0;
        for (QWidget* window : AllWindows()) {
            const bool was_hidden = window->isHidden();
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            for (QWidget* w : window->findChildren<QWidget*>()) {
                if (w->window() != window || !w->isVisible()) continue;
                const QString fault = CaptionFault(w, checked);
                if (!fault.isEmpty())
                    faults << QString("%1: %2 (%3 %4 px)")
                                  .arg(Path(w), fault, QFontInfo(w->font()).family())
                                  .arg(QFontInfo(w->font()).pixelSize());
            }
            if (was_hidden) window->hide();
        }
        for (const QString& fault : faults) qWarning("%s", qPrintable(fault));
        QVERIFY2(checked > 50, qPrintable(QString("only %1 captions found").arg(checked)));
        QVERIFY2(faults.isEmpty(), "captions do not fit, see the warnings above");
    }

    // The toolkit's disabled text colour must reach a disabled button even
    // inside a box whose captions are coloured.
    void disabledStartButtonLooksDisabled() {
        QPushButton* start = MainMDIChild->SpeedButton2;
        start->setEnabled(false);
        const QPalette& p = start->palette();
        QVERIFY(p.color(QPalette::Disabled, QPalette::ButtonText) !=
                p.color(QPalette::Active, QPalette::ButtonText));
        QCOMPARE(p.color(QPalette::Disabled, QPalette::ButtonText),
                 QApplication::palette().color(QPalette::Disabled, QPalette::ButtonText));
    }
};

QTEST_MAIN(TestLayoutFits)
#include "test_layout_fits.moc"
