// Standard MIDI files: a careful reader (bounds checked, running status, tempo map) and a writer.
#include <algorithm>
#include <limits>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "bounded_read.h"
#include "mvhost/patch.h"
#include "mvp/output_file.h"

namespace mvh {

namespace {

struct Reader {
    const std::vector<unsigned char>& data;
    size_t pos;
    size_t end;
    const std::string& path;
    [[noreturn]] void fail(const std::string& what) const {
        throw PatchError(path + ": byte " + std::to_string(pos) + ": " + what);
    }
    unsigned byte() {
        if (pos >= end) fail("unexpected end of data");
        return data[pos++];
    }
    uint32_t be(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | byte();
        return v;
    }
    uint32_t vlq() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) {
            const unsigned b = byte();
            v = (v << 7) | (b & 0x7f);
            if (!(b & 0x80)) return v;
        }
        fail("variable-length number longer than 4 bytes");
    }
    void skip(uint32_t n) {
        if (n > end - pos) fail("length " + std::to_string(n) + " runs past the end of its chunk");
        pos += n;
    }
};

struct RawEvent {
    uint64_t tick;
    int track;
    long seq;
    int32_t word;
};
struct TempoChange {
    uint64_t tick;
    uint32_t usec_per_quarter;
};

}  // namespace

std::vector<MidiFileEvent> read_midi_file(const std::string& path) {
    std::vector<unsigned char> data;
    read_bounded_file(path, kMaxMidiFileBytes, "MIDI file", &data);
    Reader r{data, 0, data.size(), path};
    if (data.size() < 4 || std::string(data.begin(), data.begin() + 4) != "MThd")
        throw PatchError(path + ": not a standard MIDI file (no MThd header)");
    if (data.size() < 14)
        throw PatchError(path + ": " + std::to_string(data.size()) + " bytes is shorter than a MIDI file's header (14 bytes)");
    r.pos = 4;
    const uint32_t header_len = r.be(4);
    if (header_len < 6) r.fail("header chunk shorter than 6 bytes");
    const unsigned format = r.be(2);
    const unsigned tracks = r.be(2);
    const unsigned division = r.be(2);
    r.skip(header_len - 6);
    if (format > 1) throw PatchError(path + ": MIDI file format " + std::to_string(format) + " is not supported (0 or 1)");
    if (division == 0) throw PatchError(path + ": time division of 0 ticks");

    double ticks_per_second_smpte = 0.0;
    if (division & 0x8000) {
        const int fps = -static_cast<int8_t>(division >> 8);
        const int per_frame = division & 0xff;
        ticks_per_second_smpte = (fps == 29 ? 29.97 : fps) * per_frame;
        if (ticks_per_second_smpte <= 0) throw PatchError(path + ": invalid SMPTE time division");
    }

    std::vector<RawEvent> events;
    std::vector<TempoChange> tempos;
    long seq = 0;
    for (unsigned t = 0; t < tracks; ++t) {
        r.end = data.size();
        if (data.size() - r.pos < 8) r.fail("track " + std::to_string(t + 1) + " is missing");
        if (std::string(data.begin() + r.pos, data.begin() + r.pos + 4) != "MTrk")
            r.fail("expected track chunk MTrk");
        r.pos += 4;
        const uint32_t len = r.be(4);
        if (len > data.size() - r.pos) r.fail("track " + std::to_string(t + 1) + " is truncated");
        r.end = r.pos + len;
        uint64_t tick = 0;
        unsigned status = 0;
        while (r.pos < r.end) {
            tick += r.vlq();
            unsigned b = r.byte();
            if (b == 0xFF) {
                const unsigned type = r.byte();
                const uint32_t n = r.vlq();
                if (type == 0x51 && n == 3) {
                    tempos.push_back({tick, r.be(3)});
                } else {
                    r.skip(n);
                }
                if (type == 0x2F) break;
                continue;
            }
            if (b == 0xF0 || b == 0xF7) {
                r.skip(r.vlq());
                status = 0;
                continue;
            }
            unsigned d1;
            if (b & 0x80) {
                // System common and real-time bytes have no place in a track, and taking them as
                // channel messages would send words the patch cannot route.
                if (b > 0xF0) r.fail("status byte " + std::to_string(b) + " is not a channel message");
                status = b;
                d1 = r.byte();
            } else {
                if (!status) r.fail("data byte without a status (running status not set)");
                d1 = b;
            }
            const unsigned kind = status & 0xF0;
            unsigned d2 = 0;
            if (kind != 0xC0 && kind != 0xD0) d2 = r.byte();
            if ((d1 | d2) & 0x80) r.fail("data byte of 128 or more");
            events.push_back({tick, static_cast<int>(t), seq++,
                              static_cast<int32_t>(status | (d1 << 8) | (d2 << 16))});
        }
        r.pos = r.end;
    }
    // A track the header does not count would be dropped without a word (silence).
    if (data.size() - r.pos >= 4 && std::string(data.begin() + r.pos, data.begin() + r.pos + 4) == "MTrk")
        r.fail("a track follows the " + std::to_string(tracks) + " the header declares");

    std::stable_sort(tempos.begin(), tempos.end(), [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    std::stable_sort(events.begin(), events.end(), [](const RawEvent& a, const RawEvent& b) {
        return a.tick < b.tick || (a.tick == b.tick && a.seq < b.seq);
    });

    std::vector<MidiFileEvent> out;
    out.reserve(events.size());
    size_t ti = 0;
    uint64_t seg_tick = 0;
    double seg_seconds = 0.0;
    double usec = 500000.0;  // 120 beats per minute until the file says otherwise
    for (const RawEvent& e : events) {
        double seconds;
        if (ticks_per_second_smpte > 0) {
            seconds = static_cast<double>(e.tick) / ticks_per_second_smpte;
        } else {
            while (ti < tempos.size() && tempos[ti].tick <= e.tick) {
                seg_seconds += static_cast<double>(tempos[ti].tick - seg_tick) * usec / 1e6 / division;
                seg_tick = tempos[ti].tick;
                usec = tempos[ti].usec_per_quarter ? tempos[ti].usec_per_quarter : usec;
                ++ti;
            }
            seconds = seg_seconds + static_cast<double>(e.tick - seg_tick) * usec / 1e6 / division;
        }
        out.push_back({seconds, e.word});
    }
    return out;
}

bool write_midi_file(const std::string& path, const std::vector<MidiRecord>& events, double sample_rate,
                     std::string* error) {
    return write_midi_file(path, events, sample_rate, {}, error);
}

std::vector<unsigned char> encode_midi_file(const std::vector<MidiRecord>& events, double sample_rate,
                                            const std::vector<TempoPoint>& tempo_map) {
    // 960 ticks per beat, the beats those of the patch's tempo map (120 BPM without one), so that
    // a sequencer reading the file finds the notes on the patch's grid.
    constexpr double kTicksPerBeat = 960.0;
    std::vector<TempoPoint> tempo;
    for (const TempoPoint& t : tempo_map)
        if (t.bpm > 0) tempo.push_back(t);
    std::stable_sort(tempo.begin(), tempo.end(), [](const TempoPoint& a, const TempoPoint& b) { return a.clock < b.clock; });
    if (tempo.empty() || tempo.front().clock > 0) tempo.insert(tempo.begin(), {0, tempo.empty() ? 120.0 : tempo.front().bpm});
    auto ticks_at = [&](int clock) {
        double ticks = 0;
        for (size_t i = 0; i < tempo.size(); ++i) {
            const double from = tempo[i].clock;
            const double to = i + 1 < tempo.size() ? std::min<double>(clock, tempo[i + 1].clock) : clock;
            if (to <= from) break;
            ticks += (to - from) / sample_rate * tempo[i].bpm / 60.0 * kTicksPerBeat;
        }
        return static_cast<uint64_t>(ticks + 0.5);
    };
    std::vector<unsigned char> track;
    auto vlq = [&](uint32_t v) {
        unsigned char buf[5];
        int n = 0;
        buf[n++] = v & 0x7f;
        while (v >>= 7) buf[n++] = 0x80 | (v & 0x7f);
        while (n) track.push_back(buf[--n]);
    };
    uint64_t last = 0;
    auto delta_to = [&](uint64_t tick) {
        uint64_t delta = tick - std::min(tick, last);
        // A delta holds at most 28 bits; longer silences go through empty text events.
        for (; delta > 0x0FFFFFFF; delta -= 0x0FFFFFFF) {
            vlq(0x0FFFFFFF);
            track.insert(track.end(), {0xFF, 0x01, 0x00});
        }
        vlq(static_cast<uint32_t>(delta));
        last = std::max(last, tick);
    };
    std::vector<MidiRecord> sorted = events;
    std::stable_sort(sorted.begin(), sorted.end(), [](const MidiRecord& a, const MidiRecord& b) { return a.clock < b.clock; });
    size_t next_tempo = 0;
    auto tempo_events_until = [&](int clock) {
        for (; next_tempo < tempo.size() && tempo[next_tempo].clock <= clock; ++next_tempo) {
            const auto usec = static_cast<uint32_t>(std::lround(60e6 / tempo[next_tempo].bpm));
            delta_to(ticks_at(tempo[next_tempo].clock));
            track.insert(track.end(), {0xFF, 0x51, 0x03, static_cast<unsigned char>(usec >> 16),
                                       static_cast<unsigned char>(usec >> 8), static_cast<unsigned char>(usec)});
        }
    };
    for (const MidiRecord& e : sorted) {
        const unsigned status = e.word & 0xff;
        if (status < 0x80 || status >= 0xF0) continue;  // channel messages only
        const int clock = std::max(0, e.clock);
        tempo_events_until(clock);
        delta_to(ticks_at(clock));
        track.push_back(static_cast<unsigned char>(status));
        track.push_back((e.word >> 8) & 0x7f);
        const unsigned kind = status & 0xF0;
        if (kind != 0xC0 && kind != 0xD0) track.push_back((e.word >> 16) & 0x7f);
    }
    tempo_events_until(std::numeric_limits<int>::max());
    vlq(0);
    track.insert(track.end(), {0xFF, 0x2F, 0x00});

    const unsigned char header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x03, 0xC0};
    const uint32_t len = static_cast<uint32_t>(track.size());
    const unsigned char mtrk[] = {'M', 'T', 'r', 'k', static_cast<unsigned char>(len >> 24),
                                  static_cast<unsigned char>(len >> 16), static_cast<unsigned char>(len >> 8),
                                  static_cast<unsigned char>(len)};
    std::vector<unsigned char> file(header, header + sizeof header);
    file.insert(file.end(), mtrk, mtrk + sizeof mtrk);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

bool write_midi_file(const std::string& path, const std::vector<MidiRecord>& events, double sample_rate,
                     const std::vector<TempoPoint>& tempo_map, std::string* error) {
    const std::vector<unsigned char> file = encode_midi_file(events, sample_rate, tempo_map);
    std::string why;
    if (!mvp::write_output_file(path, file.data(), file.size(), &why)) {
        if (error) *error = why;
        return false;
    }
    return true;
}

}  // namespace mvh
