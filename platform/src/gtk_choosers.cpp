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

void add_filters(GtkFileChooser* chooser, const FileRequest& r) {
    for (size_t i = 0; i < r.filters.size(); ++i) {
        const FileFilter& f = r.filters[i];
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, f.description.c_str());
        size_t start = 0;
        while (start <= f.pattern.size()) {
            size_t end = f.pattern.find(';', start);
            if (end == std::string::npos) end = f.pattern.size();
            std::string one = f.pattern.substr(start, end - start);
            while (!one.empty() && one.front() == ' ') one.erase(one.begin());
            // "*.*" means every file on Windows, also those without a dot.
            if (one == "*.*") one = "*";
            if (!one.empty()) gtk_file_filter_add_pattern(filter, case_blind(one).c_str());
            start = end + 1;
        }
        gtk_file_chooser_add_filter(chooser, filter);  // takes the floating reference
        if (static_cast<int>(i) + 1 == r.filter_index) gtk_file_chooser_set_filter(chooser, filter);
    }
}

// Where the chooser starts: the initial folder (or the folder of the file it names) and the
// initial file name, relative names taken from that folder.
void set_start(GtkFileChooser* chooser, const FileRequest& r) {
    std::error_code ec;
    fs::path folder(r.initial_dir);
    if (!folder.empty() && !fs::is_directory(folder, ec)) folder = folder.parent_path();
    fs::path file(r.initial_file);
    if (!file.empty() && file.is_relative() && !folder.empty()) file = folder / file;
    if (!file.empty() && file.has_parent_path() && fs::is_directory(file.parent_path(), ec)) folder = file.parent_path();
    if (!folder.empty() && fs::is_directory(folder, ec)) gtk_file_chooser_set_current_folder(chooser, folder.c_str());
    if (file.filename().empty()) return;
    if (r.save)
        gtk_file_chooser_set_current_name(chooser, file.filename().c_str());
    else if (fs::is_regular_file(file, ec))
        gtk_file_chooser_select_filename(chooser, file.c_str());
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
    set_start(GTK_FILE_CHOOSER(chooser), r);
    Running running(this, chooser);
    shown(chooser);
    std::optional<std::string> answer;
    while (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
        gchar* name = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
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
