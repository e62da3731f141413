// The editor's menu through the host: the tree built for each click, its position, and every
// command reaching its operation, with the dialogs answered by the scripted user.
#include <cmath>
#include <cstring>

#include "generators.h"
#include "panel_fixture.h"

namespace tallisk::test {
namespace {

std::vector<std::string> texts(const json& items) {
    std::vector<std::string> out;
    for (const json& item : items) out.push_back(item.value("separator", false) ? "-" : item.value("text", ""));
    return out;
}

std::vector<float> generated(Shape shape) {
    std::vector<float> x(1024);
    generate(shape, x.data());
    return x;
}

void expect_edit(Panel& p, const std::vector<float>& want, float tolerance = 0.0f) {
    float* edit = p.edit();
    ASSERT_NE(edit, nullptr);
    for (int i = 0; i < 1024; ++i) ASSERT_NEAR(edit[i], want[i], tolerance) << i;
}

TEST(EditorMenu, AFreshEditorShowsEveryEntryWithItsIdMarkAndState) {
    Panel p;
    p.open();
    p.script(json::array({{{"menu", 0}}}));
    p.click();
    const json menu = p.last_menu();
    ASSERT_TRUE(menu.is_object());
    EXPECT_EQ(menu["flags"], 0x180);  // TPM_RETURNCMD | TPM_NONOTIFY
    EXPECT_EQ(texts(menu["items"]),
              (std::vector<std::string>{"Waveform", "File", "New", "Edit", "Options", "-", "Copy", "Paste"}));
    const json waves = menu["items"][0]["items"];
    ASSERT_EQ(waves.size(), 64u);
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(waves[i]["id"], 18 + i);
        EXPECT_EQ(waves[i]["text"], "Untitled " + std::to_string(i + 1));
        EXPECT_EQ(waves[i].value("checked", false), i == 0) << i;
        EXPECT_EQ(waves[i].contains("break"), i % 16 == 0) << i;
        if (i % 16 == 0) {
            EXPECT_EQ(waves[i]["break"], "column");
        }
    }
    const json file = Panel::top(menu, "File")["items"];
    EXPECT_EQ(texts(file), (std::vector<std::string>{"Load bank", "Save bank", "Import .wav", "Import .bmp"}));
    EXPECT_EQ(file[0]["id"], 5);
    EXPECT_EQ(file[1]["id"], 4);
    EXPECT_EQ(file[2]["id"], 7);
    EXPECT_EQ(file[3]["id"], 8);
    const json fresh = Panel::top(menu, "New")["items"];
    EXPECT_EQ(texts(fresh), (std::vector<std::string>{"New Bank", "-", "Silence", "Sinus", "Sawtooth", "Ramp",
                                                      "Triangle", "Square", "Pulse"}));
    EXPECT_EQ(fresh[0]["id"], 10);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(fresh[2 + i]["id"], 11 + i);
    const json edit = Panel::top(menu, "Edit")["items"];
    EXPECT_EQ(texts(edit), (std::vector<std::string>{"Evaluate", "Normalize", "Mirror", "Mix Paste", "-", "Rename"}));
    EXPECT_EQ(edit[0]["id"], 83);
    EXPECT_EQ(edit[1]["id"], 84);
    EXPECT_EQ(edit[2]["id"], 9);
    EXPECT_EQ(edit[3]["id"], 3);
    EXPECT_TRUE(edit[3].value("grayed", false));
    EXPECT_EQ(edit[5]["id"], 82);
    const json options = Panel::top(menu, "Options")["items"];
    EXPECT_EQ(texts(options),
              (std::vector<std::string>{"Back color", "Draw color", "Transparent", "Use image", "Load image"}));
    const int ids[] = {87, 88, 89, 92, 91};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(options[i]["id"], ids[i]);
        EXPECT_FALSE(options[i].value("checked", false));
    }
    EXPECT_EQ(menu["items"][6]["id"], 1);
    EXPECT_EQ(menu["items"][7]["id"], 2);
    EXPECT_TRUE(menu["items"][7].value("grayed", false));
    EXPECT_FALSE(menu["items"][6].value("grayed", false));
}

TEST(EditorMenu, OpensAtTheClickInScreenPixelsOwnedByThePatchView) {
    mvh::InstanceOptions at;
    at.panel_x = 30;
    at.panel_y = 40;
    Panel p({}, at);
    p.open();
    p.click(5, 6);
    const json menu = p.last_menu();
    EXPECT_EQ(menu["at"], json::array({100 + 30 + 5, 80 + 40 + 6}));
    EXPECT_EQ(menu["owner"], p.t->host.patch_window());
}

TEST(EditorMenu, CopyEnablesPasteUntilAnotherEditorIsCreated) {
    Panel p;
    p.open();
    p.choose(json::array({"New", "Sawtooth"}));
    p.choose(1);  // Copy
    p.click();
    EXPECT_FALSE(p.last_menu()["items"][7].value("grayed", false));
    EXPECT_FALSE(Panel::top(p.last_menu(), "Edit")["items"][3].value("grayed", false));
    p.choose(json::array({"New", "Silence"}));
    p.choose(json::array({"Paste"}));
    expect_edit(p, generated(Shape::Sawtooth));
    {
        // A second editor grays both for every editor; the clipboard keeps its samples.
        mvh::Host other;
        std::string error;
        ASSERT_NE(other.add(std::string(MV_PLUGIN_DIR) + "/tallisk.so", "second", {}, &error), nullptr) << error;
    }
    p.click();
    EXPECT_TRUE(p.last_menu()["items"][7].value("grayed", false));
    EXPECT_TRUE(Panel::top(p.last_menu(), "Edit")["items"][3].value("grayed", false));
    p.choose(1);
    p.click();
    EXPECT_FALSE(p.last_menu()["items"][7].value("grayed", false));
    p.script(json::array({{{"message_box", "No"}}}));
}

TEST(EditorMenu, HostMode2HasNoOptionsButKeepsTheStoredLook) {
    mvh::HostConfig mode2;
    mode2.host_mode = 2;
    mvh::InstanceOptions restored;
    restored.restored = true;
    Panel p(mode2, restored);
    p.t->osc->set_text(p.t->pin("Settings"), "ff,507fff,0,0,");
    p.open();
    p.click();
    EXPECT_EQ(texts(p.last_menu()["items"]),
              (std::vector<std::string>{"Waveform", "File", "New", "Edit", "-", "Copy", "Paste"}));
    EXPECT_EQ(p.paint(40, 40).at(39, 0), 0x0000FFu);
}

TEST(EditorMenu, ReloadNamesTheBankFileOnceThereIsOne) {
    TempDir dir("reload");
    Panel p;
    p.open();
    p.choose(json::array({"New", "Sinus"}));
    const std::string path = dir.file("my_bank_with_a_rather_long_file_name.wb1");
    p.script(json::array({{{"menu", json::array({"File", "Save bank"})}}, {{"save_file", path}}}));
    p.click();
    EXPECT_EQ(p.pin_text("wbf_path"), path);
    p.click();
    const json file = Panel::top(p.last_menu(), "File")["items"];
    ASSERT_EQ(file.size(), 5u);
    EXPECT_EQ(file[2]["id"], 93);
    EXPECT_EQ(file[2]["text"], std::string("Reload my_bank_with_a_rather_lo"));
    EXPECT_EQ(file[2]["text"].get<std::string>().size(), 31u);
    // Reload brings the saved bank back over a later edit.
    p.choose(json::array({"New", "Square"}));
    p.choose(93);
    expect_edit(p, generated(Shape::Sinus));
    // A cancelled bank dialog empties the path, and the entry goes.
    p.script(json::array({{{"menu", json::array({"File", "Load bank"})}}, {{"message_box", "No"}, {"caption", "Save"}},
                          {{"open_file", nullptr}}}));
    p.click();
    p.click();
    EXPECT_TRUE(p.user.problems().empty());
    EXPECT_EQ(Panel::top(p.last_menu(), "File")["items"].size(), 4u);
    const auto opens = p.user.log_of("open_file");
    ASSERT_FALSE(opens.empty());
    EXPECT_EQ(opens.back()["default_ext"], "wbf");
    EXPECT_EQ(opens.back()["buffer_size"], 300);
    EXPECT_EQ(opens.back()["filters"].size(), 2u);
    p.script(json::array({{{"message_box", "No"}}}));
}

TEST(EditorMenu, ShapesMirrorAndWaveformChoicesReachTheBank) {
    Panel p;
    p.open();
    const Shape shapes[] = {Shape::Silence, Shape::Sinus, Shape::Sawtooth, Shape::Ramp,
                            Shape::Triangle, Shape::Square, Shape::Pulse};
    for (int i = 0; i < 7; ++i) {
        p.choose(11 + i);
        expect_edit(p, generated(shapes[i]));
    }
    p.choose(json::array({"New", "Ramp"}));
    p.choose(json::array({"Edit", "Mirror"}));
    std::vector<float> want = generated(Shape::Ramp);
    mirror(want.data());
    expect_edit(p, want);
    // Choosing waveform 5 writes the pin; the switch moves the mark.
    p.choose(18 + 5);
    EXPECT_EQ(p.t->osc->value(p.t->pin("Waveform")).i, 5);
    p.click();
    const json waves = p.last_menu()["items"][0]["items"];
    EXPECT_FALSE(waves[0].value("checked", false));
    EXPECT_TRUE(waves[5].value("checked", false));
    // Waveform 0 kept the mirrored ramp.
    p.choose(18);
    expect_edit(p, want);
    p.script(json::array({{{"message_box", "No"}}}));
}

TEST(EditorMenu, ImportWavReadsTheChosenFileAndRemembersItsFolder) {
    TempDir dir("wav");
    // 16-bit mono PCM, 1024 frames of a ramp.
    std::vector<uint8_t> f(44 + 2048, 0);
    auto put = [&](size_t at, uint32_t v, int n) {
        for (int i = 0; i < n; ++i) f[at + i] = static_cast<uint8_t>(v >> (8 * i));
    };
    std::memcpy(&f[0], "RIFF", 4);
    put(4, static_cast<uint32_t>(f.size() - 8), 4);
    std::memcpy(&f[8], "WAVEfmt ", 8);
    put(16, 16, 4);
    put(20, 1, 2);
    put(22, 1, 2);
    put(24, 44100, 4);
    put(28, 88200, 4);
    put(32, 2, 2);
    put(34, 16, 2);
    std::memcpy(&f[36], "data", 4);
    put(40, 2048, 4);
    for (int i = 0; i < 1024; ++i) put(44 + 2 * i, static_cast<uint16_t>(static_cast<int16_t>(i * 32 - 16384)), 2);
    const std::string path = dir.file("ramp.wav");
    write_bytes(path, f);
    Panel p;
    p.open();
    p.script(json::array({{{"menu", json::array({"File", "Import .wav"})}}, {{"open_file", path}}}));
    p.click();
    std::vector<float> want(1024);
    for (int i = 0; i < 1024; ++i) want[i] = static_cast<float>(i * 32 - 16384) / 32768.0f;
    expect_edit(p, want);
    // The next dialog starts in the file's folder; cancelling changes nothing.
    p.script(json::array({{{"menu", 7}}, {{"open_file", nullptr}}}));
    p.click();
    const auto opens = p.user.log_of("open_file");
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0]["filters"][0], json::array({"Windows PCM (*.wav)", "*.WAV"}));
    EXPECT_EQ(opens[0]["buffer_size"], 260);
    EXPECT_EQ(opens[1]["initial_dir"].get<std::string>().find(path.substr(0, path.rfind('/'))), 0u);
    expect_edit(p, want);
    p.script(json::array({{{"message_box", "No"}, {"caption", "TK_MAIN"}}}));
    p.close();
    EXPECT_EQ(p.user.pending(), 0u);
}

TEST(EditorMenu, NormalizeScalesTheShownSamplesWithoutMarkingTheBankModified) {
    Panel p;
    p.open();
    float* edit = p.edit();
    ASSERT_NE(edit, nullptr);
    for (int i = 0; i < 1024; ++i) edit[i] = 0.25f * std::sin(6.283185307f * i / 1024.0f);
    const size_t seen = p.t->log().size();
    p.choose(json::array({"Edit", "Normalize"}));
    float peak_value = 0.0f;
    for (int i = 0; i < 1024; ++i) peak_value = std::max(peak_value, std::fabs(edit[i]));
    EXPECT_NEAR(peak_value, 1.0f, 1e-6f);
    const auto sent = p.t->log();
    EXPECT_GT(sent.size(), seen);
    // The oscillator keeps its levels (silence) until the next commit.
    EXPECT_EQ(peak(p.t->render(4096)), 0.0f);
    p.t->send_wave("13,0");
    EXPECT_GT(peak(p.t->render(8192)), 0.4f);
    p.close();
    EXPECT_TRUE(p.user.log_of("message_box").empty());
}

TEST(EditorMenu, LoadAndNewBankAskOnlyWhenModified) {
    TempDir dir("ask");
    const std::string bank = dir.file("saw.wb1");
    {
        Panel p;
        p.open();
        p.choose(json::array({"New", "Sawtooth"}));
        p.script(json::array({{{"menu", json::array({"File", "Save bank"})}}, {{"save_file", bank}}}));
        p.click();
        p.close();
        EXPECT_TRUE(p.user.log_of("message_box").empty());  // the save cleared modified
    }
    {
        // Unmodified: no question, straight to the dialog.
        Panel p;
        p.open();
        p.script(json::array({{{"menu", json::array({"File", "Load bank"})}}, {{"open_file", bank}}}));
        p.click();
        EXPECT_TRUE(p.user.log_of("message_box").empty());
        expect_edit(p, generated(Shape::Sawtooth));
        p.choose(10);  // New Bank, unmodified
        EXPECT_TRUE(p.user.log_of("message_box").empty());
        expect_edit(p, generated(Shape::Silence));
    }
    {
        // Modified, No: the changes are lost and the chosen bank loads.
        Panel p;
        p.open();
        p.choose(json::array({"New", "Square"}));
        p.script(json::array({{{"menu", json::array({"File", "Load bank"})}},
                              {{"message_box", "No"}, {"caption", "Save"}, {"text", "Save current bank ?"}},
                              {{"open_file", bank}}}));
        p.click();
        EXPECT_EQ(p.user.pending(), 0u);
        expect_edit(p, generated(Shape::Sawtooth));
        // Only a save clears modified: closing still asks.
        p.script(json::array({{{"message_box", "No"}, {"caption", "TK_MAIN"}}}));
        p.close();
        EXPECT_EQ(p.user.pending(), 0u);
    }
    {
        // Modified, Yes: the save comes first and clears modified before the load.
        const std::string other = dir.file("square.wb1");
        Panel p;
        p.open();
        p.choose(json::array({"New", "Square"}));
        p.script(json::array({{{"menu", 10}}, {{"message_box", "Yes"}, {"caption", "Save"}},
                              {{"save_file", other}}}));
        p.click();
        EXPECT_EQ(p.user.pending(), 0u);
        EXPECT_TRUE(std::filesystem::exists(other));
        expect_edit(p, generated(Shape::Silence));
        p.close();
        EXPECT_EQ(p.user.log_of("message_box").size(), 1u);
    }
}

TEST(EditorMenu, RenameDialogSetsTheNameAndMarksTheBankModified) {
    Panel p;
    p.open();
    p.script(json::array({{{"menu", json::array({"Edit", "Rename"})}},
                          {{"dialog", json::array({{{"id", 1000}, {"text", "Bright saw and more"}}, {{"press", 1}}})},
                           {"template", 101}}}));
    p.click();
    const auto dialogs = p.user.log_of("dialog");
    ASSERT_FALSE(dialogs.empty());
    EXPECT_EQ(dialogs[0]["caption"], "Preset name");
    EXPECT_EQ(dialogs[0]["owner"], p.t->host.patch_window());
    bool showed_name = false;
    for (const json& c : dialogs[0]["controls"])
        if (c["id"] == 1000) showed_name = c["text"] == "Untitled 1";
    EXPECT_TRUE(showed_name);
    p.click();
    EXPECT_EQ(p.last_menu()["items"][0]["items"][0]["text"], "Bright saw and ");  // 15 characters
    // An empty name changes nothing; Cancel still counts as an edit.
    p.script(json::array({{{"menu", 82}}, {{"dialog", json::array({{{"id", 1000}, {"text", ""}}, {{"press", 1}}})}}}));
    p.click();
    p.click();
    EXPECT_EQ(p.last_menu()["items"][0]["items"][0]["text"], "Bright saw and ");
    p.script(json::array({{{"message_box", "No"}, {"caption", "TK_MAIN"}}}));
    p.close();
    EXPECT_TRUE(p.user.problems().empty());
}

// The dialog mixes the buffer as the user sees it (a drawing not yet stored included) with the
// clipboard, and Cancel gives exactly that buffer back.
TEST(EditorMenu, MixPasteMixesTheBufferAsShownAndCancelGivesItBack) {
    Panel p;
    p.open();
    p.choose(json::array({"New", "Sinus"}));
    p.choose(1);  // clipboard: sine
    // A sawtooth as waveform 0's stored copy, then a drawing over it in the view.
    p.choose(json::array({"New", "Sawtooth"}));
    p.choose(19);
    p.choose(18);
    float* edit = p.edit();
    for (int i = 0; i < 1024; ++i) edit[i] = 0.9f;
    const std::vector<float> sine = generated(Shape::Sinus);
    std::vector<float> half(1024), moved(1024);
    for (int i = 0; i < 1024; ++i) half[i] = 0.5f * 0.9f + 0.5f * sine[i];
    for (int i = 0; i < 1024; ++i) moved[i] = 0.7f * half[i] + 0.3f * sine[i];
    // OK without moving the slider mixes at its start position, 50.
    p.script(json::array({{{"menu", 3}}, {{"dialog", json::array({{{"press", 1}}})}, {"template", 104}}}));
    p.click();
    expect_edit(p, half, 1e-6f);
    const auto dialogs = p.user.log_of("dialog");
    ASSERT_FALSE(dialogs.empty());
    for (const json& c : dialogs[0]["controls"])
        if (c["id"] == 1007) {
            EXPECT_EQ(c["position"], 50);
        }
    // Cancel after a move, and closing the dialog, give back the buffer exactly as it was.
    for (const json& end : {json{{"press", 2}}, json{{"close", true}}}) {
        p.script(json::array({{{"menu", 3}}, {{"dialog", json::array({{{"id", 1007}, {"position", 80}}, end})}}}));
        p.click();
        expect_edit(p, half);
    }
    p.script(json::array({{{"menu", 3}}, {{"dialog", json::array({{{"id", 1007}, {"position", 30}}, {{"press", 1}}})}}}));
    p.click();
    expect_edit(p, moved, 1e-6f);
    EXPECT_TRUE(p.user.problems().empty());
    p.script(json::array({{{"message_box", "No"}}}));
}

// "Evaluate" with values near the float limit and normalisation off plays the sine's shape, and
// texts that would send fparser's optimiser into an endless loop evaluate at once.
TEST(EditorMenu, EvaluatedHugeValuesPlayTheirShapeAndNoExpressionHangs) {
    for (const char* text : {"1e38*sin(2*PI*t)", "(1e-308^x)^-3", "(0.001^t)^-200"}) {
        SCOPED_TRACE(text);
        Panel p;
        p.open();
        p.script(json::array({{{"menu", json::array({"Edit", "Evaluate"})}},
                              {{"dialog", json::array({{{"id", 1044}, {"check", false}},
                                                       {{"id", 1042}, {"text", text}},
                                                       {{"press", 1}},
                                                       {{"press", 8}}})}}}));
        p.click();
        EXPECT_EQ(p.user.pending(), 0u);
        const std::vector<float> out = p.t->render(8192);
        size_t bad = 0;
        for (float v : out) bad += !std::isfinite(v);
        EXPECT_EQ(bad, 0u);
        if (text[0] == '1') {
            EXPECT_GT(tallisk::test::peak(out), 0.49f);
            EXPECT_NEAR(tallisk::test::measured_frequency(out, 44100.0), 440.0, 1.0);
        }
        p.script(json::array({{{"message_box", "No"}}}));
    }
}

// Before any "Process" there is nothing to undo: the buffer stays as it is.
TEST(EditorMenu, UndoBeforeAnyProcessChangesNothing) {
    Panel p;
    p.open();
    p.choose(json::array({"New", "Sawtooth"}));
    p.script(json::array({{{"menu", 83}}, {{"dialog", json::array({{{"press", 1005}}, {{"close", true}}})}}}));
    p.click();
    EXPECT_EQ(p.user.pending(), 0u);
    expect_edit(p, generated(Shape::Sawtooth));
    p.script(json::array({{{"message_box", "No"}}}));
}

TEST(EditorMenu, ExpressionDialogProcessesUndoesHelpsAndKeepsItsTexts) {
    Panel p;
    p.open();
    p.script(json::array({{{"menu", json::array({"Edit", "Evaluate"})}},
                          {{"dialog", json::array({{{"id", 1044}, {"check", false}},
                                                   {{"id", 1043}, {"text", "0.5"}},
                                                   {{"id", 1042}, {"text", "v1*t"}},
                                                   {{"press", 1}},
                                                   {{"press", 1006}},
                                                   {{"press", 8}}})},
                           {"template", 103}},
                          {{"message_box", "OK"}, {"caption", "Help"}}}));
    p.click();
    EXPECT_EQ(p.user.pending(), 0u);
    EXPECT_TRUE(p.user.problems().empty());
    float* edit = p.edit();
    ASSERT_NE(edit, nullptr);
    EXPECT_FLOAT_EQ(edit[512], 0.25f);
    const auto boxes = p.user.log_of("message_box");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0]["text"].get<std::string>().rfind("Quick info:\n", 0), 0u);
    // Opening again shows the stored texts and the box state; Undo brings back the silence.
    p.script(json::array({{{"menu", 83}}, {{"dialog", json::array({{{"press", 1005}}, {{"close", true}}})}}}));
    p.click();
    json shown;
    for (const json& d : p.user.log_of("dialog"))
        if (d["event"] == "shown") shown = d;
    for (const json& c : shown["controls"]) {
        if (c["id"] == 1043) {
            EXPECT_EQ(c["text"], "0.5");
        }
        if (c["id"] == 1042) {
            EXPECT_EQ(c["text"], "v1*t");
        }
        if (c["id"] == 1044) {
            EXPECT_FALSE(c.value("checked", true));
        }
    }
    EXPECT_EQ(edit[512], 0.0f);
    p.script(json::array({{{"message_box", "No"}, {"caption", "TK_MAIN"}}}));
}

}  // namespace
}  // namespace tallisk::test
