// Frame selection, names and resampling between frame tables and the 64 x 1024 bank.
#include "bank_build.h"

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <cstring>

namespace mvbank {

using tallisk::kNameSize;
using tallisk::kWaveCount;
using tallisk::kWaveLength;

Bank::Bank() : waves(size_t{kWaveCount} * kWaveLength, 0.0f), names(size_t{kWaveCount} * kNameSize, '\0') {
    for (int w = 0; w < kWaveCount; ++w) set_name(w, "Untitled " + std::to_string(w + 1));
}

void Bank::set_name(int w, const std::string& text) {
    char* dst = names.data() + static_cast<size_t>(w) * kNameSize;
    std::memset(dst, 0, kNameSize);
    std::memcpy(dst, text.data(), std::min(text.size(), size_t{kNameSize - 1}));
}

std::string select_frames(int frames, int first, int count, std::vector<int>* picked) {
    picked->clear();
    const int start = first == 0 ? 1 : first;
    if (start < 1 || start > frames)
        return "--first " + std::to_string(first) + " is outside the table's " + std::to_string(frames) + " frames";
    const int available = frames - start + 1;
    const int length = count == 0 ? available : count;
    if (count < 0 || length > available)
        return "--count " + std::to_string(count) + " from frame " + std::to_string(start) + " runs past the table's " +
               std::to_string(frames) + " frames";
    const int base = start - 1;
    if (length <= kWaveCount) {
        for (int k = 0; k < length; ++k) picked->push_back(base + k);
        return {};
    }
    // Frame i of 64 sits at i * (length - 1) / 63, rounded to nearest (in 64 bits: length can be
    // 65535 and more).
    for (int i = 0; i < kWaveCount; ++i)
        picked->push_back(base + static_cast<int>((int64_t{i} * (length - 1) * 2 + (kWaveCount - 1)) /
                                                  (2 * (kWaveCount - 1))));
    return {};
}

std::string frame_name(const std::string& stem, int k) {
    const std::string number = " " + std::to_string(k);
    const size_t room = kNameSize - 1 - number.size();
    return stem.substr(0, room) + number;
}

static bool all_finite(const float* x, int n) {
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(x[i])) return false;
    return true;
}

std::string bank_from_table(const FrameTable& table, const std::vector<int>& picked, const std::string& stem,
                            FrameResampler& resampler, Bank* bank) {
    for (size_t w = 0; w < picked.size() && w < size_t{kWaveCount}; ++w) {
        const int frame = picked[w];
        float* out = bank->wave(static_cast<int>(w));
        resampler.resample(table.frame(frame), table.frame_size, out, kWaveLength);
        if (!all_finite(out, kWaveLength))
            return "frame " + std::to_string(frame + 1) + " has samples too large to resample";
        bank->set_name(static_cast<int>(w), table.names.empty() ? frame_name(stem, frame + 1)
                                                                : table.names[static_cast<size_t>(frame)]);
    }
    return {};
}

std::string table_from_bank(const Bank& bank, int frame_size, FrameResampler& resampler, FrameTable* table) {
    table->frame_size = frame_size;
    table->frame_count = kWaveCount;
    table->samples.assign(size_t{kWaveCount} * static_cast<size_t>(frame_size), 0.0f);
    table->names.clear();
    for (int w = 0; w < kWaveCount; ++w) {
        float* out = table->samples.data() + static_cast<size_t>(w) * frame_size;
        resampler.resample(bank.wave(w), kWaveLength, out, frame_size);
        if (!all_finite(out, frame_size))
            return "waveform " + std::to_string(w + 1) + " has samples too large to resample";
        table->names.emplace_back(bank.name(w));
    }
    return {};
}

}  // namespace mvbank
