// The person at the screen of `mvhost play`: the patch's script answers what it scripts, and with
// the platform's GTK backend every other request goes to real menus, dialogs and choosers.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

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

    // Where a chooser starts when its module names no folder (mvp::GtkUser).
    void set_start_folder(std::function<std::string(const mvp::FileRequest&)> hook) {
#ifdef MV_HAVE_PLATFORM_GTK
        m_gtk->set_start_folder_hook(std::move(hook));
#else
        (void)hook;
#endif
    }

    // Whether a menu, box, dialog or chooser waits for the person.
    bool busy() const {
#ifdef MV_HAVE_PLATFORM_GTK
        return m_gtk->busy();
#else
        return false;
#endif
    }
    // Ends what is on screen as a person giving up would (the session ends without them).
    void dismiss_all() {
#ifdef MV_HAVE_PLATFORM_GTK
        m_gtk->dismiss_all();
#endif
    }
    // Nobody is at the screen any more: what the script does not answer takes the default answers,
    // as in a render, and each such question is reported as a render reports it.
    void unattended(std::function<void(const std::string&)> report) {
        if (!m_script) return;
        m_script->set_fallback(nullptr);
        m_script->set_reporter(std::move(report));
    }

private:
    mvp::ScriptedUser* m_script;
#ifdef MV_HAVE_PLATFORM_GTK
    std::unique_ptr<mvp::GtkUser> m_gtk;
#endif
};

}  // namespace mvh
