// GTK 3 signal handlers unpack their events and pass them to the Platform, whose pure mapping rules
// (app/platform.cpp) decide what is raised.
#include "app/gtk/gtk_window.hpp"

#include <gtk/gtk.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/gtk/panel_accessible.hpp"
#include "app/gtk/text_dialog_gtk.hpp"
#include "ui/assets.hpp"
#include "ui/cairo/canvas_target.hpp"

namespace halvard {

namespace {

// The window's icon, and the task bar's: the icon theme's picture named by the application id
// (installed beside the program); run from the build tree, where the theme lacks it, the same badge
// compiled in.
void setDefaultIcon(const std::string& appId) {
    if (gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), appId.c_str())) {
        gtk_window_set_default_icon_name(appId.c_str());
        return;
    }
    const ImageAsset& icon = assets::appIcon;
    if (!icon.isColourImage()) return;
    const int w = icon.width(), h = icon.height();
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, w, h);
    if (pixbuf == nullptr) return;
    guchar* rows = gdk_pixbuf_get_pixels(pixbuf);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    for (int y = 0; y < h; ++y) {
        const uint8_t* in = icon.pixels() + static_cast<size_t>(y) * w * 4;
        guchar* out = rows + static_cast<ptrdiff_t>(y) * stride;
        for (int i = 0; i < w * 4; i += 4) {  // premultiplied in the asset, straight in a pixbuf
            const int a = in[i + 3];
            for (int c = 0; c < 3; ++c)
                out[i + c] = a == 0 ? 0 : static_cast<guchar>((in[i + c] * 255 + a / 2) / a);
            out[i + 3] = static_cast<guchar>(a);
        }
    }
    gtk_window_set_default_icon(pixbuf);
    g_object_unref(pixbuf);
}

}  // namespace

struct GtkCallbacks {
    // The panel's DIPs are the widget's logical pixels times the zoom.
    static gboolean draw(GtkWidget* widget, cairo_t* cr, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        if (!self->platform_) return TRUE;
        const double zoom = self->platform_->zoomPercent / 100.0;
        cairo_scale(cr, zoom, zoom);
        CanvasTarget target{cr};
        paintWindow(*self->platform_, self->canvas_, target,
                    static_cast<int>(gtk_widget_get_allocated_width(widget) / zoom),
                    static_cast<int>(gtk_widget_get_allocated_height(widget) / zoom));
        return TRUE;
    }

    // The keys the panel knows stop here; the others go on to GTK (none of its own matter here).
    static gboolean key(GtkWidget*, GdkEventKey* e, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        if (!self->platform_) return FALSE;
        const bool repeat = e->hardware_keycode == self->heldKey_;
        self->heldKey_ = e->hardware_keycode;
        KeyCode key = keyFromKeysym(e->keyval);
        // Ctrl+Z, Ctrl+Y and Ctrl+S by the key's place on the first layout, as GTK's accelerators
        // are, so that they work with a layout without Latin letters too.
        guint latin = 0;
        if (key == KeyCode::None && (e->state & GDK_CONTROL_MASK) != 0 &&
            gdk_keymap_translate_keyboard_state(gdk_keymap_get_for_display(gdk_window_get_display(e->window)),
                                                e->hardware_keycode, static_cast<GdkModifierType>(e->state),
                                                0, &latin, nullptr, nullptr, nullptr))
            key = keyFromKeysym(latin);
        const uint32_t modifiers = keyModifiersFromGdkState(e->state);
        bool ours = self->platform_->keyEvent(key, modifiers, repeat);
        // A printable character too (Space is a key of its own), for the COLLECTION view's filter.
        const guint32 typed = gdk_keyval_to_unicode(e->keyval);
        if ((modifiers & (kKeyControl | kKeyAlt)) == 0 && typed > 0x20 && typed != 0x7F && self->platform_) {
            self->platform_->characterEvent(typed, repeat);
            ours = true;
        }
        return ours ? TRUE : FALSE;
    }

    // Files dropped on the panel (text/uri-list): local files only, as their paths.
    static void dropped(GtkWidget*, GdkDragContext* context, gint x, gint y, GtkSelectionData* data, guint,
                        guint time, gpointer self_) {
        auto* self = static_cast<GtkWindowSystem*>(self_);
        std::vector<std::string> files;
        gchar** uris = gtk_selection_data_get_uris(data);
        for (gchar** uri = uris; uri != nullptr && *uri != nullptr; ++uri) {
            if (gchar* path = g_filename_from_uri(*uri, nullptr, nullptr)) {
                files.emplace_back(path);
                g_free(path);
            }
        }
        g_strfreev(uris);
        gtk_drag_finish(context, !files.empty(), FALSE, time);
        if (self->platform_ && !files.empty()) self->platform_->dropEvent(std::move(files), x, y);
    }

    // A key let go, here or (the focus gone) anywhere: the next press of it is a new press.
    static gboolean keyReleased(GtkWidget*, GdkEventKey* e, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        if (e->hardware_keycode == self->heldKey_) self->heldKey_ = 0;
        return FALSE;
    }
    static gboolean focusOut(GtkWidget*, GdkEvent*, gpointer data) {
        static_cast<GtkWindowSystem*>(data)->heldKey_ = 0;
        return FALSE;
    }

    static gboolean motion(GtkWidget*, GdkEventMotion* e, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        if (self->platform_) self->platform_->pointerEvent(PlatformEvent::PointerMove, e->x, e->y);
        return TRUE;
    }

    static gboolean button(GtkWidget*, GdkEventButton* e, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        // Double clicks come as an extra event after the second ordinary press; triple clicks add nothing.
        if (!self->platform_) return TRUE;
        if (e->type == GDK_2BUTTON_PRESS) {
            if (e->button == 1) self->platform_->pointerEvent(PlatformEvent::LeftDoubleClick, e->x, e->y);
            return TRUE;
        }
        if (e->type != GDK_BUTTON_PRESS && e->type != GDK_BUTTON_RELEASE) return TRUE;
        if (const auto event = buttonEvent(static_cast<int>(e->button), e->type == GDK_BUTTON_PRESS)) {
            self->platform_->pointerEvent(*event, e->x, e->y);
        }
        return TRUE;
    }

    static gboolean scroll(GtkWidget*, GdkEventScroll* e, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        if (!self->platform_) return TRUE;
        ScrollInput in;
        switch (e->direction) {
            case GDK_SCROLL_UP:
                in.kind = ScrollKind::Up;
                break;
            case GDK_SCROLL_DOWN:
                in.kind = ScrollKind::Down;
                break;
            case GDK_SCROLL_LEFT:
                in.kind = ScrollKind::Left;
                break;
            case GDK_SCROLL_RIGHT:
                in.kind = ScrollKind::Right;
                break;
            case GDK_SCROLL_SMOOTH:
                in.kind = ScrollKind::Smooth;
                break;
        }
        in.deltaY = e->delta_y;
        in.emulated = gdk_event_get_pointer_emulated(reinterpret_cast<GdkEvent*>(e));
        self->platform_->scrollEvent(in);
        return TRUE;
    }

    static gboolean deleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        if (self->platform_) self->platform_->closeRequest();
        return TRUE;  // the window stays; the loop ends
    }

    static void activeChanged(GObject*, GParamSpec*, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        if (self->platform_) self->platform_->activationChanged();
    }

    static void scaleChanged(GObject*, GParamSpec*, gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        if (!self->platform_ || !self->window_) return;
        self->platform_->scaleFactorChanged(gtk_widget_get_scale_factor(self->window_));
        gtk_widget_queue_draw(self->area_);
    }

    static gboolean timer(gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        if (self->platform_) self->platform_->timerTick();
        return G_SOURCE_CONTINUE;
    }

    // A menu item was picked: its index goes to the chooser the menu carries.
    static void menuItemActivated(GtkMenuItem* item, gpointer data) {
        auto* chosen = static_cast<std::function<void(int)>*>(data);
        (*chosen)(GPOINTER_TO_INT(g_object_get_data(G_OBJECT(item), "halvard-item")));
    }

    // The menu closed, picked or not. An item's "activate" comes after this, so the menu goes only
    // once the main loop is idle again.
    static void menuDeactivated(GtkMenuShell* menu, gpointer) {
        g_idle_add(
            [](gpointer m) {
                gtk_widget_destroy(GTK_WIDGET(m));
                return G_SOURCE_REMOVE;
            },
            menu);
    }

    static gboolean repaint(gpointer data) {
        auto* self = static_cast<GtkWindowSystem*>(data);
        self->repaintQueued_ = false;
        if (self->area_) gtk_widget_queue_draw(self->area_);
        return G_SOURCE_REMOVE;
    }
};

GtkWindowSystem::~GtkWindowSystem() {
    close();
}

std::string GtkWindowSystem::open(Platform& platform) {
    // The panel is drawn with Cairo alone. Without this, GDK probes OpenGL to choose a visual,
    // which loads a GL driver (with a software one, some 50 MB and tens of milliseconds) for nothing.
    g_setenv("GDK_GL", "disable", FALSE);
    // Before the display opens, so that every window of the program carries them: the application
    // id is the windows' class (X11) or app id (Wayland), which ties them to the desktop entry.
    g_set_application_name(platform.title.c_str());
    g_set_prgname(platform.appId.c_str());
    if (!gtk_init_check(nullptr, nullptr)) {
        return "cannot open a display (is DISPLAY or WAYLAND_DISPLAY set?)";
    }
    platform_ = &platform;
    setDefaultIcon(platform.appId);
    // The panel is dark: the menu and the dialogs GTK draws take the theme's dark variant with it.
    g_object_set(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", TRUE, nullptr);

    window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window_), platform.title.c_str());
    area_ = newPanelArea(platform);
    gtk_container_add(GTK_CONTAINER(window_), area_);
    gtk_widget_add_events(area_, GDK_POINTER_MOTION_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK |
                                     GDK_SCROLL_MASK | GDK_SMOOTH_SCROLL_MASK);

    platform.scaleFactorChanged(gtk_widget_get_scale_factor(window_));
    // The opening size is also the smallest: the panel is laid out for at least 1280 x 900 DIPs.
    const WindowSize size = logicalWindowSize(1, platform.zoomPercent);
    gtk_window_set_default_size(GTK_WINDOW(window_), size.width, size.height);
    gtk_widget_set_size_request(area_, size.width, size.height);
    shownZoom_ = platform.zoomPercent;

    g_signal_connect(area_, "draw", G_CALLBACK(GtkCallbacks::draw), this);
    g_signal_connect(area_, "motion-notify-event", G_CALLBACK(GtkCallbacks::motion), this);
    g_signal_connect(area_, "button-press-event", G_CALLBACK(GtkCallbacks::button), this);
    g_signal_connect(area_, "button-release-event", G_CALLBACK(GtkCallbacks::button), this);
    g_signal_connect(area_, "scroll-event", G_CALLBACK(GtkCallbacks::scroll), this);
    static const GtkTargetEntry kUriList{const_cast<gchar*>("text/uri-list"), 0, 0};
    gtk_drag_dest_set(area_, GTK_DEST_DEFAULT_ALL, &kUriList, 1, GDK_ACTION_COPY);
    g_signal_connect(area_, "drag-data-received", G_CALLBACK(GtkCallbacks::dropped), this);
    g_signal_connect(window_, "key-press-event", G_CALLBACK(GtkCallbacks::key), this);
    g_signal_connect(window_, "key-release-event", G_CALLBACK(GtkCallbacks::keyReleased), this);
    g_signal_connect(window_, "focus-out-event", G_CALLBACK(GtkCallbacks::focusOut), this);
    g_signal_connect(window_, "delete-event", G_CALLBACK(GtkCallbacks::deleteEvent), this);
    g_signal_connect(window_, "notify::is-active", G_CALLBACK(GtkCallbacks::activeChanged), this);
    g_signal_connect(window_, "notify::scale-factor", G_CALLBACK(GtkCallbacks::scaleChanged), this);
    timer_ = g_timeout_add(kTimerPeriodMs, GtkCallbacks::timer, this);

    platform.requestRepaint = [this] { queueRepaint(); };
    platform.controlsChanged = [this] {
        if (area_) panelAreaControlsChanged(area_);
    };
    platform.showContextMenu = [this](std::span<const MenuEntry> entries, std::function<void(int)> chosen) {
        popupMenu(entries, std::move(chosen));
    };
    platform.askText = [this](std::string_view title, std::string_view text,
                              std::function<void(std::string_view)> done) {
        if (window_) askTextGtk(GTK_WINDOW(window_), title, text, std::move(done));
    };
    platform.zoomChanged = [this] { applyZoom(); };
    return {};
}

// The window grows or shrinks with the panel, and never below the panel's new smallest size.
void GtkWindowSystem::applyZoom() {
    if (!window_ || !platform_) return;
    const int zoom = platform_->zoomPercent;
    const WindowSize least = logicalWindowSize(1, zoom);
    gtk_widget_set_size_request(area_, least.width, least.height);
    int width = 0, height = 0;
    gtk_window_get_size(GTK_WINDOW(window_), &width, &height);
    const WindowSize scaled{width * zoom / shownZoom_, height * zoom / shownZoom_};
    gtk_window_resize(GTK_WINDOW(window_), std::max(scaled.width, least.width),
                      std::max(scaled.height, least.height));
    shownZoom_ = zoom;
    gtk_widget_queue_draw(area_);
}

std::filesystem::path GtkWindowSystem::settingsFile() const {
    const gchar* config = g_get_user_config_dir();  // $XDG_CONFIG_HOME, else ~/.config
    if (config == nullptr || *config == '\0') return {};
    return std::filesystem::path(config) / "halvard-editor" / "settings";
}

// UI thread, inside the handling of the right button press (the event places the menu).
void GtkWindowSystem::popupMenu(std::span<const MenuEntry> entries, std::function<void(int)> chosen) {
    if (!area_) return;
    // The menu takes the keyboard: the release of the key that opened it (the menu key) goes to it.
    heldKey_ = 0;
    GtkWidget* menu = gtk_menu_new();
    auto* held = new std::function<void(int)>(std::move(chosen));
    g_object_set_data_full(G_OBJECT(menu), "halvard-chosen", held,
                           [](gpointer p) { delete static_cast<std::function<void(int)>*>(p); });
    GtkWidget* parent = nullptr;   // the last level-0 item
    GtkWidget* submenu = nullptr;  // its submenu, made at its first entry
    for (size_t i = 0; i < entries.size(); ++i) {
        const MenuEntry& e = entries[i];
        GtkWidget* item = e.label.empty() ? gtk_separator_menu_item_new()
                                          : gtk_menu_item_new_with_label(std::string(e.label).c_str());
        gtk_widget_set_sensitive(item, e.enabled);
        if (e.level == 0 || parent == nullptr) {
            parent = item;
            submenu = nullptr;
            gtk_menu_shell_append(GTK_MENU_SHELL(menu), item);
        } else {
            if (submenu == nullptr) {
                submenu = gtk_menu_new();
                gtk_menu_item_set_submenu(GTK_MENU_ITEM(parent), submenu);
            }
            gtk_menu_shell_append(GTK_MENU_SHELL(submenu), item);
        }
        // Separators and the entries that open a submenu are never chosen.
        const bool opensSubmenu = e.level == 0 && i + 1 < entries.size() && entries[i + 1].level == 1;
        if (e.label.empty() || opensSubmenu) continue;
        g_object_set_data(G_OBJECT(item), "halvard-item", GINT_TO_POINTER(static_cast<int>(i)));
        g_signal_connect(item, "activate", G_CALLBACK(GtkCallbacks::menuItemActivated), held);
    }
    g_signal_connect(menu, "deactivate", G_CALLBACK(GtkCallbacks::menuDeactivated), nullptr);
    gtk_menu_attach_to_widget(GTK_MENU(menu), area_, nullptr);
    gtk_widget_show_all(menu);
    GdkEvent* trigger = gtk_get_current_event();
    gtk_menu_popup_at_pointer(GTK_MENU(menu), trigger);
    if (trigger) gdk_event_free(trigger);
}

void GtkWindowSystem::openFolder(const std::filesystem::path& folder) {
    gchar* uri = g_filename_to_uri(folder.c_str(), nullptr, nullptr);
    if (uri == nullptr) return;
    gtk_show_uri_on_window(window_ ? GTK_WINDOW(window_) : nullptr, uri, GDK_CURRENT_TIME, nullptr);
    g_free(uri);
}

// Any thread: at most one repaint waits in the main context at a time.
void GtkWindowSystem::queueRepaint() {
    if (!repaintQueued_.exchange(true)) g_idle_add(GtkCallbacks::repaint, this);
}

void GtkWindowSystem::attachPanel(Ui* ui) {
    if (area_) attachPanelToArea(area_, ui);
}

void GtkWindowSystem::show() {
    if (window_) gtk_widget_show_all(window_);
}

void GtkWindowSystem::iterate() {
    g_main_context_iteration(nullptr, TRUE);
}

void GtkWindowSystem::close() {
    if (timer_) g_source_remove(timer_);
    timer_ = 0;
    g_idle_remove_by_data(this);
    if (platform_) {
        platform_->requestRepaint = nullptr;
        platform_->showContextMenu = nullptr;
        platform_->askText = nullptr;
        platform_->controlsChanged = nullptr;
        platform_->zoomChanged = nullptr;
    }
    platform_ = nullptr;
    if (window_) gtk_widget_destroy(window_);
    window_ = nullptr;
    area_ = nullptr;
}

}  // namespace halvard
