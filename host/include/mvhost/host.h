// The reference host: loads plug-ins, holds instances, pins and wires, runs blocks split at event
// times and answers every host opcode, as Morvane does. One Host runs one patch.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "mv_sdk2/mv_boundary.h"

namespace mvh {

class Host;
class Instance;

// A loaded plug-in library and its description (index 0).
class Plugin {
public:
    // Loads with RTLD_NOW | RTLD_LOCAL. On failure returns null and sets *error to one line.
    static std::shared_ptr<Plugin> load(const std::string& path, std::string* error);
    ~Plugin();

    const std::string& path() const { return m_path; }
    const std::string& name() const { return m_name; }
    const std::string& id() const { return m_id; }
    const std::string& about() const { return m_about; }
    int32_t module_flags() const { return m_flags; }
    int32_t sdk_version() const { return m_sdk_version; }
    bool is_v1() const { return m_main != nullptr; }

    MVGetModulePropertiesFn get_module_properties() const { return m_get_properties; }
    MVMakeModuleFn make_module() const { return m_make_module; }
    MVMainFn v1_main() const { return m_main; }
    void* handle() const { return m_handle; }

private:
    Plugin() = default;
    std::string m_path, m_name, m_id, m_about;
    int32_t m_flags = 0;
    int32_t m_sdk_version = 0;
    void* m_handle = nullptr;
    MVGetModulePropertiesFn m_get_properties = nullptr;
    MVMakeModuleFn m_make_module = nullptr;
    MVMainFn m_main = nullptr;
};

// One pin as the host holds it, in the host's full (GUI) numbering.
struct PinInfo {
    int index = 0;         // GUI numbering: every description, duplicates included
    int audio_index = -1;  // audio numbering, or -1 for GUI-only pins
    std::string name;
    std::string default_value;
    std::string extra;
    int direction = 0;
    int datatype = 0;
    int flags = 0;
    bool duplicate = false;  // created by the host beyond the declared list
    void* variable = nullptr;  // the module's storage, from the description

    bool gui_only() const { return audio_index < 0; }
    bool is_input() const { return direction != DR_OUT; }
};

// A value of a non-audio pin (and the constant of an unconnected audio input, in float units).
struct PinValue {
    int32_t i = 0;
    float f = 0.0f;
    std::string text;
};

// A pin's default text in the value it stands for (audio defaults are volts: "5" is 0.5).
PinValue parse_pin_default(int datatype, const std::string& text);

// The module's pin table as the host reads it: MD_PIN_PROPERTIES for 0, 1, ... into a cleared
// record until `query` is refused. `v1` (the older entry): every pin is on the audio side.
std::vector<PinInfo> read_pin_table(const std::function<intptr_t(int, MVPinProperties*)>& query, bool v1);

// The host's answers to GM_GET_VALUE (the value written at ptr in the width of the pin's type) and
// GM_SET_VALUE (the value stored as fits the pin's type; true when it changed).
void answer_get_value(int datatype, const PinValue& v, void* ptr);
bool store_set_value(int datatype, PinValue& v, intptr_t value, float opt);

// Logged for tests and tools: what the module announced or sent.
struct StatusRecord {
    int pin;  // audio numbering
    int state;
    int clock;
};
struct MidiRecord {
    int pin;  // audio numbering
    int32_t word;
    int clock;
};

struct InstanceOptions {
    bool with_gui = true;        // ask for kind 2
    bool null_callback = false;  // hand the plug-in a null host callback
    int extra_duplicates = 0;    // further duplicate pins beyond those wires create
    int panel_x = 0, panel_y = 0;  // panel position in the patch view (for the context chain)
    bool restored = false;         // GUI opcode 0 flag: the instance comes with stored values
};

struct HostConfig {
    float sample_rate = 44100.0f;
    int block_size = 1024;
    double tempo = 120.0;
    bool time_info = true;  // answer AM_TIME_INFO (false: null)
    int32_t host_version = 96000;
    std::string host_folder;  // default: the first plug-in's folder
    int32_t host_mode = 0;
};

class Instance {
public:
    Instance(Host& host, std::shared_ptr<Plugin> plugin, std::string name, const InstanceOptions& options);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    const std::string& name() const { return m_name; }
    Plugin& plugin() { return *m_plugin; }
    MVModStruct* audio() { return m_audio; }
    MVModStructV1* audio_v1() { return m_audio_v1; }
    MVGuiStruct* gui() { return m_gui; }
    bool is_open() const { return m_open; }
    bool sleeping() const { return m_sleeping; }

    // Pins in GUI numbering. Valid after create (pins are described at creation).
    const std::vector<PinInfo>& pins() const { return m_pins; }
    int find_pin(const std::string& name, int nth = 0) const;  // -1 when unknown
    int audio_pin_count() const { return static_cast<int>(m_audio_to_gui.size()); }
    int gui_to_audio(int gui_index) const { return m_pins.at(gui_index).audio_index; }
    int audio_to_gui(int audio_index) const {
        return audio_index >= 0 && audio_index < audio_pin_count() ? m_audio_to_gui[audio_index] : -1;
    }

    // Values. Setting from outside (patch, tests, a person's control) stores, notifies the GUI
    // object and queues a pin-state event for the audio object at `clock` (default: the next block
    // boundary). With a bridge installed (two threads) this is a GUI-thread call, and the event
    // crosses to the audio thread through the bridge.
    void set_value(int pin, const PinValue& v, int clock = -1, int state = PIN_CHANGED_ONCE);
    void set_int(int pin, int32_t v, int clock = -1) { set_value(pin, PinValue{v, static_cast<float>(v), {}}, clock); }
    void set_float(int pin, float v, int clock = -1) { set_value(pin, PinValue{static_cast<int32_t>(v), v, {}}, clock); }
    void set_text(int pin, const std::string& t, int clock = -1) { set_value(pin, PinValue{0, 0.0f, t}, clock); }
    const PinValue& value(int pin) const { return m_values.at(pin); }
    // Reads the module's own variable of an audio-side pin (outputs announced by the module).
    PinValue read_variable(int pin) const;

    // Audio buffers (block-size floats) of audio-side DT_FSAMPLE pins, by GUI index.
    float* buffer(int pin);

    // Two threads (see ThreadBridge). [audio] A value for the audio object only, delivered at
    // `clock` as a pin-state event: `v` is moved from, so a value made on the GUI thread changes
    // hands without an allocation here.
    void queue_audio_value(int pin, PinValue&& v, int clock);
    // [gui] The GUI side's copy of a pin takes a value the audio side or the schedule made (the
    // text only when `text` is given); `notify` tells the GUI object (opcode 7).
    void store_gui_value(int pin, int32_t i, float f, std::string* text, bool notify);
    // [gui] Opcode 7 for `pin`, when the GUI object is open.
    void gui_notify(int pin);
    // [gui] Closes the GUI object alone (GUI objects go before audio objects).
    void close_gui();

    // Logs of what the module sent.
    std::vector<StatusRecord> status_log;
    std::vector<MidiRecord> midi_log;
    int process_changes = 0;  // AM_PROCESS_CHANGED count
    int repaint_requests = 0;
    int panel_width = 0, panel_height = 0;
    bool idle_calls = false;
    bool mouse_captured = false;

    // Direct calls (tests and tools).
    intptr_t dispatch(int opcode, int index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    intptr_t gui_dispatch(int opcode, int index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    // Paints the GUI into a device context of the platform stand-in (dc), panel size w x h.
    void paint(int dc, int w, int h);
    void pointer(int opcode, int x, int y);  // GD_POINTER_DOWN/UP/MOVE at panel pixels
    intptr_t context() const { return m_context; }
    int panel_x() const { return m_options.panel_x; }
    int panel_y() const { return m_options.panel_y; }

private:
    friend class Host;
    struct Event {
        int clock;
        int64_t seq;
        MVEvent e;
        PinValue value;  // pin events: the value written into the variable at delivery
        bool has_value = false;
    };

    void describe_pins();
    void add_duplicate();
    // The host-side records of one more pin (a described or a duplicate one).
    void add_pin_records(const PinInfo& pin);
    void open();
    void close();
    void queue(Event ev, bool ahead = false);
    Event take_event();  // the earliest queued event, out of the queue
    static bool later(const Event& a, const Event& b);
    void deliver(Event& ev);
    void write_variable(int gui_pin, const PinValue& v);
    // [audio] An event's value into the module's variable at delivery. A text is taken, not
    // copied, and the text it replaces goes back to the GUI thread through the bridge, so that the
    // audio thread neither allocates nor frees for it.
    void take_variable(int gui_pin, PinValue& v);
    void apply_constant(int gui_pin, float value, int clock);
    // Fills an unconnected input's buffer with its constant for the coming block, unless it holds
    // it already.
    void hold_constant(int gui_pin);
    // Runs [from, from + n) of the block whose element 0 is at clock `block_start`.
    void run_block(int block_start, int from, int n);
    void run_block_v1(int block_start, int from, int n);

    Host& m_host;
    std::shared_ptr<Plugin> m_plugin;
    std::string m_name;
    InstanceOptions m_options;
    MVModStruct* m_audio = nullptr;
    MVModStructV1* m_audio_v1 = nullptr;
    MVGuiStruct* m_gui = nullptr;
    bool m_open = false;
    bool m_sleeping = false;
    bool m_in_process = false;
    int m_clock = 0;  // SampleClock() answer
    int m_block_start = 0;
    intptr_t m_context = 0;
    std::vector<PinInfo> m_pins;
    std::vector<PinValue> m_values;
    std::vector<float> m_constants;  // what an unconnected audio input holds now (float units)
    std::vector<int> m_announced;    // each output's last announced pin state (PIN_STATIC...)
    // Whether an unconnected input's buffer holds its constant in every sample already, so that
    // the next block need not fill it again.
    std::vector<char> m_holds_constant;
    std::vector<std::vector<float>> m_buffers;  // by GUI index; empty for non-audio pins
    std::vector<std::string> m_texts;           // host-owned copies handed to audio text pins
    // A binary heap on (clock, seq), the earliest at the front: queueing and delivering each cost
    // a logarithm of the queue, however many events a patch queues at one time.
    std::vector<Event> m_events;
    int m_declared = 0;                         // declared descriptions
    std::vector<int> m_audio_to_gui;            // GUI index of each audio-side pin
    std::unordered_map<std::string, std::vector<int>> m_pins_named;  // the pins of each name, in order
    // The host's wires at each pin (indices into Host::wires(), in the order they were made), so
    // that a pin's announcement or a connection check walks its own wires, not the patch's.
    std::vector<std::vector<size_t>> m_wires_out, m_wires_in;
    friend intptr_t host_callback_impl(void*, int32_t, int32_t, intptr_t, void*, float);
    friend intptr_t host_audio_opcode(Instance*, int32_t, int32_t, intptr_t, void*);
    friend intptr_t host_gui_opcode(Instance*, int32_t, int32_t, intptr_t, void*, float);
};

// Live play runs the audio side and the GUI side on two threads. When a bridge is installed, what
// one side produces for the other is handed to it instead of being applied in place: the host
// then never touches a GUI-side value from the audio thread, nor an audio-side queue from the GUI
// thread.
class ThreadBridge {
public:
    virtual ~ThreadBridge() = default;
    // GUI thread: a value written on the GUI side that the audio object of `inst` must hear of,
    // as a pin-state event at the next block boundary.
    virtual void to_audio(Instance* inst, int gui_pin, const PinValue& value) = 0;
    // Audio thread: a value announced by an audio object for a pin whose GUI-side copy lives on
    // the GUI thread; `notify` asks for GUI opcode 7 there. `text` is the module's own text (may be
    // null), valid only during the call. Must not allocate, lock or wait.
    virtual void to_gui(Instance* inst, int gui_pin, int32_t i, float f, const char* text, bool has_value,
                        bool notify) = 0;
    // Audio thread: a text the audio side is done with, to be freed on the GUI thread; leaves
    // `text` empty when it takes it. Must not allocate, lock or wait.
    virtual void retire(std::string& text) { (void)text; }
};

struct Wire {
    Instance* from;
    int from_pin;  // GUI numbering
    Instance* to;
    int to_pin;
};

class Host {
public:
    explicit Host(HostConfig config = {});
    ~Host();

    const HostConfig& config() const { return m_config; }
    HostConfig& config() { return m_config; }

    // Creates an instance (describe, makeModule kind 1 and 2, sample rate, block size, pin
    // queries). Returns null and sets *error on failure.
    Instance* add(const std::string& plugin_path, const std::string& name, const InstanceOptions& options = {},
                  std::string* error = nullptr);
    Instance* add(std::shared_ptr<Plugin> plugin, const std::string& name, const InstanceOptions& options = {});
    Instance* find(const std::string& name) const;
    // "unknown instance" errors name the ones there are: `unknown instance "x" (instances: a, b)`.
    std::string unknown_instance(const std::string& name) const;
    const std::vector<std::unique_ptr<Instance>>& instances() const { return m_instances; }

    // Wires an output to an input (GUI numbering). A wire to the last pin of a duplicating list
    // creates a further duplicate before open, as the host does when a user connects it.
    bool connect(Instance* from, int from_pin, Instance* to, int to_pin, std::string* error = nullptr);
    const std::vector<Wire>& wires() const { return m_wires; }
    bool connected(const Instance* inst, int gui_pin) const;

    // Opens every instance (MD_OPEN, then GUI opcode 0) and queues the initial pin states.
    void open();
    // Runs one block of block_size samples (or n, at most block_size) and the GUI calls after it;
    // returns the samples run. Each run starts a block at element 0 of the buffers, unless the
    // grid is kept (below).
    int run_block(int n = -1);
    // From now on a run shorter than a block leaves the rest of that block for the next run (n is
    // then at most what is left of it): the buffers keep one block grid from the first sample, so
    // that a module asleep on a buffer it filled, or one counting a block's worth of samples, sees
    // the same buffers whatever lengths a driver runs. The engine keeps it.
    void keep_block_grid() { m_keep_grid = true; }
    // Where the next run_block starts inside its block: the element of the buffers it writes
    // first (always 0 unless the grid is kept).
    int block_offset() const { return m_block_offset; }
    // Runs whole blocks until `samples` more samples have been processed.
    void run(int samples);
    // Runs the GUI idle calls once (the host does this after every block).
    void idle();
    void close();

    int sample_clock() const { return m_clock; }
    void set_tempo(double bpm) { m_time_info.tempo = bpm; }
    void queue_midi(Instance* to, int gui_pin, int clock, int32_t word);
    // Called before each block with its start clock (tempo changes, scripted events).
    std::function<void(Host&, int block_start)> before_block;
    // Called after each block (capture).
    std::function<void(Host&, int block_start, int n)> after_block;

    // Lookup of the instance that owns a record (audio or GUI) for the callback.
    Instance* owner_of(void* record) const;
    const MVTimeInfo* time_info() const { return m_config.time_info ? &m_time_info : nullptr; }
    const std::vector<Instance*>& order() const;
    // The patch view's window (a platform window when the platform stand-in is linked).
    intptr_t patch_window() const { return m_window; }

    // Two threads: hands cross-thread values to the bridge (see ThreadBridge); null for one
    // thread. Installing one reserves the event queues, so that the audio thread does not grow
    // them while it runs.
    void set_bridge(ThreadBridge* bridge);
    // [gui, audio stopped] Closes every GUI object, newest first, before the audio objects go.
    void close_gui_objects();
    ThreadBridge* bridge() const { return m_bridge; }
    // [gui, inactive] Every MIDI message a module sends is also handed to `tap` on the thread that
    // sends it (the audio thread when two run), so that a driver can pass it on; null removes it.
    // The tap must not allocate, lock or wait.
    using MidiTap = void (*)(void* context, Instance* from, int gui_pin, int32_t word, int clock);
    void set_midi_tap(MidiTap tap, void* context) {
        m_midi_tap = tap;
        m_midi_tap_context = context;
    }

private:
    friend class Instance;
    friend intptr_t host_callback_impl(void*, int32_t, int32_t, intptr_t, void*, float);
    friend intptr_t host_audio_opcode(Instance*, int32_t, int32_t, intptr_t, void*);
    friend intptr_t host_gui_opcode(Instance*, int32_t, int32_t, intptr_t, void*, float);
    // The audio inputs of each instance in run order, with the outputs wired into each in wire
    // order; worked out with the order, so that a block does not search the wires.
    struct Feed {
        int pin;
        std::vector<std::pair<Instance*, int>> sources;
    };
    void propagate_status(Instance* from, int gui_pin, int state, int clock);
    void propagate_status_bridged(Instance* from, int gui_pin, int state, int clock);
    // The state that `into` passes on: an input summed from several wires streams while any of them
    // does.
    int summed_state(const Wire& into, int state) const;
    void propagate_midi(Instance* from, int gui_pin, int32_t word, int clock);
    void propagate_gui_write(Instance* from, int gui_pin, bool changed);
    void gather_inputs(Instance* inst, const std::vector<Feed>& feeds, int offset, int n);
    void compute_order();

    HostConfig m_config;
    MVTimeInfo m_time_info{};
    std::vector<std::unique_ptr<Instance>> m_instances;
    std::unordered_map<std::string, Instance*> m_by_name;  // the first instance of each name
    std::vector<Wire> m_wires;
    std::vector<Instance*> m_order;
    std::vector<std::vector<Feed>> m_feeds;  // parallel to m_order
    int m_clock = 0;
    int m_block_offset = 0;
    bool m_keep_grid = false;
    bool m_opened = false;
    int64_t m_seq = 0;
    int64_t m_ahead_seq = -(int64_t{1} << 40);
    intptr_t m_window = 0x10;
    std::vector<std::pair<Instance*, int>> m_pending_gui;  // GUI notifications after the block
    ThreadBridge* m_bridge = nullptr;
    MidiTap m_midi_tap = nullptr;
    void* m_midi_tap_context = nullptr;
};

// The host callback handed to every plug-in.
intptr_t MV_CDECL host_callback(void* record, int32_t opcode, int32_t index, intptr_t value, void* ptr, float opt);

// Text of data types, directions and flags as a module browser shows them.
const char* datatype_name(int datatype);
const char* direction_name(int direction);
std::string flags_text(int flags);

}  // namespace mvh
