// Helpers a deliverable uses to define its two exports, getModuleProperties and makeModule.
#pragma once

#include <new>
#include <type_traits>

#include "mv_sdk2/mv_boundary.h"

namespace mv {

inline void fill_properties(MVModuleProperties* p, const char* name, const char* id, const char* about,
                            int32_t sdk_version) {
    p->name = name;
    p->id = id;
    p->about = about;
    p->sdk_version = sdk_version;
}

// kind 1: the audio object, kind 2: the GUI object (Gui = void for none); anything else: null.
// Nothing may unwind into the host, which is not C++: a constructor that throws gives null too.
template <class Module, class Gui>
void* make_module(int32_t index, int32_t kind, MVHostCallback callback, intptr_t host_value) noexcept try {
    if (index != 0) return nullptr;
    if (kind == 1) {
        Module* m = new (std::nothrow) Module(callback, host_value);
        return m ? static_cast<void*>(m->record()) : nullptr;
    }
    if constexpr (!std::is_void_v<Gui>) {
        if (kind == 2) {
            Gui* g = new (std::nothrow) Gui(callback, host_value);
            return g ? static_cast<void*>(g->record()) : nullptr;
        }
    }
    return nullptr;
} catch (...) {
    return nullptr;
}

}  // namespace mv

// Defines makeModule for a deliverable.
#define MV_DEFINE_MAKE_MODULE(ModuleClass, GuiClass)                                                 \
    extern "C" MV_EXPORT void* MV_CDECL makeModule(int32_t index, int32_t kind, MVHostCallback callback, \
                                                   intptr_t host_value) {                            \
        return mv::make_module<ModuleClass, GuiClass>(index, kind, callback, host_value);             \
    }
