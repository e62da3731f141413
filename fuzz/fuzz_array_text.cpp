// libFuzzer target: the list text of array_to_floats, split into values and joined again. The
// joined text must split back into the same values.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "array_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int count = data[0] % 40;  // the module has a bounded number of outputs
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::vector<float> values = array_to_floats::split_items(text, count);
    if (static_cast<int>(values.size()) != count) abort();
    (void)array_to_floats::parse_item(text);
    std::vector<float> finite;
    for (float v : values)
        if (std::isfinite(v)) finite.push_back(v);
    const std::string joined = array_to_floats::join_items(finite);
    const std::vector<float> again = array_to_floats::split_items(joined, static_cast<int>(finite.size()));
    for (size_t i = 0; i < finite.size(); ++i) {
        // "%f" keeps six decimals: the value read back is within half of the last one written.
        if (std::fabs(again[i] - finite[i]) > 5e-7f + std::fabs(finite[i]) * 1e-6f) abort();
    }
    return 0;
}
