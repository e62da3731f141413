// The audio object of "QB_TKMAIN": the SDK adapter around the Oscillator core.
#pragma once

#include <cstdint>

#include "mv_sdk2/mv_module.h"
#include "oscillator.h"
#ifdef TALLISK_HQ
#include "hq_oscillator.h"
#endif

namespace tallisk {

// Audio-side pin numbers.
enum AudioPin {
    kAudioWbfPath = 0,
    kAudioPitch = 1,
    kAudioMorph = 2,
    kAudioFreqScale = 3,
    kAudioWaveform = 4,
    kAudioMorphSwitch = 5,
    kAudioOutput = 6,
    kAudioTablePtr = 7,
};

// The one difference of the high-quality build (tallisk_hq): the oscillator that plays.
#ifdef TALLISK_HQ
using PlayingOscillator = HqOscillator;
#else
using PlayingOscillator = Oscillator;
#endif

// Oldest host version this module is written for.
constexpr intptr_t kMinHostVersion = 95990;


class Module : public MVModule_base {
public:
    Module(MVHostCallback callback, intptr_t host_value);

    bool describePin(int index, MVPinProperties* properties) override;
    void open() override;
    void pinStatusChanged(MVPin* pin) override;
    virtual void build_increment_tables();

    void process_streaming(int buffer_offset, int sample_count);
    void process_static(int buffer_offset, int sample_count);
    void process_morph_streaming(int buffer_offset, int sample_count);
    void process_morph_static(int buffer_offset, int sample_count);

    const PlayingOscillator& oscillator() const { return m_osc; }

private:
    void choose_process_function();
    float current_pitch();

    PlayingOscillator m_osc;
    float* m_pitch = nullptr;
    float* m_morph = nullptr;
    float* m_out = nullptr;
    int16_t m_freq_scale = 0;
    int16_t m_waveform = 0;
    int16_t m_morph_switch = 0;
    char* m_wbf_path = nullptr;
    char* m_table_ptr = nullptr;
    int m_pitch_state = PIN_STATIC;
};

}  // namespace tallisk
