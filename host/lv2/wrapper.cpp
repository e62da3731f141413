// The LV2 plug-in of an exported bundle: the bundle's patch run by the engine, run() on the host's
// audio thread, the GUI objects (the oscillator's editor owns its bank) on a thread of our own.
#include <lv2/atom/atom.h>
#include <lv2/atom/forge.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/log/log.h>
#include <lv2/log/logger.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/patch/patch.h>
#include <lv2/state/state.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <dlfcn.h>

#include <boost/lockfree/spsc_queue.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <thread>

#include "mvhost/engine.h"
#include "mvp/scripted_user.h"
#include "mvp/user.h"
#include "port_plan.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr size_t kMaxEvents = 4096;
constexpr size_t kTextBytes = 1 << 16;
constexpr auto kGuiTick = std::chrono::milliseconds(10);
constexpr int kIdleEvery = 3;  // GUI ticks per idle call: about 30 a second

// The thread that owns the GUI side of the patch. Every call other than run() is handed to it and
// waited for, so the engine sees one GUI thread whatever thread the host calls from.
class GuiThread {
public:
    // The thread starts only once what `tick` reaches is built.
    void start(std::function<void()> tick) {
        m_tick = std::move(tick);
        m_thread = std::thread([this] { loop(); });
    }
    ~GuiThread() { stop(); }
    // Ends the thread; what `tick` reaches may go after this.
    void stop() {
        if (!m_thread.joinable()) return;
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }

    // [host thread] Runs `job` on the GUI thread and returns when it is done; exceptions travel back.
    // Before start() there is no GUI thread yet, and the caller's thread is the only one.
    void call(const std::function<void()>& job) {
        if (!m_thread.joinable()) return job();
        std::packaged_task<void()> task(job);
        auto done = task.get_future();
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(task));
        }
        m_wake.notify_one();
        done.get();
    }
    // [any] Asks for a tick now (freewheeling run() waits for it).
    void poke() {
        {
            std::lock_guard lock(m_mutex);
            m_poked = true;
        }
        m_wake.notify_one();
    }

private:
    void loop() {
        // Message boxes, menus and dialogs asked on this thread get this plug-in's answers only.
        mvp::keep_users_on_this_thread();
        std::unique_lock lock(m_mutex);
        while (!m_stop) {
            m_wake.wait_for(lock, kGuiTick, [&] { return m_stop || m_poked || !m_jobs.empty(); });
            m_poked = false;
            while (!m_jobs.empty()) {
                auto job = std::move(m_jobs.front());
                m_jobs.pop_front();
                lock.unlock();
                job();
                lock.lock();
            }
            if (m_stop) break;
            lock.unlock();
            m_tick();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<void()>> m_jobs;
    bool m_stop = false;
    bool m_poked = false;
    std::function<void()> m_tick;  // run only on the GUI thread
    std::thread m_thread;
};

struct Urids {
    LV2_URID midi_event, atom_object, atom_blank, atom_path, atom_string, atom_float, atom_double, atom_int,
        atom_long, atom_sequence, atom_urid, time_position, time_bpm, patch_set, patch_property, patch_value, patch_get,
        state_pins;
};

struct ControlBinding {
    mvh::Instance* inst = nullptr;
    int pin = -1;
    float last = 0;
};

// [audio] The port value of an audio-side output pin, from the module's own variable only: the
// instance's copy of its values belongs to the GUI thread, which writes it while run() goes on
// (Instance::read_variable reads that copy first, and copies its text).
float audio_output_value(const mvh::PinInfo& info) {
    mvh::PinValue v;
    if (!info.variable) return 0.0f;
    switch (info.datatype) {
    case DT_ENUM: v.i = *static_cast<const int16_t*>(info.variable); break;
    case DT_BOOL: v.i = *static_cast<const uint8_t*>(info.variable); break;
    case DT_INT: v.i = *static_cast<const int32_t*>(info.variable); break;
    case DT_FLOAT: v.f = *static_cast<const float*>(info.variable); break;
    default: return 0.0f;
    }
    return static_cast<float>(mvlv2::port_value_of(info, v));
}

// The parameters' texts cross between run() and the GUI thread as [parameter, length, bytes...],
// each message in one push, so that the reader never finds a header without its text.
using TextQueue = boost::lockfree::spsc_queue<char>;

// [producer] `scratch` has room for 8 + length bytes. False when the queue has no room for it.
bool push_text(TextQueue& queue, int32_t parameter, const char* text, int32_t length, char* scratch) {
    if (queue.write_available() < 8 + static_cast<size_t>(length)) return false;
    std::memcpy(scratch, &parameter, 4);
    std::memcpy(scratch + 4, &length, 4);
    std::memcpy(scratch + 8, text, static_cast<size_t>(length));
    queue.push(scratch, 8 + static_cast<size_t>(length));
    return true;
}

// [consumer] The next message's header; its `length` bytes follow in the queue.
bool pop_text_header(TextQueue& queue, int32_t* parameter, int32_t* length) {
    char header[8];
    if (queue.read_available() < sizeof header) return false;
    queue.pop(header, sizeof header);
    std::memcpy(parameter, header, 4);
    std::memcpy(length, header + 4, 4);
    return true;
}

class Plugin {
public:
    Plugin(double rate, const char* bundle, const LV2_Feature* const* features);
    ~Plugin();
    bool ok() const { return m_engine != nullptr; }

    void connect(uint32_t port, void* data) {
        if (port < m_data.size()) m_data[port] = data;
    }
    void activate();
    void deactivate();
    void run(uint32_t frames);
    LV2_State_Status save(LV2_State_Store_Function store, LV2_State_Handle handle, const LV2_Feature* const* features);
    LV2_State_Status restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                             const LV2_Feature* const* features);

private:
    void log(LV2_URID type, const std::string& line);
    std::unique_ptr<mvh::Engine> build(const json& stored_pins);
    void bind();  // [gui] the ports' instances and pins in the current engine
    void gui_tick();
    void read_atoms(uint32_t frames);
    void write_midi_out();
    void announce_parameters();
    void write_notify();
    void wait_for_gui();
    std::set<std::string> save_banks(LV2_State_Make_Path* make_path);

    std::string m_bundle;
    double m_rate;
    LV2_URID_Map* m_map = nullptr;
    LV2_Log_Logger m_logger{};
    bool m_have_log = false;
    Urids m_urid{};
    mvlv2::PortPlan m_plan;
    json m_patch;

    GuiThread m_gui;
    std::unique_ptr<mvh::Engine> m_engine;
    bool m_active = false;

    std::vector<void*> m_data;  // by port index
    std::vector<ControlBinding> m_controls;  // by port index (ControlIn/Out)
    std::vector<mvh::Instance*> m_midi_in;   // by port index (AtomIn): its midi_source, or null
    std::vector<int> m_midi_in_pin;
    std::vector<int> m_midi_out_port;        // engine MIDI output k -> port index
    std::vector<std::pair<mvh::Instance*, int>> m_parameter_pins;  // by plan.parameters index
    std::vector<LV2_URID> m_parameter_urids;
    std::vector<std::unique_ptr<std::atomic<float>>> m_gui_outputs;  // by port index: GUI-side outputs
    std::vector<const float*> m_in_channels;
    std::vector<float*> m_out_channels;
    std::vector<mvh::EngineEvent> m_events;
    LV2_Atom_Forge m_forge{};

    // Texts from patch:Set messages, from run() to the GUI thread: [parameter, length, bytes...].
    TextQueue m_texts{kTextBytes};
    // The parameters' texts as they change, the other way, for the host to show (same layout).
    TextQueue m_notes{kTextBytes};
    std::vector<char> m_note_text = std::vector<char>(kTextBytes);  // [audio] one text popped
    std::vector<char> m_text_message = std::vector<char>(kTextBytes + 8);  // [audio] one message pushed
    std::vector<std::optional<std::string>> m_announced;  // [gui] by parameter: the text last sent
    std::atomic<bool> m_get_asked{false};  // a patch:Get came: every text is sent again
    int m_notify_port = -1;
    // Freewheeling, the GUI side ticks only when run() asks (m_tick_requests) and says when it has
    // (m_ticked); otherwise it ticks at its own pace.
    std::atomic<bool> m_freewheeling{false};
    std::atomic<uint64_t> m_tick_requests{0}, m_ticked{0};
    std::vector<const float*> m_piece_in;
    std::vector<float*> m_piece_out;
    std::vector<mvh::EngineMidiOut> m_midi_collected;
    int m_ticks = 0;
};

LV2_URID map_uri(LV2_URID_Map* map, const char* uri) { return map->map(map->handle, uri); }

Plugin::Plugin(double rate, const char* bundle, const LV2_Feature* const* features) : m_bundle(bundle), m_rate(rate) {
    const LV2_Options_Option* options = nullptr;
    for (int k = 0; features && features[k]; ++k) {
        if (!std::strcmp(features[k]->URI, LV2_URID__map)) m_map = static_cast<LV2_URID_Map*>(features[k]->data);
        if (!std::strcmp(features[k]->URI, LV2_OPTIONS__options)) options = static_cast<const LV2_Options_Option*>(features[k]->data);
    }
    lv2_log_logger_init(&m_logger, m_map, nullptr);
    for (int k = 0; features && features[k]; ++k)
        if (!std::strcmp(features[k]->URI, LV2_LOG__log)) {
            lv2_log_logger_init(&m_logger, m_map, static_cast<LV2_Log_Log*>(features[k]->data));
            m_have_log = true;
        }
    (void)options;
    // Without urid:map (lv2apply passes no features) only a plug-in without atom ports can run.
    if (m_map) m_urid = {map_uri(m_map, LV2_MIDI__MidiEvent),   map_uri(m_map, LV2_ATOM__Object),
              map_uri(m_map, LV2_ATOM__Blank),       map_uri(m_map, LV2_ATOM__Path),
              map_uri(m_map, LV2_ATOM__String),      map_uri(m_map, LV2_ATOM__Float),
              map_uri(m_map, LV2_ATOM__Double),      map_uri(m_map, LV2_ATOM__Int),
              map_uri(m_map, LV2_ATOM__Long),        map_uri(m_map, LV2_ATOM__Sequence),
              map_uri(m_map, LV2_ATOM__URID),        map_uri(m_map, LV2_TIME__Position),
              map_uri(m_map, LV2_TIME__beatsPerMinute), map_uri(m_map, LV2_PATCH__Set),
              map_uri(m_map, LV2_PATCH__property),   map_uri(m_map, LV2_PATCH__value),
              map_uri(m_map, LV2_PATCH__Get),        0};
    if (m_map) lv2_atom_forge_init(&m_forge, m_map);
    try {
        std::ifstream ports(fs::path(m_bundle) / "ports.json"), patch(fs::path(m_bundle) / "patch.json");
        if (!ports || !patch) throw std::runtime_error("the bundle has no ports.json or patch.json");
        m_plan = mvlv2::plan_from_json(json::parse(ports));
        m_patch = json::parse(patch);
    } catch (const std::exception& e) {
        log(m_logger.Error, m_bundle + ": " + e.what());
        return;
    }
    bool atoms = false;
    for (const mvlv2::PortSpec& p : m_plan.ports)
        atoms = atoms || p.kind == mvlv2::PortSpec::AtomIn || p.kind == mvlv2::PortSpec::AtomOut;
    if (!m_map && atoms) {
        log(0, "the host gives no urid:map, which MIDI and parameters need");
        return;
    }
    if (m_map) {
        m_urid.state_pins = map_uri(m_map, (m_plan.uri + "#stored_pins").c_str());
        for (const mvlv2::ParameterSpec& p : m_plan.parameters)
            m_parameter_urids.push_back(map_uri(m_map, (m_plan.uri + "#" + p.key).c_str()));
    }
    const size_t n = m_plan.ports.size();
    m_data.assign(n, nullptr);
    m_controls.assign(n, {});
    m_midi_in.assign(n, nullptr);
    m_midi_in_pin.assign(n, -1);
    for (size_t k = 0; k < n; ++k) m_gui_outputs.push_back(std::make_unique<std::atomic<float>>(0.0f));
    m_events.reserve(kMaxEvents);
    m_gui.start([this] { gui_tick(); });
    try {
        m_gui.call([&] {
            m_engine = build(json::object());
            bind();
        });
    } catch (const std::exception& e) {
        log(m_logger.Error, e.what());
        m_engine.reset();
    }
}

Plugin::~Plugin() {
    m_gui.call([&] {
        if (!m_engine) return;
        m_engine->deactivate();
        m_engine->close_gui_objects();
        m_engine->close();
        m_engine.reset();
    });
    // Before the members its tick reads go.
    m_gui.stop();
}

void Plugin::log(LV2_URID type, const std::string& line) {
    if (!type) type = m_logger.Error;
    if (m_have_log) m_logger.log->printf(m_logger.log->handle, type, "%s: %s\n", m_plan.name.empty() ? "mvhost" : m_plan.name.c_str(), line.c_str());
    else std::fprintf(stderr, "%s: %s\n", m_plan.name.empty() ? "mvhost" : m_plan.name.c_str(), line.c_str());
}

// [gui] The bundle's patch with the stored pins of a saved state over its own values.
std::unique_ptr<mvh::Engine> Plugin::build(const json& stored_pins) {
    json doc = m_patch;
    for (json& in : doc["instances"]) {
        const std::string name = in["name"].get<std::string>();
        if (!stored_pins.contains(name)) continue;
        if (!in.contains("pins")) in["pins"] = json::object();
        for (auto it = stored_pins[name].begin(); it != stored_pins[name].end(); ++it) in["pins"][it.key()] = it.value();
        in["restored"] = true;
    }
    mvh::Engine::Options o;
    o.threads = mvh::Engine::Threads::Two;
    o.sample_rate = m_rate;
    // Message boxes nobody answers take their default answer; the host's log shows what they said.
    o.report = [this](const std::string& line) { log(m_logger.Note, line); };
    auto engine = mvh::Engine::from_document(doc, (fs::path(m_bundle) / "patch.json").string(), m_bundle, o);
    std::vector<std::pair<mvh::Instance*, int>> midi_out;
    for (const mvlv2::PortSpec& p : m_plan.ports)
        if (p.kind == mvlv2::PortSpec::AtomOut && !p.pin.empty()) midi_out.push_back(mvlv2::find_pin(engine->host(), p.pin));
    engine->set_midi_outputs(midi_out);
    return engine;
}

void Plugin::bind() {
    mvh::Host& host = m_engine->host();
    m_midi_out_port.clear();
    m_parameter_pins.clear();
    for (size_t k = 0; k < m_plan.ports.size(); ++k) {
        const mvlv2::PortSpec& p = m_plan.ports[k];
        m_controls[k] = {};
        m_midi_in[k] = nullptr;
        if (p.kind == mvlv2::PortSpec::ControlIn || p.kind == mvlv2::PortSpec::ControlOut) {
            auto [inst, pin] = mvlv2::find_pin(host, p.pin);
            if (!inst) throw std::runtime_error("ports.json names \"" + p.pin + "\", which the patch does not have");
            // What the pin holds now is what the port is taken to say until it changes.
            m_controls[k] = {inst, pin, static_cast<float>(mvlv2::port_value_of(inst->pins()[pin], inst->value(pin)))};
        } else if (p.kind == mvlv2::PortSpec::AtomIn && !p.pin.empty()) {
            m_midi_in[k] = host.find(p.pin);
            m_midi_in_pin[k] = m_midi_in[k] ? m_midi_in[k]->find_pin("MIDI In") : -1;
        } else if (p.kind == mvlv2::PortSpec::AtomOut && p.pin.empty()) {
            m_notify_port = static_cast<int>(k);
        } else if (p.kind == mvlv2::PortSpec::AtomOut) {
            m_midi_out_port.push_back(static_cast<int>(k));
        }
    }
    for (const mvlv2::ParameterSpec& p : m_plan.parameters) m_parameter_pins.push_back(mvlv2::find_pin(host, p.pin));
    // A new engine (a restored state) may hold other texts: all are sent again.
    m_announced.assign(m_plan.parameters.size(), std::nullopt);
    m_in_channels.assign(m_engine->inputs().size(), nullptr);
    m_out_channels.assign(m_engine->outputs().size(), nullptr);
    m_piece_in.assign(m_in_channels.size(), nullptr);
    m_piece_out.assign(m_out_channels.size(), nullptr);
    m_midi_collected.reserve(mvh::Engine::kMidiOutPerRun);
}

void Plugin::activate() {
    if (!m_engine) return;
    m_gui.call([&] { m_engine->activate(); });
    m_active = true;
}

void Plugin::deactivate() {
    if (!m_engine) return;
    m_active = false;
    m_gui.call([&] { m_engine->deactivate(); });
}

// [gui] What the audio side sent is taken in, the texts the host set reach their pins, and the
// GUI-side outputs are published for run().
void Plugin::gui_tick() {
    const uint64_t asked = m_tick_requests.load(std::memory_order_acquire);
    if (m_freewheeling.load(std::memory_order_relaxed) && m_ticked.load(std::memory_order_relaxed) >= asked) return;
    if (!m_engine || !m_engine->active()) {
        m_ticked.store(asked, std::memory_order_release);
        m_ticked.notify_all();
        return;
    }
    int32_t param, length;
    while (pop_text_header(m_texts, &param, &length)) {
        std::string text(static_cast<size_t>(length), '\0');
        m_texts.pop(text.data(), text.size());
        if (param >= 0 && param < static_cast<int>(m_parameter_pins.size()) && m_parameter_pins[param].first)
            m_engine->set_control(m_parameter_pins[param].first, m_parameter_pins[param].second, mvh::PinValue{0, 0.0f, text});
    }
    m_engine->pump();
    // Offline every tick stands for the end of one of the patch's blocks, after which `render`
    // makes the idle calls; live, they come at about the pace a person sees as smooth.
    if (m_freewheeling.load(std::memory_order_relaxed) || ++m_ticks % kIdleEvery == 0) m_engine->idle();
    announce_parameters();
    for (size_t k = 0; k < m_plan.ports.size(); ++k) {
        const ControlBinding& c = m_controls[k];
        if (m_plan.ports[k].kind == mvlv2::PortSpec::ControlOut && c.inst->pins()[c.pin].gui_only())
            m_gui_outputs[k]->store(static_cast<float>(mvlv2::port_value_of(c.inst->pins()[c.pin], c.inst->value(c.pin))),
                                    std::memory_order_relaxed);
    }
    m_ticked.store(asked, std::memory_order_release);
    m_ticked.notify_all();
}

// [audio] MIDI, tempo and parameter texts of the input sequences, as engine events.
void Plugin::read_atoms(uint32_t frames) {
    for (size_t k = 0; k < m_plan.ports.size(); ++k) {
        if (m_plan.ports[k].kind != mvlv2::PortSpec::AtomIn || !m_data[k]) continue;
        const auto* seq = static_cast<const LV2_Atom_Sequence*>(m_data[k]);
        const size_t first = m_events.size();
        LV2_ATOM_SEQUENCE_FOREACH(seq, ev) {
            const int frame = static_cast<int>(std::min<int64_t>(std::max<int64_t>(ev->time.frames, 0), frames - 1));
            if (ev->body.type == m_urid.midi_event) {
                if (!m_midi_in[k] || m_midi_in_pin[k] < 0 || ev->body.size < 1 || m_events.size() >= kMaxEvents) continue;
                const auto* b = reinterpret_cast<const uint8_t*>(ev + 1);
                if (b[0] < 0x80 || b[0] >= 0xF0) continue;  // channel messages only, as the patch's MIDI
                int32_t word = b[0];
                if (ev->body.size > 1) word |= b[1] << 8;
                if (ev->body.size > 2) word |= b[2] << 16;
                mvh::EngineEvent e;
                e.kind = mvh::EngineEvent::Midi;
                e.frame = frame;
                e.inst = m_midi_in[k];
                e.pin = m_midi_in_pin[k];
                e.midi = word;
                m_events.push_back(e);
            } else if (ev->body.type == m_urid.atom_object || ev->body.type == m_urid.atom_blank) {
                const auto* obj = reinterpret_cast<const LV2_Atom_Object*>(&ev->body);
                if (obj->body.otype == m_urid.time_position) {
                    const LV2_Atom* bpm = nullptr;
                    lv2_atom_object_get(obj, m_urid.time_bpm, &bpm, 0);
                    if (bpm && bpm->type == m_urid.atom_float) m_engine->set_tempo(reinterpret_cast<const LV2_Atom_Float*>(bpm)->body);
                    else if (bpm && bpm->type == m_urid.atom_double)
                        m_engine->set_tempo(reinterpret_cast<const LV2_Atom_Double*>(bpm)->body);
                } else if (obj->body.otype == m_urid.patch_get) {
                    m_get_asked.store(true, std::memory_order_relaxed);
                } else if (obj->body.otype == m_urid.patch_set) {
                    const LV2_Atom *property = nullptr, *value = nullptr;
                    lv2_atom_object_get(obj, m_urid.patch_property, &property, m_urid.patch_value, &value, 0);
                    if (!property || property->type != m_urid.atom_urid || !value) continue;
                    if (value->type != m_urid.atom_path && value->type != m_urid.atom_string) continue;
                    const LV2_URID key = reinterpret_cast<const LV2_Atom_URID*>(property)->body;
                    for (size_t p = 0; p < m_parameter_urids.size(); ++p) {
                        if (m_parameter_urids[p] != key) continue;
                        const char* text = static_cast<const char*>(LV2_ATOM_BODY_CONST(value));
                        const int32_t length = static_cast<int32_t>(strnlen(text, value->size));
                        if (!push_text(m_texts, static_cast<int32_t>(p), text, length, m_text_message.data())) break;
                    }
                }
            }
        }
        // Several sequences merge in frame order; each is in order already.
        if (first > 0) std::inplace_merge(m_events.begin(), m_events.begin() + static_cast<long>(first), m_events.end(),
                                          [](const mvh::EngineEvent& a, const mvh::EngineEvent& b) { return a.frame < b.frame; });
    }
}

void Plugin::write_midi_out() {
    for (size_t k = 0; k < m_midi_out_port.size(); ++k) {
        auto* seq = static_cast<LV2_Atom_Sequence*>(m_data[m_midi_out_port[k]]);
        if (!seq) continue;
        const uint32_t capacity = seq->atom.size;
        lv2_atom_forge_set_buffer(&m_forge, reinterpret_cast<uint8_t*>(seq), capacity + sizeof(LV2_Atom));
        LV2_Atom_Forge_Frame frame;
        if (!lv2_atom_forge_sequence_head(&m_forge, &frame, 0)) continue;
        for (const mvh::EngineMidiOut& m : m_midi_collected) {
            if (m.output != static_cast<int32_t>(k)) continue;
            const uint8_t bytes[3] = {static_cast<uint8_t>(m.midi), static_cast<uint8_t>(m.midi >> 8),
                                      static_cast<uint8_t>(m.midi >> 16)};
            const uint32_t size = (bytes[0] & 0xE0) == 0xC0 ? 2 : 3;  // program change, channel pressure
            if (!lv2_atom_forge_frame_time(&m_forge, m.frame) || !lv2_atom_forge_atom(&m_forge, size, m_urid.midi_event) ||
                !lv2_atom_forge_write(&m_forge, bytes, size))
                break;
        }
        lv2_atom_forge_pop(&m_forge, &frame);
    }
}

// [gui] Each parameter's text, when it is not the one last sent (a file the host chose, a bank the
// editor saved, a restored state), goes to run() for the host; a file of the bundle is named by its
// whole path, as a host's file chooser names it.
void Plugin::announce_parameters() {
    if (m_notify_port < 0) return;
    if (m_get_asked.exchange(false, std::memory_order_relaxed)) m_announced.assign(m_announced.size(), std::nullopt);
    for (size_t p = 0; p < m_parameter_pins.size(); ++p) {
        auto [inst, pin] = m_parameter_pins[p];
        if (!inst) continue;
        std::string text = inst->value(pin).text;
        if (m_announced[p] == text) continue;
        const std::string sent = text;
        if (m_plan.parameters[p].path && !text.empty() && fs::path(text).is_relative()) text = (fs::path(m_bundle) / text).lexically_normal().string();
        std::vector<char> scratch(8 + text.size());
        if (text.size() + 1 > kTextBytes - 8 ||
            !push_text(m_notes, static_cast<int32_t>(p), text.data(), static_cast<int32_t>(text.size()), scratch.data()))
            return;  // next tick
        m_announced[p] = sent;
    }
}

// [audio] The texts announced since the last run, as patch:Set messages on the notify port.
void Plugin::write_notify() {
    if (m_notify_port < 0) return;
    auto* seq = static_cast<LV2_Atom_Sequence*>(m_data[m_notify_port]);
    bool room = seq != nullptr;
    LV2_Atom_Forge_Frame frame;
    if (room) {
        lv2_atom_forge_set_buffer(&m_forge, reinterpret_cast<uint8_t*>(seq), seq->atom.size + sizeof(LV2_Atom));
        room = lv2_atom_forge_sequence_head(&m_forge, &frame, 0) != 0;
    }
    int32_t p, length;
    while (pop_text_header(m_notes, &p, &length)) {
        m_notes.pop(m_note_text.data(), static_cast<size_t>(length));
        m_note_text[static_cast<size_t>(length)] = '\0';
        // One message takes its text and about 100 bytes of framing; one that does not fit is
        // lost (a host asks again with patch:Get), and what was written before it stays.
        if (!room || m_forge.size - m_forge.offset < static_cast<uint32_t>(length) + 128) continue;
        LV2_Atom_Forge_Frame obj;
        lv2_atom_forge_frame_time(&m_forge, 0);
        lv2_atom_forge_object(&m_forge, &obj, 0, m_urid.patch_set);
        lv2_atom_forge_key(&m_forge, m_urid.patch_property);
        lv2_atom_forge_urid(&m_forge, m_parameter_urids[p]);
        lv2_atom_forge_key(&m_forge, m_urid.patch_value);
        lv2_atom_forge_typed_string(&m_forge, m_plan.parameters[p].path ? m_urid.atom_path : m_urid.atom_string,
                                    m_note_text.data(), static_cast<uint32_t>(length));
        lv2_atom_forge_pop(&m_forge, &obj);
    }
    if (room) lv2_atom_forge_pop(&m_forge, &frame);
}

void Plugin::run(uint32_t frames) {
    const size_t n = m_plan.ports.size();
    for (size_t k = 0; k < n; ++k)
        if (m_plan.ports[k].kind == mvlv2::PortSpec::Latency && m_data[k]) *static_cast<float*>(m_data[k]) = 0.0f;
    if (!m_engine || !m_active || frames == 0) {
        for (size_t k = 0; k < n; ++k)
            if (m_plan.ports[k].kind == mvlv2::PortSpec::AudioOut && m_data[k])
                std::memset(m_data[k], 0, sizeof(float) * frames);
        return;
    }
    bool freewheel = false;
    for (size_t k = 0; k < n; ++k)
        if (m_plan.ports[k].kind == mvlv2::PortSpec::Freewheel && m_data[k]) freewheel = *static_cast<float*>(m_data[k]) >= 0.5f;
    m_freewheeling.store(freewheel, std::memory_order_relaxed);

    m_events.clear();
    read_atoms(frames);
    // Controls that moved take their new value at the start of the block (before the notes in it).
    size_t values = 0;
    for (size_t k = 0; k < n; ++k) {
        const mvlv2::PortSpec& p = m_plan.ports[k];
        ControlBinding& c = m_controls[k];
        if (p.kind != mvlv2::PortSpec::ControlIn || !m_data[k] || m_events.size() >= kMaxEvents) continue;
        const float v = *static_cast<const float*>(m_data[k]);
        if (v == c.last) continue;
        c.last = v;
        m_events.insert(m_events.begin() + static_cast<long>(values++), mvlv2::value_event(c.inst, c.inst->pins()[c.pin], v, 0));
    }
    size_t in = 0, out = 0;
    for (size_t k = 0; k < n; ++k) {
        const mvlv2::PortSpec& p = m_plan.ports[k];
        if (p.kind == mvlv2::PortSpec::AudioIn && in < m_in_channels.size()) m_in_channels[in++] = static_cast<const float*>(m_data[k]);
        if (p.kind == mvlv2::PortSpec::AudioOut && out < m_out_channels.size()) m_out_channels[out++] = static_cast<float*>(m_data[k]);
    }
    m_midi_collected.clear();
    if (!freewheel) {
        m_engine->run(static_cast<int>(frames), m_in_channels.data(), m_out_channels.data(), m_events.data(), m_events.size());
        m_midi_collected.insert(m_midi_collected.end(), m_engine->midi_out().begin(), m_engine->midi_out().end());
    } else {
        // Offline, the run is cut where the patch's own blocks end, and the GUI side does its work
        // there and only there, as `mvhost render` does it between blocks: whatever the host's
        // block lengths, the same sound comes out.
        const int block = std::max(1, m_engine->block_size());
        int done = 0;
        size_t next = 0;
        while (done < static_cast<int>(frames)) {
            const int64_t clock = m_engine->frames_played();
            const int piece = static_cast<int>(std::min<int64_t>(block - clock % block, frames - done));
            size_t last = next;
            while (last < m_events.size() && m_events[last].frame < done + piece) m_events[last++].frame -= done;
            for (size_t c = 0; c < m_in_channels.size(); ++c) m_piece_in[c] = m_in_channels[c] ? m_in_channels[c] + done : nullptr;
            for (size_t c = 0; c < m_out_channels.size(); ++c) m_piece_out[c] = m_out_channels[c] ? m_out_channels[c] + done : nullptr;
            m_engine->run(piece, m_piece_in.data(), m_piece_out.data(), m_events.data() + next, last - next);
            for (mvh::EngineMidiOut m : m_engine->midi_out())
                if (m_midi_collected.size() < m_midi_collected.capacity()) m_midi_collected.push_back({m.frame + done, m.output, m.midi});
            next = last;
            done += piece;
            if ((clock + piece) % block == 0) wait_for_gui();
        }
    }
    write_midi_out();
    write_notify();
    for (size_t k = 0; k < n; ++k) {
        if (m_plan.ports[k].kind != mvlv2::PortSpec::ControlOut || !m_data[k]) continue;
        const ControlBinding& c = m_controls[k];
        const mvh::PinInfo& info = c.inst->pins()[c.pin];
        *static_cast<float*>(m_data[k]) = info.gui_only() ? m_gui_outputs[k]->load(std::memory_order_relaxed) : audio_output_value(info);
    }
}

// [audio, freewheeling] One GUI tick, asked for and waited for.
void Plugin::wait_for_gui() {
    const uint64_t want = m_tick_requests.fetch_add(1, std::memory_order_acq_rel) + 1;
    m_gui.poke();
    for (uint64_t seen = m_ticked.load(std::memory_order_acquire); seen < want; seen = m_ticked.load(std::memory_order_acquire))
        m_ticked.wait(seen, std::memory_order_acquire);
}

// ---- state -------------------------------------------------------------------------------------

LV2_State_Status Plugin::save(LV2_State_Store_Function store, LV2_State_Handle handle, const LV2_Feature* const* features) {
    if (!m_engine || !m_map) return LV2_STATE_ERR_UNKNOWN;
    LV2_State_Map_Path* map_path = nullptr;
    LV2_State_Make_Path* make_path = nullptr;
    for (int k = 0; features && features[k]; ++k) {
        if (!std::strcmp(features[k]->URI, LV2_STATE__mapPath)) map_path = static_cast<LV2_State_Map_Path*>(features[k]->data);
        if (!std::strcmp(features[k]->URI, LV2_STATE__makePath)) make_path = static_cast<LV2_State_Make_Path*>(features[k]->data);
    }
    json pins = json::object();
    m_gui.call([&] {
        const std::set<std::string> banks = make_path ? save_banks(make_path) : std::set<std::string>();
        const json doc = m_engine->stored_patch();
        mvh::Host& host = m_engine->host();
        for (const json& in : doc["instances"]) {
            mvh::Instance* inst = host.find(in["name"].get<std::string>());
            if (!inst || !in.contains("pins")) continue;
            for (auto it = in["pins"].begin(); it != in["pins"].end(); ++it) {
                auto [i2, pin] = mvlv2::find_pin(host, inst->name() + "." + it.key());
                if (pin < 0) continue;
                const mvh::PinInfo& info = inst->pins()[pin];
                bool parameter = false;
                for (const auto& p : m_parameter_pins) parameter = parameter || (p.first == inst && p.second == pin);
                if (!(info.flags & IO_PATCH_STORE) && !parameter) continue;
                json value = mvlv2::is_file_pin(info) ? json(inst->value(pin).text) : it.value();
                // A file outside the bundle is named as the host wants it named (it may copy it
                // into the session); files of the bundle stay relative to it.
                if (mvlv2::is_file_pin(info) && value.is_string() && fs::path(value.get<std::string>()).is_absolute() && map_path) {
                    std::string file = value.get<std::string>();
                    // A copy in the state's own folder travels with the session to another machine.
                    if (make_path && !banks.count(file)) {
                        char* copy = make_path->path(make_path->handle, fs::path(file).filename().c_str());
                        std::error_code ec;
                        if (copy && fs::copy_file(file, copy, fs::copy_options::overwrite_existing, ec)) file = copy;
                        std::free(copy);
                    }
                    char* abstract = map_path->abstract_path(map_path->handle, file.c_str());
                    if (abstract) {
                        value = json{{"mapped", abstract}};
                        std::free(abstract);
                    }
                }
                pins[inst->name()][it.key()] = value;
            }
        }
    });
    const std::string text = pins.dump();
    return store(handle, m_urid.state_pins, text.c_str(), text.size() + 1, m_urid.atom_string,
                 LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE);
}

// [gui] Each oscillator's editor saves the bank it holds as a person would (File > Save bank, the
// file chooser answered with a file of the state's folder), so that a bank edited or built in the
// session reopens with the state, on another machine too, whatever became of the file it came
// from. Its "wbf_path" then names that file, as it does after a person saves. Returns the files
// written.
std::set<std::string> Plugin::save_banks(LV2_State_Make_Path* make_path) {
    std::set<std::string> saved;
    for (const auto& inst : m_engine->host().instances()) {
        const int pin = inst->find_pin("wbf_path");
        if (pin < 0 || !inst->gui() || !inst->is_open()) continue;
        char* made = make_path->path(make_path->handle, (inst->name() + ".wb1").c_str());
        if (!made) continue;
        const std::string file = made;
        std::free(made);
        mvp::ScriptedUser saver;
        saver.set_reporter([this](const std::string& line) { log(m_logger.Note, line); });
        saver.choose_menu({"File", "Save bank"}).choose_file(file);
        {
            mvp::ScopedUser scope(&saver);
            inst->pointer(GD_POINTER_DOWN, 1, 1);
            inst->pointer(GD_POINTER_UP, 1, 1);
        }
        if (saver.pending() == 0 && saver.problems().empty() && inst->value(pin).text == file) saved.insert(file);
        else
            log(m_logger.Warning, "instance \"" + inst->name() + "\": its bank could not be saved into the state; the state names the bank file it came from");
    }
    return saved;
}

LV2_State_Status Plugin::restore(LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                                 const LV2_Feature* const* features) {
    if (!m_map) return LV2_STATE_ERR_UNKNOWN;
    LV2_State_Map_Path* map_path = nullptr;
    for (int k = 0; features && features[k]; ++k)
        if (!std::strcmp(features[k]->URI, LV2_STATE__mapPath)) map_path = static_cast<LV2_State_Map_Path*>(features[k]->data);
    size_t size = 0;
    uint32_t type = 0, flags = 0;
    const void* data = retrieve(handle, m_urid.state_pins, &size, &type, &flags);
    if (!data || type != m_urid.atom_string || size == 0) return LV2_STATE_SUCCESS;  // nothing of ours stored
    json pins;
    try {
        pins = json::parse(std::string(static_cast<const char*>(data), strnlen(static_cast<const char*>(data), size)));
        if (!pins.is_object()) throw std::runtime_error("not an object");
    } catch (const std::exception& e) {
        log(m_logger.Error, std::string("the saved state is damaged and was not restored: ") + e.what());
        return LV2_STATE_ERR_UNKNOWN;
    }
    for (auto& [name, values] : pins.items())
        for (auto& [pin, value] : values.items())
            if (value.is_object() && value.contains("mapped") && value["mapped"].is_string()) {
                std::string abstract = value["mapped"].get<std::string>();
                char* path = map_path ? map_path->absolute_path(map_path->handle, abstract.c_str()) : nullptr;
                value = path ? std::string(path) : abstract;
                std::free(path);
            }
    LV2_State_Status status = LV2_STATE_SUCCESS;
    // Restoring is never called beside run(): the patch is built anew with the saved values, as a
    // saved patch reopens, and takes the place of the running one.
    m_gui.call([&] {
        if (m_engine) {
            m_engine->deactivate();
            m_engine->close_gui_objects();
            m_engine->close();
            m_engine.reset();
        }
        try {
            m_engine = build(pins);
        } catch (const std::exception& e) {
            log(m_logger.Error, std::string("the saved state could not be restored, the bundle's own patch plays: ") + e.what());
            status = LV2_STATE_ERR_UNKNOWN;
            try {
                m_engine = build(json::object());
            } catch (const std::exception& e2) {
                log(m_logger.Error, e2.what());
                return;
            }
        }
        bind();
        if (m_active) m_engine->activate();
    });
    return status;
}

// ---- the C entry points --------------------------------------------------------------------------

LV2_Handle instantiate(const LV2_Descriptor*, double rate, const char* bundle, const LV2_Feature* const* features) {
    try {
        auto p = std::make_unique<Plugin>(rate, bundle ? bundle : "", features);
        if (!p->ok()) return nullptr;
        return p.release();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mvhost_lv2: %s\n", e.what());
        return nullptr;
    }
}

void connect_port(LV2_Handle h, uint32_t port, void* data) { static_cast<Plugin*>(h)->connect(port, data); }
void activate(LV2_Handle h) { static_cast<Plugin*>(h)->activate(); }
void run(LV2_Handle h, uint32_t frames) { static_cast<Plugin*>(h)->run(frames); }
void deactivate(LV2_Handle h) { static_cast<Plugin*>(h)->deactivate(); }
void cleanup(LV2_Handle h) { delete static_cast<Plugin*>(h); }

LV2_State_Status save(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t,
                      const LV2_Feature* const* features) {
    try {
        return static_cast<Plugin*>(h)->save(store, handle, features);
    } catch (const std::exception&) {
        return LV2_STATE_ERR_UNKNOWN;
    }
}

LV2_State_Status restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, uint32_t,
                         const LV2_Feature* const* features) {
    try {
        return static_cast<Plugin*>(h)->restore(retrieve, handle, features);
    } catch (const std::exception&) {
        return LV2_STATE_ERR_UNKNOWN;
    }
}

const LV2_State_Interface kState = {save, restore};

const void* extension_data(const char* uri) { return std::strcmp(uri, LV2_STATE__interface) == 0 ? &kState : nullptr; }

// The URI comes from the bundle's manifest, so the descriptor is made when the host asks for it.
LV2_Descriptor g_descriptor = {nullptr, instantiate, connect_port, activate, run, deactivate, cleanup, extension_data};

}  // namespace

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(uint32_t index);

namespace {

// Each bundle carries its own copy of this library, beside the ports.json that names its URI.
std::string bundle_uri() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&lv2_descriptor), &info) || !info.dli_fname) return {};
    try {
        std::ifstream in(fs::path(info.dli_fname).parent_path() / "ports.json");
        return json::parse(in).at("uri").get<std::string>();
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    static const std::string uri = bundle_uri();
    if (index != 0 || uri.empty()) return nullptr;
    g_descriptor.URI = uri.c_str();
    return &g_descriptor;
}
