// Chunked lists and cursors: the chunk sizing rule, appends and indexed writes, ordered inserts that split full
// chunks and keep keys sorted, failed allocations that change nothing, and cursors over node and record lists.
#include "node_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

using namespace vexo::core;

namespace {

void *value(uintptr_t v) { return reinterpret_cast<void *>(v); }

struct TrackedList {
    Allocator *allocator = nullptr;
    NodeList list = {};
    TrackedList() { createAllocator(kTrackingAllocator, 0, &allocator); }
    ~TrackedList() { destroyAllocator(allocator); }
    void append(uintptr_t v) { ASSERT_EQ(vexo::core::append(kSmallNodeLayout, allocator, &list, value(v)), S_OK); }
    // The entry at an index, which must exist.
    void *at(uint32_t index) const
    {
        void *entry = value(1);
        EXPECT_EQ(getAt(&list, index, &entry), S_OK) << index;
        return entry;
    }
};

int compareValues(const void *key, const void *entry)
{
    const auto k = reinterpret_cast<uintptr_t>(key), e = reinterpret_cast<uintptr_t>(entry);
    return k < e ? -1 : k > e ? 1 : 0;
}

// The chunks of a list in list order (their ring closes at the first), and their entry counts.
std::vector<Chunk *> chunksOf(const NodeList &list)
{
    std::vector<Chunk *> chunks;
    Chunk *const first = firstChunk(list.chunks);
    for (Chunk *chunk = first; chunk != nullptr && (chunks.empty() || chunk != first); chunk = nextChunk(chunk))
        chunks.push_back(chunk);
    return chunks;
}
std::vector<uint32_t> chunkCounts(const NodeList &list)
{
    std::vector<uint32_t> counts;
    for (Chunk *chunk : chunksOf(list))
        counts.push_back(chunk->count);
    return counts;
}

std::vector<uintptr_t> drain(const NodeList &list, uint32_t batch)
{
    ListCursor cursor;
    cursorInit(&cursor, &kSmallNodeLayout, &list);
    std::vector<void *> buffer(batch);
    std::vector<uintptr_t> out;
    for (uint32_t fetched = 0; cursorNext(&cursor, batch, buffer.data(), &fetched) == S_OK;)
        std::transform(buffer.begin(), buffer.begin() + fetched, std::back_inserter(out),
                       [](void *entry) { return reinterpret_cast<uintptr_t>(entry); });
    return out;
}

void insertSorted(TrackedList &t, uintptr_t key)
{
    ListPosition position = {nullptr, 0};
    ASSERT_EQ(findOrdered(&t.list, &position, value(key), compareValues), S_FALSE);
    ASSERT_EQ(insertOrdered(kSmallNodeLayout, t.allocator, &t.list, position, value(key)), S_OK);
}

}  // namespace

TEST(NodeList, ChunksFollowTheSizingRuleAndAppendAndSetAtFillThemInOrder)
{
    struct Case { const char *what; ChunkLayout layout; uint32_t entries; };
    const Case cases[] = {
        {"groups and relation lists", kSmallNodeLayout, 13}, {"root group", kLargeNodeLayout, 2013},
        {"interned strings", kInternLayout, 8109},           {"16-byte records", recordListLayout(16, 3, 16), 3},
        {"32-byte records", recordListLayout(32, 3, 32), 3}, {"4-byte records", recordListLayout(4, 3, 4), 13},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.layout.capacity, c.entries);
        EXPECT_EQ(c.layout.chunkBytes, kChunkHeader + c.entries * c.layout.entrySize);
    }

    TrackedList t;
    for (uintptr_t i = 100; i < 114; ++i)
        t.append(i);
    EXPECT_EQ(count(&t.list), 14u);
    EXPECT_EQ(chunkCounts(t.list), (std::vector<uint32_t>{13, 1}));
    EXPECT_EQ(t.at(13), value(113));
    void *entry = nullptr;
    EXPECT_EQ(getAt(&t.list, 14, &entry), S_FALSE);
    EXPECT_EQ(getAt(&t.list, 0, nullptr), E_INVALIDARG);

    TrackedList grown;  // setAt beyond the end fills with null entries, from no chunk at all
    ASSERT_EQ(setAt(kSmallNodeLayout, grown.allocator, &grown.list, 5, value(55)), S_OK);
    EXPECT_EQ(count(&grown.list), 6u);
    EXPECT_EQ(drain(grown.list, 8), (std::vector<uintptr_t>{0, 0, 0, 0, 0, 55}));
    ASSERT_EQ(setAt(kSmallNodeLayout, grown.allocator, &grown.list, 40, value(40)), S_OK);
    EXPECT_EQ(chunkCounts(grown.list), (std::vector<uint32_t>{13, 13, 13, 2}));
    ASSERT_EQ(setAt(kSmallNodeLayout, grown.allocator, &grown.list, 5, value(56)), S_OK);
    EXPECT_EQ(grown.at(5), value(56));
    EXPECT_EQ(grown.at(40), value(40));
}

TEST(NodeList, OrderedInsertSplitsFullChunksAndKeepsRandomKeysSorted)
{
    TrackedList t;
    std::mt19937 random(42);
    std::vector<uintptr_t> keys(500);
    for (uintptr_t i = 0; i < keys.size(); ++i)
        keys[i] = i * 3 + 1;
    std::shuffle(keys.begin(), keys.end(), random);
    for (uintptr_t key : keys)
        insertSorted(t, key);
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(drain(t.list, 7), keys);
    for (uint32_t c : chunkCounts(t.list))
        EXPECT_LE(c, 13u);
    // The directory lists the chunks in list order.
    ASSERT_NE(t.list.directory, nullptr);
    EXPECT_EQ(std::vector<Chunk *>(t.list.directory->chunks, t.list.directory->chunks + t.list.directory->count),
              chunksOf(t.list));
    // Every key is found where it is; a missing key gets the position of its successor, or the end of the last chunk.
    ListPosition untouched = {reinterpret_cast<Chunk *>(0x1), 77};
    const NodeList empty = {};
    EXPECT_EQ(findOrdered(&empty, &untouched, value(5), compareValues), S_FALSE);  // no chunk at all
    EXPECT_EQ(untouched.index, 77u);
    EXPECT_EQ(findOrdered(nullptr, &untouched, value(1), compareValues), E_INVALIDARG);
    EXPECT_EQ(findOrdered(&t.list, nullptr, value(1), compareValues), E_INVALIDARG);
    EXPECT_EQ(findOrdered(&t.list, &untouched, value(1), nullptr), E_INVALIDARG);
    for (uintptr_t key = 0; key < 1502; ++key) {
        ListPosition position = {nullptr, 0};
        const bool present = key % 3 == 1 && key <= 1498;
        ASSERT_EQ(findOrdered(&t.list, &position, value(key), compareValues), present ? S_OK : S_FALSE) << key;
        const auto successor = std::lower_bound(keys.begin(), keys.end(), key);
        if (successor == keys.end())
            EXPECT_TRUE(position.chunk == lastChunk(t.list.chunks) && position.index == position.chunk->count) << key;
        else
            EXPECT_EQ(chunkEntries(position.chunk)[position.index], value(*successor)) << key;
    }

    TrackedList halves;
    for (uintptr_t key = 1; key <= 14; ++key)
        insertSorted(halves, key * 10);
    EXPECT_EQ(chunkCounts(halves.list), (std::vector<uint32_t>{6, 8}));  // 13 split 6 + 7, the 14th joins the upper
    std::vector<uintptr_t> want = {10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 110, 120, 130, 140};
    EXPECT_EQ(drain(halves.list, 5), want);
    halves.append(1);
    want.push_back(1);
    EXPECT_EQ(drain(halves.list, 64), want);
}

TEST(NodeList, FailedAllocationsLeaveTheListAsItWas)
{
    // A full chunk: an ordered insert needs a directory and a chunk for the split.
    for (uint32_t n = 1; n <= 2; ++n) {
        SCOPED_TRACE(n);
        TrackedList t;
        for (uintptr_t key = 1; key <= 13; ++key)
            t.append(key * 10);
        ListPosition position = {nullptr, 0};
        ASSERT_EQ(findOrdered(&t.list, &position, value(55), compareValues), S_FALSE);
        failAllocationAfter(n);
        EXPECT_EQ(insertOrdered(kSmallNodeLayout, t.allocator, &t.list, position, value(55)), E_OUTOFMEMORY);
        failAllocationAfter(0);
        EXPECT_EQ(chunkCounts(t.list), std::vector<uint32_t>{13});
        EXPECT_EQ(drain(t.list, 20).size(), 13u);
    }
    TrackedList t;
    t.append(7);
    failAllocationAfter(2);  // an allocation part way (the directory, then three chunks)
    EXPECT_EQ(setAt(kSmallNodeLayout, t.allocator, &t.list, 40, value(40)), E_OUTOFMEMORY);
    failAllocationAfter(0);
    EXPECT_EQ(count(&t.list), 1u);
    failAllocationAfter(1);
    for (uintptr_t i = 0; i < 12; ++i)
        append(kSmallNodeLayout, t.allocator, &t.list, value(i));
    EXPECT_EQ(count(&t.list), 13u);  // the chunk had room: no allocation needed
    EXPECT_EQ(append(kSmallNodeLayout, t.allocator, &t.list, value(99)), E_OUTOFMEMORY);
    failAllocationAfter(0);
    EXPECT_EQ(count(&t.list), 13u);
}


// Batches, skips and exhaustion are the enumerator's tests (it hands them to the cursor as they
// are); here the one state they cannot reach and the argument checks.
TEST(ListCursor, StopsAtTheEndRefusesNullsAndReadsZeroFilledRecords)
{
    TrackedList t;
    for (uintptr_t i = 0; i < 30; ++i)
        t.append(i);
    ListCursor cursor;
    ASSERT_EQ(cursorInit(&cursor, &kSmallNodeLayout, &t.list), S_OK);
    void *out[40] = {};
    uint32_t fetched = 99;
    EXPECT_EQ(cursorSkip(&cursor, 12), S_OK);
    EXPECT_EQ(cursorNext(&cursor, 18, out, &fetched), S_OK);  // exactly the rest: stands at the end
    EXPECT_EQ(std::make_tuple(fetched, out[0], out[17]), std::make_tuple(18u, value(12), value(29)));
    fetched = 77;
    EXPECT_EQ(cursorNext(&cursor, 1, out, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);  // became exhausted during this call
    EXPECT_EQ(cursorNext(nullptr, 1, out, nullptr), E_INVALIDARG);
    EXPECT_EQ(cursorNext(&cursor, 1, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(cursorInit(&cursor, &kSmallNodeLayout, static_cast<NodeList *>(nullptr)), E_INVALIDARG);

    // Walking records in order is the enumerator's test (segments and ranges).
    constexpr ChunkLayout layout = recordListLayout(16, 3, 16);
    RecordList list = {};
    for (uint32_t i = 0; i < 7; ++i) {
        auto *record = static_cast<uint32_t *>(appendRecord(layout, t.allocator, &list));
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record[0] | record[1] | record[2] | record[3], 0u);  // zero-filled
        record[1] = i * 11;
    }
    EXPECT_EQ(count(&list), 7u);
    const uint32_t key = 44;
    auto match = [](const void *k, int32_t, const void *record) {
        return static_cast<const uint32_t *>(record)[1] == *static_cast<const uint32_t *>(k) ? 1 : 0;
    };
    EXPECT_EQ(findRecord(layout, &list, match, &key), 4);
    const uint32_t missing = 45;
    EXPECT_EQ(findRecord(layout, &list, match, &missing), -1);
    ASSERT_EQ(cursorInit(&cursor, &layout, &list), S_OK);  // a skip over records notes no passed node
    ASSERT_EQ(cursorSkip(&cursor, 5), S_OK);
    ASSERT_EQ(cursorNextRecords(&cursor, 2, out, &fetched), S_OK);
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(static_cast<uint32_t *>(out[0])[1], 55u);
    EXPECT_EQ(static_cast<uint32_t *>(out[1])[1], 66u);
}
