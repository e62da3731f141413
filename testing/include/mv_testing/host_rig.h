// One instance or a few, in the reference host, as a module test drives them: plug-ins by name,
// pins by name, wires, feeds from the test-signal plug-in, events handed over before the block that
// holds them, and outputs collected block by block. A test that uses it links mv_host_rig.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "mv_testing/test_signal.h"
#include "mvhost/host.h"

namespace mv_testing {

inline std::string plugin_dir() { return MV_PLUGIN_DIR; }
inline std::string builtin_dir() { return std::string(MV_BINARY_DIR) + "/lib/builtin"; }
inline std::string plugin_path(const std::string& name) { return plugin_dir() + "/" + name + ".so"; }

inline mvh::HostConfig host_config(float sample_rate, int block_size) {
    mvh::HostConfig c;
    c.sample_rate = sample_rate;
    c.block_size = block_size;
    return c;
}

// The announcements of one pin (audio numbering), in the order they were made.
inline std::vector<mvh::StatusRecord> announcements(const mvh::Instance* inst, int audio_pin) {
    std::vector<mvh::StatusRecord> out;
    for (const auto& r : inst->status_log)
        if (r.pin == audio_pin) out.push_back(r);
    return out;
}

class HostRig {
public:
    // Modules are looked up by name in `folder` (the plug-ins by default, or builtin_dir()).
    explicit HostRig(float sample_rate = 44100.0f, int block_size = 64, std::string folder = plugin_dir())
        : HostRig(host_config(sample_rate, block_size), std::move(folder)) {}
    explicit HostRig(const mvh::HostConfig& config, std::string folder = plugin_dir())
        : host(config), m_folder(std::move(folder)) {
        host.before_block = [this](mvh::Host& h, int start) { before_block(h, start); };
        host.after_block = [this](mvh::Host&, int, int n) {
            for (auto& r : m_recordings) {
                const float* b = r.inst->buffer(r.pin);
                r.samples->insert(r.samples->end(), b, b + n);
            }
        };
    }
    HostRig(const HostRig&) = delete;
    HostRig& operator=(const HostRig&) = delete;

    mvh::Instance* add(const std::string& module, const std::string& name, mvh::InstanceOptions options = {}) {
        std::string error;
        mvh::Instance* inst = host.add(m_folder + "/" + module + ".so", name, options, &error);
        EXPECT_NE(inst, nullptr) << error;
        EXPECT_TRUE(error.empty()) << error;
        return inst;
    }

    static int pin(const mvh::Instance* inst, const std::string& name) {
        const int p = inst->find_pin(name);
        EXPECT_GE(p, 0) << inst->name() << " has no pin " << name;
        return p;
    }

    // Wires to the first free pin of that name, so repeated wires fill duplicates in turn.
    void wire(mvh::Instance* from, const std::string& out, mvh::Instance* to, const std::string& in) {
        int target = -1;
        for (int nth = 0; target < 0; ++nth) {
            const int p = to->find_pin(in, nth);
            if (p < 0) break;
            if (!host.connected(to, p)) target = p;
        }
        ASSERT_GE(target, 0) << "no free " << in << " on " << to->name();
        std::string error;
        ASSERT_TRUE(host.connect(from, pin(from, out), to, target, &error)) << error;
    }

    // A test-signal source of `shape` (scaled) wired to pin `to_pin` of `to`.
    mvh::Instance* feed(mvh::Instance* to, int to_pin, TestSignalShape shape, float scale = 1.0f) {
        mvh::Instance* src = add_signal();
        src->set_int(kSignalShape, shape);
        src->set_float(kSignalScale, scale);
        connect(src, to, to_pin);
        return src;
    }
    // A streaming source whose samples are sample(clock), written before every block.
    mvh::Instance* feed(mvh::Instance* to, int to_pin, std::function<float(int clock)> sample) {
        mvh::Instance* src = add_signal();
        src->set_int(kSignalShape, kWritten);
        connect(src, to, to_pin);
        m_written[src] = std::move(sample);
        return src;
    }

    // Sets an input in volts (before open, or at a clock while running).
    void set_volts(mvh::Instance* inst, const std::string& name, double volts, int clock = -1) {
        inst->set_float(pin(inst, name), static_cast<float>(volts * 0.1), clock);
    }
    // Sets an input to a float at `clock`, handed to the host before the block that holds it, as a
    // patch's timed events are.
    void set_at(mvh::Instance* inst, const std::string& name, float value, int clock) {
        const int p = pin(inst, name);
        m_scheduled.emplace_back(clock, [inst, p, value, clock] { inst->set_float(p, value, clock); });
    }

    // Every sample of an output from now on.
    std::vector<float>& record(mvh::Instance* inst, int gui_pin) {
        m_recordings.push_back({inst, gui_pin, std::make_unique<std::vector<float>>()});
        return *m_recordings.back().samples;
    }
    std::vector<float>& record(mvh::Instance* inst, const std::string& name) { return record(inst, pin(inst, name)); }

    // The announcements of one output pin named as the module names it.
    static std::vector<mvh::StatusRecord> states(const mvh::Instance* inst, const std::string& name) {
        return announcements(inst, inst->gui_to_audio(pin(inst, name)));
    }

    mvh::Host host;

private:
    mvh::Instance* add_signal() {
        std::string error;
        mvh::Instance* src = host.add(test_signal_plugin(), "source" + std::to_string(m_sources++), {}, &error);
        EXPECT_NE(src, nullptr) << error;
        return src;
    }
    void connect(mvh::Instance* src, mvh::Instance* to, int to_pin) {
        std::string error;
        EXPECT_TRUE(src && host.connect(src, kSignalOut, to, to_pin, &error)) << error;
    }
    void before_block(mvh::Host& h, int start) {
        const int end = start + h.config().block_size;
        for (auto it = m_scheduled.begin(); it != m_scheduled.end();) {
            if (it->first < end) {
                it->second();
                it = m_scheduled.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& [src, sample] : m_written) {
            float* b = src->buffer(kSignalOut);
            for (int k = 0; k < h.config().block_size; ++k) b[k] = sample(start + k);
        }
    }

    struct Recording {
        mvh::Instance* inst;
        int pin;
        std::unique_ptr<std::vector<float>> samples;
    };
    std::string m_folder;
    int m_sources = 0;
    std::vector<Recording> m_recordings;
    std::vector<std::pair<int, std::function<void()>>> m_scheduled;
    std::map<mvh::Instance*, std::function<float(int)>> m_written;
};

}  // namespace mv_testing
