#include "gtk_copy_progress.h"

#include <gtk/gtk.h>

#include "dialog_core.h"
#include "gtk_message_box.h"

namespace wq2::platform {

struct CopyProgressWindow::Widgets {
    GtkWidget* window = nullptr;
    GtkWidget* name = nullptr;
    GtkWidget* bar = nullptr;
    std::string shownName;
    double shownFraction = -1;
    bool cancelled = false;
};

namespace {

using Widgets = CopyProgressWindow::Widgets;

void DrainEvents() {
    while (gtk_events_pending()) gtk_main_iteration();
}

void OnCancel(GtkButton*, gpointer data) { static_cast<Widgets*>(data)->cancelled = true; }

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
    static_cast<Widgets*>(data)->cancelled = true;
    return TRUE;  // the window goes when the copy has stopped
}

gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    static_cast<Widgets*>(data)->cancelled = true;
    return TRUE;
}

GtkWidget* LeftLabel() {
    GtkWidget* label = gtk_label_new("");
    gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
    // Long paths lose their middle, not the file's name.
    gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_MIDDLE);
    gtk_label_set_width_chars(GTK_LABEL(label), 48);
    gtk_label_set_max_width_chars(GTK_LABEL(label), 48);
    return label;
}

}  // namespace

std::unique_ptr<CopyProgressWindow> CopyProgressWindow::Open(HWND owner, const std::string& title,
                                                             const std::string& fromTo) {
    if (!StartDesktop()) return nullptr;
    std::unique_ptr<CopyProgressWindow> progress(new CopyProgressWindow);
    progress->widgets_ = std::make_unique<Widgets>();
    Widgets& w = *progress->widgets_;

    w.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    GtkWindow* window = GTK_WINDOW(w.window);
    gtk_window_set_title(window, title.c_str());
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_type_hint(window, GDK_WINDOW_TYPE_HINT_DIALOG);
    // The owner takes no input while the copy runs, as on Windows, where the
    // shell's copy disables it.
    gtk_window_set_modal(window, TRUE);
    if (auto* parent = static_cast<GtkWindow*>(dialogs::DesktopWindowOf(owner))) {
        gtk_window_set_transient_for(window, parent);
        gtk_window_set_position(window, GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(window, GTK_WIN_POS_CENTER);
    }

    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
    gtk_container_set_border_width(GTK_CONTAINER(box), 12);
    gtk_container_add(GTK_CONTAINER(w.window), box);
    w.name = LeftLabel();
    gtk_box_pack_start(GTK_BOX(box), w.name, FALSE, FALSE, 0);
    if (!fromTo.empty()) {
        GtkWidget* where = LeftLabel();
        gtk_label_set_text(GTK_LABEL(where), fromTo.c_str());
        gtk_box_pack_start(GTK_BOX(box), where, FALSE, FALSE, 0);
    }
    w.bar = gtk_progress_bar_new();
    gtk_box_pack_start(GTK_BOX(box), w.bar, FALSE, FALSE, 4);
    GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
    gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
    // An explicit label: GTK's stock labels follow the locale, Windows' don't.
    GtkWidget* cancel = gtk_button_new_with_label("キャンセル");
    gtk_container_add(GTK_CONTAINER(buttons), cancel);
    gtk_box_pack_start(GTK_BOX(box), buttons, FALSE, FALSE, 0);

    g_signal_connect(cancel, "clicked", G_CALLBACK(OnCancel), &w);
    g_signal_connect(w.window, "delete-event", G_CALLBACK(OnDelete), &w);
    g_signal_connect(w.window, "key-press-event", G_CALLBACK(OnKey), &w);
    gtk_widget_show_all(w.window);
    // Enter and Space press the one button there is.
    gtk_widget_grab_focus(cancel);
    DrainEvents();
    return progress;
}

CopyProgressWindow::~CopyProgressWindow() {
    if (widgets_ == nullptr) return;
    gtk_widget_destroy(widgets_->window);
    DrainEvents();
}

bool CopyProgressWindow::Update(const std::string& name, double fraction) {
    Widgets& w = *widgets_;
    if (name != w.shownName) {
        w.shownName = name;
        gtk_label_set_text(GTK_LABEL(w.name), name.c_str());
    }
    fraction = fraction < 0 ? 0 : (fraction > 1 ? 1 : fraction);
    // A thousandth is below a pixel of the bar; finer steps only cost redraws.
    if (fraction - w.shownFraction >= 0.001 || fraction < w.shownFraction || fraction == 1.0) {
        w.shownFraction = fraction;
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(w.bar), fraction);
    }
    DrainEvents();
    return !w.cancelled;
}

}  // namespace wq2::platform
