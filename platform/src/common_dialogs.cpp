// Open and save file dialogs and the colour chooser, answered by the installed user.
#include "mvp/common_dialogs.h"

#include <cstring>
#include <filesystem>

#include "mvp/message_box.h"
#include "mvp/user.h"

namespace mvp {

namespace {

thread_local DWORD t_last_error = 0;

BOOL fail(DWORD error) {
    t_last_error = error;
    return 0;
}

// A double-NUL-terminated list of description/pattern pairs; stops at a sane bound, since the
// list's end can only be found by its terminator.
std::vector<FileFilter> parse_filters(const char* list) {
    std::vector<FileFilter> filters;
    if (!list) return filters;
    const char* p = list;
    for (int i = 0; i < 64 && *p; ++i) {
        FileFilter f;
        f.description = p;
        p += f.description.size() + 1;
        f.pattern = p;
        p += f.pattern.size() + 1;
        filters.push_back(std::move(f));
    }
    return filters;
}

BOOL file_dialog(OPENFILENAMEA* r, bool save) {
    t_last_error = 0;
    if (!r) return fail(CDERR_INITIALIZATION);
    if (r->lStructSize != sizeof(OPENFILENAMEA)) return fail(CDERR_STRUCTSIZE);
    if (!r->lpstrFile || r->nMaxFile == 0) return fail(CDERR_INITIALIZATION);

    FileRequest request;
    request.save = save;
    request.owner = r->hwndOwner;
    request.title = r->lpstrTitle ? r->lpstrTitle : (save ? "Save As" : "Open");
    request.filters = parse_filters(r->lpstrFilter);
    request.filter_index = r->nFilterIndex == 0 ? 1 : static_cast<int>(r->nFilterIndex);
    request.initial_dir = r->lpstrInitialDir ? r->lpstrInitialDir : "";
    request.initial_file.assign(r->lpstrFile, strnlen(r->lpstrFile, r->nMaxFile));
    request.default_ext = r->lpstrDefExt ? r->lpstrDefExt : "";
    request.buffer_size = r->nMaxFile;
    request.flags = r->Flags;

    const std::optional<std::string> answer = current_user()->choose_file(request);
    if (!answer) return 0;
    const std::string path = request.resolve(*answer);
    const std::string refusal = request.refusal(path);
    if (!refusal.empty()) {
        if (path.size() + 1 > r->nMaxFile) return fail(FNERR_BUFFERTOOSMALL);
        return 0;  // the person gave up after the dialog refused the name
    }
    if (save && (r->Flags & OFN_OVERWRITEPROMPT)) {
        std::error_code ec;
        if (std::filesystem::exists(path, ec)) {
            const std::string question = path + " already exists.\nDo you want to replace it?";
            if (MessageBoxA(r->hwndOwner, question.c_str(), request.title.c_str(),
                            MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2) != IDYES)
                return 0;
        }
    }
    std::memcpy(r->lpstrFile, path.c_str(), path.size() + 1);
    const size_t slash = path.find_last_of("/\\");
    const size_t name = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = path.find_last_of('.');
    r->nFileOffset = static_cast<WORD>(std::min<size_t>(name, 0xFFFF));
    r->nFileExtension = static_cast<WORD>(
        (dot != std::string::npos && dot > name) ? std::min<size_t>(dot + 1, 0xFFFF) : std::min<size_t>(path.size(), 0xFFFF));
    if (r->lpstrFileTitle && r->nMaxFileTitle > 0) {
        const std::string title = path.substr(name);
        const size_t n = std::min(title.size(), static_cast<size_t>(r->nMaxFileTitle - 1));
        std::memcpy(r->lpstrFileTitle, title.data(), n);
        r->lpstrFileTitle[n] = 0;
    }
    return 1;
}

}  // namespace

BOOL GetOpenFileNameA(OPENFILENAMEA* request) { return file_dialog(request, false); }
BOOL GetSaveFileNameA(OPENFILENAMEA* request) { return file_dialog(request, true); }

BOOL ChooseColorA(CHOOSECOLORA* r) {
    t_last_error = 0;
    if (!r) return fail(CDERR_INITIALIZATION);
    if (r->lStructSize != sizeof(CHOOSECOLORA)) return fail(CDERR_STRUCTSIZE);
    if (!r->lpCustColors) return fail(CDERR_INITIALIZATION);
    ColorRequest request;
    request.owner = r->hwndOwner;
    request.initial = (r->Flags & CC_RGBINIT) ? (r->rgbResult & 0xFFFFFF) : 0;
    request.flags = r->Flags;
    std::memcpy(request.custom.data(), r->lpCustColors, sizeof(COLORREF) * 16);
    const std::optional<ColorAnswer> answer = current_user()->choose_color(request);
    if (!answer) return 0;
    r->rgbResult = answer->color & 0xFFFFFF;
    if (answer->custom)
        for (size_t i = 0; i < 16; ++i) r->lpCustColors[i] = (*answer->custom)[i] & 0xFFFFFF;
    return 1;
}

DWORD CommDlgExtendedError() { return t_last_error; }

}  // namespace mvp
