// Console, JSON and JUnit forms of the same results.
#include "report.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

namespace mvh::validate {

namespace {

std::string base_name(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::string xml_escape(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            if (c < 0x20 && c != '\t') out += ' ';
            else out += static_cast<char>(c);
        }
    }
    return out;
}

// Bytes that are not valid UTF-8 (module texts may carry anything) become '?'.
std::string printable(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = s[i];
        out += (c < 0x80 && (c >= 0x20 || c == '\t')) ? static_cast<char>(c) : '?';
    }
    return out;
}

}  // namespace

void print_result(std::ostream& out, const CheckResult& r) {
    const char* tag = r.status == "pass" ? "PASS" : r.status == "skip" ? "SKIP" : "FAIL";
    out << "  " << tag << " " << r.check << " (" << static_cast<int>(r.ms) << " ms";
    if (r.status == "fail") out << ", seed " << r.seed;
    out << ")";
    for (const std::string& n : r.notes) out << "  " << printable(n);
    out << "\n";
    for (const std::string& f : r.failures) out << "       " << printable(f) << "\n";
}

int realtime_violations(const std::vector<CheckResult>& results) {
    int n = 0;
    for (const CheckResult& r : results)
        for (const std::string& f : r.failures)
            if (f.rfind("real-time:", 0) == 0) ++n;
    return n;
}

bool write_json(const std::string& file, const RunInfo& info, const std::vector<CheckResult>& results, std::string* error) {
    nlohmann::json doc;
    doc["seed"] = info.seed;
    doc["strictness"] = info.strictness;
    doc["repeat"] = info.repeat;
    doc["realtime_shim"] = info.realtime_shim;
    doc["realtime_violations"] = realtime_violations(results);
    bool passed = true;
    std::map<std::string, nlohmann::json> plugins;
    std::vector<std::string> order;
    for (const CheckResult& r : results) {
        if (!plugins.count(r.plugin)) {
            order.push_back(r.plugin);
            plugins[r.plugin] = {{"path", r.plugin}, {"checks", nlohmann::json::array()}};
        }
        nlohmann::json c = {{"name", r.check}, {"status", r.status}, {"seed", r.seed}, {"ms", r.ms}};
        c["failures"] = nlohmann::json::array();
        for (const auto& f : r.failures) c["failures"].push_back(printable(f));
        c["notes"] = nlohmann::json::array();
        for (const auto& n : r.notes) c["notes"].push_back(printable(n));
        plugins[r.plugin]["checks"].push_back(c);
        if (r.status == "fail") passed = false;
    }
    doc["passed"] = passed;
    doc["plugins"] = nlohmann::json::array();
    for (const auto& p : order) doc["plugins"].push_back(plugins[p]);
    std::ofstream out(file);
    if (!out) {
        *error = "cannot write " + file;
        return false;
    }
    out << doc.dump(2) << "\n";
    return static_cast<bool>(out);
}

bool write_junit(const std::string& file, const RunInfo& info, const std::vector<CheckResult>& results, std::string* error) {
    std::map<std::string, std::vector<const CheckResult*>> by_plugin;
    std::vector<std::string> order;
    for (const CheckResult& r : results) {
        if (!by_plugin.count(r.plugin)) order.push_back(r.plugin);
        by_plugin[r.plugin].push_back(&r);
    }
    std::ofstream out(file);
    if (!out) {
        *error = "cannot write " + file;
        return false;
    }
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"mvhost validate\">\n";
    for (const std::string& plugin : order) {
        const auto& list = by_plugin[plugin];
        int failures = 0, skipped = 0;
        double seconds = 0.0;
        for (const CheckResult* r : list) {
            failures += r->status == "fail";
            skipped += r->status == "skip";
            seconds += r->ms / 1000.0;
        }
        out << "  <testsuite name=\"" << xml_escape(base_name(plugin)) << "\" tests=\"" << list.size()
            << "\" failures=\"" << failures << "\" skipped=\"" << skipped << "\" time=\"" << seconds << "\">\n";
        out << "    <properties><property name=\"seed\" value=\"" << info.seed << "\"/><property name=\"strictness\" value=\""
            << info.strictness << "\"/></properties>\n";
        for (const CheckResult* r : list) {
            out << "    <testcase classname=\"validate." << xml_escape(base_name(plugin)) << "\" name=\""
                << xml_escape(r->check) << "\" time=\"" << r->ms / 1000.0 << "\">";
            if (r->status == "fail") {
                std::string body;
                for (const auto& f : r->failures) body += printable(f) + "\n";
                out << "<failure message=\"" << xml_escape(printable(r->failures.front())) << " (seed " << r->seed
                    << ")\">" << xml_escape(body) << "</failure>";
            } else if (r->status == "skip") {
                out << "<skipped message=\"" << xml_escape(r->notes.empty() ? "" : printable(r->notes.front())) << "\"/>";
            }
            out << "</testcase>\n";
        }
        out << "  </testsuite>\n";
    }
    out << "</testsuites>\n";
    return static_cast<bool>(out);
}

}  // namespace mvh::validate
