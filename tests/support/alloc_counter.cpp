#include "alloc_counter.h"

#include <dlfcn.h>

#include <atomic>
#include <cstddef>
#include <cstring>

namespace {

std::atomic<long> allocations{0};
std::atomic<bool> failing{false};

// dlsym may itself allocate while the real functions are being looked up: serve those requests
// from a small static arena that is never freed.
alignas(64) char bootstrap[16384];
std::size_t bootstrapUsed = 0;
bool resolving = false;

void* bootstrapAlloc(std::size_t size) {
    const std::size_t rounded = (size + 63) & ~std::size_t{63};
    if (bootstrapUsed + rounded > sizeof bootstrap) return nullptr;
    void* p = bootstrap + bootstrapUsed;
    bootstrapUsed += rounded;
    return p;
}
bool fromBootstrap(void* p) {
    return p >= static_cast<void*>(bootstrap) && p < static_cast<void*>(bootstrap + sizeof bootstrap);
}

template <typename F>
F real(const char* name) {
    resolving = true;
    F f = reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
    resolving = false;
    return f;
}

}  // namespace

long allocationCount() { return allocations.load(); }

void failAllocations(bool fail) { failing.store(fail); }

extern "C" {

void* malloc(std::size_t size) {
    static auto next = real<void* (*)(std::size_t)>("malloc");
    if (resolving || next == nullptr) return bootstrapAlloc(size);
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (failing.load(std::memory_order_relaxed)) return nullptr;
    return next(size);
}

void* calloc(std::size_t count, std::size_t size) {
    if (resolving) {
        void* p = bootstrapAlloc(count * size);
        if (p) std::memset(p, 0, count * size);
        return p;
    }
    static auto next = real<void* (*)(std::size_t, std::size_t)>("calloc");
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (failing.load(std::memory_order_relaxed)) return nullptr;
    return next(count, size);
}

void* realloc(void* p, std::size_t size) {
    static auto next = real<void* (*)(void*, std::size_t)>("realloc");
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (failing.load(std::memory_order_relaxed)) return nullptr;
    if (fromBootstrap(p)) {
        void* fresh = malloc(size);
        if (fresh) std::memcpy(fresh, p, size);
        return fresh;
    }
    return next(p, size);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    static auto next = real<int (*)(void**, std::size_t, std::size_t)>("posix_memalign");
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (failing.load(std::memory_order_relaxed)) return 12;  // ENOMEM
    return next(out, alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
    static auto next = real<void* (*)(std::size_t, std::size_t)>("aligned_alloc");
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (failing.load(std::memory_order_relaxed)) return nullptr;
    return next(alignment, size);
}

void* memalign(std::size_t alignment, std::size_t size) {
    static auto next = real<void* (*)(std::size_t, std::size_t)>("memalign");
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (failing.load(std::memory_order_relaxed)) return nullptr;
    return next(alignment, size);
}

void free(void* p) {
    static auto next = real<void (*)(void*)>("free");
    if (p == nullptr || fromBootstrap(p)) return;
    next(p);
}

}  // extern "C"
