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
#include <algorithm>

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {}

int TEdit::Room(int count) const {
    if (Limit == 0) return count;
    const int kept = static_cast<int>(text().size() - selectedText().size());
    return std::clamp(Limit - kept, 0, count);
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
        if (!typed.isEmpty() && typed.at(0).isPrint() && Room(int(typed.size())) < typed.size()) {
            event->accept();
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void TEdit::inputMethodEvent(QInputMethodEvent* event) {
    const QString commit = event->commitString();
    if (Limit > 0 && !isReadOnly() && !commit.isEmpty()) {
        const int replaced =
            hasSelectedText() ? int(selectedText().size()) : event->replacementLength();
        const int room = std::max(0, Limit - (int(text().size()) - replaced));
        if (commit.size() > room) {
            QInputMethodEvent cut(event->preeditString(), event->attributes());
            cut.setCommitString(commit.left(room), event->replacementStart(),
                                event->replacementLength());
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
            // Qt has bound the paste entry both ways over its versions.
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
    const QString clip = QGuiApplication::clipboard()->text(mode);
    const QString part = clip.left(Room(int(clip.size())));
    // A paste that does not fit at all changes nothing, not even the selection.
    if (part.isEmpty() && !clip.isEmpty()) return;
    if (!part.isEmpty() || hasSelectedText()) insert(part);
}

bool TEdit::DropFits(const QDropEvent* event) const {
    if (Limit == 0 || !event->mimeData()->hasText()) return true;
    // A move inside the box takes the selected text out first.
    const bool moveWithin = event->source() == this && event->dropAction() == Qt::MoveAction;
    const int kept = int(text().size()) - (moveWithin ? int(selectedText().size()) : 0);
    const int grown = kept + int(event->mimeData()->text().size());
    return grown <= Limit || grown <= text().size();
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
