// Measures the best FFTW plans for the bank's transform sizes and prints them as fft_wisdom.cpp.
// Run on the machine the tables are to be fast on:
//   build/bin/make_fft_wisdom > modules/tallisk/dsp/fft_wisdom.cpp
// The plug-in plans from this wisdom when it fits the processor and the FFTW in use, and falls
// back to estimated plans otherwise; either way one build gives the same tables in every run.
#include <fftw3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "real_fft.h"

int main() {
    using tallisk::FftPlans;
    float* real = fftwf_alloc_real(FftPlans::kSizes[0]);
    fftwf_complex* bins = fftwf_alloc_complex(FftPlans::kSizes[0] / 2 + 1);
    for (int size : FftPlans::kSizes) {
        fftwf_destroy_plan(fftwf_plan_dft_r2c_1d(size, real, bins, FFTW_PATIENT));
        fftwf_destroy_plan(fftwf_plan_dft_c2r_1d(size, bins, real, FFTW_PATIENT));
    }
    char* wisdom = fftwf_export_wisdom_to_string();
    if (!wisdom) return 1;
    std::printf("// FFTW wisdom for the bank's transforms, written by tools/make_fft_wisdom.cpp (see there).\n");
    std::printf("#include \"fft_wisdom.h\"\n\nnamespace tallisk {\n\nextern const char kFftWisdom[] =\n");
    // One string literal per line of the wisdom, escaped where C++ needs it.
    for (const char* line = wisdom; *line;) {
        const char* end = std::strchr(line, '\n');
        const size_t n = end ? static_cast<size_t>(end - line) : std::strlen(line);
        std::printf("    \"");
        for (size_t i = 0; i < n; ++i) {
            const char c = line[i];
            if (c == '"' || c == '\\') std::putchar('\\');
            std::putchar(c);
        }
        std::printf("\\n\"\n");
        line += n + (end ? 1 : 0);
    }
    std::printf("    ;\n\n}  // namespace tallisk\n");
    std::free(wisdom);
    fftwf_free(bins);
    fftwf_free(real);
    return 0;
}
