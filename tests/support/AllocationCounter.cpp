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

inline void noteFree(const volatile void* p) noexcept
{
    if (armed > 0 && p != nullptr)
        ++freeCount;
}
} // namespace

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// The sanitizers own malloc and operator new, and check that each block is freed the way it was
// allocated: replacing either would blind that check. They call these hooks for every
// allocation and free instead, C or C++ alike.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*));
namespace
{
void onSanitizerMalloc(const volatile void*, std::size_t) noexcept
{
    noteAllocation();
}

void onSanitizerFree(const volatile void* p) noexcept
{
    noteFree(p);
}

const bool hooksInstalled =
    __sanitizer_install_malloc_and_free_hooks(onSanitizerMalloc, onSanitizerFree) != 0;
} // namespace
#else
extern "C"
{
    void* __libc_malloc(size_t);
    void* __libc_calloc(size_t, size_t);
    void* __libc_realloc(void*, size_t);
    void* __libc_memalign(size_t, size_t);
    void* __libc_valloc(size_t);
    void __libc_free(void*);
}
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

    void* valloc(size_t size)
    {
        noteAllocation();
        return __libc_valloc(size);
    }

    int posix_memalign(void** out, size_t alignment, size_t size)
    {
        noteAllocation();
        *out = __libc_memalign(alignment, size);
        return *out != nullptr ? 0 : 12 /* ENOMEM */;
    }
}

// operator new/delete go straight to the raw allocator, so each allocation counts once.
namespace
{
void* countedNew(std::size_t size)
{
    noteAllocation();
    if (void* p = __libc_malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* countedAlignedNew(std::size_t size, std::align_val_t alignment)
{
    noteAllocation();
    const auto align = static_cast<std::size_t>(alignment);
    void* p = __libc_memalign(align, size == 0 ? 1 : size);
    if (p == nullptr)
        throw std::bad_alloc();
    return p;
}

void countedDelete(void* p) noexcept
{
    noteFree(p);
    __libc_free(p);
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
#endif

namespace testsupport
{
ScopedHeapCount::ScopedHeapCount() : start{allocationCount, freeCount}
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    if (!hooksInstalled)
        ADD_FAILURE() << "the sanitizer has no room for the heap counter's hooks: nothing is counted";
#endif
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
