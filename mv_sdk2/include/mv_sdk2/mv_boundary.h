// The host boundary: every record, function type and constant that crosses between Morvane and a
// plug-in. Host and modules share nothing else. Plain C (C11) that C++ reads the same: records,
// function types, constants and one inline rule, checked by a test in both languages.
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

// Modules also set bits 0x1, 0x4, 0x40 and 0x200 on some pins; their meaning is unknown (the host's).
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

// The opcodes, one a line: the argument slots (index, value, ptr, opt; unnamed slots are 0), the
// result ("-> ...") and the thread the call is made on. [audio]: the host's audio thread (dispatcher
// calls, process and event functions of audio objects, and the audio object's calls to the host);
// [gui]: the host's user-interface thread (everything of GUI objects). "Meaning unknown": modules
// pass these as stated and rely on no result.

// Audio dispatcher opcodes (host to module, through MVModStruct.dispatcher).
enum MVModOpcode {
    MD_OPEN = 0,             // [audio] open: the object creates its pins -> 0
    MD_CLOSE = 1,            // [audio] close, then the object frees itself; the record is gone -> 1
    MD_SET_SAMPLE_RATE = 2,  // [audio] opt = samples per second -> 0
    MD_SET_BLOCK_SIZE = 3,   // [audio] value = samples per block -> 0
    MD_PIN_PROPERTIES = 6,   // [audio] index = pin, ptr = MVPinProperties to fill -> 1 if the pin exists, else 0
    MD_WAKE = 8,             // [audio] wake after AM_SLEEP; index > 0: also wake with that index -> 0
    MD_12 = 12,              // [audio] meaning unknown; index, value, ptr passed to the object -> 0
    MD_PROCESS_MEMBER = 13,  // [audio] -> MVProcessMemberRecord*, one per library, rewritten each call
};

// Audio host opcodes (module to host, through the callback with the object's MVModStruct).
enum MVAudioHostOpcode {
    AM_PIN_STATUS = 0,        // [audio] index = pin, value = MVPinState, ptr = sample clock of the change -> none
    AM_PIN_CONNECTED = 1,     // [audio] index = pin -> nonzero when the pin is connected
    AM_SAMPLE_CLOCK = 3,      // [audio] -> sample clock of the current buffer offset or event
    AM_SEND_MIDI = 4,         // [audio] index = pin, value = MIDI word, ptr = sample clock, not before now -> none
    AM_PIN_BUFFER = 7,        // [audio] index = pin -> float* sample buffer of a DT_FSAMPLE pin
    AM_BUFFER_START = 8,      // [audio] index = pin -> sample clock of that pin's buffer element 0
    AM_TIME_INFO = 9,         // [audio] value = kMVTimeInfoTempoMask -> MVTimeInfo*, or 0 when none
    AM_SLEEP = 10,            // [audio] -> none; process calls may stop until the next event (MD_WAKE)
    AM_PIN_COUNT = 14,        // [audio] -> number of pins the host holds for the object, duplicates included
    AM_PROCESS_CHANGED = 22,  // [audio] -> none; the host reads process_function again before its next call
    AM_HOST_VERSION = 24,     // [audio] -> the host's version as an integer
};

// GUI dispatcher opcodes (host to GUI object, through MVGuiStruct.dispatcher). All -> 0 but
// GD_CLOSE and GD_IDLE.
enum MVGuiOpcode {
    GD_OPEN = 0,            // [gui] open -> 0
    GD_CLOSE = 1,           // [gui] close, then the object frees itself; the record is gone -> 1
    GD_PAINT = 2,           // [gui] index = device context, ptr = MVPanelRecord -> 0
    GD_POINTER_DOWN = 3,    // [gui] index = x, value = y in panel pixels, ptr = MVPanelRecord, opt -> 0
    GD_POINTER_UP = 4,      // [gui] as GD_POINTER_DOWN -> 0
    GD_POINTER_MOVE = 5,    // [gui] as GD_POINTER_DOWN -> 0
    GD_MESSAGE = 6,         // [gui] value = message identifier, index = data length in bytes, ptr = data -> 0
    GD_PIN_CHANGED = 7,     // [gui] ptr = MVPinChangedRecord: the host changed that pin's value -> 0
    GD_8 = 8,               // [gui] meaning unknown; ptr -> 0
    GD_9 = 9,               // [gui] meaning unknown (the wave view restores its cursor); ptr -> 0
    GD_IDLE = 10,           // [gui] repeated tick while GM_IDLE_CALLS is on -> truth value (low byte)
    GD_CONNECTED = 11,      // [gui] index = pin that was connected -> 0
    GD_DISCONNECTED = 12,   // [gui] index = pin that was disconnected -> 0
};

// GUI host opcodes (GUI object to host, through the callback with the object's MVGuiStruct).
enum MVGuiHostOpcode {
    GM_REPAINT = 0,          // [gui] -> none; the host repaints the panel
    GM_SEND_TO_AUDIO = 2,    // [gui] index = length, value = identifier, ptr = data -> none
    GM_SET_SIZE = 3,         // [gui] index = width, value = height in pixels -> none
    GM_PANEL_SETUP_4 = 4,    // [gui] meaning unknown; index 0 or 1, at construction -> none
    GM_PIN_COUNT = 5,        // [gui] -> number of pins of the instance, duplicates included
    GM_SET_TEXT = 6,         // [gui] index = pin, ptr = zero-terminated text -> none
    GM_GET_TEXT = 7,         // [gui] index = pin -> host-owned text, to be copied at once
    GM_PANEL_SETUP_11 = 11,  // [gui] meaning unknown; at construction -> none
    GM_WINDOW_HANDLE = 12,   // [gui] index = context -> window handle, or 0
    GM_GET_VALUE = 14,       // [gui] index = pin, ptr = where the host writes the 32-bit value -> none
    GM_SET_VALUE = 15,       // [gui] index = pin, value = integer, opt = float -> none
    GM_CAPTURE_MOUSE = 18,   // [gui] -> none
    GM_RELEASE_MOUSE = 19,   // [gui] -> none
    GM_IS_CAPTURED = 20,     // [gui] -> truth value: the mouse is captured
    GM_IDLE_CALLS = 22,      // [gui] index = 1 on, 0 off (GD_IDLE ticks) -> none
    GM_HOST_FOLDER = 23,     // [gui] value = capacity in UTF-16 units, ptr = buffer for the folder -> none
    GM_HOST_MODE = 25,       // [gui] -> host mode (meaning unknown but for the value 2)
    GM_CONTEXT_PARENT = 27,  // [gui] index = context -> parent context, or 0
    GM_MAP_POINT = 28,       // [gui] index = from context, value = to context, ptr = MVPoint in/out -> none
};

// The record magics. C++ keeps them unsigned like the field they are stored in; a C enum constant
// is an int, which holds both values.
#ifdef __cplusplus
enum : uint32_t {
#else
enum {
#endif
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

// The 32-bit offsets are the host's; the 64-bit ones are this build's widening. Checked in C as well
// as in C++, so that a C module sees the same layout.
#ifdef __cplusplus
#define MV_STATIC_ASSERT static_assert
#else
#define MV_STATIC_ASSERT _Static_assert
#endif
#define MV_LAYOUT(rec, field, off32, off64) \
    MV_STATIC_ASSERT(offsetof(rec, field) == (sizeof(void*) == 4 ? (off32) : (off64)), #rec "." #field)
#define MV_SIZE(rec, s32, s64) MV_STATIC_ASSERT(sizeof(rec) == (sizeof(void*) == 4 ? (s32) : (s64)), #rec)

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
#undef MV_STATIC_ASSERT

