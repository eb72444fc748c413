#include "app/gtk/file_dialog_gtk.hpp"

#include <gtk/gtk.h>

#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <utility>

namespace halvard {

namespace {

// One call of showFileDialog or confirm. The worker waits until done.
struct Request {
    explicit Request(DialogMode m) : mode(m) {}
    explicit Request(Confirmation q) : mode(DialogMode::WaveFile), question(std::move(q)) {}
    const DialogMode mode;
    const std::optional<Confirmation> question;  // a question rather than a file dialog
    bool done = false;                           // under Shared::mutex
    std::string path;                            // under Shared::mutex
    bool accepted = false;                       // under Shared::mutex
};

// How often a waiting worker looks at its stop flag.
constexpr std::chrono::milliseconds kQuitPoll{20};

}  // namespace

struct GtkFileDialogs::Shared {
    std::mutex mutex;
    std::condition_variable answered;
    bool closed = false;
    const std::atomic<bool>* quit = nullptr;
    // The dialog on screen (a file chooser or a question) and the request it answers; only the UI
    // thread touches the dialog.
    GtkFileChooserNative* dialog = nullptr;
    GtkWidget* question = nullptr;
    gulong responseHandler = 0;
    std::shared_ptr<Request> shown;
    std::string startFolder;  // UI thread only: where the next dialog opens

    // Answers a request once; later answers are dropped.
    void answer(Request& request, std::string path, bool accepted = false) {
        std::lock_guard lock(mutex);
        if (request.done) return;
        request.done = true;
        request.path = std::move(path);
        request.accepted = accepted;
        answered.notify_all();
    }
};

namespace {

using Shared = GtkFileDialogs::Shared;

// What a main-loop callback holds on to: both sides stay alive for as long as it runs.
struct Invocation {
    std::shared_ptr<Shared> shared;
    std::shared_ptr<Request> request;
};

void deleteInvocation(gpointer data) {
    delete static_cast<Invocation*>(data);
}
void deleteInvocationClosure(gpointer data, GClosure*) {
    deleteInvocation(data);
}

void onResponse(GtkNativeDialog* dialog, gint response, gpointer data) {
    // Copies: unreferencing the dialog below frees the closure's Invocation.
    const std::shared_ptr<Shared> shared = static_cast<Invocation*>(data)->shared;
    const std::shared_ptr<Request> request = static_cast<Invocation*>(data)->request;
    std::string path;
    if (response == GTK_RESPONSE_ACCEPT) {
        // Several files (ImportFiles): one path a line.
        GSList* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog));
        for (GSList* f = files; f != nullptr; f = f->next) {
            if (char* p = g_file_get_path(G_FILE(f->data))) {  // absolute; null outside the file system
                path += (path.empty() ? "" : "\n") + std::string(p);
                g_free(p);
            }
        }
        g_slist_free_full(files, g_object_unref);
    }
    {
        std::lock_guard lock(shared->mutex);
        if (shared->dialog != GTK_FILE_CHOOSER_NATIVE(dialog)) return;  // shut down meanwhile
        shared->dialog = nullptr;
        shared->shown.reset();
    }
    if (!path.empty()) {
        // The next dialog opens where this one ended: the chosen folder, or the chosen file's.
        const std::string first = path.substr(0, path.find('\n'));
        char* folder =
            request->mode == DialogMode::Folder ? g_strdup(first.c_str()) : g_path_get_dirname(first.c_str());
        shared->startFolder = folder;
        g_free(folder);
    }
    shared->answer(*request, std::move(path));
    g_object_unref(dialog);
}

void onQuestionResponse(GtkDialog* dialog, gint response, gpointer data) {
    const std::shared_ptr<Shared> shared = static_cast<Invocation*>(data)->shared;
    const std::shared_ptr<Request> request = static_cast<Invocation*>(data)->request;
    {
        std::lock_guard lock(shared->mutex);
        if (shared->question != GTK_WIDGET(dialog)) return;  // shut down meanwhile
        shared->question = nullptr;
        shared->shown.reset();
    }
    shared->answer(*request, {}, response == GTK_RESPONSE_ACCEPT);
    gtk_widget_destroy(GTK_WIDGET(dialog));
}

// A question with Cancel (the default, as the step cannot be undone) and the accept button.
GtkWidget* createQuestion(const Confirmation& q) {
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                               GTK_BUTTONS_NONE, "%s", q.heading.c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", q.details.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), q.title.c_str());
    const std::string accept = "_" + q.accept;
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_Cancel", GTK_RESPONSE_CANCEL, accept.c_str(),
                           GTK_RESPONSE_ACCEPT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
    return dialog;
}

// GTK 3's patterns are case-sensitive: every letter case is spelled out.
void addFilter(GtkFileChooser* chooser, const char* name, std::initializer_list<const char*> patterns) {
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, name);
    for (const char* pattern : patterns) gtk_file_filter_add_pattern(filter, pattern);
    gtk_file_chooser_add_filter(chooser, filter);  // takes the filter's floating reference
}

GtkFileChooserNative* createDialog(DialogMode mode, const std::string& startFolder) {
    struct Kind {
        const char* title;
        GtkFileChooserAction action;
        const char* accept;
    };
    const Kind kind =
        mode == DialogMode::Folder ? Kind{"Extract All IRs", GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Select"}
        : mode == DialogMode::ProgramFile ? Kind{"Restore Programs", GTK_FILE_CHOOSER_ACTION_OPEN, "_Open"}
        : mode == DialogMode::SaveProgramFile
            ? Kind{"Back Up All Programs", GTK_FILE_CHOOSER_ACTION_SAVE, "_Save"}
        : mode == DialogMode::ImportFiles    ? Kind{"Import Files", GTK_FILE_CHOOSER_ACTION_OPEN, "_Open"}
        : mode == DialogMode::SaveOneProgram ? Kind{"Export Program", GTK_FILE_CHOOSER_ACTION_SAVE, "_Save"}
                                             : Kind{"Import IR", GTK_FILE_CHOOSER_ACTION_OPEN, "_Open"};
    GtkFileChooserNative* dialog =
        gtk_file_chooser_native_new(kind.title, nullptr, kind.action, kind.accept, "_Cancel");
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(dialog);
    gtk_file_chooser_set_local_only(chooser, TRUE);  // file-system items only
    gtk_file_chooser_set_select_multiple(chooser, mode == DialogMode::ImportFiles);
    // A real folder rather than "Recent": there a typed path is taken at once, and a folder can
    // be picked at all.
    gtk_file_chooser_set_current_folder(chooser,
                                        startFolder.empty() ? g_get_home_dir() : startFolder.c_str());
    if (mode == DialogMode::WaveFile) addFilter(chooser, "Wave", {"*.[Ww][Aa][Vv]", "*.[Ww][Aa][Vv][Ee]"});
    if (mode == DialogMode::ProgramFile || mode == DialogMode::SaveProgramFile)
        addFilter(chooser, "SysEx", {"*.[Ss][Yy][Xx]"});
    if (mode == DialogMode::ImportFiles)
        addFilter(chooser, "Programs and IRs",
                  {"*.[Hh][Aa][Ll][Vv][Aa][Rr][Dd]-[Pp][Rr][Oo][Gg][Rr][Aa][Mm]", "*.[Ss][Yy][Xx]",
                   "*.[Ww][Aa][Vv]", "*.[Ww][Aa][Vv][Ee]"});
    if (mode == DialogMode::SaveOneProgram) {
        addFilter(chooser, "Program", {"*.[Hh][Aa][Ll][Vv][Aa][Rr][Dd]-[Pp][Rr][Oo][Gg][Rr][Aa][Mm]"});
        gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
        gtk_file_chooser_set_current_name(chooser, "program.halvard-program");
    }
    if (mode == DialogMode::SaveProgramFile) {
        gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
        GDateTime* now = g_date_time_new_now_local();
        gchar* name = g_date_time_format(now, "halvard-programs-%Y-%m-%d.syx");
        gtk_file_chooser_set_current_name(chooser, name);
        g_free(name);
        g_date_time_unref(now);
    }
    return dialog;
}

// UI thread: shows the dialog for a request, unless it was answered or everything shut down.
gboolean openDialog(gpointer data) {
    const Invocation& invocation = *static_cast<Invocation*>(data);
    Shared& shared = *invocation.shared;
    {
        std::lock_guard lock(shared.mutex);
        if (shared.closed || invocation.request->done || shared.dialog != nullptr ||
            shared.question != nullptr) {
            invocation.request->done = true;  // one dialog at a time; a second request is cancelled
            shared.answered.notify_all();
            return G_SOURCE_REMOVE;
        }
    }
    if (const std::optional<Confirmation>& q = invocation.request->question) {
        GtkWidget* question = createQuestion(*q);
        const gulong handler =
            g_signal_connect_data(question, "response", G_CALLBACK(onQuestionResponse),
                                  new Invocation(invocation), deleteInvocationClosure, GConnectFlags(0));
        {
            std::lock_guard lock(shared.mutex);
            shared.question = question;
            shared.responseHandler = handler;
            shared.shown = invocation.request;
        }
        gtk_widget_show_all(question);
        return G_SOURCE_REMOVE;
    }
    GtkFileChooserNative* dialog = createDialog(invocation.request->mode, shared.startFolder);
    const gulong handler =
        g_signal_connect_data(dialog, "response", G_CALLBACK(onResponse), new Invocation(invocation),
                              deleteInvocationClosure, GConnectFlags(0));
    {
        std::lock_guard lock(shared.mutex);
        shared.dialog = dialog;
        shared.responseHandler = handler;
        shared.shown = invocation.request;
    }
    gtk_native_dialog_show(GTK_NATIVE_DIALOG(dialog));
    return G_SOURCE_REMOVE;
}

}  // namespace

GtkFileDialogs::GtkFileDialogs() : shared_(std::make_shared<Shared>()) {}

GtkFileDialogs::~GtkFileDialogs() {
    shutdown();
}

void GtkFileDialogs::watch(const std::atomic<bool>* quit) {
    std::lock_guard lock(shared_->mutex);
    shared_->quit = quit;
}

namespace {

// Worker thread: has the UI thread answer the request, and waits for it (or for the stop flag).
void ask(const std::shared_ptr<Shared>& shared, const std::shared_ptr<Request>& request) {
    {
        std::lock_guard lock(shared->mutex);
        if (shared->closed) return;
    }
    // An idle source of the default context runs on the thread that iterates it, the UI thread.
    // (g_main_context_invoke could run it right here, on the worker, whenever the context is free.)
    g_idle_add_full(G_PRIORITY_DEFAULT, openDialog, new Invocation{shared, request}, deleteInvocation);

    std::unique_lock lock(shared->mutex);
    while (!request->done) {
        if (shared->quit != nullptr && *shared->quit) {
            request->done = true;  // the dialog, if it opened, closes at shutdown
            break;
        }
        shared->answered.wait_for(lock, kQuitPoll);
    }
}

}  // namespace

std::string GtkFileDialogs::showFileDialog(DialogMode mode) {
    if (mode != DialogMode::WaveFile && mode != DialogMode::Folder && mode != DialogMode::ProgramFile &&
        mode != DialogMode::SaveProgramFile && mode != DialogMode::ImportFiles &&
        mode != DialogMode::SaveOneProgram)
        return {};
    const auto request = std::make_shared<Request>(mode);
    ask(shared_, request);
    std::lock_guard lock(shared_->mutex);
    return request->path;
}

bool GtkFileDialogs::confirm(const Confirmation& question) {
    const auto request = std::make_shared<Request>(question);
    ask(shared_, request);
    std::lock_guard lock(shared_->mutex);
    return request->accepted;
}

void GtkFileDialogs::shutdown() {
    GtkFileChooserNative* dialog = nullptr;
    GtkWidget* question = nullptr;
    gulong handler = 0;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->closed = true;
        dialog = std::exchange(shared_->dialog, nullptr);
        question = std::exchange(shared_->question, nullptr);
        handler = shared_->responseHandler;
        if (shared_->shown) shared_->shown->done = true;  // its path stays empty
        shared_->shown.reset();
        shared_->answered.notify_all();
    }
    if (dialog != nullptr) {
        g_signal_handler_disconnect(dialog, handler);  // no response to a dialog closed here
        gtk_native_dialog_destroy(GTK_NATIVE_DIALOG(dialog));
        g_object_unref(dialog);
    }
    if (question != nullptr) {
        g_signal_handler_disconnect(question, handler);
        gtk_widget_destroy(question);
    }
}

}  // namespace halvard
