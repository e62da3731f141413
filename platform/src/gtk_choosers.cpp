// The desktop's own file and colour choosers behind the common dialogs.
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "gtk_support.h"
#include "mvp/common_dialogs.h"
#include "mvp/gtk_user.h"

namespace mvp {

namespace {

namespace fs = std::filesystem;

// Windows matches file patterns without regard to case; GTK's patterns are case-sensitive, so
// each letter becomes a class of both cases ("*.wb1" -> "*.[wW][bB]1").
std::string case_blind(const std::string& pattern) {
    std::string out;
    for (char c : pattern) {
        if (g_ascii_isalpha(c)) {
            out += '[';
            out += g_ascii_tolower(c);
            out += g_ascii_toupper(c);
            out += ']';
        } else {
            out += c;
        }
    }
    return out;
}

// The patterns of one filter ("*.wb1;*.wbf"), as GTK takes them.
std::vector<std::string> patterns_of(const FileFilter& f) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= f.pattern.size()) {
        size_t end = f.pattern.find(';', start);
        if (end == std::string::npos) end = f.pattern.size();
        std::string one = f.pattern.substr(start, end - start);
        while (!one.empty() && one.front() == ' ') one.erase(one.begin());
        // "*.*" means every file on Windows, also those without a dot.
        if (one == "*.*") one = "*";
        if (!one.empty()) out.push_back(one);
        start = end + 1;
    }
    return out;
}

void add_filters(GtkFileChooser* chooser, const FileRequest& r) {
    // Windows shows one filter at a time, so that a module offering ".wb1" and ".wbf" as two
    // filters hides the second kind at first. A person opening a file wants to see every kind
    // the module reads: a filter of them all comes first and is chosen; the module's own follow.
    GtkFileFilter* all = nullptr;
    if (!r.save && r.filters.size() > 1) {
        all = gtk_file_filter_new();
        std::string names;
        for (const FileFilter& f : r.filters)
            for (const std::string& one : patterns_of(f)) {
                gtk_file_filter_add_pattern(all, case_blind(one).c_str());
                names += (names.empty() ? "" : ", ") + one;
            }
        gtk_file_filter_set_name(all, ("All of these (" + names + ")").c_str());
        gtk_file_chooser_add_filter(chooser, all);
    }
    for (size_t i = 0; i < r.filters.size(); ++i) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, r.filters[i].description.c_str());
        for (const std::string& one : patterns_of(r.filters[i])) gtk_file_filter_add_pattern(filter, case_blind(one).c_str());
        gtk_file_chooser_add_filter(chooser, filter);  // takes the floating reference
        if (!all && static_cast<int>(i) + 1 == r.filter_index) gtk_file_chooser_set_filter(chooser, filter);
    }
    if (all) gtk_file_chooser_set_filter(chooser, all);
}

// Where the chooser starts: the initial folder (or the folder of the file it names) and the
// initial file name, relative names taken from that folder.
void set_start(GtkFileChooser* chooser, const FileRequest& r, const std::function<std::string(const FileRequest&)>& hook) {
    std::error_code ec;
    fs::path folder(r.initial_dir);
    if (!folder.empty() && !fs::is_directory(folder, ec)) folder = folder.parent_path();
    fs::path file(r.initial_file);
    if (!file.empty() && file.is_relative() && !folder.empty()) file = folder / file;
    if (!file.empty() && file.has_parent_path() && fs::is_directory(file.parent_path(), ec)) folder = file.parent_path();
    if ((folder.empty() || !fs::is_directory(folder, ec)) && hook) {
        folder = hook(r);
        if (!file.empty() && file.is_relative() && !folder.empty()) file = folder / file;
    }
    if (!folder.empty() && fs::is_directory(folder, ec)) gtk_file_chooser_set_current_folder(chooser, folder.c_str());
    if (file.filename().empty()) return;
    if (r.save)
        gtk_file_chooser_set_current_name(chooser, file.filename().c_str());
    else if (fs::is_regular_file(file, ec))
        gtk_file_chooser_select_filename(chooser, file.c_str());
}

constexpr int kTypedResponse = 0x4D56;

// Return in the chooser's name or location entry presses the default button, as on Windows. GTK
// turns the Save button sensitive only a moment after a name is typed, and until then drops the
// Return a quick typist presses. A name that is a folder is left to GTK, which opens it.
// (Connected to the entries themselves: while the entry's completion list is up it holds the
// keyboard, and forwards the keys to the entry, not to the chooser's window.)
gboolean on_entry_key(GtkWidget* entry, GdkEventKey* ev, gpointer dialog) {
    if (ev->keyval != GDK_KEY_Return && ev->keyval != GDK_KEY_KP_Enter) return FALSE;
    if (ev->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK | GDK_SHIFT_MASK)) return FALSE;
    GtkWidget* w = GTK_WIDGET(dialog);
    const std::string text = gtk_entry_get_text(GTK_ENTRY(entry));
    if (text.empty()) return FALSE;
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(w);
    fs::path path(text);
    if (path.is_relative()) {
        // The folder shown (the chooser's current folder may still be unset while it loads).
        GFile* shown = gtk_file_chooser_get_current_folder_file(chooser);
        gchar* folder = shown ? g_file_get_path(shown) : nullptr;
        if (shown) g_object_unref(shown);
        if (!folder) return FALSE;
        path = fs::path(folder) / path;
        g_free(folder);
    }
    std::error_code ec;
    const bool save = gtk_file_chooser_get_action(chooser) == GTK_FILE_CHOOSER_ACTION_SAVE;
    if (fs::is_directory(path, ec) || (!save && !fs::is_regular_file(path, ec))) return FALSE;
    // The chooser's own idea of the name may still lag behind the entry: the typed path is the
    // answer. (GTK's dialog holds back an accepting response until it agrees; this one is ours.)
    g_object_set_data_full(G_OBJECT(w), "mv-typed", g_strdup(path.lexically_normal().c_str()), g_free);
    gtk_dialog_response(GTK_DIALOG(w), kTypedResponse);
    return TRUE;
}

// The chooser makes its name and location entries as they are needed: each is watched once it
// takes the focus.
void watch_focus(GtkWindow* dialog, GtkWidget* focus, gpointer) {
    if (!focus || !GTK_IS_ENTRY(focus) || g_object_get_data(G_OBJECT(focus), "mv-watched")) return;
    g_object_set_data(G_OBJECT(focus), "mv-watched", focus);
    g_signal_connect(focus, "key-press-event", G_CALLBACK(on_entry_key), dialog);
}

GtkWidget* refusal_box(GtkWindow* chooser, const std::string& path, const std::string& why) {
    GtkWidget* box = gtk_message_dialog_new(chooser, GTK_DIALOG_MODAL, GTK_MESSAGE_WARNING, GTK_BUTTONS_OK, "%s",
                                            path.c_str());
    gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(box), "%s", why.c_str());
    return box;
}

guint8 channel(double v) { return static_cast<guint8>(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); }

GdkRGBA rgba(COLORREF c) {
    return GdkRGBA{(c & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, ((c >> 16) & 0xFF) / 255.0, 1.0};
}

}  // namespace

std::optional<std::string> GtkUser::choose_file(const FileRequest& r) {
    if (!on_gtk_thread("file") || m_dismissing) return std::nullopt;
    GtkWidget* chooser = gtk_file_chooser_dialog_new(
        r.title.c_str(), m_parent, r.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, "_Cancel",
        GTK_RESPONSE_CANCEL, r.save ? "_Save" : "_Open", GTK_RESPONSE_ACCEPT, nullptr);
    g_object_ref_sink(chooser);
    gtk_dialog_set_default_response(GTK_DIALOG(chooser), GTK_RESPONSE_ACCEPT);
    gtk_window_set_position(GTK_WINDOW(chooser), m_parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    gtk_file_chooser_set_local_only(GTK_FILE_CHOOSER(chooser), TRUE);
    // The overwrite question comes from the platform after the default extension is added, so
    // that it names the file that will be written; GTK's own would ask about the bare name.
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(chooser), FALSE);
    add_filters(GTK_FILE_CHOOSER(chooser), r);
    g_signal_connect(chooser, "set-focus", G_CALLBACK(watch_focus), nullptr);
    set_start(GTK_FILE_CHOOSER(chooser), r, m_start_folder_hook);
    Running running(this, chooser);
    shown(chooser);
    std::optional<std::string> answer;
    for (int response; (response = gtk_dialog_run(GTK_DIALOG(chooser))) == GTK_RESPONSE_ACCEPT || response == kTypedResponse;) {
        auto* typed = static_cast<const gchar*>(g_object_get_data(G_OBJECT(chooser), "mv-typed"));
        gchar* name = typed ? g_strdup(typed) : gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
        g_object_set_data(G_OBJECT(chooser), "mv-typed", nullptr);
        if (!name) continue;
        const std::string path = r.resolve(name);
        g_free(name);
        // A name the platform would refuse (missing file, folder, too long) keeps the chooser
        // open with the reason, as Windows' chooser does.
        const std::string why = r.refusal(path);
        if (why.empty()) {
            answer = path;
            break;
        }
        if (running.dismissing()) break;
        GtkWidget* box = refusal_box(GTK_WINDOW(chooser), path, why);
        {
            Running refusing(this, box);
            shown(box);
            gtk_dialog_run(GTK_DIALOG(box));
        }
        gtk_widget_destroy(box);
    }
    gtk_widget_destroy(chooser);
    g_object_unref(chooser);
    return answer;
}

std::optional<ColorAnswer> GtkUser::choose_color(const ColorRequest& r) {
    if (!on_gtk_thread("colour") || m_dismissing) return std::nullopt;
    GtkWidget* chooser = gtk_color_chooser_dialog_new("Color", m_parent);
    g_object_ref_sink(chooser);
    gtk_color_chooser_set_use_alpha(GTK_COLOR_CHOOSER(chooser), FALSE);
    gtk_window_set_position(GTK_WINDOW(chooser), m_parent ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    GdkRGBA custom[16];
    for (size_t i = 0; i < 16; ++i) custom[i] = rgba(r.custom[i]);
    gtk_color_chooser_add_palette(GTK_COLOR_CHOOSER(chooser), GTK_ORIENTATION_HORIZONTAL, 8, 16, custom);
    const GdkRGBA initial = rgba(r.initial);
    gtk_color_chooser_set_rgba(GTK_COLOR_CHOOSER(chooser), &initial);
    if (r.flags & CC_FULLOPEN) g_object_set(chooser, "show-editor", TRUE, nullptr);
    Running running(this, chooser);
    shown(chooser);
    std::optional<ColorAnswer> answer;
    if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_OK) {
        GdkRGBA c;
        gtk_color_chooser_get_rgba(GTK_COLOR_CHOOSER(chooser), &c);
        ColorAnswer a;
        a.color = RGB(channel(c.red), channel(c.green), channel(c.blue));
        answer = a;  // the custom colours stay as they were: GTK's palette is not edited
    }
    gtk_widget_destroy(chooser);
    g_object_unref(chooser);
    return answer;
}

}  // namespace mvp
