// The running editor as a screen reader meets it: through AT-SPI on the tree's own D-Bus session
// (the session-bus fixture), connected to the amplifier emulator on the private JACK server. Every
// control is listed with its role and name, REVERB's checked state follows what the amplifier
// reports, and REVERB's action writes the bytes a click on it writes. The panel's description is the
// status line: a refused IR file's reason is heard.
#include <atspi/atspi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dialog_keys.hpp"
#include "editor_session.hpp"
#include "emulator_process.hpp"
#include "panel_listing.hpp"
#include "test_files.hpp"

namespace halvard::testing {
namespace {

using e2e::EmulatorProcess;

// Program 0 on the lead channel, its reverb off; and the same with the reverb on (byte 8).
constexpr const char* kReverbOff = "00010000000000002211";
constexpr const char* kReverbOn = "00010001000000002211";

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Accessible = std::unique_ptr<AtspiAccessible, Unref>;

std::string taken(gchar* text) {
    std::string out = text ? text : "";
    g_free(text);
    return out;
}
std::string nameOf(AtspiAccessible* a) {
    return taken(atspi_accessible_get_name(a, nullptr));
}
std::string roleOf(AtspiAccessible* a) {
    return taken(atspi_accessible_get_role_name(a, nullptr));
}
bool hasState(AtspiAccessible* a, AtspiStateType state) {
    AtspiStateSet* states = atspi_accessible_get_state_set(a);
    const bool has = atspi_state_set_contains(states, state);
    g_object_unref(states);
    return has;
}
std::vector<Accessible> childrenOf(AtspiAccessible* a) {
    std::vector<Accessible> out;
    const gint n = atspi_accessible_get_child_count(a, nullptr);
    for (gint i = 0; i < n; ++i) out.emplace_back(atspi_accessible_get_child_at_index(a, i, nullptr));
    return out;
}

// The first object below `root` (depth first) with this name and role.
Accessible find(AtspiAccessible* root, const std::string& name, AtspiRole role) {
    for (Accessible& child : childrenOf(root)) {
        if (!child) continue;
        if (atspi_accessible_get_role(child.get(), nullptr) == role && nameOf(child.get()) == name)
            return std::move(child);
        if (Accessible found = find(child.get(), name, role)) return found;
    }
    return nullptr;
}

// The "object:state-changed:checked" events that arrived (the object's name and the new state),
// and the names of the objects that took the focus.
struct CheckedEvents {
    std::vector<std::pair<std::string, bool>> seen;
    std::vector<std::string> focused;
    static void arrived(AtspiEvent* event, void* data) {
        auto* self = static_cast<CheckedEvents*>(data);
        const std::string type = event->type;
        if (type == "object:state-changed:checked")
            self->seen.emplace_back(nameOf(event->source), event->detail1 != 0);
        if (type == "object:state-changed:focused" && event->detail1 != 0)
            self->focused.push_back(nameOf(event->source));
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }
};

// The role as AT-SPI names it.
std::string atspiRole(ControlRole role) {
    switch (role) {
        case ControlRole::ToggleButton:
            return "toggle button";
        case ControlRole::PushButton:
            return "push button";
        case ControlRole::RadioButton:
            return "radio button";
        case ControlRole::ListItem:
            return "list item";
        case ControlRole::SpinButton:
            return "spin button";
    }
    return {};
}

class AccessibleEditor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (the display fixture)";
        const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        ASSERT_TRUE(bus && std::string(bus).find("/session-bus") != std::string::npos)
            << "needs the tree's own D-Bus session (the session-bus fixture), never the desktop's";
        // GTK leaves its accessibility bridge out when this is set; the editor must have it.
        unsetenv("NO_AT_BRIDGE");
        std::string why;
        ASSERT_TRUE(e2e::ensureJackServer(&why)) << why;
        ASSERT_EQ(atspi_init(), 0) << "AT-SPI did not start";
        // Listening before the editor starts: its bridge sends only the events someone listens to,
        // and learns of listeners registered later only after a while. Every state change, so that
        // the library's copy of the states (which it answers from) stays current.
        listener_ = atspi_event_listener_new(CheckedEvents::arrived, &checked_, nullptr);
        ASSERT_TRUE(atspi_event_listener_register(listener_, "object:state-changed", nullptr));
    }

    void TearDown() override {
        if (editor_ && window_) {
            x_.sendCloseRequest(window_);
            EXPECT_EQ(editor_->waitForExit(Millis(20000)), 0);
        }
        if (listener_) {
            atspi_event_listener_deregister(listener_, "object:state-changed", nullptr);
            g_object_unref(listener_);
        }
        editor_.reset();
    }

    // The emulator with program 0 as given, the editor connected to it and found through AT-SPI.
    void startConnected(const char* record) {
        amp_ = std::make_unique<EmulatorProcess>();
        ASSERT_TRUE(amp_->ready()) << amp_->transcript();
        ASSERT_EQ(amp_->command(std::string("set-record 0 ") + record).rfind("ok", 0), 0u);
        ASSERT_TRUE(x_.connected());
        editor_ = std::make_unique<EditorProcess>(editorExecutable());
        ASSERT_TRUE(editor_->started());
        window_ = x_.findWindow("Halvard Editor", Millis(20000));
        ASSERT_NE(window_, 0u) << "no editor window";
        ASSERT_TRUE(showsConnectedPanel(x_, window_)) << "not connected\n" << amp_->transcript();
        ASSERT_TRUE(waitUntil([&] { return (application_ = findApplication()) != nullptr; }, Millis(20000)))
            << "the editor is not on the accessibility bus";
        ASSERT_TRUE(
            waitUntil([&] { return (reverb_ = control("REVERB", ATSPI_ROLE_TOGGLE_BUTTON)) != nullptr; },
                      Millis(10000)))
            << "no REVERB toggle button among the editor's accessibles";
    }

    Accessible findApplication() {
        Accessible desktop(atspi_get_desktop(0));
        for (Accessible& app : childrenOf(desktop.get()))
            if (app &&
                atspi_accessible_get_process_id(app.get(), nullptr) == static_cast<guint>(editor_->pid()))
                return std::move(app);
        return nullptr;
    }
    Accessible control(const std::string& name, AtspiRole role) {
        return find(application_.get(), name, role);
    }

    // The amplifier reports program 0 changed (the editor reads it again).
    void amplifierSets(const char* record) {
        ASSERT_EQ(amp_->command(std::string("set-record 0 ") + record).rfind("ok", 0), 0u);
        ASSERT_EQ(amp_->command("notice"), "ok notice sent");
    }
    // Runs the main loop (where the events arrive) until REVERB's checked state was reported as
    // `on` and the panel acts again.
    bool reverbReported(bool on) {
        return waitUntil(
            [&] {
                while (g_main_context_iteration(nullptr, FALSE)) {
                }
                return !checked_.seen.empty() &&
                       checked_.seen.back() == std::make_pair(std::string("REVERB"), on) &&
                       hasState(reverb_.get(), ATSPI_STATE_ENABLED);
            },
            Millis(10000), Millis(10));
    }
    // The next settings write the emulator receives after `act`.
    std::vector<uint8_t> settingsWriteAfter(const std::function<void()>& act) {
        amp_->command("clear");
        act();
        if (!EmulatorProcess::waitFor([&] { return amp_->received(0x01) >= 1; })) return {};
        return amp_->message(-1);
    }

    XSession x_;
    std::unique_ptr<EmulatorProcess> amp_;
    std::unique_ptr<EditorProcess> editor_;
    unsigned long window_ = 0;
    AtspiEventListener* listener_ = nullptr;
    CheckedEvents checked_;
    Accessible application_;
    Accessible reverb_;
};

TEST_F(AccessibleEditor, EveryControlIsListedWithItsRoleAndName) {
    startConnected(kReverbOff);
    Accessible panel(atspi_accessible_get_parent(reverb_.get(), nullptr));
    ASSERT_TRUE(panel);
    std::vector<std::pair<std::string, std::string>> listed, expected;
    for (const Accessible& child : childrenOf(panel.get()))
        listed.emplace_back(roleOf(child.get()), nameOf(child.get()));
    for (const auto& [role, name] : connectedPanelListing()) expected.emplace_back(atspiRole(role), name);
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(taken(atspi_accessible_get_description(reverb_.get(), nullptr)), "lead channel")
        << "what the label leaves open";

    // Space on a browse icon opens the IR panel with the focus on its title, a control that was
    // not there before: readers are told where the focus went.
    Accessible browse = control("BROWSE FACTORY IRS", ATSPI_ROLE_PUSH_BUTTON);
    ASSERT_TRUE(browse);
    AtspiComponent* component = atspi_accessible_get_component_iface(browse.get());
    ASSERT_NE(component, nullptr);
    EXPECT_TRUE(atspi_component_grab_focus(component, nullptr));
    g_object_unref(component);
    // The key goes to the window under the pointer (Xvfb has no window manager to focus it).
    ASSERT_TRUE(xdotool("mousemove --window " + std::to_string(window_) + " 700 500 key space"));
    EXPECT_TRUE(waitUntil(
        [&] {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            return !checked_.focused.empty() && checked_.focused.back() == "FACTORY IR";
        },
        Millis(10000), Millis(10)))
        << "no focus event from the IR panel's title";
}

TEST_F(AccessibleEditor, ReverbFollowsTheAmplifierAndItsActionWritesWhatAClickWrites) {
    startConnected(kReverbOff);
    EXPECT_FALSE(hasState(reverb_.get(), ATSPI_STATE_CHECKED));
    EXPECT_TRUE(hasState(reverb_.get(), ATSPI_STATE_CHECKABLE));

    amplifierSets(kReverbOn);
    ASSERT_TRUE(reverbReported(true)) << "REVERB's checked state did not follow the amplifier";
    EXPECT_TRUE(hasState(reverb_.get(), ATSPI_STATE_CHECKED));

    AtspiAction* action = atspi_accessible_get_action_iface(reverb_.get());
    ASSERT_NE(action, nullptr);
    const std::vector<uint8_t> byReader =
        settingsWriteAfter([&] { EXPECT_TRUE(atspi_action_do_action(action, 0, nullptr)); });
    g_object_unref(action);
    ASSERT_EQ(byReader.size(), 17u) << amp_->transcript();
    EXPECT_EQ(byReader[8] & 0x01, 0) << "the lead channel's reverb off";
    ASSERT_TRUE(reverbReported(false));

    // The same change by a click, in the middle of the extents the reader was given.
    amplifierSets(kReverbOn);
    ASSERT_TRUE(reverbReported(true));
    gint x = 0, y = 0, w = 0, h = 0;
    AtspiComponent* component = atspi_accessible_get_component_iface(reverb_.get());
    ASSERT_NE(component, nullptr);
    AtspiRect* extents = atspi_component_get_extents(component, ATSPI_COORD_TYPE_WINDOW, nullptr);
    x = extents->x, y = extents->y, w = extents->width, h = extents->height;
    g_free(extents);
    g_object_unref(component);
    const std::vector<uint8_t> byClick = settingsWriteAfter([&] {
        EXPECT_TRUE(xdotool("mousemove --window " + std::to_string(window_) + " " +
                            std::to_string(x + w / 2) + " " + std::to_string(y + h / 2) + " click 1"));
    });
    EXPECT_EQ(byReader, byClick) << amp_->transcript();
}

TEST_F(AccessibleEditor, TheStatusLineNamesWhyAnIrFileWasRefused) {
    ASSERT_NO_FATAL_FAILURE(startConnected(kReverbOff));
    test::TempDir dir;
    const std::string wav = dir.file("Too Fast.wav");
    ASSERT_TRUE(
        test::writeSoundFile(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 192000, 1, std::vector<float>(64, 0.5f)));
    Accessible panel(atspi_accessible_get_parent(reverb_.get(), nullptr));
    ASSERT_TRUE(panel);
    const auto status = [&] {
        atspi_accessible_clear_cache(panel.get());
        return taken(atspi_accessible_get_description(panel.get(), nullptr));
    };
    EXPECT_EQ(status(), "");

    // Slot 1's folder icon, as in ir_import_gui_test; the dialog answered with the file.
    ASSERT_TRUE(xdotool("mousemove --window " + std::to_string(window_) + " 215 276"));
    ASSERT_TRUE(xdotool("click 1"));
    ASSERT_TRUE(typeIntoDialog("Import IR", keysTypingPath(wav))) << "no file dialog opened";
    EXPECT_TRUE(waitUntil([&] { return status() == "IR NOT IMPORTED: 192000 HZ (44100 TO 96000 ONLY)"; },
                          Millis(10000)))
        << "status line \"" << status() << "\""
        << (x_.findWindow("Import IR", Millis(0)) != 0 ? "; the file dialog is still open" : "") << "\n"
        << amp_->transcript();
    EXPECT_EQ(amp_->received(0x09), 0) << "nothing sent";
}

}  // namespace
}  // namespace halvard::testing
