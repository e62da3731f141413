// The JACK client of `mvhost play`: the process callback runs blocks, events and process
// functions only; everything else reaches it, or leaves it, through lock-free ring buffers.
#include "live_engine.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "../src/registry.h"
#include "recorder.h"
#include "ring_sync.h"

namespace mvh {

namespace {

// Big enough that a person (or a script) cannot fill them between two GUI ticks.
constexpr size_t kQueueBytes = 1 << 20;
constexpr int kEventReserve = 4096;

struct ToAudio {
    Instance* inst;
    int pin;
    PinValue* value;  // made on the GUI thread, moved from on the audio thread, freed back on the GUI thread
};

struct ToGui {
    Instance* inst;
    int pin;
    int32_t i;
    float f;
    int32_t text_length;  // -1: no text; otherwise that many bytes follow
    uint8_t has_value;
    uint8_t notify;
};

uint64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

}  // namespace

// ---- the connection ----------------------------------------------------------------------------

namespace {
// libjack reports a failed connection in several lines of its own; the command says it in one.
std::atomic<bool> g_jack_connected{false};
void jack_message(const char* text) {
    if (g_jack_connected.load(std::memory_order_relaxed)) std::fprintf(stderr, "mvhost play: JACK: %s\n", text);
}
void jack_quiet(const char*) {}
}  // namespace

std::unique_ptr<JackConnection> JackConnection::open(const std::string& client_name, std::string* error) {
    jack_set_error_function(jack_message);
    jack_set_info_function(jack_quiet);
    jack_status_t status{};
    jack_client_t* client = jack_client_open(client_name.c_str(), JackNoStartServer, &status);
    if (!client) {
        if (error)
            *error = "no JACK server is running; start one (jackd -d alsa, or jackd -d dummy without a sound card), "
                     "or run under PipeWire with pw-jack";
        return nullptr;
    }
    g_jack_connected.store(true, std::memory_order_relaxed);
    auto c = std::unique_ptr<JackConnection>(new JackConnection);
    c->m_client = client;
    return c;
}

JackConnection::~JackConnection() { close(); }

void JackConnection::close() {
    if (m_client) jack_client_close(m_client);
    m_client = nullptr;
}

float JackConnection::sample_rate() const { return static_cast<float>(jack_get_sample_rate(m_client)); }
int JackConnection::block_size() const { return static_cast<int>(jack_get_buffer_size(m_client)); }

// ---- the engine --------------------------------------------------------------------------------

LiveEngine::LiveEngine(PatchRun& run, JackConnection& jack)
    : m_run(run), m_host(run.host()), m_jack(jack), m_audio_schedule(run.schedule()), m_tempo(run.tempo_changes()),
      m_gui_schedule(run.schedule()) {
    m_to_audio = jack_ringbuffer_create(kQueueBytes);
    m_spent = jack_ringbuffer_create(kQueueBytes);
    m_to_gui = jack_ringbuffer_create(kQueueBytes);
    // Locked into memory, so that the callback never waits for a page to come back.
    jack_ringbuffer_mlock(m_to_audio);
    jack_ringbuffer_mlock(m_spent);
    jack_ringbuffer_mlock(m_to_gui);
    m_host.set_bridge(this);
    for (const auto& inst : m_host.instances()) inst->m_events.reserve(kEventReserve);
    m_host.m_pending_gui.reserve(kEventReserve);
}

LiveEngine::~LiveEngine() {
    stop();
    gui_tick(false);  // frees what is still in flight
    m_host.set_bridge(nullptr);
    // Values the audio side never took.
    while (jack_ringbuffer_read_space(m_to_audio) >= sizeof(ToAudio)) {
        ToAudio m;
        ring_enter(m_to_audio);
        jack_ringbuffer_read(m_to_audio, reinterpret_cast<char*>(&m), sizeof m);
        delete m.value;
    }
    jack_ringbuffer_free(m_to_audio);
    jack_ringbuffer_free(m_spent);
    jack_ringbuffer_free(m_to_gui);
}

void LiveEngine::set_midi_target(Instance* inst, int gui_pin) {
    m_midi_target = inst;
    m_midi_pin = gui_pin;
}

bool LiveEngine::start(std::string* error) {
    jack_client_t* client = m_jack.client();
    const auto& outputs = m_run.outputs();
    for (size_t k = 0; k < outputs.size(); ++k) {
        // Port names may not hold ':'; the rest of the channel's label reads well in a patchbay.
        std::string name = outputs[k].label;
        std::replace(name.begin(), name.end(), ':', '_');
        jack_port_t* port = jack_port_register(client, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!port) {
            if (error) *error = "cannot register the JACK output port \"" + name + "\"";
            return false;
        }
        m_out_ports.push_back(port);
    }
    if (m_midi_target) {
        m_midi_port = jack_port_register(client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (!m_midi_port) {
            if (error) *error = "cannot register the JACK MIDI input port";
            return false;
        }
    }
    m_interleaved.assign(static_cast<size_t>(m_host.config().block_size) * std::max<size_t>(1, outputs.size()), 0.0f);
    jack_set_process_callback(client, &LiveEngine::process_entry, this);
    jack_set_xrun_callback(client, &LiveEngine::xrun_entry, this);
    jack_on_shutdown(client, &LiveEngine::shutdown_entry, this);
    registry_freeze();
    if (jack_activate(client) != 0) {
        registry_thaw();
        if (error) *error = "cannot activate the JACK client";
        return false;
    }
    m_active = true;
    // Outputs go to the system's playback ports when there are any: channel k to port k, a single
    // channel to the first two.
    const char** playback = jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    if (playback) {
        int count = 0;
        while (playback[count]) ++count;
        for (size_t k = 0; k < m_out_ports.size() && static_cast<int>(k) < count; ++k)
            jack_connect(client, jack_port_name(m_out_ports[k]), playback[k]);
        if (m_out_ports.size() == 1 && count >= 2) jack_connect(client, jack_port_name(m_out_ports[0]), playback[1]);
        jack_free(playback);
    }
    return true;
}

void LiveEngine::stop() {
    if (!m_active) return;
    m_active = false;
    if (!server_gone()) jack_deactivate(m_jack.client());
    registry_thaw();
}

void LiveEngine::load_counters(uint64_t* busy_ns, uint64_t* period_ns) const {
    *busy_ns = m_busy_ns.load(std::memory_order_relaxed);
    *period_ns = m_period_ns.load(std::memory_order_relaxed);
}

int LiveEngine::process_entry(jack_nframes_t frames, void* self) {
    static_cast<LiveEngine*>(self)->process(frames);
    return 0;
}

int LiveEngine::xrun_entry(void* self) {
    static_cast<LiveEngine*>(self)->m_xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void LiveEngine::shutdown_entry(void* self) {
    auto* engine = static_cast<LiveEngine*>(self);
    engine->m_server_gone.store(true, std::memory_order_release);
    engine->m_finished.store(true, std::memory_order_release);
}

// ---- the audio thread --------------------------------------------------------------------------

void LiveEngine::take_gui_writes() {
    while (jack_ringbuffer_read_space(m_to_audio) >= sizeof(ToAudio)) {
        ToAudio m;
        ring_enter(m_to_audio);
        jack_ringbuffer_read(m_to_audio, reinterpret_cast<char*>(&m), sizeof m);
        ring_leave(m_to_audio);
        const PinInfo& info = m.inst->pins()[static_cast<size_t>(m.pin)];
        Instance::Event ev{};
        ev.clock = m_host.m_clock;
        ev.e.event_type = EV_PIN_STATE;
        ev.e.int_parm1 = PIN_CHANGED_ONCE;
        ev.e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(info.audio_index));
        ev.e.int_parm2 = m.pin;
        ev.value = std::move(*m.value);  // a move: the text's storage changes hands, nothing is allocated
        ev.has_value = true;
        m.inst->queue(std::move(ev));
        // The spent value goes back to be freed; the ring holds as many pointers as the one it
        // came through, so this write always fits.
        ring_enter(m_spent);
        jack_ringbuffer_write(m_spent, reinterpret_cast<const char*>(&m.value), sizeof m.value);
        ring_leave(m_spent);
    }
}

void LiveEngine::take_midi(jack_nframes_t frames) {
    if (!m_midi_port || !m_midi_target) return;
    void* buffer = jack_port_get_buffer(m_midi_port, frames);
    const jack_nframes_t count = jack_midi_get_event_count(buffer);
    for (jack_nframes_t k = 0; k < count; ++k) {
        jack_midi_event_t ev;
        if (jack_midi_event_get(&ev, buffer, k) != 0) continue;
        // Channel messages only: system exclusive and real-time bytes have no place in a pin word.
        if (ev.size < 1 || ev.size > 3 || ev.buffer[0] < 0x80 || ev.buffer[0] >= 0xF0) continue;
        int32_t word = 0;
        for (size_t b = 0; b < ev.size; ++b) word |= static_cast<int32_t>(ev.buffer[b]) << (8 * b);
        m_host.queue_midi(m_midi_target, m_midi_pin, m_host.m_clock + static_cast<int>(ev.time), word);
    }
}

void LiveEngine::apply_due(int block_start, int block_end) {
    for (const TempoPoint& p : m_tempo)
        if (p.clock <= block_start) m_host.set_tempo(p.bpm);
    while (m_audio_next < m_audio_schedule.size() && m_audio_schedule[m_audio_next].clock < block_end) {
        ScheduledEvent& e = m_audio_schedule[m_audio_next++];
        const int clock = std::max(e.clock, block_start);
        if (e.kind == ScheduledEvent::Midi) {
            m_host.queue_midi(e.inst, e.pin, clock, e.midi);
        } else if (e.kind == ScheduledEvent::PinValue && !e.inst->pins()[static_cast<size_t>(e.pin)].gui_only()) {
            const PinInfo& info = e.inst->pins()[static_cast<size_t>(e.pin)];
            Instance::Event ev{};
            ev.clock = clock;
            ev.e.event_type = EV_PIN_STATE;
            ev.e.int_parm1 = PIN_CHANGED_ONCE;
            ev.e.ptr_parm = reinterpret_cast<void*>(static_cast<intptr_t>(info.audio_index));
            ev.e.int_parm2 = e.pin;
            ev.value = std::move(e.value);  // this copy of the schedule is the audio thread's own
            ev.has_value = true;
            e.inst->queue(std::move(ev));
        }
    }
}

void LiveEngine::process(jack_nframes_t frames) {
    const uint64_t t0 = now_ns();
    const auto& outputs = m_run.outputs();
    const size_t nout = m_out_ports.size();
    float* out[2] = {nullptr, nullptr};
    for (size_t c = 0; c < nout && c < 2; ++c) out[c] = static_cast<float*>(jack_port_get_buffer(m_out_ports[c], frames));

    const int n = static_cast<int>(frames);
    int done = 0;
    if (!m_finished.load(std::memory_order_relaxed)) {
        take_gui_writes();
        take_midi(frames);
        const int block = m_host.config().block_size;
        while (done < n) {
            int k = std::min(block, n - done);
            if (m_limit > 0) k = static_cast<int>(std::min<int64_t>(k, m_limit - m_host.m_clock));
            if (k <= 0) break;
            const int start = m_host.m_clock;
            apply_due(start, start + k);
            m_host.run_block(k);
            for (size_t c = 0; c < nout; ++c) {
                const float* src = outputs[c].inst->buffer(outputs[c].pin);
                if (src) std::memcpy(out[c] + done, src, sizeof(float) * static_cast<size_t>(k));
                else std::memset(out[c] + done, 0, sizeof(float) * static_cast<size_t>(k));
            }
            if (m_recorder && nout > 0) {
                for (int s = 0; s < k; ++s)
                    for (size_t c = 0; c < nout; ++c) m_interleaved[static_cast<size_t>(s) * nout + c] = out[c][done + s];
                m_recorder->push(m_interleaved.data(), static_cast<size_t>(k));
            }
            done += k;
        }
        m_frames.store(m_host.m_clock, std::memory_order_release);
        if (m_limit > 0 && m_host.m_clock >= m_limit) m_finished.store(true, std::memory_order_release);
    }
    for (size_t c = 0; c < nout; ++c)
        if (done < n) std::memset(out[c] + done, 0, sizeof(float) * static_cast<size_t>(n - done));

    const uint64_t busy = now_ns() - t0;
    const auto period = static_cast<uint64_t>(1e9 * frames / m_host.config().sample_rate);
    if (busy > m_longest_ns.load(std::memory_order_relaxed)) m_longest_ns.store(busy, std::memory_order_relaxed);
    m_busy_ns.fetch_add(busy, std::memory_order_relaxed);
    m_period_ns.fetch_add(period, std::memory_order_relaxed);
}

void LiveEngine::to_gui(Instance* inst, int gui_pin, int32_t i, float f, const char* text, bool has_value, bool notify) {
    const size_t length = text ? std::strlen(text) : 0;
    ToGui m{inst, gui_pin, i, f, text ? static_cast<int32_t>(length) : -1, has_value, notify};
    if (jack_ringbuffer_write_space(m_to_gui) < sizeof m + length) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    ring_enter(m_to_gui);
    jack_ringbuffer_write(m_to_gui, reinterpret_cast<const char*>(&m), sizeof m);
    if (length) jack_ringbuffer_write(m_to_gui, text, length);
    ring_leave(m_to_gui);
}

// ---- the GUI thread ----------------------------------------------------------------------------

void LiveEngine::to_audio(Instance* inst, int gui_pin, const PinValue& value) {
    ToAudio m{inst, gui_pin, new PinValue(value)};
    if (jack_ringbuffer_write_space(m_to_audio) < sizeof m) {
        delete m.value;
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    ring_enter(m_to_audio);
    jack_ringbuffer_write(m_to_audio, reinterpret_cast<const char*>(&m), sizeof m);
    ring_leave(m_to_audio);
}

void LiveEngine::set_control(Instance* inst, int gui_pin, const PinValue& value) {
    const PinInfo& info = inst->pins()[static_cast<size_t>(gui_pin)];
    inst->m_values[static_cast<size_t>(gui_pin)] = value;
    if (info.gui_only() || (info.flags & IO_BOTH_SIDES)) inst->gui_notify(gui_pin);
    if (!info.gui_only()) to_audio(inst, gui_pin, value);
}

void LiveEngine::gui_tick(bool call_modules) {
    while (jack_ringbuffer_read_space(m_spent) >= sizeof(PinValue*)) {
        PinValue* v = nullptr;
        ring_enter(m_spent);
        jack_ringbuffer_read(m_spent, reinterpret_cast<char*>(&v), sizeof v);
        ring_leave(m_spent);
        delete v;
    }
    while (jack_ringbuffer_read_space(m_to_gui) >= sizeof(ToGui)) {
        ToGui m;
        ring_enter(m_to_gui);
        jack_ringbuffer_peek(m_to_gui, reinterpret_cast<char*>(&m), sizeof m);
        const size_t length = m.text_length > 0 ? static_cast<size_t>(m.text_length) : 0;
        // The header can be visible before the text that follows it.
        if (jack_ringbuffer_read_space(m_to_gui) < sizeof m + length) break;
        jack_ringbuffer_read_advance(m_to_gui, sizeof m);
        Announcement a{m.inst, m.pin, PinValue{m.i, m.f, std::string(length, '\0')}, m.text_length >= 0,
                       m.has_value != 0, m.notify != 0};
        if (length) jack_ringbuffer_read(m_to_gui, a.value.text.data(), length);
        ring_leave(m_to_gui);
        m_announced.push_back(std::move(a));
    }
    if (!call_modules) return;
    for (Announcement& a : m_announced) {
        if (a.has_value) {
            PinValue& v = a.inst->m_values[static_cast<size_t>(a.pin)];
            v.i = a.value.i;
            v.f = a.value.f;
            if (a.has_text) v.text = std::move(a.value.text);
        }
        if (a.notify) a.inst->gui_notify(a.pin);
    }
    m_announced.clear();
    // The GUI side of the patch's timed events, once the audio clock has passed them.
    const int64_t clock = frames_played();
    while (m_gui_next < m_gui_schedule.size() && m_gui_schedule[m_gui_next].clock <= clock) {
        const ScheduledEvent& e = m_gui_schedule[m_gui_next++];
        if (e.kind == ScheduledEvent::Pointer) {
            e.inst->pointer(e.pointer_opcode, e.x, e.y);
        } else if (e.kind == ScheduledEvent::PinValue) {
            const PinInfo& info = e.inst->pins()[static_cast<size_t>(e.pin)];
            e.inst->m_values[static_cast<size_t>(e.pin)] = e.value;
            if (info.gui_only() || (info.flags & IO_BOTH_SIDES)) e.inst->gui_notify(e.pin);
        }
    }
}

}  // namespace mvh
