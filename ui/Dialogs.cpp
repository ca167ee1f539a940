#include "Dialogs.h"

#include <QMessageBox>

#include "Form1Layout.h"

namespace Dialogs {

namespace {

Hook& CurrentHook() {
    static Hook hook;
    return hook;
}

QMessageBox::Icon IconFor(int flags) {
    switch (flags) {
    case IconError:
        return QMessageBox::Critical;
    case IconInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

void MessageBox(QWidget* parent, const QString& text, const QString& title, int flags) {
    if (CurrentHook()) {
        CurrentHook()(text, title, flags);
        return;
    }
    QMessageBox box(IconFor(flags), title, text, QMessageBox::Ok, parent);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void ShowException(QWidget* parent, const QString& message) {
    MessageBox(parent, message, ApplicationTitle(), IconError);
}

QString ApplicationTitle() {
    return QString::fromUtf8(Form1Layout::Caption);
}

void SetHook(Hook hook) {
    CurrentHook() = std::move(hook);
}

} // namespace Dialogs
