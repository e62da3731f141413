// Distributing and rebuilding through the host's GUI pin calls.
#include "array_panel.h"

#include <algorithm>
#include <string>
#include <vector>

#include "array_text.h"

namespace array_to_floats {

int32_t ArrayPanel::value_outputs() {
    // Fewer than three pins (no host, or a host without the spare) means no outputs in use,
    // never a negative count.
    return std::max<int32_t>(0, static_cast<int32_t>(CallHost(GM_PIN_COUNT)) - 3);
}

void ArrayPanel::guiOpen(bool) {
    m_count = value_outputs();
    // The count is right from the start, not only after the first pin change.
    ++m_depth;
    setPinFloat(kItemsOut, static_cast<float>(m_count));
    --m_depth;
    distribute();
    CallHost(GM_IDLE_CALLS, 1);
}

void ArrayPanel::guiClose() { CallHost(GM_IDLE_CALLS, 0); }

void ArrayPanel::pinChanged(MVPinChangedRecord* record) {
    if (!record || m_depth >= 1) return;
    ++m_depth;
    m_count = value_outputs();
    setPinFloat(kItemsOut, static_cast<float>(m_count));
    if (record->pin_index == kArray) distribute();
    if (record->pin_index > kItemsOut) rebuild();
    --m_depth;
}

bool ArrayPanel::idle() {
    const int32_t n = value_outputs();
    if (n == m_count) return true;
    m_count = n;
    distribute();
    return true;
}

void ArrayPanel::distribute() {
    // Our own writes come back as pin changes; they must not rebuild the text from values that
    // are only half distributed (that would drop the items beyond the outputs in use).
    ++m_depth;
    const char* host_text = getPinText(kArray);
    const std::string text = host_text ? host_text : "";
    const std::vector<float> values = split_items(text, m_count);
    for (int32_t i = 0; i < m_count; ++i) CallHost(GM_SET_VALUE, kFirstValue + i, 0, nullptr, values[i]);
    --m_depth;
}

void ArrayPanel::rebuild() {
    std::vector<float> values;
    values.reserve(static_cast<size_t>(m_count));
    for (int32_t i = 0; i < m_count; ++i) values.push_back(getPinFloat(kFirstValue + i));
    setPinText(kArray, join_items(values).c_str());
}

}  // namespace array_to_floats
