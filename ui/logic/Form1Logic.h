#pragma once

// The window's decisions without widgets: what each event handler does to the controls and the
// engine. Each face forwards its events here and draws what the view is told.

#include <functional>
#include <map>
#include <string>

#include "CommandQueue.h"
#include "Form1Layout.h"
#include "PanelRecord.h"
#include "ReplyDispatcher.h"
#include "Transmitter.h"
#include "Udpr.h"
#include "WindowMailbox.h"
#include "WriteFields.h"

class Form1View;
struct SettingsTexts;

class Form1Logic final : public WindowSink {
  public:
    explicit Form1Logic(Form1View& view) : View(view) {}
    // Stops the sender and receiver threads if the window never got to close.
    ~Form1Logic();
    Form1Logic(const Form1Logic&) = delete;
    Form1Logic& operator=(const Form1Logic&) = delete;

    // Set by start-up before the endpoint opens; kept for the whole run. Without a link (tests
    // that need no network) nothing is sent or received.
    TUDPR* Udpr = nullptr;
    Transmitter* Link = nullptr; // how the sender thread reaches Udpr

    WindowMailbox Mailbox;
    CommandQueue Queue;
    ReplyDispatcher Dispatcher{Queue, Mailbox};
    PanelDirectory Directory;
    PanelRecord PendingSettings = {};

    // The face's window events. Shown: every time the window is shown (FormShow runs on the
    // first); Closing: when it closes (FormClose runs once, and only after FormShow).
    void Shown();
    void Closing();
    bool WasShown() const { return HasShown; }

    // Event handlers.
    void FormShow();
    void FormClose();
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void ListBox1Click();
    void ComboBox1Change();

    // How a face runs a handler: a failure that escapes it goes to the exception display without
    // a message (the handlers show their own errors where they happen), and the window goes on.
    void Run(const std::function<void()>& handler);

    // Called on the window thread when the mailbox's wake arrives.
    void DrainMailbox() { Mailbox.Drain(*this); }

    // WindowSink: changes requested by the sender and receiver threads, applied here.
    void ApplyStatus(const char* text) override;
    void ApplyEnableButtons() override;
    void ApplyPanel(const PanelRecord& record) override;

  private:
    void StopThreads();
    void DisableButtons(bool all); // Write and Search; with `all`, Del all cards too
    // The fields whose boxes no longer show what ListBox1Click put there for line `selected`:
    // all of them when it showed another line or the line now holds another panel.
    WriteFields EditedFields(int selected) const;
    // Checks the texts as the window does and stages them in PendingSettings; false once the
    // user has been told what is wrong.
    bool StageChecked(const SettingsTexts& texts, const WriteFields& edited);

    // What ListBox1Click showed last: a box still showing it writes the panel's own bytes.
    int ShownLine = -1;
    PanelRecord ShownRecord = {};
    int ShownCombo = 0;
    std::map<Control, std::string> ShownTexts;

    Form1View& View;
    bool HasShown = false;
    bool Closed = false;
};
