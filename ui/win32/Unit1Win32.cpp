#include "Unit1Win32.h"

#include <commctrl.h>

#include "LimitedEdit.h"
#include "WideText.h"

namespace {

constexpr wchar_t ClassName[] = L"TForm1";
constexpr DWORD WindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD WindowExStyle = 0;
// Control ids clear of IDOK and IDCANCEL, which the dialog manager sends for Enter and Escape.
constexpr int FirstControlId = 100;
// ComboBox1's drop-down shows its three items without a scroll bar.
constexpr int ComboDropLines = 3;

int IdOf(Control c) {
    return FirstControlId + int(c);
}

// Windows 10 1607 and later scale per monitor; earlier systems have one desktop DPI.
UINT DpiOf(HWND window) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32"), "GetDpiForWindow")));
    if (getDpiForWindow && window) return getDpiForWindow(window);
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return UINT(dpi > 0 ? dpi : USER_DEFAULT_SCREEN_DPI);
}

RECT WindowRectFor(int clientWidth, int clientHeight, UINT dpi) {
    RECT r{0, 0, clientWidth, clientHeight};
    using AdjustFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = reinterpret_cast<AdjustFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32"), "AdjustWindowRectExForDpi")));
    if (adjustForDpi)
        adjustForDpi(&r, WindowStyle, FALSE, WindowExStyle, dpi);
    else
        AdjustWindowRectEx(&r, WindowStyle, FALSE, WindowExStyle);
    return r;
}

// The two font roles; Windows finds "宋体" under its English name "SimSun" too.
HFONT MakeFont(FontRole role, int factor) {
    LOGFONTW font{};
    font.lfWeight = FW_NORMAL;
    font.lfQuality = DEFAULT_QUALITY;
    if (role == FontRole::Panel) {
        font.lfHeight = -14 * factor;
        font.lfCharSet = GB2312_CHARSET;
        lstrcpynW(font.lfFaceName, L"宋体", LF_FACESIZE);
    } else {
        font.lfHeight = -11 * factor; // 8 points at 96 pixels per inch
        font.lfCharSet = DEFAULT_CHARSET;
        lstrcpynW(font.lfFaceName, L"MS Sans Serif", LF_FACESIZE);
    }
    return CreateFontIndirectW(&font);
}

std::wstring WindowText(HWND control) {
    std::wstring text(size_t(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(size_t(GetWindowTextW(control, text.data(), int(text.size()))));
    return text;
}

} // namespace

TForm1::TForm1() = default;

TForm1::~TForm1() {
    if (Window) DestroyWindow(Window);
    for (HFONT font : Fonts)
        if (font) DeleteObject(font);
    if (FieldGround) DeleteObject(FieldGround);
}

bool TForm1::Create(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &TForm1::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = ClassName;
    if (!RegisterClassExW(&windowClass)) return false;

    const RECT r =
        WindowRectFor(Form1Layout::ClientWidth, Form1Layout::ClientHeight, USER_DEFAULT_SCREEN_DPI);
    Window = CreateWindowExW(WindowExStyle, ClassName, Wide(Form1Layout::Caption).c_str(),
                             WindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, r.right - r.left,
                             r.bottom - r.top, nullptr, nullptr, instance, this);
    if (!Window) return false;
    Wake.Window = Window;
    Logic.Mailbox.SetWake(Wake);
    FieldGround = CreateSolidBrush(GetSysColor(COLOR_WINDOW));
    CreateControls();
    Layout(int(DpiOf(Window)));
    return true;
}

namespace {

// The window class and styles of a control of the layout.
struct ControlClass {
    const wchar_t* Name = L"EDIT";
    DWORD Style = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
    DWORD ExStyle = 0;
};

ControlClass ClassOf(const ControlEntry& entry) {
    ControlClass c;
    switch (entry.Kind) {
    case ControlKind::Label:
        c.Name = L"STATIC";
        c.Style |= SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE;
        break;
    case ControlKind::Edit:
        c.Style |= WS_TABSTOP | ES_AUTOHSCROLL | (entry.ReadOnly ? ES_READONLY : 0);
        c.ExStyle |= WS_EX_CLIENTEDGE;
        break;
    case ControlKind::Frame:
        c.Style |= ES_AUTOHSCROLL | ES_READONLY | WS_DISABLED;
        c.ExStyle |= WS_EX_CLIENTEDGE;
        break;
    case ControlKind::Field:
        c.Style |= WS_TABSTOP | ES_AUTOHSCROLL;
        break;
    case ControlKind::List:
        c.Name = L"LISTBOX";
        c.Style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
        c.ExStyle |= WS_EX_CLIENTEDGE;
        break;
    case ControlKind::Combo:
        c.Name = L"COMBOBOX";
        c.Style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;
        break;
    case ControlKind::Button:
        c.Name = L"BUTTON";
        c.Style |= WS_TABSTOP | BS_PUSHBUTTON;
        break;
    }
    return c;
}

} // namespace

void TForm1::CreateControls() {
    const HINSTANCE instance = HINSTANCE(GetWindowLongPtrW(Window, GWLP_HINSTANCE));
    // The labels are created first, then the other controls in tab order: the dialog manager's
    // tab order is the order of creation, and every field box comes after its frame.
    for (const ControlEntry& entry : Form1Layout::Controls()) {
        const ControlClass c = ClassOf(entry);
        HWND control =
            CreateWindowExW(c.ExStyle, c.Name, Wide(entry.Text).c_str(), c.Style, 0, 0, 0, 0,
                            Window, HMENU(INT_PTR(IdOf(entry.Id))), instance, nullptr);
        Of(entry.Id) = control;
        if (entry.Kind == ControlKind::Edit || entry.Kind == ControlKind::Field)
            SetTypingLimit(control, entry.MaxLength);
    }
    // A later child lies below an earlier one; the frames go under the field boxes laid over
    // them. Being disabled they are never in the tab order, which follows the same sibling
    // order, so no focus cycle changes.
    for (const ControlEntry& entry : Form1Layout::Controls())
        if (entry.Kind == ControlKind::Frame)
            SetWindowPos(Of(entry.Id), HWND_BOTTOM, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (const char* item : Form1Layout::ComboItems())
        SendMessageW(Of(Control::ComboBox1), CB_ADDSTRING, 0, LPARAM(Wide(item).c_str()));
    CreateToolTips(instance);
}

void TForm1::CreateToolTips(HINSTANCE instance) {
    ToolTips =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, Window, nullptr, instance, nullptr);
    for (const ControlEntry& entry : Form1Layout::Controls()) {
        if (!entry.ToolTip) continue;
        std::wstring tip = Wide(entry.ToolTip);
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = Window;
        tool.uId = UINT_PTR(Of(entry.Id));
        tool.lpszText = tip.data();
        SendMessageW(ToolTips, TTM_ADDTOOLW, 0, LPARAM(&tool));
    }
    // Wide enough that the longest hint fits on one line.
    SendMessageW(ToolTips, TTM_SETMAXTIPWIDTH, 0, 1000);
}

void TForm1::Layout(int dpi) {
    Factor = Form1Layout::WholeScaleFactor(double(dpi) / USER_DEFAULT_SCREEN_DPI);
    // The controls draw with the old fonts until they hold the new ones, so the old fonts are
    // deleted last.
    const std::array<HFONT, 2> replaced{Fonts[0], Fonts[1]};
    Fonts[int(FontRole::Panel)] = MakeFont(FontRole::Panel, Factor);
    Fonts[int(FontRole::Window)] = MakeFont(FontRole::Window, Factor);

    for (const ControlEntry& entry : Form1Layout::Controls()) {
        HWND control = Of(entry.Id);
        SendMessageW(control, WM_SETFONT, WPARAM(Fonts[int(entry.Font)]), FALSE);
        ControlRect r = Form1Layout::Scaled(entry.Bounds, Factor);
        if (entry.Kind == ControlKind::Combo) {
            const int line = Form1Layout::Scaled(Form1Layout::ListLineHeight, Factor);
            // The closed box is its selection field plus a 3-pixel border above and below.
            SendMessageW(control, CB_SETITEMHEIGHT, WPARAM(-1), r.Height - 6 * Factor);
            SendMessageW(control, CB_SETITEMHEIGHT, 0, line);
            r.Height += line * ComboDropLines + 2 * Factor;
        }
        if (entry.Kind == ControlKind::List)
            SendMessageW(control, LB_SETITEMHEIGHT, 0,
                         Form1Layout::Scaled(Form1Layout::ListLineHeight, Factor));
        SetWindowPos(control, nullptr, r.X, r.Y, r.Width, r.Height, SWP_NOZORDER | SWP_NOACTIVATE);
        if (entry.Kind == ControlKind::Label) FitLabel(entry.Id);
    }

    RECT where{};
    GetWindowRect(Window, &where);
    const RECT size =
        WindowRectFor(Form1Layout::Scaled(Form1Layout::ClientWidth, Factor),
                      Form1Layout::Scaled(Form1Layout::ClientHeight, Factor), UINT(dpi));
    SetWindowPos(Window, nullptr, where.left, where.top, size.right - size.left,
                 size.bottom - size.top, SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(Window, nullptr, TRUE);
    for (HFONT font : replaced)
        if (font) DeleteObject(font);
}

void TForm1::FitLabel(Control label) {
    HWND control = Of(label);
    const std::wstring text = WindowText(control);
    SIZE extent{};
    HDC dc = GetDC(control);
    HGDIOBJ old = SelectObject(dc, HGDIOBJ(SendMessageW(control, WM_GETFONT, 0, 0)));
    GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    SetWindowPos(control, nullptr, 0, 0, extent.cx,
                 Form1Layout::Scaled(Form1Layout::LabelHeight, Factor),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(control, nullptr, TRUE);
}

void TForm1::Show() {
    RECT window{}, desk{};
    GetWindowRect(Window, &window);
    const MONITORINFO none{};
    MONITORINFO monitor = none;
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromWindow(Window, MONITOR_DEFAULTTOPRIMARY), &monitor))
        desk = monitor.rcWork;
    else
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &desk, 0);
    const int width = window.right - window.left, height = window.bottom - window.top;
    SetWindowPos(Window, nullptr, desk.left + (desk.right - desk.left - width) / 2,
                 desk.top + (desk.bottom - desk.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(Window, SW_SHOWNORMAL);
    UpdateWindow(Window);
}

void TForm1::Run() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Enter and Escape press no button: the dialog manager would click the focused one.
        const bool keyOnButton = (message.message == WM_KEYDOWN || message.message == WM_CHAR) &&
                                 (message.wParam == VK_RETURN || message.wParam == VK_ESCAPE) &&
                                 IsButton(message.hwnd);
        if (Window && !keyOnButton && IsDialogMessageW(Window, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool TForm1::IsButton(HWND control) const {
    for (Control c : {Control::Button1, Control::Button2, Control::Button3})
        if (Of(c) == control) return true;
    return false;
}

LRESULT CALLBACK TForm1::WindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(form));
        form->Window = window;
    }
    auto* form = reinterpret_cast<TForm1*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form) return DefWindowProcW(window, message, w, l);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        form->Window = nullptr;
        return DefWindowProcW(window, message, w, l);
    }
    return form->Handle(message, w, l);
}

LRESULT TForm1::Handle(UINT message, WPARAM w, LPARAM l) {
    switch (message) {
    case PostedWake::Message:
        Logic.DrainMailbox();
        return 0;
    case WM_SHOWWINDOW:
        if (w && !Shown) {
            Shown = true;
            Logic.Shown();
        }
        break;
    case WM_ACTIVATE:
        // As in a dialog, the focus returns where it was, or, when there is no such control or
        // it is disabled, to the first control of the tab order that can take it.
        if (LOWORD(w) == WA_INACTIVE) {
            FocusBeforeDeactivation = GetFocus();
        } else {
            HWND target = FocusBeforeDeactivation && IsWindowEnabled(FocusBeforeDeactivation)
                              ? FocusBeforeDeactivation
                              : GetNextDlgTabItem(Window, nullptr, FALSE);
            if (target) SetFocus(target);
            return 0;
        }
        break;
    case WM_COMMAND:
        Command(LOWORD(w), HIWORD(w));
        return 0;
    case WM_CTLCOLORSTATIC:
        // Frames (disabled) and the read-only version box keep the ground of an edit box.
        for (const ControlEntry& entry : Form1Layout::Controls()) {
            if (Of(entry.Id) != HWND(l) || entry.Kind == ControlKind::Label) continue;
            SetBkColor(HDC(w), GetSysColor(COLOR_WINDOW));
            return LRESULT(FieldGround);
        }
        break;
    case WM_DPICHANGED: {
        const auto* suggested = reinterpret_cast<const RECT*>(l);
        SetWindowPos(Window, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        Layout(HIWORD(w));
        return 0;
    }
    case WM_CLOSE:
        Logic.Closing();
        DestroyWindow(Window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(Window, message, w, l);
}

void TForm1::Command(int id, int code) {
    // Every handler runs through the shared rule for a failure that escapes it.
    switch (Control(id - FirstControlId)) {
    case Control::Button1:
        if (code == BN_CLICKED) Logic.Run([this] { Logic.Button1Click(); });
        break;
    case Control::Button2:
        if (code == BN_CLICKED) Logic.Run([this] { Logic.Button2Click(); });
        break;
    case Control::Button3:
        if (code == BN_CLICKED) Logic.Run([this] { Logic.Button3Click(); });
        break;
    case Control::ListBox1:
        // The user's click or key on a line, also one that leaves the selection as it was;
        // LB_SETCURSEL and LB_RESETCONTENT send none.
        if (code == LBN_SELCHANGE) Logic.Run([this] { Logic.ListBox1Click(); });
        break;
    case Control::ComboBox1:
        // This comes for the user's choice only; CB_SETCURSEL sends none.
        if (code == CBN_SELCHANGE) Logic.Run([this] { Logic.ComboBox1Change(); });
        break;
    default:
        break;
    }
}

std::string TForm1::Text(Control box) const {
    return Utf8(WindowText(Of(box)));
}

void TForm1::SetText(Control box, const std::string& text) {
    SetWindowTextW(Of(box), Wide(text).c_str());
}

void TForm1::SetMaxLength(Control box, int maxLength) {
    SetTypingLimit(Of(box), maxLength);
}

void TForm1::SelectAll(Control box) {
    SendMessageW(Of(box), EM_SETSEL, 0, -1);
}

void TForm1::SetEnabled(Control control, bool enabled) {
    EnableWindow(Of(control), enabled);
}

void TForm1::Focus(Control control) {
    // The focus is also remembered here, so that a late activation (a message box's owner
    // activated again) puts it back on this control.
    FocusBeforeDeactivation = Of(control);
    SetFocus(Of(control));
}

void TForm1::ShowMessage(const std::string& text, const std::string& title, int flags) {
    MessageBoxW(Window, Wide(text).c_str(), Wide(title).c_str(), UINT(MB_OK | flags));
}

void TForm1::ShowError(const std::string& message) {
    ShowMessage(message, Form1Layout::Caption, MB_ICONERROR);
}

void TForm1::SetStatus(const std::string& text) {
    SetWindowTextW(Of(Control::Label11), Wide(text).c_str());
    FitLabel(Control::Label11);
}

void TForm1::ClearList() {
    SendMessageW(Of(Control::ListBox1), LB_RESETCONTENT, 0, 0);
}

void TForm1::AppendLine(const std::string& line) {
    SendMessageW(Of(Control::ListBox1), LB_ADDSTRING, 0, LPARAM(Wide(line).c_str()));
}

int TForm1::SelectedIndex() const {
    return int(SendMessageW(Of(Control::ListBox1), LB_GETCURSEL, 0, 0)); // LB_ERR is -1
}

int TForm1::ComboIndex() const {
    return int(SendMessageW(Of(Control::ComboBox1), CB_GETCURSEL, 0, 0)); // CB_ERR is -1
}

void TForm1::SetComboIndex(int index) {
    SendMessageW(Of(Control::ComboBox1), CB_SETCURSEL, WPARAM(index), 0);
}
