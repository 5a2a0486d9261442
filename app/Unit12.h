// Unit12: the terminal window TTerminal, an MDI child that echoes every
// sentence the reader receives.
#pragma once

#include <QWidget>

class QPlainTextEdit;

class TTerminal : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kMaxLines = 500;

    explicit TTerminal(QWidget* parent = nullptr);

    // Read-only, borderless, 705 x 574 at the window's top left corner.
    QPlainTextEdit* Memo1 = nullptr;

    // Sets the window's place: left 700, top 0, width 320, height 627.
    void FormCreate();
    // Adds a sentence as the memo's new last line; a memo that already holds
    // kMaxLines lines is emptied first.
    void AppendLine(const char* text);
    // Number of lines the memo holds.
    int LineCount() const;
    void Clear();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // The view shows the newest line, whatever the window's state, unless
    // its user scrolled back.
    bool following_ = true;
};

extern TTerminal* Terminal;
