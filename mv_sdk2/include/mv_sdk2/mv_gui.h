// MVGUI_base: the GUI-side adapter. The host creates one per instance beside the audio object;
// all its calls arrive on the host's user-interface thread.
#pragma once

#include "mv_sdk2/mv_boundary.h"

class MVGUI_base {
public:
    MVGUI_base(MVHostCallback callback, intptr_t host_value);
    virtual ~MVGUI_base();

    virtual intptr_t dispatch(int opcode, int index, intptr_t value, void* ptr, float opt);
    virtual void guiOpen(bool flag);
    virtual void guiClose();
    virtual void paint(int dc, MVPanelRecord* panel);
    virtual void pointerDown(MVPanelRecord* panel, float opt, int x, int y);
    virtual void pointerUp(MVPanelRecord* panel, float opt, int x, int y);
    virtual void pointerMove(MVPanelRecord* panel, float opt, int x, int y);
    virtual void gui8(void* ptr);
    virtual void gui9(void* ptr);
    virtual bool idle();
    virtual void connected(int pin);
    virtual void disconnected(int pin);
    virtual void guiMessage(int id, int length, void* data);
    virtual void pinChanged(MVPinChangedRecord* record);

    intptr_t CallHost(int opcode, int index = 0, intptr_t value = 0, void* ptr = nullptr, float opt = 0.0f);

    // Convenience over GUI host opcodes 6, 7, 14 and 15.
    void setPinText(int pin, const char* text) { CallHost(GM_SET_TEXT, pin, 0, const_cast<char*>(text)); }
    const char* getPinText(int pin) { return reinterpret_cast<const char*>(CallHost(GM_GET_TEXT, pin)); }
    int32_t getPinInt(int pin) {
        int32_t v = 0;
        CallHost(GM_GET_VALUE, pin, 0, &v);
        return v;
    }
    float getPinFloat(int pin) {
        float v = 0.0f;
        CallHost(GM_GET_VALUE, pin, 0, &v);
        return v;
    }
    void setPinInt(int pin, int32_t v) { CallHost(GM_SET_VALUE, pin, v, nullptr, static_cast<float>(v)); }
    // The integer slot carries the value truncated; NaN and values beyond int32 (undefined to
    // convert) go as 0 and the int32 limits.
    void setPinFloat(int pin, float v) {
        const int32_t i = !(v == v) ? 0 : v >= 2147483648.0f ? INT32_MAX : v <= -2147483648.0f ? INT32_MIN : static_cast<int32_t>(v);
        CallHost(GM_SET_VALUE, pin, i, nullptr, v);
    }

    MVGuiStruct* record() { return &m_record; }
    static MVGUI_base* fromRecord(MVGuiStruct* record) {
        return record ? static_cast<MVGUI_base*>(record->object) : nullptr;
    }

private:
    MVHostCallback m_callback;
    MVGuiStruct m_record;
};

// The empty GUI class of the deliverables whose GUI object carries no logic: the constructor only
// clears two bytes and sets four floats to 1000.
class MVEmptyGui : public MVGUI_base {
public:
    MVEmptyGui(MVHostCallback callback, intptr_t host_value);

private:
    uint8_t m_flags[2];
    float m_limits[4];
};
