// The GUI module base: its dispatcher and the empty GUI class.
#include "mv_sdk2/mv_gui.h"

#include <cstring>

namespace {

// Nothing unwinds into the host: a request that throws answers 0.
intptr_t MV_CDECL gui_dispatcher_entry(MVGuiStruct* record, int32_t opcode, int32_t index, intptr_t value,
                                       void* ptr, float opt) noexcept try {
    MVGUI_base* g = MVGUI_base::fromRecord(record);
    return g ? g->dispatch(opcode, index, value, ptr, opt) : 0;
} catch (...) {
    return 0;
}

}  // namespace

MVGUI_base::MVGUI_base(MVHostCallback callback, intptr_t host_value) : m_callback(callback) {
    std::memset(&m_record, 0, sizeof m_record);
    m_record.magic = kMVGuiMagic;
    m_record.version = 1;
    m_record.dispatcher = &gui_dispatcher_entry;
    m_record.host_handle = host_value;
    m_record.object = this;
}

MVGUI_base::~MVGUI_base() = default;

intptr_t MVGUI_base::CallHost(int opcode, int index, intptr_t value, void* ptr, float opt) {
    if (!m_callback) return 0;
    return m_callback(&m_record, opcode, index, value, ptr, opt);
}

intptr_t MVGUI_base::dispatch(int opcode, int index, intptr_t value, void* ptr, float opt) {
    auto* panel = static_cast<MVPanelRecord*>(ptr);
    const int v = static_cast<int>(value);
    switch (opcode) {
    case GD_OPEN: guiOpen(index == 1); return 0;
    case GD_CLOSE:
        try {
            guiClose();
        } catch (...) {
        }
        delete this;
        return 1;
    case GD_PAINT: paint(index, panel); return 0;
    case GD_POINTER_DOWN: pointerDown(panel, opt, index, v); return 0;
    case GD_POINTER_UP: pointerUp(panel, opt, index, v); return 0;
    case GD_POINTER_MOVE: pointerMove(panel, opt, index, v); return 0;
    case GD_MESSAGE: guiMessage(v, index, ptr); return 0;
    case GD_PIN_CHANGED:
        if (ptr) pinChanged(static_cast<MVPinChangedRecord*>(ptr));
        return 0;
    case GD_8: gui8(ptr); return 0;
    case GD_9: gui9(ptr); return 0;
    case GD_IDLE: return static_cast<unsigned char>(idle());
    case GD_CONNECTED: connected(index); return 0;
    case GD_DISCONNECTED: disconnected(index); return 0;
    default: return 0;
    }
}

void MVGUI_base::guiOpen(bool) {}
void MVGUI_base::guiClose() {}
void MVGUI_base::paint(int, MVPanelRecord*) {}
void MVGUI_base::pointerDown(MVPanelRecord*, float, int, int) {}
void MVGUI_base::pointerUp(MVPanelRecord*, float, int, int) {}
void MVGUI_base::pointerMove(MVPanelRecord*, float, int, int) {}
void MVGUI_base::gui8(void*) {}
void MVGUI_base::gui9(void*) {}
bool MVGUI_base::idle() { return false; }
void MVGUI_base::connected(int) {}
void MVGUI_base::disconnected(int) {}
void MVGUI_base::guiMessage(int, int, void*) {}
void MVGUI_base::pinChanged(MVPinChangedRecord*) {}

MVEmptyGui::MVEmptyGui(MVHostCallback callback, intptr_t host_value) : MVGUI_base(callback, host_value) {
    m_flags[0] = m_flags[1] = 0;
    for (float& l : m_limits) l = 1000.0f;
}
