#include "app/win32/file_dialog_win32.hpp"

#include <shobjidl.h>
#include <windows.h>
#include <wrl/client.h>

#include <cwchar>
#include <mutex>
#include <string>
#include <string_view>

namespace halvard {

using Microsoft::WRL::ComPtr;

struct Win32FileDialogs::Shared {
    std::mutex mutex;
    bool closed = false;
    HWND window = nullptr;  // the open dialog's window, once it has shown its first folder (or activated)
};

namespace {

std::string utf8(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n - 1));
    return out;
}

std::wstring wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

// The question's message box, learned from a hook on the asking thread as the box activates: its
// OK button becomes the accept button, and shutdown can close it (a box that opens after shutdown
// closes itself at once).
struct QuestionHook {
    HHOOK hook = nullptr;
    Win32FileDialogs::Shared* shared = nullptr;  // null once the box was seen
    std::wstring accept;
};
thread_local QuestionHook questionHook;

LRESULT CALLBACK onQuestionEvent(int code, WPARAM wParam, LPARAM lParam) {
    QuestionHook& q = questionHook;
    if (code == HCBT_ACTIVATE && q.shared != nullptr) {
        const HWND box = reinterpret_cast<HWND>(wParam);
        SetDlgItemTextW(box, IDOK, q.accept.c_str());
        bool closed = false;
        {
            std::lock_guard lock(q.shared->mutex);
            closed = q.shared->closed;
            if (!closed) q.shared->window = box;
        }
        if (closed) PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
        q.shared = nullptr;
    }
    return CallNextHookEx(q.hook, code, wParam, lParam);
}

// Learns the dialog's window when it shows its first folder, so that shutdown can close it; a
// dialog that opens after shutdown closes itself at once.
class DialogEvents final : public IFileDialogEvents {
public:
    explicit DialogEvents(std::shared_ptr<Win32FileDialogs::Shared> shared) : shared_(std::move(shared)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IFileDialogEvents)) {
            *out = static_cast<IFileDialogEvents*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE OnFolderChange(IFileDialog* dialog) override {
        HWND window = nullptr;
        ComPtr<IOleWindow> ole;
        if (FAILED(dialog->QueryInterface(IID_PPV_ARGS(&ole))) || FAILED(ole->GetWindow(&window)))
            return S_OK;
        bool closed = false;
        {
            std::lock_guard lock(shared_->mutex);
            closed = shared_->closed;
            if (!closed) shared_->window = window;
        }
        if (closed) dialog->Close(HRESULT_FROM_WIN32(ERROR_CANCELLED));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnFileOk(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnFolderChanging(IFileDialog*, IShellItem*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnSelectionChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShareViolation(IFileDialog*, IShellItem*,
                                               FDE_SHAREVIOLATION_RESPONSE*) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnTypeChange(IFileDialog*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnOverwrite(IFileDialog*, IShellItem*, FDE_OVERWRITE_RESPONSE*) override {
        return S_OK;
    }

private:
    ~DialogEvents() = default;
    std::shared_ptr<Win32FileDialogs::Shared> shared_;
    ULONG references_ = 1;
};

// What each mode shows: the dialog's kind, title, filter and default extension.
struct Kind {
    bool save;
    bool folder;
    const wchar_t* title;
    COMDLG_FILTERSPEC filter;  // none when its name is null
    const wchar_t* extension;
};

Kind kindOf(DialogMode mode) {
    switch (mode) {
        case DialogMode::Folder:
            return {false, true, L"Extract All IRs", {nullptr, nullptr}, nullptr};
        case DialogMode::ProgramFile:
            return {false, false, L"Restore Programs", {L"SysEx", L"*.syx"}, L"syx"};
        case DialogMode::SaveProgramFile:
            return {true, false, L"Back Up All Programs", {L"SysEx", L"*.syx"}, L"syx"};
        case DialogMode::ImportFiles:
            return {false,
                    false,
                    L"Import Files",
                    {L"Programs and IRs", L"*.halvard-program;*.syx;*.wav;*.wave"},
                    nullptr};
        case DialogMode::SaveOneProgram:
            return {true, false, L"Export Program", {L"Program", L"*.halvard-program"}, L"halvard-program"};
        case DialogMode::WaveFile:
            break;
    }
    return {false, false, L"Import IR", {L"Wave", L"*.wav;*.wave"}, L"wav"};
}

// The name a backup is offered under: halvard-programs-YYYY-MM-DD.syx, today's local date.
std::wstring datedBackupName() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t name[64];
    swprintf(name, 64, L"halvard-programs-%04u-%02u-%02u.syx", now.wYear, now.wMonth, now.wDay);
    return name;
}

// Shows one dialog and returns the chosen path; runs inside the caller's COM apartment.
std::string runDialog(DialogMode mode, const std::shared_ptr<Win32FileDialogs::Shared>& shared) {
    const Kind kind = kindOf(mode);
    ComPtr<IFileDialog> dialog;
    if (FAILED(CoCreateInstance(kind.save ? CLSID_FileSaveDialog : CLSID_FileOpenDialog, nullptr,
                                CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog)))) {
        return {};
    }
    FILEOPENDIALOGOPTIONS options = 0;
    if (SUCCEEDED(dialog->GetOptions(&options))) {
        // File-system items only, so that the result is a path.
        options |= FOS_FORCEFILESYSTEM;
        options |= kind.folder ? FOS_PICKFOLDERS : kind.save ? FOS_OVERWRITEPROMPT : FOS_FILEMUSTEXIST;
        if (mode == DialogMode::ImportFiles) options |= FOS_ALLOWMULTISELECT;
        dialog->SetOptions(options);
    }
    if (kind.filter.pszName) dialog->SetFileTypes(1, &kind.filter);
    if (kind.extension) dialog->SetDefaultExtension(kind.extension);
    if (kind.save)
        dialog->SetFileName(mode == DialogMode::SaveOneProgram ? L"program" : datedBackupName().c_str());
    dialog->SetTitle(kind.title);

    DialogEvents* events = new DialogEvents(shared);
    DWORD cookie = 0;
    const bool advised = SUCCEEDED(dialog->Advise(events, &cookie));
    events->Release();  // the dialog holds it while advised
    const HRESULT shown = dialog->Show(nullptr);
    if (advised) dialog->Unadvise(cookie);
    {
        std::lock_guard lock(shared->mutex);
        shared->window = nullptr;
        if (shared->closed) return {};
    }
    if (FAILED(shown)) return {};  // cancelled, or closed at shutdown
    if (mode == DialogMode::ImportFiles) {
        // Several files: one path a line.
        ComPtr<IFileOpenDialog> open;
        ComPtr<IShellItemArray> items;
        DWORD count = 0;
        if (FAILED(dialog.As(&open)) || FAILED(open->GetResults(&items)) || FAILED(items->GetCount(&count)))
            return {};
        std::string paths;
        for (DWORD i = 0; i < count; ++i) {
            ComPtr<IShellItem> one;
            wchar_t* name = nullptr;
            if (FAILED(items->GetItemAt(i, &one)) || FAILED(one->GetDisplayName(SIGDN_FILESYSPATH, &name)))
                continue;
            paths += (paths.empty() ? "" : "\n") + utf8(name);
            CoTaskMemFree(name);
        }
        return paths;
    }
    ComPtr<IShellItem> item;
    wchar_t* name = nullptr;
    if (FAILED(dialog->GetResult(&item)) || FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &name))) return {};
    std::string path = utf8(name);
    CoTaskMemFree(name);
    return path;
}

}  // namespace

Win32FileDialogs::Win32FileDialogs() : shared_(std::make_shared<Shared>()) {}

Win32FileDialogs::~Win32FileDialogs() {
    shutdown();
}

std::string Win32FileDialogs::showFileDialog(DialogMode mode) {
    if (mode != DialogMode::WaveFile && mode != DialogMode::Folder && mode != DialogMode::ProgramFile &&
        mode != DialogMode::SaveProgramFile && mode != DialogMode::ImportFiles &&
        mode != DialogMode::SaveOneProgram) {
        return {};
    }
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->closed) return {};
    }
    // The worker's own apartment for the dialog's objects, left again before returning.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    std::string path = runDialog(mode, shared_);
    if (SUCCEEDED(com)) CoUninitialize();
    return path;
}

bool Win32FileDialogs::confirm(const Confirmation& question) {
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->closed) return false;
    }
    QuestionHook& q = questionHook;
    q.shared = shared_.get();
    q.accept = L"&" + wide(question.accept);
    q.hook = SetWindowsHookExW(WH_CBT, onQuestionEvent, nullptr, GetCurrentThreadId());
    const std::wstring text = wide(question.heading + "\n\n" + question.details);
    // OK stands for the accept button; Cancel is the default, as the step cannot be undone.
    const int answer = MessageBoxW(nullptr, text.c_str(), wide(question.title).c_str(),
                                   MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2 | MB_SETFOREGROUND);
    if (q.hook != nullptr) UnhookWindowsHookEx(q.hook);
    q = {};
    std::lock_guard lock(shared_->mutex);
    shared_->window = nullptr;
    return answer == IDOK && !shared_->closed;
}

void Win32FileDialogs::shutdown() {
    HWND window = nullptr;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->closed = true;
        window = shared_->window;
    }
    // The dialog belongs to the worker thread: ask it to close as its cancel button would.
    if (window) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace halvard
