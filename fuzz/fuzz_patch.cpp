// libFuzzer target: patch files. The text is parsed as JSON and, when it is JSON, handed to PatchRun
// with no module folders, so that every field check, reference and event is exercised up to the
// modules it names. A patch that cannot be used must give PatchError, nothing else.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mvhost/patch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const nlohmann::json doc = nlohmann::json::parse(data, data + size, nullptr, false);
    if (doc.is_discarded()) return 0;
    try {
        mvh::PatchRun run(doc, "fuzz.json", "/nonexistent/mv-fuzz", {});
        run.run_until(std::min(run.total_samples(), 4096));
    } catch (const mvh::PatchError&) {
    }
    return 0;
}
