// The JACK client of `mvhost play`: its process callback runs the engine's audio side; the
// window's GTK main thread pumps the GUI side. It drives the patch only through mvh::Engine.
#pragma once

#include <jack/jack.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mvhost/engine.h"

namespace mvh {

class Recorder;

// A connection to the JACK server, opened before the patch is built so that the patch takes the
// server's sample rate and block size.
class JackConnection {
public:
    // Returns null and sets *error to one line when no server answers.
    static std::unique_ptr<JackConnection> open(const std::string& client_name, std::string* error);
    ~JackConnection();
    jack_client_t* client() const { return m_client; }
    // Ends the connection. JACK's notification thread (xruns, shutdown) runs until then, so this
    // comes before the driver whose callbacks it calls goes away.
    void close();
    float sample_rate() const;
    int block_size() const;
    // The name the server gave the client: the patch's name, or "NAME-01" and on when a second
    // session of the same patch runs.
    std::string client_name() const;

private:
    jack_client_t* m_client = nullptr;
};

// Thread tags on each member: [gui] the GTK main thread, [audio] the JACK process callback,
// [any] either.
class JackDriver {
public:
    JackDriver(Engine& engine, JackConnection& jack);
    ~JackDriver();
    JackDriver(const JackDriver&) = delete;
    JackDriver& operator=(const JackDriver&) = delete;

    // [gui] Before start: where MIDI from the input port goes, and the recorder.
    void set_midi_target(Instance* inst, int gui_pin);
    void set_recorder(Recorder* recorder) { m_recorder = recorder; }

    // [gui] Registers the ports, activates the engine and the client and connects the outputs to
    // the system's playback ports. False with *error on failure.
    bool start(std::string* error);
    // [gui] Deactivates the client, then the engine: when it returns, the callback no longer runs
    // and every object belongs to the calling thread again.
    void stop();

    // [any] What the window shows and the command reports.
    bool finished() const { return m_engine.finished() || server_gone(); }
    bool server_gone() const { return m_server_gone.load(std::memory_order_acquire); }
    int64_t frames_played() const { return m_engine.frames_played(); }
    int xruns() const { return m_xruns.load(std::memory_order_relaxed); }
    uint64_t dropped_messages() const { return m_engine.dropped_messages(); }
    // Busy and elapsed time of the callback, in nanoseconds, summed since start; the window takes
    // differences of two readings for the load over that interval.
    void load_counters(uint64_t* busy_ns, uint64_t* period_ns) const;
    // The longest single callback, in nanoseconds.
    uint64_t longest_callback_ns() const { return m_longest_ns.load(std::memory_order_relaxed); }

private:
    static int process_entry(jack_nframes_t frames, void* self);
    static int xrun_entry(void* self);
    static void shutdown_entry(void* self);
    static void connect_entry(jack_port_id_t a, jack_port_id_t b, int connect, void* self);
    void process(jack_nframes_t frames);    // [audio]
    void take_midi(jack_nframes_t frames);  // [audio]

    Engine& m_engine;
    JackConnection& m_jack;
    std::vector<jack_port_t*> m_out_ports;
    jack_port_t* m_midi_port = nullptr;
    Instance* m_midi_target = nullptr;
    int m_midi_pin = -1;
    Recorder* m_recorder = nullptr;
    bool m_active = false;

    std::vector<EngineEvent> m_events;  // [audio] this period's MIDI, sized before start
    std::vector<float*> m_out;          // [audio] this period's output buffers
    std::vector<float> m_interleaved;   // one period of the recorded channels, sized before start
    std::atomic<bool> m_server_gone{false};
    std::atomic<int> m_xruns{0};
    std::atomic<uint64_t> m_busy_ns{0};
    std::atomic<uint64_t> m_period_ns{0};
    std::atomic<uint64_t> m_longest_ns{0};  // written by the callback only
};

}  // namespace mvh
