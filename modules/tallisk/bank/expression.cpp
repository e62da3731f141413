// Expression evaluation over fparser.
#include "expression.h"

#include <fparser.hh>

#include <cmath>
#include <memory>

#include "bank_layout.h"
#include "generators.h"

namespace tallisk {

const char kExpressionHelp[] =
    "Quick info:\nUse simple math expressions like trigonometric functions,or arithmetic operations.\n"
    "Supported functions : \nsqrt,pow,sin,cos,tan,exp,abs,asin\nacos,atan,sinh,cosh,tanh,log,log10.\n"
    "Most of the functions have ony one argument, \nexception makes the pow(a,b) function,\n"
    "which must be called in a form a^b.\nConstants : PI,E\nTry to avoid mistakes in your expressions,\n"
    " it can cause the crash of Morvane!";

EvaluationResult evaluate_expressions(const std::array<std::string, kExpressionSlots>& texts, bool normalise_out,
                                      float* buffer) {
    std::array<std::unique_ptr<FunctionParser>, kExpressionSlots> parsers;
    for (int l = 0; l < kExpressionSlots; ++l) {
        parsers[l] = std::make_unique<FunctionParser>();
        FunctionParser& fp = *parsers[l];
        fp.AddConstant("PI", 3.1415927410125732);
        fp.AddConstant("E", 2.7182810306549072);
        if (texts[l].empty()) continue;
        if (fp.Parse(texts[l], "x,t,v1,v2,v3,v4,v5,v6") >= 0) {
            return {false, "An error occured while evaluating:\n  " + texts[l] + "\n" + fp.ErrorMsg()};
        }
        // No Optimize(): it never returns for some texts (for example (0.001^t)^-200), and at
        // 7 x 1024 evaluations it would save nothing worth having.
    }
    for (int i = 0; i < kWaveLength; ++i) {
        double vars[8] = {buffer[i], i * (1.0 / 1024.0), 0, 0, 0, 0, 0, 0};
        double output = 0.0;
        for (int l = 0; l < kExpressionSlots; ++l) {
            if (texts[l].empty()) continue;
            double r = parsers[l]->Eval(vars);
            // A division by zero or a domain error must not reach the tables and every module
            // downstream as NaN or infinity.
            if (!std::isfinite(r)) r = 0.0;
            if (l < kExpressionSlots - 1) vars[2 + l] = r;
            else output = r;
        }
        const float f = static_cast<float>(output);
        buffer[i] = std::isfinite(f) ? f : 0.0f;
    }
    if (normalise_out) normalise(buffer, kWaveLength, 1.0f);
    return {};
}

}  // namespace tallisk
