// A module's pins as one constant table, and the describePin answer from it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mv_sdk2/mv_boundary.h"

namespace mv {

// One pin as describePin declares it: everything but the module's storage for its value.
struct PinDecl {
    const char* name;
    int32_t direction;  // DR_*
    int32_t datatype;   // DT_*
    const char* default_value = nullptr;
    const char* extra = nullptr;  // choice list or range
    int32_t flags = 0;            // IO_*
};

// Fills `p` from table[index] with the module's storage `variable` (null: the SDK provides it);
// false past either end without touching `p`, so the SDK's closing query for index -1 and a
// query past the last pin both get "no pin".
template <size_t N>
bool describe_from(const PinDecl (&table)[N], int index, void* variable, MVPinProperties* p) {
    if (!p || index < 0 || static_cast<size_t>(index) >= N) return false;
    const PinDecl& s = table[index];
    p->variable = variable;
    p->direction = s.direction;
    p->datatype = s.datatype;
    p->name = s.name;
    p->default_value = s.default_value;
    p->datatype_extra = s.extra;
    p->flags = s.flags;
    return true;
}

// The same with one storage per row of the table, in its order.
template <size_t N>
bool describe_from(const PinDecl (&table)[N], int index, void* const (&variables)[N], MVPinProperties* p) {
    if (index < 0 || static_cast<size_t>(index) >= N) return false;
    return describe_from(table, index, variables[index], p);
}

}  // namespace mv
