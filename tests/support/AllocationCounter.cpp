#include "AllocationCounter.h"

#include <cstdlib>
#include <new>

namespace
{
// Initial-exec TLS: reading these inside malloc must not itself allocate.
__attribute__((tls_model("initial-exec"))) thread_local int armed = 0;
__attribute__((tls_model("initial-exec"))) thread_local long allocationCount = 0;
__attribute__((tls_model("initial-exec"))) thread_local long freeCount = 0;

inline void noteAllocation() noexcept
{
    if (armed > 0)
        ++allocationCount;
}

inline void noteFree(void* p) noexcept
{
    if (armed > 0 && p != nullptr)
        ++freeCount;
}
} // namespace

namespace testsupport
{
ScopedHeapCount::ScopedHeapCount() : start{allocationCount, freeCount}
{
    ++armed;
}

ScopedHeapCount::~ScopedHeapCount()
{
    --armed;
}

HeapCounts ScopedHeapCount::counts() const
{
    return {allocationCount - start.allocations, freeCount - start.frees};
}
} // namespace testsupport

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// AddressSanitizer and ThreadSanitizer own malloc; count at operator new/delete only.
#define RAW_MALLOC std::malloc
#define RAW_FREE std::free
#else
extern "C"
{
    void* __libc_malloc(size_t);
    void* __libc_calloc(size_t, size_t);
    void* __libc_realloc(void*, size_t);
    void* __libc_memalign(size_t, size_t);
    void __libc_free(void*);
}
#define RAW_MALLOC __libc_malloc
#define RAW_FREE __libc_free

// The C allocator, for allocations made by C code (and by anything that bypasses operator new).
extern "C"
{
    void* malloc(size_t size)
    {
        noteAllocation();
        return __libc_malloc(size);
    }

    void* calloc(size_t count, size_t size)
    {
        noteAllocation();
        return __libc_calloc(count, size);
    }

    void* realloc(void* p, size_t size)
    {
        noteAllocation();
        return __libc_realloc(p, size);
    }

    void free(void* p)
    {
        noteFree(p);
        __libc_free(p);
    }

    void* memalign(size_t alignment, size_t size)
    {
        noteAllocation();
        return __libc_memalign(alignment, size);
    }

    void* aligned_alloc(size_t alignment, size_t size)
    {
        noteAllocation();
        return __libc_memalign(alignment, size);
    }

    int posix_memalign(void** out, size_t alignment, size_t size)
    {
        noteAllocation();
        *out = __libc_memalign(alignment, size);
        return *out != nullptr ? 0 : 12 /* ENOMEM */;
    }
}
#endif

// operator new/delete go straight to the raw allocator, so each allocation counts once.
namespace
{
void* countedNew(std::size_t size)
{
    noteAllocation();
    if (void* p = RAW_MALLOC(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* countedAlignedNew(std::size_t size, std::align_val_t alignment)
{
    noteAllocation();
    const auto align = static_cast<std::size_t>(alignment);
    void* p = nullptr;
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (posix_memalign(&p, align, size == 0 ? 1 : size) != 0)
        p = nullptr;
#else
    p = __libc_memalign(align, size == 0 ? 1 : size);
#endif
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void countedDelete(void* p) noexcept
{
    noteFree(p);
    RAW_FREE(p);
}
} // namespace

void* operator new(std::size_t size)
{
    return countedNew(size);
}
void* operator new[](std::size_t size)
{
    return countedNew(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try
    {
        return countedNew(size);
    }
    catch (...)
    {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
void* operator new(std::size_t size, std::align_val_t a)
{
    return countedAlignedNew(size, a);
}
void* operator new[](std::size_t size, std::align_val_t a)
{
    return countedAlignedNew(size, a);
}
void operator delete(void* p) noexcept
{
    countedDelete(p);
}
void operator delete[](void* p) noexcept
{
    countedDelete(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    countedDelete(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    countedDelete(p);
}
void operator delete(void* p, std::align_val_t) noexcept
{
    countedDelete(p);
}
void operator delete[](void* p, std::align_val_t) noexcept
{
    countedDelete(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept
{
    countedDelete(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept
{
    countedDelete(p);
}
