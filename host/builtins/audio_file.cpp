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
#include "mv_sdk2/mv_pin_table.h"
#if __has_include("mvp/message_box.h")
#define AUDIO_FILE_HAVE_PLATFORM 1
#include "mvp/message_box.h"
#endif
#include "settled_output.h"

namespace {

using namespace mvb;
using mv::describe_from;
using mv::PinDecl;

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

// Longer files are refused: 2^24 frames per channel is 6 min 20 s at 44.1 kHz, 128 MiB for both,
// counted in the file's own frames as they are read (a header may claim anything) and again at
// the patch's rate. Only the first two channels are kept; a file with more than kMaxChannels is
// refused before anything is read.
constexpr sf_count_t kMaxFrames = sf_count_t{1} << 24;
constexpr int kMaxChannels = 256;
constexpr sf_count_t kChunkFrames = 16384;

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
        std::string error, damage;
        if (!read(name, &error, &damage)) {
            m_left_data.clear();
            m_right_data.clear();
            tell(name + ": " + error);
        } else if (!damage.empty()) {
            tell(name + ": " + damage);
        }
    }

    // A box, as a module says what it could not do: the host reports it in one line, and a render
    // with --strict fails.
    static void tell(const std::string& text) {
#if AUDIO_FILE_HAVE_PLATFORM
        mvp::MessageBoxA(0, text.c_str(), "audio_file", mvp::MB_OK);
#else
        std::fprintf(stderr, "audio_file: %s\n", text.c_str());
#endif
    }

    // False with *error when nothing can be played; *damage says what is wrong with a file that
    // plays all the same.
    bool read(const std::string& name, std::string* error, std::string* damage) {
        SF_INFO info{};
        SNDFILE* f = sf_open(name.c_str(), SFM_READ, &info);
        if (!f) {
            *error = sf_strerror(nullptr);
            return false;
        }
        if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate <= 0) {
            sf_close(f);
            *error = "cannot play " + std::to_string(info.channels) + " channels at " + std::to_string(info.samplerate) +
                     " Hz (1 to " + std::to_string(kMaxChannels) + " channels)";
            return false;
        }
        const double ratio = getSampleRate() / info.samplerate;
        // The first two channels, interleaved for the resampler, from what the file really holds.
        const int ch = info.channels >= 2 ? 2 : 1;
        std::vector<float> chunk(static_cast<size_t>(kChunkFrames) * static_cast<size_t>(info.channels));
        std::vector<float> in;
        sf_count_t got = 0;
        for (;;) {
            const sf_count_t n = sf_readf_float(f, chunk.data(), kChunkFrames);
            if (n <= 0) break;
            if (got + n > kMaxFrames || static_cast<double>(got + n) * ratio > static_cast<double>(kMaxFrames)) {
                sf_close(f);
                *error = "longer than 2^24 frames (in the file or at the patch's rate)";
                return false;
            }
            for (sf_count_t k = 0; k < n; ++k)
                for (int c = 0; c < ch; ++c) in.push_back(chunk[static_cast<size_t>(k) * info.channels + c]);
            got += n;
        }
        sf_close(f);
        if (got <= 0) {
            *error = info.frames > 0 ? "cannot read the sound" : "no sound in the file";
            return false;
        }
        // A header that claims more than the file holds (cut short, or made to claim it): what is
        // there plays, and the user hears why the sound ends early. An MPEG stream's length is an
        // estimate, and a FLAC stream's may be unknown (0).
        if (got < info.frames && info.frames != SF_COUNT_MAX && (info.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG)
            *damage = "holds " + std::to_string(got) + " frames, not the " + std::to_string(info.frames) +
                      " its header claims (cut short or damaged); only those play";
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
