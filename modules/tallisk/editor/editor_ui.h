// What the editor asks of the person in front of it: message boxes and file choosers. The plug-in
// backs this with the platform's dialogs; tests script it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tallisk {

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Warning, Question, Information };
enum class MessageAnswer { Ok, Yes, No, Cancel };

struct FileFilter {
    std::string description;
    std::string pattern;
};

struct FileRequest {
    std::vector<FileFilter> filters;
    std::string default_extension;  // empty: none
    std::string start_folder;
    int max_length = 300;
};

class EditorUi {
public:
    virtual ~EditorUi() = default;
    virtual MessageAnswer message_box(const std::string& text, const std::string& caption,
                                      MessageButtons buttons, MessageIcon icon) = 0;
    // The chosen path, or nothing when cancelled.
    virtual std::optional<std::string> open_file(const FileRequest& request) = 0;
    virtual std::optional<std::string> save_file(const FileRequest& request) = 0;
};

}  // namespace tallisk
