// The window procedure unpacks the window messages and passes them to the Platform, whose pure
// mapping rules (app/platform.cpp) decide what is raised.
#include "app/win32/win32_window.hpp"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "app/win32/text_dialog_win32.hpp"

namespace halvard {

namespace {

// Each byte of the title becomes one UTF-16 unit (the title is ASCII).
std::wstring widened(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

float desktopDpi() {
    HWND desktop = GetDesktopWindow();
    HDC dc = GetDC(desktop);
    const int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(desktop, dc);
    return dpi > 0 ? static_cast<float>(dpi) : 96.0f;
}

std::wstring widenedUtf8(std::string_view text) {
    std::wstring out;
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return out;
    out.resize(static_cast<size_t>(n));
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

constexpr UINT_PTR kTimerId = 1;

}  // namespace

Win32WindowSystem::~Win32WindowSystem() {
    close();
}

std::string Win32WindowSystem::open(Platform& platform) {
    if (CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED) != S_OK) return "COM could not be started";
    comEntered_ = true;
    // Heap corruption ends the process rather than letting it run on.
    HeapSetInformation(nullptr, HeapEnableTerminationOnCorruption, nullptr, 0);
    if (!direct2dFactory()) return "Direct2D is not available";

    HINSTANCE instance = GetModuleHandleW(nullptr);
    className_ = widened(platform.title);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = &Win32WindowSystem::windowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kAppIconResource));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.lpszClassName = className_.c_str();
    if (!RegisterClassExW(&windowClass)) return "cannot register the window class";

    // The window opens (and stays at least) 1280 x 900 DIPs at the desktop's DPI and the panel's
    // zoom, frame included.
    platform_ = &platform;
    dpi_ = desktopDpi();
    platform.dpiChanged(dpi_);
    const WindowSize size = windowSizeForDpi(platform.dpi);
    shownZoom_ = platform.zoomPercent;
    window_ = CreateWindowExW(0, className_.c_str(), className_.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                              CW_USEDEFAULT, size.width, size.height, nullptr, nullptr, instance, this);
    if (!window_) {
        platform_ = nullptr;
        return "cannot create the window";
    }
    SetTimer(window_, kTimerId, kTimerPeriodMs, nullptr);
    DragAcceptFiles(window_, TRUE);
    accessible_.Attach(new PanelAccessible(window_, platform));
    platform.controlsChanged = [this] {
        if (accessible_) accessible_->controlsChanged();
    };
    // Any thread: the window system merges the requests into one WM_PAINT for this thread.
    platform.requestRepaint = [window = window_] {
        RedrawWindow(window, nullptr, nullptr, RDW_INTERNALPAINT);
    };
    platform.showContextMenu = [this](std::span<const MenuEntry> entries, std::function<void(int)> chosen) {
        popupMenu(entries, chosen);
    };
    platform.askText = [this](std::string_view title, std::string_view text,
                              std::function<void(std::string_view)> done) {
        askTextWin32(window_, title, text, done);
    };
    platform.zoomChanged = [this] { applyZoom(); };
    return {};
}

// The panel draws at the window's DPI times the zoom; the window grows or shrinks with it, and
// never below the panel's new smallest size.
void Win32WindowSystem::applyZoom() {
    if (!window_ || !platform_) return;
    if (renderTarget_) renderTarget_->SetDpi(platform_->dpi, platform_->dpi);
    const int zoom = platform_->zoomPercent;
    const WindowSize least = windowSizeForDpi(platform_->dpi);
    RECT outer;
    GetWindowRect(window_, &outer);
    const int width = static_cast<int>((outer.right - outer.left) * static_cast<long>(zoom) / shownZoom_);
    const int height = static_cast<int>((outer.bottom - outer.top) * static_cast<long>(zoom) / shownZoom_);
    shownZoom_ = zoom;
    SetWindowPos(window_, nullptr, 0, 0, std::max(width, least.width), std::max(height, least.height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    InvalidateRect(window_, nullptr, FALSE);
}

std::filesystem::path Win32WindowSystem::settingsFile() const {
    // The wide variable, so that a user name outside the ANSI code page survives.
    const wchar_t* roaming = _wgetenv(L"APPDATA");
    if (roaming == nullptr || *roaming == L'\0') return {};
    return std::filesystem::path(roaming) / L"Halvard Editor" / L"settings";
}

// UI thread, inside the handling of the right button press.
void Win32WindowSystem::popupMenu(std::span<const MenuEntry> entries,
                                  const std::function<void(int)>& chosen) {
    if (!window_ || entries.empty()) return;
    HMENU menu = CreatePopupMenu();
    if (!menu) return;
    // Each entry is its index + 1 (0 means dismissed); one that opens a submenu is the submenu's
    // handle, filled with the level-1 entries that follow it (DestroyMenu takes them along).
    for (size_t i = 0; i < entries.size(); ++i) {
        const MenuEntry& e = entries[i];
        if (e.level != 0) continue;
        const UINT greyed = e.enabled ? 0 : MF_GRAYED;
        if (e.label.empty()) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        if (i + 1 < entries.size() && entries[i + 1].level == 1) {
            HMENU submenu = CreatePopupMenu();
            for (size_t k = i + 1; k < entries.size() && entries[k].level == 1; ++k) {
                const MenuEntry& s = entries[k];
                if (s.label.empty())
                    AppendMenuW(submenu, MF_SEPARATOR, 0, nullptr);
                else
                    AppendMenuW(submenu, MF_STRING | (s.enabled ? 0 : MF_GRAYED), k + 1,
                                widenedUtf8(s.label).c_str());
            }
            AppendMenuW(menu, MF_POPUP | greyed, reinterpret_cast<UINT_PTR>(submenu),
                        widenedUtf8(e.label).c_str());
            continue;
        }
        AppendMenuW(menu, MF_STRING | greyed, i + 1, widenedUtf8(e.label).c_str());
    }
    POINT at;
    GetCursorPos(&at);
    // The menu closes when the user clicks elsewhere only if its owner is the foreground window.
    SetForegroundWindow(window_);
    const int picked = static_cast<int>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                                       at.x, at.y, 0, window_, nullptr));
    DestroyMenu(menu);
    if (picked > 0 && chosen) chosen(picked - 1);
}

void Win32WindowSystem::openFolder(const std::filesystem::path& folder) {
    ShellExecuteW(window_, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Win32WindowSystem::attachPanel(Ui* ui) {
    if (accessible_) accessible_->attach(ui);
}

void Win32WindowSystem::show() {
    if (!window_) return;
    ShowWindow(window_, SW_SHOWNORMAL);
    // The panel's own dark until the first frame is drawn.
    if (HDC dc = GetDC(window_)) {
        RECT client;
        GetClientRect(window_, &client);
        HBRUSH dark = CreateSolidBrush(RGB(2, 2, 2));
        FillRect(dc, &client, dark);
        DeleteObject(dark);
        ReleaseDC(window_, dc);
    }
    UpdateWindow(window_);
}

void Win32WindowSystem::iterate() {
    // Under Wine the X server's events (pointer input, a close request) become messages only when
    // the thread waits; a repaint always pending, as while a transfer repaints every chunk, would
    // keep them out for seconds. A wait of no time lets them in first; on Windows it costs nothing.
    MsgWaitForMultipleObjectsEx(0, nullptr, 0, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG message;
    const BOOL result = GetMessageW(&message, nullptr, 0, 0);
    if (result == 0 || result == -1) {  // WM_QUIT, or no more messages to get
        if (platform_) platform_->running = false;
        return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
}

void Win32WindowSystem::close() {
    if (platform_) {
        platform_->requestRepaint = nullptr;
        platform_->showContextMenu = nullptr;
        platform_->askText = nullptr;
        platform_->controlsChanged = nullptr;
        platform_->zoomChanged = nullptr;
    }
    platform_ = nullptr;
    if (accessible_) {
        // Readers may hold it longer: it answers that it is gone, and remote ones are cut off.
        accessible_->disconnect();
        CoDisconnectObject(static_cast<IAccessible*>(accessible_.Get()), 0);
        accessible_.Reset();
    }
    if (window_) {
        KillTimer(window_, kTimerId);
        DestroyWindow(window_);
        window_ = nullptr;
    }
    renderTarget_.Reset();
    target_ = {};
    if (!className_.empty()) UnregisterClassW(className_.c_str(), GetModuleHandleW(nullptr));
    className_.clear();
    if (comEntered_) CoUninitialize();
    comEntered_ = false;
}

LRESULT CALLBACK Win32WindowSystem::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<Win32WindowSystem*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self && self->platform_ && self->window_ == window) return self->handle(message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Win32WindowSystem::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    Platform& platform = *platform_;
    const auto pointer = [&](PlatformEvent event) {
        // Client pixels, signed; stored as unsigned 16-bit values.
        platform.pointerEvent(event, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        return 0;
    };
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            if (renderTarget_) renderTarget_->Resize(D2D1_SIZE_U{LOWORD(lParam), HIWORD(lParam)});
            return 0;
        case WM_PAINT:
            paint();
            ValidateRect(window_, nullptr);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // every frame covers the whole client area
        case WM_CLOSE:
            // The loop ends; the window is destroyed after it. (Not hidden here: under Wine hiding
            // it can wait seconds on the other threads.)
            if (closing) std::exchange(closing, nullptr)();
            platform.closeRequest();
            return 0;
        case WM_ACTIVATEAPP:
            platform.activationChanged();
            return 0;
        case WM_GETMINMAXINFO: {
            const WindowSize least = windowSizeForDpi(platform.dpi);
            auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
            info->ptMinTrackSize = POINT{least.width, least.height};
            return 0;
        }
        case WM_DISPLAYCHANGE:
            InvalidateRect(window_, nullptr, FALSE);
            return 0;
        case WM_TIMER:
            // A render target that was lost, or could not be made, is made again at the next paint:
            // one is asked for here, so that an idle window does not stay blank.
            if (!renderTarget_) InvalidateRect(window_, nullptr, FALSE);
            platform.timerTick();
            return 0;
        case WM_MOUSEMOVE:
            return pointer(PlatformEvent::PointerMove);
        case WM_LBUTTONDOWN:
            return pointer(PlatformEvent::LeftButtonDown);
        case WM_LBUTTONDBLCLK:
            // The second press of a double click: a press as any other, then the double click.
            pointer(PlatformEvent::LeftButtonDown);
            return pointer(PlatformEvent::LeftDoubleClick);
        case WM_LBUTTONUP:
            return pointer(PlatformEvent::LeftButtonUp);
        case WM_RBUTTONDOWN:
            return pointer(PlatformEvent::RightButtonDown);
        case WM_RBUTTONUP:
            return pointer(PlatformEvent::RightButtonUp);
        case WM_MOUSEWHEEL:
            platform.wheelEvent(GET_WHEEL_DELTA_WPARAM(wParam));
            return 0;
        case WM_GETOBJECT:
            // The client area's accessible; the window's frame and the rest are the system's.
            if (static_cast<DWORD>(lParam) == static_cast<DWORD>(OBJID_CLIENT) && accessible_)
                return LresultFromObject(__uuidof(IAccessible), wParam,
                                         static_cast<IAccessible*>(accessible_.Get()));
            return DefWindowProcW(window_, message, wParam, lParam);
        case PanelAccessible::kActionMessage:
            if (accessible_) accessible_->runAction(wParam, lParam);
            return 0;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN: {
            const uint32_t modifiers = (GetKeyState(VK_SHIFT) < 0 ? kKeyShift : 0u) |
                                       (GetKeyState(VK_CONTROL) < 0 ? kKeyControl : 0u) |
                                       (GetKeyState(VK_MENU) < 0 ? kKeyAlt : 0u);
            // Bit 30: the key was down before this message, so this is a held key's repeat.
            const bool repeat = (lParam & (1 << 30)) != 0;
            const bool ours =
                platform.keyEvent(keyFromVirtualKey(static_cast<uint32_t>(wParam)), modifiers, repeat);
            // Alt and F10 combinations stay the system's (Alt+F4, the window menu), but for
            // Shift+F10, which opens the panel's menu.
            const bool shiftF10 = wParam == VK_F10 && modifiers == kKeyShift;
            if ((message == WM_SYSKEYDOWN && !shiftF10) || !ours)
                return DefWindowProcW(window_, message, wParam, lParam);
            return 0;
        }
        case WM_CHAR:
            // A character typed, for the COLLECTION view's filter (Space is a key of its own; the
            // characters of Ctrl combinations are below it).
            if (wParam > 0x20 && wParam != 0x7F && (wParam < 0xD800 || wParam > 0xDFFF) &&
                GetKeyState(VK_CONTROL) >= 0)
                platform.characterEvent(static_cast<char32_t>(wParam), (lParam & (1 << 30)) != 0);
            return 0;
        case WM_DROPFILES: {
            const auto drop = reinterpret_cast<HDROP>(wParam);
            std::vector<std::string> files;
            const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
            for (UINT i = 0; i < count; ++i) {
                std::wstring name(DragQueryFileW(drop, i, nullptr, 0), L'\0');
                if (DragQueryFileW(drop, i, name.data(), static_cast<UINT>(name.size() + 1)) > 0)
                    files.push_back(narrowed(name));
            }
            POINT at{};
            DragQueryPoint(drop, &at);  // client pixels
            DragFinish(drop);
            if (!files.empty()) platform.dropEvent(std::move(files), at.x, at.y);
            return 0;
        }
        case WM_DPICHANGED: {
            setDpi(HIWORD(wParam));
            const auto* suggested = reinterpret_cast<const RECT*>(lParam);
            SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                         suggested->right - suggested->left, suggested->bottom - suggested->top,
                         SWP_NOZORDER | SWP_NOACTIVATE);
            return 0;
        }
        default:
            return DefWindowProcW(window_, message, wParam, lParam);
    }
}

void Win32WindowSystem::setDpi(float dpi) {
    dpi_ = dpi > 0 ? dpi : 96.0f;
    platform_->dpiChanged(dpi_);
    if (renderTarget_) renderTarget_->SetDpi(platform_->dpi, platform_->dpi);
}

void Win32WindowSystem::paint() {
    if (!renderTarget_) {
        RECT client;
        GetClientRect(window_, &client);
        const D2D1_RENDER_TARGET_PROPERTIES properties{D2D1_RENDER_TARGET_TYPE_DEFAULT,
                                                       {DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE},
                                                       platform_->dpi,
                                                       platform_->dpi,
                                                       D2D1_RENDER_TARGET_USAGE_NONE,
                                                       D2D1_FEATURE_LEVEL_DEFAULT};
        const D2D1_HWND_RENDER_TARGET_PROPERTIES windowProperties{
            window_,
            D2D1_SIZE_U{static_cast<UINT32>(client.right - client.left),
                        static_cast<UINT32>(client.bottom - client.top)},
            D2D1_PRESENT_OPTIONS_RETAIN_CONTENTS};
        if (FAILED(direct2dFactory()->CreateHwndRenderTarget(properties, windowProperties, &renderTarget_))) {
            return;  // tried again at the next paint, which the timer asks for
        }
        target_ = CanvasTarget{renderTarget_.Get(), nextCanvasTargetGeneration(), false};
    }
    const D2D1_SIZE_F size = renderTarget_->GetSize();  // DIPs
    paintWindow(*platform_, canvas_, target_, static_cast<int>(size.width), static_cast<int>(size.height));
    if (target_.deviceLost) {
        // Made again, with fresh device resources, at the next paint (the timer asks for one).
        renderTarget_.Reset();
        target_ = {};
    }
}

}  // namespace halvard
