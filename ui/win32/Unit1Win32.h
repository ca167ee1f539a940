#pragma once

// The window on Windows: the controls of Form1Layout drawn with the Windows API. It only draws
// and forwards events; every decision is Form1Logic's.

#include <windows.h>

#include <array>
#include <string>

#include "Form1Layout.h"
#include "Form1Logic.h"
#include "Form1View.h"
#include "WindowWake.h"

// Wakes the window thread with a message posted to the window; the message queue keeps the
// order and the poster never waits.
class PostedWake final : public WindowWake {
  public:
    static constexpr UINT Message = WM_APP + 1;
    HWND Window = nullptr;
    void Signal() override { PostMessageW(Window, Message, 0, 0); }
    void Clear() override {} // a wake that finds nothing pending does nothing
};

class TForm1 final : public Form1View {
    // Declared before Logic, so that it is destroyed after Logic: a thread that Logic still runs
    // (when a WM_QUIT from outside ended the loop) may signal the wake until Logic is gone.
    PostedWake Wake;

  public:
    TForm1();
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Creates the window and its controls, hidden.
    bool Create(HINSTANCE instance);
    // Centres and shows the window; the window's first showing runs FormShow.
    void Show();
    // The message loop, until the window is closed.
    void Run();

    Form1Logic Logic{*this};

    // Form1View.
    std::string Text(Control box) const override;
    void SetText(Control box, const std::string& text) override;
    void SetMaxLength(Control box, int maxLength) override;
    void SelectAll(Control box) override;
    void SetEnabled(Control control, bool enabled) override;
    void Focus(Control control) override;
    void ShowMessage(const std::string& text, const std::string& title, int flags) override;
    void ShowError(const std::string& message) override;
    void SetStatus(const std::string& text) override;
    void ClearList() override;
    void AppendLine(const std::string& line) override;
    int SelectedIndex() const override;
    int ComboIndex() const override;
    void SetComboIndex(int index) override;

  private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT Handle(UINT message, WPARAM w, LPARAM l);
    void CreateControls();
    void CreateToolTips(HINSTANCE instance);
    // Places every control and sizes the window for `dpi`, keeping its top-left corner.
    void Layout(int dpi);
    void FitLabel(Control label);
    void Command(int id, int code);
    bool IsButton(HWND control) const;

    HWND& Of(Control c) { return Controls[size_t(c)]; }
    HWND Of(Control c) const { return Controls[size_t(c)]; }

    HWND Window = nullptr;
    std::array<HWND, ControlCount> Controls{};
    HWND ToolTips = nullptr;
    HFONT Fonts[2] = {}; // by FontRole
    HBRUSH FieldGround = nullptr;
    int Factor = 1;
    HWND FocusBeforeDeactivation = nullptr;
    bool Shown = false;
};
