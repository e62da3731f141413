// What every format shares: extensions, frame-size rule, the finiteness check.
#include "frame_table.h"

#include <cctype>
#include <cmath>

namespace mvbank {

TableFormat format_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return TableFormat::Unknown;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "wb1") return TableFormat::Wb1;
    if (ext == "wbf") return TableFormat::Wbf;
    if (ext == "wav") return TableFormat::Wav;
    if (ext == "wt") return TableFormat::Wt;
    return TableFormat::Unknown;
}

const char* format_name(TableFormat format) {
    switch (format) {
    case TableFormat::Wb1: return "tallisk bank (.wb1)";
    case TableFormat::Wbf: return "tallisk 16-waveform bank (.wbf)";
    case TableFormat::Wav: return "wavetable WAV (.wav)";
    case TableFormat::Wt: return "wavetable (.wt)";
    case TableFormat::Unknown: break;
    }
    return "unknown";
}

bool is_power_of_two(long long n) { return n > 0 && (n & (n - 1)) == 0; }

std::string check_finite(const FrameTable& table) {
    for (size_t i = 0; i < table.samples.size(); ++i)
        if (!std::isfinite(table.samples[i]))
            return "frame " + std::to_string(i / static_cast<size_t>(table.frame_size) + 1) + ", sample " +
                   std::to_string(i % static_cast<size_t>(table.frame_size)) + " is not a finite number";
    return {};
}

}  // namespace mvbank
