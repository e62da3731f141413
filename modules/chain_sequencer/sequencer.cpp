// Sequencer: pins, state handling and process functions of the chainable sequencer.
#include "sequencer.h"

#include <new>

#include "step_selector.h"
#include "v1_module.h"

namespace chain {

namespace {

const char kName[] = "Sequencer";
const char kId[] = "Morvane Chainable Sequencer";
const char kAbout[] =
    "Chainable 16-step sequencer\n"
    "Each time the Index input moves, the output takes the step it selects (1 V = step 1 ...\n"
    "16 V = step 16, rounded to the nearest volt) and holds it until the index moves again.\n"
    "Range shifts the answered index by 16 volts at a time; outside its range the output is 0,\n"
    "so up to eight sequencers on one index, outputs summed, make a 128-step sequence.";

const char kRangeList[] =
    "1 - 16,17 - 32 = 16,32 - 48 = 32,49 - 64 = 48,65 - 80 = 64,81 - 96 = 80,97 - 112 = 96,113 - 128 = 112";

const char* const kStepNames[kStepCount] = {
    "Step 1", "Step 2",  "Step 3",  "Step 4",  "Step 5",  "Step 6",  "Step 7",  "Step 8",
    "Step 9", "Step 10", "Step 11", "Step 12", "Step 13", "Step 14", "Step 15", "Step 16",
};

enum Pin { kIndexPin = 0, kFirstStepPin = 1, kLastStepPin = 16, kRangePin = 17, kOutputPin = 18 };

class Sequencer : public v1::V1Module {
public:
    using V1Module::V1Module;

    void open() override {
        m_selector.reset_output();
        V1Module::open();
    }

    void module_description(v1::ModuleDescription* d) override {
        d->name = kName;
        d->id = kId;
        d->about = kAbout;
    }

    bool pin_description(int index, MVPinProperties* p) override {
        // A refused index leaves the host's record untouched.
        if (index < kIndexPin || index > kOutputPin) return false;
        p->flags = 0;
        p->datatype_extra = nullptr;
        p->default_value = nullptr;
        if (index == kIndexPin) return audio(p, &m_index, DR_IN, "Index");
        if (index >= kFirstStepPin && index <= kLastStepPin) {
            return audio(p, &m_steps[index - kFirstStepPin], DR_IN, kStepNames[index - kFirstStepPin]);
        }
        if (index == kRangePin) {
            p->variable = &m_range;
            p->direction = DR_PARAMETER;
            p->datatype = DT_ENUM;
            p->name = "Range";
            p->datatype_extra = kRangeList;
            return true;
        }
        if (index == kOutputPin) {
            audio(p, &m_output, DR_OUT, "Output");
            p->default_value = nullptr;
            return true;
        }
        return false;
    }

    void pin_status_changed(v1::V1Pin*) override {
        if (pin_count() <= kOutputPin) return;
        int state = PIN_STATIC;
        for (int i = kIndexPin; i <= kLastStepPin; ++i) {
            if (pin(i)->m_state > state) state = pin(i)->m_state;
        }
        call_host(v1::kHostPinStatus, kOutputPin, state,
                  reinterpret_cast<void*>(static_cast<intptr_t>(sample_clock())));
        if (state == PIN_STREAMING) {
            set_process(&Sequencer::step_loop);
        } else {
            m_sleep_countdown = block_size();
            set_process(&Sequencer::one_shot);
        }
    }

    void step_loop(int buffer_offset, int sample_count) {
        if (!m_output) return;
        if (!m_index) {
            for (int i = buffer_offset; i < buffer_offset + sample_count; ++i) m_output[i] = m_selector.out_value();
            return;
        }
        m_selector.run(m_index, m_steps, buffer_offset, m_output, sample_count, m_range);
    }

    void one_shot(int buffer_offset, int sample_count) {
        step_loop(buffer_offset, sample_count);
        m_sleep_countdown -= sample_count;
        // A queued event will change something, so the module stays awake for it.
        if (m_sleep_countdown <= 0 && !events_queued()) call_host(v1::kHostSleep);
    }

private:
    static bool audio(MVPinProperties* p, float** buffer, int direction, const char* name) {
        p->variable = buffer;
        p->direction = direction;
        p->datatype = DT_FSAMPLE;
        p->name = name;
        p->default_value = "0";
        return true;
    }

    float* m_index = nullptr;
    float* m_steps[kStepCount] = {};
    float* m_output = nullptr;
    int16_t m_range = 0;
    StepSelector m_selector;
    int32_t m_sleep_countdown = 0;
};

}  // namespace

MVModStructV1* create_sequencer(MVHostCallback callback) {
    auto* s = new (std::nothrow) Sequencer(callback);
    return s ? s->record() : nullptr;
}

}  // namespace chain
