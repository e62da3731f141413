// A small patch bench for the built-in modules: a reference host, named pins, wires, and
// recordings of outputs across blocks.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "mvhost/host.h"

namespace mvb_test {

inline std::string builtin_path(const std::string& name) {
    return std::string(MV_BINARY_DIR) + "/lib/builtin/" + name + ".so";
}

inline mvh::HostConfig config(float sample_rate, int block_size) {
    mvh::HostConfig c;
    c.sample_rate = sample_rate;
    c.block_size = block_size;
    return c;
}

class Rig {
public:
    explicit Rig(float sample_rate = 44100.0f, int block_size = 256) : host(config(sample_rate, block_size)) {
        host.before_block = [this](mvh::Host& h, int start) {
            const int end = start + h.config().block_size;
            for (auto it = m_scheduled.begin(); it != m_scheduled.end();) {
                if (it->first < end) {
                    it->second();
                    it = m_scheduled.erase(it);
                } else {
                    ++it;
                }
            }
        };
        host.after_block = [this](mvh::Host&, int, int n) {
            for (auto& r : m_recordings) {
                const float* b = r.inst->buffer(r.pin);
                r.samples->insert(r.samples->end(), b, b + n);
            }
        };
    }

    mvh::Instance* add(const std::string& module, const std::string& name, mvh::InstanceOptions o = {}) {
        std::string err;
        mvh::Instance* inst = host.add(builtin_path(module), name, o, &err);
        EXPECT_NE(inst, nullptr) << err;
        EXPECT_TRUE(err.empty()) << err;
        return inst;
    }

    static int pin(mvh::Instance* inst, const std::string& name) {
        const int p = inst->find_pin(name);
        EXPECT_GE(p, 0) << inst->name() << " has no pin " << name;
        return p;
    }

    // Wires to the first free pin of that name, so repeated wires fill duplicates in turn.
    void wire(mvh::Instance* from, const std::string& out, mvh::Instance* to, const std::string& in) {
        int target = -1;
        for (int nth = 0;; ++nth) {
            const int p = to->find_pin(in, nth);
            if (p < 0) break;
            if (!host.connected(to, p)) {
                target = p;
                break;
            }
        }
        ASSERT_GE(target, 0) << "no free " << in << " on " << to->name();
        std::string err;
        ASSERT_TRUE(host.connect(from, pin(from, out), to, target, &err)) << err;
    }

    // Sets an input in volts (before open or at a clock while running).
    void set_volts(mvh::Instance* inst, const std::string& name, double volts, int clock = -1) {
        inst->set_float(pin(inst, name), static_cast<float>(volts * 0.1), clock);
    }

    // Sets an input to a float at `clock`, handed to the host before the block that holds it, as
    // a patch's timed events are.
    void set_at(mvh::Instance* inst, const std::string& name, float value, int clock) {
        const int p = pin(inst, name);
        m_scheduled.emplace_back(clock, [inst, p, value, clock] { inst->set_float(p, value, clock); });
    }

    const std::vector<float>& record(mvh::Instance* inst, const std::string& name) {
        m_recordings.push_back({inst, pin(inst, name), std::make_unique<std::vector<float>>()});
        return *m_recordings.back().samples;
    }

    // Announcements of one output pin, in audio numbering as the host logs them.
    static std::vector<mvh::StatusRecord> states(mvh::Instance* inst, const std::string& name) {
        const int audio = inst->gui_to_audio(pin(inst, name));
        std::vector<mvh::StatusRecord> out;
        for (const auto& s : inst->status_log)
            if (s.pin == audio) out.push_back(s);
        return out;
    }

    mvh::Host host;

private:
    struct Recording {
        mvh::Instance* inst;
        int pin;
        std::unique_ptr<std::vector<float>> samples;
    };
    std::vector<Recording> m_recordings;
    std::vector<std::pair<int, std::function<void()>>> m_scheduled;
};

}  // namespace mvb_test
