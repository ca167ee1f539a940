#pragma once

// The window's controls without a toolkit: what every face draws, where, with which texts,
// limits and fonts. Pixels are the client area's at 100 %.

#include <cstddef>
#include <span>

// Every control of the window, named as the window definition names them. Labels, edit boxes
// and buttons each run in one block, in the order of their numbers.
// clang-format off
enum class Control : unsigned char {
    Label1, Label2, Label3, Label4, Label5, Label6, Label7, Label8, Label9, Label10, Label11,
    Label12,
    Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8, Edit9, Edit10, Edit11, Edit12, Edit13,
    Edit14, Edit15, Edit16, Edit17, Edit18, Edit19, Edit20, Edit21, Edit22, Edit23, Edit24,
    Edit25, Edit26, Edit27, Edit28,
    ListBox1, ComboBox1,
    Button1, Button2, Button3,
};
// clang-format on
inline constexpr int ControlCount = int(Control::Button3) + 1;
inline constexpr int LabelCount = 12;
inline constexpr int EditCount = 28;
inline constexpr int ButtonCount = 3;

// The n-th (from 1) label, edit box or button.
constexpr Control LabelNo(int n) {
    return Control(int(Control::Label1) + n - 1);
}
constexpr Control EditNo(int n) {
    return Control(int(Control::Edit1) + n - 1);
}
constexpr Control ButtonNo(int n) {
    return Control(int(Control::Button1) + n - 1);
}

enum class ControlKind : unsigned char {
    Label,  // static text, as wide as its text, LabelHeight high
    Edit,   // single-line edit box with a border
    Frame,  // a composite box's border and separators: disabled, read-only, never focused, its
            // ground that of the field boxes on it
    Field,  // an edit box without a border, laid over its frame
    List,   // single-selection list box, lines of ListLineHeight
    Combo,  // pick-only drop-down, lines of ListLineHeight
    Button, // push button, never a default button
};

enum class FontRole : unsigned char {
    Panel,  // "宋体" 14 pixels: a 7-pixel half-width cell, which the composite boxes rely on
    Window, // "MS Sans Serif" 8 pt
};

struct ControlRect {
    int X, Y, Width, Height; // Width 0: as wide as the text
};

struct ControlEntry {
    Control Id;
    const char* Name; // the object's name, as the window definition names it
    ControlKind Kind;
    ControlRect Bounds; // a field's bounds are in the client area too, on its frame
    const char* Text;   // caption or initial text, UTF-8
    int MaxLength;      // typing limit in wire bytes (GBK: two for a Chinese character); 0 none
    bool ReadOnly;
    const char* ToolTip; // nullptr: none
    FontRole Font;
};

namespace Form1Layout {

inline constexpr const char* Caption = "Call Panel settings Tool V1.4";
inline constexpr int ClientWidth = 861;
inline constexpr int ClientHeight = 372;
inline constexpr FontRole WindowFont = FontRole::Window; // the form's own, for what it draws
inline constexpr int LabelHeight = 14;                   // labels are as high as their font
inline constexpr int ListLineHeight = 14; // of ListBox1 and of ComboBox1's drop-down list

// Every control in the order the faces create them: the labels, then the others in tab order
// (which puts every field box above its frame).
std::span<const ControlEntry> Controls();
const ControlEntry& Entry(Control control);
// The controls after the labels, in tab order.
std::span<const ControlEntry> TabOrder();

// ComboBox1's items, by the device type indexes; no item is chosen until the window is shown.
std::span<const char* const> ComboItems();

// The window is laid out in whole pixels: the desktop's scale factor is rounded to the nearest
// whole number, halves up (1 at 100 % and 125 %, 2 from 150 % to 249 %), never below 1, which
// keeps every proportion of the layout.
int WholeScaleFactor(double desktopFactor);
// A length or a position at that factor.
constexpr int Scaled(int pixels, int factor) {
    return pixels * factor;
}
ControlRect Scaled(const ControlRect& r, int factor);

} // namespace Form1Layout
