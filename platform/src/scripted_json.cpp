// The JSON side of the scripted user: validating script entries, dialog actions, and the records
// the log writes for menus and dialogs.
#include <algorithm>
#include <cstdio>

#include "mvp/message_box.h"
#include "mvp/scripted_user.h"

namespace mvp {

using nlohmann::json;

namespace {

const char* const kKinds[] = {"message_box", "menu", "open_file", "save_file", "color", "dialog"};

bool fail(std::string* error, const std::string& what) {
    if (error) *error = what;
    return false;
}

bool valid_color(const json& v) {
    if (v.is_null()) return true;
    if (v.is_number_integer()) return v.get<int64_t>() >= 0 && v.get<int64_t>() <= 0xFFFFFF;
    if (v.is_string()) {
        const std::string s = v.get<std::string>();
        unsigned r, g, b;
        char end;
        return s.size() == 7 && std::sscanf(s.c_str(), "#%2x%2x%2x%c", &r, &g, &b, &end) == 3;
    }
    return false;
}

bool check_entry(const json& e, std::string* error) {
    if (!e.is_object()) return fail(error, "script entry is not an object: " + e.dump());
    const char* kind = nullptr;
    for (const char* k : kKinds)
        if (e.contains(k)) {
            if (kind) return fail(error, "script entry names two requests: " + e.dump());
            kind = k;
        }
    if (!kind) return fail(error, "script entry names no request: " + e.dump());
    const json& v = e.at(kind);
    const std::string k = kind;
    if (k == "message_box") {
        if (v.is_number_integer() ? button_name(v.get<int>()) == nullptr
                                  : !(v.is_string() && button_id(v.get<std::string>()) != 0))
            return fail(error, "unknown message box button: " + v.dump());
    } else if (k == "menu") {
        const bool ok = v.is_null() || (v.is_number_integer() && v.get<int64_t>() >= 0) ||
                        (v.is_array() && !v.empty() && std::all_of(v.begin(), v.end(), [](const json& s) { return s.is_string(); }));
        if (!ok) return fail(error, "menu answer must be a command id or a list of item texts: " + v.dump());
    } else if (k == "open_file" || k == "save_file") {
        if (!v.is_null() && !v.is_string()) return fail(error, "file answer must be a path or null: " + v.dump());
        if (e.contains("filter") && !e.at("filter").is_number_integer())
            return fail(error, "filter must be a 1-based index: " + e.dump());
    } else if (k == "color") {
        if (!valid_color(v)) return fail(error, "colour must be 0..0xFFFFFF, \"#RRGGBB\" or null: " + v.dump());
        if (e.contains("custom")) {
            const json& c = e.at("custom");
            if (!c.is_array() || c.size() != 16 || !std::all_of(c.begin(), c.end(), [](const json& x) { return valid_color(x) && !x.is_null(); }))
                return fail(error, "custom colours must be 16 colours: " + c.dump());
        }
    } else if (k == "dialog") {
        if (!v.is_array()) return fail(error, "dialog answer must be a list of actions: " + v.dump());
        for (const json& a : v) {
            DialogAction action;
            if (!ScriptedUser::action_from_json(a, &action, error)) return false;
        }
    }
    for (const char* key : {"caption", "text", "title"})
        if (e.contains(key) && !e.at(key).is_string()) return fail(error, std::string(key) + " must be a text: " + e.dump());
    if (e.contains("template") && !e.at("template").is_number_integer())
        return fail(error, "template must be a resource id: " + e.dump());
    return true;
}

}  // namespace

COLORREF color_from_json(const json& v) {
    if (v.is_string()) {
        unsigned r = 0, g = 0, b = 0;
        std::sscanf(v.get<std::string>().c_str(), "#%2x%2x%2x", &r, &g, &b);
        return RGB(static_cast<BYTE>(r), static_cast<BYTE>(g), static_cast<BYTE>(b));
    }
    return static_cast<COLORREF>(v.get<int64_t>());
}

bool ScriptedUser::load(const json& script, std::string* error) {
    const json entries = script.is_array() ? script : json::array({script});
    for (const json& e : entries)
        if (!check_entry(e, error)) return false;
    for (const json& e : entries) push(e);
    return true;
}

bool ScriptedUser::action_from_json(const json& j, DialogAction* a, std::string* error) {
    using Kind = DialogAction::Kind;
    if (!j.is_object()) return fail(error, "dialog action is not an object: " + j.dump());
    const bool has_id = j.contains("id") && j.at("id").is_number_integer();
    if (j.contains("text")) {
        if (!has_id || !j.at("text").is_string()) return fail(error, "text action needs an id and a text: " + j.dump());
        *a = DialogAction{Kind::SetText, j.at("id").get<int>(), j.at("text").get<std::string>(), 0};
    } else if (j.contains("check")) {
        if (!has_id || !j.at("check").is_boolean()) return fail(error, "check action needs an id and true/false: " + j.dump());
        *a = DialogAction{Kind::SetCheck, j.at("id").get<int>(), {}, j.at("check").get<bool>() ? 1 : 0};
    } else if (j.contains("position")) {
        if (!has_id || !j.at("position").is_number_integer()) return fail(error, "position action needs an id and a number: " + j.dump());
        *a = DialogAction{Kind::SetPosition, j.at("id").get<int>(), {}, j.at("position").get<int>()};
    } else if (j.contains("press")) {
        if (!j.at("press").is_number_integer()) return fail(error, "press action needs a control id: " + j.dump());
        *a = DialogAction{Kind::Press, j.at("press").get<int>(), {}, 0};
    } else if (j.contains("enter")) {
        *a = DialogAction{Kind::Enter, 0, {}, 0};
    } else if (j.contains("close")) {
        *a = DialogAction{Kind::Close, 0, {}, 0};
    } else {
        return fail(error, "unknown dialog action: " + j.dump());
    }
    return true;
}

json ScriptedUser::to_json(const DialogAction& a) {
    using Kind = DialogAction::Kind;
    switch (a.kind) {
    case Kind::SetText: return {{"id", a.id}, {"text", a.text}};
    case Kind::SetCheck: return {{"id", a.id}, {"check", a.value != 0}};
    case Kind::SetPosition: return {{"id", a.id}, {"position", a.value}};
    case Kind::Press: return {{"press", a.id}};
    case Kind::Enter: return {{"enter", true}};
    case Kind::Close: return {{"close", true}};
    }
    return json::object();
}

json to_json(const MenuItem& item) {
    json j;
    if (item.separator()) {
        j["separator"] = true;
    } else {
        j["text"] = item.text;
        if (item.popup()) {
            json items = json::array();
            for (const MenuItem& s : item.submenu) items.push_back(to_json(s));
            j["items"] = std::move(items);
        } else {
            j["id"] = item.id;
        }
        if (item.checked()) j["checked"] = true;
        if (item.grayed()) j["grayed"] = true;
    }
    if (*item.column_break()) j["break"] = item.column_break();
    return j;
}

json to_json(const DialogState& d) {
    json controls = json::array();
    for (const DialogControlState& c : d.controls) {
        json j = {{"id", c.control.id},
                  {"kind", control_kind_name(c.control.kind)},
                  {"text", c.text},
                  {"rect", {c.control.x, c.control.y, c.control.width, c.control.height}}};
        if (c.control.style) j["style"] = c.control.style;
        if (c.control.kind == ControlKind::CheckBox) j["checked"] = c.checked;
        if (c.control.kind == ControlKind::Trackbar) {
            j["position"] = c.position;
            j["range"] = {c.range_min, c.range_max};
        }
        if (!c.enabled) j["enabled"] = false;
        if (!c.visible) j["hidden"] = true;
        controls.push_back(std::move(j));
    }
    return {{"dialog", d.dialog}, {"owner", d.owner},           {"template", d.template_id},
            {"caption", d.caption}, {"size", {d.width, d.height}}, {"controls", std::move(controls)}};
}

}  // namespace mvp
