// ui_tables: the tables of docs/patch-format.md that a patch's "user" section needs (the
// wavetable editor's command menu, what each entry asks, its dialogs with their control ids, and
// the colour picker's chooser), made by driving the modules through the host as a person would
// and reading what the scripted user was asked. The tables therefore follow the modules' own
// definitions.
//
//   ui_tables                  prints the tables
//   ui_tables --check FILE     exit 0 when FILE holds them between the markers, else 1
//   ui_tables --write FILE     replaces what is between the markers in FILE
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mvhost/patch.h"
#include "mvhost/render.h"
#include "generated_section.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

// Runs a one-instance patch with the given events and script and returns the scripted user's log.
json run_patch(const json& instance, const json& events, const json& user) {
    json doc = {{"sample_rate", 44100}, {"block_size", 64}, {"duration", 0.01},
                {"instances", json::array({instance})}, {"events", events}, {"user", user}};
    mvh::PatchRun run(doc, "ui_tables", fs::current_path().string(), mvh::default_plugin_dirs());
    run.run_until(run.total_samples());
    return run.user_log();
}

json click(double time) { return {{"time", time}, {"pointer", "osc"}, {"action", "down"}, {"x", 10}, {"y", 10}}; }

std::string cell(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '|') out += "\\|";
        else if (c == '\n') out += ' ';
        else out += c;
    }
    return out;
}

std::string quoted_path(const std::vector<std::string>& path) {
    std::string out = "[";
    for (size_t i = 0; i < path.size(); ++i) out += (i ? ", \"" : "\"") + path[i] + "\"";
    return out + "]";
}

struct Entry {
    std::vector<std::string> path;
    int id;
    std::string state;
};

// The menu tree as rows: every entry by its path. A submenu of many entries that only differ by
// their names (one per waveform) is shown as its first and last entry.
void flatten(const json& items, std::vector<std::string> path, std::vector<Entry>* out, std::ostream& rows) {
    for (size_t i = 0; i < items.size(); ++i) {
        const json& it = items[i];
        if (it.value("separator", false)) continue;
        std::vector<std::string> p = path;
        p.push_back(it.value("text", ""));
        std::string state;
        if (it.value("checked", false)) state += "checked ";
        if (it.value("grayed", false)) state += "grayed ";
        if (it.contains("break")) state += "starts a " + it["break"].get<std::string>() + " ";
        if (it.contains("items")) {
            rows << "| `" << cell(quoted_path(p)) << "` | submenu | |\n";
            const json& sub = it["items"];
            if (sub.size() > 16) {
                const json& a = sub.front();
                const json& b = sub.back();
                std::vector<std::string> pa = p, pb = p;
                pa.push_back(a.value("text", ""));
                pb.push_back(b.value("text", ""));
                rows << "| `" << cell(quoted_path(pa)) << "` … `" << cell(quoted_path(pb)) << "` | " << a.value("id", 0)
                     << " … " << b.value("id", 0) << " | one entry per waveform, named after it; the current one checked; a new column every 16 |\n";
                out->push_back({pa, a.value("id", 0), ""});
                continue;
            }
            flatten(sub, p, out, rows);
            continue;
        }
        rows << "| `" << cell(quoted_path(p)) << "` | " << it.value("id", 0) << " | " << state << "|\n";
        out->push_back({p, it.value("id", 0), state});
    }
}

std::string describe_request(const json& e, std::map<int, json>* dialogs) {
    const std::string kind = e.value("kind", "");
    if (kind == "dialog" && e.value("event", "") == "shown") {
        (*dialogs)[e.value("template", 0)] = e;
        return "dialog template " + std::to_string(e.value("template", 0)) + " \"" + e.value("caption", "") + "\"";
    }
    if (kind == "open_file" || kind == "save_file") {
        std::string filters;
        for (const auto& f : e.value("filters", json::array()))
            filters += (filters.empty() ? "" : ", ") + (f.is_array() && !f.empty() ? f[0].get<std::string>() : f.dump());
        return "`" + kind + "` \"" + e.value("title", "") + "\"" + (filters.empty() ? "" : " (" + filters + ")");
    }
    if (kind == "message_box") return "`message_box` \"" + e.value("caption", "") + "\": " + e.value("text", "");
    if (kind == "choose_color") return "`color` (the colour chooser)";
    return "";
}

std::string tables() {
    std::ostringstream out;
    // The editor with a bank, so that the menu shows its "Reload" entry.
    const std::string bank = (fs::path(MV_SOURCE_DIR) / "examples" / "arp_bank.wbf").string();
    const json osc = {{"name", "osc"}, {"module", "tallisk"}, {"pins", {{"wbf_path", bank}}}};
    const json first = run_patch(osc, json::array({click(0.001)}), json::array());
    json menu;
    for (const json& e : first)
        if (e.value("kind", "") == "menu") menu = e;

    out << "#### tallisk: the command menu\n\n"
        << "A click anywhere on the editor's panel (a `pointer` event, `\"action\": \"down\"`) opens it. "
        << "With a bank loaded (`arp_bank.wbf` here):\n\n"
        << "| `\"menu\"` path | id | state |\n| --- | --- | --- |\n";
    std::vector<Entry> entries;
    std::ostringstream rows;
    flatten(menu.value("items", json::array()), {}, &entries, rows);
    out << rows.str() << "\n";

    out << "#### tallisk: what each entry asks\n\n"
        << "Each entry chosen once (after a \"Copy\", so that the paste entries are enabled), every request "
        << "answered by default (dialogs closed, choosers cancelled, message boxes their default button):\n\n"
        << "| entry | requests, in order |\n| --- | --- |\n";
    std::map<int, json> dialogs;
    for (const Entry& entry : entries) {
        if (entry.path.front() == "Waveform") continue;
        const json script = json::array({{{"menu", json::array({"Copy"})}}, {{"menu", entry.path}}});
        const json log = run_patch(osc, json::array({click(0.001), click(0.002)}), script);
        int menus = 0;
        std::string asked;
        for (const json& e : log) {
            if (e.value("kind", "") == "menu") {
                ++menus;
                continue;
            }
            if (menus < 2) continue;
            const std::string r = describe_request(e, &dialogs);
            if (!r.empty()) asked += (asked.empty() ? "" : "; ") + r;
        }
        out << "| `" << cell(quoted_path(entry.path)) << "` | " << cell(asked.empty() ? "nothing" : asked) << " |\n";
    }
    out << "\n";

    for (const auto& [id, d] : dialogs) {
        out << "#### tallisk: dialog template " << id << ", \"" << d.value("caption", "") << "\"\n\n"
            << "| control id | kind | text | x, y, width, height (dialog units) |\n| --- | --- | --- | --- |\n";
        for (const json& c : d.value("controls", json::array())) {
            if (c.value("hidden", false)) continue;
            const int cid = c.value("id", -1);
            std::string rect;
            for (const json& v : c.value("rect", json::array())) rect += (rect.empty() ? "" : ", ") + v.dump();
            out << "| " << (cid < 0 ? std::string("–") : std::to_string(cid)) << " | " << c.value("kind", "") << " | "
                << cell(c.value("text", "")) << " | " << rect << " |\n";
        }
        out << "\n";
    }

    // The colour picker asks when its "Open" pin goes back to false (the button is released).
    const json picker = {{"name", "osc"}, {"module", "color_picker"}};
    const json events = {{{"time", 0.001}, {"pin", "osc.Open"}, {"value", true}},
                         {{"time", 0.002}, {"pin", "osc.Open"}, {"value", false}}};
    const json log = run_patch(picker, events, json::array());
    out << "#### color_picker\n\nNo menu and no dialog. When \"Open\" goes from true back to false:\n\n"
        << "| request | initial colour | answer |\n| --- | --- | --- |\n";
    for (const json& e : log)
        if (e.value("kind", "") == "choose_color") {
            char initial[16];
            const int c = e.value("initial", 0);
            std::snprintf(initial, sizeof initial, "#%02X%02X%02X", c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
            out << "| `color` | " << initial << " (the colour it holds) | `{\"color\": \"#RRGGBB\"}` or `{\"color\": null}` to cancel |\n";
        }
    return out.str();
}

}  // namespace

int main(int argc, char** argv) {
    return mvtools::generated_section_main(
        argc, argv,
        {"ui_tables", "Prints the menu, dialog and chooser tables of docs/patch-format.md, made by driving the modules.",
         "\n\n", [](std::string* text) {
             try {
                 *text = tables();
                 return true;
             } catch (const std::exception& e) {
                 std::cerr << "ui_tables: " << e.what() << "\n";
                 return false;
             }
         }});
}
