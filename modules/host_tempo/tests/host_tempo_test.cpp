// host_tempo through the reference host: the tempo as volts, announced once per change.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "mvhost/commands.h"
#include "mvhost/host.h"

namespace {

const std::string kPlugin = std::string(MV_PLUGIN_DIR) + "/host_tempo.so";

struct TempoHost : ::testing::Test {
    mvh::Host host;
    mvh::Instance* tempo = nullptr;
    void SetUp() override {
        host.config().block_size = 256;
        std::string err;
        tempo = host.add(kPlugin, "tempo", {}, &err);
        ASSERT_NE(tempo, nullptr) << err;
        host.open();
    }
    float* out() { return tempo->buffer(0); }
};

TEST_F(TempoHost, AnnouncesOnceAndHoldsTheTempoAsVolts) {
    host.set_tempo(120.0);
    host.run(4 * 256);
    ASSERT_EQ(tempo->status_log.size(), 1u);
    EXPECT_EQ(tempo->status_log[0].state, PIN_CHANGED_ONCE);
    EXPECT_EQ(tempo->status_log[0].clock, 0);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(out()[i], 12.0f);
}

TEST_F(TempoHost, ChangeIsAnnouncedAtTheFirstSampleOfTheCall) {
    host.set_tempo(120.0);
    host.run(3 * 256);
    host.set_tempo(140.0);
    host.run_block();
    ASSERT_EQ(tempo->status_log.size(), 2u);
    EXPECT_EQ(tempo->status_log[1].clock, 3 * 256);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(out()[i], 14.0f);
}

TEST_F(TempoHost, TempoZeroShowsTheDefault) {
    host.set_tempo(0.0);
    host.run_block();
    EXPECT_EQ(out()[0], 12.0f);
}

TEST_F(TempoHost, WithoutTimeInformationTheOutputIsLeftAlone) {
    host.set_tempo(90.0);
    host.run_block();
    ASSERT_EQ(out()[10], 9.0f);
    host.config().time_info = false;
    out()[10] = -1.0f;
    // The hold count still runs down: one more full write, then the buffer is left alone.
    host.run_block();
    EXPECT_EQ(out()[10], 9.0f);
    out()[10] = -1.0f;
    host.run_block();
    EXPECT_EQ(out()[10], -1.0f);
    EXPECT_EQ(tempo->status_log.size(), 1u);
}

TEST(Describe, PrintsTheBrowserView) {
    std::ostringstream out, err;
    ASSERT_EQ(mvh::cmd_describe({kPlugin, false, {}}, out, err), 0) << err.str();
    EXPECT_NE(out.str().find("name:        WN_Host_BPM"), std::string::npos);
    EXPECT_NE(out.str().find("id:          HOST_BPM_VALUE_WN2003a"), std::string::npos);
    EXPECT_NE(out.str().find("sdk version: 2230"), std::string::npos);
    EXPECT_NE(out.str().find("  Ver:2.0"), std::string::npos);
    EXPECT_NE(out.str().find("0 \"Tempo/BPM Out\" out audio flags=0"), std::string::npos);
}

TEST(Describe, BadInputGivesOneLineAndStatusTwo) {
    for (const std::string& path : {std::string("/no/such/plugin.so"), std::string(MV_SOURCE_DIR "/README.md"),
                                    std::string("/lib/x86_64-linux-gnu/libm.so.6")}) {
        std::ostringstream out, err;
        EXPECT_EQ(mvh::cmd_describe({path, false, {}}, out, err), 2) << path;
        const std::string e = err.str();
        EXPECT_EQ(std::count(e.begin(), e.end(), '\n'), 1) << e;
        EXPECT_TRUE(out.str().empty());
    }
}

}  // namespace
