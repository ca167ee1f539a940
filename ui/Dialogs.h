#pragma once

#include <QString>
#include <exception>
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

// What an event handler throws to end itself; the handler's caller shows it.
class Exception : public std::exception {
  public:
    explicit Exception(QString message) : Message(std::move(message)) {}
    const QString& message() const { return Message; }
    const char* what() const noexcept override { return "Exception"; }

  private:
    QString Message;
};

// Runs an event handler; an Exception that escapes it goes to the exception display
// and the window goes on.
void RunHandler(QWidget* parent, const std::function<void()>& handler);

// Tests observe boxes here instead of showing them: while a hook is set, no box is shown.
using Hook = std::function<void(const QString& text, const QString& title, int flags)>;
void SetHook(Hook hook);

} // namespace Dialogs
