// EditorUi over the platform stand-ins.
#include "platform_ui.h"

#if __has_include("mvp/message_box.h")
#define TALLISK_HAVE_PLATFORM 1
#include "mvp/common_dialogs.h"
#include "mvp/message_box.h"
#endif

#include <vector>

namespace tallisk {

namespace {

#if TALLISK_HAVE_PLATFORM

mvp::UINT box_type(MessageButtons buttons, MessageIcon icon) {
    mvp::UINT type = buttons == MessageButtons::YesNo ? mvp::MB_YESNO : mvp::MB_OK;
    switch (icon) {
    case MessageIcon::Warning: type |= mvp::MB_ICONWARNING; break;
    case MessageIcon::Question: type |= mvp::MB_ICONQUESTION; break;
    case MessageIcon::Information: type |= mvp::MB_ICONINFORMATION; break;
    case MessageIcon::None: break;
    }
    return type;
}

// The start folder of a dialog is the folder part of the last path chosen there.
std::string folder_of(const std::string& path) {
    const size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

std::optional<std::string> choose(const FileRequest& r, bool open) {
    std::string filter;
    for (const FileFilter& f : r.filters) {
        filter += f.description;
        filter += '\0';
        filter += f.pattern;
        filter += '\0';
    }
    filter += '\0';
    std::vector<char> file(static_cast<size_t>(r.max_length) + 1, '\0');
    const std::string start = folder_of(r.start_folder);
    mvp::OPENFILENAMEA ofn;
    ofn.lpstrFilter = filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<mvp::DWORD>(r.max_length);
    ofn.lpstrInitialDir = start.empty() ? nullptr : start.c_str();
    ofn.lpstrDefExt = r.default_extension.empty() ? nullptr : r.default_extension.c_str();
    ofn.Flags = mvp::OFN_PATHMUSTEXIST | mvp::OFN_FILEMUSTEXIST;
    const bool ok = open ? mvp::GetOpenFileNameA(&ofn) : mvp::GetSaveFileNameA(&ofn);
    if (!ok) return std::nullopt;
    return std::string(file.data());
}

class PlatformUi : public EditorUi {
public:
    MessageAnswer message_box(const std::string& text, const std::string& caption, MessageButtons buttons,
                              MessageIcon icon) override {
        switch (mvp::MessageBoxA(0, text.c_str(), caption.c_str(), box_type(buttons, icon))) {
        case mvp::IDYES: return MessageAnswer::Yes;
        case mvp::IDNO: return MessageAnswer::No;
        case mvp::IDOK: return MessageAnswer::Ok;
        default: return MessageAnswer::Cancel;
        }
    }
    std::optional<std::string> open_file(const FileRequest& request) override { return choose(request, true); }
    std::optional<std::string> save_file(const FileRequest& request) override { return choose(request, false); }
};

#else

// Without the platform library nobody can be asked: default buttons, cancelled choosers.
class PlatformUi : public EditorUi {
public:
    MessageAnswer message_box(const std::string&, const std::string&, MessageButtons buttons,
                              MessageIcon) override {
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    std::optional<std::string> open_file(const FileRequest&) override { return std::nullopt; }
    std::optional<std::string> save_file(const FileRequest&) override { return std::nullopt; }
};

#endif

}  // namespace

EditorUi& platform_ui() {
    static PlatformUi ui;
    return ui;
}

}  // namespace tallisk
