// Small helpers shared by the GTK user's parts. Internal to mv_platform_gtk.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "mvp/gtk_user.h"

namespace mvp {

class GtkUser::Running {
public:
    Running(GtkUser* user, GtkWidget* widget) : m_user(user), m_widget(widget) {
        ++user->m_depth;
        if (widget) user->m_running.push_back(widget);
    }
    ~Running() {
        auto& r = m_user->m_running;
        for (auto it = r.begin(); it != r.end(); ++it)
            if (*it == m_widget) {
                r.erase(it);
                break;
            }
        if (--m_user->m_depth == 0 && m_user->m_dialogs.empty()) m_user->m_dismissing = false;
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
    bool dismissing() const { return m_user->m_dismissing; }

private:
    GtkUser* m_user;
    GtkWidget* m_widget;
};

}  // namespace mvp

namespace mvp::gtk_detail {

// A Windows label ("&Open", "Fish && chips", "Cut\tCtrl+X") as a GTK mnemonic label ("_Open",
// "Fish & chips", "Cut    Ctrl+X"): '&' marks the mnemonic, '&&' is a literal '&', and a literal
// '_' must be doubled for GTK.
std::string mnemonic_label(const std::string& windows_text);

// Runs a nested main loop until *done is true (set by signal handlers of the widgets).
void run_until(const bool* done);

}  // namespace mvp::gtk_detail
