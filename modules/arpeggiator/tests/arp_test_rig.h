// Drives an ArpEngine as the host would: pin values written then announced, MIDI at given clocks,
// process calls in blocks; records everything the engine sends.
#pragma once

#include <cstdint>
#include <vector>

#include "arp_engine.h"

namespace arp_test {

struct Sent {
    uint32_t clock;
    int32_t word;
};

inline int32_t note_on(int channel, int note, int velocity) { return 0x90 + channel + note * 256 + velocity * 65536; }
inline int32_t note_off(int channel, int note) { return 0x80 + channel + note * 256 + 64 * 65536; }
inline int status_of(int32_t w) { return w & 0xFF; }
inline int note_of(int32_t w) { return (w >> 8) & 0xFF; }
inline int velocity_of(int32_t w) { return (w >> 16) & 0xFF; }
inline bool is_note_on(int32_t w) { return (w & 0xF0) == 0x90 && velocity_of(w) != 0; }
inline bool is_note_off(int32_t w) { return (w & 0xF0) == 0x80; }

class Rig : public arp::ArpOutput {
public:
    // Tempo, ratio and gate as delivered (a tenth of the user's numbers).
    arp::TimingInputs inputs{12.0f, 0.1f, 5.0f};
    arp::ArpEngine engine{*this};
    std::vector<Sent> sent;
    int status_reports = 0;
    int sleeps = 0;
    uint32_t clock = 0;

    // Opens at 44.1 kHz and delivers every input's initial state, as the host does after open.
    explicit Rig(int arp_mode = 1, int oct_range = 0, bool deliver_initial_states = true) {
        engine.open(44100.0);
        engine.m_arp_mode = static_cast<int16_t>(arp_mode);
        engine.m_oct_range = static_cast<int16_t>(oct_range);
        if (deliver_initial_states) {
            for (int pin = 0; pin < arp::kPinCount; ++pin) {
                if (pin != arp::kPinMidiOut && pin != arp::kPinArpStatus) announce(pin, 0);
            }
        }
        sent.clear();
        status_reports = 0;
    }

    void announce(int pin, int state = 1) { engine.pin_status_changed(pin, state, clock, inputs); }
    void set(int pin, int value) {
        int16_t* vars[arp::kPinCount] = {nullptr,
                                         &engine.m_channel,
                                         nullptr,
                                         nullptr,
                                         &engine.m_play_mode,
                                         &engine.m_arp_mode,
                                         &engine.m_oct_range,
                                         &engine.m_velocity_mode,
                                         &engine.m_hold,
                                         nullptr,
                                         nullptr,
                                         &engine.m_transpose_channel,
                                         &engine.m_transpose_mode,
                                         &engine.m_mono_mode,
                                         nullptr};
        *vars[pin] = static_cast<int16_t>(value);
        announce(pin);
    }
    void set_timing(float tempo, float ratio, float gate) {
        inputs = {tempo, ratio, gate};
        announce(arp::kPinTempo);
    }

    void midi(int32_t word) { engine.midi_received(clock, word); }
    void chord(std::initializer_list<int> notes, int channel = 0, int velocity = 100) {
        for (int n : notes) midi(note_on(channel, n, velocity));
    }
    void release(std::initializer_list<int> notes, int channel = 0) {
        for (int n : notes) midi(note_off(channel, n));
    }
    // Process calls of `block` samples until `samples` have passed.
    void run(int samples, int block = 64) {
        while (samples > 0) {
            const int n = samples < block ? samples : block;
            engine.process(clock, n, inputs);
            clock += static_cast<uint32_t>(n);
            samples -= n;
        }
    }

    std::vector<Sent> note_ons() const {
        std::vector<Sent> out;
        for (const Sent& s : sent)
            if (is_note_on(s.word)) out.push_back(s);
        return out;
    }
    std::vector<Sent> note_offs() const {
        std::vector<Sent> out;
        for (const Sent& s : sent)
            if (is_note_off(s.word)) out.push_back(s);
        return out;
    }
    // Note numbers of the first `count` steps.
    std::vector<int> played(size_t count) const {
        std::vector<int> out;
        for (const Sent& s : note_ons()) {
            if (out.size() == count) break;
            out.push_back(note_of(s.word));
        }
        return out;
    }
    // Runs until `count` steps have been played (at most a minute of samples) and returns them.
    std::vector<int> steps(size_t count) {
        for (int guard = 0; guard < 44100 * 60 / 64 && note_ons().size() < count; ++guard) run(64);
        return played(count);
    }

    void send_midi(uint32_t c, int32_t word) override { sent.push_back({c, word}); }
    void send_arp_status(uint32_t) override { ++status_reports; }
    void request_sleep() override { ++sleeps; }
};

}  // namespace arp_test
