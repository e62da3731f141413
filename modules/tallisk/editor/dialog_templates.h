// The editor's three dialogs as templates of the platform's dialog manager, with their control ids.
#pragma once

#include "mvp/dialog.h"

namespace tallisk {

enum DialogId {
    kIdOk = 1,
    kIdCancel = 2,
    kIdClose = 8,
    kIdNameEdit = 1000,
    kIdEditorAddress = 1001,
    kIdUndo = 1005,
    kIdHelp = 1006,
    kIdMixSlider = 1007,
    kIdV2 = 1037,
    kIdV3 = 1038,
    kIdV4 = 1039,
    kIdV5 = 1040,
    kIdV6 = 1041,
    kIdExpression = 1042,
    kIdV1 = 1043,
    kIdNormalised = 1044,
};

// The expression dialog's edits in the order of the stored texts: v1..v6, then the expression.
constexpr int kExpressionEdits[7] = {kIdV1, kIdV2, kIdV3, kIdV4, kIdV5, kIdV6, kIdExpression};

const mvp::DialogTemplate& preset_name_template();  // 101
const mvp::DialogTemplate& expression_template();   // 103
const mvp::DialogTemplate& mix_paste_template();    // 104

}  // namespace tallisk
