// The host boundary: every record, function type and constant that crosses between Morvane and a
// plug-in. Host and modules share nothing else; keep this header plain C-compatible data.
//
// Widths: on 32-bit builds every record has the host's exact layout (asserted below). On 64-bit
// builds fields that hold pointers, handles or functions widen to 8 bytes, integers stay 4 bytes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define MV_CDECL __cdecl
#define MV_EXPORT __declspec(dllexport)
#else
#if defined(__i386__)
#define MV_CDECL __attribute__((cdecl))
#else
#define MV_CDECL
#endif
#define MV_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

struct MVModStruct;
struct MVGuiStruct;
struct MVEvent;

// Host callback. `record` is the calling object's own MVModStruct or MVGuiStruct. Results that are
// addresses (pin buffer, time information, pin text, ...) travel in the intptr_t result.
typedef intptr_t(MV_CDECL* MVHostCallback)(void* record, int32_t opcode, int32_t index, intptr_t value,
                                            void* ptr, float opt);
typedef intptr_t(MV_CDECL* MVModDispatcher)(struct MVModStruct* record, int32_t opcode, int32_t index,
                                             intptr_t value, void* ptr, float opt);
typedef intptr_t(MV_CDECL* MVGuiDispatcher)(struct MVGuiStruct* record, int32_t opcode, int32_t index,
                                             intptr_t value, void* ptr, float opt);
// Called on the audio thread with the object (not the record), between MD_OPEN and MD_CLOSE.
typedef void(MV_CDECL* MVProcessFunction)(void* object, int32_t buffer_offset, int32_t sample_count);
typedef void(MV_CDECL* MVEventFunction)(void* object, struct MVEvent* event);

// Filled by getModuleProperties; the host owns the record, the texts belong to the library.
typedef struct MVModuleProperties {
    const char* name;
    const char* id;
    const char* about;  // lines separated by '\n'
    intptr_t reserved;  // never written by a module
    int32_t module_flags;
    int32_t sdk_version;  // 2190 or 2230
} MVModuleProperties;

// Embedded in every audio object; makeModule kind 1 returns its address, which stays valid until
// MD_CLOSE returns.
typedef struct MVModStruct {
    uint32_t magic;
    int32_t version;  // 1
    intptr_t host_handle;
    void* object;
    intptr_t reserved1;
    MVModDispatcher dispatcher;
    MVProcessFunction process_function;  // may change at run time; announced by AM_PROCESS_CHANGED
    MVEventFunction event_function;
    char reserved2[16];
} MVModStruct;

// Embedded in every GUI object; makeModule kind 2 returns its address.
typedef struct MVGuiStruct {
    uint32_t magic;  // kMVGuiMagic
    int32_t version;
    MVGuiDispatcher dispatcher;
    intptr_t host_handle;
    void* object;
    char reserved[20];
} MVGuiStruct;

// Filled by the module for MD_PIN_PROPERTIES; the host owns it. Texts belong to the module and
// live as long as the library.
typedef struct MVPinProperties {
    void* variable;
    int32_t direction;
    int32_t datatype;
    const char* name;
    const char* default_value;
    const char* datatype_extra;
    int32_t flags;
    int32_t reserved;
} MVPinProperties;

// Owned by the host; valid only during the event_function call.
typedef struct MVEvent {
    int32_t time_stamp;
    int32_t event_type;
    int32_t int_parm1;
    int32_t int_parm2;
    void* ptr_parm;
} MVEvent;

// One per library, rewritten by each MD_PROCESS_MEMBER call.
typedef struct MVProcessMemberRecord {
    int32_t count;  // 1
    int32_t size;   // bytes of the object's current-process-function reference
    void* pointer;  // that reference inside the object
    int32_t zero;
} MVProcessMemberRecord;

// VST 2 style time information; modules read only the tempo.
typedef struct MVTimeInfo {
    double sample_pos;
    double sample_rate;
    double nano_seconds;
    double ppq_pos;
    double tempo;  // beats per minute
    double bar_start_pos;
    double cycle_start_pos;
    double cycle_end_pos;
    int32_t time_sig_numerator;
    int32_t time_sig_denominator;
    int32_t smpte_offset;
    int32_t smpte_frame_rate;
    int32_t samples_to_next_clock;
    int32_t flags;
} MVTimeInfo;

// Passed in ptr with GUI opcodes 2 (paint) to 5 (pointer events): panel size in pixels and the
// panel's context in the host (for the context chain, GUI host opcodes 12, 27, 28).
typedef struct MVPanelRecord {
    int32_t width;
    int32_t height;
    intptr_t context;
} MVPanelRecord;

// Passed in ptr with GUI opcode 7.
typedef struct MVPinChangedRecord {
    int32_t pin_index;
    void* gui_object;
} MVPinChangedRecord;

// A point for GUI host opcode 28.
typedef struct MVPoint {
    int32_t x;
    int32_t y;
} MVPoint;

// Older plug-in entry (chainable sequencer): `main(callback)` returns this record.
struct MVModStructV1;
typedef intptr_t(MV_CDECL* MVV1Dispatcher)(struct MVModStructV1* record, int32_t opcode, int32_t index,
                                            intptr_t value, void* ptr, float opt);
typedef void(MV_CDECL* MVV1Process)(struct MVModStructV1* record, int32_t buffer_offset,
                                     int32_t sample_count);
typedef struct MVModStructV1 {
    uint32_t magic;  // 0x10000068
    MVV1Dispatcher dispatcher;
    char reserved1[24];
    void* object;
    int32_t reserved2;
    int32_t version;  // 1
    MVV1Process process;
    char reserved3[60];
} MVModStructV1;

typedef int32_t(MV_CDECL* MVGetModulePropertiesFn)(int32_t index, MVModuleProperties* properties);
typedef void*(MV_CDECL* MVMakeModuleFn)(int32_t index, int32_t kind, MVHostCallback callback,
                                        intptr_t host_value);
typedef MVModStructV1*(MV_CDECL* MVMainFn)(MVHostCallback callback);

#ifdef __cplusplus
}
#endif

// ---- constants ---------------------------------------------------------------------------------

enum MVDataType {
    DT_ENUM = 0,
    DT_TEXT = 1,
    DT_MIDI = 2,
    DT_BOOL = 4,
    DT_FSAMPLE = 5,
    DT_FLOAT = 6,
    DT_INT = 8,
};

enum MVDirection {
    DR_IN = 0,
    DR_OUT = 1,
    DR_PARAMETER = 3,
};

enum MVPinFlags {
    IO_DUPLICATES = 0x8,
    IO_PRIVATE = 0x100,
    IO_UI_COMMUNICATION = 0x400,
    IO_BOTH_SIDES = 0x8000,
    IO_PATCH_STORE = 0x10000,
};

enum MVPinState {
    PIN_STATIC = 0,
    PIN_CHANGED_ONCE = 1,
    PIN_STREAMING = 2,
};

enum MVModuleFlags {
    MF_GUI_DRAWS = 0x80,
    MF_HAS_GUI = 0x100,
};

enum MVEventType {
    EV_PIN_STATE = 0,
    EV_MIDI = 2,
    EV_IGNORED = 6,
    EV_DEFERRED_CALL = 21,
};

// Audio dispatcher opcodes (host to module).
enum MVModOpcode {
    MD_OPEN = 0,
    MD_CLOSE = 1,
    MD_SET_SAMPLE_RATE = 2,
    MD_SET_BLOCK_SIZE = 3,
    MD_PIN_PROPERTIES = 6,
    MD_WAKE = 8,
    MD_12 = 12,
    MD_PROCESS_MEMBER = 13,
};

// Audio host opcodes (module to host).
enum MVAudioHostOpcode {
    AM_PIN_STATUS = 0,
    AM_PIN_CONNECTED = 1,
    AM_SAMPLE_CLOCK = 3,
    AM_SEND_MIDI = 4,
    AM_PIN_BUFFER = 7,
    AM_BUFFER_START = 8,
    AM_TIME_INFO = 9,
    AM_SLEEP = 10,
    AM_PIN_COUNT = 14,
    AM_PROCESS_CHANGED = 22,
    AM_HOST_VERSION = 24,
};

// GUI dispatcher opcodes (host to GUI object).
enum MVGuiOpcode {
    GD_OPEN = 0,
    GD_CLOSE = 1,
    GD_PAINT = 2,
    GD_POINTER_DOWN = 3,
    GD_POINTER_UP = 4,
    GD_POINTER_MOVE = 5,
    GD_MESSAGE = 6,
    GD_PIN_CHANGED = 7,
    GD_8 = 8,
    GD_9 = 9,
    GD_IDLE = 10,
    GD_CONNECTED = 11,
    GD_DISCONNECTED = 12,
};

// GUI host opcodes (GUI object to host).
enum MVGuiHostOpcode {
    GM_REPAINT = 0,
    GM_SEND_TO_AUDIO = 2,    // index = length, value = identifier, ptr = data
    GM_SET_SIZE = 3,         // index = width, value = height
    GM_PANEL_SETUP_4 = 4,    // index 0 or 1
    GM_PIN_COUNT = 5,
    GM_SET_TEXT = 6,         // index = pin, ptr = text
    GM_GET_TEXT = 7,         // index = pin; result: host-owned text
    GM_PANEL_SETUP_11 = 11,
    GM_WINDOW_HANDLE = 12,   // index = context; result: window handle or 0
    GM_GET_VALUE = 14,       // index = pin, ptr = where to store
    GM_SET_VALUE = 15,       // index = pin, value = integer, opt = float
    GM_CAPTURE_MOUSE = 18,
    GM_RELEASE_MOUSE = 19,
    GM_IS_CAPTURED = 20,
    GM_IDLE_CALLS = 22,      // index 1 on, 0 off
    GM_HOST_FOLDER = 23,     // value = capacity in UTF-16 units, ptr = buffer
    GM_HOST_MODE = 25,
    GM_CONTEXT_PARENT = 27,  // index = context; result: parent context or 0
    GM_MAP_POINT = 28,       // index = from context, value = to context, ptr = MVPoint in/out
};

enum : uint32_t {
    kMVGuiMagic = 0x5345504D,  // "MPES"
    kMVModV1Magic = 0x10000068,
};

enum { kMVTimeInfoTempoMask = 1024 };

// The declaration rule every side shares: a pin belongs to the audio object unless it is a
// GUI-only communication pin (IO_UI_COMMUNICATION without IO_BOTH_SIDES).
static inline int mv_pin_on_audio_side(const MVPinProperties* p) {
    return (p->flags & IO_UI_COMMUNICATION) == 0 || (p->flags & IO_BOTH_SIDES) != 0;
}

// ---- layout checks -----------------------------------------------------------------------------

#ifdef __cplusplus
#define MV_LAYOUT(rec, field, off32, off64) \
    static_assert(offsetof(rec, field) == (sizeof(void*) == 4 ? (off32) : (off64)), #rec "." #field)
#define MV_SIZE(rec, s32, s64) static_assert(sizeof(rec) == (sizeof(void*) == 4 ? (s32) : (s64)), #rec)

MV_SIZE(MVModuleProperties, 24, 40);
MV_LAYOUT(MVModuleProperties, name, 0, 0);
MV_LAYOUT(MVModuleProperties, id, 4, 8);
MV_LAYOUT(MVModuleProperties, about, 8, 16);
MV_LAYOUT(MVModuleProperties, module_flags, 16, 32);
MV_LAYOUT(MVModuleProperties, sdk_version, 20, 36);

MV_SIZE(MVModStruct, 48, 72);
MV_LAYOUT(MVModStruct, version, 4, 4);
MV_LAYOUT(MVModStruct, host_handle, 8, 8);
MV_LAYOUT(MVModStruct, object, 12, 16);
MV_LAYOUT(MVModStruct, reserved1, 16, 24);
MV_LAYOUT(MVModStruct, dispatcher, 20, 32);
MV_LAYOUT(MVModStruct, process_function, 24, 40);
MV_LAYOUT(MVModStruct, event_function, 28, 48);
MV_LAYOUT(MVModStruct, reserved2, 32, 56);

MV_SIZE(MVGuiStruct, 40, 56);
MV_LAYOUT(MVGuiStruct, dispatcher, 8, 8);
MV_LAYOUT(MVGuiStruct, host_handle, 12, 16);
MV_LAYOUT(MVGuiStruct, object, 16, 24);
MV_LAYOUT(MVGuiStruct, reserved, 20, 32);

MV_SIZE(MVPinProperties, 32, 48);
MV_LAYOUT(MVPinProperties, direction, 4, 8);
MV_LAYOUT(MVPinProperties, datatype, 8, 12);
MV_LAYOUT(MVPinProperties, name, 12, 16);
MV_LAYOUT(MVPinProperties, default_value, 16, 24);
MV_LAYOUT(MVPinProperties, datatype_extra, 20, 32);
MV_LAYOUT(MVPinProperties, flags, 24, 40);
MV_LAYOUT(MVPinProperties, reserved, 28, 44);

MV_SIZE(MVEvent, 20, 24);
MV_LAYOUT(MVEvent, event_type, 4, 4);
MV_LAYOUT(MVEvent, int_parm1, 8, 8);
MV_LAYOUT(MVEvent, int_parm2, 12, 12);
MV_LAYOUT(MVEvent, ptr_parm, 16, 16);

MV_SIZE(MVProcessMemberRecord, 16, 24);
MV_LAYOUT(MVProcessMemberRecord, size, 4, 4);
MV_LAYOUT(MVProcessMemberRecord, pointer, 8, 8);
MV_LAYOUT(MVProcessMemberRecord, zero, 12, 16);

MV_SIZE(MVModStructV1, 108, 128);
MV_LAYOUT(MVModStructV1, dispatcher, 4, 8);
MV_LAYOUT(MVModStructV1, reserved1, 8, 16);
MV_LAYOUT(MVModStructV1, object, 32, 40);
MV_LAYOUT(MVModStructV1, reserved2, 36, 48);
MV_LAYOUT(MVModStructV1, version, 40, 52);
MV_LAYOUT(MVModStructV1, process, 44, 56);
MV_LAYOUT(MVModStructV1, reserved3, 48, 64);

MV_LAYOUT(MVTimeInfo, tempo, 32, 32);

MV_SIZE(MVPanelRecord, 12, 16);
MV_LAYOUT(MVPanelRecord, context, 8, 8);
MV_SIZE(MVPinChangedRecord, 8, 16);
MV_LAYOUT(MVPinChangedRecord, gui_object, 4, 8);

#undef MV_LAYOUT
#undef MV_SIZE
#endif
