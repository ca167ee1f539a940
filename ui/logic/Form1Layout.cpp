#include "Form1Layout.h"

#include <array>
#include <cmath>

namespace {

using enum Control;
using K = ControlKind;
constexpr FontRole P = FontRole::Panel;

// The frame texts: their points and colons show between the field boxes laid over them.
constexpr const char* IpFrameText = "    .    .    . ";
constexpr const char* MacFrameText = "    :    :    ";

// Where the field boxes sit on their frame.
constexpr int FieldOffsets[4] = {5, 39, 71, 107};
constexpr int FieldTop = 3;
constexpr int FieldWidth = 22;
constexpr int FieldHeight = 18;
constexpr int FrameHeight = 22;
constexpr int BoxHeight = 22;
constexpr int ButtonHeight = 25;

constexpr ControlEntry Label(Control id, const char* name, int x, int y, const char* caption) {
    return {id, name, K::Label, {x, y, 0, Form1Layout::LabelHeight}, caption, 0, false, nullptr, P};
}
constexpr ControlEntry Edit(Control id, const char* name, int x, int y, int w, int maxLength,
                            const char* tip = nullptr, bool readOnly = false) {
    return {id, name, K::Edit, {x, y, w, BoxHeight}, "", maxLength, readOnly, tip, P};
}
constexpr ControlEntry Frame(Control id, const char* name, int x, int y, int w, const char* text) {
    return {id, name, K::Frame, {x, y, w, FrameHeight}, text, 0, true, nullptr, P};
}
// The n-th field box on `frame`.
constexpr ControlEntry Field(Control id, const char* name, const ControlEntry& frame, int n,
                             int maxLength) {
    const ControlRect on = {frame.Bounds.X + FieldOffsets[n], frame.Bounds.Y + FieldTop, FieldWidth,
                            FieldHeight};
    return {id, name, K::Field, on, "", maxLength, false, nullptr, P};
}
constexpr ControlEntry Button(Control id, const char* name, int x, int y, int w,
                              const char* caption, FontRole font = P) {
    return {id, name, K::Button, {x, y, w, ButtonHeight}, caption, 0, false, nullptr, font};
}

constexpr ControlEntry Ip11 = Frame(Edit11, "Edit11", 411, 184, 145, IpFrameText);
constexpr ControlEntry Ip12 = Frame(Edit12, "Edit12", 659, 64, 145, IpFrameText);
constexpr ControlEntry Ip17 = Frame(Edit17, "Edit17", 659, 104, 145, IpFrameText);
constexpr ControlEntry Ip22 = Frame(Edit22, "Edit22", 659, 144, 145, IpFrameText);
constexpr ControlEntry Mac2 = Frame(Edit2, "Edit2", 451, 144, 102, MacFrameText);

constexpr std::array<ControlEntry, ControlCount> Table = {{
    Label(Label9, "Label9", 316, 32, "Camera："),
    Label(Label1, "Label1", 316, 72, "Address："),
    Label(Label8, "Label8", 316, 112, "Facility NO.："),
    Label(Label3, "Label3", 316, 152, "MAC：00:50:2A"),
    Label(Label4, "Label4", 316, 192, "IP："),
    Label(Label12, "Label12", 316, 232, "Unlocking  Time："),
    Label(Label10, "Label10", 316, 264, "Status："),
    Label(Label11, "Label11", 376, 264, "状态："),
    Label(Label5, "Label5", 576, 72, "Subnet："),
    Label(Label6, "Label6", 576, 112, "Gateway："),
    Label(Label7, "Label7", 576, 152, "Server："),
    Label(Label2, "Label2", 576, 192, "Version："),

    Button(Button1, "Button1", 552, 296, 81, "Write"),
    Button(Button2, "Button2", 384, 296, 81, "Search all"),
    Ip11,
    Field(Edit7, "Edit7", Ip11, 0, 3),
    Field(Edit8, "Edit8", Ip11, 1, 3),
    Field(Edit9, "Edit9", Ip11, 2, 3),
    Field(Edit10, "Edit10", Ip11, 3, 3),
    Edit(Edit1, "Edit1", 411, 64, 145, 10,
         "10bits for Flat carmera; 4bits for villa camera;4bits for Help station"),
    Ip12,
    Field(Edit13, "Edit13", Ip12, 0, 3),
    Field(Edit14, "Edit14", Ip12, 1, 3),
    Field(Edit15, "Edit15", Ip12, 2, 3),
    Field(Edit16, "Edit16", Ip12, 3, 3),
    Ip17,
    Field(Edit18, "Edit18", Ip17, 0, 3),
    Field(Edit19, "Edit19", Ip17, 1, 3),
    Field(Edit20, "Edit20", Ip17, 2, 3),
    Field(Edit21, "Edit21", Ip17, 3, 3),
    Ip22,
    Field(Edit23, "Edit23", Ip22, 0, 3),
    Field(Edit24, "Edit24", Ip22, 1, 3),
    Field(Edit25, "Edit25", Ip22, 2, 3),
    Field(Edit26, "Edit26", Ip22, 3, 3),
    Mac2,
    Field(Edit3, "Edit3", Mac2, 0, 2),
    Field(Edit4, "Edit4", Mac2, 1, 2),
    Field(Edit5, "Edit5", Mac2, 2, 2),
    Edit(Edit6, "Edit6", 411, 104, 145, 1, "Facility NO. between 0 -1"),
    {ListBox1, "ListBox1", K::List, {24, 16, 257, 321}, "", 0, false, nullptr, P},
    Edit(Edit27, "Edit27", 659, 184, 145, 1, "Version infomation", true),
    {ComboBox1, "ComboBox1", K::Combo, {411, 24, 145, 22}, "", 0, false, nullptr, P},
    Edit(Edit28, "Edit28", 440, 224, 113, 1, "Unlocking time from 1 to 9 seconds"),
    Button(Button3, "Button3", 696, 296, 75, "Del all cards", FontRole::Window),
}};

constexpr std::size_t FirstInTabOrder = LabelCount;

// Every control once, labels first.
constexpr bool Complete() {
    std::array<int, ControlCount> seen{};
    for (std::size_t i = 0; i < Table.size(); ++i) {
        if (++seen[std::size_t(Table[i].Id)] != 1) return false;
        if ((Table[i].Kind == K::Label) != (i < FirstInTabOrder)) return false;
    }
    return true;
}
static_assert(Complete());

constexpr std::array<std::size_t, ControlCount> IndexById() {
    std::array<std::size_t, ControlCount> at{};
    for (std::size_t i = 0; i < Table.size(); ++i)
        at[std::size_t(Table[i].Id)] = i;
    return at;
}
constexpr std::array<std::size_t, ControlCount> TableIndex = IndexById();

constexpr const char* Items[] = {"Flat Camera", "Help Station", "Villa Camera"};

} // namespace

namespace Form1Layout {

std::span<const ControlEntry> Controls() {
    return Table;
}

const ControlEntry& Entry(Control control) {
    return Table[TableIndex[std::size_t(control)]];
}

std::span<const ControlEntry> TabOrder() {
    return Controls().subspan(FirstInTabOrder);
}

std::span<const char* const> ComboItems() {
    return Items;
}

int WholeScaleFactor(double desktopFactor) {
    const int whole = int(std::floor(desktopFactor + 0.5));
    return whole < 1 ? 1 : whole;
}

ControlRect Scaled(const ControlRect& r, int factor) {
    return {Scaled(r.X, factor), Scaled(r.Y, factor), Scaled(r.Width, factor),
            Scaled(r.Height, factor)};
}

} // namespace Form1Layout
