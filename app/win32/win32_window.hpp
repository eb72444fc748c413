#pragma once
// The window on Win32: one top-level window whose client area the canvas paints through a Direct2D
// window render target, the 500 ms timer, the DPI, the thread-safe repaint request, and the controls
// for screen readers (app/win32/panel_accessible.hpp).
//
// Everything here runs on the user-interface thread, which owns the window and its message loop;
// only the repaint request the platform is given may be called from other threads.

#include <d2d1.h>
#include <windows.h>
#include <wrl/client.h>

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "app/editor.hpp"
#include "app/win32/panel_accessible.hpp"
#include "ui/canvas.hpp"
#include "ui/d2d/canvas_target.hpp"

namespace halvard {

// The window's icon in the program's resources (an icon group rendered from the badge art).
inline constexpr int kAppIconResource = 101;

class Win32WindowSystem final : public WindowSystem {
public:
    Win32WindowSystem() = default;
    ~Win32WindowSystem() override;
    Win32WindowSystem(const Win32WindowSystem&) = delete;
    Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

    // COM for this thread, the window class and the window, sized for the desktop's DPI.
    std::string open(Platform& platform) override;
    void show() override;
    void iterate() override;
    void close() override;
    // Called once, on the user-interface thread, as the user asks the window to close (before the
    // loop ends and the device worker is stopped).
    std::function<void()> closing;
    // Explorer, showing the folder.
    void openFolder(const std::filesystem::path& folder) override;
    // Screen readers see the panel's controls as the client area's MSAA children.
    void attachPanel(Ui* ui) override;
    // %APPDATA%\Halvard Editor\settings
    std::filesystem::path settingsFile() const override;

    HWND window() const { return window_; }

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void paint();
    void setDpi(float dpi);
    void applyZoom();
    // A popup menu at the pointer, modal: returns after the choice (or the dismissal) was handled.
    void popupMenu(std::span<const MenuEntry> entries, const std::function<void(int)>& chosen);

    Platform* platform_ = nullptr;
    HWND window_ = nullptr;
    std::wstring className_;
    bool comEntered_ = false;
    float dpi_ = 96.0f;    // the window's own; the panel draws at platform_->dpi, this times the zoom
    int shownZoom_ = 100;  // the zoom the window's size was made for
    Microsoft::WRL::ComPtr<PanelAccessible> accessible_;  // what WM_GETOBJECT hands out
    Microsoft::WRL::ComPtr<ID2D1HwndRenderTarget> renderTarget_;
    CanvasTarget target_;
    Canvas canvas_;
};

}  // namespace halvard
