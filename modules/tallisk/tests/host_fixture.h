// tallisk loaded through the reference host, with a view probe wired to its view-link pins the way
// a wave view would be.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "mv_testing/host_rig.h"
#include "mvhost/host.h"
#include "signal_measure.h"

namespace tallisk::test {

class HostedTallisk : public mv_testing::HostRig {
public:
    explicit HostedTallisk(const mvh::HostConfig& config = {}, mvh::InstanceOptions options = {})
        : HostRig(config), osc(add("tallisk", "osc", options)), probe(host.add(std::string(TALLISK_PROBE), "view")) {
        EXPECT_NE(probe, nullptr);
        if (!osc || !probe) return;
        host.connect(osc, pin("Wave out"), probe, probe->find_pin("Wave in"));
        host.connect(probe, probe->find_pin("Wave out"), osc, pin("Wave in"));
        host.connect(osc, pin("FFT out"), probe, probe->find_pin("FFT in"));
        host.connect(probe, probe->find_pin("FFT out"), osc, pin("FFT in"));
        m_captured = &record(osc, "Output");
    }

    int pin(const std::string& name) const { return osc->find_pin(name); }

    // The probe as view: send a message to the editor and read what came back.
    void send_wave(const std::string& text) { probe->set_text(probe->find_pin("Send wave"), text); }
    void send_fft(const std::string& text) { probe->set_text(probe->find_pin("Send fft"), text); }
    std::vector<std::string> log() const {
        std::vector<std::string> lines;
        std::istringstream in(probe->value(probe->find_pin("Log")).text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // The edit buffer's address from the "9,ADDR" answer to a request.
    float* edit_buffer() {
        send_wave("11,0");
        for (const std::string& line : log())
            if (line.rfind("wave 9,", 0) == 0)
                return reinterpret_cast<float*>(static_cast<intptr_t>(std::strtoll(line.c_str() + 7, nullptr, 10)));
        return nullptr;
    }

    std::vector<float> render(int samples) {
        m_captured->clear();
        host.run(samples);
        return *m_captured;
    }

    mvh::Instance* osc;
    mvh::Instance* probe;

private:
    std::vector<float>* m_captured = nullptr;
};

}  // namespace tallisk::test
