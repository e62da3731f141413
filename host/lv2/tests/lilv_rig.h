// A small LV2 host on lilv for the tests: loads an exported bundle, runs it in blocks of the
// lengths asked for with MIDI at exact frames, saves and restores its state, as a DAW would.
#pragma once

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/log/log.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cstdarg>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace lv2test {

struct Note {
    int64_t frame;
    uint8_t bytes[3];
};

class World {
public:
    World();
    ~World();
    // Loads the bundle (a folder path); returns its only plug-in.
    const LilvPlugin* load(const std::string& bundle);
    LV2_URID map(const std::string& uri);
    std::string unmap(LV2_URID id) const;
    const LV2_Feature* const* features() const { return m_features.data(); }
    std::vector<std::string> log_lines;
    LilvWorld* world() { return m_world; }
    LV2_URID_Map* urid_map() { return &m_map; }
    LV2_URID_Unmap* urid_unmap() { return &m_unmap; }

private:
    static LV2_URID map_cb(LV2_URID_Map_Handle h, const char* uri);
    static const char* unmap_cb(LV2_URID_Unmap_Handle h, LV2_URID id);
    static int log_printf(LV2_Log_Handle h, LV2_URID type, const char* fmt, ...);
    static int log_vprintf(LV2_Log_Handle h, LV2_URID type, const char* fmt, va_list ap);
    LilvWorld* m_world;
    std::map<std::string, LV2_URID> m_ids;
    std::vector<std::string> m_uris;
    LV2_URID_Map m_map;
    LV2_URID_Unmap m_unmap;
    LV2_Log_Log m_log;
    int32_t m_max_block = 8192;
    std::vector<LV2_Options_Option> m_options;
    LV2_Feature m_f_map, m_f_unmap, m_f_log, m_f_options;
    std::vector<const LV2_Feature*> m_features;
};

// One running instance with its buffers.
class Instance {
public:
    Instance(World& world, const LilvPlugin* plugin, double rate);
    ~Instance();
    bool ok() const { return m_instance != nullptr; }
    // Runs `frames` frames in blocks cycling through `blocks`, with `notes` (frames from the start
    // of this call) on the first MIDI input; returns the audio outputs, one vector per channel.
    std::vector<std::vector<float>> render(int64_t frames, const std::vector<int>& blocks, const std::vector<Note>& notes,
                                           bool freewheel = true);
    // Sends a patch:Set of a path parameter (the key after the plug-in URI's '#') in the next run.
    void set_path(const std::string& key, const std::string& path);
    void set_control(const std::string& symbol, float value);
    float control(const std::string& symbol) const { return m_controls[port_index(symbol)]; }
    // Sends a patch:Get (every parameter's text, please) in the next run.
    void ask_parameters() { m_ask_parameters = true; }
    // Called with true just before each run() of render() and with false just after it.
    std::function<void(bool)> around_run;
    // MIDI the plug-in sent in the last render: (frame from the start of that render, bytes).
    std::vector<Note> midi_out;
    // The parameters' texts the plug-in sent (patch:Set) in the last render, in order: (URI, text).
    std::vector<std::pair<std::string, std::string>> parameters_out;
    LilvState* save(const std::string& dir);
    void restore(LilvState* state);
    uint32_t port_index(const std::string& symbol) const;

private:
    World& m_world;
    const LilvPlugin* m_plugin;
    double m_rate;
    LilvInstance* m_instance = nullptr;
    std::vector<float> m_controls;
    std::vector<std::vector<float>> m_audio;
    std::vector<std::vector<uint8_t>> m_atoms;
    std::vector<int> m_audio_out, m_audio_in, m_atom_in, m_atom_out;
    int m_freewheel = -1;
    std::vector<std::pair<std::string, std::string>> m_pending_paths;
    bool m_ask_parameters = false;
};

}  // namespace lv2test
