// The scripted user's answers: matching requests to script entries and logging every request.
#include "mvp/scripted_user.h"

#include <algorithm>

#include "mvp/message_box.h"

namespace mvp {

using nlohmann::json;

COLORREF color_from_json(const json& v);

namespace {

json colors(const std::array<COLORREF, 16>& c) { return json(std::vector<COLORREF>(c.begin(), c.end())); }

}  // namespace

void ScriptedUser::push(json entry) {
    std::lock_guard lock(m_mutex);
    m_script.push_back(std::move(entry));
}

void ScriptedUser::pop() { m_script.pop_front(); }

void ScriptedUser::problem(std::string line) {
    if (m_reporter) m_reporter("user script: " + line);
    m_problems.push_back(std::move(line));
}

const json* ScriptedUser::front_for(const char* kind, const std::map<std::string, std::string>& fields) {
    if (m_script.empty()) return nullptr;
    const json& e = m_script.front();
    if (!e.contains(kind)) {
        if (!m_fallback)
            problem(std::string("a ") + kind + " request met the script entry " + e.dump());
        return nullptr;
    }
    for (const auto& [key, value] : fields)
        if (e.contains(key) && e.at(key).is_string() && e.at(key).get<std::string>() != value) {
            if (!m_fallback)
                problem(std::string("a ") + kind + " request with " + key + " \"" + value +
                                 "\" met the script entry " + e.dump());
            return nullptr;
        }
    return &e;
}

ScriptedUser& ScriptedUser::answer_message_box(int button) {
    push({{"message_box", button}});
    return *this;
}
ScriptedUser& ScriptedUser::choose_menu(UINT command) {
    push({{"menu", command}});
    return *this;
}
ScriptedUser& ScriptedUser::choose_menu(const std::vector<std::string>& path) {
    push({{"menu", path}});
    return *this;
}
ScriptedUser& ScriptedUser::choose_file(const std::string& path) {
    push({{"open_file", path}, {"any_file", true}});
    return *this;
}
ScriptedUser& ScriptedUser::cancel_file() {
    push({{"open_file", nullptr}, {"any_file", true}});
    return *this;
}
ScriptedUser& ScriptedUser::choose_color(COLORREF color) {
    push({{"color", color & 0xFFFFFF}});
    return *this;
}
ScriptedUser& ScriptedUser::cancel_color() {
    push({{"color", nullptr}});
    return *this;
}
ScriptedUser& ScriptedUser::run_dialog(const std::vector<DialogAction>& actions) {
    json list = json::array();
    for (const DialogAction& a : actions) list.push_back(to_json(a));
    push({{"dialog", list}});
    return *this;
}

int ScriptedUser::message_box(const MessageBoxRequest& r) {
    std::unique_lock lock(m_mutex);
    json buttons = json::array();
    for (int b : r.buttons()) buttons.push_back(button_name(b));
    json entry = {{"kind", "message_box"}, {"owner", r.owner},   {"caption", r.caption},
                  {"text", r.text},        {"buttons", buttons}, {"icon", r.icon()},
                  {"default", button_name(r.default_button())}, {"flags", r.type}};
    int answer = r.default_button();
    bool scripted = false;
    if (const json* e = front_for("message_box", {{"caption", r.caption}, {"text", r.text}})) {
        const json& v = e->at("message_box");
        const int wanted = v.is_string() ? button_id(v.get<std::string>()) : v.get<int>();
        const auto b = r.buttons();
        if (std::find(b.begin(), b.end(), wanted) != b.end()) {
            answer = wanted;
            scripted = true;
        } else {
            const char* name = button_name(wanted);
            entry["refused"] = std::string("the box has no ") + (name ? name : std::to_string(wanted).c_str()) + " button";
            problem("message box \"" + r.caption + "\": " + entry["refused"].get<std::string>());
        }
        pop();
    } else if (User* person = m_fallback) {
        lock.unlock();
        answer = person->message_box(r);
        lock.lock();
        const auto b = r.buttons();
        if (std::find(b.begin(), b.end(), answer) == b.end()) answer = r.default_button();
        entry["fallback"] = true;
    }
    if (!scripted && !entry.contains("fallback") && m_reporter) {
        // One line: the text's own line breaks become spaces.
        std::string text = r.text;
        std::replace(text.begin(), text.end(), '\n', ' ');
        const char* name = button_name(answer);
        m_reporter("unanswered message box: " + r.caption + ": " + text + " (default answer: " +
                   (name ? name : std::to_string(answer)) + ")");
    }
    entry["answer"] = button_name(answer);
    entry["scripted"] = scripted;
    m_log.push_back(std::move(entry));
    return answer;
}

UINT ScriptedUser::track_menu(const MenuRequest& r) {
    std::unique_lock lock(m_mutex);
    json items = json::array();
    for (const MenuItem& item : r.items) items.push_back(mvp::to_json(item));
    json entry = {{"kind", "menu"}, {"owner", r.owner}, {"at", {r.at.x, r.at.y}}, {"flags", r.flags}, {"items", items}};
    UINT answer = 0;
    bool scripted = false;
    if (const json* e = front_for("menu", {})) {
        const json& v = e->at("menu");
        std::string why;
        if (v.is_array()) {
            answer = r.resolve_path(v.get<std::vector<std::string>>(), &why);
        } else if (v.is_number_integer() && v.get<UINT>() != 0) {
            answer = v.get<UINT>();
            if (!r.find_command(answer))
                why = "no command " + std::to_string(answer);
            else if (!r.choosable(answer))
                why = "command " + std::to_string(answer) + " is grayed";
            if (!why.empty()) answer = 0;
        }
        if (!why.empty()) {
            entry["refused"] = why;
            problem("menu: " + why);
        }
        scripted = true;
        pop();
    } else if (User* person = m_fallback) {
        lock.unlock();
        answer = person->track_menu(r);
        lock.lock();
        if (!r.choosable(answer)) answer = 0;
        entry["fallback"] = true;
    }
    entry["answer"] = answer;
    if (const MenuItem* item = r.find_command(answer)) entry["answer_text"] = item->text;
    entry["scripted"] = scripted;
    m_log.push_back(std::move(entry));
    return answer;
}

std::optional<std::string> ScriptedUser::choose_file(const FileRequest& r) {
    std::unique_lock lock(m_mutex);
    const char* kind = r.save ? "save_file" : "open_file";
    json filters = json::array();
    for (const FileFilter& f : r.filters) filters.push_back({f.description, f.pattern});
    json entry = {{"kind", kind},
                  {"owner", r.owner},
                  {"title", r.title},
                  {"filters", filters},
                  {"filter_index", r.filter_index},
                  {"initial_dir", r.initial_dir},
                  {"initial_file", r.initial_file},
                  {"default_ext", r.default_ext},
                  {"buffer_size", r.buffer_size},
                  {"flags", r.flags}};
    std::optional<std::string> answer;
    bool scripted = false;
    // Builder entries fit either kind of file dialog.
    const bool any = !m_script.empty() && m_script.front().contains("any_file");
    if (const json* e = front_for(any ? "open_file" : kind, {{"title", r.title}})) {
        const json& v = e->at(any ? "open_file" : kind);
        if (!v.is_null()) {
            const std::string path = r.resolve(v.get<std::string>());
            const std::string why = r.refusal(path);
            if (why.empty()) {
                answer = path;
            } else {
                entry["refused"] = why;
                problem(std::string(kind) + " " + path + ": " + why);
                answer = path;  // the platform refuses it too and reports the failure
            }
        }
        scripted = true;
        pop();
    } else if (User* person = m_fallback) {
        lock.unlock();
        answer = person->choose_file(r);
        lock.lock();
        entry["fallback"] = true;
    }
    entry["answer"] = answer ? json(*answer) : json(nullptr);
    entry["scripted"] = scripted;
    m_log.push_back(std::move(entry));
    return answer;
}

std::optional<ColorAnswer> ScriptedUser::choose_color(const ColorRequest& r) {
    std::unique_lock lock(m_mutex);
    json entry = {{"kind", "choose_color"}, {"owner", r.owner},          {"initial", r.initial},
                  {"flags", r.flags},       {"custom", colors(r.custom)}};
    std::optional<ColorAnswer> answer;
    bool scripted = false;
    if (const json* e = front_for("color", {})) {
        const json& v = e->at("color");
        if (!v.is_null()) {
            ColorAnswer a;
            a.color = color_from_json(v);
            if (e->contains("custom")) {
                std::array<COLORREF, 16> custom{};
                for (size_t i = 0; i < 16; ++i) custom[i] = color_from_json(e->at("custom")[i]);
                a.custom = custom;
            }
            answer = a;
        }
        scripted = true;
        pop();
    } else if (User* person = m_fallback) {
        lock.unlock();
        answer = person->choose_color(r);
        lock.lock();
        entry["fallback"] = true;
    }
    entry["answer"] = answer ? json(answer->color) : json(nullptr);
    if (answer && answer->custom) entry["answer_custom"] = colors(*answer->custom);
    entry["scripted"] = scripted;
    m_log.push_back(std::move(entry));
    return answer;
}

void ScriptedUser::dialog_shown(const DialogState& d) {
    std::unique_lock lock(m_mutex);
    json entry = mvp::to_json(d);
    entry["kind"] = "dialog";
    entry["event"] = "shown";
    std::deque<DialogAction> actions;
    bool scripted = false;
    if (!m_script.empty() && m_script.front().contains("template") && m_script.front().contains("dialog") &&
        m_script.front().at("template").get<int>() != d.template_id) {
        if (!m_fallback)
            problem("dialog " + std::to_string(d.template_id) + " met the script entry " + m_script.front().dump());
    } else if (const json* e = front_for("dialog", {{"caption", d.caption}})) {
        for (const json& a : e->at("dialog")) {
            DialogAction action;
            if (action_from_json(a, &action, nullptr)) actions.push_back(action);
        }
        scripted = true;
        pop();
    }
    entry["scripted"] = scripted;
    User* person = scripted ? nullptr : m_fallback;
    if (person) {
        entry["fallback"] = true;
        m_fallback_dialogs[d.dialog] = true;
    } else {
        m_dialogs[d.dialog] = std::move(actions);
    }
    m_log.push_back(std::move(entry));
    if (person) {
        lock.unlock();
        person->dialog_shown(d);
    }
}

DialogAction ScriptedUser::dialog_action(const DialogState& d) {
    std::unique_lock lock(m_mutex);
    DialogAction action;  // close once the script has nothing more for this dialog
    auto it = m_dialogs.find(d.dialog);
    if (m_fallback_dialogs.count(d.dialog) && m_fallback) {
        User* person = m_fallback;
        lock.unlock();
        action = person->dialog_action(d);
        lock.lock();
    } else if (it != m_dialogs.end() && !it->second.empty()) {
        action = it->second.front();
        it->second.pop_front();
    }
    json entry = {{"kind", "dialog_action"}, {"dialog", d.dialog}, {"action", to_json(action)}};
    const std::string why = action.refusal(d);
    if (!why.empty()) {
        entry["refused"] = why;
        problem("dialog " + std::to_string(d.template_id) + ": " + why);
    }
    m_log.push_back(std::move(entry));
    return action;
}

void ScriptedUser::dialog_closed(const DialogState& d, INT_PTR result) {
    std::unique_lock lock(m_mutex);
    json entry = mvp::to_json(d);
    entry["kind"] = "dialog";
    entry["event"] = "closed";
    entry["result"] = result;
    auto it = m_dialogs.find(d.dialog);
    if (it != m_dialogs.end()) {
        for (const DialogAction& left : it->second)
            problem("dialog " + std::to_string(d.template_id) + " closed before " + to_json(left).dump());
        m_dialogs.erase(it);
    }
    m_log.push_back(std::move(entry));
    User* person = m_fallback_dialogs.erase(d.dialog) ? m_fallback : nullptr;
    if (person) {
        lock.unlock();
        person->dialog_closed(d, result);
    }
}

void ScriptedUser::cursor_changed(HCURSOR cursor, HINSTANCE instance, int resource_id) {
    User* person = nullptr;
    {
        std::lock_guard lock(m_mutex);
        m_log.push_back({{"kind", "cursor"}, {"cursor", cursor}, {"instance", instance}, {"resource", resource_id}});
        person = m_fallback;
    }
    if (person) person->cursor_changed(cursor, instance, resource_id);
}

std::vector<json> ScriptedUser::log() const {
    std::lock_guard lock(m_mutex);
    return m_log;
}

json ScriptedUser::log_json() const {
    std::lock_guard lock(m_mutex);
    return json(m_log);
}

std::vector<json> ScriptedUser::log_of(const std::string& kind) const {
    std::lock_guard lock(m_mutex);
    std::vector<json> out;
    for (const json& e : m_log)
        if (e.at("kind") == kind) out.push_back(e);
    return out;
}

void ScriptedUser::clear_log() {
    std::lock_guard lock(m_mutex);
    m_log.clear();
    m_problems.clear();
}

std::vector<std::string> ScriptedUser::problems() const {
    std::lock_guard lock(m_mutex);
    return m_problems;
}

size_t ScriptedUser::pending() const {
    std::lock_guard lock(m_mutex);
    return m_script.size();
}

}  // namespace mvp
