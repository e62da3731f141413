// The validator's checks and the helpers they share. Each check runs in its own child process
// with the plug-in freshly loaded, so a crash or hang ends only that check.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "check_context.h"
#include "harness.h"

namespace mvh::validate {

// The note "load" leaves when the file is no plug-in at all (it does not load, or lacks the entry
// points): the later checks are then skipped instead of failing once each for the same reason.
constexpr const char* kNotAPlugin = "the file does not load as a plug-in";

struct Check {
    const char* name;
    int min_strictness;
    void (*run)(CheckContext& ctx);
};

const std::vector<Check>& all_checks();

// Loads the plug-in as the host does; null with a failure reported when it cannot be loaded.
std::shared_ptr<Plugin> load_plugin(CheckContext& ctx);

// Choice lists: "a,b,c" or "a=1,b=5"; values are the explicit ones or the positions.
struct ChoiceList {
    std::vector<std::string> labels;
    std::vector<long> values;
};
bool parse_choices(const std::string& text, ChoiceList* out, std::string* error);

// A value a user, a patch or a confused host might put on the pin; wild values leave its range.
PinValue random_pin_value(const HarnessPin& pin, CheckContext& ctx, bool wild);

struct FuzzPlan {
    int blocks = 16;
    bool random_sizes = false;   // a new size (1..block size) on every call
    bool zero_calls = false;     // some calls with zero samples
    double pin_change = 0.0;     // chance per block of pin changes
    double wild = 0.0;           // chance that a changed value is a wild one
    double midi = 0.0;           // chance per block of MIDI input
    int midi_flood = 0;          // events in a flood block (0: no floods)
    bool odd_events = false;     // ignored and unknown event types
};
// Runs `plan` on an open harness, events at random times inside each block.
void run_fuzz(Harness& h, CheckContext& ctx, const FuzzPlan& plan);

// Blocks at the strictness: a small base that grows with it.
int scaled(const CheckContext& ctx, int base);

void check_load(CheckContext& ctx);
void check_exports(CheckContext& ctx);
void check_libraries(CheckContext& ctx);
void check_description(CheckContext& ctx);
void check_pin_table(CheckContext& ctx);
void check_lifecycle(CheckContext& ctx);
void check_leaks(CheckContext& ctx);
void check_state(CheckContext& ctx);
void check_sample_rates(CheckContext& ctx);
void check_block_sizes(CheckContext& ctx);
void check_pin_fuzz(CheckContext& ctx);
void check_midi_fuzz(CheckContext& ctx);
void check_time_info(CheckContext& ctx);
void check_realtime(CheckContext& ctx);
void check_gui(CheckContext& ctx);
void check_gui_state(CheckContext& ctx);
void check_gui_threaded(CheckContext& ctx);

}  // namespace mvh::validate
