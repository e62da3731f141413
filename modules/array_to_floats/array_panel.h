// The GUI object of array_to_floats: distributes the "Array" items to the "Value" outputs in use
// and rebuilds the text when a value changes; all of the module's work happens here.
#pragma once

#include <cstdint>

#include "mv_sdk2/mv_gui.h"

namespace array_to_floats {

enum Pin { kArray = 0, kItemsOut = 1, kFirstValue = 2 };

class ArrayPanel : public MVGUI_base {
public:
    using MVGUI_base::MVGUI_base;

    void guiOpen(bool flag) override;
    void guiClose() override;
    void pinChanged(MVPinChangedRecord* record) override;
    bool idle() override;

private:
    // Pins in use: the host's count less the array pin, the count pin and the one unconnected
    // spare "Value" it keeps.
    int32_t value_outputs();
    void distribute();
    void rebuild();

    int32_t m_count = 0;
    int32_t m_depth = 0;
};

}  // namespace array_to_floats
