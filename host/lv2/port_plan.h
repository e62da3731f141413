// The ports of an exported plug-in: worked out once by `mvhost export-lv2` from the patch and its
// "plugin" section, written into the bundle as ports.json, and read back by the wrapper, so that
// the .ttl a host reads and the ports the wrapper serves can never disagree.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "mvhost/engine.h"

namespace mvlv2 {

struct PortSpec {
    enum Kind { AtomIn, AtomOut, AudioIn, AudioOut, ControlIn, ControlOut, Freewheel, Latency } kind = ControlIn;
    std::string symbol;
    std::string name;
    std::string pin;  // "INSTANCE.PIN" (ControlIn/Out, AtomOut: the MIDI output, or none for the parameters'
                      // texts), "INSTANCE" (AtomIn: a midi_source)
    int channel = -1;  // AudioIn: index into Engine::inputs(); AudioOut: into Engine::outputs()
    int datatype = 0;  // ControlIn/Out: the pin's data type
    double minimum = 0, maximum = 1, value = 0;
    std::vector<std::pair<std::string, int>> choices;  // enumerations: label, value
};

// A text pin offered as a patch:writable parameter (a file when `path`).
struct ParameterSpec {
    std::string pin;  // "INSTANCE.PIN"
    std::string key;  // the part after the plug-in URI's '#'
    std::string label;
    bool path = false;
};

struct PortPlan {
    std::string uri, name, plugin_class;
    std::vector<PortSpec> ports;
    std::vector<ParameterSpec> parameters;
};

nlohmann::json to_json(const PortPlan& plan);
// Throws std::runtime_error naming the field when the file is not one export-lv2 writes.
PortPlan plan_from_json(const nlohmann::json& doc);

// "INSTANCE.PIN" or "INSTANCE.PIN[k]" of the engine's host; {null, -1} when there is none.
std::pair<mvh::Instance*, int> find_pin(mvh::Host& host, const std::string& ref);
// A text pin that names a file: its range is "path", or it is the oscillator's bank file.
bool is_file_pin(const mvh::PinInfo& pin);

// Port units from a pin value and back: volts for audio-rate inputs, the integer of lists, bools
// and integers, the number itself for floats.
double port_value_of(const mvh::PinInfo& pin, const mvh::PinValue& value);
mvh::EngineEvent value_event(mvh::Instance* inst, const mvh::PinInfo& pin, float port_value, int frame);

}  // namespace mvlv2
