// Tables replaced on one thread while the oscillator renders on another: every rendered block must
// come from one whole version of each table. Also built with ThreadSanitizer (tallisk_stress_tsan).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "fake_editor.h"
#include "level_store.h"
#include "oscillator.h"

using namespace tallisk;

namespace tallisk {
struct LevelStoreTestAccess {
    static void set_epoch(LevelStore& store, uint32_t epoch) { store.m_reader_epoch.store(epoch); }
};
}  // namespace tallisk

namespace {

constexpr auto kRunTime = std::chrono::milliseconds(400);
constexpr int kBlock = 64;

}  // namespace

// After 2^31 blocks the reader's epoch reaches 0xFFFFFFFF: a block retired during that block must
// still wait for its end before the editor writes into it again (once the spares before it are
// used).
TEST(LevelStoreStress, WriterWaitsForTheBlockAtTheEpochsWrap) {
    auto store = std::make_unique<LevelStore>();
    std::vector<float> block(kBlockSamples, 1.0f);
    store->replace(0, block.data());
    LevelStoreTestAccess::set_epoch(*store, 0xFFFFFFFEu);
    std::atomic<bool> reader_done{false};
    bool writer_saw_done = false;
    std::thread writer;
    {
        LevelReader reader(store.get());  // epoch 0xFFFFFFFF
        store->replace(0, block.data());  // retires the slot this block reads
        writer = std::thread([&] {
            for (int k = 1; k < LevelStore::kSpareBlocks; ++k) store->replace(1, block.data());
            store->begin_replace(0);  // the block retired above
            writer_saw_done = reader_done.load();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        reader_done = true;
    }
    writer.join();
    EXPECT_TRUE(writer_saw_done);
    EXPECT_GT(store->waits(), 0u);
}

// Every waveform maps to its own block, and a replacement never writes into a block another
// waveform plays or that is still published.
TEST(LevelStoreStress, ReplacementsKeepEveryWaveformsBlockApart) {
    auto store = std::make_unique<LevelStore>();
    std::vector<float> block(kBlockSamples);
    for (int round = 0; round < 3 * LevelStore::kBlockCount; ++round) {
        const int w = (round * 7) % kWaveCount;
        std::fill(block.begin(), block.end(), static_cast<float>(round + 1));
        const float* before = store->published(w);
        float* target = store->begin_replace(w);
        for (int v = 0; v < kWaveCount; ++v) ASSERT_NE(target, store->published(v)) << round;
        std::copy(block.begin(), block.end(), target);
        store->commit_replace(w);
        EXPECT_EQ(store->published(w), target);
        EXPECT_NE(store->published(w), before);
        EXPECT_EQ(store->published(w)[kBlockSamples - 1], static_cast<float>(round + 1));
    }
}

// With the writer's process-wide barrier (where the system has one) and with sequentially
// consistent operations on both sides.
class ReaderOrder : public testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(LevelStoreStress, ReaderOrder, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Light" : "SeqCst"; });

TEST_P(ReaderOrder, ReaderSeesOnlyWholeVersionsOfABlock) {
    auto store = std::make_unique<LevelStore>(GetParam());
    if (GetParam() && !store->light_reader()) GTEST_SKIP() << "no process-wide barrier on this system";
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::atomic<long> blocks{0};

    std::thread writer([&] {
        std::vector<float> block(kBlockSamples);
        for (int version = 1; !stop.load(); ++version) {
            for (int w = 0; w < 2; ++w) {
                std::fill(block.begin(), block.end(), static_cast<float>(version));
                store->replace(w, block.data());
            }
        }
    });

    std::thread reader([&] {
        auto osc = std::make_unique<Oscillator>();
        osc->build_increment_tables(44100.0f);
        osc->set_store(store.get());
        osc->static_pitch_update(0.9f);  // fast: each block sweeps far through the table
        std::vector<float> out(kBlock), morph(kBlock, 0.0f);
        float last = 0.0f;
        const auto end = std::chrono::steady_clock::now() + kRunTime;
        while (std::chrono::steady_clock::now() < end) {
            {
                // The whole published block, read sample by sample.
                LevelReader r(store.get());
                const float* b = r.waveform(0);
                for (int i = 1; i < kBlockSamples; ++i)
                    if (b[i] != b[0]) ++bad;
                if (b[0] < last) ++bad;  // versions never go back
                last = b[0];
            }
            osc->render_static(out.data(), kBlock);
            for (float v : out)
                if (v != out[0]) ++bad;
            // Morph between waveforms 1 and 2 (indices 0 and 1) at a settled position.
            osc->render_morph_static(morph.data(), out.data(), kBlock);
            for (float v : out)
                if (v != out[0]) ++bad;
            ++blocks;
        }
        stop = true;
    });
    reader.join();
    writer.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(blocks.load(), 100);
}

TEST(LevelStoreStress, EditorRebuildsWhileTheOscillatorPlays) {
    using tallisk::test::FakeEditor;
    auto editor = std::make_unique<FakeEditor>();
    editor->initialise(true);

    // Reference renders of the two versions the editor alternates between.
    constexpr int kSamples = kBlock * 64;
    auto render_reference = [&](Shape shape) {
        auto e = std::make_unique<FakeEditor>();
        e->apply_shape(shape);
        auto osc = std::make_unique<Oscillator>();
        osc->build_increment_tables(44100.0f);
        osc->set_store(e->level_store());
        osc->static_pitch_update(0.37f);
        std::vector<float> out(kSamples);
        for (int b = 0; b < kSamples / kBlock; ++b) osc->render_static(out.data() + b * kBlock, kBlock);
        return out;
    };
    const std::vector<float> saw = render_reference(Shape::Sawtooth);
    const std::vector<float> square = render_reference(Shape::Square);

    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::atomic<long> blocks{0};
    editor->apply_shape(Shape::Sawtooth);
    const LevelStore* store = editor->level_store();

    std::thread writer([&] {
        for (int n = 0; !stop.load(); ++n) {
            editor->apply_shape(n % 2 ? Shape::Sawtooth : Shape::Square);
            if (n % 16 == 0) editor->rebuild_all();
        }
    });
    std::thread reader([&] {
        auto osc = std::make_unique<Oscillator>();
        osc->build_increment_tables(44100.0f);
        osc->set_store(store);
        std::vector<float> out(kBlock);
        const auto end = std::chrono::steady_clock::now() + kRunTime;
        while (std::chrono::steady_clock::now() < end) {
            osc->reset();
            osc->static_pitch_update(0.37f);
            for (int b = 0; b < kSamples / kBlock; ++b) {
                osc->render_static(out.data(), kBlock);
                const bool is_saw = std::equal(out.begin(), out.end(), saw.begin() + b * kBlock);
                const bool is_square = std::equal(out.begin(), out.end(), square.begin() + b * kBlock);
                if (!is_saw && !is_square) ++bad;
                ++blocks;
            }
        }
        stop = true;
    });
    reader.join();
    writer.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(blocks.load(), 100);
}
