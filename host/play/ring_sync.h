// libjack's ring buffer orders the bytes it carries with barriers of its own. libjack is not built
// with ThreadSanitizer, so in a ThreadSanitizer build the order is told to it here: each side
// acquires the ring before it copies bytes in or out and releases it after, so that a read follows
// the write it reads and a write follows the read that freed its space.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define MV_RING_SYNC_ANNOTATED 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define MV_RING_SYNC_ANNOTATED 1
#endif
#endif

#ifdef MV_RING_SYNC_ANNOTATED
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace mvh {

inline void ring_enter(void* ring) {
#ifdef MV_RING_SYNC_ANNOTATED
    __tsan_acquire(ring);
#else
    (void)ring;
#endif
}

inline void ring_leave(void* ring) {
#ifdef MV_RING_SYNC_ANNOTATED
    __tsan_release(ring);
#else
    (void)ring;
#endif
}

}  // namespace mvh
