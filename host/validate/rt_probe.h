// The validator's side of the real-time shim: arms the calling thread around a plug-in call and
// turns what the shim counted into a failure text. Without the shim every call is a no-op.
#pragma once

#include <cstdint>
#include <string>

namespace mvh::validate {

// True when mv_rt_shim.so is loaded in this process.
bool rt_available();
// Net live allocations of the process, or -1 without the shim.
int64_t rt_live_allocations();

// Arms the calling thread for its lifetime; Suspend (inside the host callback) pauses it.
class RtScope {
public:
    RtScope();
    ~RtScope();
    RtScope(const RtScope&) = delete;
    RtScope& operator=(const RtScope&) = delete;
    // Ends the scope early; returns the violations as one line, or "" when there were none.
    std::string take();

    class Suspend {
    public:
        Suspend();
        ~Suspend();

    private:
        bool m_was_armed;
    };

private:
    bool m_active = true;
};

// The shim's file, found beside the validator's executable (../lib/) or from MVHOST_RT_SHIM.
std::string rt_shim_path();

}  // namespace mvh::validate
