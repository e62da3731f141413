// Small helpers shared by the GTK user's parts. Internal to mv_platform_gtk.
#pragma once

#include <gtk/gtk.h>

#include <string>

namespace mvp::gtk_detail {

// A Windows label ("&Open", "Fish && chips", "Cut\tCtrl+X") as a GTK mnemonic label ("_Open",
// "Fish & chips", "Cut    Ctrl+X"): '&' marks the mnemonic, '&&' is a literal '&', and a literal
// '_' must be doubled for GTK.
std::string mnemonic_label(const std::string& windows_text);

// Runs a nested main loop until *done is true (set by signal handlers of the widgets).
void run_until(const bool* done);

}  // namespace mvp::gtk_detail
