// libFuzzer target: mvbank's .wt reader, then what it accepts written and read again unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "frame_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    mvbank::FrameTable table;
    if (!mvbank::decode_wt(data, size, &table).empty()) return 0;
    const std::vector<uint8_t> bytes = mvbank::encode_wt(table);
    mvbank::FrameTable again;
    if (!mvbank::decode_wt(bytes.data(), bytes.size(), &again).empty() || again.frame_size != table.frame_size ||
        again.frame_count != table.frame_count ||
        std::memcmp(again.samples.data(), table.samples.data(), table.samples.size() * sizeof(float)) != 0)
        std::abort();
    return 0;
}
