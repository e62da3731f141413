// The port plan's file form and the conversions between pin values and port values.
#include "port_plan.h"

#include <cmath>
#include <stdexcept>

namespace mvlv2 {

using nlohmann::json;

namespace {

const char* const kKinds[] = {"atom_in", "atom_out", "audio_in", "audio_out", "control_in", "control_out",
                              "freewheel", "latency"};

}  // namespace

json to_json(const PortPlan& plan) {
    json ports = json::array();
    for (const PortSpec& p : plan.ports) {
        json j = {{"kind", kKinds[p.kind]}, {"symbol", p.symbol}, {"name", p.name}};
        if (!p.pin.empty()) j["pin"] = p.pin;
        if (p.channel >= 0) j["channel"] = p.channel;
        if (p.kind == PortSpec::ControlIn || p.kind == PortSpec::ControlOut) {
            j["datatype"] = p.datatype;
            j["minimum"] = p.minimum;
            j["maximum"] = p.maximum;
            j["value"] = p.value;
            if (!p.choices.empty()) {
                json c = json::array();
                for (const auto& [label, value] : p.choices) c.push_back({label, value});
                j["choices"] = c;
            }
        }
        ports.push_back(j);
    }
    json params = json::array();
    for (const ParameterSpec& p : plan.parameters)
        params.push_back({{"pin", p.pin}, {"key", p.key}, {"label", p.label}, {"path", p.path}});
    return {{"uri", plan.uri}, {"name", plan.name}, {"class", plan.plugin_class}, {"ports", ports},
            {"parameters", params}};
}

PortPlan plan_from_json(const json& doc) {
    PortPlan plan;
    try {
        plan.uri = doc.at("uri").get<std::string>();
        plan.name = doc.at("name").get<std::string>();
        plan.plugin_class = doc.at("class").get<std::string>();
        for (const json& j : doc.at("ports")) {
            PortSpec p;
            const std::string kind = j.at("kind").get<std::string>();
            bool known = false;
            for (int k = 0; k < 8; ++k)
                if (kind == kKinds[k]) p.kind = static_cast<PortSpec::Kind>(k), known = true;
            if (!known) throw std::runtime_error("ports: unknown kind \"" + kind + "\"");
            p.symbol = j.at("symbol").get<std::string>();
            p.name = j.at("name").get<std::string>();
            p.pin = j.value("pin", "");
            p.channel = j.value("channel", -1);
            p.datatype = j.value("datatype", 0);
            p.minimum = j.value("minimum", 0.0);
            p.maximum = j.value("maximum", 1.0);
            p.value = j.value("value", 0.0);
            if (j.contains("choices"))
                for (const json& c : j["choices"]) p.choices.emplace_back(c.at(0).get<std::string>(), c.at(1).get<int>());
            plan.ports.push_back(std::move(p));
        }
        for (const json& j : doc.at("parameters"))
            plan.parameters.push_back({j.at("pin").get<std::string>(), j.at("key").get<std::string>(),
                                       j.at("label").get<std::string>(), j.at("path").get<bool>()});
    } catch (const json::exception& e) {
        throw std::runtime_error(std::string("ports: ") + e.what());
    }
    return plan;
}

std::pair<mvh::Instance*, int> find_pin(mvh::Host& host, const std::string& ref) {
    const size_t dot = ref.find('.');
    if (dot == std::string::npos) return {nullptr, -1};
    mvh::Instance* inst = host.find(ref.substr(0, dot));
    if (!inst) return {nullptr, -1};
    std::string name = ref.substr(dot + 1);
    int nth = 0;
    if (name.size() > 3 && name.back() == ']') {
        const size_t open = name.rfind('[');
        const std::string num = open == std::string::npos ? "" : name.substr(open + 1, name.size() - open - 2);
        if (!num.empty() && num.size() <= 6 && num.find_first_not_of("0123456789") == std::string::npos) {
            nth = std::stoi(num);
            name = name.substr(0, open);
        }
    }
    const int pin = inst->find_pin(name, nth);
    return {pin >= 0 ? inst : nullptr, pin};
}

bool is_file_pin(const mvh::PinInfo& pin) {
    return pin.datatype == DT_TEXT && (pin.extra == "path" || pin.name == "wbf_path");
}

double port_value_of(const mvh::PinInfo& pin, const mvh::PinValue& v) {
    switch (pin.datatype) {
    case DT_FSAMPLE: return static_cast<double>(v.f) * 10.0;
    case DT_FLOAT: return v.f;
    default: return v.i;
    }
}

mvh::EngineEvent value_event(mvh::Instance* inst, const mvh::PinInfo& pin, float port_value, int frame) {
    mvh::EngineEvent e;
    e.kind = mvh::EngineEvent::Value;
    e.frame = frame;
    e.inst = inst;
    e.pin = pin.index;
    switch (pin.datatype) {
    case DT_FSAMPLE:
        e.f = port_value / 10.0f;
        e.i = static_cast<int32_t>(e.f);
        break;
    case DT_FLOAT:
        e.f = port_value;
        e.i = static_cast<int32_t>(port_value);
        break;
    case DT_BOOL:
        e.i = port_value >= 0.5f ? 1 : 0;
        e.f = static_cast<float>(e.i);
        break;
    default:
        e.i = static_cast<int32_t>(std::lround(port_value));
        e.f = static_cast<float>(e.i);
        break;
    }
    return e;
}

}  // namespace mvlv2
