// Allocators: the factory's kinds, the shared heap allocator, the tracking allocator's counts and the arenas it
// hands on to the next allocators, and the intrusive list's guard against adding a link twice.
#include "allocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using namespace vexo::core;

TEST(Allocator, FactoryKindsTrackingAndTheIntrusiveListGuard)
{
    Allocator *allocator = reinterpret_cast<Allocator *>(0x1);
    EXPECT_EQ(createAllocator(7, 0, &allocator), E_INVALIDARG);
    EXPECT_EQ(allocator, nullptr);
    EXPECT_EQ(createAllocator(0, 0, nullptr), E_INVALIDARG);
    Allocator *heap1 = nullptr, *heap2 = nullptr;
    ASSERT_EQ(createAllocator(kHeapAllocator, 0, &heap1), S_OK);
    ASSERT_EQ(createAllocator(kHeapAllocator, 0, &heap2), S_OK);
    EXPECT_EQ(heap1, heap2);  // one shared instance
    release(heap1, allocate(heap1, 24));
    destroyAllocator(heap1);

    ASSERT_EQ(createAllocator(kTrackingAllocator, 0, &allocator), S_OK);
    allocate(allocator, 10);
    allocate(allocator, 100);
    const TrackingStats stats = trackingStats(allocator);
    EXPECT_EQ(stats.blocks, 2u);
    EXPECT_GE(stats.bytes, 110u + 2 * 8);
    destroyAllocator(allocator);  // the sanitizer build proves both blocks are freed

    // The arenas of destroyed allocators serve the next ones, each to one allocator only:
    // two filled in turn after a third let its arenas go keep what was written.
    Allocator *first = nullptr, *second = nullptr, *third = nullptr;
    ASSERT_EQ(createAllocator(kTrackingAllocator, 0, &first), S_OK);
    for (int i = 0; i < 20000; ++i)
        allocate(first, 48);
    destroyAllocator(first);
    ASSERT_EQ(createAllocator(kTrackingAllocator, 0, &second), S_OK);
    ASSERT_EQ(createAllocator(kTrackingAllocator, 0, &third), S_OK);
    std::vector<std::pair<uint64_t *, uint64_t>> written;
    for (uint64_t i = 0; i < 20000; ++i) {
        auto *cell = static_cast<uint64_t *>(allocate(i % 2 == 0 ? second : third, 48));
        ASSERT_NE(cell, nullptr);
        std::fill(cell, cell + 6, i);
        written.emplace_back(cell, i);
    }
    for (const auto &[cell, value] : written)
        ASSERT_TRUE(std::all_of(cell, cell + 6, [value = value](uint64_t v) { return v == value; })) << value;
    destroyAllocator(second);
    destroyAllocator(third);

    IntrusiveList list = {};
    ListLink a = {}, b = {};
    addTail(&list, &a);
    addTail(&list, &b);
    testing::internal::CaptureStdout();
    addTail(&list, &a);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind("error: addTail() not executed, object already in the collection=", 0), 0u) << printed;
    EXPECT_TRUE(list.first == &a && list.last == &b && a.next == &b && b.next == &a && a.prev == &b);
}

