// The expression evaluator: six parameter expressions (v1..v6) and one output expression per
// sample, parsed and evaluated by fparser.
#pragma once

#include <array>
#include <string>

namespace tallisk {

constexpr int kExpressionSlots = 7;
constexpr int kExpressionLength = 600;  // with the terminator

extern const char kExpressionHelp[];

struct EvaluationResult {
    bool ok = true;
    std::string message;  // the parse error box text when !ok
};

// Computes the buffer sample by sample (x = its sample, t = i / 1024, v1..v6 the parameter slots,
// empty slots give 0); nothing changes on a parse error. Results that are not finite are stored as
// 0. With normalise, scales to peak 1.0 unless the peak is below kSilencePeak.
EvaluationResult evaluate_expressions(const std::array<std::string, kExpressionSlots>& texts, bool normalise,
                                      float* buffer);

}  // namespace tallisk
