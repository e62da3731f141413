// The editor's panel through the host: paint checked by pixels, colours and transparency with
// their broadcast, the background picture and its failures, the stored settings at initialise,
// the caption and bank-path limits, and the save question at destruction.
#include <algorithm>

#include <cstring>

#include "panel_fixture.h"
#include "picture.h"

namespace tallisk::test {
namespace {

constexpr mvp::COLORREF kDraw = 0x507FFF;
constexpr mvp::COLORREF kGrey = 0xC0C0C0;

int count(const mvp::Image& img, mvp::COLORREF c, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < std::min(y1, img.height); ++y)
        for (int x = x0; x < std::min(x1, img.width); ++x) n += img.at(x, y) == c;
    return n;
}
int count_all(const mvp::Image& img, mvp::COLORREF c) { return count(img, c, 0, 0, img.width, img.height); }

std::vector<std::string> since(const std::vector<std::string>& lines, size_t from) {
    return {lines.begin() + static_cast<long>(std::min(from, lines.size())), lines.end()};
}

TEST(EditorPanel, PaintsTheBackColourAndTheCaptionAtItsPlaceWithoutLeaking) {
    Panel p;
    p.open();
    const mvp::GdiCounts before = mvp::gdi_counts();
    const mvp::Image img = p.paint(100, 50);
    const mvp::GdiCounts after = mvp::gdi_counts();
    EXPECT_EQ(before.brushes, after.brushes);
    EXPECT_EQ(before.fonts, after.fonts);
    EXPECT_EQ(img.at(99, 0), 0x000000u);
    EXPECT_EQ(img.at(99, 49), 0x000000u);
    // "Options" at x = trunc(100 * 0.02) = 2, y = 50 - 16 = 34, cells of 6 x 10.
    const int inside = count(img, kDraw, 2, 34, 2 + 7 * 6, 44);
    EXPECT_GT(inside, 20);
    EXPECT_EQ(count_all(img, kDraw), inside);
    EXPECT_EQ(count(img, kDraw, 0, 34, 2, 44), 0);
    // A wider panel moves the caption: x = trunc(300 * 0.02) = 6.
    const mvp::Image wide = p.paint(300, 80);
    EXPECT_EQ(count(wide, kDraw, 0, 0, 6, 80), 0);
    EXPECT_EQ(count(wide, kDraw, 6, 64, 48, 74), count_all(wide, kDraw));
}

TEST(EditorPanel, TransparentDrawsOnlyTheCaptionAndBroadcastsTheSettings) {
    Panel p;
    p.open();
    const size_t seen = p.t->log().size();
    p.choose(json::array({"Options", "Transparent"}));
    EXPECT_EQ(p.pin_text("Settings"), "0,507fff,8,0,");
    const mvp::Image img = p.paint(100, 50, kGrey);
    EXPECT_EQ(img.at(99, 0), kGrey);
    EXPECT_GT(count_all(img, kDraw), 20);
    // The views re-read the addresses: the spectrum answer first, then the wave answer.
    const auto sent = since(p.t->log(), seen);
    auto find = [&](const std::string& prefix) {
        return std::find_if(sent.begin(), sent.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    };
    ASSERT_NE(find("fft 8,"), sent.end());
    ASSERT_NE(find("wave 9,"), sent.end());
    EXPECT_LT(find("fft 8,"), find("wave 9,"));
    EXPECT_NE(find("wave 3,"), sent.end());
    // The menu shows the mark; a second choice turns it off.
    p.click();
    const json options = Panel::top(p.last_menu(), "Options");
    EXPECT_TRUE(options["items"][2].value("checked", false));
    p.choose(json::array({"Options", "Transparent"}));
    EXPECT_EQ(p.pin_text("Settings"), "0,507fff,0,0,");
}

TEST(EditorPanel, ColourChoosersSetTheColoursAndShareTheCustomColours) {
    Panel p;
    p.open();
    json custom = json::array();
    for (int i = 0; i < 16; ++i) custom.push_back(0x010101 * i);
    p.script(json::array({{{"menu", json::array({"Options", "Back color"})}}, {{"color", "#FF0000"}, {"custom", custom}}}));
    p.click();
    EXPECT_EQ(p.pin_text("Settings"), "ff,507fff,0,0,");
    EXPECT_EQ(p.paint(60, 40).at(59, 0), 0x0000FFu);
    auto colours = p.user.log_of("choose_color");
    ASSERT_EQ(colours.size(), 1u);
    EXPECT_EQ(colours[0]["initial"], 0);
    EXPECT_EQ(colours[0]["custom"][0], 0);

    // Cancel keeps the colour and still broadcasts; the chooser starts at the current colour, which
    // is also the first custom colour.
    const size_t seen = p.t->log().size();
    p.script(json::array({{{"menu", json::array({"Options", "Draw color"})}}, {{"color", nullptr}}}));
    p.click();
    EXPECT_EQ(p.pin_text("Settings"), "ff,507fff,0,0,");
    EXPECT_GT(p.t->log().size(), seen);
    colours = p.user.log_of("choose_color");
    ASSERT_EQ(colours.size(), 2u);
    EXPECT_EQ(colours[1]["initial"], kDraw);
    EXPECT_EQ(colours[1]["custom"][0], kDraw);
    EXPECT_EQ(colours[1]["flags"].get<int>() & 3, 3);  // CC_RGBINIT | CC_FULLOPEN
    EXPECT_EQ(colours[1]["custom"][5], 0x050505);       // the person's custom colours stay
    EXPECT_TRUE(p.user.problems().empty());
    // Every editor of the process shares them.
    Panel second;
    second.open();
    second.script(json::array({{{"menu", 87}}, {{"color", nullptr}}}));
    second.click();
    const auto other = second.user.log_of("choose_color");
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0]["custom"][5], 0x050505);
    EXPECT_EQ(other[0]["custom"][0], 0);
}

TEST(EditorPanel, LoadImageShowsThePictureAtItsSizeWithTheBackColourAroundAndNoCaption) {
    TempDir dir("image");
    for (int bits : {24, 32}) {
        const std::string path = dir.file("red" + std::to_string(bits) + ".bmp");
        write_bytes(path, solid_bmp(10, 8, bits, 0x0000FF));
        Panel p;
        p.open();
        p.script(json::array({{{"menu", json::array({"Options", "Load image"})}}, {{"open_file", path}}}));
        p.click();
        EXPECT_EQ(p.pin_text("Settings"), "0,507fff,0,8," + path);
        const mvp::Image img = p.paint(40, 30, kGrey);
        EXPECT_EQ(count(img, 0x0000FF, 0, 0, 10, 8), 80) << bits;
        EXPECT_EQ(count_all(img, 0x0000FF), 80) << bits;
        EXPECT_EQ(img.at(20, 20), 0x000000u);
        EXPECT_EQ(count_all(img, kDraw), 0);
        const auto files = p.user.log_of("open_file");
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0]["buffer_size"], 260);
        EXPECT_EQ(files[0]["filters"][0][0], "8-Bit BMP Files (*.BMP)");
        // "Use image" now turns the picture off and the caption comes back.
        p.choose(json::array({"Options", "Use image"}));
        EXPECT_EQ(p.pin_text("Settings"), "0,507fff,0,0," + path);
        EXPECT_GT(count_all(p.paint(40, 30), kDraw), 20);
    }
}

TEST(EditorPanel, AClosedEditorLeavesNoPictureObjectsBehind) {
    TempDir dir("leak");
    const std::string path = dir.file("p.bmp");
    write_bytes(path, solid_bmp(8, 8, 24, 0x00FF00));
    const mvp::GdiCounts before = mvp::gdi_counts();
    {
        Panel p;
        p.open();
        for (int i = 0; i < 2; ++i) {  // the second load replaces the first picture
            p.script(json::array({{{"menu", 91}}, {{"open_file", path}}}));
            p.click();
        }
        EXPECT_EQ(count_all(p.paint(20, 20), 0x00FF00), 64);
    }
    const mvp::GdiCounts after = mvp::gdi_counts();
    EXPECT_EQ(before.dcs, after.dcs);
    EXPECT_EQ(before.bitmaps, after.bitmaps);
}

TEST(EditorPanel, AnUnreadablePictureSaysSoAndLeavesPictureModeOff) {
    TempDir dir("badimage");
    std::vector<uint8_t> not_bm = solid_bmp(4, 4, 24, 0xFF);
    not_bm[0] = 'X';
    std::vector<uint8_t> eight_bit = solid_bmp(4, 4, 24, 0xFF);
    eight_bit[28] = 8;
    std::vector<uint8_t> compressed = solid_bmp(4, 4, 32, 0xFF);
    compressed[30] = 3;
    std::vector<uint8_t> short_file = solid_bmp(40, 40, 24, 0xFF);
    short_file.resize(short_file.size() - 1);
    std::vector<uint8_t> header_only = solid_bmp(4, 4, 24, 0xFF);
    header_only.resize(30);
    const std::vector<std::vector<uint8_t>> files = {not_bm, eight_bit, compressed, short_file, header_only};
    // A missing file never gets past the open dialog; a restored patch meets that case.
    std::vector<std::string> paths;
    for (size_t i = 0; i < files.size(); ++i) {
        paths.push_back(dir.file("bad" + std::to_string(i) + ".bmp"));
        write_bytes(paths.back(), files[i]);
    }
    for (const std::string& path : paths) {
        Panel p;
        p.open();
        p.script(json::array({{{"menu", json::array({"Options", "Load image"})}}, {{"open_file", path}},
                              {{"message_box", "OK"}, {"caption", "QB_TKMAIN"}, {"text", "Couldn't load bitmap"}}}));
        p.click();
        EXPECT_EQ(p.user.pending(), 0u) << path;
        // The path stays as chosen; picture mode is off and the caption shows.
        EXPECT_EQ(p.pin_text("Settings"), "0,507fff,0,0," + path);
        EXPECT_GT(count_all(p.paint(60, 40), kDraw), 20) << path;
    }
}

TEST(EditorPanel, UseImageWithoutAPictureAndCancelShowsNeitherPictureNorCaption) {
    Panel p;
    p.open();
    p.script(json::array({{{"menu", json::array({"Options", "Use image"})}}, {{"open_file", nullptr}}}));
    p.click();
    EXPECT_EQ(p.user.log_of("open_file").size(), 1u);
    EXPECT_EQ(p.pin_text("Settings"), "0,507fff,0,8,");
    const mvp::Image img = p.paint(60, 40, kGrey);
    EXPECT_EQ(count_all(img, 0x000000), 60 * 40);
}

TEST(EditorPanel, ARestoredPatchBringsBackItsColoursAndPicture) {
    TempDir dir("restored");
    const std::string path = dir.file("green.bmp");
    write_bytes(path, solid_bmp(6, 5, 24, 0x00FF00));
    mvh::InstanceOptions restored;
    restored.restored = true;
    {
        Panel p({}, restored);
        p.t->osc->set_text(p.t->pin("Settings"), "ff0000,ff,8,8," + path);
        p.t->osc->set_text(p.t->pin("Menu Caption"), "Bank A");
        p.open();
        const mvp::Image img = p.paint(30, 20, kGrey);
        EXPECT_EQ(count_all(img, 0x00FF00), 30);
        EXPECT_EQ(img.at(29, 0), kGrey);  // transparent
        EXPECT_EQ(count_all(img, 0xFF), 0);
        EXPECT_EQ(p.pin_text("Menu Caption"), "Bank A");
    }
    {
        // A picture that is gone: the box, then the caption with the stored colours.
        Panel p({}, restored);
        p.script(json::array({{{"message_box", "OK"}, {"text", "Couldn't load bitmap"}}}));
        p.t->osc->set_text(p.t->pin("Settings"), "ff0000,ff,0,8," + dir.file("gone.bmp"));
        p.t->osc->set_text(p.t->pin("Menu Caption"), "Bank A");
        p.open();
        EXPECT_EQ(p.user.pending(), 0u);
        const mvp::Image img = p.paint(60, 40);
        EXPECT_EQ(img.at(59, 0), 0xFF0000u);
        EXPECT_GT(count_all(img, 0xFF), 20);
    }
    {
        // Junk keeps the defaults.
        Panel p({}, restored);
        p.t->osc->set_text(p.t->pin("Settings"), "no settings here");
        p.open();
        const mvp::Image img = p.paint(60, 40);
        EXPECT_EQ(img.at(59, 0), 0x000000u);
        EXPECT_TRUE(p.user.log_of("message_box").empty());
    }
}

TEST(EditorPanel, CaptionFollowsItsPinCutTo32Characters) {
    Panel p;
    p.open();
    EXPECT_EQ(p.pin_text("Menu Caption"), "Options");  // a new instance names itself
    const int before = p.t->osc->repaint_requests;
    p.t->osc->set_text(p.t->pin("Menu Caption"), "A");
    EXPECT_GT(p.t->osc->repaint_requests, before);
    const int one = count_all(p.paint(400, 40), kDraw);
    p.t->osc->set_text(p.t->pin("Menu Caption"), std::string(40, 'A'));
    const int cut = count_all(p.paint(400, 40), kDraw);
    EXPECT_EQ(cut, 32 * one);
}

TEST(EditorPanel, ABankPathLongerThan299CharactersIsRefusedWithTheBankUnchanged) {
    Panel p;
    p.open();
    p.choose(json::array({"New", "Sinus"}));
    const float sample = p.edit()[256];
    p.t->osc->set_text(p.t->pin("wbf_path"), "/" + std::string(299, 'b'));
    const auto boxes = p.user.log_of("message_box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0]["text"].get<std::string>().find("299"), std::string::npos);
    EXPECT_EQ(p.edit()[256], sample);
    p.script(json::array({{{"message_box", "No"}}}));
}

TEST(EditorPanel, DestructionAsksToSaveOnlyWhenModified) {
    {
        Panel p;
        p.open();
        p.close();
        EXPECT_TRUE(p.user.log_of("message_box").empty());
    }
    {
        Panel p;
        p.open();
        p.choose(json::array({"Edit", "Mirror"}));
        p.script(json::array({{{"message_box", "No"}, {"caption", "TK_MAIN"}}}));
        p.close();
        EXPECT_EQ(p.user.pending(), 0u);
        EXPECT_TRUE(p.user.problems().empty());
    }
}

}  // namespace
}  // namespace tallisk::test

namespace tallisk::test {
namespace {

TEST(BackgroundPicture, KeepsRowsAndStrideOfBottomUpAndTopDownFilesAndReleasesEverything) {
    TempDir dir("rows");
    // 3 x 2 at 24 bits: rows of 9 bytes padded to 12. Bottom-up: the file's first row is the
    // picture's bottom row.
    std::vector<uint8_t> f = solid_bmp(3, 2, 24, 0x0000FF);
    f[54] = 0x11;
    const std::string up = dir.file("up.bmp");
    write_bytes(up, f);
    const mvp::GdiCounts before = mvp::gdi_counts();
    {
        BackgroundPicture pic;
        ASSERT_TRUE(pic.load(up));
        EXPECT_EQ(pic.width(), 3);
        EXPECT_EQ(pic.height(), 2);
        EXPECT_EQ(pic.bytes_per_pixel(), 3);
        EXPECT_EQ(pic.stride(), 12);
        EXPECT_EQ(pic.row(0)[0], 0x11);
        EXPECT_EQ(pic.row(1) - pic.row(0), 12);
        const mvp::HDC dc = mvp::create_panel_dc(4, 3, 0xC0C0C0);
        pic.draw(dc);
        mvp::Image img;
        mvp::read_image(dc, &img);
        mvp::delete_panel_dc(dc);
        EXPECT_EQ(img.at(0, 1), 0x0000FFu | 0x110000u);  // bottom row, first pixel: blue byte 0x11
        EXPECT_EQ(img.at(0, 0), 0x0000FFu);
        EXPECT_EQ(img.at(3, 2), 0xC0C0C0u);
        // A failed load leaves no picture behind.
        EXPECT_FALSE(pic.load(dir.file("none.bmp")));
        EXPECT_EQ(pic.width(), 0);
        EXPECT_EQ(pic.stride(), 0);
        pic.release();  // nothing selected: nothing to do
    }
    const mvp::GdiCounts after = mvp::gdi_counts();
    EXPECT_EQ(before.dcs, after.dcs);
    EXPECT_EQ(before.bitmaps, after.bitmaps);

    // Top-down (negative height) files keep their row order.
    std::vector<uint8_t> down = solid_bmp(2, 2, 32, 0x00FF00);
    const int32_t minus_two = -2;
    std::memcpy(&down[22], &minus_two, 4);
    down[54] = 0x22;
    write_bytes(dir.file("down.bmp"), down);
    BackgroundPicture pic;
    ASSERT_TRUE(pic.load(dir.file("down.bmp")));
    EXPECT_EQ(pic.height(), 2);
    EXPECT_EQ(pic.stride(), 8);
    const mvp::HDC dc = mvp::create_panel_dc(2, 2, 0);
    pic.draw(dc);
    mvp::Image img;
    mvp::read_image(dc, &img);
    mvp::delete_panel_dc(dc);
    EXPECT_EQ(img.at(0, 0), 0x22FF00u);
    EXPECT_EQ(img.at(0, 1), 0x00FF00u);
}

TEST(BackgroundPicture, RefusesHeadersThatPointPastTheFile) {
    TempDir dir("past");
    std::vector<uint8_t> f = solid_bmp(4, 4, 24, 0xFF);
    const uint32_t far = 1u << 30;
    std::memcpy(&f[10], &far, 4);  // pixel offset beyond the end
    write_bytes(dir.file("far.bmp"), f);
    std::vector<uint8_t> wide = solid_bmp(4, 4, 24, 0xFF);
    const int32_t huge = 0x7FFFFFFF;
    std::memcpy(&wide[18], &huge, 4);
    write_bytes(dir.file("wide.bmp"), wide);
    std::vector<uint8_t> flat = solid_bmp(4, 4, 24, 0xFF);
    std::memset(&flat[22], 0, 4);  // height 0
    write_bytes(dir.file("flat.bmp"), flat);
    BackgroundPicture pic;
    for (const char* name : {"far.bmp", "wide.bmp", "flat.bmp"}) EXPECT_FALSE(pic.load(dir.file(name))) << name;
    EXPECT_FALSE(pic.loaded());
}

}  // namespace
}  // namespace tallisk::test
