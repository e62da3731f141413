// Storage of the process-wide clipboard.
#include "clipboard.h"

namespace tallisk {

SharedClipboard& shared_clipboard() {
    static SharedClipboard clipboard;
    return clipboard;
}

}  // namespace tallisk
