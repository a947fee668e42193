#include "gtk_message_box.h"

#include <gtk/gtk.h>

#include <cstdio>
#include <string>

#include "dialog_core.h"
#include "path_map.h"

namespace wq2::platform {
namespace {

GtkMessageType IconFor(UINT type) {
    switch (type & 0xF0u) {
        case MB_ICONERROR: return GTK_MESSAGE_ERROR;
        case MB_ICONQUESTION: return GTK_MESSAGE_QUESTION;
        case MB_ICONWARNING: return GTK_MESSAGE_WARNING;
        case MB_ICONINFORMATION: return GTK_MESSAGE_INFO;
        default: return GTK_MESSAGE_OTHER;
    }
}

void DrainEvents() {
    while (gtk_events_pending()) gtk_main_iteration();
}

}  // namespace

std::string DesktopText(LPCSTR text) {
    std::string out;
    if (text == nullptr) return out;
    if (Cp932ToUtf8(text, out)) return out;
    out.clear();
    for (const char* p = text; *p != '\0'; ++p) out += (static_cast<unsigned char>(*p) < 0x80) ? *p : '?';
    return out;
}

std::string ProgramText(const std::string& utf8) {
    std::string out;
    if (Utf8ToCp932(utf8, out)) return out;
    out.clear();
    // Character by character: a UTF-8 sequence is a lead byte and its
    // continuation bytes (10xxxxxx).
    for (size_t i = 0; i < utf8.size();) {
        size_t end = i + 1;
        while (end < utf8.size() && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80) ++end;
        std::string one;
        out += Utf8ToCp932(utf8.substr(i, end - i), one) ? one : "?";
        i = end;
    }
    return out;
}

bool StartDesktop() {
    static int state = 0;  // 0 not tried, 1 running, 2 no display
    if (state == 0) {
        gdk_set_allowed_backends("x11");
        state = gtk_init_check(nullptr, nullptr) ? 1 : 2;
        // Only takes effect once GTK is initialised.
        if (state == 1) gdk_set_program_class(kDesktopWindowClass);
    }
    return state == 1;
}

int DesktopMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    bool withCancel = (type & 0xFu) == MB_OKCANCEL;
    if (!StartDesktop()) {
        std::fprintf(stderr, "[%s] %s\n", DesktopText(caption).c_str(), DesktopText(text).c_str());
        return IDOK;
    }
    auto* parent = static_cast<GtkWindow*>(dialogs::DesktopWindowOf(owner));
    GtkWidget* dialog = gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, IconFor(type), GTK_BUTTONS_NONE, "%s",
                                               DesktopText(text).c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), DesktopText(caption).c_str());
    gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
    gtk_dialog_add_button(GTK_DIALOG(dialog), "OK", GTK_RESPONSE_OK);
    if (withCancel) gtk_dialog_add_button(GTK_DIALOG(dialog), "キャンセル", GTK_RESPONSE_CANCEL);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_OK);
    gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    DrainEvents();
    if (response == GTK_RESPONSE_OK) return IDOK;
    return withCancel ? IDCANCEL : IDOK;
}

}  // namespace wq2::platform
