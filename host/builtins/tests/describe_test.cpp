// What each built-in module shows the host: names, identifiers, pins; and a host that gives it
// no callback.
#include "builtin_rig.h"

namespace {

using mvb_test::builtin_path;
using mvb_test::Rig;

struct Expected {
    const char* file;
    const char* name;
    const char* id;
    std::vector<std::string> pins;
};

const std::vector<Expected> kModules = {
    {"midi_source", "MV_MidiSource", "MVHOST_MIDI_SOURCE", {"MIDI In", "MIDI Out"}},
    {"midi_to_cv", "MV_MidiToCV", "MVHOST_MIDI_TO_CV", {"MIDI In", "Channel", "Pitch", "Gate", "Velocity"}},
    {"adsr", "MV_ADSR", "MVHOST_ADSR", {"Gate", "Attack", "Decay", "Sustain", "Release", "Out"}},
    {"vca", "MV_VCA", "MVHOST_VCA", {"Signal", "Gain", "Out"}},
    {"lfo", "MV_LFO", "MVHOST_LFO", {"Rate", "Shape", "Amplitude", "Out"}},
    {"constant", "MV_Constant", "MVHOST_CONSTANT", {"Value", "Out"}},
    {"mixer", "MV_Mixer", "MVHOST_MIXER", {"Out", "In"}},
    {"audio_out", "MV_AudioOut", "MVHOST_AUDIO_OUT", {"Left", "Right"}},
    {"audio_file", "MV_AudioFile", "MVHOST_AUDIO_FILE", {"File", "Gain", "Left", "Right"}},
};

TEST(BuiltinDescription, NamesIdentifiersAndPins) {
    for (const Expected& m : kModules) {
        std::string err;
        auto plugin = mvh::Plugin::load(builtin_path(m.file), &err);
        ASSERT_TRUE(plugin) << err;
        EXPECT_EQ(plugin->name(), m.name);
        EXPECT_EQ(plugin->id(), m.id);
        EXPECT_EQ(plugin->sdk_version(), 2230);
        EXPECT_FALSE(plugin->about().empty());
        mvh::Host host;
        mvh::Instance* inst = host.add(plugin, "x");
        ASSERT_NE(inst->audio(), nullptr);
        EXPECT_EQ(inst->gui(), nullptr) << m.file << " has no panel";
        std::vector<std::string> names;
        for (const auto& p : inst->pins()) names.push_back(p.name);
        EXPECT_EQ(names, m.pins) << m.file;
        MVPinProperties p{};
        EXPECT_EQ(inst->dispatch(MD_PIN_PROPERTIES, static_cast<int>(m.pins.size()), 0, &p), 0);
        EXPECT_EQ(inst->dispatch(MD_PIN_PROPERTIES, -1, 0, &p), 0);
        EXPECT_EQ(inst->dispatch(MD_PIN_PROPERTIES, 0, 0, nullptr), 0);
    }
}

TEST(BuiltinDescription, ChoiceListsAndDefaultsAreInVolts) {
    Rig rig;
    auto* cv = rig.add("midi_to_cv", "cv");
    const auto& channel = cv->pins()[Rig::pin(cv, "Channel")];
    EXPECT_EQ(channel.default_value, "-1");
    EXPECT_EQ(channel.extra.rfind("All=-1,1=0,2=1,", 0), 0u);
    EXPECT_NE(channel.extra.find(",16=15"), std::string::npos);
    auto* lfo = rig.add("lfo", "lfo");
    EXPECT_EQ(lfo->pins()[Rig::pin(lfo, "Shape")].extra, "Sine,Triangle,Saw");
    EXPECT_EQ(lfo->value(Rig::pin(lfo, "Amplitude")).f, 0.5f);
    auto* src = rig.add("midi_source", "src");
    EXPECT_TRUE(src->pins()[Rig::pin(src, "MIDI In")].flags & IO_PRIVATE);
    auto* mix = rig.add("mixer", "mix");
    EXPECT_TRUE(mix->pins()[Rig::pin(mix, "In")].flags & IO_DUPLICATES);
}

TEST(BuiltinLifecycle, WithoutACallbackEveryModuleOpensRunsAndCloses) {
    for (const Expected& m : kModules) {
        Rig rig(48000.0f, 64);
        mvh::InstanceOptions o;
        o.null_callback = true;
        auto* inst = rig.add(m.file, "x", o);
        rig.host.run(256);
        EXPECT_TRUE(inst->is_open()) << m.file;
        inst->dispatch(MD_WAKE, 1);
        rig.host.run(64);
    }
}

TEST(BuiltinLifecycle, AudioOutSleepsOnStaticInputsAndStaysAwakeWhileSignalStreams) {
    Rig rig(1280.0f, 128);
    auto* out = rig.add("audio_out", "out");
    rig.host.run(256);
    EXPECT_TRUE(out->sleeping());
    Rig live(1280.0f, 128);
    auto* lfo = live.add("lfo", "lfo");
    auto* out2 = live.add("audio_out", "out");
    live.wire(lfo, "Out", out2, "Left");
    live.host.run(256);
    EXPECT_FALSE(out2->sleeping());
}

TEST(BuiltinLifecycle, SleepingModulesWakeForEventsAndKeepTheirBuffers) {
    Rig rig(48000.0f, 128);
    auto* c = rig.add("constant", "c");
    rig.set_volts(c, "Value", 1.5);
    const auto& out = rig.record(c, "Out");
    rig.host.run(512);
    ASSERT_TRUE(c->sleeping());
    const int changes = c->process_changes;
    rig.host.run(512);
    EXPECT_EQ(c->process_changes, changes) << "asleep: no further work";
    for (float v : out) ASSERT_EQ(v, 0.15f);
    rig.set_volts(c, "Value", 2.5, 1100);
    rig.host.run(256);
    EXPECT_EQ(out[1099], 0.15f);
    // Asleep again only once the whole buffer holds the new value.
    for (int k = 1100; k < 1280; ++k) ASSERT_EQ(out[k], 0.25f) << k;
}

}  // namespace
