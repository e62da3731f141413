// chorus: the host adapter around the delay line. It maps the ten pins onto the line, picks one of
// five process functions after every pin change, and sleeps while switched off.
#include "delay_line.h"
#include "mv_sdk2/mv_export.h"
#include "mv_sdk2/mv_gui.h"
#include "mv_sdk2/mv_module.h"
#include "mv_sdk2/mv_pin_table.h"

#include <algorithm>

namespace {

const char kAbout[] =
    "1 Voice Chorus Engine\n"
    "Ver:2.0\n"
    "\n"
    "Feedback to Pre_Delay allows use as standard delay\n"
    "\n"
    "Features:\n"
    "Pre Delay time in (s) or (ms)\n"
    "External Mod input allows complex chorusing\n"
    "Mod Depth allows easy adjustment of whole Chorus Effect\n"
    "ON/OFF activity switch\n"
    "Two Chorus-1 output Feedback modes:-\n"
    "   Chorus: Feeds back to Chorus1 allows Flanging Type Fx\n"
    "   PreDly: Feeds back to Pre_Delay1 allows chorused echo Fx\n"
    "Variable Max Pre Delay Time\n"
    "Support to 384Khz\n"
    "Adaptive Processing";

enum PinIndex {
    kAudioIn,
    kPreDelay,
    kModulation,
    kDepth,
    kFeedback,
    kOut,
    kMaxDelay,
    kFeedbackMode,
    kActive,
    kDelayMode,
    kPinTotal,
};

// The audio input carries bit 0x200 as well; its meaning is the host's.
constexpr int32_t kHostBit0x200 = 0x200;

const mv::PinDecl kPins[kPinTotal] = {
    {"Audio_In", DR_IN, DT_FSAMPLE, "0", nullptr, kHostBit0x200},
    {"Pre_Dly1", DR_IN, DT_FSAMPLE, "0.010"},
    {"Mod_1 +/-5", DR_IN, DT_FSAMPLE, "-5.0", "5,-5,5,-5"},
    {"Mod Depth(ms:100)", DR_IN, DT_FSAMPLE, "4", "100,0,100,0"},
    {"FBK (Cho1) +/-10", DR_IN, DT_FSAMPLE, "0", "10,-10,10,-10"},
    {"Cho_Out1", DR_OUT, DT_FSAMPLE},
    {"Max Pre Delay(s)", DR_PARAMETER, DT_ENUM, "4", "10.800=0,5.300,2.600,1.200,0.500,0.200,0.050"},
    {"FBK Mode", DR_IN, DT_ENUM, "1", "PreDly,Chorus"},
    {"Active", DR_IN, DT_ENUM, "1", "OFF,ON"},
    {"Pre_Dly Mode", DR_IN, DT_ENUM, "0", "Time(s),Time(ms)"},
};

constexpr int16_t kNoBuffer = -1;
constexpr int16_t kDefaultMaxDelay = 4;

class Module : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

    bool describePin(int index, MVPinProperties* p) override {
        void* const variables[kPinTotal] = {&m_input,  &m_pre_delay, &m_modulation, &m_depth,  &m_feedback,
                                            &m_output, &m_max_delay, &m_fbk_mode,   &m_active, &m_delay_mode};
        return mv::describe_from(kPins, index, variables, p);
    }

    void open() override {
        MVModule_base::open();
        m_line.release();
        m_allocated_choice = kNoBuffer;
        m_out_pin = pinCount() > kOut ? getPin(kOut) : nullptr;
        // Kept per instance rather than once per library: two instances opened at different rates
        // must not retune each other.
        m_sample_rate = getSampleRate();
        m_ms_scale = m_sample_rate * 0.01f;
        m_sec_scale = m_sample_rate * 10.0f;
        m_delay_scale = m_delay_mode == 1 ? m_ms_scale : m_sec_scale;
        m_block_size = getBlockSize();
        // Memory for the longest choice at this rate, so that choice and Active changes, which
        // arrive as events on the audio thread, never allocate.
        m_line.reserve(m_sample_rate);
        // The host has written the stored "Max Pre Delay(s)" and "Active" (or they hold their
        // defaults): make the buffer now, so that the first events, which repeat those values,
        // find it and allocate nothing while processing runs.
        if (m_active != 0) reallocate();
    }

    // The host wakes a sleeping module only after an event; the line then starts from silence.
    void wake() override {
        MVModule_base::wake();
        if (m_active != 0 && m_line.ready()) m_line.clear();
    }

    void pinStatusChanged(MVPin* pin) override {
        const int state = pin->getStatus();
        switch (pin->getIndex()) {
        case kDepth: m_depth_streaming = state == PIN_STREAMING ? 1 : 0; break;
        case kFeedback: m_feedback_level = state == PIN_STREAMING ? 1.0f : pin->getValue(); break;
        case kMaxDelay:
            if (m_active != 0 && m_allocated_choice != m_max_delay) reallocate();
            break;
        case kActive:
            if (m_active == 0) {
                m_line.release();
                setProcessFunction<&Module::sub_process_inactive>();
                m_sleep_countdown = m_block_size;
                if (m_out_pin) m_out_pin->sendStatus(SampleClock(), PIN_CHANGED_ONCE);
            } else {
                if (!m_line.ready()) reallocate();
                if (m_out_pin) m_out_pin->sendStatus(SampleClock(), PIN_STREAMING);
            }
            break;
        case kDelayMode: m_delay_scale = m_delay_mode == 1 ? m_ms_scale : m_sec_scale; break;
        default: break;
        }
        if (m_active != 0) select_process();
    }

    void sub_process_inactive(int buffer_offset, int sample_count) {
        if (m_output) std::fill_n(m_output + buffer_offset, sample_count, 0.0f);
        m_sleep_countdown -= sample_count;
        if (m_sleep_countdown <= 0) sleep();
    }
    void sub_process_streaming_depth(int buffer_offset, int sample_count) {
        const auto target = m_fbk_mode == 0 ? chorus::Feedback::kPreDelay : chorus::Feedback::kChorus;
        m_line.process_streaming_depth(block(buffer_offset, sample_count), target);
    }
    void sub_process_plain(int buffer_offset, int sample_count) {
        m_line.process_plain(block(buffer_offset, sample_count));
    }
    void sub_process_echo(int buffer_offset, int sample_count) {
        m_line.process_echo(block(buffer_offset, sample_count));
    }
    void sub_process_flange(int buffer_offset, int sample_count) {
        m_line.process_flange(block(buffer_offset, sample_count));
    }

private:
    void reallocate() {
        m_allocated_choice = m_max_delay;
        // Without memory the line stays empty and the active loops write silence; the next change
        // of the choice or of Active tries again.
        if (!m_line.allocate(m_max_delay, m_sample_rate)) m_allocated_choice = kNoBuffer;
    }

    void select_process() {
        if (m_depth_streaming == 1)
            setProcessFunction<&Module::sub_process_streaming_depth>();
        else if (m_feedback_level == 0.0f)
            setProcessFunction<&Module::sub_process_plain>();
        else if (m_fbk_mode == 0)
            setProcessFunction<&Module::sub_process_echo>();
        else
            setProcessFunction<&Module::sub_process_flange>();
    }

    chorus::Block block(int offset, int count) const {
        chorus::Block b;
        b.input = at(m_input, offset);
        b.pre_delay = at(m_pre_delay, offset);
        b.modulation = at(m_modulation, offset);
        b.depth = at(m_depth, offset);
        b.feedback = at(m_feedback, offset);
        b.output = m_output ? m_output + offset : nullptr;
        b.count = count;
        b.delay_scale = m_delay_scale;
        b.depth_scale = m_ms_scale;
        return b;
    }
    static const float* at(const float* buffer, int offset) { return buffer ? buffer + offset : nullptr; }

    float* m_input = nullptr;
    float* m_pre_delay = nullptr;
    float* m_modulation = nullptr;
    float* m_depth = nullptr;
    float* m_feedback = nullptr;
    float* m_output = nullptr;
    int16_t m_max_delay = kDefaultMaxDelay;
    int16_t m_fbk_mode = 1;
    int16_t m_active = 1;
    int16_t m_delay_mode = 0;

    chorus::DelayLine m_line;
    int16_t m_allocated_choice = kNoBuffer;
    float m_sample_rate = 44100.0f;
    float m_ms_scale = 441.0f;
    float m_sec_scale = 441000.0f;
    float m_delay_scale = 441000.0f;
    float m_feedback_level = 0.0f;
    int32_t m_depth_streaming = 0;
    int32_t m_block_size = 0;
    int32_t m_sleep_countdown = 0;
    MVPin* m_out_pin = nullptr;
};

}  // namespace

extern "C" MV_EXPORT int32_t MV_CDECL getModuleProperties(int32_t index, MVModuleProperties* p) {
    if (index != 0 || !p) return 0;
    mv::fill_properties(p, "WN_1V_Chorus2", "1V_Chorus_WN2003_Pro", kAbout, 2230);
    return 1;
}

MV_DEFINE_MAKE_MODULE(Module, MVEmptyGui)
