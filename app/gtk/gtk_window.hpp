#pragma once
// The window on GTK 3: one GtkWindow holding one GtkDrawingArea that the canvas paints, the keys,
// the zoom, the 500 ms timer, the thread-safe repaint request, the right-click menu, showing a folder
// and the controls for screen readers (app/gtk/panel_accessible.hpp). Only app/ includes GTK.

#include <atomic>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "app/editor.hpp"
#include "ui/canvas.hpp"

typedef struct _GtkWidget GtkWidget;

namespace halvard {

class GtkWindowSystem final : public WindowSystem {
public:
    GtkWindowSystem() = default;
    ~GtkWindowSystem() override;

    std::string open(Platform& platform) override;
    void show() override;
    void iterate() override;
    void close() override;
    void openFolder(const std::filesystem::path& folder) override;
    // Screen readers see the panel's controls as the drawing area's accessible children.
    void attachPanel(Ui* ui) override;
    std::filesystem::path settingsFile() const override;

private:
    void queueRepaint();
    void applyZoom();
    void popupMenu(std::span<const MenuEntry> entries, std::function<void(int)> chosen);

    Platform* platform_ = nullptr;
    GtkWidget* window_ = nullptr;
    GtkWidget* area_ = nullptr;
    unsigned timer_ = 0;
    int shownZoom_ = 100;  // the zoom the window's size was made for
    // The key held down (its hardware code; 0: none): GDK repeats a held key as presses with no
    // release between them.
    unsigned heldKey_ = 0;
    std::atomic<bool> repaintQueued_{false};
    Canvas canvas_;

    friend struct GtkCallbacks;
};

}  // namespace halvard
