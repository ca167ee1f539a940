#include "TEdit.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <string>

#include "Conversions.h"
#include "TypingLimit.h"

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {}

QString TEdit::Fit(const QString& input) const {
    if (!hasSelectedText()) return Fit(input, cursorPosition(), 0);
    return Fit(input, selectionStart(), selectedText().size());
}

QString TEdit::Fit(const QString& input, qsizetype at, qsizetype replaced) const {
    if (Limit == 0) return input;
    QString kept = text();
    kept.remove(at, replaced);
    const std::string keptText = kept.toStdString(), typed = input.toStdString();
    return QString::fromStdString(std::string(FittingInput(keptText, typed, Limit)));
}

void TEdit::keyPressEvent(QKeyEvent* event) {
    if (Limit > 0 && !isReadOnly()) {
        if (event->matches(QKeySequence::Paste)) {
            PasteWithinLimit(QClipboard::Clipboard);
            event->accept();
            return;
        }
        // The line edit inserts the text of every key it has no use for when it is printable.
        const QString typed = event->text();
        if (!typed.isEmpty() && typed.at(0).isPrint() && Fit(typed).size() < typed.size()) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (Limit > 0 && !isReadOnly() && !commit.isEmpty()) {
        const QString part = hasSelectedText()
                                 ? Fit(commit)
                                 : Fit(commit, cursorPosition() + event->replacementStart(),
                                       event->replacementLength());
        if (part.size() < commit.size()) {
            QInputMethodEvent cut(event->preeditString(), event->attributes());
            cut.setCommitString(part, event->replacementStart(), event->replacementLength());
            QLineEdit::inputMethodEvent(&cut);
            event->accept();
            return;
        }
    }
    QLineEdit::inputMethodEvent(event);
}

void TEdit::mouseReleaseEvent(QMouseEvent* event) {
    // The middle button pastes the selection buffer where the desktop has one.
    if (Limit > 0 && !isReadOnly() && event->button() == Qt::MiddleButton &&
        QGuiApplication::clipboard()->supportsSelection()) {
        deselect();
        PasteWithinLimit(QClipboard::Selection);
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void TEdit::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    if (!menu) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    if (Limit > 0) {
        const auto actions = menu->actions();
        for (QAction* action : actions) {
            // Qt versions have bound the paste entry in both syntaxes, so both are undone.
            const bool typed = disconnect(action, &QAction::triggered, this, &QLineEdit::paste);
            const bool named = disconnect(action, SIGNAL(triggered()), this, SLOT(paste()));
            if (typed || named) {
                connect(action, &QAction::triggered, this,
                        [this] { PasteWithinLimit(QClipboard::Clipboard); });
            } else if (action->menu()) {
                // Inserting control characters would bypass the limit.
                action->setVisible(false);
            }
        }
    }
    menu->popup(event->globalPos());
}

void TEdit::PasteWithinLimit(QClipboard::Mode mode) {
    QString kept = text();
    if (hasSelectedText()) kept.remove(selectionStart(), selectedText().size());
    const std::string clip = QGuiApplication::clipboard()->text(mode).toStdString();
    const auto part = PastedInput(kept.toStdString(), clip, Limit);
    if (!part) return;
    if (!part->empty() || hasSelectedText()) insert(QString::fromUtf8(part->data(), part->size()));
}

bool TEdit::DropFits(const QDropEvent* event) const {
    if (Limit == 0 || !event->mimeData()->hasText()) return true;
    // A move inside the box takes the selected text out first.
    const bool moveWithin = event->source() == this && event->dropAction() == Qt::MoveAction;
    const QString dropped = event->mimeData()->text();
    const QString whole = text();
    QString kept = whole;
    if (moveWithin && hasSelectedText()) kept.remove(selectionStart(), selectedText().size());
    const qsizetype grown = ToWireBytes(kept + dropped).size();
    return grown <= Limit || grown <= ToWireBytes(whole).size();
}

void TEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (!DropFits(event)) {
        event->ignore();
        return;
    }
    QLineEdit::dragEnterEvent(event);
}

void TEdit::dragMoveEvent(QDragMoveEvent* event) {
    if (!DropFits(event)) {
        event->ignore();
        return;
    }
    QLineEdit::dragMoveEvent(event);
}

void TEdit::dropEvent(QDropEvent* event) {
    if (!DropFits(event)) {
        event->ignore();
        return;
    }
    QLineEdit::dropEvent(event);
}
