#pragma once

// Header only: a face without widgets for the window's decisions. Boxes hold texts, the list a
// selection and the combo an index; every change the decisions make is recorded in order.

#include <map>
#include <string>
#include <vector>

#include "Form1View.h"

class RecordingView final : public Form1View {
  public:
    std::map<Control, std::string> Texts;
    int Selected = -1;
    int Combo = 0;
    std::vector<std::string> Lines;
    // "text Edit7=10", "limit Edit1 4", "select Edit8", "enable Button1 0", "focus Edit10",
    // "box text|title|flags", "error message", "status text", "clear", "line text", "combo 2".
    std::vector<std::string> Calls;

    std::string Text(Control box) const override {
        const auto at = Texts.find(box);
        return at == Texts.end() ? std::string() : at->second;
    }
    void SetText(Control box, const std::string& text) override {
        Texts[box] = text;
        Record("text " + Name(box) + "=" + text);
    }
    void SetMaxLength(Control box, int maxLength) override {
        Record("limit " + Name(box) + " " + std::to_string(maxLength));
    }
    void SelectAll(Control box) override { Record("select " + Name(box)); }
    void SetEnabled(Control control, bool enabled) override {
        Record("enable " + Name(control) + (enabled ? " 1" : " 0"));
    }
    void Focus(Control control) override { Record("focus " + Name(control)); }
    void ShowMessage(const std::string& text, const std::string& title, int flags) override {
        Record("box " + text + "|" + title + "|" + std::to_string(flags));
    }
    void ShowError(const std::string& message) override { Record("error " + message); }
    void SetStatus(const std::string& text) override { Record("status " + text); }
    void ClearList() override {
        Lines.clear();
        Selected = -1;
        Record("clear");
    }
    void AppendLine(const std::string& line) override {
        Lines.push_back(line);
        Record("line " + line);
    }
    int SelectedIndex() const override { return Selected; }
    int ComboIndex() const override { return Combo; }
    void SetComboIndex(int index) override {
        Combo = index;
        Record("combo " + std::to_string(index));
    }

  private:
    static std::string Name(Control control) { return Form1Layout::Entry(control).Name; }
    void Record(std::string call) { Calls.push_back(std::move(call)); }
};
