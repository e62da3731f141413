// mvbank: converts wavetables between tallisk's banks and the common wavetable formats, and draws
// banks as pictures.
#include <iostream>

#include "mvp/output_file.h"
#include "run.h"

int main(int argc, char** argv) {
    mvp::remove_temporaries_on_interrupt("mvbank: interrupted; no output written");
    return mvbank::run_mvbank(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
