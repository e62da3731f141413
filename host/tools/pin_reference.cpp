// pin_reference: the pin tables of docs/pins.md, one per module, made from what each plug-in and
// built-in declares (names, directions, defaults, ranges, choices) and the host's table of what
// the pins mean. A pin the table does not explain is an error, so a new pin cannot go undocumented.
//
//   pin_reference                  prints the tables
//   pin_reference --check FILE     exit 0 when FILE holds them between the markers, else 1
//   pin_reference --write FILE     replaces what is between the markers in FILE
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "mvhost/host.h"
#include "mvhost/pin_reference.h"
#include "mvhost/render.h"
#include "generated_section.h"

namespace fs = std::filesystem;

namespace {

std::string cell(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '|') out += "\\|";
        else if (c == '\n') out += ' ';
        else out += c;
    }
    return out.empty() ? " " : out;
}

// Long choice lists (tallisk's 64 waveforms) shown by their ends.
std::string choices_cell(const std::string& labels) {
    std::vector<std::string> items;
    std::stringstream ss(labels);
    std::string item;
    while (std::getline(ss, item, ',')) items.push_back(item[0] == ' ' ? item.substr(1) : item);
    if (items.size() <= 8) return labels;
    return items.front() + ", " + items[1] + ", …, " + items.back() + " (" + std::to_string(items.size()) + " choices)";
}

const char* direction_word(const mvh::PinInfo& p) {
    return p.direction == DR_OUT ? "out" : p.direction == DR_PARAMETER ? "parameter" : "in";
}

struct Module {
    std::string file, kind;
};

bool tables(std::string* out, std::string* problems) {
    std::vector<Module> modules;
    for (const std::string& dir : mvh::default_plugin_dirs()) {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir, ec))
            if (e.path().extension() == ".so") names.push_back(e.path().string());
        std::sort(names.begin(), names.end());
        for (const std::string& n : names) modules.push_back({n, fs::path(dir).filename() == "builtin" ? "built-in" : "plug-in"});
    }
    if (modules.empty()) {
        *problems += "no modules found beside the program\n";
        return false;
    }
    std::ostringstream o;
    for (const Module& m : modules) {
        std::string error;
        auto plugin = mvh::Plugin::load(m.file, &error);
        if (!plugin) {
            *problems += error + "\n";
            continue;
        }
        mvh::Host host;
        mvh::InstanceOptions options;
        options.with_gui = false;
        mvh::Instance* inst = host.add(plugin, "reference", options);
        const std::string name = fs::path(m.file).stem().string();
        o << "\n### " << name << "\n\n";
        o << m.kind << " `" << name << "`, display name " << plugin->name() << ".\n\n";
        o << "| pin | | unit | default | range or choices | what it does |\n| --- | --- | --- | --- | --- | --- |\n";
        for (const mvh::PinInfo& p : inst->pins()) {
            const mvh::PinReading r = mvh::read_pin(plugin->name(), p, inst->pins());
            if (r.meaning.empty()) *problems += name + ": pin \"" + p.name + "\" has no meaning in host/src/pin_meanings.cpp\n";
            o << "| " << cell(p.name) << " | " << direction_word(p) << " | " << cell(r.unit) << " | " << cell(r.default_value)
              << " | " << cell(p.datatype == DT_ENUM ? choices_cell(r.range) : r.range) << " | " << cell(r.meaning) << " |\n";
        }
    }
    *out = o.str();
    return problems->empty();
}

}  // namespace

int main(int argc, char** argv) {
    return mvtools::generated_section_main(
        argc, argv,
        {"pin_reference", "Prints the pin tables of every module found beside it.", "", [](std::string* text) {
             std::string problems;
             if (tables(text, &problems)) return true;
             std::cerr << problems;
             return false;
         }});
}
