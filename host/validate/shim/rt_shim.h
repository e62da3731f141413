// The interface between `mvhost validate` and its real-time shim (mv_rt_shim.so, LD_PRELOADed).
// The validator finds these with dlsym(RTLD_DEFAULT); when they are absent, no shim is loaded.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// What the shim counts while a thread is armed.
enum MVRtKind {
    MV_RT_ALLOCATION = 0,  // malloc, calloc, realloc, free, posix_memalign, aligned_alloc, memalign
    MV_RT_LOCK = 1,        // pthread mutex, condition and rwlock waits and signals
    MV_RT_SLEEP = 2,       // sleep, usleep, nanosleep, clock_nanosleep
    MV_RT_FILE = 3,        // open, openat, fopen
    MV_RT_NETWORK = 4,     // socket, connect, send, recv and their variants
    MV_RT_EXCEPTION = 5,   // __cxa_throw
    MV_RT_KIND_COUNT = 6,
};

typedef struct MVRtReport {
    uint32_t counts[MV_RT_KIND_COUNT];
    const char* first_call;  // name of the first counted function since the last take, or null
} MVRtReport;

typedef void (*MVRtArmFn)(int on);
typedef void (*MVRtTakeFn)(MVRtReport* out);
typedef int64_t (*MVRtLiveFn)(void);

// Arms or disarms counting on the calling thread. Nested arming is not supported: the last call wins.
void mv_rt_arm(int on);
// Copies the calling thread's counts into *out and resets them.
void mv_rt_take(MVRtReport* out);
// Allocations made minus allocations freed, over all threads since the process started.
int64_t mv_rt_live_allocations(void);

#ifdef __cplusplus
}
#endif
