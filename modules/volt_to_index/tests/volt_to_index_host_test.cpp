// volt_to_index through the reference host: description, static and streaming inputs, mode switch.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "mv_testing/host_rig.h"

namespace {

constexpr int kVolts = 0;
constexpr int kIndex = 1;
constexpr int kMode = 2;

TEST(VoltToIndexBoundary, DescribesItselfAndItsThreePins) {
    std::string error;
    auto plugin = mvh::Plugin::load(mv_testing::plugin_path("volt_to_index"), &error);
    ASSERT_TRUE(plugin) << error;
    EXPECT_EQ(plugin->name(), "WN_Volt_to_Index");
    EXPECT_EQ(plugin->id(), "Volt_to_DT_ENUM_Index_WN2003a");
    EXPECT_EQ(plugin->sdk_version(), 2230);
    EXPECT_EQ(plugin->module_flags(), 0);
    EXPECT_EQ(plugin->about().rfind("Converts a Volt Value to DIRECT Choice Index\nVer:2.0", 0), 0u);
    EXPECT_NE(plugin->about().find("\n\n*Note: Index 0 = 1st Choice List Item\n\nModes:-\n"), std::string::npos);

    MVModuleProperties props;
    std::memset(&props, 0, sizeof props);
    EXPECT_EQ(plugin->get_module_properties()(1, &props), 0);
    EXPECT_EQ(props.name, nullptr);
    EXPECT_EQ(plugin->make_module()(1, 1, nullptr, 0), nullptr);
    EXPECT_EQ(plugin->make_module()(0, 3, nullptr, 0), nullptr);

    mvh::Host host;
    mvh::Instance* inst = host.add(plugin, "vti");
    ASSERT_NE(inst->audio(), nullptr);
    EXPECT_EQ(inst->audio()->magic, 0xFF535756u);
    EXPECT_NE(inst->gui(), nullptr);  // the empty GUI object
    const auto& pins = inst->pins();
    ASSERT_EQ(pins.size(), 3u);
    EXPECT_EQ(pins[kVolts].name, "Volts");
    EXPECT_EQ(pins[kVolts].direction, DR_IN);
    EXPECT_EQ(pins[kVolts].datatype, DT_FSAMPLE);
    EXPECT_EQ(pins[kIndex].name, "(Choice) Index");
    EXPECT_EQ(pins[kIndex].direction, DR_OUT);
    EXPECT_EQ(pins[kIndex].datatype, DT_ENUM);
    EXPECT_EQ(pins[kMode].name, "Mode");
    EXPECT_EQ(pins[kMode].datatype, DT_ENUM);
    EXPECT_EQ(pins[kMode].extra, "Floor,Nearest");
    EXPECT_EQ(pins[kMode].default_value, "1");
    for (const auto& p : pins) EXPECT_EQ(p.flags, 0) << p.name;

    MVPinProperties p;
    std::memset(&p, 0, sizeof p);
    EXPECT_EQ(inst->dispatch(MD_PIN_PROPERTIES, 3, 0, &p), 0);
    EXPECT_EQ(inst->dispatch(MD_PIN_PROPERTIES, -1, 0, &p), 0);
    EXPECT_EQ(p.name, nullptr);
}

TEST(VoltToIndexStatic, ConvertsOnceAnnouncesAtTheChangeAndSleeps) {
    mv_testing::HostRig r;
    mvh::Instance* vti = r.add("volt_to_index", "vti");
    vti->set_float(kVolts, 0.37f);   // 3.7 V
    r.host.open();
    r.host.run_block();
    EXPECT_EQ(vti->read_variable(kIndex).i, 4);  // the default mode is Nearest
    auto a = mv_testing::announcements(vti, kIndex);
    ASSERT_EQ(a.size(), 1u);
    EXPECT_EQ(a[0].clock, 0);
    EXPECT_EQ(a[0].state, PIN_CHANGED_ONCE);
    EXPECT_TRUE(vti->sleeping());

    // A new static value mid-block is converted at its own clock.
    vti->set_float(kVolts, -0.37f, 64 + 20);
    r.host.run_block();
    EXPECT_EQ(vti->read_variable(kIndex).i, -4);
    a = mv_testing::announcements(vti, kIndex);
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[1].clock, 84);

    // The same index again announces nothing.
    vti->set_float(kVolts, -0.41f, 128);
    r.host.run_block();
    EXPECT_EQ(mv_testing::announcements(vti, kIndex).size(), 2u);
}

TEST(VoltToIndexStatic, ModeSwitchReannouncesAtTheCurrentClock) {
    mv_testing::HostRig r;
    mvh::Instance* vti = r.add("volt_to_index", "vti");
    vti->set_int(kMode, 0);
    vti->set_float(kVolts, 0.37f);
    r.host.open();
    r.host.run(128);
    EXPECT_EQ(vti->read_variable(kIndex).i, 3);

    vti->set_int(kMode, 1, 128 + 37);
    r.host.run_block();
    EXPECT_EQ(vti->read_variable(kIndex).i, 4);
    auto a = mv_testing::announcements(vti, kIndex);
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[1].clock, 165);
    EXPECT_EQ(a[1].state, PIN_CHANGED_ONCE);

    vti->set_int(kMode, 0, 192);
    r.host.run_block();
    EXPECT_EQ(vti->read_variable(kIndex).i, 3);
    EXPECT_EQ(mv_testing::announcements(vti, kIndex).size(), 3u);
}

TEST(VoltToIndexStreaming, AnnouncesExactlyAtTheSamplesWhereTheIndexChanges) {
    mv_testing::HostRig r;
    mvh::Instance* vti = r.add("volt_to_index", "vti");
    vti->set_int(kMode, 0);  // Floor
    // Block 0 and 1 hold 0.5 (5 V); block 2 moves to 0.7 at clock 138 and to -0.37 at 150, with
    // 0.79 (still 7 in Floor) in between.
    r.feed(vti, kVolts, [](int clock) {
        if (clock < 138) return 0.5f;
        if (clock < 145) return 0.7f;
        if (clock < 150) return 0.79f;
        return -0.37f;
    });
    r.host.open();
    r.host.run(128);
    auto a = mv_testing::announcements(vti, kIndex);
    ASSERT_EQ(a.size(), 1u);  // one announcement at the first sample, none while it holds
    EXPECT_EQ(a[0].clock, 0);
    EXPECT_EQ(vti->read_variable(kIndex).i, 5);
    EXPECT_FALSE(vti->sleeping());

    r.host.run_block();
    a = mv_testing::announcements(vti, kIndex);
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[1].clock, 138);
    EXPECT_EQ(a[2].clock, 150);
    EXPECT_EQ(vti->read_variable(kIndex).i, -3);
    EXPECT_FALSE(vti->sleeping());
}

TEST(VoltToIndexStreaming, IndexFollowsEverySample) {
    // Each block is one sample long, so the variable can be read after every sample.
    mv_testing::HostRig r(44100.0f, 1);
    mvh::Instance* vti = r.add("volt_to_index", "vti");
    const float samples[] = {0.25f, 0.25f, 0.75f, 0.34f, -0.25f, 0.7f};
    const int expected[] = {2, 2, 8, 3, -2, 7};
    r.feed(vti, kVolts, [&](int clock) { return samples[clock]; });
    r.host.open();
    for (int k = 0; k < 6; ++k) {
        r.host.run_block();
        EXPECT_EQ(vti->read_variable(kIndex).i, expected[k]) << "sample " << k;
    }
    EXPECT_EQ(mv_testing::announcements(vti, kIndex).size(), 5u);
}

TEST(VoltToIndexBoundary, RunsWithANullHostCallback) {
    mvh::Host host;
    mvh::InstanceOptions options;
    options.null_callback = true;
    std::string error;
    mvh::Instance* vti = host.add(mv_testing::plugin_path("volt_to_index"), "vti", options, &error);
    ASSERT_TRUE(vti && vti->audio()) << error;
    host.open();
    host.run(2048);
    EXPECT_TRUE(vti->status_log.empty());
}

}  // namespace
