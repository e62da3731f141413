// libFuzzer target: patch files. The text is read as the host reads a patch file (duplicate keys and
// numbers past a double refused) and handed to PatchRun with no module folders, so that every field
// check, reference and event is exercised up to the modules it names. A patch that cannot be used
// must give PatchError, nothing else.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mvhost/patch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        const nlohmann::json doc = mvh::parse_patch_text(std::vector<unsigned char>(data, data + size), "fuzz.json");
        mvh::PatchRun run(doc, "fuzz.json", "/nonexistent/mv-fuzz", {});
        run.run_until(std::min(run.total_samples(), 4096));
    } catch (const mvh::PatchError&) {
    }
    return 0;
}
