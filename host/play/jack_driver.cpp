// The JACK client of `mvhost play`: the process callback hands the period to the engine's audio
// side and copies the outputs to the ports and the recorder; nothing else happens there.
#include "jack_driver.h"

#include <jack/midiport.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "recorder.h"

namespace mvh {

namespace {

// More MIDI messages than a period of a person's playing holds; the rest of a flood is dropped.
constexpr size_t kMidiPerPeriod = 4096;

uint64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000000000u + static_cast<uint64_t>(ts.tv_nsec);
}

// libjack reports a failed connection in several lines of its own; the command says it in one.
std::atomic<bool> g_jack_connected{false};
void jack_message(const char* text) {
    if (g_jack_connected.load(std::memory_order_relaxed)) std::fprintf(stderr, "mvhost play: JACK: %s\n", text);
}
void jack_quiet(const char*) {}

}  // namespace

// ---- the connection ----------------------------------------------------------------------------

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
std::string JackConnection::client_name() const { return m_client ? jack_get_client_name(m_client) : ""; }

// ---- the driver --------------------------------------------------------------------------------

JackDriver::JackDriver(Engine& engine, JackConnection& jack) : m_engine(engine), m_jack(jack) {}

JackDriver::~JackDriver() { stop(); }

void JackDriver::set_midi_target(Instance* inst, int gui_pin) {
    m_midi_target = inst;
    m_midi_pin = gui_pin;
}

bool JackDriver::start(std::string* error) {
    jack_client_t* client = m_jack.client();
    const auto& outputs = m_engine.outputs();
    for (const OutputChannel& channel : outputs) {
        // Port names may not hold ':'; the rest of the channel's label reads well in a patchbay.
        std::string name = channel.label;
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
    const size_t period = static_cast<size_t>(std::max(m_jack.block_size(), m_engine.block_size()));
    m_interleaved.assign(period * std::max<size_t>(1, outputs.size()), 0.0f);
    m_events.reserve(kMidiPerPeriod);
    m_out.assign(outputs.size(), nullptr);
    jack_set_process_callback(client, &JackDriver::process_entry, this);
    jack_set_xrun_callback(client, &JackDriver::xrun_entry, this);
    jack_on_shutdown(client, &JackDriver::shutdown_entry, this);
    if (m_midi_port) jack_set_port_connect_callback(client, &JackDriver::connect_entry, this);
    m_engine.activate();
    if (jack_activate(client) != 0) {
        m_engine.deactivate();
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

void JackDriver::stop() {
    if (!m_active) return;
    m_active = false;
    if (!server_gone()) jack_deactivate(m_jack.client());
    m_engine.deactivate();
}

void JackDriver::load_counters(uint64_t* busy_ns, uint64_t* period_ns) const {
    *busy_ns = m_busy_ns.load(std::memory_order_relaxed);
    *period_ns = m_period_ns.load(std::memory_order_relaxed);
}

int JackDriver::process_entry(jack_nframes_t frames, void* self) {
    static_cast<JackDriver*>(self)->process(frames);
    return 0;
}

int JackDriver::xrun_entry(void* self) {
    static_cast<JackDriver*>(self)->m_xruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void JackDriver::shutdown_entry(void* self) {
    static_cast<JackDriver*>(self)->m_server_gone.store(true, std::memory_order_release);
}

// JACK's notification thread. A keyboard that goes away with keys down never sends their
// note-offs: every held note is released, or the patch would hold (or arpeggiate) them forever.
void JackDriver::connect_entry(jack_port_id_t a, jack_port_id_t b, int connect, void* self) {
    auto* d = static_cast<JackDriver*>(self);
    if (connect || !d->m_midi_port) return;
    jack_port_t* pa = jack_port_by_id(d->m_jack.client(), a);
    jack_port_t* pb = jack_port_by_id(d->m_jack.client(), b);
    if (pa == d->m_midi_port || pb == d->m_midi_port) d->m_engine.all_notes_off();
}

// ---- the audio thread --------------------------------------------------------------------------

void JackDriver::take_midi(jack_nframes_t frames) {
    m_events.clear();
    if (!m_midi_port || !m_midi_target) return;
    void* buffer = jack_port_get_buffer(m_midi_port, frames);
    const jack_nframes_t count = jack_midi_get_event_count(buffer);
    for (jack_nframes_t k = 0; k < count && m_events.size() < m_events.capacity(); ++k) {
        jack_midi_event_t ev;
        if (jack_midi_event_get(&ev, buffer, k) != 0) continue;
        // Channel messages only: system exclusive and real-time bytes have no place in a pin word.
        if (ev.size < 1 || ev.size > 3 || ev.buffer[0] < 0x80 || ev.buffer[0] >= 0xF0) continue;
        EngineEvent e;
        e.kind = EngineEvent::Midi;
        e.frame = static_cast<int32_t>(std::min(ev.time, frames - 1));
        e.inst = m_midi_target;
        e.pin = m_midi_pin;
        for (size_t b = 0; b < ev.size; ++b) e.midi |= static_cast<int32_t>(ev.buffer[b]) << (8 * b);
        m_events.push_back(e);
    }
}

void JackDriver::process(jack_nframes_t frames) {
    const uint64_t t0 = now_ns();
    const size_t nout = m_out_ports.size();
    for (size_t c = 0; c < nout; ++c) m_out[c] = static_cast<float*>(jack_port_get_buffer(m_out_ports[c], frames));
    take_midi(frames);
    const int n = static_cast<int>(frames);
    const int done = m_engine.run(n, nullptr, m_out.data(), m_events.data(), m_events.size());
    if (m_recorder && nout > 0 && done > 0 && static_cast<size_t>(done) * nout <= m_interleaved.size()) {
        for (int s = 0; s < done; ++s)
            for (size_t c = 0; c < nout; ++c) m_interleaved[static_cast<size_t>(s) * nout + c] = m_out[c][s];
        m_recorder->push(m_interleaved.data(), static_cast<size_t>(done));
    }
    const uint64_t busy = now_ns() - t0;
    const auto period = static_cast<uint64_t>(1e9 * frames / m_engine.sample_rate());
    if (busy > m_longest_ns.load(std::memory_order_relaxed)) m_longest_ns.store(busy, std::memory_order_relaxed);
    m_busy_ns.fetch_add(busy, std::memory_order_relaxed);
    m_period_ns.fetch_add(period, std::memory_order_relaxed);
}

}  // namespace mvh
