// Looks up the shim's entry points once and keeps a thread-local mirror of the armed state, so
// the host callback can pause counting while the plug-in is inside the host.
#include "rt_probe.h"

#ifndef _WIN32
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>

#include "shim/rt_shim.h"

namespace mvh::validate {

namespace {

struct ShimEntries {
    MVRtArmFn arm = nullptr;
    MVRtTakeFn take = nullptr;
    MVRtLiveFn live = nullptr;
};

const ShimEntries& shim() {
    static const ShimEntries entries = [] {
        ShimEntries e;
#ifdef _WIN32
        // Windows has no preloading: the allocator and the system calls cannot be interposed, so
        // the real-time checks report that they did not run.
#else
        e.arm = reinterpret_cast<MVRtArmFn>(dlsym(RTLD_DEFAULT, "mv_rt_arm"));
        e.take = reinterpret_cast<MVRtTakeFn>(dlsym(RTLD_DEFAULT, "mv_rt_take"));
        e.live = reinterpret_cast<MVRtLiveFn>(dlsym(RTLD_DEFAULT, "mv_rt_live_allocations"));
        if (!e.arm || !e.take || !e.live) e = {};
#endif
        return e;
    }();
    return entries;
}

thread_local bool t_armed = false;

const char* const kKindNames[MV_RT_KIND_COUNT] = {"allocation", "lock", "sleep", "file", "network", "exception"};

}  // namespace

bool rt_available() { return shim().arm != nullptr; }

int64_t rt_live_allocations() { return rt_available() ? shim().live() : -1; }

RtScope::RtScope() {
    if (!rt_available()) return;
    MVRtReport discard;
    shim().take(&discard);
    t_armed = true;
    shim().arm(1);
}

RtScope::~RtScope() { take(); }

std::string RtScope::take() {
    if (!m_active || !rt_available()) return {};
    m_active = false;
    shim().arm(0);
    t_armed = false;
    MVRtReport r;
    shim().take(&r);
    std::string out;
    for (int k = 0; k < MV_RT_KIND_COUNT; ++k) {
        if (r.counts[k] == 0) continue;
        if (!out.empty()) out += ", ";
        out += std::to_string(r.counts[k]) + " " + kKindNames[k];
    }
    if (!out.empty() && r.first_call) out += std::string(" (first: ") + r.first_call + ")";
    return out;
}

RtScope::Suspend::Suspend() : m_was_armed(t_armed) {
    if (m_was_armed) shim().arm(0);
}

RtScope::Suspend::~Suspend() {
    if (m_was_armed) shim().arm(1);
}

std::string rt_shim_path() {
#ifdef _WIN32
    return {};
#else
    if (const char* env = std::getenv("MVHOST_RT_SHIM"); env && *env) return env;
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    exe[n] = 0;
    const std::filesystem::path dir = std::filesystem::path(exe).parent_path();
    for (const auto& candidate : {dir / "../lib/mv_rt_shim.so", dir / "mv_rt_shim.so"}) {
        std::error_code ec;
        if (std::filesystem::exists(candidate, ec)) return std::filesystem::weakly_canonical(candidate, ec).string();
    }
    return {};
#endif
}

}  // namespace mvh::validate
