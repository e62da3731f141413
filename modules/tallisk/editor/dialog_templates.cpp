// Controls, texts, positions and sizes (dialog units) of the editor's dialogs.
#include "dialog_templates.h"

namespace tallisk {

namespace {

using mvp::ControlKind;
using mvp::DialogControl;

// The editor's address once travelled in this hidden edit; it stays for the layout, and the
// address now goes with the dialog itself (a 64-bit address does not fit a dialog integer).
DialogControl address_edit(int x, int y) { return {kIdEditorAddress, ControlKind::Edit, "", x, y, 7, 12, 0, true}; }

}  // namespace

const mvp::DialogTemplate& preset_name_template() {
    static const mvp::DialogTemplate t{101, "Preset name", 160, 58, "MS Sans Serif", 8,
        {
            {kIdOk, ControlKind::DefPushButton, "OK", 7, 35, 50, 14},
            {kIdCancel, ControlKind::PushButton, "Cancel", 102, 36, 50, 13},
            {kIdNameEdit, ControlKind::Edit, "", 7, 18, 140, 12, mvp::ES_AUTOHSCROLL},
            {-1, ControlKind::Static, "Please enter new name for current waveform :", 7, 7, 146, 8},
            address_edit(76, 36),
        }};
    return t;
}

const mvp::DialogTemplate& mix_paste_template() {
    static const mvp::DialogTemplate t{104, "MixPaste", 178, 54, "MS Sans Serif", 8,
        {
            {kIdOk, ControlKind::DefPushButton, "OK", 12, 33, 50, 14},
            {kIdCancel, ControlKind::PushButton, "Cancel", 115, 33, 50, 14},
            {kIdMixSlider, ControlKind::Trackbar, "", 40, 10, 89, 18, mvp::TBS_BOTH | mvp::TBS_NOTICKS},
            {-1, ControlKind::Static, "Current Preset", 13, 10, 29, 18},
            {-1, ControlKind::Static, "Clipboard", 135, 13, 30, 8},
            address_edit(84, 35),
        }};
    return t;
}

const mvp::DialogTemplate& expression_template() {
    static const mvp::DialogTemplate t{103, "Expression evaluator", 214, 178, "MS Sans Serif", 8,
        {
            {kIdOk, ControlKind::DefPushButton, "Process", 12, 140, 50, 14},
            {kIdUndo, ControlKind::PushButton, "Undo", 78, 140, 50, 14},
            {kIdClose, ControlKind::PushButton, "Close", 150, 140, 50, 13},
            {kIdHelp, ControlKind::PushButton, "Help", 150, 157, 50, 14},
            {kIdNormalised, ControlKind::CheckBox, "Normalized output", 12, 161, 73, 10},
            {-1, ControlKind::GroupBox, "Parameters :", 7, 7, 198, 73},
            {-1, ControlKind::Static, "v1=", 12, 19, 14, 8},
            {-1, ControlKind::Static, "v2=", 12, 38, 14, 8},
            {-1, ControlKind::Static, "v3=", 12, 58, 14, 8},
            {-1, ControlKind::Static, "v4=", 103, 19, 14, 8},
            {-1, ControlKind::Static, "v5=", 103, 38, 14, 8},
            {-1, ControlKind::Static, "v6=", 103, 58, 14, 8},
            {kIdV1, ControlKind::Edit, "", 27, 19, 75, 12, mvp::ES_AUTOHSCROLL},
            {kIdV2, ControlKind::Edit, "", 27, 38, 75, 12, mvp::ES_AUTOHSCROLL},
            {kIdV3, ControlKind::Edit, "", 27, 58, 75, 12, mvp::ES_AUTOHSCROLL},
            {kIdV4, ControlKind::Edit, "", 118, 19, 77, 12, mvp::ES_AUTOHSCROLL},
            {kIdV5, ControlKind::Edit, "", 118, 38, 77, 12, mvp::ES_AUTOHSCROLL},
            {kIdV6, ControlKind::Edit, "", 118, 58, 77, 12, mvp::ES_AUTOHSCROLL},
            {kIdExpression, ControlKind::Edit, "", 7, 84, 198, 51,
             mvp::ES_MULTILINE | mvp::ES_WANTRETURN | mvp::WS_VSCROLL},
            address_edit(66, 140),
        }};
    return t;
}

}  // namespace tallisk
