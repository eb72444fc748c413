// The GTK file and folder dialogs under Xvfb, driven with xdotool as a user would: a worker thread
// asks, this thread runs the main loop, the keyboard types a path into the dialog.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "app/gtk/file_dialog_gtk.hpp"
#include "app/gtk/gtk_window.hpp"
#include "dialog_keys.hpp"

namespace halvard {
namespace {

using namespace std::chrono_literals;

using testing::keysTypingPath;
using testing::typeIntoDialog;

class FileDialogGui : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() / ("halvard-dialog-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        // No desktop session under Xvfb; and GTK's list of recent files stays out of the home folder.
        g_setenv("GSETTINGS_BACKEND", "memory", TRUE);
        g_setenv("XDG_DATA_HOME", dir_.c_str(), TRUE);
        ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display (CTest starts one for the gui tests)";
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string file(const std::string& name) {
        const auto path = dir_ / name;
        std::ofstream(path) << "RIFF";
        return path.string();
    }

    // Asks on a worker thread while this thread runs the main loop, with `user` acting meanwhile;
    // returns the worker's answer, or "<no answer>" when it never came.
    std::string ask(GtkFileDialogs& dialogs, DialogMode mode, const std::function<void()>& user) {
        auto answer = std::async(std::launch::async, [&] { return dialogs.showFileDialog(mode); });
        auto acting = std::async(std::launch::async, user);
        const auto end = std::chrono::steady_clock::now() + 30s;
        while (answer.wait_for(0s) != std::future_status::ready && std::chrono::steady_clock::now() < end) {
            while (g_main_context_iteration(nullptr, FALSE)) {
            }
            std::this_thread::sleep_for(2ms);
        }
        acting.wait();
        if (answer.wait_for(0s) == std::future_status::ready) return answer.get();
        dialogs.shutdown();  // releases the worker, so that the test ends
        answer.wait();
        return "<no answer>";
    }

    std::filesystem::path dir_;
};

TEST_F(FileDialogGui, ChosenFileOrFolderComesBackAsAnAbsolutePathAndCancelAsEmpty) {
    GtkFileDialogs dialogs;
    const std::string wav = file("Room Mic.WAV");
    EXPECT_EQ(ask(dialogs, DialogMode::WaveFile,
                  [&] { EXPECT_TRUE(typeIntoDialog("Import IR", keysTypingPath(wav))); }),
              wav);
    EXPECT_EQ(ask(dialogs, DialogMode::WaveFile,
                  [&] { EXPECT_TRUE(typeIntoDialog("Import IR", "xdotool key Escape")); }),
              "");
    EXPECT_EQ(ask(dialogs, DialogMode::Folder,
                  [&] { EXPECT_TRUE(typeIntoDialog("Extract All IRs", keysTypingPath(dir_.string()))); }),
              dir_.string());
    EXPECT_EQ(ask(dialogs, DialogMode::WaveFile,
                  [&] { EXPECT_TRUE(typeIntoDialog("Import IR", keysTypingPath(wav))); }),
              wav)
        << "a dialog opens again after the others";
}

TEST_F(FileDialogGui, ShutdownClosesAnOpenDialogAndReleasesTheWorker) {
    GtkFileDialogs dialogs;
    EXPECT_EQ(ask(dialogs, DialogMode::WaveFile,
                  [&] {
                      EXPECT_TRUE(typeIntoDialog("Import IR", "true"));
                      // shutdown belongs to the main loop's thread: hand it over like any UI work.
                      g_idle_add(
                          [](gpointer d) {
                              static_cast<GtkFileDialogs*>(d)->shutdown();
                              return G_SOURCE_REMOVE;
                          },
                          &dialogs);
                  }),
              "");
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    EXPECT_FALSE(testing::runShell("xdotool search --onlyvisible --name '^Import IR$' >/dev/null"))
        << "the dialog is gone";
    EXPECT_EQ(dialogs.showFileDialog(DialogMode::WaveFile), "")
        << "after shutdown every request is cancelled at once";
}

TEST_F(FileDialogGui, StopFlagReleasesAWaitingWorker) {
    GtkFileDialogs dialogs;
    std::atomic<bool> quit{false};
    dialogs.watch(&quit);
    EXPECT_EQ(ask(dialogs, DialogMode::Folder,
                  [&] {
                      EXPECT_TRUE(typeIntoDialog("Extract All IRs", "true"));
                      quit = true;
                  }),
              "");
}

TEST_F(FileDialogGui, WaveFilterTakesWavAndWaveInAnyLetterCase) {
    // The filter the dialog shows, checked on the names it would list.
    GtkFileDialogs dialogs;
    std::atomic<bool> quit{false};
    dialogs.watch(&quit);
    GtkFileFilter* seen = nullptr;
    ask(dialogs, DialogMode::WaveFile, [&] {
        EXPECT_TRUE(typeIntoDialog("Import IR", "true"));
        quit = true;
    });
    // Find the open dialog's filter through GTK's own list of top-level windows.
    GList* toplevels = gtk_window_list_toplevels();
    for (GList* w = toplevels; w != nullptr; w = w->next) {
        if (GTK_IS_FILE_CHOOSER(w->data)) {
            GSList* filters = gtk_file_chooser_list_filters(GTK_FILE_CHOOSER(w->data));
            if (filters) seen = GTK_FILE_FILTER(filters->data);
            g_slist_free(filters);
        }
    }
    g_list_free(toplevels);
    ASSERT_NE(seen, nullptr);
    EXPECT_STREQ(gtk_file_filter_get_name(seen), "Wave");
    for (const char* name : {"a.wav", "b.WAV", "c.Wave", "d.wAvE"}) {
        const GtkFileFilterInfo info{GTK_FILE_FILTER_DISPLAY_NAME, nullptr, nullptr, name, nullptr};
        EXPECT_TRUE(gtk_file_filter_filter(seen, &info)) << name;
    }
    for (const char* name : {"e.mp3", "f.wav.txt", "wav", "g.waves"}) {
        const GtkFileFilterInfo info{GTK_FILE_FILTER_DISPLAY_NAME, nullptr, nullptr, name, nullptr};
        EXPECT_FALSE(gtk_file_filter_filter(seen, &info)) << name;
    }
    dialogs.shutdown();
}

// The panel is dark, and so is what GTK draws for it once the editor's window is open: a light menu
// or file dialog on the dark panel is what this guards against.
TEST_F(FileDialogGui, OnceTheEditorsWindowIsOpenItsMenusAndDialogsAreDark) {
    const auto lightness = [](GtkWidget* widget) {
        GtkStyleContext* style = gtk_widget_get_style_context(widget);
        GdkRGBA* background = nullptr;
        gtk_style_context_get(style, gtk_style_context_get_state(style), "background-color", &background,
                              nullptr);
        const double l = background ? (background->red + background->green + background->blue) / 3 : 1.0;
        if (background) gdk_rgba_free(background);
        return l;
    };
    GtkWindowSystem windows;
    Platform platform(kAppTitle, kAppId);
    ASSERT_EQ(windows.open(platform), "");
    GtkWidget* dialog =
        gtk_file_chooser_dialog_new("Import IR", nullptr, GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    GtkWidget* menu = gtk_menu_new();
    EXPECT_LT(lightness(dialog), 0.4);
    EXPECT_LT(lightness(menu), 0.4);
    gtk_widget_destroy(menu);
    gtk_widget_destroy(dialog);
    windows.close();
}

}  // namespace
}  // namespace halvard
