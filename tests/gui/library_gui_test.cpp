// The editor in this process (its GTK window and dialogs, the device worker on the private JACK
// server) against the amplifier emulator, with a program library the test wrote: the current
// program's name stands beside the program box; the PROGRAMS overlay, compared with a kept backup,
// marks the programs that differ from it; and that backup picked from the right-click menu's submenu
// first asks, naming the programs that would change, then restores them and their names, and the
// marks go.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "app/editor.hpp"
#include "app/gtk/file_dialog_gtk.hpp"
#include "app/gtk/gtk_window.hpp"
#include "dialog_keys.hpp"
#include "editor_session.hpp"
#include "emulator_process.hpp"
#include "program_library/program_library.hpp"

namespace halvard::testing {
namespace {

using e2e::EmulatorProcess;
namespace fs = std::filesystem;

// What ask() finds, run on the user-interface thread (where GTK lives); "" when it did not run.
std::string onUiThread(std::function<std::string()> ask) {
    using Job = std::pair<std::function<std::string()>, std::promise<std::string>>;
    auto job = std::make_shared<Job>(std::move(ask), std::promise<std::string>());
    auto answer = job->second.get_future();
    g_idle_add(
        [](gpointer data) {
            const std::unique_ptr<std::shared_ptr<Job>> held(static_cast<std::shared_ptr<Job>*>(data));
            (*held)->second.set_value((*held)->first());
            return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<Job>(job));
    return answer.wait_for(std::chrono::seconds(10)) == std::future_status::ready ? answer.get() : "";
}

// How many menus are open (the right-click menu, its submenu).
int menusOpen() {
    return std::stoi("0" + onUiThread([] {
                         int open = 0;
                         GList* windows = gtk_window_list_toplevels();
                         for (GList* w = windows; w != nullptr; w = w->next) {
                             GtkWidget* child = gtk_bin_get_child(GTK_BIN(w->data));
                             open += child != nullptr && GTK_IS_MENU(child) && gtk_widget_get_mapped(child)
                                         ? 1
                                         : 0;
                         }
                         g_list_free(windows);
                         return std::to_string(open);
                     }));
}

// The title and texts of the message dialog on screen; "" while there is none.
std::string questionOnScreen() {
    return onUiThread([] {
        std::string text;
        GList* windows = gtk_window_list_toplevels();
        for (GList* w = windows; w != nullptr; w = w->next) {
            if (!GTK_IS_MESSAGE_DIALOG(w->data) || !gtk_widget_get_mapped(GTK_WIDGET(w->data))) continue;
            text += gtk_window_get_title(GTK_WINDOW(w->data));
            GList* labels = gtk_container_get_children(
                GTK_CONTAINER(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(w->data))));
            for (GList* l = labels; l != nullptr; l = l->next)
                if (GTK_IS_LABEL(l->data)) text += std::string("|") + gtk_label_get_text(GTK_LABEL(l->data));
            g_list_free(labels);
        }
        g_list_free(windows);
        return text;
    });
}

TEST(LibraryGui, TheNameStandsBesideTheProgramAKeptBackupMarksWhatDiffersAndIsRestoredAfterAsking) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "needs an X display (CTest starts one for the gui tests)";
    std::string why;
    ASSERT_TRUE(e2e::ensureJackServer(&why)) << why;
    const fs::path dir = fs::path(::testing::TempDir()) / "library-gui";
    fs::remove_all(dir);
    fs::create_directories(dir);
    const fs::path file = dir / "library.sqlite3";
    setenv("HALVARD_LIBRARY", file.c_str(), 1);
    setenv("XDG_DATA_HOME", dir.c_str(), 1);
    setenv("GSETTINGS_BACKEND", "memory", 1);

    EmulatorProcess amp;
    ASSERT_TRUE(amp.ready()) << amp.transcript();

    // Program 0 named; a backup kept of the emulator's programs with 9 and 30 otherwise.
    KeptBackup kept;
    {
        std::string error;
        auto library = ProgramLibrary::open(file, error);
        ASSERT_TRUE(library) << error;
        ASSERT_TRUE(library->setName(0, "Clean Crunch", std::nullopt, error)) << error;
        ASSERT_TRUE(library->setName(9, "Nine", std::nullopt, error)) << error;
        const auto records = amp.records();
        ASSERT_EQ(records.size(), kept.records.size());
        std::copy(records.begin(), records.end(), kept.records.begin());
        kept.records[9][0] ^= 1;
        kept.records[30][0] ^= 1;
        kept.names[9] = "Old Nine";
        kept.summary.reason = BackupReason::Menu;
        ASSERT_TRUE(library->recordBackup(kept, error)) << error;
    }

    GtkWindowSystem windows;
    GtkFileDialogs dialogs;
    std::string question;
    bool named = false, restored = false, marked = false, unmarked = false;
    // The display is opened here, before the editor starts: the editor sets an environment
    // variable as it opens its window, and a getenv on another thread meanwhile (XOpenDisplay's)
    // could read the environment's array as it is reallocated.
    XSession x;
    std::thread user([&] {
        const unsigned long window = x.findWindow("Halvard Editor", Millis(20000));
        if (window == 0) return;  // (the test then ends at its time-out)
        if (showsConnectedPanel(x, window)) {
            // Text in the room between the REVERB TAILS box and the program box.
            const int boxLeft = (x.windowSize(window).first + 30) / 2;
            named = waitUntil(
                [&] {
                    for (int px = 508; px < boxLeft - 10; ++px)
                        for (int py = 12; py < 30; ++py)
                            if (x.pixel(window, px, py).value_or(0) > 0x404040) return true;
                    return false;
                },
                Millis(5000), Millis(50));
            // The frame around a row's number in the PROGRAMS overlay, in the panel's accent.
            const auto rowMarked = [&](int row) {
                return x.pixel(window, boxLeft + 10, 42 + 24 * row + 3).value_or(0) == 0xddcfbc;
            };
            // Each key waits for the menu it is meant for.
            const auto chooseFromSubmenu = [](const char* keys) {
                if (waitUntil([] { return menusOpen() == 1; }, Millis(10000), Millis(50))) {
                    xdotool(keys);
                    if (waitUntil([] { return menusOpen() == 2; }, Millis(10000), Millis(50)))
                        xdotool("key Return");
                }
            };
            // Opened by a click on the program number; a row's menu compares with the kept backup.
            const std::string at = "mousemove --window " + std::to_string(window) + " ";
            xdotool(at + std::to_string(boxLeft + 110) + " 20 click 1");
            // The first row's ground, where no text reaches, once the overlay is drawn.
            waitUntil([&] { return x.pixel(window, boxLeft + 194, 44).value_or(0) == 0x1c1c1e; },
                      Millis(10000), Millis(50));
            xdotool(at + std::to_string(boxLeft + 100) + " 54 click 3");
            chooseFromSubmenu("key Down Down Down Down Down Right");
            marked = waitUntil([&] { return rowMarked(9); }, Millis(30000), Millis(100)) && !rowMarked(8);
            // The kept backup restored from the menu's third entry, which opens the submenu of them.
            xdotool(at + "100 500 click 3");
            chooseFromSubmenu("key Down Down Down Right");
            // The worker reads the amplifier's programs before it asks.
            if (waitUntil([&] { return !(question = questionOnScreen()).empty(); }, Millis(30000),
                          Millis(100))) {
                typeIntoDialog("Restore Programs", "xdotool key alt+r");
                // Restored, verified, and then the kept backup's names are back.
                restored = EmulatorProcess::waitFor(
                    [&] {
                        std::string error;
                        std::array<ProgramName, kProgramCount> names;
                        const auto library = ProgramLibrary::open(file, error);
                        return library && library->names(names, error) && names[9].name == "Old Nine";
                    },
                    Millis(30000));
                unmarked = waitUntil([&] { return !rowMarked(9); }, Millis(10000), Millis(100));
            }
        }
        x.sendCloseRequest(window);
    });
    EXPECT_EQ(runEditorProgram(windows, dialogs), 0);
    user.join();

    EXPECT_TRUE(named) << "no name beside the program box";
    EXPECT_TRUE(marked) << "the overlay did not mark program 9 alone as differing from the kept backup";
    EXPECT_EQ(question.rfind("Restore Programs|Restore the backup of ", 0), 0u) << question;
    EXPECT_NE(question.find("?|2 programs on the amplifier would change:\nProgram 9: Nine\nProgram 30\n"),
              std::string::npos)
        << question;
    EXPECT_TRUE(restored) << "the kept backup's names did not come back\n" << amp.transcript();
    EXPECT_TRUE(unmarked) << "program 9 still marked once it holds what the backup holds";
    const auto now = amp.records();
    ASSERT_EQ(now.size(), kept.records.size()) << amp.transcript();
    for (const int p : {9, 30}) EXPECT_EQ(now[static_cast<size_t>(p)], kept.records[static_cast<size_t>(p)]);
}

}  // namespace
}  // namespace halvard::testing
