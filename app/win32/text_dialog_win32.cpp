#include "app/win32/text_dialog_win32.hpp"

#include <string>
#include <vector>

#include "model/program_settings.hpp"

namespace halvard {
namespace {

constexpr WORD kEditId = 100;

struct Ask {
    std::wstring title;
    std::wstring text;  // in: the text it starts with; out: what was accepted
};

std::wstring widened(std::string_view utf8) {
    std::wstring out;
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return out;
    out.resize(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

// The dialog template in memory: the dialog, then each item aligned to four bytes.
class Template {
public:
    Template(const wchar_t* font, WORD pointSize, short cx, short cy, WORD items) {
        add32(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
        add32(0);
        words_.push_back(items);
        for (short v : {short{0}, short{0}, cx, cy}) words_.push_back(static_cast<WORD>(v));
        words_.push_back(0);  // no menu
        words_.push_back(0);  // the standard class
        words_.push_back(0);  // the title comes with WM_INITDIALOG
        words_.push_back(pointSize);
        text(font);
    }
    void item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom, const wchar_t* label) {
        if (words_.size() % 2 != 0) words_.push_back(0);
        add32(style | WS_CHILD | WS_VISIBLE);
        add32(0);
        for (short v : {x, y, cx, cy}) words_.push_back(static_cast<WORD>(v));
        words_.push_back(id);
        words_.push_back(0xFFFF);
        words_.push_back(atom);
        text(label);
        words_.push_back(0);  // no creation data
    }
    const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    void add32(DWORD v) {
        words_.push_back(LOWORD(v));
        words_.push_back(HIWORD(v));
    }
    void text(const wchar_t* s) {
        for (; *s != 0; ++s) words_.push_back(static_cast<WORD>(*s));
        words_.push_back(0);
    }
    std::vector<WORD> words_;
};

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            auto* ask = reinterpret_cast<Ask*>(lParam);
            SetWindowLongPtrW(dialog, DWLP_USER, lParam);
            SetWindowTextW(dialog, ask->title.c_str());
            HWND edit = GetDlgItem(dialog, kEditId);
            // UTF-16 units: room for 24 characters outside the basic plane; the library counts them.
            SendMessageW(edit, EM_LIMITTEXT, 2 * kProgramNameMaxChars, 0);
            SetWindowTextW(edit, ask->text.c_str());
            SendMessageW(edit, EM_SETSEL, 0, -1);
            SetFocus(edit);
            return FALSE;  // the focus is set
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                auto* ask = reinterpret_cast<Ask*>(GetWindowLongPtrW(dialog, DWLP_USER));
                HWND edit = GetDlgItem(dialog, kEditId);
                std::wstring text(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
                text.resize(
                    static_cast<size_t>(GetWindowTextW(edit, text.data(), static_cast<int>(text.size()))));
                ask->text = std::move(text);
                EndDialog(dialog, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dialog, IDCANCEL);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

std::string narrowed(const std::wstring& text) {
    std::string out;
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0) return out;
    out.resize(static_cast<size_t>(n));
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

void askTextWin32(HWND owner, std::string_view title, std::string_view text,
                  const std::function<void(std::string_view)>& done) {
    constexpr WORD kEdit = 0x0081;
    constexpr WORD kButton = 0x0080;
    Template t(L"MS Shell Dlg", 9, 200, 62, 3);
    t.item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 8, 8, 184, 14, kEditId, kEdit, L"");
    t.item(BS_DEFPUSHBUTTON | WS_TABSTOP, 88, 38, 50, 16, IDOK, kButton, L"OK");
    t.item(BS_PUSHBUTTON | WS_TABSTOP, 142, 38, 50, 16, IDCANCEL, kButton, L"Cancel");
    Ask ask{widened(title), widened(text)};
    const INT_PTR result = DialogBoxIndirectParamW(GetModuleHandleW(nullptr), t.get(), owner, dialogProc,
                                                   reinterpret_cast<LPARAM>(&ask));
    if (result == IDOK && done) done(narrowed(ask.text));
}

}  // namespace halvard
