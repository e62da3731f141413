// A patch document as read and checked, before any module is loaded: what PatchRun builds the
// host from. Pin names and values stay as the patch writes them (with the place to name in an
// error), since only the created instances know their pins.
#pragma once

#include <nlohmann/json.hpp>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mvhost/patch.h"

namespace mvh {

struct CheckedPatch {
    HostConfig config;  // rate, block length, host answers; the tempo is set from `tempo`
    int total = 0;      // samples to run
    bool auto_duration = false;  // "duration": "auto": to the last event, then the sound's tail
    std::vector<std::string> search_path;  // folders as the patch gives them, relative to it
    std::optional<nlohmann::json> user;    // the script, with the files it names made absolute
    std::vector<TempoPoint> tempo;         // sorted by clock

    struct InstanceSpec {
        std::string place;  // "instances[N]"
        std::string name;
        std::string module_path;
        InstanceOptions options;
        // Pin values in the patch's order: name as written, value, place for errors.
        std::vector<std::pair<std::string, nlohmann::json>> pins;
    };
    std::vector<InstanceSpec> instances;

    struct WireSpec {
        std::string place, from, to;
    };
    std::vector<WireSpec> wires;

    struct EventSpec {
        ScheduledEvent::Kind kind = ScheduledEvent::PinValue;
        std::string place;  // "events[N]"
        int clock = 0;
        // The pin, MIDI input or instance the event goes to, as written (a MIDI target always as
        // INSTANCE.PIN), and the field that named it.
        std::string target, target_field;
        nlohmann::json value;  // pin events
        int32_t midi = 0;      // a single MIDI message
        bool from_file = false;
        std::string file_path;                      // the MIDI file, as opened
        std::vector<std::pair<int, int32_t>> file;  // a MIDI file's messages: clock, word
        int pointer_opcode = 0, x = 0, y = 0;
    };
    std::vector<EventSpec> events;  // in the patch's order

    std::vector<std::pair<std::string, std::string>> outputs;  // place, INSTANCE.PIN
    std::string format = "float";
};

// Reads and checks every field of a patch document that can be checked without the modules.
// Throws PatchError naming `name` and the field.
CheckedPatch read_patch_document(const nlohmann::json& doc, const std::string& name, const std::string& base_dir,
                                 const std::vector<std::string>& plugin_dirs, bool user_saves_anywhere = false);

namespace patch_text {
// "FILE: place: " for the patch's places; "--option ...: " for the command line's.
std::string where(const std::string& name, const std::string& place);
std::string trim(const std::string& s);
// "a number", "a text", ...: what a JSON value is, in an error.
std::string type_name(const nlohmann::json& v);
// "name[2]" names the third pin of that name (duplicates); plain "name" the first.
std::pair<std::string, int> split_nth(const std::string& pin);
// A path as the patch writes it, relative to `base` unless absolute; normalised.
std::filesystem::path absolute_in(const std::string& base, const std::string& path);
}  // namespace patch_text

}  // namespace mvh
