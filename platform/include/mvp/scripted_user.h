// A headless user that answers every request from a script and logs each request in full, so a
// test (or a patch file) states what a person chooses and asserts what they would have seen.
//
// The script is a queue. A request takes the front entry when its kind matches (and, where the
// entry names them, its caption, text, title or template); otherwise the request gets the
// default answer, the entry stays, and the mismatch is recorded in problems(). An empty queue
// gives the default answers: message boxes their default button, choosers cancel, menus are
// dismissed, dialogs are closed. Script entries as JSON (one object each):
//
//   {"message_box": "Yes"}                  button name or id; optional "caption", "text"
//   {"menu": 5}  {"menu": ["File", "Load bank"]}  {"menu": 0}   command id, text path, dismiss
//   {"open_file": "/tmp/a.wb1"}  {"save_file": "b.wb1"}  {"open_file": null}   null cancels;
//                                           optional "title", "filter" (1-based index)
//   {"color": 16711680}  {"color": "#0000FF"}  {"color": null}   COLORREF or #RRGGBB; optional
//                                           "custom": [16 colours]
//   {"dialog": [actions...]}                optional "template": 104, "caption"
//     actions: {"id": 1000, "text": "abc"}  {"id": 1044, "check": true}  {"id": 1007, "position": 30}
//              {"press": 1}  {"enter": true}  {"close": true}
//
// Requests made while a dialog runs (a message box from its Help button) take the entries after
// the dialog's own entry. When a dialog's actions run out it is closed.
//
// With a fallback user set (set_fallback), a request that the front entry does not fit goes to
// the fallback instead of getting the default answer, and is not counted as a problem: a live
// host puts the real screen behind a patch's script, so the script answers what it scripts and a
// person answers the rest. Dialogs the script does not run are driven by the fallback to their
// end; cursor changes reach the fallback too. Every request is logged either way ("scripted"
// false, "fallback" true for those the fallback answered).
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "mvp/user.h"

namespace mvp {

class ScriptedUser : public User {
public:
    ScriptedUser() = default;

    // Appends entries (an array, or one object). On a malformed entry returns false, sets *error
    // to one line naming it, and appends nothing.
    bool load(const nlohmann::json& script, std::string* error = nullptr);
    static bool from_json(const nlohmann::json& script, ScriptedUser* user, std::string* error = nullptr) {
        return user->load(script, error);
    }

    // Builders for tests, each appending one entry.
    ScriptedUser& answer_message_box(int button);
    ScriptedUser& choose_menu(UINT command);
    ScriptedUser& choose_menu(const std::vector<std::string>& path);
    ScriptedUser& dismiss_menu() { return choose_menu(0u); }
    ScriptedUser& choose_file(const std::string& path);
    ScriptedUser& cancel_file();
    ScriptedUser& choose_color(COLORREF color);
    ScriptedUser& cancel_color();
    ScriptedUser& run_dialog(const std::vector<DialogAction>& actions);

    // Every request and dialog step so far, oldest first.
    std::vector<nlohmann::json> log() const;
    nlohmann::json log_json() const;  // the log as one array
    // Log entries of one kind ("message_box", "menu", "open_file", "save_file", "choose_color",
    // "dialog", "dialog_action", "cursor").
    std::vector<nlohmann::json> log_of(const std::string& kind) const;
    void clear_log();
    // Script entries that did not fit the request they met, and actions a person could not do.
    std::vector<std::string> problems() const;
    size_t pending() const;  // script entries not yet used

    // Called with one line as each problem is recorded ("user script: " and the problem), and as
    // each message box that neither the script nor a fallback answers takes its default
    // ("unanswered message box: CAPTION: TEXT (default answer: OK)"), so that a host can show them
    // as they happen. Called under this user's lock: it must not call back into it.
    void set_reporter(std::function<void(const std::string& line)> report) {
        std::lock_guard lock(m_mutex);
        m_reporter = std::move(report);
    }

    // The user answering what the script does not (null: the default answers). Not owned; set
    // it before requests arrive and keep it alive while installed.
    void set_fallback(User* user) { m_fallback = user; }
    User* fallback() const { return m_fallback; }

    int message_box(const MessageBoxRequest& request) override;
    UINT track_menu(const MenuRequest& request) override;
    std::optional<std::string> choose_file(const FileRequest& request) override;
    std::optional<ColorAnswer> choose_color(const ColorRequest& request) override;
    void dialog_shown(const DialogState& dialog) override;
    DialogAction dialog_action(const DialogState& dialog) override;
    void dialog_closed(const DialogState& dialog, INT_PTR result) override;
    void cursor_changed(HCURSOR cursor, HINSTANCE instance, int resource_id) override;

    static nlohmann::json to_json(const DialogAction& action);
    static bool action_from_json(const nlohmann::json& j, DialogAction* action, std::string* error);

private:
    // The front entry if it has key `kind` and fits `fields` (entry key -> request value);
    // records a problem otherwise.
    // With a fallback set, a mismatch is not a problem (the fallback answers instead).
    const nlohmann::json* front_for(const char* kind, const std::map<std::string, std::string>& fields);
    void pop();
    void push(nlohmann::json entry);
    void problem(std::string line);  // with the lock held

    mutable std::mutex m_mutex;
    std::deque<nlohmann::json> m_script;
    std::vector<nlohmann::json> m_log;
    std::vector<std::string> m_problems;
    std::map<HWND, std::deque<DialogAction>> m_dialogs;
    User* m_fallback = nullptr;
    std::function<void(const std::string&)> m_reporter;
    std::map<HWND, bool> m_fallback_dialogs;  // dialogs the fallback runs
};

// The request records as the log writes them (also handy for hosts that print requests).
nlohmann::json to_json(const MenuItem& item);
nlohmann::json to_json(const DialogState& dialog);

}  // namespace mvp
