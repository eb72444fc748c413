#pragma once
// A small modal dialog with one text field (a program's name), for PlatformState::askText.
// User-interface thread only.

#include <gtk/gtk.h>

#include <functional>
#include <string_view>

namespace halvard {

// Shows the dialog over parent and returns at once; done runs with the text when the user presses
// OK or Enter, and not at all when the dialog is cancelled or closed.
void askTextGtk(GtkWindow* parent, std::string_view title, std::string_view text,
                std::function<void(std::string_view)> done);

}  // namespace halvard
