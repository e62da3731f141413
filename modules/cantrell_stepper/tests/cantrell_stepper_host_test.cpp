// cantrell_stepper through the reference host: description, no GUI object, static and streaming
// pulses, reset, mode and Off/On changes, sleeping.
#include <gtest/gtest.h>

#include <cstring>

#include "mv_testing/host_rig.h"

namespace {

enum { kPulse = 0, kStep = 1, kStart = 2, kEnd = 3, kReset = 4, kMode = 5, kOn = 6, kOut = 7, kTolerance = 8 };
enum { kContinuous = 0, kStop = 1, kWrap = 2, kReverse = 3 };

TEST(StepperBoundary, DescribesItselfAndHasNoGuiObject) {
    std::string error;
    auto plugin = mvh::Plugin::load(mv_testing::plugin_path("cantrell_stepper"), &error);
    ASSERT_TRUE(plugin) << error;
    EXPECT_EQ(plugin->name(), "ZR_Cantrell");
    EXPECT_EQ(plugin->id(), "ZR_Cantrell module");
    EXPECT_EQ(plugin->about().rfind("ZR_Cantrell module V1.4\n", 0), 0u);
    EXPECT_EQ(plugin->sdk_version(), 2230);
    EXPECT_EQ(plugin->module_flags(), 0);

    MVModuleProperties props;
    std::memset(&props, 0, sizeof props);
    EXPECT_EQ(plugin->get_module_properties()(1, &props), 0);
    EXPECT_EQ(props.sdk_version, 2230);  // written before the index is tested
    EXPECT_EQ(props.name, nullptr);
    EXPECT_EQ(plugin->make_module()(0, 2, nullptr, 0), nullptr);

    mvh::Host host;
    mvh::Instance* inst = host.add(plugin, "stepper");  // the host asks for a GUI object too
    ASSERT_NE(inst->audio(), nullptr);
    EXPECT_EQ(inst->gui(), nullptr);
    EXPECT_EQ(inst->audio()->magic, 0x0204C969u);

    const auto& pins = inst->pins();
    ASSERT_EQ(pins.size(), 9u);
    const char* names[] = {"Pulse In", "Step Amount", "Start", "End", "Reset"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(pins[i].name, names[i]);
        EXPECT_EQ(pins[i].direction, DR_IN);
        EXPECT_EQ(pins[i].datatype, DT_FSAMPLE);
        EXPECT_EQ(pins[i].default_value, "0");
    }
    EXPECT_EQ(pins[kMode].name, "Mode");
    EXPECT_EQ(pins[kMode].datatype, DT_ENUM);
    EXPECT_EQ(pins[kMode].default_value, "0");
    EXPECT_EQ(pins[kMode].extra, "Continuous,Stop at Bounds,Wrap at Bounds,Reverse at Bounds");
    EXPECT_EQ(pins[kOn].name, "Off/On");
    EXPECT_EQ(pins[kOn].default_value, "1");
    EXPECT_EQ(pins[kOn].extra, "Off,On");
    EXPECT_EQ(pins[kOut].name, "Output");
    EXPECT_EQ(pins[kOut].direction, DR_OUT);
    EXPECT_EQ(pins[kOut].datatype, DT_FSAMPLE);
    EXPECT_EQ(pins[kTolerance].name, "Tolerance for \"equal\"");
    EXPECT_EQ(pins[kTolerance].direction, DR_PARAMETER);
    EXPECT_EQ(pins[kTolerance].datatype, DT_FLOAT);
    EXPECT_EQ(pins[kTolerance].default_value, "0.000001");

    auto* rec = reinterpret_cast<MVProcessMemberRecord*>(inst->dispatch(MD_PROCESS_MEMBER));
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->count, 1);
    EXPECT_EQ(rec->size, static_cast<int32_t>(sizeof(void*)) + 12);  // 16 on the 32-bit host
}

class StepperStatic : public ::testing::Test {
protected:
    void SetUp() override {
        m_stepper = m_rig.add("cantrell_stepper", "stepper");
        m_stepper->set_float(kStep, 0.1f);
        m_stepper->set_float(kEnd, 0.7f);
    }
    // One block with the pulse input high, one with it low; returns the output after the pulse.
    float pulse() {
        m_stepper->set_float(kPulse, 1.0f);
        m_rig.host.run_block();
        const float v = out();
        m_stepper->set_float(kPulse, 0.0f);
        m_rig.host.run_block();
        return v;
    }
    float out() { return m_stepper->buffer(kOut)[0]; }

    mv_testing::HostRig m_rig;
    mvh::Instance* m_stepper = nullptr;
};

TEST_F(StepperStatic, WrapsThroughEightValuesAndSleepsBetweenPulses) {
    m_stepper->set_int(kMode, kWrap);
    m_rig.host.open();
    m_rig.host.run_block();
    EXPECT_TRUE(m_stepper->sleeping());
    const float want[] = {0.1f, 0.2f, 0.3f, 0.4f, 0.5f, 0.6f, 0.7f, 0.0f, 0.1f};
    for (float w : want) {
        EXPECT_NEAR(pulse(), w, 1e-5f);
        EXPECT_TRUE(m_stepper->sleeping());
    }
    // With static inputs the output is never reported as streaming.
    const auto a = mv_testing::announcements(m_stepper, kOut);
    ASSERT_FALSE(a.empty());
    for (const auto& x : a) EXPECT_NE(x.state, PIN_STREAMING);
}

TEST_F(StepperStatic, ModeChangeSetsTheValueToZeroNotToStart) {
    m_stepper->set_int(kMode, kStop);
    m_stepper->set_float(kStart, 0.2f);
    m_rig.host.open();
    m_rig.host.run_block();
    EXPECT_FLOAT_EQ(out(), 0.0f);  // open and the initial states leave 0, not the start
    EXPECT_NEAR(pulse(), 0.1f, 1e-6f);
    EXPECT_NEAR(pulse(), 0.2f, 1e-6f);
    m_stepper->set_int(kMode, kContinuous);
    m_rig.host.run_block();
    EXPECT_FLOAT_EQ(out(), 0.0f);
    // Only a reset edge loads the start value.
    m_stepper->set_float(kReset, 1.0f);
    m_rig.host.run_block();
    EXPECT_FLOAT_EQ(out(), 0.2f);
}

TEST_F(StepperStatic, OffOutputsZeroSleepsAndOnStartsAgainFromZero) {
    m_stepper->set_int(kMode, kContinuous);
    m_rig.host.open();
    m_rig.host.run_block();
    pulse();
    pulse();
    EXPECT_NEAR(out(), 0.2f, 1e-6f);
    m_stepper->set_int(kOn, 0);
    m_rig.host.run_block();
    EXPECT_FLOAT_EQ(out(), 0.0f);
    EXPECT_TRUE(m_stepper->sleeping());
    auto a = mv_testing::announcements(m_stepper, kOut);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.back().state, PIN_CHANGED_ONCE);
    EXPECT_FLOAT_EQ(pulse(), 0.0f);  // pulses while Off do not count
    m_stepper->set_int(kOn, 1);
    m_rig.host.run_block();
    EXPECT_NEAR(pulse(), 0.1f, 1e-6f);
}

TEST(StepperStreaming, StepsAtTheExactSampleOfEachRisingEdge) {
    mv_testing::HostRig r;
    mvh::Instance* s = r.add("cantrell_stepper", "stepper");
    s->set_float(kStep, 0.1f);
    s->set_float(kEnd, 0.3f);
    s->set_int(kMode, kReverse);
    // Rising edges at clocks 10, 20, 30, 40 and 70 (across a block boundary: high 60..79).
    r.feed(s, kPulse, [](int c) { return (c >= 10 && c % 10 < 3 && c < 50) || (c >= 70 && c < 80) ? 1.0f : 0.0f; });
    r.host.open();
    r.host.run_block();
    const float* out = s->buffer(kOut);
    EXPECT_FLOAT_EQ(out[9], 0.0f);
    EXPECT_NEAR(out[10], 0.1f, 1e-6f);
    EXPECT_NEAR(out[19], 0.1f, 1e-6f);
    EXPECT_NEAR(out[20], 0.2f, 1e-6f);
    EXPECT_NEAR(out[30], 0.3f, 1e-6f);
    EXPECT_NEAR(out[40], 0.2f, 1e-6f);  // reversed one step inside the upper bound
    EXPECT_NEAR(out[63], 0.2f, 1e-6f);
    EXPECT_FALSE(s->sleeping());
    auto a = mv_testing::announcements(s, kOut);
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(a.back().state, PIN_STREAMING);
    r.host.run_block();
    EXPECT_NEAR(out[70 - 64], 0.1f, 1e-6f);
    EXPECT_NEAR(out[63], 0.1f, 1e-6f);
}

TEST(StepperStreaming, ResetWinsOverAPulseOnTheSameSample) {
    mv_testing::HostRig r;
    mvh::Instance* s = r.add("cantrell_stepper", "stepper");
    s->set_float(kStep, 0.1f);
    s->set_float(kStart, 0.4f);
    s->set_float(kEnd, 0.9f);
    r.feed(s, kPulse, [](int c) { return c % 4 == 1 ? 1.0f : 0.0f; });  // edges at 1, 5, 9, ...
    r.feed(s, kReset, [](int c) { return c == 9 ? 1.0f : 0.0f; });
    r.host.open();
    r.host.run_block();
    const float* out = s->buffer(kOut);
    EXPECT_NEAR(out[5], 0.2f, 1e-6f);
    EXPECT_NEAR(out[9], 0.4f, 1e-6f);  // the reset, not 0.3
    EXPECT_NEAR(out[13], 0.5f, 1e-6f);
}

TEST(StepperStreaming, OffStaysAtZeroWhileAnInputStreams) {
    mv_testing::HostRig r;
    mvh::Instance* s = r.add("cantrell_stepper", "stepper");
    s->set_float(kStep, 0.1f);
    s->set_float(kEnd, 0.9f);
    s->set_int(kOn, 0);
    r.feed(s, kPulse, [](int c) { return c % 2 ? 1.0f : 0.0f; });
    r.host.open();
    r.host.run(256);
    EXPECT_TRUE(s->sleeping());
    EXPECT_FLOAT_EQ(s->buffer(kOut)[63], 0.0f);
    for (const auto& a : mv_testing::announcements(s, kOut)) EXPECT_NE(a.state, PIN_STREAMING);
}

}  // namespace
