// The person at the screen of `mvhost play`: the patch's script answers what it scripts, and with
// the platform's GTK backend every other request goes to real menus, dialogs and choosers.
#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "mvp/scripted_user.h"
#ifdef MV_HAVE_PLATFORM_GTK
#include "mvp/gtk_user.h"
#endif

namespace mvh {

class PlayUser {
public:
    // On the GTK thread, after gtk_init. `script` is the patch's scripted user (installed).
    explicit PlayUser(mvp::ScriptedUser* script) : m_script(script) {
#ifdef MV_HAVE_PLATFORM_GTK
        m_gtk = std::make_unique<mvp::GtkUser>();
        if (m_script) m_script->set_fallback(m_gtk.get());
#endif
    }
    ~PlayUser() {
#ifdef MV_HAVE_PLATFORM_GTK
        if (m_script) m_script->set_fallback(nullptr);
#endif
    }
    PlayUser(const PlayUser&) = delete;
    PlayUser& operator=(const PlayUser&) = delete;

    // Dialogs stay above the play window.
    void set_parent(GtkWidget* window) {
#ifdef MV_HAVE_PLATFORM_GTK
        m_gtk->set_parent(window ? GTK_WINDOW(window) : nullptr);
#else
        (void)window;
#endif
    }

private:
    mvp::ScriptedUser* m_script;
#ifdef MV_HAVE_PLATFORM_GTK
    std::unique_ptr<mvp::GtkUser> m_gtk;
#endif
};

}  // namespace mvh
