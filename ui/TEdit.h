#pragma once

#include <QClipboard>
#include <QLineEdit>

// Single-line edit box whose length limit applies to what the user types, pastes or drops
// only. Text the program sets is never cut, and a box already past its limit can shrink but
// not grow. QLineEdit::setMaxLength would cut program text, so it is left at its default.
// The limit counts the bytes the text takes on the wire (GBK: two for a Chinese character).
class TEdit : public QLineEdit {
    Q_OBJECT
  public:
    explicit TEdit(QWidget* parent = nullptr);

    int MaxLength() const { return Limit; }
    void SetMaxLength(int maxLength) { Limit = maxLength < 0 ? 0 : maxLength; } // 0: none

    // The longest beginning of `input`, in whole characters, that fits in place of `replaced`
    // characters from `at`; by default in place of the selection.
    QString Fit(const QString& input) const;
    QString Fit(const QString& input, qsizetype at, qsizetype replaced) const;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void PasteWithinLimit(QClipboard::Mode mode);
    bool DropFits(const QDropEvent* event) const;

    int Limit = 0;
};
