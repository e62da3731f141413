// The oscillator's pins, its open and pin handling, and the four process functions.
#include "oscillator_module.h"

#include "pin_table.h"
#include "platform_ui.h"
#include "view_link.h"

namespace tallisk {

Module::Module(MVHostCallback callback, intptr_t host_value) : MVModule_base(callback, host_value) {
    if (CallHost(AM_HOST_VERSION) < kMinHostVersion) {
        platform_ui().message_box("Your Morvane version is too old\nfor this version of tallisk!\nPlease update Morvane!",
                                  "Tallisk", MessageButtons::Ok, MessageIcon::None);
    }
}

bool Module::describePin(int index, MVPinProperties* p) {
    void* const variables[kPinCount] = {
        &m_wbf_path, &m_pitch, &m_morph, nullptr, nullptr, nullptr, &m_freq_scale, &m_waveform,
        &m_morph_switch, &m_out, &m_table_ptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return describe_pin(index, p, variables);
}

void Module::open() {
    m_osc.reset();
    MVModule_base::open();
    m_osc.set_law(m_freq_scale == 0 ? PitchLaw::VoltPerOctave : PitchLaw::VoltPerKilohertz);
    build_increment_tables();
    if (pinCount() > kAudioOutput) getPin(kAudioOutput)->sendStatus(SampleClock(), PIN_STREAMING);
}

void Module::build_increment_tables() { m_osc.build_increment_tables(getSampleRate()); }

float Module::current_pitch() {
    if (pinCount() <= kAudioPitch || !m_pitch) return 0.0f;
    return getPin(kAudioPitch)->getValue();
}

void Module::choose_process_function() {
    const bool streaming = m_pitch_state == PIN_STREAMING;
    if (m_morph_switch == 0) {
        if (streaming) {
            setProcessFunction<&Module::process_streaming>();
        } else {
            m_osc.static_pitch_update(current_pitch());
            setProcessFunction<&Module::process_static>();
        }
    } else if (m_morph_switch == 1) {
        if (streaming) {
            setProcessFunction<&Module::process_morph_streaming>();
        } else {
            m_osc.static_pitch_update(current_pitch());
            setProcessFunction<&Module::process_morph_static>();
        }
    }
}

void Module::pinStatusChanged(MVPin* pin) {
    switch (pin->getIndex()) {
    case kAudioPitch:
        m_pitch_state = pin->getStatus();
        choose_process_function();
        break;
    case kAudioFreqScale:
        if (m_freq_scale == 0) m_osc.set_law(PitchLaw::VoltPerOctave);
        else if (m_freq_scale == 1) m_osc.set_law(PitchLaw::VoltPerKilohertz);
        m_osc.static_pitch_update(current_pitch());
        break;
    case kAudioWaveform:
    case kAudioMorphSwitch:
        m_osc.set_waveform(m_waveform);
        m_osc.reset();
        choose_process_function();
        break;
    case kAudioTablePtr:
        m_osc.set_store(reinterpret_cast<const LevelStore*>(parse_address(m_table_ptr)));
        choose_process_function();
        break;
    default: break;
    }
}

void Module::process_streaming(int offset, int count) {
    if (!m_out) return;
    if (!m_pitch) {
        m_osc.render_static(m_out + offset, count);
        return;
    }
    m_osc.render_streaming(m_pitch + offset, m_out + offset, count);
}

void Module::process_static(int offset, int count) {
    if (m_out) m_osc.render_static(m_out + offset, count);
}

void Module::process_morph_streaming(int offset, int count) {
    if (!m_out || !m_morph) return;
    if (!m_pitch) {
        m_osc.render_morph_static(m_morph + offset, m_out + offset, count);
        return;
    }
    m_osc.render_morph_streaming(m_pitch + offset, m_morph + offset, m_out + offset, count);
}

void Module::process_morph_static(int offset, int count) {
    if (m_out && m_morph) m_osc.render_morph_static(m_morph + offset, m_out + offset, count);
}

}  // namespace tallisk
