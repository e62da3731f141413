// The engine: a built patch run frame by frame on one thread (render) or on an audio thread with
// the GUI side on another (live drivers), the two joined by lock-free single-producer queues.
#include "mvhost/engine.h"

#include <boost/lockfree/spsc_queue.hpp>

#include <algorithm>
#include <bitset>
#include <cmath>
#include <cstring>

#include "registry.h"

namespace mvh {

namespace {

// Big enough that a person (or a script) cannot fill them between two GUI ticks.
constexpr size_t kQueueMessages = 1 << 15;
constexpr size_t kTextBytes = 1 << 20;

struct ToAudio {
    Instance* inst;
    int pin;
    PinValue* value;  // made on the GUI thread, moved from on the audio thread, freed back on the GUI thread
};

struct MidiToAudio {
    Instance* inst;
    int pin;
    int32_t word;
};

struct ToGui {
    Instance* inst;
    int pin;
    int32_t i;
    float f;
    int32_t text_length;  // -1: no text; otherwise that many bytes wait in the text queue
    uint8_t has_value;
    uint8_t notify;
};

}  // namespace

// What crosses between the two threads, one queue per direction and kind. A text announced by the
// audio side goes into its own byte queue before the message that names it, so that the GUI thread
// finds all of it once it sees the message.
class EngineQueues : public ThreadBridge {
public:
    EngineQueues()
        : m_to_audio(kQueueMessages), m_spent(kQueueMessages), m_midi(kQueueMessages), m_to_gui(kQueueMessages),
          m_text(kTextBytes) {}
    ~EngineQueues() override {
        ToAudio m;
        while (m_to_audio.pop(m)) delete m.value;
        free_spent();
    }

    // [gui]
    void to_audio(Instance* inst, int gui_pin, const PinValue& value) override {
        ToAudio m{inst, gui_pin, new PinValue(value)};
        if (!m_to_audio.push(m)) {
            delete m.value;
            m_dropped.fetch_add(1, std::memory_order_relaxed);
        }
    }

    // [audio]
    void to_gui(Instance* inst, int gui_pin, int32_t i, float f, const char* text, bool has_value,
                bool notify) override {
        const size_t length = text ? std::strlen(text) : 0;
        if (m_to_gui.write_available() < 1 || m_text.write_available() < length) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        if (length) m_text.push(text, length);
        m_to_gui.push(ToGui{inst, gui_pin, i, f, text ? static_cast<int32_t>(length) : -1,
                            static_cast<uint8_t>(has_value), static_cast<uint8_t>(notify)});
    }

    // [gui]
    void midi_to_audio(Instance* inst, int gui_pin, int32_t word) {
        if (!m_midi.push(MidiToAudio{inst, gui_pin, word})) m_dropped.fetch_add(1, std::memory_order_relaxed);
    }

    // [audio] Values a person set, as pin-state events at `clock`; MIDI from the GUI side there too.
    void take_gui_writes(Engine& engine, int clock) {
        MidiToAudio midi;
        while (m_midi.pop(midi)) engine.queue_event(EngineEvent{EngineEvent::Midi, 0, midi.inst, midi.pin, midi.word, 0, 0.0f}, clock);
        ToAudio m;
        while (m_to_audio.pop(m)) {
            m.inst->queue_audio_value(m.pin, std::move(*m.value), clock);
            // Back to the GUI thread to be freed; the queue holds as many as the one it came
            // through, so this always fits.
            m_spent.push(m.value);
        }
    }

    // [audio] Texts the audio side is done with (the one a text pin held before its new one) wait
    // in a ring of strings made here, each swapped in and out, so that neither side allocates for
    // it and only this thread frees. A full ring (more texts in one tick than it holds) leaves the
    // text to be freed where it is.
    void retire(std::string& text) override {
        if (text.capacity() <= std::string().capacity()) return;  // in the string itself: nothing to free
        const size_t w = m_retired_write.load(std::memory_order_relaxed);
        if (w - m_retired_read.load(std::memory_order_acquire) == m_retired.size()) return;
        m_retired[w % m_retired.size()].swap(text);
        m_retired_write.store(w + 1, std::memory_order_release);
    }

    // [gui]
    void free_spent() {
        PinValue* v = nullptr;
        while (m_spent.pop(v)) delete v;
        size_t r = m_retired_read.load(std::memory_order_relaxed);
        for (const size_t w = m_retired_write.load(std::memory_order_acquire); r != w; ++r)
            std::string().swap(m_retired[r % m_retired.size()]);
        m_retired_read.store(r, std::memory_order_release);
    }

    struct Announcement {
        Instance* inst;
        int pin;
        int32_t i;
        float f;
        std::string text;
        bool has_text, has_value, notify;
    };
    // [gui] Moves what the audio side announced into `out`.
    void take_announcements(std::vector<Announcement>& out) {
        ToGui m;
        while (m_to_gui.pop(m)) {
            Announcement a{m.inst, m.pin, m.i, m.f, {}, m.text_length >= 0, m.has_value != 0, m.notify != 0};
            if (m.text_length > 0) {
                a.text.resize(static_cast<size_t>(m.text_length));
                m_text.pop(a.text.data(), a.text.size());
            }
            out.push_back(std::move(a));
        }
    }

    uint64_t dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    boost::lockfree::spsc_queue<ToAudio> m_to_audio;
    boost::lockfree::spsc_queue<PinValue*> m_spent;
    boost::lockfree::spsc_queue<MidiToAudio> m_midi;
    boost::lockfree::spsc_queue<ToGui> m_to_gui;
    boost::lockfree::spsc_queue<char> m_text;
    std::vector<std::string> m_retired = std::vector<std::string>(kQueueMessages);
    std::atomic<size_t> m_retired_write{0}, m_retired_read{0};
    std::atomic<uint64_t> m_dropped{0};
    friend class Engine;
    std::vector<Announcement> m_announced;  // [gui] taken in, not yet applied
};

// ---- building ----------------------------------------------------------------------------------

namespace {

void apply_rate_and_block(nlohmann::json& doc, const Engine::Options& o) {
    if (o.sample_rate > 0) doc["sample_rate"] = o.sample_rate;
    if (o.block_size > 0) doc["block_size"] = o.block_size;
}

}  // namespace

std::unique_ptr<Engine> Engine::from_file(const std::string& path, Options options) {
    PatchOverrides overrides = options.overrides;
    if (options.sample_rate > 0) overrides.sample_rate = options.sample_rate;
    if (options.block_size > 0) overrides.block_size = options.block_size;
    auto run = std::make_unique<PatchRun>(path, options.plugin_dirs, overrides, options.report);
    return std::unique_ptr<Engine>(new Engine(std::move(run), options.threads));
}

std::unique_ptr<Engine> Engine::from_document(const nlohmann::json& doc, const std::string& name_for_errors,
                                              const std::string& base_dir, Options options) {
    nlohmann::json d = doc;
    apply_rate_and_block(d, options);
    auto run = std::make_unique<PatchRun>(d, name_for_errors, base_dir, options.plugin_dirs, options.overrides, options.report);
    return std::unique_ptr<Engine>(new Engine(std::move(run), options.threads));
}

Engine::Engine(std::unique_ptr<PatchRun> run, Threads threads) : m_run(std::move(run)), m_threads(threads) {
    // Drivers run whatever their period is; the modules still see the patch's own blocks.
    m_run->host().keep_block_grid();
    find_inputs();
    if (m_threads == Threads::Two) {
        m_audio_schedule = m_run->schedule();
        m_gui_schedule = m_run->schedule();
        // A file whose messages all lie at its start has no length to repeat: it plays once.
        for (const ScheduledEvent& e : m_audio_schedule)
            if (e.looped) m_loop_length = std::max<int64_t>(m_loop_length, e.clock);
        if (m_loop_length > 0) {
            for (const ScheduledEvent& e : m_audio_schedule)
                if (e.looped) m_loop_schedule.push_back(e);
            m_audio_schedule.erase(std::remove_if(m_audio_schedule.begin(), m_audio_schedule.end(),
                                                  [](const ScheduledEvent& e) { return e.looped; }),
                                   m_audio_schedule.end());
        }
        m_queues = std::make_unique<EngineQueues>();
        m_sources = midi_sources();
        for (Instance* source : m_sources) m_source_pins.push_back(source->find_pin("MIDI In"));
        m_held.assign(m_sources.size() * 16, {});
        m_peak_count = m_run->outputs().size();
        m_peaks = std::make_unique<std::atomic<float>[]>(m_peak_count);
        for (size_t c = 0; c < m_peak_count; ++c) m_peaks[c].store(0.0f, std::memory_order_relaxed);
    }
}

Engine::~Engine() {
    deactivate();
    close();
}

void Engine::find_inputs() {
    for (const auto& inst : m_run->host().instances()) {
        if (inst->plugin().id() != "MVHOST_AUDIO_IN") continue;
        const int channels = inst->find_pin("Channels");
        const bool mono = channels >= 0 && inst->value(channels).i == 1;
        for (const char* side : {"Left", "Right"}) {
            const int pin = inst->find_pin(side);
            if (pin < 0) continue;
            const bool repeat = mono && std::strcmp(side, "Right") == 0;
            if (!repeat) m_inputs.push_back({inst.get(), pin, inst->name() + "." + side});
            m_input_mono.push_back(repeat);
        }
    }
}

float Engine::sample_rate() const { return m_run->host().config().sample_rate; }
int Engine::block_size() const { return m_run->host().config().block_size; }
const std::vector<OutputChannel>& Engine::outputs() const { return m_run->outputs(); }
int64_t Engine::total_frames() const { return m_run->total_samples(); }
Host& Engine::host() { return m_run->host(); }
uint64_t Engine::dropped_messages() const {
    return (m_queues ? m_queues->dropped() : 0) + m_midi_dropped.load(std::memory_order_relaxed);
}

void Engine::set_midi_outputs(std::vector<std::pair<Instance*, int>> pins) {
    m_midi_out_pins = std::move(pins);
    m_midi_out.clear();
    m_midi_out.reserve(kMidiOutPerRun);
    m_run->host().set_midi_tap(m_midi_out_pins.empty() ? nullptr : &Engine::tap_midi, this);
}

void Engine::tap_midi(void* self, Instance* from, int gui_pin, int32_t word, int clock) {
    auto* e = static_cast<Engine*>(self);
    for (size_t k = 0; k < e->m_midi_out_pins.size(); ++k) {
        if (e->m_midi_out_pins[k].first != from || e->m_midi_out_pins[k].second != gui_pin) continue;
        if (e->m_midi_out.size() >= kMidiOutPerRun) {
            e->m_midi_dropped.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        e->m_midi_out.push_back({std::max(0, clock - e->m_run_start), static_cast<int32_t>(k), word});
        return;
    }
}

std::vector<Instance*> Engine::midi_sources() const {
    std::vector<Instance*> found;
    for (const auto& inst : m_run->host().instances())
        if (inst->plugin().id() == "MVHOST_MIDI_SOURCE") found.push_back(inst.get());
    return found;
}

// ---- life --------------------------------------------------------------------------------------

void Engine::activate() {
    if (m_active || m_closed) return;
    Host& host = m_run->host();
    host.open();
    if (m_threads == Threads::Two) {
        host.set_bridge(m_queues.get());
        registry_freeze();
    }
    m_active = true;
}

void Engine::deactivate() {
    if (!m_active) return;
    m_active = false;
    if (m_threads == Threads::Two) {
        registry_thaw();
        pump(false);  // frees what is still in flight
        m_run->host().set_bridge(nullptr);
    }
}

void Engine::close_gui_objects(const std::function<void(Instance*)>& before_each) {
    deactivate();
    if (m_closed) return;
    const auto& insts = m_run->host().instances();
    for (auto it = insts.rbegin(); it != insts.rend(); ++it) {
        if (!(*it)->gui()) continue;
        if (before_each) before_each(it->get());
        (*it)->close_gui();
    }
}

void Engine::close() {
    if (m_closed) return;
    deactivate();
    m_run->close();
    m_closed = true;
}

nlohmann::json Engine::stored_patch(const std::string& saved_dir) const {
    return m_run->stored_patch(saved_dir, m_set_by_person, m_threads == Threads::Two);
}

float Engine::take_peak(size_t channel) {
    return channel < m_peak_count ? m_peaks[channel].exchange(0.0f, std::memory_order_relaxed) : 0.0f;
}

// ---- the audio side ----------------------------------------------------------------------------

void Engine::feed_inputs(const float* const* inputs, int from, int offset, int n) {
    size_t channel = 0;
    const float* previous = nullptr;
    for (size_t k = 0; k < m_input_mono.size(); ++k) {
        const float* src = nullptr;
        Instance* inst = nullptr;
        int pin = -1;
        if (m_input_mono[k]) {
            // The mono input's Right output repeats its Left.
            src = previous;
            inst = m_inputs[channel - 1].inst;
            pin = inst->find_pin("Right");
        } else {
            const EngineInput& in = m_inputs[channel++];
            src = inputs && inputs[channel - 1] ? inputs[channel - 1] + from : nullptr;
            inst = in.inst;
            pin = in.pin;
            previous = src;
        }
        float* dst = inst->buffer(pin);
        if (!dst) continue;
        dst += offset;
        if (src) std::memcpy(dst, src, sizeof(float) * static_cast<size_t>(n));
        else std::memset(dst, 0, sizeof(float) * static_cast<size_t>(n));
    }
}

void Engine::queue_event(const EngineEvent& e, int clock) {
    Host& host = m_run->host();
    if (!e.inst || e.pin < 0 || e.pin >= static_cast<int>(e.inst->pins().size())) return;
    if (e.kind == EngineEvent::Midi) {
        if (m_threads == Threads::Two) note_midi(e.inst, e.midi);
        host.queue_midi(e.inst, e.pin, clock, e.midi);
        return;
    }
    const PinInfo& info = e.inst->pins()[static_cast<size_t>(e.pin)];
    if (m_threads == Threads::One) {
        e.inst->set_value(e.pin, PinValue{e.i, e.f, {}}, clock);
        return;
    }
    if (!info.gui_only()) e.inst->queue_audio_value(e.pin, PinValue{e.i, e.f, {}}, clock);
    // The GUI side's copy follows, so that what is saved is what sounds.
    const bool gui_side = info.gui_only() || (info.flags & IO_BOTH_SIDES);
    m_queues->to_gui(e.inst, e.pin, e.i, e.f, nullptr, true, gui_side);
}

void Engine::apply_due_audio(int block_start, int block_end) {
    Host& host = m_run->host();
    if (m_host_tempo > 0) host.set_tempo(m_host_tempo);
    else
        for (const TempoPoint& p : m_run->tempo_changes())
            if (p.clock <= block_start) host.set_tempo(p.bpm);
    while (m_audio_next < m_audio_schedule.size() && m_audio_schedule[m_audio_next].clock < block_end) {
        ScheduledEvent& e = m_audio_schedule[m_audio_next++];
        const int clock = std::max(e.clock, block_start);
        if (e.kind == ScheduledEvent::Midi) {
            note_midi(e.inst, e.midi);
            host.queue_midi(e.inst, e.pin, clock, e.midi);
        } else if (e.kind == ScheduledEvent::PinValue && !e.inst->pins()[static_cast<size_t>(e.pin)].gui_only())
            e.inst->queue_audio_value(e.pin, std::move(e.value), clock);  // this copy is the audio thread's own
    }
    // A pass ends on the file's last message and the next one starts at that same clock, so that a
    // file ending on its last note-off loops without a gap. (The driver refuses loops shorter than
    // a block, so that a block never holds many passes.)
    while (m_loop_length > 0) {
        if (m_loop_next == m_loop_schedule.size()) {
            m_loop_next = 0;
            m_loop_offset += m_loop_length;
        }
        const ScheduledEvent& e = m_loop_schedule[m_loop_next];
        const int64_t at = e.clock + m_loop_offset;
        if (at >= block_end) break;
        ++m_loop_next;
        note_midi(e.inst, e.midi);
        host.queue_midi(e.inst, e.pin, static_cast<int>(std::max<int64_t>(at, block_start)), e.midi);
    }
}

int Engine::run(int frames, const float* const* inputs, float* const* outputs, const EngineEvent* events,
                size_t event_count) {
    Host& host = m_run->host();
    const auto& outs = m_run->outputs();
    int done = 0;
    m_midi_out.clear();
    m_run_start = host.sample_clock();
    if (!m_finished.load(std::memory_order_relaxed)) {
        if (m_threads == Threads::Two) {
            m_queues->take_gui_writes(*this, host.sample_clock());
            if (m_panic.exchange(false, std::memory_order_acq_rel)) release_all(host.sample_clock());
        }
        const int block = host.config().block_size;
        size_t next_event = 0;
        while (done < frames) {
            // Runs end where the patch's blocks end, so that every module sees the buffers of
            // the patch's own block grid whatever the driver's period.
            const int offset = host.block_offset();
            int k = std::min(block - offset, frames - done);
            if (m_limit > 0) k = static_cast<int>(std::min<int64_t>(k, m_limit - host.sample_clock()));
            if (k <= 0) break;
            const int start = host.sample_clock();
            while (next_event < event_count && events[next_event].frame < done + k) {
                const EngineEvent& e = events[next_event++];
                queue_event(e, start + std::max(0, e.frame - done));
            }
            if (!m_inputs.empty()) feed_inputs(inputs, done, offset, k);
            if (m_threads == Threads::One) {
                m_run->run_scheduled_block(k);
            } else {
                apply_due_audio(start, start + k);
                host.run_block(k);
            }
            for (size_t c = 0; outputs && c < outs.size(); ++c) {
                if (!outputs[c]) continue;
                const float* src = outs[c].inst->buffer(outs[c].pin);
                if (src) std::memcpy(outputs[c] + done, src + offset, sizeof(float) * static_cast<size_t>(k));
                else std::memset(outputs[c] + done, 0, sizeof(float) * static_cast<size_t>(k));
            }
            if (m_peak_count) note_peaks(outputs, done, k);
            done += k;
        }
        m_frames.store(host.sample_clock(), std::memory_order_release);
        if (m_limit > 0 && host.sample_clock() >= m_limit) m_finished.store(true, std::memory_order_release);
    }
    for (size_t c = 0; outputs && c < outs.size(); ++c)
        if (outputs[c] && done < frames)
            std::memset(outputs[c] + done, 0, sizeof(float) * static_cast<size_t>(frames - done));
    return done;
}

// The meters' peaks: only the largest since the reader last took it, so that a slow reader still
// sees every spike.
void Engine::note_peaks(float* const* outputs, int from, int n) {
    for (size_t c = 0; c < m_peak_count; ++c) {
        if (!outputs[c]) continue;
        float peak = 0.0f;
        for (int k = from; k < from + n; ++k) peak = std::max(peak, std::fabs(outputs[c][k]));
        float old = m_peaks[c].load(std::memory_order_relaxed);
        while (peak > old && !m_peaks[c].compare_exchange_weak(old, peak, std::memory_order_relaxed)) {
        }
    }
}

// ---- the GUI side ------------------------------------------------------------------------------

void Engine::set_control(Instance* inst, int gui_pin, const PinValue& value) {
    if (!inst || gui_pin < 0 || gui_pin >= static_cast<int>(inst->pins().size())) return;
    m_set_by_person.insert({inst, gui_pin});
    inst->set_value(gui_pin, value);
}

void Engine::send_midi(Instance* inst, int gui_pin, int32_t word) {
    if (!inst || gui_pin < 0 || gui_pin >= static_cast<int>(inst->pins().size())) return;
    if (m_threads == Threads::Two && m_queues) m_queues->midi_to_audio(inst, gui_pin, word);
    else m_run->host().queue_midi(inst, gui_pin, m_run->host().sample_clock(), word);
}

void Engine::all_notes_off() { m_panic.store(true, std::memory_order_release); }

// Which notes each MIDI input holds, so that all-notes-off can release them one by one: modules
// such as the arpeggiator hear only note-offs, not the controller message.
void Engine::note_midi(Instance* inst, int32_t word) {
    const int kind = word & 0xF0, channel = word & 0x0F, note = (word >> 8) & 0x7F, velocity = (word >> 16) & 0x7F;
    if (kind != 0x80 && kind != 0x90) return;
    for (size_t k = 0; k < m_sources.size(); ++k)
        if (m_sources[k] == inst) m_held[k * 16 + static_cast<size_t>(channel)].set(static_cast<size_t>(note), kind == 0x90 && velocity > 0);
}

void Engine::release_all(int clock) {
    Host& host = m_run->host();
    for (size_t k = 0; k < m_sources.size(); ++k) {
        const int pin = m_source_pins[k];
        for (int32_t channel = 0; channel < 16; ++channel) {
            std::bitset<128>& held = m_held[k * 16 + static_cast<size_t>(channel)];
            for (int32_t note = 0; note < 128 && held.any(); ++note)
                if (held.test(static_cast<size_t>(note))) {
                    host.queue_midi(m_sources[k], pin, clock, (0x80 | channel) | (note << 8));
                    held.reset(static_cast<size_t>(note));
                }
            host.queue_midi(m_sources[k], pin, clock, (0xB0 | channel) | (64 << 8));   // sustain pedal up
            host.queue_midi(m_sources[k], pin, clock, (0xB0 | channel) | (123 << 8));  // all notes off
        }
    }
}

void Engine::apply_due_gui(const std::function<bool(const Instance*)>& busy) {
    const int64_t clock = frames_played();
    while (m_gui_next < m_gui_schedule.size() && m_gui_schedule[m_gui_next].clock <= clock) {
        ScheduledEvent& e = m_gui_schedule[m_gui_next];
        // The schedule keeps its order: everything after an event for a busy instance waits too.
        if (busy && busy(e.inst)) return;
        ++m_gui_next;
        if (e.kind == ScheduledEvent::Pointer) {
            e.inst->pointer(e.pointer_opcode, e.x, e.y);
        } else if (e.kind == ScheduledEvent::PinValue) {
            const PinInfo& info = e.inst->pins()[static_cast<size_t>(e.pin)];
            e.inst->store_gui_value(e.pin, e.value.i, e.value.f, &e.value.text,
                                    info.gui_only() || (info.flags & IO_BOTH_SIDES));
        }
    }
}

void Engine::pump(bool call_modules) {
    if (call_modules) pump_except({});
    else pump_except([](const Instance*) { return true; });
}

void Engine::pump_except(const std::function<bool(const Instance*)>& busy) {
    if (m_threads == Threads::One || !m_queues) return;
    m_queues->free_spent();
    m_queues->take_announcements(m_queues->m_announced);
    // Taken out first: a module called here may open a dialog whose loop pumps again.
    std::vector<EngineQueues::Announcement> now;
    std::vector<EngineQueues::Announcement>& waiting = m_queues->m_announced;
    if (!busy) {
        now.swap(waiting);
    } else {
        size_t kept = 0;
        for (EngineQueues::Announcement& a : waiting) {
            if (!busy(a.inst)) now.push_back(std::move(a));
            else if (&waiting[kept++] != &a) waiting[kept - 1] = std::move(a);
        }
        waiting.resize(kept);
        if (now.empty() && kept) return;
    }
    for (EngineQueues::Announcement& a : now) {
        if (a.has_value) a.inst->store_gui_value(a.pin, a.i, a.f, a.has_text ? &a.text : nullptr, false);
        if (a.notify) a.inst->gui_notify(a.pin);
    }
    apply_due_gui(busy);
}

}  // namespace mvh
