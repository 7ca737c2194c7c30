// The heap counter behind EXPECT_NO_HEAP sees every way code reaches the heap (C++ and C, inside
// C libraries too), in plain builds and under the sanitizers alike; it sees only the calling
// thread, and nothing when nothing allocates. A counter that went blind would let every
// no-allocation test pass.
#include "support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>

namespace
{
// Keeps the optimiser from dropping an allocation whose block is never used.
template <typename T> T* escape(T* p)
{
    asm volatile("" : : "g"(p) : "memory");
    return p;
}

#if defined(__SANITIZE_THREAD__)
// GCC 12's ThreadSanitizer runs no allocation hook for the aligned C allocators (their frees
// it reports); aligned operator new it does report.
constexpr long alignedC = 0;
#else
constexpr long alignedC = 1;
#endif

struct HeapCase
{
    const char* what;
    void (*run)();
    long allocations; // at least (a sanitizer's realloc is an allocation and a free)
    long frees;
};

const HeapCase heapCases[] = {
    {"new and delete", [] { delete escape(new int(1)); }, 1, 1},
    {"new[] and delete[]", [] { delete[] escape(new float[64]); }, 1, 1},
    {"aligned new",
     []
     {
         struct alignas(64) Block
         {
             float x[16];
         };
         delete escape(new Block);
     },
     1, 1},
    {"nothrow new", [] { delete escape(new (std::nothrow) double(2.0)); }, 1, 1},
    {"malloc and free", [] { std::free(escape(std::malloc(100))); }, 1, 1},
    {"calloc", [] { std::free(escape(std::calloc(10, 10))); }, 1, 1},
    {"realloc",
     []
     {
         void* p = escape(std::malloc(16));
         std::free(escape(std::realloc(p, 4096)));
     },
     2, 1},
    {"posix_memalign",
     []
     {
         void* p = nullptr;
         if (posix_memalign(&p, 64, 256) == 0)
             std::free(escape(p));
     },
     alignedC, 1},
    {"aligned_alloc", [] { std::free(escape(aligned_alloc(64, 256))); }, alignedC, 1},
    {"valloc", [] { std::free(escape(valloc(100))); }, alignedC, 1},
    {"strdup inside the C library", [] { std::free(escape(strdup("a string the C library copies"))); }, 1, 1},
    {"a long std::string",
     []
     {
         std::string text(200, 'x');
         escape(text.data());
     },
     1, 1},
};

TEST(HeapCounter, seesEveryWayToTheHeap)
{
    for (const auto& c : heapCases)
    {
        SCOPED_TRACE(c.what);
        const auto counts = testsupport::countHeapOperations(c.run);
        EXPECT_GE(counts.allocations, c.allocations);
        EXPECT_GE(counts.frees, c.frees);
    }
}

TEST(HeapCounter, countsNothingWithoutHeapWork)
{
    const auto counts = testsupport::countHeapOperations(
        []
        {
            volatile int sum = 0;
            for (int i = 0; i < 1000; ++i)
                sum = sum + i;
            char text[32];
            std::memset(escape(text), 'x', sizeof text);
        });
    EXPECT_EQ(counts.allocations, 0);
    EXPECT_EQ(counts.frees, 0);
    EXPECT_NO_HEAP(std::free(nullptr));
}

TEST(HeapCounter, ignoresOtherThreads)
{
    std::atomic<int> stage{0};
    std::thread other(
        [&]
        {
            while (stage.load() != 1)
                std::this_thread::yield();
            for (int i = 0; i < 100; ++i)
                std::free(escape(std::malloc(64)));
            delete escape(new int(3));
            stage.store(2);
        });
    {
        testsupport::ScopedHeapCount scope;
        stage.store(1);
        while (stage.load() != 2)
            std::this_thread::yield();
        EXPECT_EQ(scope.counts().allocations, 0);
        EXPECT_EQ(scope.counts().frees, 0);
    }
    other.join();
}
} // namespace
