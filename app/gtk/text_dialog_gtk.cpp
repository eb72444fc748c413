#include "app/gtk/text_dialog_gtk.hpp"

#include <string>

#include "model/program_settings.hpp"

namespace halvard {
namespace {

struct Ask {
    GtkWidget* entry = nullptr;
    std::function<void(std::string_view)> done;
};

void onResponse(GtkDialog* dialog, gint response, gpointer data) {
    const Ask& ask = *static_cast<Ask*>(data);
    const std::string text = response == GTK_RESPONSE_OK ? gtk_entry_get_text(GTK_ENTRY(ask.entry)) : "";
    const bool accepted = response == GTK_RESPONSE_OK;
    const std::function<void(std::string_view)> done = ask.done;
    gtk_widget_destroy(GTK_WIDGET(dialog));  // frees ask
    if (accepted && done) done(text);
}

void deleteAsk(gpointer data, GClosure*) {
    delete static_cast<Ask*>(data);
}

}  // namespace

void askTextGtk(GtkWindow* parent, std::string_view title, std::string_view text,
                std::function<void(std::string_view)> done) {
    const std::string titleText(title);
    GtkWidget* dialog = gtk_dialog_new_with_buttons(
        titleText.c_str(), parent,
        static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), "_Cancel",
        GTK_RESPONSE_CANCEL, "_OK", GTK_RESPONSE_OK, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_max_length(GTK_ENTRY(entry), kProgramNameMaxChars);
    gtk_entry_set_text(GTK_ENTRY(entry), std::string(text).c_str());
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_entry_set_width_chars(GTK_ENTRY(entry), kProgramNameMaxChars);
    GtkWidget* area = gtk_dialog_get_content_area(GTK_DIALOG(dialog));
    gtk_container_set_border_width(GTK_CONTAINER(area), 12);
    gtk_container_add(GTK_CONTAINER(area), entry);
    g_signal_connect_data(dialog, "response", G_CALLBACK(onResponse), new Ask{entry, std::move(done)},
                          deleteAsk, GConnectFlags(0));
    gtk_widget_show_all(dialog);
}

}  // namespace halvard
