// The host's GUI side: pin writes and their notifications, the shared audio side, idle calls, the
// context chain and the host's answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "../../mv_sdk2/tests/probe_report.h"
#include "mvhost/host.h"
#include "mvhost/patch.h"

namespace {

const std::string kProbe = std::string(PROBE_DIR) + "/sdk_probe.so";

GuiProbeReport gui_report(mvh::Instance* inst) {
    GuiProbeReport r{};
    inst->gui_dispatch(GD_MESSAGE, sizeof r, 0x72707274, &r);
    return r;
}

ProbeReport report(mvh::Instance* inst) {
    ProbeReport r{};
    inst->dispatch(MD_12, 0, 0, &r);
    return r;
}

int count(const GuiProbeReport& r, int pin) {
    return static_cast<int>(std::count(r.changed_pin, r.changed_pin + std::min(r.changed_count, kProbeMax), pin));
}

struct GuiHost : ::testing::Test {
    mvh::Host host{[] {
        mvh::HostConfig c;
        c.block_size = 64;
        c.host_mode = 2;
        c.host_folder = "/opt/morvane";
        return c;
    }()};
    mvh::Instance *a = nullptr, *b = nullptr;
    void SetUp() override {
        mvh::InstanceOptions oa, ob;
        oa.panel_x = 200;
        oa.panel_y = 50;
        ob.restored = true;
        a = host.add(kProbe, "a", oa);
        b = host.add(kProbe, "b", ob);
        ASSERT_TRUE(a && b);
        ASSERT_TRUE(host.connect(a, a->find_pin("Gui Out"), b, b->find_pin("Gui")));
        host.open();
    }
};

TEST_F(GuiHost, ConstructionAndOpenSeeTheHostsAnswers) {
    EXPECT_EQ(a->panel_width, 40);
    EXPECT_EQ(a->panel_height, 30);
    GuiProbeReport ra = gui_report(a), rb = gui_report(b);
    EXPECT_EQ(ra.open_flag, 0);
    EXPECT_EQ(rb.open_flag, 1);
    EXPECT_EQ(ra.host_mode, 2);
    EXPECT_STREQ(ra.folder, "/opt/morvane/");
    EXPECT_EQ(ra.pin_count, 9);
}

TEST_F(GuiHost, WritesNotifyWiredInputsEveryTimeAndTheWriterOnlyOnChange) {
    a->pointer(GD_POINTER_DOWN, 3, 4);
    GuiProbeReport rb = gui_report(b);
    EXPECT_EQ(count(rb, 1), 1);
    EXPECT_STREQ(rb.gui_text, "3,4");
    EXPECT_EQ(count(gui_report(a), 2), 1);
    a->pointer(GD_POINTER_DOWN, 3, 4);  // same text again
    EXPECT_EQ(count(gui_report(b), 1), 2);
    EXPECT_EQ(count(gui_report(a), 2), 1);
    EXPECT_EQ(a->value(a->find_pin("Gui Out")).text, "3,4");
}

TEST_F(GuiHost, SharedPinsReachTheAudioSideAtTheNextBlock) {
    host.run_block();
    a->pointer(GD_POINTER_DOWN, 10, 20);
    EXPECT_NE(report(a).both_value, 30);
    host.run_block();
    ProbeReport r = report(a);
    EXPECT_EQ(r.both_value, 30);
    EXPECT_EQ(r.status_clock[r.status_count - 1], 64);
    EXPECT_EQ(count(gui_report(a), 7), 1);  // changed: the writer hears of it too
}

TEST_F(GuiHost, IdleCallsFollowEveryBlockOnceTurnedOn) {
    host.run(4 * 64);
    EXPECT_EQ(gui_report(a).idle_count, 4);
}

TEST_F(GuiHost, ContextChainLeadsToThePatchViewWindow) {
    a->pointer(GD_POINTER_DOWN, 5, 6);
    GuiProbeReport r = gui_report(a);
    EXPECT_EQ(r.window, host.patch_window());
    EXPECT_NE(r.window, 0);
    EXPECT_EQ(r.mapped_x, 205);
    EXPECT_EQ(r.mapped_y, 56);
}

TEST_F(GuiHost, BadPinIndicesFromTheGuiAreIgnored) {
    // Through the callback with an out-of-range pin: nothing is stored, nothing crashes.
    EXPECT_EQ(mvh::host_callback(a->gui(), GM_SET_TEXT, 99, 0, const_cast<char*>("x"), 0), 0);
    EXPECT_EQ(mvh::host_callback(a->gui(), GM_GET_TEXT, -1, 0, nullptr, 0), 0);
    int v = 5;
    EXPECT_EQ(mvh::host_callback(a->gui(), GM_GET_VALUE, 1000, 0, &v, 0), 0);
    EXPECT_EQ(v, 5);
    EXPECT_EQ(mvh::host_callback(nullptr, AM_SAMPLE_CLOCK, 0, 0, nullptr, 0), 0);
}

}  // namespace

namespace {

// An audio-side output wired to a pin the GUI object shares (IO_BOTH_SIDES): the editor of a
// wavetable follows a choice index computed on the audio side.
TEST(GuiFromAudio, SharedInputsReachTheGuiObjectAfterTheBlock) {
    nlohmann::json doc = nlohmann::json::parse(R"({
      "sample_rate": 44100, "block_size": 64, "duration": 0.01,
      "instances": [{"name": "c", "module": "constant", "pins": {"Value": 3.0}},
                    {"name": "v", "module": "volt_to_index"},
                    {"name": "osc", "module": "tallisk"}],
      "wires": [["c.Out", "v.Volts"], ["v.(Choice) Index", "osc.Waveform"]]
    })");
    mvh::PatchRun run(doc, "patch.json", ".", {MV_PLUGIN_DIR, MV_BINARY_DIR "/lib/builtin"});
    mvh::Instance* osc = run.host().find("osc");
    const std::string before = osc->value(osc->find_pin("Text Out")).text;
    run.run_until(run.total_samples());
    EXPECT_EQ(osc->value(osc->find_pin("Waveform")).i, 3);
    EXPECT_NE(osc->value(osc->find_pin("Text Out")).text, before);
}

}  // namespace
