// The real-time side of `mvhost play`: a JACK client that runs the patch's audio objects in its
// process callback, and the queues that carry values between that callback and the GUI thread.
#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "mvhost/host.h"
#include "mvhost/patch.h"

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
    // comes before the engine whose callbacks it calls goes away.
    void close();
    float sample_rate() const;
    int block_size() const;

private:
    jack_client_t* m_client = nullptr;
};

// Thread tags on each member: [gui] the GTK main thread, [audio] the JACK process callback,
// [any] either.
class LiveEngine : public ThreadBridge {
public:
    LiveEngine(PatchRun& run, JackConnection& jack);
    ~LiveEngine() override;
    LiveEngine(const LiveEngine&) = delete;
    LiveEngine& operator=(const LiveEngine&) = delete;

    // [gui] Before start: where MIDI from the input port goes, the recorder, and a length after
    // which the outputs fall silent and finished() turns true (0: none).
    void set_midi_target(Instance* inst, int gui_pin);
    void set_recorder(Recorder* recorder) { m_recorder = recorder; }
    void set_limit(int64_t frames) { m_limit = frames; }

    // [gui] Registers the ports, activates the client and connects the outputs to the system's
    // playback ports. False with *error on failure.
    bool start(std::string* error);
    // [gui] Deactivates the client: when it returns, the callback no longer runs and every object
    // belongs to the calling thread again.
    void stop();

    // [gui] Frees the values the audio side has consumed and takes in what it sent. With
    // `call_modules`, applies it (values into GUI pins, opcode 7) and the patch's timed GUI events
    // that are due; without (a module's menu or dialog is open), keeps it for later.
    void gui_tick(bool call_modules = true);
    // [gui] A person changed an unconnected input in the window: stored, told to the GUI object
    // when it sees that pin, and an event for the audio object at the next block.
    void set_control(Instance* inst, int gui_pin, const PinValue& value);

    // [any] What the window shows and the command reports.
    bool finished() const { return m_finished.load(std::memory_order_acquire); }
    bool server_gone() const { return m_server_gone.load(std::memory_order_acquire); }
    int64_t frames_played() const { return m_frames.load(std::memory_order_acquire); }
    int xruns() const { return m_xruns.load(std::memory_order_relaxed); }
    uint64_t dropped_messages() const { return m_dropped.load(std::memory_order_relaxed); }
    // Busy and elapsed time of the callback, in nanoseconds, summed since start; the window takes
    // differences of two readings for the load over that interval.
    void load_counters(uint64_t* busy_ns, uint64_t* period_ns) const;
    // The longest single callback and the period it had, in nanoseconds.
    uint64_t longest_callback_ns() const { return m_longest_ns.load(std::memory_order_relaxed); }

    // [gui] After the audio side has stopped: closes every GUI object, before the patch closes
    // the audio objects.
    static void close_gui_objects(Host& host);

    // ThreadBridge
    void to_audio(Instance* inst, int gui_pin, const PinValue& value) override;  // [gui]
    void to_gui(Instance* inst, int gui_pin, int32_t i, float f, const char* text, bool has_value,
                bool notify) override;  // [audio]

private:
    static int process_entry(jack_nframes_t frames, void* self);
    static int xrun_entry(void* self);
    static void shutdown_entry(void* self);
    void process(jack_nframes_t frames);  // [audio]
    void take_gui_writes();               // [audio]
    void take_midi(jack_nframes_t frames);  // [audio]
    void apply_due(int block_start, int block_end);  // [audio]

    PatchRun& m_run;
    Host& m_host;
    JackConnection& m_jack;
    std::vector<jack_port_t*> m_out_ports;
    jack_port_t* m_midi_port = nullptr;
    Instance* m_midi_target = nullptr;
    int m_midi_pin = -1;
    Recorder* m_recorder = nullptr;
    int64_t m_limit = 0;
    bool m_active = false;

    // The patch's schedule, one copy per thread: the audio thread delivers the audio side of each
    // event, the GUI thread the GUI side once the audio clock has passed it.
    std::vector<ScheduledEvent> m_audio_schedule;
    size_t m_audio_next = 0;
    std::vector<TempoPoint> m_tempo;
    std::vector<ScheduledEvent> m_gui_schedule;
    size_t m_gui_next = 0;
    struct Announcement {
        Instance* inst;
        int pin;
        PinValue value;
        bool has_text, has_value, notify;
    };
    std::vector<Announcement> m_announced;  // taken in, not yet applied

    // GUI -> audio: values to deliver (PinValue owned by the message), and back the spent values
    // for the GUI thread to free. Audio -> GUI: announced values with their text inline.
    jack_ringbuffer_t* m_to_audio = nullptr;
    jack_ringbuffer_t* m_spent = nullptr;
    jack_ringbuffer_t* m_to_gui = nullptr;

    std::vector<float> m_interleaved;  // one block of the recorded channels, sized before start
    std::atomic<int64_t> m_frames{0};
    std::atomic<bool> m_finished{false};
    std::atomic<bool> m_server_gone{false};
    std::atomic<int> m_xruns{0};
    std::atomic<uint64_t> m_dropped{0};
    std::atomic<uint64_t> m_busy_ns{0};
    std::atomic<uint64_t> m_period_ns{0};
    std::atomic<uint64_t> m_longest_ns{0};  // written by the callback only
};

}  // namespace mvh
