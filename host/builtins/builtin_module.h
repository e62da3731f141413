// Common ground of the built-in modules: outputs are chosen at the first sample after any change,
// and a module without its pins only sleeps.
#pragma once

#include "mv_sdk2/mv_module.h"

namespace mvb {

class BuiltinModule : public MVModule_base {
public:
    using MVModule_base::MVModule_base;

protected:
    // Announces the outputs' states at `clock` and installs the loop that suits the inputs. Must
    // install some loop other than process_reselect.
    virtual void select(int clock) = 0;

    // Creates the pins. False (and the sleeping loop installed) when the host gave fewer than the
    // module declares, as a null host callback does; the module then leaves every buffer alone.
    bool open_pins(int declared) {
        MVModule_base::open();
        if (pinCount() < declared) {
            setProcessFunction<&BuiltinModule::process_idle>();
            return false;
        }
        reselect();
        return true;
    }

    // Inputs changed: choose again at the first sample after the event. The host splits its block
    // at every event, so that sample is the event's own; several events at one clock lead to a
    // single choice and a single announcement per output.
    void reselect() { setProcessFunction<&BuiltinModule::process_reselect>(); }

    void process_idle(int, int) { sleep(); }

private:
    void process_reselect(int offset, int count) {
        select(SampleClock());
        if (currentProcess() == processRef<&BuiltinModule::process_reselect>()) return;
        record()->process_function(record()->object, offset, count);
    }
};

}  // namespace mvb
