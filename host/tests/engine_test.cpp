// The engine as its drivers use it: any run() length gives the render's output, events land on
// their frame, values cross between the two threads both ways, audio_in takes the driver's sound.
#include <gtest/gtest.h>

#include <numeric>

#include "mvhost/engine.h"
#include "mvhost/render.h"

using nlohmann::json;
using mvh::Engine;
using mvh::EngineEvent;

namespace {

Engine::Options options(Engine::Threads threads) {
    Engine::Options o;
    o.threads = threads;
    o.plugin_dirs = mvh::default_plugin_dirs();
    return o;
}

// Runs `frames` in calls of the given lengths (cycled), pumping the GUI side between calls as a
// live driver does; returns the output channels.
std::vector<std::vector<float>> play(Engine& engine, int frames, const std::vector<int>& lengths) {
    const size_t channels = engine.outputs().size();
    std::vector<std::vector<float>> out(channels, std::vector<float>(static_cast<size_t>(frames)));
    engine.activate();
    for (int done = 0, k = 0; done < frames; ++k) {
        const int n = std::min(lengths[static_cast<size_t>(k) % lengths.size()], frames - done);
        std::vector<float*> ptrs;
        for (auto& c : out) ptrs.push_back(c.data() + done);
        EXPECT_EQ(engine.run(n, nullptr, ptrs.data()), n);
        engine.pump();
        done += n;
    }
    engine.deactivate();
    return out;
}

json patch(const char* instances, const char* wires, const char* channels) {
    return json::parse(std::string(R"({"sample_rate": 48000, "block_size": 64, "duration": 0.05, "instances": )") +
                       instances + R"(, "wires": )" + wires + R"(, "output": {"channels": )" + channels + "}}");
}

}  // namespace

// Runs that do not end where the patch's blocks end (98, 235, 21, 256 against blocks of 256) once left
// the tail of a sleeping envelope's buffer stale, and the released note sounded again.
TEST(Engine, AnyRunLengthGivesTheOutputOfWholeBlocks) {
    const std::string path = std::string(MV_SOURCE_DIR) + "/examples/arp_chorus.json";
    const int frames = 44100;
    auto whole = Engine::from_file(path, options(Engine::Threads::One));
    const auto reference = play(*whole, frames, {whole->block_size()});
    ASSERT_GT(*std::max_element(reference[1].begin(), reference[1].end()), 0.01f);
    for (Engine::Threads threads : {Engine::Threads::One, Engine::Threads::Two})
        for (const std::vector<int>& lengths : {std::vector<int>{1, 7, 64, 333, 4096, 100}, std::vector<int>{98, 235, 21, 256}}) {
            auto engine = Engine::from_file(path, options(threads));
            EXPECT_EQ(play(*engine, frames, lengths), reference)
                << (threads == Engine::Threads::One ? "one thread, " : "two threads, ") << lengths.size() << " lengths";
        }
}

TEST(Engine, EventsReachTheirInstanceOnTheirFrame) {
    auto engine = Engine::from_document(
        patch(R"([{"name": "keys", "module": "midi_source"}, {"name": "cv", "module": "midi_to_cv"},
                  {"name": "c", "module": "constant"}])",
              R"([["keys.MIDI Out", "cv.MIDI In"]])", R"(["cv.Gate", "c.Out"])"),
        "events.json", ".", options(Engine::Threads::Two));
    ASSERT_EQ(engine->midi_sources().size(), 1u);
    mvh::Instance* keys = engine->midi_sources()[0];
    mvh::Instance* c = engine->host().find("c");
    const int value = c->find_pin("Value");
    std::vector<float> gate(200), held(200);
    float* out[] = {gate.data(), held.data()};
    engine->activate();
    engine->set_control(c, value, mvh::PinValue{0, 0.3f, {}});  // a person's control, heard from the next run
    EngineEvent events[2];
    events[0].kind = EngineEvent::Midi, events[0].frame = 37, events[0].inst = keys;
    events[0].pin = keys->find_pin("MIDI In"), events[0].midi = 0x90 | (60 << 8) | (100 << 16);
    events[1].kind = EngineEvent::Value, events[1].frame = 150, events[1].inst = c, events[1].pin = value;
    events[1].f = 0.7f;
    ASSERT_EQ(engine->run(200, nullptr, out, events, 2), 200);
    engine->pump();
    engine->deactivate();
    EXPECT_EQ(gate[36], 0.0f);
    EXPECT_GT(gate[37], 0.0f);
    EXPECT_EQ(held[149], 0.3f);
    EXPECT_EQ(held[150], 0.7f);
    // The GUI side's copy follows what sounds, so that a saved patch keeps it.
    EXPECT_EQ(c->value(value).f, 0.7f);
}

TEST(Engine, AudioInPlaysTheDriversChannels) {
    for (const char* channels : {"Stereo", "Mono"}) {
        const std::string instances = std::string(R"([{"name": "in", "module": "audio_in", "pins": {"Channels": ")") +
                                      channels + R"("}}])";
        auto engine = Engine::from_document(patch(instances.c_str(), "[]", R"(["in.Left", "in.Right"])"), "in.json", ".",
                                            options(Engine::Threads::One));
        const size_t fed = std::string(channels) == "Mono" ? 1 : 2;
        ASSERT_EQ(engine->inputs().size(), fed) << channels;
        std::vector<float> a(100), b(100), left(100), right(100);
        std::iota(a.begin(), a.end(), 0.0f);
        std::iota(b.begin(), b.end(), -50.0f);
        const float* in[] = {a.data(), b.data()};
        float* out[] = {left.data(), right.data()};
        engine->run(100, in, out);
        EXPECT_EQ(left, a) << channels;
        EXPECT_EQ(right, fed == 1 ? a : b) << channels;
    }
}
