// A WAV file the tests wrote or a host exported, one vector per channel (empty if it cannot be read).
#pragma once

#include <sndfile.h>

#include <string>
#include <vector>

namespace lv2test {

inline std::vector<std::vector<float>> read_wav(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<float> all(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, all.data(), info.frames);
    sf_close(f);
    std::vector<std::vector<float>> out(static_cast<size_t>(info.channels));
    for (size_t i = 0; i < all.size(); ++i) out[i % out.size()].push_back(all[i]);
    return out;
}

}  // namespace lv2test
