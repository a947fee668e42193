// Dialogs on the desktop, drawn with GTK 3: the view of the model in
// dialog_core.h. The view only draws the model and turns GTK's signals into
// the model's input functions, which decide what reaches the procedure.
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dialog_core.h"
#include "gtk_message_box.h"

namespace wq2::platform::dialogs {
namespace {

using resources::DialogTemplate;

// The templates name Windows' Japanese faces; Debian's IPA fonts have the
// same metrics family (proportional or fixed, Gothic or Mincho).
std::string DesktopFace(const char* face) {
    static const struct {
        const char* windows;
        const char* desktop;
    } kFaces[] = {
        {"ＭＳ Ｐゴシック", "IPAPGothic"},
        {"ＭＳ ゴシック", "IPAGothic"},
        {"ＭＳ Ｐ明朝", "IPAPMincho"},
        {"ＭＳ 明朝", "IPAMincho"},
    };
    for (const auto& entry : kFaces) {
        if (std::strcmp(face, entry.windows) == 0) return entry.desktop;
    }
    return face;
}

// Windows sizes a font of n points at 96 dots per inch as n * 96 / 72 pixels.
int FontPixels(int points) { return (points * 96 + 36) / 72; }

// Text as a static control or button shows it: line breaks as the desktop
// writes them, "&" marking the next letter's underline (dropped here) and "&&"
// standing for "&".
std::string ShownText(const std::string& text, bool prefixes) {
    std::string utf8 = DesktopText(text.c_str());
    std::string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
        if (prefixes && utf8[i] == '&') {
            if (i + 1 < utf8.size() && utf8[i + 1] == '&') out += utf8[++i];
            continue;
        }
        out += utf8[i];
    }
    return out;
}

// An edit box's lines end in CR LF for the program and in LF in GTK.
std::string EditText(GtkTextBuffer* buffer) {
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* utf8 = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    std::string withCrLf;
    for (const char* p = utf8; *p != '\0'; ++p) {
        if (*p == '\n' && (p == utf8 || p[-1] != '\r')) withCrLf += '\r';
        withCrLf += *p;
    }
    g_free(utf8);
    return ProgramText(withCrLf);
}

GdkCursor* NamedCursor(GtkWidget* widget, const char* name) {
    return gdk_cursor_new_from_name(gtk_widget_get_display(widget), name);
}

class GtkDialogView : public DialogView {
public:
    explicit GtkDialogView(const DialogTemplate& source) {
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_widget_set_name(window_, "wq2-dialog");
        gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
        gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
        gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
        ApplyFont(source);
        MeasureBaseUnits();
        fixed_ = gtk_fixed_new();
        gtk_container_add(GTK_CONTAINER(window_), fixed_);
    }

    ~GtkDialogView() override {
        closing_ = true;
        if (motion_ != nullptr) g_object_unref(motion_);
        for (const Item& item : items_) {
            if (item.partner != nullptr) gtk_widget_destroy(item.partner);
        }
        gtk_widget_destroy(window_);
        for (GdkCursor* cursor : cursors_) {
            if (cursor != nullptr) g_object_unref(cursor);
        }
        if (textCursor_ != nullptr) g_object_unref(textCursor_);
        gtk_style_context_remove_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css_));
        g_object_unref(css_);
        while (gtk_events_pending()) gtk_main_iteration();
    }

    GtkDialogView(const GtkDialogView&) = delete;
    GtkDialogView& operator=(const GtkDialogView&) = delete;

    int baseX() const { return baseX_; }
    int baseY() const { return baseY_; }
    GtkWindow* window() const { return GTK_WINDOW(window_); }

    // Makes the controls of the model, hidden until Show.
    void Populate(Dialog& dialog, HWND owner) {
        dialog_ = &dialog;
        gtk_widget_set_size_request(fixed_, dialog.width, dialog.height);
        if (void* parent = DesktopWindowOf(owner)) {
            gtk_window_set_transient_for(window(), GTK_WINDOW(parent));
            gtk_window_set_modal(window(), TRUE);
        }
        items_.reserve(dialog.controls.size());
        GList* chain = nullptr;
        for (size_t i = 0; i < dialog.controls.size(); ++i) {
            items_.push_back(Item{this, i});
            Item& item = items_.back();
            Make(item, dialog.controls[i]);
            gtk_widget_set_size_request(item.outer, dialog.controls[i].width, dialog.controls[i].height);
            gtk_fixed_put(GTK_FIXED(fixed_), item.outer, dialog.controls[i].x, dialog.controls[i].y);
            // Tab visits the tab stops in template order, as a Windows dialog does.
            if (dialog.controls[i].tabStop) chain = g_list_append(chain, item.outer);
            ControlChanged(dialog.controls[i]);
        }
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_container_set_focus_chain(GTK_CONTAINER(fixed_), chain);
        G_GNUC_END_IGNORE_DEPRECATIONS
        g_list_free(chain);
        gtk_widget_show(fixed_);
        g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKey), this);
        g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
        g_signal_connect_after(window_, "set-focus", G_CALLBACK(OnSetFocus), this);
        // Watched before any control sees the movement, since some (scrolled
        // boxes) keep it to themselves.
        gtk_widget_add_events(window_, GDK_POINTER_MOTION_MASK);
        motion_ = gtk_event_controller_motion_new(window_);
        gtk_event_controller_set_propagation_phase(motion_, GTK_PHASE_CAPTURE);
        g_signal_connect(motion_, "motion", G_CALLBACK(OnMotion), this);
        DialogChanged();
    }

    void Show() {
        shown_ = true;
        echo_ = true;
        gtk_widget_show(window_);
        // GTK focuses the first control it can on showing; the focus is the
        // model's (none when WM_INITDIALOG answered 0).
        ApplyFocus(TargetOfFocus());
        echo_ = false;
        if (GDK_IS_X11_WINDOW(gtk_widget_get_window(window_))) {
            dialog_->nativeWindow = gdk_x11_window_get_xid(gtk_widget_get_window(window_));
        }
        CursorChanged(CurrentCursor());
    }

    void ControlChanged(const Control& control) override {
        Item& item = items_[static_cast<size_t>(&control - dialog_->controls.data())];
        echo_ = true;
        switch (control.kind) {
            case ControlKind::PushButton:
            case ControlKind::DefaultButton:
                gtk_button_set_label(GTK_BUTTON(item.widget), ShownText(control.text, true).c_str());
                break;
            case ControlKind::RadioButton:
                gtk_button_set_label(GTK_BUTTON(item.widget), ShownText(control.text, true).c_str());
                gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(control.checked ? item.widget : item.partner), TRUE);
                break;
            case ControlKind::Text:
                gtk_label_set_text(GTK_LABEL(item.widget), ShownText(control.text, true).c_str());
                break;
            case ControlKind::Edit: {
                // Set only when the program changed it, so the user's place stays.
                GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(item.widget));
                if (EditText(buffer) != control.text) {
                    gtk_text_buffer_set_text(buffer, ShownText(control.text, false).c_str(), -1);
                }
                break;
            }
        }
        gtk_widget_set_sensitive(item.outer, control.enabled);
        gtk_widget_set_visible(item.outer, control.visible);
        echo_ = false;
        gdk_display_flush(gtk_widget_get_display(window_));
    }

    void DialogChanged() override {
        gtk_window_set_title(window(), DesktopText(dialog_->title.c_str()).c_str());
        gtk_widget_set_sensitive(fixed_, dialog_->enabled);
        if (shown_) gtk_widget_set_visible(window_, dialog_->visible);
        gdk_display_flush(gtk_widget_get_display(window_));
    }

    void FocusChanged(const Control* focus) override {
        echo_ = true;
        ApplyFocus(focus);
        echo_ = false;
    }

    // Over the dialog the cursor asked for; an edit box keeps its I-beam
    // unless the program shows the wait cursor (or none).
    void CursorChanged(HCURSOR cursor) override {
        if (!gtk_widget_get_realized(window_)) return;
        const PointerShape shape = ShapeOf(cursor);
        gdk_window_set_cursor(gtk_widget_get_window(window_), Cursor(shape));
        for (const Item& item : items_) {
            if (dialog_->controls[item.index].kind != ControlKind::Edit) continue;
            GdkWindow* text = gtk_text_view_get_window(GTK_TEXT_VIEW(item.widget), GTK_TEXT_WINDOW_TEXT);
            if (text == nullptr) continue;
            const bool own = shape == PointerShape::Wait || shape == PointerShape::Hidden;
            if (textCursor_ == nullptr) textCursor_ = NamedCursor(window_, "text");
            gdk_window_set_cursor(text, own ? Cursor(shape) : textCursor_);
        }
        // The program may go on working without handling events.
        gdk_display_flush(gtk_widget_get_display(window_));
    }

    void Raise() override { gtk_window_present(window()); }

    void Beep() override { gtk_widget_error_bell(window_); }

private:
    struct Item {
        GtkDialogView* view;
        size_t index;
        GtkWidget* outer = nullptr;    // placed and sized in the dialog
        GtkWidget* widget = nullptr;   // the one that takes input
        GtkWidget* partner = nullptr;  // a radio button's hidden "unchecked" state
    };

    void ApplyFont(const DialogTemplate& source) {
        // Font properties are inherited, so the window's own style carries
        // the template's font to every control. Buttons and radio buttons
        // lose GTK's generous padding to fit their dialog-unit boxes.
        const std::string css = "#wq2-dialog { font-family: \"" + DesktopFace(source.fontFace) +
                                "\"; font-size: " + std::to_string(FontPixels(source.pointSize)) +
                                "px; font-weight: " + std::to_string(source.weight == 0 ? 400 : source.weight) +
                                "; font-style: " + (source.italic ? "italic" : "normal") +
                                "; }\n"
                                "#wq2-dialog button { padding: 0 2px; min-height: 0; min-width: 0; }\n"
                                "#wq2-dialog radiobutton { padding: 0; min-height: 0; }\n"
                                "#wq2-dialog radiobutton radio { margin: 0 4px 0 0; min-width: 12px; "
                                "min-height: 12px; }\n";
        css_ = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css_, css.c_str(), -1, nullptr);
        gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window_), GTK_STYLE_PROVIDER(css_),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    }

    // The font's base units as Windows takes them: the average width of the
    // 52 Latin letters, and the font's height.
    void MeasureBaseUnits() {
        PangoLayout* layout =
            gtk_widget_create_pango_layout(window_, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
        int width = 0;
        int height = 0;
        pango_layout_get_pixel_size(layout, &width, &height);
        g_object_unref(layout);
        PangoContext* context = gtk_widget_get_pango_context(window_);
        PangoFontMetrics* metrics =
            pango_context_get_metrics(context, pango_context_get_font_description(context), nullptr);
        const int fontHeight = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics) +
                                            pango_font_metrics_get_descent(metrics));
        pango_font_metrics_unref(metrics);
        baseX_ = (width / 26 + 1) / 2;
        baseY_ = fontHeight > 0 ? fontHeight : height;
        if (baseX_ <= 0) baseX_ = 6;
        if (baseY_ <= 0) baseY_ = 13;
    }

    void Make(Item& item, const Control& control) {
        switch (control.kind) {
            case ControlKind::PushButton:
            case ControlKind::DefaultButton:
                item.widget = gtk_button_new_with_label("");
                item.outer = item.widget;
                if (control.kind == ControlKind::DefaultButton) {
                    gtk_widget_set_can_default(item.widget, TRUE);
                    gtk_window_set_default(window(), item.widget);
                }
                g_signal_connect(item.widget, "clicked", G_CALLBACK(OnClicked), &item);
                break;
            case ControlKind::RadioButton:
                // A plain radio button's mark moves only by CheckRadioButton. Its
                // hidden partner holds the "unchecked" state, which GTK cannot
                // give a radio button alone in its group.
                item.widget = gtk_radio_button_new_with_label(nullptr, "");
                item.partner = gtk_radio_button_new_from_widget(GTK_RADIO_BUTTON(item.widget));
                g_object_ref_sink(item.partner);
                item.outer = item.widget;
                g_signal_connect(item.widget, "clicked", G_CALLBACK(OnClicked), &item);
                break;
            case ControlKind::Text:
                item.widget = gtk_label_new("");
                gtk_label_set_line_wrap(GTK_LABEL(item.widget), TRUE);
                gtk_label_set_line_wrap_mode(GTK_LABEL(item.widget), PANGO_WRAP_WORD_CHAR);
                gtk_label_set_xalign(GTK_LABEL(item.widget), 0.0f);
                gtk_label_set_yalign(GTK_LABEL(item.widget), 0.0f);
                // Wraps at the box's width rather than asking for more, and
                // ends in "…" rather than growing past the box's last line.
                gtk_label_set_max_width_chars(GTK_LABEL(item.widget), 1);
                gtk_label_set_ellipsize(GTK_LABEL(item.widget), PANGO_ELLIPSIZE_END);
                gtk_label_set_lines(GTK_LABEL(item.widget), control.height / baseY_ > 1 ? control.height / baseY_ : 1);
                item.outer = item.widget;
                break;
            case ControlKind::Edit: {
                item.widget = gtk_text_view_new();
                gtk_text_view_set_wrap_mode(GTK_TEXT_VIEW(item.widget), GTK_WRAP_WORD_CHAR);
                gtk_text_view_set_accepts_tab(GTK_TEXT_VIEW(item.widget), FALSE);
                gtk_text_view_set_left_margin(GTK_TEXT_VIEW(item.widget), 2);
                gtk_text_view_set_right_margin(GTK_TEXT_VIEW(item.widget), 2);
                const bool readOnly = (control.source->style & resources::kEsReadOnly) != 0;
                gtk_text_view_set_editable(GTK_TEXT_VIEW(item.widget), !readOnly);
                GtkWidget* scrolled = gtk_scrolled_window_new(nullptr, nullptr);
                const bool scrollBar = (control.source->style & resources::kWsVScroll) != 0;
                gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scrolled), GTK_POLICY_NEVER,
                                               scrollBar ? GTK_POLICY_ALWAYS : GTK_POLICY_EXTERNAL);
                gtk_scrolled_window_set_overlay_scrolling(GTK_SCROLLED_WINDOW(scrolled), FALSE);
                if ((control.source->style & resources::kWsBorder) != 0) {
                    gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scrolled), GTK_SHADOW_IN);
                }
                gtk_container_add(GTK_CONTAINER(scrolled), item.widget);
                item.outer = scrolled;
                g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(item.widget)), "changed",
                                 G_CALLBACK(OnEdited), &item);
                break;
            }
        }
        gtk_widget_show_all(item.outer);
    }

    GdkCursor* Cursor(PointerShape shape) {
        const int index = static_cast<int>(shape);
        if (cursors_[index] == nullptr) {
            static const char* const kNames[] = {"default", "text", "wait", "none"};
            cursors_[index] = NamedCursor(window_, kNames[index]);
        }
        return cursors_[index];
    }

    const Control* TargetOfFocus() const {
        const HWND focus = GetFocus();
        for (const Control& control : dialog_->controls) {
            if (control.handle == focus) return &control;
        }
        return nullptr;
    }

    void ApplyFocus(const Control* focus) {
        if (focus == nullptr) {
            gtk_window_set_focus(window(), nullptr);
        } else {
            gtk_widget_grab_focus(items_[static_cast<size_t>(focus - dialog_->controls.data())].widget);
        }
    }

    Control& ControlOf(const Item& item) const { return dialog_->controls[item.index]; }

    // Which control a point of the window is on, from the dialog's own layout.
    const Control* ControlAt(int x, int y) const {
        for (const Control& control : dialog_->controls) {
            if (control.visible && x >= control.x && x < control.x + control.width && y >= control.y &&
                y < control.y + control.height) {
                return &control;
            }
        }
        return nullptr;
    }

    static void OnClicked(GtkWidget*, gpointer data) {
        auto* item = static_cast<Item*>(data);
        GtkDialogView* view = item->view;
        if (view->closing_ || view->echo_) return;
        Control& control = view->ControlOf(*item);
        if (control.kind == ControlKind::RadioButton) {
            // GTK has moved the mark already; put it back where the program has it.
            view->echo_ = true;
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(control.checked ? item->widget : item->partner), TRUE);
            view->echo_ = false;
        }
        Click(*view->dialog_, control);
    }

    static void OnEdited(GtkTextBuffer* buffer, gpointer data) {
        auto* item = static_cast<Item*>(data);
        if (item->view->closing_ || item->view->echo_) return;
        TextEdited(item->view->ControlOf(*item), EditText(buffer));
    }

    static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
        auto* view = static_cast<GtkDialogView*>(data);
        if (view->closing_) return FALSE;
        switch (event->keyval) {
            case GDK_KEY_Return:
            case GDK_KEY_KP_Enter:
            case GDK_KEY_ISO_Enter: Key(*view->dialog_, VK_RETURN); return TRUE;
            case GDK_KEY_Escape: Key(*view->dialog_, VK_ESCAPE); return TRUE;
            default: return FALSE;
        }
    }

    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
        auto* view = static_cast<GtkDialogView*>(data);
        if (!view->closing_) CloseBox(*view->dialog_);
        return TRUE;  // the window goes when the dialog ends, not before
    }

    static void OnSetFocus(GtkWindow*, GtkWidget* widget, gpointer data) {
        auto* view = static_cast<GtkDialogView*>(data);
        if (view->closing_ || view->echo_) return;
        const Control* focus = nullptr;
        for (const Item& item : view->items_) {
            if (item.widget == widget) focus = &view->ControlOf(item);
        }
        FocusMoved(*view->dialog_, focus);
    }

    static void OnMotion(GtkEventControllerMotion*, double x, double y, gpointer data) {
        auto* view = static_cast<GtkDialogView*>(data);
        if (view->closing_) return;
        PointerMoved(*view->dialog_, view->ControlAt(static_cast<int>(x), static_cast<int>(y)));
    }

    GtkWidget* window_ = nullptr;
    GtkWidget* fixed_ = nullptr;
    GtkCssProvider* css_ = nullptr;
    GtkEventController* motion_ = nullptr;
    Dialog* dialog_ = nullptr;
    std::vector<Item> items_;
    GdkCursor* cursors_[4] = {};
    GdkCursor* textCursor_ = nullptr;
    int baseX_ = 6;
    int baseY_ = 13;
    bool shown_ = false;
    bool closing_ = false;
    bool echo_ = false;  // changes the view makes itself, not the user
};

}  // namespace

INT_PTR RunOnDesktop(const DialogTemplate& source, DLGPROC procedure, HWND owner, LPARAM initParam) {
    if (!StartDesktop()) return -1;
    auto view = std::make_unique<GtkDialogView>(source);
    std::unique_ptr<Dialog> dialog = Build(source, procedure, owner, view->baseX(), view->baseY());
    view->Populate(*dialog, owner);
    dialog->view = view.get();
    Initialise(*dialog, initParam);
    if (!dialog->ended) {
        view->Show();
        // Each event may run the procedure, which may end the dialog, also
        // from inside loops of its own (message boxes) that return first.
        while (!dialog->ended) gtk_main_iteration();
    }
    const INT_PTR result = dialog->result;
    Destroy(*dialog);
    dialog->view = nullptr;
    view.reset();
    return result;
}

void* DesktopWindowOf(HWND handle) {
    if (handle == nullptr) return nullptr;
    Dialog* dialog = DialogOf(handle);
    if (dialog == nullptr || dialog->view == nullptr) return nullptr;
    auto* view = dynamic_cast<GtkDialogView*>(dialog->view);
    return view != nullptr ? view->window() : nullptr;
}

}  // namespace wq2::platform::dialogs
