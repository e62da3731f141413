// The editor's bank operations, edits and view-link protocol, driven through a scripted host.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "clipboard.h"
#include "fake_editor.h"
#include "level_builder.h"
#include "view_link.h"

using namespace tallisk;
using tallisk::test::FakeEditor;

namespace {

std::string msg(int code, const void* address) {
    char text[64];
    std::snprintf(text, sizeof text, "%i,%" PRIdPTR, code, reinterpret_cast<intptr_t>(address));
    return text;
}

const std::vector<std::string> kRefresh = {"10,0", "12,0"};

std::unique_ptr<FakeEditor> opened_editor() {
    auto e = std::make_unique<FakeEditor>();
    e->initialise(true);
    e->clear_log();
    return e;
}

// The level block a waveform should have, built independently from its samples.
std::vector<float> expected_block(const float* samples) {
    RealFft fft;
    std::vector<float> spectrum(kWaveLength), block(kBlockSamples);
    fft.forward(kWaveLength, samples, spectrum.data());
    build_level_block(fft, spectrum.data(), block.data());
    return block;
}

bool block_equals(const float* a, const std::vector<float>& b) {
    return std::memcmp(a, b.data(), sizeof(float) * kBlockSamples) == 0;
}

}  // namespace

TEST(EditorState, StartsWithUntitledNamesAndZeroTables) {
    FakeEditor e;
    EXPECT_STREQ(e.bank().name(0), "Untitled 1");
    EXPECT_STREQ(e.bank().name(63), "Untitled 64");
    EXPECT_EQ(e.bank().current, 0);
    EXPECT_FALSE(e.bank().modified);
    for (int i = 0; i < kBlockSamples; ++i) ASSERT_EQ(e.level_store()->published(5)[i], 0.0f);
}

TEST(ViewLink, FftRequestGetsTheFullAnswerSet) {
    auto e = opened_editor();
    e->deliver_text(kPinFftIn, "11,0");
    const auto& s = e->settings();
    EXPECT_EQ(e->sent(kPinFftOut), (std::vector<std::string>{msg(8, e->bank().spectrum(0)), msg(3, &s.transparent),
                                                              msg(0, &s.back_colour), msg(1, &s.draw_colour), "14,0",
                                                              "13,0"}));
    EXPECT_TRUE(e->sent(kPinWaveOut).empty());
}

TEST(ViewLink, WaveRequestGetsTheEditBufferAndSettings) {
    auto e = opened_editor();
    e->deliver_text(kPinWaveIn, "11");
    const auto& s = e->settings();
    EXPECT_EQ(e->sent(kPinWaveOut), (std::vector<std::string>{msg(9, e->bank().edit), msg(3, &s.transparent),
                                                               msg(0, &s.back_colour), msg(1, &s.draw_colour), "14,0"}));
    EXPECT_EQ(*reinterpret_cast<const uint32_t*>(parse_view_message(e->sent(kPinWaveOut)[3].c_str()).argument),
              0x507FFFu);
}

TEST(ViewLink, CommitFromThePeerRebuildsTheCurrentLevels) {
    auto e = opened_editor();
    // The peer draws a sawtooth straight into the edit buffer, then commits.
    generate(Shape::Sawtooth, e->bank().edit);
    e->deliver_text(kPinWaveIn, "13,0");
    EXPECT_TRUE(block_equals(e->level_store()->published(0), expected_block(e->bank().edit)));
    EXPECT_EQ(e->sent(kPinFftOut), kRefresh);
    EXPECT_EQ(e->sent(kPinWaveOut), kRefresh);
    EXPECT_FALSE(e->bank().modified);
    e->deliver_text(kPinWaveIn, "18,0");
    EXPECT_TRUE(e->bank().modified);
}

TEST(ViewLink, StepMessagesSelectNeighboursAndWrap) {
    auto e = opened_editor();
    e->deliver_text(kPinWaveIn, "17,0");  // from waveform 1 back to waveform 64
    EXPECT_EQ(e->ints[kPinWaveform], 63);
    EXPECT_EQ(e->bank().current, 63);
    EXPECT_EQ(e->sent(kPinTextOut).back(), "Untitled 64");
    e->deliver_text(kPinWaveIn, "17,1");
    EXPECT_EQ(e->bank().current, 0);
    e->deliver_text(kPinWaveIn, "17,1");
    EXPECT_EQ(e->bank().current, 1);
    e->deliver_text(kPinWaveIn, "17");  // no argument: nothing
    EXPECT_EQ(e->bank().current, 1);
}

TEST(ViewLink, SpectrumChangeResynthesisesTheEditBuffer) {
    auto e = opened_editor();
    float* spectrum = e->bank().spectrum(0);
    std::fill(spectrum, spectrum + kWaveLength, 0.0f);
    spectrum[512 + 1] = -512.0f * 0.25f;  // a quarter-amplitude sine at bin 1
    e->deliver_text(kPinFftIn, "15,0");
    float peak = 0.0f;
    for (int i = 0; i < kWaveLength; ++i) peak = std::fmax(peak, std::fabs(e->bank().edit[i]));
    EXPECT_FLOAT_EQ(peak, 1.0f);
    EXPECT_NEAR(e->bank().edit[256], 1.0f, 1e-6);
    EXPECT_TRUE(block_equals(e->level_store()->published(0), expected_block(e->bank().edit)));
    EXPECT_EQ(e->sent(kPinWaveOut), kRefresh);
    EXPECT_TRUE(e->sent(kPinFftOut).empty());
    e->deliver_text(kPinFftIn, "18,0");
    EXPECT_TRUE(e->bank().modified);
}

// Whatever the peer writes into the spectrum, no NaN or infinity reaches the buffer or the tables.
TEST(ViewLink, NonFiniteSpectrumValuesBecomeZero) {
    auto e = opened_editor();
    float* spectrum = e->bank().spectrum(0);
    std::fill(spectrum, spectrum + kWaveLength, 0.0f);
    spectrum[512 + 1] = -128.0f;
    spectrum[3] = std::nanf("");
    spectrum[512 + 5] = INFINITY;
    e->deliver_text(kPinFftIn, "15,0");
    EXPECT_NEAR(e->bank().edit[256], 1.0f, 1e-6);
    const float* block = e->level_store()->published(0);
    for (int i = 0; i < kBlockSamples; ++i) ASSERT_TRUE(std::isfinite(block[i])) << i;
}

TEST(ViewLink, TextInRenamesTheCurrentWaveformCutTo15Characters) {
    auto e = opened_editor();
    e->deliver_text(kPinTextIn, "A very long waveform name");
    EXPECT_STREQ(e->bank().name(0), "A very long wav");
    e->connected(kPinTextOut);
    EXPECT_EQ(e->sent(kPinTextOut).back(), "A very long wav");
}

TEST(TableHandOver, AddressIsWrittenToTheTablePinAndAnsweredToTheAudioObject) {
    FakeEditor e;
    e.texts[kPinTablePtr] = "";
    e.initialise(true);
    const std::string address = e.texts[kPinTablePtr];
    EXPECT_EQ(parse_address(address.c_str()), reinterpret_cast<uintptr_t>(e.level_store()));
    // Another value arriving on the pin is answered with the address again.
    e.deliver_text(kPinTablePtr, "0");
    EXPECT_EQ(e.texts[kPinTablePtr], address);
    e.message(kTableRequestId, 0, nullptr);
    ASSERT_EQ(e.audio_messages.size(), 1u);
    EXPECT_EQ(e.audio_messages[0].first, 0x00727470);
    EXPECT_EQ(e.audio_messages[0].second, address);
    e.message(1234, 0, nullptr);
    EXPECT_EQ(e.audio_messages.size(), 1u);
}

TEST(SelectWaveform, StoresTheEditBufferAndLoadsTheNewOne) {
    auto e = opened_editor();
    generate(Shape::Square, e->bank().edit);
    e->deliver_int(kPinWaveform, 5);
    EXPECT_EQ(e->bank().current, 5);
    EXPECT_EQ(e->bank().waveform(0)[0], 1.0f);  // stored on the way out
    EXPECT_EQ(e->bank().edit[0], 0.0f);
    EXPECT_EQ(e->settings().menu_marks[5], 8);
    EXPECT_EQ(e->settings().menu_marks[0], 0);
    EXPECT_EQ(e->sent(kPinFftOut), (std::vector<std::string>{"13,0", "10,0", "12,0"}));
    EXPECT_EQ(e->sent(kPinWaveOut), kRefresh);
    EXPECT_EQ(e->sent(kPinTextOut), std::vector<std::string>{"Untitled 6"});
    e->deliver_int(kPinWaveform, 0);
    EXPECT_TRUE(block_equals(e->level_store()->published(0), expected_block(e->bank().waveform(0))));
    e->deliver_int(kPinWaveform, 64);  // outside the bank: nothing happens
    EXPECT_EQ(e->bank().current, 0);
}

TEST(Edits, GeneratorsRefreshAndMarkModified) {
    auto e = opened_editor();
    e->apply_shape(Shape::Sawtooth);
    EXPECT_TRUE(e->bank().modified);
    EXPECT_EQ(e->bank().edit[1023], 0.998046875f);
    EXPECT_TRUE(block_equals(e->level_store()->published(0), expected_block(e->bank().edit)));
    EXPECT_EQ(e->sent(kPinFftOut), kRefresh);
    EXPECT_EQ(e->repaints, 1);
}

TEST(Edits, NormalizeOnlyTellsTheViewsAndKeepsTheLevels) {
    auto e = opened_editor();
    generate(Shape::Sinus, e->bank().edit);
    for (int i = 0; i < kWaveLength; ++i) e->bank().edit[i] *= 0.5f;
    e->refresh();
    const std::vector<float> before(e->level_store()->published(0), e->level_store()->published(0) + kBlockSamples);
    e->clear_log();
    e->bank().modified = false;
    e->normalize();
    EXPECT_NEAR(e->bank().edit[256], 1.0f, 1e-6);
    EXPECT_TRUE(block_equals(e->level_store()->published(0), before));
    EXPECT_FALSE(e->bank().modified);
    EXPECT_EQ(e->sent(kPinFftOut), kRefresh);
}

TEST(Edits, MixPasteMixesTheBufferAsShownAndCancelGivesItBack) {
    auto a = opened_editor();
    auto b = opened_editor();  // a second editor grays paste for everyone
    EXPECT_TRUE(shared_clipboard().paste_grayed);
    a->apply_shape(Shape::Square);
    a->copy();
    EXPECT_FALSE(shared_clipboard().paste_grayed);
    // b has unsaved edits in its buffer (its stored copy of waveform 1 is silence).
    generate(Shape::Sawtooth, b->bank().edit);
    std::vector<float> saw(b->bank().edit, b->bank().edit + kWaveLength);
    b->begin_mix_paste();
    b->preview_mix_paste(0.5f);
    EXPECT_EQ(b->bank().edit[0], 0.5f * saw[0] + 0.5f);
    EXPECT_EQ(b->bank().edit[600], 0.5f * saw[600] - 0.5f);
    EXPECT_TRUE(b->bank().modified);
    b->cancel_mix_paste();
    EXPECT_EQ(std::vector<float>(b->bank().edit, b->bank().edit + kWaveLength), saw);
    EXPECT_FALSE(b->bank().modified);
    EXPECT_TRUE(block_equals(b->level_store()->published(0), expected_block(saw.data())));
    b->paste();
    EXPECT_EQ(b->bank().edit[0], 1.0f);
    EXPECT_TRUE(b->bank().modified);
}

TEST(Edits, UndoRestoresTheBufferBeforeTheLastProcessWithoutMarkingModified) {
    auto e = opened_editor();
    generate(Shape::Ramp, e->bank().edit);
    e->undo();  // nothing processed yet: nothing to undo
    EXPECT_EQ(e->bank().edit[0], 1.0f);
    e->process_expressions({"", "", "", "", "", "", "0.25"});
    EXPECT_EQ(e->bank().edit[0], 1.0f);  // normalised
    e->settings().normalised_output = 0;
    e->process_expressions({"", "", "", "", "", "", "0.25"});
    EXPECT_EQ(e->bank().edit[0], 0.25f);
    e->undo();
    EXPECT_EQ(e->bank().edit[0], 1.0f);
    EXPECT_FALSE(e->bank().modified);
    EXPECT_TRUE(block_equals(e->level_store()->published(0), expected_block(e->bank().edit)));
}

TEST(Edits, RenameCutsTo15AndMarksModified) {
    auto e = opened_editor();
    e->rename("Sixteen chars!!!");
    EXPECT_STREQ(e->bank().name(0), "Sixteen chars!!");
    EXPECT_TRUE(e->bank().modified);
}

TEST(RebuildAll, BuildsEveryWaveformAndTheCurrentOneFromTheEditBuffer) {
    auto e = opened_editor();
    for (int w = 0; w < kWaveCount; ++w) generate(w % 2 ? Shape::Square : Shape::Triangle, e->bank().waveform(w));
    e->deliver_int(kPinWaveform, 7);
    generate(Shape::Sawtooth, e->bank().edit);  // being edited, not yet stored
    const std::vector<float> stored(e->bank().waveform(7), e->bank().waveform(7) + kWaveLength);
    e->refresh();
    e->deliver_int(kPinMorphSwitch, 1);
    for (int w = 0; w < kWaveCount; ++w) {
        const float* source = w == 7 ? e->bank().edit : e->bank().waveform(w);
        ASSERT_TRUE(block_equals(e->level_store()->published(w), expected_block(source))) << w;
    }
    EXPECT_EQ(std::memcmp(e->bank().waveform(7), stored.data(), sizeof(float) * kWaveLength), 0);
}
