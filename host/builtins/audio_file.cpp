// MV_AudioFile: a sound file (WAV, AIFF, FLAC, ... as libsndfile reads them) played once from the
// moment it is named, resampled to the patch's rate, on "Left" and "Right" times "Gain".
#include <samplerate.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "audio_input.h"
#include "builtin_module.h"
#include "mv_sdk2/mv_export.h"
#include "pin_table.h"
#include "settled_output.h"

namespace {

using namespace mvb;

const char kAbout[] =
    "Audio file player\n"
    "Plays the sound file named on File once, from the moment it is named,\n"
    "resampled to the patch's sample rate. A mono file sounds on both outputs;\n"
    "a file with more channels gives its first two. Gain of 10 V is unity.";

// A text pin whose extra text is "path" names a file: the host resolves it against the patch's
// folder.
enum { kFile, kGain, kLeft, kRight, kPinCount };
const PinDecl kPins[] = {
    {"File", DR_IN, DT_TEXT, "", "path", 0},
    {"Gain", DR_IN, DT_FSAMPLE, "10", "10,0,10,0", 0},
    {"Left", DR_OUT, DT_FSAMPLE, nullptr, nullptr, 0},
    {"Right", DR_OUT, DT_FSAMPLE, nullptr, nullptr, 0},
};

// Longer files are refused: 2^24 frames per channel is 6 min 20 s at 44.1 kHz, 128 MiB for both.
constexpr double kMaxFrames = 16777216.0;

class Module : public BuiltinModule {
public:
    using BuiltinModule::BuiltinModule;

    bool describePin(int index, MVPinProperties* p) override {
        void* variable = nullptr;
        if (index == kFile) variable = &m_file_text;
        else if (index >= 0 && index < kPinCount) variable = &m_buffers[index];
        return describe_from(kPins, index, variable, p);
    }

    void open() override {
        if (!open_pins(kPinCount)) return;
        m_gain.bind(getPin(kGain));
        m_left.bind(getPin(kLeft), getBlockSize());
        m_right.bind(getPin(kRight), getBlockSize());
        load();
    }

    void pinStatusChanged(MVPin* pin) override {
        if (pin->getIndex() == kGain) m_gain.update();
        if (pin->getIndex() == kFile) load();
        reselect();
    }

private:
    // Reads the named file when the name changed; playing starts again from its first frame.
    void load() {
        const std::string name = m_file_text ? m_file_text : "";
        if (name == m_loaded) return;
        m_loaded = name;
        m_left_data.clear();
        m_right_data.clear();
        m_pos = 0;
        if (name.empty()) return;
        std::string error;
        if (!read(name, &error)) std::fprintf(stderr, "audio_file: %s: %s\n", name.c_str(), error.c_str());
    }

    bool read(const std::string& name, std::string* error) {
        SF_INFO info{};
        SNDFILE* f = sf_open(name.c_str(), SFM_READ, &info);
        if (!f) {
            *error = sf_strerror(nullptr);
            return false;
        }
        const double ratio = getSampleRate() / info.samplerate;
        if (info.channels < 1 || info.frames <= 0 || static_cast<double>(info.frames) * ratio > kMaxFrames) {
            sf_close(f);
            *error = info.frames <= 0 ? "no sound in the file" : "longer than 2^24 frames at the patch's rate";
            return false;
        }
        std::vector<float> all(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
        const sf_count_t got = sf_readf_float(f, all.data(), info.frames);
        sf_close(f);
        if (got <= 0) {
            *error = "cannot read the sound";
            return false;
        }
        // The first two channels, interleaved, for the resampler.
        const int ch = info.channels >= 2 ? 2 : 1;
        std::vector<float> in(static_cast<size_t>(got) * ch);
        for (sf_count_t k = 0; k < got; ++k)
            for (int c = 0; c < ch; ++c) in[static_cast<size_t>(k) * ch + c] = all[static_cast<size_t>(k) * info.channels + c];
        std::vector<float> out;
        long frames = static_cast<long>(got);
        if (info.samplerate != static_cast<int>(getSampleRate())) {
            const long capacity = static_cast<long>(std::ceil(static_cast<double>(got) * ratio)) + 16;
            out.resize(static_cast<size_t>(capacity) * ch);
            SRC_DATA d{};
            d.data_in = in.data();
            d.input_frames = static_cast<long>(got);
            d.data_out = out.data();
            d.output_frames = capacity;
            d.src_ratio = ratio;
            const int rc = src_simple(&d, SRC_SINC_MEDIUM_QUALITY, ch);
            if (rc != 0) {
                *error = std::string("cannot resample: ") + src_strerror(rc);
                return false;
            }
            frames = d.output_frames_gen;
        } else {
            out.swap(in);
        }
        m_left_data.resize(static_cast<size_t>(frames));
        m_right_data.resize(static_cast<size_t>(frames));
        for (long k = 0; k < frames; ++k) {
            m_left_data[k] = out[static_cast<size_t>(k) * ch];
            m_right_data[k] = out[static_cast<size_t>(k) * ch + ch - 1];
        }
        return true;
    }

    void select(int clock) override {
        if (!m_left.data() || !m_right.data()) {
            setProcessFunction<&Module::process_idle>();
        } else if (m_pos < m_left_data.size()) {
            m_left.stream(clock);
            m_right.stream(clock);
            setProcessFunction<&Module::process_play>();
        } else {
            m_left.hold(clock, 0.0f);
            m_right.hold(clock, 0.0f);
            setProcessFunction<&Module::process_hold>();
        }
    }

    void process_hold(int offset, int count) {
        m_left.fill(offset, count);
        m_right.fill(offset, count);
        if (m_left.settled() && m_right.settled()) sleep();
    }

    void process_play(int offset, int count) {
        float* l = m_left.data() + offset;
        float* r = m_right.data() + offset;
        const float* gain = m_gain.streaming() ? m_gain.buffer() + offset : nullptr;
        const float g = m_gain.value();
        const size_t n = m_left_data.size();
        for (int k = 0; k < count; ++k) {
            const float gk = gain ? gain[k] : g;
            if (m_pos < n) {
                l[k] = m_left_data[m_pos] * gk;
                r[k] = m_right_data[m_pos] * gk;
                ++m_pos;
            } else {
                l[k] = r[k] = 0.0f;
            }
        }
        // The end of the file: the outputs hold 0 from the next stretch on.
        if (m_pos >= n) reselect();
    }

    const char* m_file_text = nullptr;
    float* m_buffers[kPinCount] = {};
    AudioInput m_gain;
    SettledOutput m_left, m_right;
    std::string m_loaded;
    std::vector<float> m_left_data, m_right_data;
    size_t m_pos = 0;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "MV_AudioFile", "MVHOST_AUDIO_FILE", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, void)
