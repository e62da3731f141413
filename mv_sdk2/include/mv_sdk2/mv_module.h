// MVModule_base and MVPin: the audio-side adapter that turns the boundary records into virtual
// operations of a deliverable's `Module`.
#pragma once

#include <type_traits>

#include "mv_sdk2/mv_boundary.h"
#include "mv_sdk2/mv_check.h"

class MVModule_base;

// One connection point of an audio object. The host writes values into `variable` before it
// announces them; the module reads them from there.
class MVPin {
public:
    virtual ~MVPin() = default;

    void init(MVModule_base* module, int index, int datatype, void* variable);

    void sendStatus(int sampleclock, int state);
    void sendMidi(int sampleclock, int word);
    void statusChanged(int state);
    bool isConnected();
    // Value of a DT_FSAMPLE input at the module's current clock.
    float getValue();

    int getStatus() const { return m_status; }
    int getIndex() const { return m_index; }
    void* getVariable() const { return m_variable; }
    int getDatatype() const { return m_datatype; }

private:
    void* m_variable = nullptr;

public:
    MVModule_base* m_module = nullptr;

private:
    int m_index = 0;
    int m_status = 0;

public:
    int m_datatype = 0;

private:
    union {
        int32_t i;
        float f;
        int16_t e;
        uint8_t b;
        float* buffer;
    } m_storage{};
};

// The current process function as a member reference: the function address the host sees, plus
// the adjustment words a member-function pointer of this deliverable's layout carries (all zero).
struct MVProcessRef {
    MVProcessFunction function = nullptr;
    int32_t adjust[3] = {0, 0, 0};
    bool operator==(const MVProcessRef&) const = default;
};

class MVModule_base {
public:
    MVModule_base(MVHostCallback callback, intptr_t host_value);
    virtual ~MVModule_base();

    virtual void pinStatusChanged(MVPin* pin);
    virtual int handleEvent(MVEvent* e);
    virtual intptr_t dispatch(int opcode, int index, intptr_t value, void* ptr, float opt);
    virtual void open();
    virtual void close();
    virtual void reserved6();
    virtual void setSampleRate(float rate);
    virtual void setBlockSize(int size);
    virtual float getSampleRate();
    virtual int getBlockSize();
    virtual bool describePin(int index, MVPinProperties* properties);
    virtual int reserved12();
    virtual int reserved13();
    virtual void wake();
    virtual void wake_with(int index);
    virtual void midiReceived(int time_stamp, int int_parm1, int int_parm2);
    virtual void request12(intptr_t value, int index, void* ptr);

    intptr_t CallHost(int opcode, int index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    int SampleClock();
    MVPin* getPin(int i);
    void setProcessFunction(const MVProcessRef& ref);
    void sleep();

    // Installs Module::F as the process function: setProcessFunction<&Module::sub_process>().
    template <auto F>
    void setProcessFunction() {
        setProcessFunction(processRef<F>());
    }
    template <auto F>
    static MVProcessRef processRef() {
        MVProcessRef ref;
        ref.function = &processThunk<F>;
        return ref;
    }

    MVModStruct* record() { return &m_record; }
    const MVProcessRef& currentProcess() const { return m_process; }
    int pinCount() const { return m_pin_count; }

    static MVModule_base* fromRecord(MVModStruct* record) {
        return record ? static_cast<MVModule_base*>(record->object) : nullptr;
    }

private:
    template <class T>
    struct MemberClass;
    template <class C>
    struct MemberClass<void (C::*)(int, int)> {
        using type = C;
    };

    // The host calls this entry directly: an exception ends the stretch instead of unwinding
    // into the host.
    template <auto F>
    static void MV_CDECL processThunk(void* object, int32_t offset, int32_t count) noexcept {
        using C = typename MemberClass<decltype(F)>::type;
        try {
            (static_cast<C*>(static_cast<MVModule_base*>(object))->*F)(offset, count);
        } catch (...) {
        }
    }

    static void MV_CDECL emptyProcess(void* object, int32_t offset, int32_t count);
    void createPins();

    MVHostCallback m_callback;
    MVModStruct m_record;
    float m_sample_rate = 44100.0f;
    int m_block_size = 1024;

protected:
    MVPin* m_pins = nullptr;

private:
    int m_pin_count = 0;
    MVProcessRef m_process;
};

// The process-member record's size field, per deliverable layout (4, 12 or 16 on 32-bit).
int32_t mv_process_member_size();
