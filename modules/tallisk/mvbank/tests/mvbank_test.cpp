// mvbank through its command line: files built here from the formats' layouts (and by sox), converted,
// described and drawn, and every kind of bad input refused without an output file.
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "bank_build.h"
#include "bank_picture.h"
#include "run.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr double kPi = 3.14159265358979323846;

class MvbankTest : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/mvbank_test.XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        m_dir = dir;
    }
    // Only the folder made above (and what the tests put in it) is removed.
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string path(const std::string& name) const { return m_dir + "/" + name; }

    struct Result {
        int status;
        std::string out, err;
    };
    Result run(const std::vector<std::string>& args) {
        std::ostringstream out, err;
        const int status = mvbank::run_mvbank(args, out, err);
        return {status, out.str(), err.str()};
    }
    // Runs a conversion that must succeed.
    void convert(const std::vector<std::string>& args) {
        std::vector<std::string> all{"convert"};
        all.insert(all.end(), args.begin(), args.end());
        const Result r = run(all);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    void sox(const std::string& args) {
        const std::string command = "sox -D " + args + " 2>/dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

    std::string m_dir;
};

void put(Bytes& b, const void* p, size_t n) { b.insert(b.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n); }
void put_text(Bytes& b, const char* s) { put(b, s, std::strlen(s)); }
void put32(Bytes& b, uint32_t v) { put(b, &v, 4); }  // the test machines are little-endian, as the files
void put16(Bytes& b, uint16_t v) { put(b, &v, 2); }
void put_float(Bytes& b, float v) { put(b, &v, 4); }

void save(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes load(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A mono RIFF/WAVE: fmt tag 1 (PCM) or 3 (float), an optional 'clm ' chunk, then the data.
Bytes wav_file(uint16_t tag, uint16_t bits, const Bytes& data, const char* clm = nullptr) {
    Bytes body;
    put_text(body, "WAVE");
    put_text(body, "fmt ");
    put32(body, 16);
    put16(body, tag);
    put16(body, 1);
    put32(body, 44100);
    put32(body, 44100u * bits / 8);
    put16(body, static_cast<uint16_t>(bits / 8));
    put16(body, bits);
    if (clm) {
        put_text(body, "clm ");
        put32(body, static_cast<uint32_t>(std::strlen(clm)));
        put_text(body, clm);
        if (std::strlen(clm) & 1) body.push_back(0);
    }
    put_text(body, "data");
    put32(body, static_cast<uint32_t>(data.size()));
    put(body, data.data(), data.size());
    Bytes file;
    put_text(file, "RIFF");
    put32(file, static_cast<uint32_t>(body.size()));
    put(file, body.data(), body.size());
    return file;
}

Bytes float_data(const std::vector<float>& x) {
    Bytes b;
    for (float v : x) put_float(b, v);
    return b;
}

Bytes wt_file(uint32_t wave_size, uint16_t count, uint16_t flags, const Bytes& data) {
    Bytes b;
    put_text(b, "vawt");
    put32(b, wave_size);
    put16(b, count);
    put16(b, flags);
    put(b, data.data(), data.size());
    return b;
}

// The bank as the file lays it out: magic, 64 x 1024 floats, 64 x 16 name bytes.
struct BankFile {
    std::vector<float> waves = std::vector<float>(64 * 1024);
    std::vector<std::string> names;

    float at(int w, int i) const { return waves[static_cast<size_t>(w) * 1024 + static_cast<size_t>(i)]; }

    static BankFile read(const Bytes& b) {
        BankFile bank;
        EXPECT_EQ(b.size(), 263172u);
        EXPECT_EQ(std::memcmp(b.data(), "WB1 ", 4), 0);
        if (b.size() != 263172u) return bank;
        std::memcpy(bank.waves.data(), b.data() + 4, 262144);
        for (int w = 0; w < 64; ++w) bank.names.emplace_back(reinterpret_cast<const char*>(b.data()) + 262148 + 16 * w);
        return bank;
    }
    Bytes bytes(const char* magic = "WB1 ", int count = 64) const {
        Bytes b;
        put_text(b, magic);
        put(b, waves.data(), size_t(count) * 4096);
        for (int w = 0; w < count; ++w) {
            char name[16] = {};
            std::strncpy(name, names[static_cast<size_t>(w)].c_str(), 15);
            put(b, name, 16);
        }
        return b;
    }
};

double max_error(const BankFile& bank, int w, const std::function<double(int)>& expected) {
    double e = 0.0;
    for (int i = 0; i < 1024; ++i) e = std::fmax(e, std::fabs(bank.at(w, i) - expected(i)));
    return e;
}

bool silent_from(const BankFile& bank, int first) {
    for (int w = first; w < 64; ++w)
        for (int i = 0; i < 1024; ++i)
            if (bank.at(w, i) != 0.0f) return false;
    return true;
}

// ---- reading ----------------------------------------------------------------------------------

TEST_F(MvbankTest, ClmWavFramesOfAnySizeBecomeBankWaveformsInOrder) {
    struct Case {
        int frame;
        const char* clm;
        std::vector<std::string> extra;
    };
    const Case cases[] = {
        {2048, "<!>2048 00000000 wavetable", {}},
        {256, "<!>256 10000000 wavetable", {}},  // without the chunk 2048 would be taken
        {256, nullptr, {"--frame", "256"}},
        {4096, "<!>256", {"--frame", "4096"}},  // --frame wins over the chunk
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        std::vector<float> x;
        for (int k = 0; k < 8; ++k)
            for (int i = 0; i < c.frame; ++i) x.push_back(0.8f * static_cast<float>(std::sin(2 * kPi * (k + 1) * i / c.frame)));
        save(path("sines.wav"), wav_file(3, 32, float_data(x), c.clm));
        std::vector<std::string> args{path("sines.wav"), path("sines.wb1")};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        convert(args);
        const BankFile bank = BankFile::read(load(path("sines.wb1")));
        for (int k = 0; k < 8; ++k) {
            EXPECT_LT(max_error(bank, k, [&](int i) { return 0.8 * std::sin(2 * kPi * (k + 1) * i / 1024); }), 2e-6) << k;
            EXPECT_EQ(bank.names[static_cast<size_t>(k)], "sines " + std::to_string(k + 1));
        }
        EXPECT_TRUE(silent_from(bank, 8));
        EXPECT_EQ(bank.names[8], "Untitled 9");
    }
}

TEST_F(MvbankTest, WtFloatAndInt16SamplesAreScaledByTheirFlags) {
    struct Case {
        uint16_t flags;
        double scale;  // what a stored 1.0 becomes
    };
    for (const Case& c : {Case{0x0, 0.0}, Case{0x4, 16384.0}, Case{0x4 | 0x8, 32768.0}, Case{0x10, 0.0}}) {
        SCOPED_TRACE(c.flags);
        const int n = 512;
        Bytes data;
        std::vector<double> want;
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < n; ++i) {
                const double v = 0.5 * std::cos(2 * kPi * (k + 2) * i / n);
                if (c.scale == 0.0) put_float(data, static_cast<float>(v));
                else put16(data, static_cast<uint16_t>(static_cast<int16_t>(std::lround(v * c.scale))));
            }
        if (c.flags & 0x10) put_text(data, "<metadata that is not ours to read>");
        save(path("t.wt"), wt_file(n, 3, c.flags, data));
        convert({path("t.wt"), path("t.wb1")});
        const BankFile bank = BankFile::read(load(path("t.wb1")));
        const double tolerance = c.scale == 0.0 ? 1e-6 : 1.0 / c.scale;
        for (int k = 0; k < 3; ++k)
            EXPECT_LT(max_error(bank, k, [&](int i) { return 0.5 * std::cos(2 * kPi * (k + 2) * i / 1024); }), tolerance);
        EXPECT_EQ(bank.names[2], "t 3");
        EXPECT_TRUE(silent_from(bank, 3));
    }
}

TEST_F(MvbankTest, WavsMadeBySoxInEverySampleType) {
    // 48000 / 375 = 128 samples per period; 16 periods make 16 frames of one sine cycle each.
    struct Case {
        const char* type;
        double tolerance;
    };
    for (const Case& c : {Case{"-b 8", 1.0 / 64}, Case{"-b 16", 1e-4}, Case{"-b 24", 1e-6}, Case{"-b 32", 1e-6},
                          Case{"-e floating-point -b 32", 1e-6}}) {
        SCOPED_TRACE(c.type);
        sox("-r 48000 -n " + std::string(c.type) + " -c 1 " + path("sine.wav") + " synth 2048s sine 375 vol 0.5");
        convert({path("sine.wav"), path("sine.wb1"), "--frame", "128"});
        const BankFile bank = BankFile::read(load(path("sine.wb1")));
        for (int k = 0; k < 16; ++k)
            EXPECT_LT(max_error(bank, k, [](int i) { return 0.5 * std::sin(2 * kPi * i / 1024); }), c.tolerance) << k;
        EXPECT_TRUE(silent_from(bank, 16));
    }
}

TEST_F(MvbankTest, LongTablesKeep64EvenlySpacedFramesOrTheChosenRange) {
    // Frame k is the constant k / 256, which every resampling keeps exactly: each waveform shows
    // which frame it came from.
    Bytes data;
    for (int k = 0; k < 256; ++k)
        for (int i = 0; i < 16; ++i) put_float(data, static_cast<float>(k) / 256);
    save(path("a_long_table_name.wt"), wt_file(16, 256, 0, data));
    struct Case {
        std::vector<std::string> range;
        std::vector<int> frames;  // expected frame (0-based) of waveforms 1.., then silence
    };
    std::vector<int> spaced;
    for (int w = 0; w < 64; ++w) spaced.push_back(static_cast<int>(std::lround(w * 255.0 / 63)));
    std::vector<int> range20, tail;
    for (int k = 10; k < 30; ++k) range20.push_back(k);
    for (int k = 199; k < 256; ++k) tail.push_back(k);
    std::vector<int> spaced_range;  // frames 2..101: 100 frames, 64 kept
    for (int w = 0; w < 64; ++w) spaced_range.push_back(1 + static_cast<int>(std::lround(w * 99.0 / 63)));
    for (const Case& c : {Case{{}, spaced}, Case{{"--first", "11", "--count", "20"}, range20},
                          Case{{"--first", "200"}, tail}, Case{{"--first", "2", "--count", "100"}, spaced_range}}) {
        std::vector<std::string> args{path("a_long_table_name.wt"), path("out.wb1")};
        args.insert(args.end(), c.range.begin(), c.range.end());
        convert(args);
        const BankFile bank = BankFile::read(load(path("out.wb1")));
        for (size_t w = 0; w < c.frames.size(); ++w) {
            const int k = c.frames[w];
            EXPECT_LT(max_error(bank, static_cast<int>(w), [&](int) { return k / 256.0; }), 1e-6) << w;
            // The stem is cut so that the frame number survives within 15 characters.
            const std::string number = std::to_string(k + 1);
            EXPECT_EQ(bank.names[w], std::string("a_long_table_name").substr(0, 14 - number.size()) + " " + number);
        }
        EXPECT_TRUE(silent_from(bank, static_cast<int>(c.frames.size())));
    }
}

// ---- writing and round trips ------------------------------------------------------------------

TEST_F(MvbankTest, BanksRoundTripThroughWavAndWtWithinFloatRounding) {
    // Noise holds every partial up to the bank's Nyquist frequency, the hardest case for the trip.
    BankFile bank;
    std::mt19937 random(23);
    std::uniform_real_distribution<float> noise(-1.0f, 1.0f);
    for (float& v : bank.waves) v = noise(random);
    for (int w = 0; w < 64; ++w) bank.names.push_back("noise " + std::to_string(w));
    save(path("noise.wb1"), bank.bytes());

    struct Case {
        const char* file;
        std::vector<std::string> frame;
        int expected_frame;
    };
    for (const Case& c : {Case{"trip.wav", {}, 2048}, Case{"trip.wt", {}, 2048}, Case{"trip.wav", {"--frame", "8192"}, 8192},
                          Case{"trip.wt", {"--frame", "1024"}, 1024}}) {
        SCOPED_TRACE(std::string(c.file) + " " + std::to_string(c.expected_frame));
        std::vector<std::string> args{path("noise.wb1"), path(c.file)};
        args.insert(args.end(), c.frame.begin(), c.frame.end());
        convert(args);
        const Result info = run({"info", path(c.file)});
        EXPECT_NE(info.out.find("frame size: " + std::to_string(c.expected_frame) + "\nframes: 64\n"), std::string::npos);
        convert({path(c.file), path("back.wb1")});
        const BankFile back = BankFile::read(load(path("back.wb1")));
        for (int w = 0; w < 64; ++w) ASSERT_LT(max_error(back, w, [&](int i) { return bank.at(w, i); }), 2e-6) << w;
    }
    // Bank to bank keeps the names and every byte.
    convert({path("noise.wb1"), path("copy.wb1")});
    EXPECT_EQ(load(path("copy.wb1")), load(path("noise.wb1")));
}

TEST_F(MvbankTest, WrittenWavCarriesTheFrameSizeInAClmChunkAndFloatSamples) {
    BankFile bank;
    for (int w = 0; w < 64; ++w) bank.names.push_back("w");
    for (int i = 0; i < 1024; ++i) bank.waves[static_cast<size_t>(i)] = static_cast<float>(std::sin(2 * kPi * i / 1024));
    save(path("b.wb1"), bank.bytes());
    convert({path("b.wb1"), path("b.wav"), "--frame", "512"});
    const Bytes wav = load(path("b.wav"));
    const std::string text(wav.begin(), wav.end());
    const size_t clm = text.find("clm ");
    ASSERT_NE(clm, std::string::npos);
    EXPECT_EQ(text.substr(clm + 8, 7), "<!>512 ");
    EXPECT_LT(clm, text.find("data"));
    uint16_t tag, bits;
    std::memcpy(&tag, wav.data() + 20, 2);
    std::memcpy(&bits, wav.data() + 34, 2);
    EXPECT_EQ(tag, 3);
    EXPECT_EQ(bits, 32);
    // Frame 1, sample 128 of 512: a quarter period of the sine.
    float v;
    std::memcpy(&v, wav.data() + text.find("data") + 8 + 128 * 4, 4);
    EXPECT_NEAR(v, 1.0f, 1e-6f);
    EXPECT_EQ(wav.size(), text.find("data") + 8 + 64 * 512 * 4);
    // The 18-byte format chunk of non-PCM data, so that sox reads it without a warning.
    uint32_t fmt_size, riff_size;
    std::memcpy(&fmt_size, wav.data() + 16, 4);
    std::memcpy(&riff_size, wav.data() + 4, 4);
    EXPECT_EQ(fmt_size, 18u);
    EXPECT_EQ(riff_size, wav.size() - 8);
    const std::string warnings = path("sox.txt");
    ASSERT_EQ(std::system(("sox -V2 '" + path("b.wav") + "' -n stat 2>'" + warnings + "'").c_str()), 0);
    const Bytes said = load(warnings);
    EXPECT_EQ(std::string(said.begin(), said.end()).find("WARN"), std::string::npos) << std::string(said.begin(), said.end());

    convert({path("b.wb1"), path("b.wt")});
    const Bytes wt = load(path("b.wt"));
    ASSERT_EQ(wt.size(), 12u + 64 * 2048 * 4);
    EXPECT_EQ(std::memcmp(wt.data(), "vawt\x00\x08\x00\x00\x40\x00\x00\x00", 12), 0);
}

TEST_F(MvbankTest, SixteenWaveformBanksFillTheFirstSixteen) {
    BankFile small;
    for (int w = 0; w < 16; ++w) {
        small.names.push_back("sixteen " + std::to_string(w));
        for (int i = 0; i < 1024; ++i) small.waves[static_cast<size_t>(w * 1024 + i)] = static_cast<float>(w + 1) / 32;
    }
    save(path("s.wbf"), small.bytes("WBF ", 16));
    convert({path("s.wbf"), path("s.wb1")});
    const BankFile bank = BankFile::read(load(path("s.wb1")));
    for (int w = 0; w < 16; ++w) {
        EXPECT_EQ(bank.at(w, 500), static_cast<float>(w + 1) / 32);
        EXPECT_EQ(bank.names[static_cast<size_t>(w)], "sixteen " + std::to_string(w));
    }
    EXPECT_TRUE(silent_from(bank, 16));
    EXPECT_EQ(bank.names[63], "Untitled 64");
}

// ---- info and pictures ------------------------------------------------------------------------

TEST_F(MvbankTest, InfoListsEveryFrameWithPeakRmsAndSilence) {
    Bytes data;
    for (int i = 0; i < 64; ++i) put_float(data, static_cast<float>(0.5 * std::sin(2 * kPi * i / 64)));
    for (int i = 0; i < 64; ++i) put_float(data, 0.0f);
    for (int i = 0; i < 64; ++i) put_float(data, i < 32 ? 0.25f : -0.25f);
    save(path("three.wt"), wt_file(64, 3, 0, data));
    const Result r = run({"info", path("three.wt")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, path("three.wt") +
                         "\nformat: wavetable (.wt)\nframe size: 64\nframes: 3\n"
                         "    #  name             peak       rms\n"
                         "    1  three 1          0.500000  0.353553\n"
                         "    2  three 2          0.000000  0.000000  silent\n"
                         "    3  three 3          0.250000  0.250000\n");
}

struct Png {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    uint32_t at(int x, int y) const {
        const uint8_t* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return mvp::RGB(p[0], p[1], p[2]);
    }
};

Png read_png(const std::string& file) {
    Png png;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file.c_str())) return png;
    image.format = PNG_FORMAT_RGB;
    png.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, png.rgb.data(), 0, nullptr)) {
        png.width = static_cast<int>(image.width);
        png.height = static_cast<int>(image.height);
    }
    return png;
}

TEST_F(MvbankTest, PicturesDrawTheWaveformsWhereTheyMustBe) {
    BankFile bank;
    for (int w = 0; w < 64; ++w) bank.names.push_back("wave " + std::to_string(w + 1));
    for (int i = 0; i < 1024; ++i) {
        bank.waves[static_cast<size_t>(i)] = i < 512 ? 0.5f : -0.5f;                                  // waveform 1: square
        bank.waves[static_cast<size_t>(9 * 1024 + i)] = static_cast<float>(0.5 * std::sin(2 * kPi * i / 1024));  // 10: sine
    }
    save(path("p.wb1"), bank.bytes());
    Result r = run({"picture", path("p.wb1"), "-o", path("p.png")});
    ASSERT_EQ(r.status, 0) << r.err;
    const Png grid = read_png(path("p.png"));
    ASSERT_EQ(grid.width, mvbank::kGridWidth);
    ASSERT_EQ(grid.height, mvbank::kGridHeight);
    EXPECT_EQ(grid.width, 1024);
    EXPECT_EQ(grid.height, 768);
    const int mid = mvbank::kPlotTop + (mvbank::kPlotHeight - 1) / 2;
    const int half = (mvbank::kPlotHeight - 1) / 2;
    // The square of waveform 1 at +0.5 in its first half and -0.5 in its second.
    EXPECT_EQ(grid.at(4 + 30, mid - half / 2), mvbank::kWaveColor);
    EXPECT_EQ(grid.at(4 + 90, mid + half / 2), mvbank::kWaveColor);
    EXPECT_NE(grid.at(4 + 30, mid + half / 2), mvbank::kWaveColor);
    // Waveform 10 (row 1, column 1): the sine's crest at a quarter of the cell.
    EXPECT_EQ(grid.at(128 + 4 + 30, 96 + mid - half / 2), mvbank::kWaveColor);
    // Waveform 2 is silent: its zero line only.
    EXPECT_EQ(grid.at(128 + 4 + 60, mid), mvbank::kZeroColor);
    // Its name is written under the plot.
    int text_pixels = 0;
    for (int y = 80; y < 92; ++y)
        for (int x = 4; x < 60; ++x) text_pixels += grid.at(x, y) == mvbank::kTextColor;
    EXPECT_GT(text_pixels, 20);

    r = run({"picture", path("p.wb1"), "-o", path("levels.png"), "--levels", "10"});
    ASSERT_EQ(r.status, 0) << r.err;
    const Png levels = read_png(path("levels.png"));
    ASSERT_EQ(levels.width, mvbank::kLevelsWidth);
    ASSERT_EQ(levels.height, mvbank::kLevelsHeight);
    // Every level of a sine is the sine at peak 0.5, which reaches the top of each panel a quarter
    // of the way across: level 8 (128 samples) in the last panel.
    const int left = 2 * mvbank::kPanelWidth + 4;
    const int top = mvbank::kTitleHeight + 2 * mvbank::kPanelHeight + mvbank::kPanelPlotTop;
    EXPECT_EQ(levels.at(left + 32 * (mvbank::kPanelWidth - 9) / 128, top), mvbank::kWaveColor);
    EXPECT_EQ(levels.at(left + 96 * (mvbank::kPanelWidth - 9) / 128, top + mvbank::kPanelPlotHeight - 1), mvbank::kWaveColor);
}

// ---- bad input --------------------------------------------------------------------------------

TEST_F(MvbankTest, BadInputGivesOneLineExitTwoAndNoOutput) {
    std::vector<float> one_frame(2048, 0.25f);
    const Bytes good_wav = wav_file(3, 32, float_data(one_frame));
    Bytes nan_wav_data = float_data(one_frame);
    const float nan = std::nanf("");
    std::memcpy(nan_wav_data.data() + 40, &nan, 4);
    Bytes truncated_wav = good_wav;
    truncated_wav.resize(truncated_wav.size() - 100);
    Bytes wt_nan;
    put_float(wt_nan, 0.0f);
    put_float(wt_nan, INFINITY);
    BankFile bank;
    for (int w = 0; w < 64; ++w) bank.names.push_back("x");
    const Bytes good_bank = bank.bytes();
    Bytes nan_bank = good_bank;
    std::memcpy(nan_bank.data() + 4 + 4 * 5000, &nan, 4);
    Bytes short_bank = good_bank;
    short_bank.resize(200000);
    Bytes wrong_magic = good_bank;
    std::memcpy(wrong_magic.data(), "WB2 ", 4);

    struct Case {
        const char* what;
        const char* input;  // file name in the test folder
        Bytes content;      // written unless empty
        std::vector<std::string> extra;
        const char* output;
        const char* says;  // part of the message
    };
    const Case cases[] = {
        {"unknown input extension", "in.aiff", good_wav, {}, "out.wb1", "unknown extension"},
        {"unknown output extension", "in.wav", good_wav, {}, "out.mp3", "unknown extension"},
        {"wbf is read only", "in.wav", good_wav, {}, "out.wbf", "read only"},
        {"missing input", "none.wav", {}, {}, "out.wb1", "No such file"},
        {"bank too short for a magic", "in.wb1", Bytes{'W', 'B'}, {}, "out.wav", "too short"},
        {"bank with another magic", "in.wb1", wrong_magic, {}, "out.wav", "not a tallisk bank"},
        {"truncated bank", "in.wb1", short_bank, {}, "out.wav", "truncated"},
        {"bank with a NaN", "in.wb1", nan_bank, {}, "out.wav", "not a finite number"},
        {"wt shorter than its header", "in.wt", Bytes{'v', 'a', 'w', 't', 0}, {}, "out.wb1", "too short"},
        {"wt without its magic", "in.wt", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 0, 0, 0, 0}, {}, "out.wb1", "vawt"},
        {"wt size not a power of 2", "in.wt", wt_file(1000, 1, 0, Bytes(4000)), {}, "out.wb1", "not a power of 2"},
        {"wt size above 4096", "in.wt", wt_file(8192, 1, 0, Bytes(32768)), {}, "out.wb1", "not a power of 2"},
        {"wt with no waves", "in.wt", wt_file(256, 0, 0, {}), {}, "out.wb1", "wave count is 0"},
        {"wt shorter than its header says", "in.wt", wt_file(256, 2, 0, Bytes(1024)), {}, "out.wb1", "truncated"},
        {"wt int16 cut short", "in.wt", wt_file(256, 2, 4, Bytes(1000)), {}, "out.wb1", "truncated"},
        {"wt with an infinity", "in.wt", wt_file(2, 1, 0, wt_nan), {}, "out.wb1", "not a finite number"},
        {"wav that is not RIFF", "in.wav", Bytes(100, 'x'), {}, "out.wb1", "not a WAV"},
        {"wav with a NaN", "in.wav", wav_file(3, 32, nan_wav_data), {}, "out.wb1", "not a finite number"},
        {"wav cut short", "in.wav", truncated_wav, {}, "out.wb1", "truncated"},
        {"wav clm frame not a power of 2", "in.wav", wav_file(3, 32, float_data(one_frame), "<!>1000 00"), {}, "out.wb1",
         "not a power of 2"},
        {"wav clm frame 0", "in.wav", wav_file(3, 32, float_data(one_frame), "<!>0 00"), {}, "out.wb1", "not a positive number"},
        {"wav clm frame negative", "in.wav", wav_file(3, 32, float_data(one_frame), "<!>-2048"), {}, "out.wb1",
         "not a positive number"},
        {"wav frame option not a power of 2", "in.wav", good_wav, {"--frame", "1000"}, "out.wb1", "not a power of 2"},
        {"wav shorter than a frame", "in.wav", good_wav, {"--frame", "4096"}, "out.wb1", "less than one frame"},
        {"wav not whole frames", "in.wav", wav_file(3, 32, float_data(std::vector<float>(3000))), {}, "out.wb1", "not a whole number"},
        {"wav with no samples", "in.wav", wav_file(3, 32, {}), {}, "out.wb1", "no samples"},
        {"output frame too long for wt", "in.wb1", good_bank, {"--frame", "8192"}, "out.wt", "4096"},
        {"output frame not a power of 2", "in.wb1", good_bank, {"--frame", "1000"}, "out.wav", "power of 2"},
        {"first beyond the table", "in.wav", good_wav, {"--first", "2"}, "out.wb1", "outside"},
        {"count beyond the table", "in.wav", good_wav, {"--count", "2"}, "out.wb1", "runs past"},
        {"frame option not a number", "in.wav", good_wav, {"--frame", "2k"}, "out.wb1", "not a whole number"},
        {"option the command does not take", "in.wav", good_wav, {"--levels", "2"}, "out.wb1", "does not take"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.content.empty()) save(path(c.input), c.content);
        std::vector<std::string> args{"convert", path(c.input), path(c.output)};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const Result r = run(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("mvbank: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        // Messages about a file name it.
        if (c.extra.empty()) {
            EXPECT_NE(r.err.find(m_dir), std::string::npos) << r.err;
        }
        EXPECT_FALSE(exists(path(c.output)));
        std::filesystem::remove(path(c.input));
    }
}

TEST_F(MvbankTest, CommandLineMistakesAndOutputsThatWouldLoseData) {
    std::vector<float> one_frame(2048, 0.25f);
    save(path("in.wav"), wav_file(3, 32, float_data(one_frame)));
    save(path("keep.wb1"), Bytes{'m', 'i', 'n', 'e'});
    std::filesystem::create_directory(path("folder.wav"));
    ASSERT_EQ(mkfifo(path("fifo.wav").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", path("zero.wb1"));
    sox("-r 48000 -n -b 16 -c 2 " + path("stereo.wav") + " synth 2048s sine 375");
    sox("-r 48000 -n -e u-law -c 1 " + path("ulaw.wav") + " synth 2048s sine 375");
    sox("-r 48000 -n -b 16 -c 1 -t aiff " + path("aiff.wav") + " synth 2048s sine 375");
    struct Case {
        std::vector<std::string> args;
        const char* says;
        const char* not_written;
    };
    const Case cases[] = {
        {{}, "usage", nullptr},
        {{"squash", path("in.wav")}, "unknown command", nullptr},
        {{"convert", path("in.wav")}, "takes IN and OUT", nullptr},
        {{"convert", path("in.wav"), path("in.wav")}, "is the input file", nullptr},
        {{"convert", path("stereo.wav"), path("s.wb1")}, "mono", "s.wb1"},
        {{"convert", path("folder.wav"), path("f.wb1")}, "folder", "f.wb1"},
        {{"convert", path("fifo.wav"), path("f.wb1")}, "fifo.wav: is a FIFO; mvbank reads wavetables from regular files only", "f.wb1"},
        {{"info", path("zero.wb1")}, "zero.wb1: is a device; mvbank reads wavetables from regular files only", nullptr},
        {{"convert", path("ulaw.wav"), path("u.wb1")}, "sample format not supported", "u.wb1"},
        {{"convert", path("aiff.wav"), path("a.wb1")}, "not a RIFF/WAVE file", "a.wb1"},
        // A failed conversion leaves an existing output as it was (checked below).
        {{"convert", path("stereo.wav"), path("keep.wb1")}, "mono", nullptr},
        {{"info", path("in.wav"), path("more.wav")}, "one FILE", nullptr},
        {{"picture", path("in.wav")}, "-o OUT.png", nullptr},
        {{"picture", path("in.wav"), "-o", path("in.bmp")}, "as .png", "in.bmp"},
        {{"picture", path("in.wav"), "-o", path("p.png"), "--levels", "65"}, "1 to 64", "p.png"},
        {{"picture", path("in.wav"), "-o", path("p.png"), "--levels", "0"}, "from 1 up", "p.png"},
        {{"picture", path("in.wav"), "-o"}, "needs a value", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const Result r = run(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        if (!c.args.empty()) {
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        }
        if (c.not_written) {
            EXPECT_FALSE(exists(path(c.not_written)));
        }
    }
    EXPECT_EQ(load(path("keep.wb1")), (Bytes{'m', 'i', 'n', 'e'}));
    EXPECT_EQ(load(path("in.wav")), wav_file(3, 32, float_data(one_frame)));
    EXPECT_EQ(run({"--help"}).status, 0);
}

}  // namespace
