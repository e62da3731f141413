// What the SDK probe plug-in reports through MD_12.
#pragma once

#include <cstdint>

constexpr int kProbeMax = 64;
// Makes the probe throw: as host value of makeModule (either kind), as MD_12 value (at once), as
// MD_12 value + 1 (in the next process call) and as GUI message identifier.
constexpr int kProbeThrow = 0x7407;

struct ProbeReport {
    int negative_queries;
    int pin_count;
    int pin_datatype[kProbeMax];
    int pin_index[kProbeMax];
    void* pin_variable[kProbeMax];
    int pin_status[kProbeMax];
    void* module_in;
    void* module_out;
    void* module_mode;
    int mode;
    int status_count;
    int status_pin[kProbeMax];
    int status_state[kProbeMax];
    int status_clock[kProbeMax];
    float in_value_at_event;
    int both_value;
    int process_count;
    int process_offset[kProbeMax];
    int process_length[kProbeMax];
    int process_clock[kProbeMax];
    int midi_count;
    int midi_clock[kProbeMax];
    int midi_word[kProbeMax];
    int wake_count;
    int wake_with;
};

struct GuiProbeReport {
    int open_flag;
    int host_mode;
    char folder[64];
    int pin_count;
    int changed_count;
    int changed_pin[kProbeMax];
    char gui_text[64];
    int window;
    int mapped_x, mapped_y;
    int idle_count;
};
