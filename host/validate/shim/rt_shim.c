/* Real-time shim for `mvhost validate`: preloaded into the validator, it counts calls that must not
 * happen on the audio thread (allocation, locks, sleeping, files, sockets, exceptions) while the
 * validator has armed the calling thread around a plug-in's process or event call. It also keeps
 * a process-wide count of live allocations for the leak check. Everything forwards to the real
 * function; the shim itself allocates nothing and takes no lock. */
#define _GNU_SOURCE
#include "rt_shim.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#define SHIM_EXPORT __attribute__((visibility("default")))

extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void __libc_free(void*);
extern void* __libc_memalign(size_t, size_t);

static __thread int t_armed __attribute__((tls_model("initial-exec")));
static __thread uint32_t t_counts[MV_RT_KIND_COUNT] __attribute__((tls_model("initial-exec")));
static __thread const char* t_first __attribute__((tls_model("initial-exec")));
static _Atomic int64_t g_live;

static inline void note(enum MVRtKind kind, const char* name) {
    if (!t_armed) return;
    ++t_counts[kind];
    if (!t_first) t_first = name;
}

SHIM_EXPORT void mv_rt_arm(int on) { t_armed = on; }

SHIM_EXPORT void mv_rt_take(MVRtReport* out) {
    for (int k = 0; k < MV_RT_KIND_COUNT; ++k) {
        out->counts[k] = t_counts[k];
        t_counts[k] = 0;
    }
    out->first_call = t_first;
    t_first = NULL;
}

SHIM_EXPORT int64_t mv_rt_live_allocations(void) { return atomic_load_explicit(&g_live, memory_order_relaxed); }

static inline void live_add(int64_t d) { atomic_fetch_add_explicit(&g_live, d, memory_order_relaxed); }

/* ---- allocation ------------------------------------------------------------------------------ */

SHIM_EXPORT void* malloc(size_t n) {
    note(MV_RT_ALLOCATION, "malloc");
    void* p = __libc_malloc(n);
    if (p) live_add(1);
    return p;
}

SHIM_EXPORT void* calloc(size_t n, size_t size) {
    note(MV_RT_ALLOCATION, "calloc");
    void* p = __libc_calloc(n, size);
    if (p) live_add(1);
    return p;
}

SHIM_EXPORT void* realloc(void* old, size_t n) {
    note(MV_RT_ALLOCATION, "realloc");
    void* p = __libc_realloc(old, n);
    if (!old && p) live_add(1);
    if (old && n == 0 && !p) live_add(-1);
    return p;
}

SHIM_EXPORT void free(void* p) {
    if (!p) return;
    note(MV_RT_ALLOCATION, "free");
    live_add(-1);
    __libc_free(p);
}

SHIM_EXPORT int posix_memalign(void** out, size_t align, size_t n) {
    note(MV_RT_ALLOCATION, "posix_memalign");
    if (align < sizeof(void*) || (align & (align - 1)) != 0) return EINVAL;
    void* p = __libc_memalign(align, n);
    if (!p) return ENOMEM;
    live_add(1);
    *out = p;
    return 0;
}

SHIM_EXPORT void* aligned_alloc(size_t align, size_t n) {
    note(MV_RT_ALLOCATION, "aligned_alloc");
    void* p = __libc_memalign(align, n);
    if (p) live_add(1);
    return p;
}

SHIM_EXPORT void* memalign(size_t align, size_t n) {
    note(MV_RT_ALLOCATION, "memalign");
    void* p = __libc_memalign(align, n);
    if (p) live_add(1);
    return p;
}

/* ---- forwarding helpers ---------------------------------------------------------------------- */

/* dlsym may allocate, which the shim tolerates; the lookup result is cached per function. */
#define REAL(ret, name, params)                                     \
    typedef ret(*name##_fn) params;                                 \
    static name##_fn real_##name(void) {                            \
        static name##_fn fn;                                        \
        if (!fn) fn = (name##_fn)dlsym(RTLD_NEXT, #name);           \
        return fn;                                                  \
    }

REAL(int, pthread_mutex_lock, (pthread_mutex_t*))
REAL(int, pthread_mutex_timedlock, (pthread_mutex_t*, const struct timespec*))
REAL(int, pthread_cond_wait, (pthread_cond_t*, pthread_mutex_t*))
REAL(int, pthread_cond_timedwait, (pthread_cond_t*, pthread_mutex_t*, const struct timespec*))
REAL(int, pthread_cond_signal, (pthread_cond_t*))
REAL(int, pthread_cond_broadcast, (pthread_cond_t*))
REAL(int, pthread_rwlock_rdlock, (pthread_rwlock_t*))
REAL(int, pthread_rwlock_wrlock, (pthread_rwlock_t*))
REAL(unsigned, sleep, (unsigned))
REAL(int, usleep, (useconds_t))
REAL(int, nanosleep, (const struct timespec*, struct timespec*))
REAL(int, clock_nanosleep, (clockid_t, int, const struct timespec*, struct timespec*))
REAL(int, open, (const char*, int, ...))
REAL(int, open64, (const char*, int, ...))
REAL(int, openat, (int, const char*, int, ...))
REAL(FILE*, fopen, (const char*, const char*))
REAL(FILE*, fopen64, (const char*, const char*))
REAL(int, socket, (int, int, int))
REAL(int, connect, (int, const struct sockaddr*, socklen_t))
REAL(ssize_t, send, (int, const void*, size_t, int))
REAL(ssize_t, sendto, (int, const void*, size_t, int, const struct sockaddr*, socklen_t))
REAL(ssize_t, recv, (int, void*, size_t, int))
REAL(ssize_t, recvfrom, (int, void*, size_t, int, struct sockaddr*, socklen_t*))
REAL(void, __cxa_throw, (void*, void*, void (*)(void*)))

/* ---- locks ----------------------------------------------------------------------------------- */

SHIM_EXPORT int pthread_mutex_lock(pthread_mutex_t* m) {
    note(MV_RT_LOCK, "pthread_mutex_lock");
    return real_pthread_mutex_lock()(m);
}
SHIM_EXPORT int pthread_mutex_timedlock(pthread_mutex_t* m, const struct timespec* t) {
    note(MV_RT_LOCK, "pthread_mutex_timedlock");
    return real_pthread_mutex_timedlock()(m, t);
}
SHIM_EXPORT int pthread_cond_wait(pthread_cond_t* c, pthread_mutex_t* m) {
    note(MV_RT_LOCK, "pthread_cond_wait");
    return real_pthread_cond_wait()(c, m);
}
SHIM_EXPORT int pthread_cond_timedwait(pthread_cond_t* c, pthread_mutex_t* m, const struct timespec* t) {
    note(MV_RT_LOCK, "pthread_cond_timedwait");
    return real_pthread_cond_timedwait()(c, m, t);
}
SHIM_EXPORT int pthread_cond_signal(pthread_cond_t* c) {
    note(MV_RT_LOCK, "pthread_cond_signal");
    return real_pthread_cond_signal()(c);
}
SHIM_EXPORT int pthread_cond_broadcast(pthread_cond_t* c) {
    note(MV_RT_LOCK, "pthread_cond_broadcast");
    return real_pthread_cond_broadcast()(c);
}
SHIM_EXPORT int pthread_rwlock_rdlock(pthread_rwlock_t* l) {
    note(MV_RT_LOCK, "pthread_rwlock_rdlock");
    return real_pthread_rwlock_rdlock()(l);
}
SHIM_EXPORT int pthread_rwlock_wrlock(pthread_rwlock_t* l) {
    note(MV_RT_LOCK, "pthread_rwlock_wrlock");
    return real_pthread_rwlock_wrlock()(l);
}

/* ---- sleeping -------------------------------------------------------------------------------- */

SHIM_EXPORT unsigned sleep(unsigned s) {
    note(MV_RT_SLEEP, "sleep");
    return real_sleep()(s);
}
SHIM_EXPORT int usleep(useconds_t us) {
    note(MV_RT_SLEEP, "usleep");
    return real_usleep()(us);
}
SHIM_EXPORT int nanosleep(const struct timespec* t, struct timespec* rest) {
    note(MV_RT_SLEEP, "nanosleep");
    return real_nanosleep()(t, rest);
}
SHIM_EXPORT int clock_nanosleep(clockid_t c, int flags, const struct timespec* t, struct timespec* rest) {
    note(MV_RT_SLEEP, "clock_nanosleep");
    return real_clock_nanosleep()(c, flags, t, rest);
}

/* ---- files ----------------------------------------------------------------------------------- */

static mode_t mode_arg(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

SHIM_EXPORT int open(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    note(MV_RT_FILE, "open");
    return real_open()(path, flags, mode);
}
SHIM_EXPORT int open64(const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    note(MV_RT_FILE, "open64");
    return real_open64()(path, flags, mode);
}
SHIM_EXPORT int openat(int dir, const char* path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = mode_arg(flags, ap);
    va_end(ap);
    note(MV_RT_FILE, "openat");
    return real_openat()(dir, path, flags, mode);
}
SHIM_EXPORT FILE* fopen(const char* path, const char* mode) {
    note(MV_RT_FILE, "fopen");
    return real_fopen()(path, mode);
}
SHIM_EXPORT FILE* fopen64(const char* path, const char* mode) {
    note(MV_RT_FILE, "fopen64");
    return real_fopen64()(path, mode);
}

/* ---- sockets --------------------------------------------------------------------------------- */

SHIM_EXPORT int socket(int domain, int type, int protocol) {
    note(MV_RT_NETWORK, "socket");
    return real_socket()(domain, type, protocol);
}
SHIM_EXPORT int connect(int fd, const struct sockaddr* a, socklen_t n) {
    note(MV_RT_NETWORK, "connect");
    return real_connect()(fd, a, n);
}
SHIM_EXPORT ssize_t send(int fd, const void* b, size_t n, int flags) {
    note(MV_RT_NETWORK, "send");
    return real_send()(fd, b, n, flags);
}
SHIM_EXPORT ssize_t sendto(int fd, const void* b, size_t n, int flags, const struct sockaddr* a, socklen_t an) {
    note(MV_RT_NETWORK, "sendto");
    return real_sendto()(fd, b, n, flags, a, an);
}
SHIM_EXPORT ssize_t recv(int fd, void* b, size_t n, int flags) {
    note(MV_RT_NETWORK, "recv");
    return real_recv()(fd, b, n, flags);
}
SHIM_EXPORT ssize_t recvfrom(int fd, void* b, size_t n, int flags, struct sockaddr* a, socklen_t* an) {
    note(MV_RT_NETWORK, "recvfrom");
    return real_recvfrom()(fd, b, n, flags, a, an);
}

/* ---- exceptions ------------------------------------------------------------------------------ */

SHIM_EXPORT __attribute__((noreturn)) void __cxa_throw(void* object, void* type, void (*destructor)(void*)) {
    note(MV_RT_EXCEPTION, "__cxa_throw");
    real___cxa_throw()(object, type, destructor);
    abort();
}
