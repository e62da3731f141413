// EditorUi over the platform stand-ins.
#include "platform_ui.h"

namespace tallisk {

namespace {

class PlatformUi : public EditorUi {
public:
    MessageAnswer message_box(const std::string&, const std::string&, MessageButtons buttons,
                              MessageIcon) override {
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    std::optional<std::string> open_file(const FileRequest&) override { return std::nullopt; }
    std::optional<std::string> save_file(const FileRequest&) override { return std::nullopt; }
};

}  // namespace

EditorUi& platform_ui() {
    static PlatformUi ui;
    return ui;
}

}  // namespace tallisk
