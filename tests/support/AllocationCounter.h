#pragma once

#include <gtest/gtest.h>

#include <utility>

// Counts heap operations (allocations and frees) made by the calling thread while a check is
// armed, in C libraries too. The hooks live in the test binary: global operator new/delete and
// malloc and friends, or under AddressSanitizer and ThreadSanitizer the sanitizer's own
// allocation hooks.
namespace testsupport
{

struct HeapCounts
{
    long allocations = 0;
    long frees = 0;
    long total() const { return allocations + frees; }
};

class ScopedHeapCount
{
public:
    ScopedHeapCount();
    ~ScopedHeapCount();
    HeapCounts counts() const;

    ScopedHeapCount(const ScopedHeapCount&) = delete;
    ScopedHeapCount& operator=(const ScopedHeapCount&) = delete;

private:
    HeapCounts start;
};

template <typename Fn> HeapCounts countHeapOperations(Fn&& fn)
{
    ScopedHeapCount scope;
    std::forward<Fn>(fn)();
    return scope.counts();
}

} // namespace testsupport

// Fails the test if the statement touches the heap on this thread.
#define EXPECT_NO_HEAP(statement)                                                                            \
    do                                                                                                       \
    {                                                                                                        \
        const auto heapCounts_ = ::testsupport::countHeapOperations([&] { statement; });                     \
        EXPECT_EQ(heapCounts_.allocations, 0) << "heap allocation in: " #statement;                          \
        EXPECT_EQ(heapCounts_.frees, 0) << "heap free in: " #statement;                                      \
    } while (false)
