#include "Unit12.h"

#include <QMdiSubWindow>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>

TTerminal* Terminal = nullptr;

TTerminal::TTerminal(QWidget* parent) : QWidget(parent) {
    setObjectName("Terminal");
    setWindowTitle("Terminal");
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setUndoRedoEnabled(false);
    Memo1->setGeometry(0, 0, 705, 574);
}

void TTerminal::FormCreate() {
    // The window itself, or the MDI frame around it once it is a child.
    QWidget* frame = parentWidget() && qobject_cast<QMdiSubWindow*>(parentWidget())
                         ? parentWidget()
                         : static_cast<QWidget*>(this);
    frame->setGeometry(700, 0, 320, 627);
}

int TTerminal::LineCount() const {
    const QTextDocument* doc = Memo1->document();
    return doc->isEmpty() ? 0 : doc->blockCount();
}

void TTerminal::Clear() {
    Memo1->clear();
}

void TTerminal::AppendLine(const char* text) {
    QScrollBar* bar = Memo1->verticalScrollBar();
    // Only a memo on screen knows where its user left it; a minimised one
    // keeps following if it followed when it went off screen.
    if (Memo1->isVisible()) following_ = bar->value() >= bar->maximum();
    if (LineCount() >= kMaxLines) Memo1->clear();
    // The receiver speaks ASCII; other bytes are shown as Latin-1 rather than
    // being dropped as broken UTF-8.
    Memo1->appendPlainText(QString::fromLatin1(text));
    if (following_) bar->setValue(bar->maximum());
}

void TTerminal::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Back on screen (restored): the lines that arrived meanwhile are below.
    if (following_) {
        QScrollBar* bar = Memo1->verticalScrollBar();
        bar->setValue(bar->maximum());
    }
}
