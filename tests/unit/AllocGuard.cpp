#include "AllocGuard.hpp"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> gArmed { false };
std::atomic<std::size_t> gCount { 0 };

void note()
{
    if (gArmed.load(std::memory_order_relaxed))
        gCount.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

namespace quolva::test {
void armAllocationCounter() { gCount = 0; gArmed = true; }
std::size_t disarmAllocationCounter() { gArmed = false; return gCount.load(); }
} // namespace quolva::test

// Every C++ allocation goes through these.
void* operator new(std::size_t size)
{
    note();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    note();
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept { return operator new(size, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
// C allocations too (glibc lets a program replace malloc and friends).
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* malloc(std::size_t size) { note(); return __libc_malloc(size); }
void* calloc(std::size_t n, std::size_t size) { note(); return __libc_calloc(n, size); }
void* realloc(void* p, std::size_t size) { note(); return __libc_realloc(p, size); }
}
#endif
