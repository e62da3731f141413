// Turtle for a port plan: audio and control ports (never CV ports: Ardour refuses them), lists as
// enumerations, MIDI and time as atom sequences, text pins as patch:writable parameters.
#include "ttl_writer.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace mvlv2 {

namespace {

struct ClassName {
    const char* name;
    const char* lv2;
};
const ClassName kClasses[] = {{"instrument", "lv2:InstrumentPlugin"}, {"effect", "lv2:Plugin"},
                              {"midi", "lv2:MIDIPlugin"},             {"generator", "lv2:GeneratorPlugin"},
                              {"oscillator", "lv2:OscillatorPlugin"}, {"chorus", "lv2:ChorusPlugin"},
                              {"delay", "lv2:DelayPlugin"},           {"utility", "lv2:UtilityPlugin"}};

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string number(double v) {
    if (std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15) {
        char b[32];
        std::snprintf(b, sizeof b, "%.1f", v);
        return b;
    }
    char b[40];
    std::snprintf(b, sizeof b, "%.9g", v);
    std::string s = b;
    // Turtle reads "1e-06" as a double and "0.5" as a decimal; both are fine for lv2:default.
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return s;
}

const char* lv2_class(const std::string& name) {
    for (const ClassName& c : kClasses)
        if (name == c.name) return c.lv2;
    return "lv2:Plugin";
}

}  // namespace

bool plugin_class_known(const std::string& name) {
    for (const ClassName& c : kClasses)
        if (name == c.name) return true;
    return false;
}

std::string known_plugin_classes() {
    std::string s;
    for (const ClassName& c : kClasses) s += (s.empty() ? "" : ", ") + std::string(c.name);
    return s;
}

bool uri_is_usable(const std::string& uri) {
    const size_t colon = uri.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == uri.size()) return false;
    if (!std::isalpha(static_cast<unsigned char>(uri[0]))) return false;
    for (size_t k = 0; k < colon; ++k)
        if (!std::isalnum(static_cast<unsigned char>(uri[k])) && uri[k] != '+' && uri[k] != '-' && uri[k] != '.') return false;
    for (char c : uri)
        if (static_cast<unsigned char>(c) <= ' ' || c == '<' || c == '>' || c == '"' || c == '{' || c == '}' || c == '|' ||
            c == '\\' || c == '^' || c == '`')
            return false;
    return true;
}

void write_ttl(const PortPlan& plan, const std::filesystem::path& bundle, const std::string& binary, const std::string& stem) {
    const std::string ttl = stem + ".ttl";
    {
        std::ofstream m(bundle / "manifest.ttl");
        m << "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
             "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n\n"
          << "<" << plan.uri << ">\n    a lv2:Plugin ;\n    lv2:binary <" << binary << "> ;\n    rdfs:seeAlso <" << ttl
          << "> .\n";
        if (!m) throw std::runtime_error((bundle / "manifest.ttl").string() + ": cannot write");
    }
    std::ostringstream t;
    t << "@prefix atom: <http://lv2plug.in/ns/ext/atom#> .\n"
         "@prefix doap: <http://usefulinc.com/ns/doap#> .\n"
         "@prefix log: <http://lv2plug.in/ns/ext/log#> .\n"
         "@prefix lv2: <http://lv2plug.in/ns/lv2core#> .\n"
         "@prefix midi: <http://lv2plug.in/ns/ext/midi#> .\n"
         "@prefix opts: <http://lv2plug.in/ns/ext/options#> .\n"
         "@prefix patch: <http://lv2plug.in/ns/ext/patch#> .\n"
         "@prefix pprops: <http://lv2plug.in/ns/ext/port-props#> .\n"
         "@prefix rdf: <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
         "@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .\n"
         "@prefix rsz: <http://lv2plug.in/ns/ext/resize-port#> .\n"
         "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
         "@prefix time: <http://lv2plug.in/ns/ext/time#> .\n"
         "@prefix urid: <http://lv2plug.in/ns/ext/urid#> .\n\n";
    for (const ParameterSpec& p : plan.parameters)
        t << "<" << plan.uri << "#" << p.key << ">\n    a lv2:Parameter ;\n    rdfs:label " << quoted(p.label)
          << " ;\n    rdfs:range " << (p.path ? "atom:Path" : "atom:String") << " .\n\n";

    t << "<" << plan.uri << ">\n    a " << lv2_class(plan.plugin_class)
      << (std::string(lv2_class(plan.plugin_class)) == "lv2:Plugin" ? "" : ", lv2:Plugin") << " ;\n"
      << "    doap:name " << quoted(plan.name) << " ;\n"
      << "    doap:license <http://opensource.org/licenses/isc> ;\n"
      << "    lv2:optionalFeature urid:map, lv2:hardRTCapable, log:log, opts:options, state:makePath, state:mapPath ;\n"
      << "    lv2:extensionData state:interface ;\n";
    for (const ParameterSpec& p : plan.parameters) t << "    patch:writable <" << plan.uri << "#" << p.key << "> ;\n";
    t << "    lv2:port ";
    for (size_t k = 0; k < plan.ports.size(); ++k) {
        const PortSpec& p = plan.ports[k];
        t << (k ? " , " : "") << "[\n        lv2:index " << k << " ;\n        lv2:symbol " << quoted(p.symbol)
          << " ;\n        lv2:name " << quoted(p.name) << " ;\n";
        switch (p.kind) {
        case PortSpec::AtomIn:
            t << "        a lv2:InputPort, atom:AtomPort ;\n        atom:bufferType atom:Sequence ;\n"
                 "        atom:supports midi:MidiEvent, time:Position, patch:Message ;\n";
            if (k == 0) t << "        lv2:designation lv2:control ;\n";
            t << "        rsz:minimumSize 16384 ;\n";
            break;
        case PortSpec::AtomOut:
            t << "        a lv2:OutputPort, atom:AtomPort ;\n        atom:bufferType atom:Sequence ;\n";
            // Without a pin it is the parameters' port: their texts, not MIDI.
            if (p.pin.empty()) t << "        atom:supports patch:Message ;\n        lv2:designation lv2:control ;\n";
            else t << "        atom:supports midi:MidiEvent ;\n";
            t << "        rsz:minimumSize 16384 ;\n";
            break;
        case PortSpec::AudioIn: t << "        a lv2:InputPort, lv2:AudioPort ;\n"; break;
        case PortSpec::AudioOut: t << "        a lv2:OutputPort, lv2:AudioPort ;\n"; break;
        case PortSpec::ControlIn:
        case PortSpec::ControlOut:
            t << "        a " << (p.kind == PortSpec::ControlIn ? "lv2:InputPort" : "lv2:OutputPort") << ", lv2:ControlPort ;\n"
              << "        lv2:default " << number(p.value) << " ;\n        lv2:minimum " << number(p.minimum)
              << " ;\n        lv2:maximum " << number(p.maximum) << " ;\n";
            if (p.datatype == DT_BOOL) t << "        lv2:portProperty lv2:toggled ;\n";
            if (p.datatype == DT_INT) t << "        lv2:portProperty lv2:integer ;\n";
            if (p.datatype == DT_ENUM) {
                t << "        lv2:portProperty lv2:integer, lv2:enumeration ;\n";
                for (size_t c = 0; c < p.choices.size(); ++c)
                    t << "        lv2:scalePoint [ rdfs:label " << quoted(p.choices[c].first.empty() ? " " : p.choices[c].first)
                      << " ; rdf:value " << number(p.choices[c].second) << " ] ;\n";
            }
            break;
        case PortSpec::Freewheel:
            t << "        a lv2:InputPort, lv2:ControlPort ;\n        lv2:designation lv2:freeWheeling ;\n"
                 "        lv2:default 0.0 ;\n        lv2:minimum 0.0 ;\n        lv2:maximum 1.0 ;\n"
                 "        lv2:portProperty lv2:toggled, pprops:notOnGUI ;\n";
            break;
        case PortSpec::Latency:
            t << "        a lv2:OutputPort, lv2:ControlPort ;\n        lv2:designation lv2:latency ;\n"
                 "        lv2:minimum 0.0 ;\n        lv2:maximum 0.0 ;\n"
                 "        lv2:portProperty lv2:reportsLatency, lv2:integer, pprops:notOnGUI ;\n";
            break;
        }
        t << "    ]";
    }
    t << " .\n";
    std::ofstream out(bundle / ttl);
    out << t.str();
    if (!out) throw std::runtime_error((bundle / ttl).string() + ": cannot write");
}

}  // namespace mvlv2
