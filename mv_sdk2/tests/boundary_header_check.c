/* The boundary header on its own, as a module written in C or C++ would include it: compiled as
   C11 and as C++20 with -pedantic -Werror by the tests of this folder, so that any construct of
   one language only (or a layout that differs) fails there. */
#include "mv_sdk2/mv_boundary.h"

int mv_boundary_header_check(const MVPinProperties* pin, const MVGuiStruct* gui, const MVTimeInfo* info);

int mv_boundary_header_check(const MVPinProperties* pin, const MVGuiStruct* gui, const MVTimeInfo* info) {
    const int opcode = (int)AM_TIME_INFO + (int)GM_MAP_POINT + (int)MD_PROCESS_MEMBER + (int)GD_DISCONNECTED;
    return mv_pin_on_audio_side(pin) && gui->magic == kMVGuiMagic && (pin->flags & IO_PATCH_STORE) == 0 &&
           pin->datatype != DT_FSAMPLE && info->tempo > 0.0 && opcode > 0;
}
