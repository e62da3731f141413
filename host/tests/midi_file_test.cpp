// Standard MIDI files: timing through tempo maps, running status, malformed files; the writer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "../../mv_sdk2/tests/probe_report.h"
#include "mvhost/patch.h"

namespace fs = std::filesystem;

namespace {

std::vector<unsigned char> smf(const std::vector<unsigned char>& track, unsigned division = 480) {
    const uint32_t n = static_cast<uint32_t>(track.size());
    const unsigned char head[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1,
                                  static_cast<unsigned char>(division >> 8), static_cast<unsigned char>(division),
                                  'M', 'T', 'r', 'k', static_cast<unsigned char>(n >> 24),
                                  static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 8),
                                  static_cast<unsigned char>(n)};
    std::vector<unsigned char> f(std::begin(head), std::end(head));
    for (unsigned char b : track) f.push_back(b);
    return f;
}

std::string save(const std::string& name, const std::vector<unsigned char>& bytes) {
    const fs::path p = fs::temp_directory_path() / (std::to_string(::getpid()) + "_" + name);
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return p.string();
}

// 100 BPM (600000 us per beat), note on at beat 1, running-status note off half a beat later,
// then 150 BPM and a note a beat after that.
const std::vector<unsigned char> kTrack = {
    0x00, 0xFF, 0x51, 0x03, 0x09, 0x27, 0xC0,  // tempo 600000
    0x83, 0x60, 0x90, 60, 100,                 // +480: note on
    0x81, 0x70, 60, 0,                         // +240: running status, velocity 0
    0x00, 0xFF, 0x51, 0x03, 0x06, 0x1A, 0x80,  // tempo 400000
    0x83, 0x60, 0xC0, 5,                       // +480: program change (one data byte)
    0x00, 0xFF, 0x2F, 0x00};

TEST(MidiFile, TimesFollowTheTempoMap) {
    const auto events = mvh::read_midi_file(save("a.mid", smf(kTrack)));
    ASSERT_EQ(events.size(), 3u);
    EXPECT_DOUBLE_EQ(events[0].seconds, 0.6);
    EXPECT_EQ(events[0].word, 0x90 | (60 << 8) | (100 << 16));
    EXPECT_DOUBLE_EQ(events[1].seconds, 0.9);
    EXPECT_EQ(events[1].word, 0x90 | (60 << 8));
    EXPECT_DOUBLE_EQ(events[2].seconds, 1.3);
    EXPECT_EQ(events[2].word, 0xC0 | (5 << 8));
}

TEST(MidiFile, MalformedFilesAreRefusedWithTheirPlace) {
    auto error = [](const std::vector<unsigned char>& bytes) {
        try {
            mvh::read_midi_file(save("bad.mid", bytes));
        } catch (const mvh::PatchError& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_NE(error({'R', 'I', 'F', 'F'}).find("not a standard MIDI file"), std::string::npos);
    auto truncated = smf(kTrack);
    truncated.resize(truncated.size() - 10);
    EXPECT_NE(error(truncated).find("truncated"), std::string::npos);
    EXPECT_NE(error(smf({0x00, 60, 100})).find("running status not set"), std::string::npos);
    EXPECT_NE(error(smf({0x00, 0xFF, 0x01, 0x7F})).find("runs past the end"), std::string::npos);
    EXPECT_NE(error(smf({0x00, 0xFB, 0x51, 0x03})).find("status byte 251 is not a channel message"), std::string::npos);
    EXPECT_NE(error(smf({0x00, 0x90, 60, 100, 0x00, 0xF8})).find("not a channel message"), std::string::npos);
}

TEST(MidiFile, NotesLandOnTheirSampleThroughAPatch) {
    const std::string file = save("c.mid", smf(kTrack));
    nlohmann::json doc = {
        {"sample_rate", 48000}, {"block_size", 512}, {"duration", 2.0},
        {"instances", {{{"name", "p"}, {"module", "sdk_probe"}}}},
        {"events", {{{"time", 0.25}, {"midi_file", file}, {"to", "p"}}}}};
    mvh::PatchRun run(doc, "patch.json", ".", {PROBE_DIR});
    run.run_until(run.total_samples());
    ProbeReport r{};
    run.host().find("p")->dispatch(MD_12, 0, 0, &r);
    ASSERT_EQ(r.midi_count, 3);
    EXPECT_EQ(r.midi_clock[0], 12000 + 28800);
    EXPECT_EQ(r.midi_clock[1], 12000 + 43200);
    EXPECT_EQ(r.midi_clock[2], 12000 + 62400);
}

TEST(MidiFile, NotesPastTheSampleClockNeverPlay) {
    // The file starts near the end of the 32-bit clock: its notes would land past it.
    const std::string file = save("late.mid", smf(kTrack));
    nlohmann::json doc = {
        {"sample_rate", 48000}, {"block_size", 512}, {"duration", 0.01},
        {"instances", {{{"name", "p"}, {"module", "sdk_probe"}}}},
        {"events", {{{"sample", 2147483647 - 1000}, {"midi_file", file}, {"to", "p"}}}}};
    mvh::PatchRun run(doc, "patch.json", ".", {PROBE_DIR});
    run.run_until(run.total_samples());
    ProbeReport r{};
    run.host().find("p")->dispatch(MD_12, 0, 0, &r);
    EXPECT_EQ(r.midi_count, 0);
}

TEST(MidiFile, WrittenFilesReadBack) {
    const fs::path p = fs::temp_directory_path() / (std::to_string(::getpid()) + "_out.mid");
    std::vector<mvh::MidiRecord> ev = {{0, 0x643C90, 44100}, {0, 0x003C80, 66150}, {0, 0x7FFE, 1000}};
    std::string err;
    ASSERT_TRUE(mvh::write_midi_file(p.string(), ev, 44100.0, &err)) << err;
    const auto back = mvh::read_midi_file(p.string());
    ASSERT_EQ(back.size(), 2u);  // the non-channel word is dropped
    EXPECT_NEAR(back[0].seconds, 1.0, 1e-3);
    EXPECT_EQ(back[0].word, 0x643C90);
    EXPECT_NEAR(back[1].seconds, 1.5, 1e-3);
    // The last clock at 1 kHz is 2^32 ticks in: past what one delta can hold.
    ev = {{0, 0x643C90, 2147483647}};
    ASSERT_TRUE(mvh::write_midi_file(p.string(), ev, 1000.0, &err)) << err;
    const auto late = mvh::read_midi_file(p.string());
    ASSERT_EQ(late.size(), 1u);
    EXPECT_NEAR(late[0].seconds, 2147483.647, 1e-3);
    fs::remove(p);
}

// The patch's tempo goes into the file, so a note on the patch's beat lands on the file's grid: at
// 140 BPM beat 4 is clock 75600 (1.714 s), tick 3840; after a change to 70 BPM at that beat, the
// next beat is 0.857 s later, tick 4800.
TEST(MidiFile, WrittenFilesCarryThePatchTempo) {
    const fs::path p = fs::temp_directory_path() / (std::to_string(::getpid()) + "_tempo.mid");
    const std::vector<mvh::MidiRecord> ev = {{0, 0x643C90, 75600}, {0, 0x643E90, 75600 + 37800}};
    std::string err;
    ASSERT_TRUE(mvh::write_midi_file(p.string(), ev, 44100.0, {{0, 140.0}, {75600, 70.0}}, &err)) << err;
    const auto back = mvh::read_midi_file(p.string());
    ASSERT_EQ(back.size(), 2u);
    EXPECT_NEAR(back[0].seconds, 75600 / 44100.0, 1e-3);
    EXPECT_NEAR(back[1].seconds, 113400 / 44100.0, 1e-3);
    const std::string csv = (p.string() + ".csv");
    ASSERT_EQ(std::system(("midicsv '" + p.string() + "' '" + csv + "'").c_str()), 0);
    std::ifstream in(csv);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("1, 0, Tempo, 428571"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("1, 3840, Tempo, 857143"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("1, 3840, Note_on_c, 0, 60, 100"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("1, 4800, Note_on_c, 0, 62, 100"), std::string::npos) << text.str();
    fs::remove(p);
    fs::remove(csv);
}

}  // namespace
