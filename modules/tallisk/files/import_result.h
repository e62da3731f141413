// What an importer tells the editor: samples on success, or the box to show (or none: some header
// failures stop silently).
#pragma once

#include <string>

namespace tallisk {

struct ImportResult {
    bool ok = false;
    std::string message;  // empty: stop without a message
    std::string caption;
};

}  // namespace tallisk
