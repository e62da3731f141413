// The editor's dialogs: "Preset name", "MixPaste", "Expression evaluator" and the colour chooser.
#include <array>
#include <string>

#include "dialog_templates.h"
#include "mvp/common_dialogs.h"
#include "mvp/window.h"
#include "wavetable_editor.h"

namespace tallisk {

namespace {

// Custom colours of the colour chooser, shared by every editor of the process.
mvp::COLORREF g_custom_colours[16] = {};

WavetableEditor* editor_of(mvp::HWND dialog) {
    return reinterpret_cast<WavetableEditor*>(mvp::GetWindowLongPtrA(dialog, mvp::DWLP_USER));
}

// Keeps the editor with the dialog: a 64-bit address does not fit the dialog integer that the
// hidden edit would carry.
void attach(mvp::HWND dialog, mvp::LPARAM editor) { mvp::SetWindowLongPtrA(dialog, mvp::DWLP_USER, editor); }

std::string item_text(mvp::HWND dialog, int id, int size) {
    std::string text(static_cast<size_t>(size), '\0');
    const mvp::UINT n = mvp::GetDlgItemTextA(dialog, id, text.data(), size);
    text.resize(n);
    return text;
}

mvp::WORD command_id(mvp::WPARAM w) { return static_cast<mvp::WORD>(w & 0xFFFF); }

mvp::INT_PTR rename_proc(mvp::HWND dialog, mvp::UINT message, mvp::WPARAM w, mvp::LPARAM l) {
    if (message == mvp::WM_INITDIALOG) {
        attach(dialog, l);
        WavetableEditor* editor = editor_of(dialog);
        mvp::SetDlgItemTextA(dialog, kIdNameEdit, editor->bank().name(editor->bank().current));
        return 1;
    }
    WavetableEditor* editor = editor_of(dialog);
    if (!editor) return 0;
    if (message == mvp::WM_CLOSE) {
        mvp::EndDialog(dialog, kIdCancel);
        return 1;
    }
    if (message != mvp::WM_COMMAND) return 0;
    switch (command_id(w)) {
    case kIdOk: {
        const std::string name = item_text(dialog, kIdNameEdit, kNameSize);
        if (!name.empty()) editor->rename(name.c_str());
        mvp::EndDialog(dialog, kIdOk);
        return 1;
    }
    case kIdCancel: mvp::EndDialog(dialog, kIdCancel); return 1;
    default: return 0;
    }
}

mvp::INT_PTR mix_proc(mvp::HWND dialog, mvp::UINT message, mvp::WPARAM w, mvp::LPARAM l) {
    if (message == mvp::WM_INITDIALOG) {
        attach(dialog, l);
        mvp::SendDlgItemMessageA(dialog, kIdMixSlider, mvp::TBM_SETRANGEMIN, 0, 0);
        mvp::SendDlgItemMessageA(dialog, kIdMixSlider, mvp::TBM_SETRANGEMAX, 0, 100);
        mvp::SendDlgItemMessageA(dialog, kIdMixSlider, mvp::TBM_SETPOS, 1, 50);
        if (WavetableEditor* editor = editor_of(dialog)) editor->begin_mix_paste();
        return 1;
    }
    WavetableEditor* editor = editor_of(dialog);
    if (!editor) return 0;
    const auto position = [&] {
        return static_cast<float>(mvp::SendDlgItemMessageA(dialog, kIdMixSlider, mvp::TBM_GETPOS, 0, 0)) * 0.01f;
    };
    switch (message) {
    case mvp::WM_HSCROLL: editor->preview_mix_paste(position()); return 1;
    case mvp::WM_CLOSE:
        // Closing is cancelling: the buffer as it was when the dialog opened comes back.
        editor->cancel_mix_paste();
        mvp::EndDialog(dialog, kIdCancel);
        return 1;
    case mvp::WM_COMMAND:
        if (command_id(w) == kIdOk) {
            editor->preview_mix_paste(position());
            mvp::EndDialog(dialog, kIdOk);
            return 1;
        }
        if (command_id(w) == kIdCancel) {
            editor->cancel_mix_paste();
            mvp::EndDialog(dialog, kIdCancel);
            return 1;
        }
        return 0;
    default: return 0;
    }
}

mvp::INT_PTR expression_proc(mvp::HWND dialog, mvp::UINT message, mvp::WPARAM w, mvp::LPARAM l) {
    if (message == mvp::WM_INITDIALOG) {
        attach(dialog, l);
        WavetableEditor* editor = editor_of(dialog);
        for (int slot = 0; slot < 7; ++slot)
            mvp::SetDlgItemTextA(dialog, kExpressionEdits[slot], editor->expression_text(slot).c_str());
        mvp::CheckDlgButton(dialog, kIdNormalised,
                            editor->settings().normalised_output ? mvp::BST_CHECKED : mvp::BST_UNCHECKED);
        return 1;
    }
    WavetableEditor* editor = editor_of(dialog);
    if (!editor) return 0;
    if (message == mvp::WM_CLOSE) {
        mvp::EndDialog(dialog, kIdClose);
        return 1;
    }
    if (message != mvp::WM_COMMAND) return 0;
    switch (command_id(w)) {
    case kIdOk: {
        std::array<std::string, 7> texts;
        for (int slot = 0; slot < 7; ++slot) texts[slot] = item_text(dialog, kExpressionEdits[slot], 600);
        editor->process_expressions(texts);
        return 1;
    }
    case kIdUndo: editor->undo(); return 1;
    case kIdNormalised:
        editor->settings().normalised_output = mvp::IsDlgButtonChecked(dialog, kIdNormalised) == mvp::BST_CHECKED;
        return 1;
    case kIdHelp: editor->show_expression_help(); return 1;
    case kIdClose: mvp::EndDialog(dialog, kIdClose); return 1;
    default: return 0;
    }
}

}  // namespace

void WavetableEditor::rename_dialog() {
    mvp::DialogBoxIndirectParamA(0, &preset_name_template(), m_owner, rename_proc, reinterpret_cast<mvp::LPARAM>(this));
}

void WavetableEditor::mix_paste_dialog() {
    mvp::DialogBoxIndirectParamA(0, &mix_paste_template(), m_owner, mix_proc, reinterpret_cast<mvp::LPARAM>(this));
}

void WavetableEditor::expression_dialog() {
    mvp::DialogBoxIndirectParamA(0, &expression_template(), m_owner, expression_proc,
                                 reinterpret_cast<mvp::LPARAM>(this));
}

void WavetableEditor::choose_colour(uint32_t* colour) {
    g_custom_colours[0] = *colour;
    mvp::CHOOSECOLORA request;
    request.rgbResult = *colour;
    request.lpCustColors = g_custom_colours;
    request.Flags = mvp::CC_RGBINIT | mvp::CC_FULLOPEN;
    if (mvp::ChooseColorA(&request)) *colour = request.rgbResult;
}

}  // namespace tallisk
