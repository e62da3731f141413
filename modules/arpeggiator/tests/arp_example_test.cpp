// The arpeggio example patch: it renders, and the MIDI file written from the arpeggiator's output
// reads back in a standard MIDI reader (midicsv) with the notes and times of the arpeggio.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "mvhost/render.h"

namespace {

namespace fs = std::filesystem;

struct MidiNote {
    long tick;
    int note;
    bool on;
};

// Runs midicsv and keeps the note events: "track, tick, Note_on_c, channel, note, velocity".
bool read_with_midicsv(const fs::path& file, std::vector<MidiNote>* notes, std::string* header) {
    const std::string cmd = "midicsv '" + file.string() + "' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return false;
    char line[256];
    while (std::fgets(line, sizeof line, p)) {
        std::string s(line);
        if (s.find("Header") != std::string::npos || s.find("Tempo") != std::string::npos) *header += s;
        const bool on = s.find("Note_on_c") != std::string::npos;
        const bool off = s.find("Note_off_c") != std::string::npos;
        if (!on && !off) continue;
        long track = 0, tick = 0;
        int channel = 0, note = 0, velocity = 0;
        char kind[32];
        if (std::sscanf(line, "%ld, %ld, %31[^,], %d, %d, %d", &track, &tick, kind, &channel, &note, &velocity) != 6)
            continue;
        notes->push_back({tick, note, on && velocity > 0});
    }
    return pclose(p) == 0;
}

class ArpExample : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::path(MV_BINARY_DIR) / "tests" / "arp_example";
        fs::create_directories(m_dir);
        mvh::RenderOptions options;
        options.patch = std::string(MV_SOURCE_DIR) + "/examples/arp_chords.json";
        options.output = (m_dir / "arp_chords.wav").string();
        options.midi_out = {"arp.MIDI Out=" + (m_dir / "arp_chords.mid").string()};
        options.quiet = true;
        std::ostringstream err;
        m_status = mvh::cmd_render(options, err);
        m_error = err.str();
        if (m_status == 0) m_read = read_with_midicsv(m_dir / "arp_chords.mid", &m_notes, &m_header);
    }
    std::vector<MidiNote> ons() const {
        std::vector<MidiNote> out;
        for (const MidiNote& n : m_notes)
            if (n.on) out.push_back(n);
        return out;
    }

    fs::path m_dir;
    int m_status = -1;
    std::string m_error;
    bool m_read = false;
    std::string m_header;
    std::vector<MidiNote> m_notes;
};

TEST_F(ArpExample, RendersAndTheMidiFileReadsBack) {
    ASSERT_EQ(m_status, 0) << m_error;
    EXPECT_TRUE(fs::exists(m_dir / "arp_chords.wav"));
    ASSERT_TRUE(m_read) << "midicsv could not read the file (is the midicsv package installed?)";
    EXPECT_NE(m_header.find("Header, 0, 1, 960"), std::string::npos) << m_header;

    // C major, Up+Down over two octaves, eighth notes: 480 ticks.
    const auto on = ons();
    ASSERT_GE(on.size(), 8u);
    const int want[] = {60, 64, 67, 72, 76, 79, 76, 72};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(on[i].note, want[i]) << i;
        EXPECT_EQ(on[i].tick, 480 * i) << i;
    }
    // Gate 60 %: each note-off 288 ticks after its note-on.
    for (size_t i = 0; i + 1 < m_notes.size(); ++i) {
        if (!m_notes[i].on || m_notes[i].tick >= 3840) continue;
        bool found = false;
        for (size_t j = i + 1; j < m_notes.size() && !found; ++j)
            found = !m_notes[j].on && m_notes[j].note == m_notes[i].note && m_notes[j].tick == m_notes[i].tick + 288;
        EXPECT_TRUE(found) << "note " << m_notes[i].note << " at " << m_notes[i].tick;
    }
}

// The MIDI file carries the patch's tempo map, so the arpeggio's eighth notes stay 480 ticks apart
// at 120, 90 and 150 BPM alike: on the grid of any sequencer that reads the file.
TEST_F(ArpExample, TheArpeggioFollowsTheTempoChangesOnTheFilesGrid) {
    ASSERT_EQ(m_status, 0) << m_error;
    ASSERT_TRUE(m_read);
    // 120 BPM for 4 s (7680 ticks), 90 BPM for 3 s (4320 ticks), then 150 BPM.
    EXPECT_NE(m_header.find("1, 0, Tempo, 500000"), std::string::npos) << m_header;
    EXPECT_NE(m_header.find("1, 7680, Tempo, 666667"), std::string::npos) << m_header;
    EXPECT_NE(m_header.find("1, 12000, Tempo, 400000"), std::string::npos) << m_header;
    auto seconds = [](long t) { return t < 7680 ? t / 1920.0 : t < 12000 ? 4 + (t - 7680) / 1440.0 : 7 + (t - 12000) / 2400.0; };
    const auto on = ons();
    int at120 = 0, at90 = 0, at150 = 0;
    for (size_t i = 1; i < on.size(); ++i) {
        const long a = on[i - 1].tick, b = on[i].tick;
        // Chords change every 2 seconds, and a new chord restarts the grid.
        if (static_cast<int>(seconds(a) / 2 + 1e-9) != static_cast<int>(seconds(b) / 2 + 1e-9)) continue;
        // The arpeggiator counts its steps in samples, so a step may round to the tick beside.
        EXPECT_NEAR(b - a, 480, 1) << "at tick " << b;
        if (b <= 7680) ++at120;
        else if (a >= 7680 && b <= 12000) ++at90;
        else if (a >= 12000 + 480) ++at150;
    }
    EXPECT_GE(at120, 10);
    EXPECT_GE(at90, 6);
    EXPECT_GE(at150, 6);
}

}  // namespace
