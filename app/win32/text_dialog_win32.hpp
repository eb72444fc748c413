#pragma once
// A small modal dialog with one text field (a program's name), for PlatformState::askText.
// User-interface thread only.

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

namespace halvard {

// Runs the dialog over owner; done runs with the text (UTF-8) when the user presses OK or Enter,
// before the function returns, and not at all when the dialog is cancelled or closed.
// UTF-16 to UTF-8 (a text typed, a file name dropped).
std::string narrowed(const std::wstring& text);

void askTextWin32(HWND owner, std::string_view title, std::string_view text,
                  const std::function<void(std::string_view)>& done);

}  // namespace halvard
