#include "LimitedEdit.h"

#include <commctrl.h>
#include <imm.h>

#include <string>

#include "TypingLimit.h"
#include "WideText.h"

namespace {

constexpr UINT_PTR SubclassId = 1;

// The box's text without its selection, which typed or pasted text replaces.
std::string KeptText(HWND edit) {
    std::wstring text(size_t(GetWindowTextLengthW(edit)) + 1, L'\0');
    text.resize(size_t(GetWindowTextW(edit, text.data(), int(text.size()))));
    DWORD start = 0, end = 0;
    SendMessageW(edit, EM_GETSEL, WPARAM(&start), LPARAM(&end));
    if (start <= end && end <= text.size()) text.erase(start, end - start);
    return Utf8(text);
}

std::wstring ClipboardText(HWND owner) {
    std::wstring text;
    if (!IsClipboardFormatAvailable(CF_UNICODETEXT) || !OpenClipboard(owner)) return text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

// An input method hands over its result in one piece, not through WM_CHAR. The part that fits
// is inserted, as the Qt face does; false when there is no result to take.
bool InsertImeResult(HWND edit, int limit) {
    HIMC context = ImmGetContext(edit);
    if (context == nullptr) return false;
    std::wstring result;
    const LONG bytes = ImmGetCompositionStringW(context, GCS_RESULTSTR, nullptr, 0);
    if (bytes > 0) {
        result.resize(size_t(bytes) / sizeof(wchar_t));
        ImmGetCompositionStringW(context, GCS_RESULTSTR, result.data(), DWORD(bytes));
    }
    ImmReleaseContext(edit, context);
    if (result.empty()) return false;
    const std::string typed = Utf8(result);
    const std::string fitting(FittingInput(KeptText(edit), typed, limit));
    if (fitting.size() < typed.size()) MessageBeep(MB_OK);
    SendMessageW(edit, EM_REPLACESEL, TRUE, LPARAM(Wide(fitting).c_str()));
    return true;
}

LRESULT CALLBACK HoldToLimit(HWND edit, UINT message, WPARAM w, LPARAM l, UINT_PTR,
                             DWORD_PTR limit) {
    const bool editable = (GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) == 0;
    if (limit > 0 && editable) {
        if ((message == WM_CHAR || message == WM_IME_CHAR) && w >= L' ') {
            const std::string typed = Utf8(std::wstring(1, wchar_t(w)));
            if (FittingInput(KeptText(edit), typed, int(limit)).size() < typed.size()) {
                MessageBeep(MB_OK);
                return 0;
            }
        } else if (message == WM_PASTE) {
            const std::string pasted = Utf8(ClipboardText(edit));
            const auto fitting = PastedInput(KeptText(edit), pasted, int(limit));
            if (!fitting) {
                MessageBeep(MB_OK);
                return 0;
            }
            SendMessageW(edit, EM_REPLACESEL, TRUE, LPARAM(Wide(*fitting).c_str()));
            return 0;
        }
    }
    if (limit > 0 && editable && message == WM_IME_COMPOSITION && (l & GCS_RESULTSTR) != 0 &&
        InsertImeResult(edit, int(limit))) {
        // A new composition the same message starts goes on as usual.
        const LPARAM rest = l & ~LPARAM(GCS_RESULTSTR | GCS_RESULTCLAUSE | GCS_RESULTREADSTR |
                                        GCS_RESULTREADCLAUSE);
        return rest != 0 ? DefSubclassProc(edit, message, w, rest) : 0;
    }
    if (message == WM_NCDESTROY) RemoveWindowSubclass(edit, &HoldToLimit, SubclassId);
    return DefSubclassProc(edit, message, w, l);
}

} // namespace

void SetTypingLimit(HWND edit, int limit) {
    // When the limit is set again, the subclass is already there and only takes the new limit.
    SetWindowSubclass(edit, &HoldToLimit, SubclassId, DWORD_PTR(limit < 0 ? 0 : limit));
}
