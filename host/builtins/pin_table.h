// Pin descriptions of a built-in module kept as one constant table.
#pragma once

#include <cstddef>
#include <cstring>

#include "mv_sdk2/mv_boundary.h"

namespace mvb {

struct PinDecl {
    const char* name;
    int32_t direction;
    int32_t datatype;
    const char* default_value;
    const char* extra;
    int32_t flags;
};

// Fills `p` from table[index] with the module's storage `variable`; false past either end, so the
// SDK's closing query for index -1 and the host's query past the last pin both get "no pin".
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

}  // namespace mvb
