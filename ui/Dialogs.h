#pragma once

#include <QString>
#include <functional>

class QWidget;

// The one place where the tool shows message boxes and the exception display.
namespace Dialogs {

constexpr int IconNone = 0;
constexpr int IconError = 16;
constexpr int IconInformation = 64;

// Modal box with one OK button; returns when the user closes it.
void MessageBox(QWidget* parent, const QString& text, const QString& title, int flags);
// The exception display: error icon, the application's title.
void ShowException(QWidget* parent, const QString& message);

QString ApplicationTitle();

// Tests observe boxes here instead of showing them: while a hook is set, no box is shown.
using Hook = std::function<void(const QString& text, const QString& title, int flags)>;
void SetHook(Hook hook);

} // namespace Dialogs
