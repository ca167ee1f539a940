#pragma once

// What the window's decisions ask of a face: each face (Qt on Linux, the Windows API on
// Windows) implements this on its controls. Texts are UTF-8.

#include <string>

#include "Form1Layout.h"

class Form1View {
  public:
    // Edit boxes.
    virtual std::string Text(Control box) const = 0;
    virtual void SetText(Control box, const std::string& text) = 0;
    // The typing limit in wire bytes (0: none). Text already in the box is never cut.
    virtual void SetMaxLength(Control box, int maxLength) = 0;
    virtual void SelectAll(Control box) = 0;

    // Any control.
    virtual void SetEnabled(Control control, bool enabled) = 0;
    virtual void Focus(Control control) = 0;

    // Modal box with one OK button; returns when it is closed. Flags: 0, 16 (error icon) or 64
    // (information icon).
    virtual void ShowMessage(const std::string& text, const std::string& title, int flags) = 0;
    // The exception display: the message with the error icon, titled with the window's caption.
    virtual void ShowError(const std::string& message) = 0;

    // The text right of "Status："; the label is as wide as its text.
    virtual void SetStatus(const std::string& text) = 0;

    // ListBox1. Changes the program makes never run ListBox1Click.
    virtual void ClearList() = 0;
    virtual void AppendLine(const std::string& line) = 0;
    // The selected line, -1 when none is selected.
    virtual int SelectedIndex() const = 0;

    // ComboBox1. Setting the index never runs ComboBox1Change.
    virtual int ComboIndex() const = 0;
    virtual void SetComboIndex(int index) = 0;

  protected:
    ~Form1View() = default;
};
