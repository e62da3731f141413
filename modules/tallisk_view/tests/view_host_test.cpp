// tallisk_view through the reference host: its description, paint checked by pixels, the view link
// against buffers the test owns, pointer strokes, the idle commit, cursors and bad input.
#include <algorithm>
#include <cmath>

#include "mvp/window.h"
#include "view_fixture.h"

namespace tallisk_view::test {
namespace {

const std::string kRecorder = TALLISK_VIEW_RECORDER;
using Sent = std::vector<std::string>;

struct ViewHost : ::testing::Test {
    mvh::Host host;
    mvh::Instance* view = nullptr;
    mvh::Instance* rec = nullptr;
    float edit[1026] = {};
    uint32_t back = 0x00202020;
    uint32_t draw = 0x003060FF;
    int32_t transparent = 0;

    void make(int mode = kDraw) {
        std::string error;
        view = host.add(kViewPlugin, "view", {}, &error);
        ASSERT_NE(view, nullptr) << error;
        rec = host.add(kRecorder, "rec", {}, &error);
        ASSERT_NE(rec, nullptr) << error;
        view->set_int(kMode, mode);
        ASSERT_TRUE(host.connect(view, kWaveOut, rec, rec->find_pin("Wave in")));
        host.open();
    }
    // What the view sent since the last call.
    Sent sent() {
        const Sent all = lines_of(rec->value(rec->find_pin("Log")).text);
        Sent fresh(all.begin() + std::min(m_seen, all.size()), all.end());
        m_seen = all.size();
        return fresh;
    }
    void link() {
        view->set_text(kWaveIn, link_text(9, edit));
        view->set_text(kWaveIn, link_text(3, &transparent));
        view->set_text(kWaveIn, link_text(0, &back));
        view->set_text(kWaveIn, link_text(1, &draw));
        view->set_text(kWaveIn, "14,0");
    }
    void down(int x, int y) { view->pointer(GD_POINTER_DOWN, x, y); }
    void to(int x, int y) { view->pointer(GD_POINTER_MOVE, x, y); }
    void up(int x, int y) { view->pointer(GD_POINTER_UP, x, y); }
    std::string readout() const { return view->value(kReadout).text; }

private:
    size_t m_seen = 0;
};

constexpr mvp::COLORREF kGreen = 0x00FF00;
constexpr float kScale = 0.17578125f;

TEST_F(ViewHost, DescribesItselfAsTheWaveView) {
    make();
    const mvh::Plugin& p = view->plugin();
    EXPECT_EQ(p.name(), "QB_WaveView");
    EXPECT_EQ(p.id(), "QB_Tallisk_WaveView_1");
    EXPECT_NE(p.about().find("\"Wave out\" to the editor's \"Wave in\""), std::string::npos);
    EXPECT_EQ(p.module_flags(), 384);
    EXPECT_EQ(view->audio()->magic, 0xE8100137u);
    const std::vector<std::tuple<std::string, int, int, int>> expected = {
        {"Wave in", DR_IN, DT_TEXT, 0x400},
        {"Mode", DR_IN, DT_ENUM, 0x10400},
        {"Wave out", DR_OUT, DT_TEXT, 0x400},
        {"Readout", DR_OUT, DT_TEXT, 0x400}};
    ASSERT_EQ(view->pins().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(view->pins()[i].name, std::get<0>(expected[i]));
        EXPECT_EQ(view->pins()[i].direction, std::get<1>(expected[i]));
        EXPECT_EQ(view->pins()[i].datatype, std::get<2>(expected[i]));
        EXPECT_EQ(view->pins()[i].flags, std::get<3>(expected[i]));
    }
    EXPECT_EQ(view->pins()[kMode].extra, "Select,Draw,Move,Zoom");
    EXPECT_EQ(view->audio_pin_count(), 0);
    EXPECT_EQ(view->panel_width, 180);
    EXPECT_EQ(view->panel_height, 100);
    EXPECT_TRUE(view->idle_calls);
    const auto* member = reinterpret_cast<const MVProcessMemberRecord*>(view->dispatch(MD_PROCESS_MEMBER));
    ASSERT_NE(member, nullptr);
    EXPECT_EQ(member->size, static_cast<int32_t>(sizeof(void*)));  // one function address
    host.run_block();
    EXPECT_TRUE(view->sleeping());
}

TEST_F(ViewHost, AnUnlinkedViewShowsNotInitialisedOverAFlatLine) {
    make();
    const mvp::GdiCounts before = mvp::gdi_counts();
    const mvp::Image img = paint(view, 180, 100);
    EXPECT_EQ(mvp::gdi_counts().total(), before.total());
    EXPECT_GT(count_colour(img, kGreen, 0, 0, 96, 10), 60);  // 16 characters of text
    EXPECT_EQ(count_colour(img, kGreen, 96, 0, 180, 10), 0);
    EXPECT_EQ(count_colour(img, kGreen, 0, 50, 179, 51), 179);  // LineTo leaves the last point
    EXPECT_EQ(count_colour(img, kGreen, 0, 11, 180, 50), 0);
    EXPECT_EQ(count_colour(img, kGreen, 0, 51, 180, 100), 0);
    EXPECT_EQ(img.at(120, 80), 0x000000u);  // the back colour before the editor sends one
}

TEST_F(ViewHost, ALinkedViewDrawsTheEditorsSamplesInTheEditorsColours) {
    make();
    for (int i = 0; i < 1024; ++i) edit[i] = 0.7f * std::sin(2.0f * 3.14159265f * i / 1024.0f);
    link();
    const mvp::Image img = paint(view, 180, 100);
    EXPECT_EQ(count_colour(img, draw, 0, 0, 96, 10), 0);  // no "Not initialized!"
    // Every vertex is drawn as the start of the next segment, except those on the final point,
    // which LineTo leaves undrawn.
    auto vertex = [&](int i) { return std::pair(static_cast<int>(kScale * i), 50 - static_cast<int>(edit[i] * 50)); };
    for (int i = 0; i < 1023; ++i) {
        if (vertex(i) == vertex(1023)) continue;
        ASSERT_EQ(img.at(vertex(i).first, vertex(i).second), draw) << "sample " << i;
    }
    EXPECT_EQ(img.at(45, 90), back);

    // The values are read when their message arrives; the editor sends them again on a change.
    transparent = 8;
    EXPECT_EQ(paint(view, 180, 100).at(45, 90), back);
    view->set_text(kWaveIn, link_text(3, &transparent));
    const mvp::Image see_through = paint(view, 180, 100, 0x00C0C0C0);
    EXPECT_EQ(see_through.at(45, 90), 0x00C0C0C0u);
    EXPECT_EQ(see_through.at(0, 50), draw);
}

TEST_F(ViewHost, TheReadoutShowsPositionAndValueUpToTheSpareValue) {
    make();
    link();
    edit[512] = -0.5f;
    edit[1024] = 0.25f;
    to(90, 10);
    EXPECT_EQ(readout(), "0.50,-0.50");
    to(180, 10);
    EXPECT_EQ(readout(), "1.00,0.25");
    to(5000, -30);  // beyond the panel: held at its edge
    EXPECT_EQ(readout(), "1.00,0.25");
    EXPECT_TRUE(sent().empty());  // a move without the button pressed sends nothing
}

TEST_F(ViewHost, AStrokeDrawsIntoTheLinkedBufferAndIsCommittedOnAnIdleCall) {
    make(kDraw);
    link();
    host.idle();  // construction leaves the view dirty: this first idle call commits
    EXPECT_EQ(sent(), (Sent{"13,0", "12,0"}));
    down(90, 50);
    EXPECT_TRUE(view->mouse_captured);
    EXPECT_EQ(sent(), (Sent{"18,0", "12,0"}));
    to(99, 0);
    to(120, 100);
    up(120, 100);
    EXPECT_FALSE(view->mouse_captured);
    EXPECT_FLOAT_EQ(edit[563], 1.0f);
    EXPECT_FLOAT_EQ(edit[682], -1.0f);  // trunc(120 / 0.17578125)
    EXPECT_EQ(edit[683], 0.0f);
    EXPECT_TRUE(sent().empty());  // nothing until an idle call
    for (int i = 0; i < 4; ++i) host.idle();
    EXPECT_EQ(sent(), (Sent{"13,0", "12,0"}));
}

TEST_F(ViewHost, AViewWithNoEditorDrawsIntoItsOwnBufferAndHandsNoneOfItOn) {
    make(kDraw);
    down(0, 50);
    to(45, 25);
    up(45, 25);
    to(45, 25);
    EXPECT_EQ(readout(), "0.25,0.50");
    const mvp::Image img = paint(view, 180, 100);
    EXPECT_EQ(img.at(44, 26), kGreen);  // the line climbs to the drawn sample
    EXPECT_GT(count_colour(img, kGreen, 0, 0, 96, 10), 60);
    for (int i = 0; i < 8; ++i) host.idle();
    for (const std::string& s : sent()) EXPECT_EQ(s.substr(s.find(',')), ",0") << s;  // no address leaves
    link();
    for (float v : edit) ASSERT_EQ(v, 0.0f);  // nothing of the own buffer was copied
    to(45, 25);
    EXPECT_EQ(readout(), "0.25,0.00");
}

TEST_F(ViewHost, ConnectionsAskForTheLinkAndADisconnectionFallsBackToTheOwnBuffer) {
    make();
    host.idle();
    EXPECT_EQ(sent(), (Sent{"11,0", "12,0", "13,0", "12,0"}));  // unlinked: ask, then commit
    ASSERT_TRUE(host.connect(rec, rec->find_pin("Wave out"), view, kWaveIn));
    EXPECT_EQ(sent(), (Sent{"11,0"}));
    edit[0] = edit[1] = 1.0f;
    rec->set_text(rec->find_pin("Send"), link_text(9, edit));
    to(0, 50);
    EXPECT_EQ(readout(), "0.00,1.00");
    host.idle();
    EXPECT_TRUE(sent().empty());  // linked: no more requests
    view->gui_dispatch(GD_DISCONNECTED, kWaveIn);
    to(0, 50);
    EXPECT_EQ(readout(), "0.00,0.00");
    EXPECT_GT(count_colour(paint(view, 180, 100), kGreen, 0, 0, 96, 10), 60);
    for (int i = 0; i < 3; ++i) host.idle();
    EXPECT_EQ(sent(), (Sent{"11,0", "12,0", "11,0", "12,0", "11,0", "12,0"}));
}

TEST_F(ViewHost, EachModeShowsItsOwnCursorAndTheReplacedOneComesBack) {
    make(kZoom);
    const mvp::HCURSOR arrow = mvp::LoadCursorA(0, mvp::IDC_ARROW);
    mvp::SetCursor(arrow);
    const std::vector<std::pair<int, int>> modes = {{kZoom, 106}, {kDraw, 109}, {kMove, 113}, {kSelect, 122}};
    for (auto [mode, resource] : modes) {
        view->set_int(kMode, mode);
        to(10, 10);
        to(11, 10);  // a second move must not take the view's own cursor as the one to restore
        mvp::CursorInfo info;
        ASSERT_TRUE(mvp::cursor_info(mvp::GetCursor(), &info));
        EXPECT_EQ(info.resource_id, resource);
        EXPECT_NE(info.instance, 0);
    }
    view->gui_dispatch(GD_9);
    EXPECT_EQ(mvp::GetCursor(), arrow);
    to(12, 10);  // back over the panel after leaving it
    mvp::CursorInfo info;
    ASSERT_TRUE(mvp::cursor_info(mvp::GetCursor(), &info));
    EXPECT_EQ(info.resource_id, 122);
}

TEST_F(ViewHost, BadTextsModesAndPanelsAreRefusedWithoutHarm) {
    make();
    for (const char* text : {"", "hello", "9", "9,", "9,0", "9 ,1234", "0,0", "1,x", "3,", "-5,77", "11,0"}) {
        const int repaints = view->repaint_requests;
        view->set_text(kWaveIn, text);
        EXPECT_EQ(view->repaint_requests, repaints + 1) << text;
    }
    EXPECT_GT(count_colour(paint(view, 180, 100), kGreen, 0, 0, 96, 10), 60);  // still unlinked

    link();
    view->set_int(kMode, 9);  // a stored value outside the list
    down(90, 50);
    to(120, 0);
    up(120, 0);
    EXPECT_TRUE(sent().empty());
    for (float v : edit) ASSERT_EQ(v, 0.0f);

    // Presses outside the panel only repaint.
    view->set_int(kMode, kDraw);
    const int repaints = view->repaint_requests;
    down(180, 50);
    down(-1, 50);
    down(90, 100);
    EXPECT_FALSE(view->mouse_captured);
    EXPECT_EQ(view->repaint_requests, repaints + 3);
    EXPECT_TRUE(sent().empty());

    // Odd panel sizes (a host may paint at any size): nothing is read or written outside the
    // buffers, which ASan builds check.
    edit[1025] = 3.0f;
    paint(view, 1, 1);
    paint(view, 4096, 300);
    MVPanelRecord empty{0, 0, view->context()};
    view->gui_dispatch(GD_PAINT, 0, 0, &empty);
    view->gui_dispatch(GD_POINTER_MOVE, 10, 10, &empty);
    view->gui_dispatch(GD_POINTER_DOWN, 0, 0, &empty);
    MVPanelRecord wide{1500, 100, view->context()};
    view->gui_dispatch(GD_POINTER_DOWN, 1499, 0, &wide);
    view->gui_dispatch(GD_POINTER_MOVE, 1500, 0, &wide);
    view->gui_dispatch(GD_POINTER_UP, 1500, 0, &wide);
    EXPECT_FLOAT_EQ(edit[1024], 1.0f);
    EXPECT_EQ(edit[1025], 3.0f);
    edit[300] = NAN;
    edit[301] = 1e30f;
    paint(view, 180, 100);
    to(53, 0);
    view->gui_dispatch(GD_PAINT, 0, 0, nullptr);
    view->gui_dispatch(GD_POINTER_DOWN, 0, 0, nullptr);
}

}  // namespace
}  // namespace tallisk_view::test
