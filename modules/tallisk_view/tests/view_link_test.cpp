// The wave view wired to a real tallisk editor: the link comes up by itself, strokes draw into the
// editor's edit buffer, the idle commit reaches the oscillator and the audio changes from that
// block on; Select steps the editor's waveform; the example patch renders and its panel paints.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "mv_testing/exec.h"
#include "mvhost/patch.h"
#include "mvp/scripted_user.h"
#include "view_fixture.h"

namespace tallisk_view::test {
namespace {

const std::string kTallisk = std::string(MV_PLUGIN_DIR) + "/tallisk.so";
const std::string kRecorder = TALLISK_VIEW_RECORDER;
const std::string kExample = std::string(MV_SOURCE_DIR) + "/examples/draw_waveform.json";
constexpr mvp::COLORREF kEditorDrawColour = 0x507FFF;

float rms(const float* x, int n) {
    double s = 0;
    for (int i = 0; i < n; ++i) s += static_cast<double>(x[i]) * x[i];
    return static_cast<float>(std::sqrt(s / std::max(n, 1)));
}

// Rising zero crossings per second.
double frequency(const std::vector<float>& x, double rate) {
    double first = -1, last = -1;
    int n = 0;
    for (size_t i = 1; i < x.size(); ++i)
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            const double t = (i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (first < 0) first = t;
            last = t;
            ++n;
        }
    return n < 2 ? 0.0 : (n - 1) * rate / (last - first);
}

struct Linked : ::testing::Test {
    mvh::Host host{[] {
        mvh::HostConfig c;
        c.block_size = 256;
        return c;
    }()};
    mvh::Instance* osc = nullptr;
    mvh::Instance* view = nullptr;
    mvh::Instance* commits = nullptr;  // hears what the view sends
    mvh::Instance* answers = nullptr;  // hears what the editor sends
    std::vector<std::vector<float>> blocks;
    std::vector<size_t> commits_before_block;

    void SetUp() override {
        std::string error;
        osc = host.add(kTallisk, "osc", {}, &error);
        ASSERT_NE(osc, nullptr) << error;
        view = host.add(kViewPlugin, "view", {}, &error);
        ASSERT_NE(view, nullptr) << error;
        commits = host.add(kRecorder, "commits", {}, &error);
        answers = host.add(kRecorder, "answers", {}, &error);
        ASSERT_TRUE(commits && answers) << error;
        view->set_int(kMode, kDraw);
        ASSERT_TRUE(host.connect(view, kWaveOut, osc, osc->find_pin("Wave in"), &error)) << error;
        ASSERT_TRUE(host.connect(osc, osc->find_pin("Wave out"), view, kWaveIn, &error)) << error;
        ASSERT_TRUE(host.connect(view, kWaveOut, commits, commits->find_pin("Wave in"), &error)) << error;
        ASSERT_TRUE(host.connect(osc, osc->find_pin("Wave out"), answers, answers->find_pin("Wave in"), &error)) << error;
        host.before_block = [this](mvh::Host&, int) { commits_before_block.push_back(commit_count()); };
        host.after_block = [this](mvh::Host&, int, int n) {
            const float* out = osc->buffer(osc->find_pin("Output"));
            blocks.emplace_back(out, out + n);
        };
        host.open();
    }
    size_t commit_count() const {
        const auto lines = lines_of(commits->value(commits->find_pin("Log")).text);
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), "13,0"));
    }
    float* edit_buffer() const {
        for (const std::string& line : lines_of(answers->value(answers->find_pin("Log")).text))
            if (line.rfind("9,", 0) == 0)
                return reinterpret_cast<float*>(static_cast<intptr_t>(std::strtoll(line.c_str() + 2, nullptr, 10)));
        return nullptr;
    }
    void stroke(std::initializer_list<std::pair<int, int>> points) {
        auto p = points.begin();
        view->pointer(GD_POINTER_DOWN, p->first, p->second);
        for (++p; p != points.end(); ++p) view->pointer(GD_POINTER_MOVE, p->first, p->second);
        view->pointer(GD_POINTER_UP, std::prev(points.end())->first, std::prev(points.end())->second);
    }
    // The first block after `from` whose preceding idle call sent a commit.
    size_t block_after_commit(size_t from) const {
        for (size_t b = from + 1; b < commits_before_block.size(); ++b)
            if (commits_before_block[b] > commits_before_block[from]) return b;
        return commits_before_block.size();
    }
};

TEST_F(Linked, TheLinkComesUpByItselfAndTheViewShowsTheEditorsBuffer) {
    host.run_block();
    float* edit = edit_buffer();
    ASSERT_NE(edit, nullptr);
    const mvp::Image img = paint(view, 180, 100);
    EXPECT_EQ(count_colour(img, kEditorDrawColour, 0, 0, 96, 10), 0);  // initialised
    EXPECT_EQ(count_colour(img, kEditorDrawColour, 0, 50, 179, 51), 179);  // the empty bank
    EXPECT_EQ(img.at(100, 80), 0x000000u);

    // Drawing goes straight into the editor's buffer, and the view paints it from there.
    stroke({{0, 50}, {90, 10}});
    EXPECT_FLOAT_EQ(edit[512], 0.8f);
    EXPECT_FLOAT_EQ(edit[256], 0.4f);
    view->pointer(GD_POINTER_MOVE, 90, 60);
    EXPECT_EQ(view->value(kReadout).text, "0.50,0.80");
    EXPECT_EQ(paint(view, 180, 100).at(90, 10), kEditorDrawColour);
}

TEST_F(Linked, AStrokeReachesTheOscillatorFromTheBlockAfterItsCommit) {
    host.run(20 * 256);
    for (const auto& b : blocks) ASSERT_EQ(rms(b.data(), 256), 0.0f);  // an empty bank is silent
    float* edit = edit_buffer();
    ASSERT_NE(edit, nullptr);

    const size_t stroke_block = blocks.size();
    stroke({{0, 50}, {45, 10}, {90, 50}, {135, 90}, {180, 50}});  // one rough cycle
    EXPECT_GT(edit[256], 0.7f);
    EXPECT_LT(edit[768], -0.7f);
    host.run(40 * 256);
    const size_t first = block_after_commit(stroke_block);
    ASSERT_LT(first, stroke_block + 5);  // at most four idle calls later
    for (size_t b = stroke_block; b < first; ++b) EXPECT_EQ(rms(blocks[b].data(), 256), 0.0f) << b;
    EXPECT_GT(rms(blocks[first].data(), 256), 0.1f);
    std::vector<float> tail;
    for (size_t b = first; b < blocks.size(); ++b) tail.insert(tail.end(), blocks[b].begin(), blocks[b].end());
    EXPECT_NEAR(frequency(tail, 44100.0), 440.0, 2.0);  // the drawn cycle, played at 5 V

    // Flattening the waveform silences the oscillator from the block after the next commit. The
    // first step starts at the amplitude where the last stroke ended, so end flat, then sweep back.
    const size_t flatten_block = blocks.size();
    stroke({{0, 50}, {180, 50}, {0, 50}});
    for (int i = 0; i <= 1024; ++i) ASSERT_EQ(edit[i], 0.0f) << i;
    host.run(10 * 256);
    const size_t silent = block_after_commit(flatten_block);
    ASSERT_LT(silent, flatten_block + 5);
    EXPECT_GT(rms(blocks[silent - 1].data(), 256), 0.1f);
    for (size_t b = silent; b < blocks.size(); ++b) EXPECT_EQ(rms(blocks[b].data(), 256), 0.0f) << b;
}

TEST_F(Linked, SelectModeStepsTheEditorsWaveformBothWays) {
    host.run_block();
    const int waveform = osc->find_pin("Waveform");
    view->set_int(kMode, kSelect);
    view->pointer(GD_POINTER_DOWN, 50, 50);
    EXPECT_EQ(osc->value(waveform).i, 1);
    view->pointer(GD_POINTER_MOVE, 50, 60);
    view->pointer(GD_POINTER_MOVE, 50, 70);
    view->pointer(GD_POINTER_UP, 50, 70);
    EXPECT_EQ(osc->value(waveform).i, 63);  // one back per move, wrapping
    EXPECT_EQ(osc->value(osc->find_pin("Text Out")).text, "Untitled 64");
    // The edit buffer's address stays the same across selections: the view stays linked.
    EXPECT_EQ(count_colour(paint(view, 180, 100), kEditorDrawColour, 0, 0, 96, 10), 0);
}

TEST_F(Linked, TheEditorsColoursAndTransparentSettingReachTheView) {
    mvp::ScriptedUser user;
    mvp::ScopedUser installed(&user);
    std::string error;
    ASSERT_TRUE(user.load(nlohmann::json::parse(R"([
        {"menu": ["Options", "Back color"]}, {"color": "#203060"},
        {"menu": ["Options", "Draw color"]}, {"color": "#FFD040"},
        {"menu": ["Options", "Transparent"]}])"), &error)) << error;
    host.run_block();
    osc->pointer(GD_POINTER_DOWN, 10, 10);
    osc->pointer(GD_POINTER_DOWN, 10, 10);
    const mvp::Image img = paint(view, 180, 100);
    EXPECT_EQ(img.at(100, 80), mvp::RGB(0x20, 0x30, 0x60));
    EXPECT_EQ(img.at(0, 50), mvp::RGB(0xFF, 0xD0, 0x40));
    osc->pointer(GD_POINTER_DOWN, 10, 10);
    const mvp::Image see_through = paint(view, 180, 100, 0x00C0C0C0);
    EXPECT_EQ(see_through.at(100, 80), 0x00C0C0C0u);
    EXPECT_EQ(see_through.at(0, 50), mvp::RGB(0xFF, 0xD0, 0x40));
    EXPECT_TRUE(user.problems().empty());
}

std::vector<std::string> plugin_dirs() { return {MV_PLUGIN_DIR, std::string(MV_BINARY_DIR) + "/lib/builtin"}; }

TEST(DrawWaveformExample, ThePatchIsSilentUntilTheStrokeAndThenPlaysWhatWasDrawn) {
    mvh::PatchRun run(kExample, plugin_dirs());
    std::vector<float> left;
    run.run_until(run.total_samples(), [&](const std::vector<const float*>& out, int n) {
        left.insert(left.end(), out[0], out[0] + n);
    });
    const int stroke_start = static_cast<int>(0.5 * 44100);
    ASSERT_EQ(left.size(), static_cast<size_t>(run.total_samples()));
    EXPECT_EQ(rms(left.data(), stroke_start), 0.0f);
    const auto onset = std::find_if(left.begin(), left.end(), [](float v) { return v != 0.0f; }) - left.begin();
    EXPECT_GE(onset, stroke_start);
    EXPECT_LT(onset, stroke_start + 5 * 256);
    const std::vector<float> last_second(left.end() - 44100, left.end());
    EXPECT_GT(rms(last_second.data(), 44100), 0.1f);
    EXPECT_NEAR(frequency(last_second, 44100.0), 440.0, 2.0);
}

// Reads an 8-bit RGB PNG into COLORREFs, top row first.
bool read_png(const std::string& path, mvp::Image* image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
    png.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> rgb(PNG_IMAGE_SIZE(png));
    if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr)) return false;
    image->width = static_cast<int>(png.width);
    image->height = static_cast<int>(png.height);
    image->pixels.resize(static_cast<size_t>(image->width) * image->height);
    for (size_t i = 0; i < image->pixels.size(); ++i)
        image->pixels[i] = mvp::RGB(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]);
    return true;
}

TEST(DrawWaveformExample, MvhostPanelShowsTheDrawnWaveform) {
    const std::string png = std::string(MV_BINARY_DIR) + "/tallisk_view_panel_test.png";
    std::filesystem::remove(png);
    const std::string command = mv_testing::program(std::string(MV_BINARY_DIR) + "/bin/mvhost") + " panel " + kExample +
                                " --instance view -o " + png + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    mvp::Image shown;
    ASSERT_TRUE(read_png(png, &shown));
    std::filesystem::remove(png);

    mvh::PatchRun run(kExample, plugin_dirs());
    run.run_until(run.total_samples());
    const mvp::Image expected = paint(run.host().find("view"), 180, 100);
    ASSERT_EQ(shown.width, 180);
    ASSERT_EQ(shown.height, 100);
    EXPECT_EQ(shown.pixels, expected.pixels);
    EXPECT_EQ(count_colour(shown, kEditorDrawColour, 0, 0, 96, 10), 0);
    EXPECT_GT(count_colour(shown, kEditorDrawColour, 0, 0, 180, 45), 30);  // the drawn upper half
}

}  // namespace
}  // namespace tallisk_view::test
