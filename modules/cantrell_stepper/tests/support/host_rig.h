// Helpers for tests that run plug-ins in the reference host: plug-in paths and test feeds whose
// samples the test writes block by block.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mvhost/host.h"
#include "mv_testing/test_signal.h"

namespace rig {

inline std::string plugin(const std::string& name) { return std::string(MV_PLUGIN_DIR) + "/" + name + ".so"; }

// A host with a fixed block size whose feeds produce sample(clock) for every clock.
class Rig {
public:
    explicit Rig(int block_size = 64) {
        mvh::HostConfig config;
        config.block_size = block_size;
        m_host = std::make_unique<mvh::Host>(config);
        m_host->before_block = [this](mvh::Host& host, int start) {
            for (auto& [feed, fn] : m_feeds) {
                float* b = feed->buffer(0);
                for (int k = 0; k < host.config().block_size; ++k) b[k] = fn(start + k);
            }
        };
    }

    mvh::Host& host() { return *m_host; }

    mvh::Instance* add(const std::string& name, const std::string& instance_name) {
        std::string error;
        mvh::Instance* inst = m_host->add(plugin(name), instance_name, {}, &error);
        EXPECT_TRUE(inst && error.empty()) << error;
        return inst;
    }

    // A streaming source wired to pin to_pin of to.
    void feed(mvh::Instance* to, int to_pin, std::function<float(int clock)> sample) {
        std::string error;
        mvh::Instance* f = m_host->add(mv_testing::test_signal_plugin(), "feed" + std::to_string(m_feeds.size()), {}, &error);
        ASSERT_TRUE(f && error.empty()) << error;
        f->set_int(mv_testing::kSignalShape, mv_testing::kWritten);
        ASSERT_TRUE(m_host->connect(f, 0, to, to_pin, &error)) << error;
        m_feeds[f] = std::move(sample);
    }

private:
    std::unique_ptr<mvh::Host> m_host;
    std::map<mvh::Instance*, std::function<float(int)>> m_feeds;
};

// The announcements of one pin (audio numbering) in the order they were made.
inline std::vector<mvh::StatusRecord> announcements(const mvh::Instance* inst, int pin) {
    std::vector<mvh::StatusRecord> out;
    for (const auto& r : inst->status_log)
        if (r.pin == pin) out.push_back(r);
    return out;
}

}  // namespace rig
