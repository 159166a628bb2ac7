// Creating many identified elements (interning plus ordered insertion into the root
// group) and finding each by identifier, as an import of a large network does.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "api_guard.h"
#include "database.h"
#include "vexo/core.h"
#include "vexo/enumerate.h"
#include "vexo/model.h"

using namespace vexo::core;

namespace {

std::vector<std::u16string> frameIds(size_t n, bool shuffled)
{
    std::vector<std::u16string> ids(n);
    for (size_t i = 0; i < n; ++i) {
        // A multiplicative step visits every index once in a scattered order.
        const size_t k = shuffled ? (i * 7919) % n : i;
        char text[32];
        std::snprintf(text, sizeof text, "Frame_%06zu", k);
        ids[i].assign(text, text + std::char_traits<char>::length(text));
    }
    return ids;
}

bool gWithFramesGroup = true;

Frame *createFrame(Vexo *db, const VexoChar *id)
{
    Frame *frame = allocateNode<Frame>(db);
    if (frame == nullptr || setElementId(db, frame, id) != S_OK)
        return nullptr;
    if (!gWithFramesGroup)
        return frame;
    VexoNode *entry = handleOf(frame);
    DatabaseCollections *collections = nullptr;
    collectionsOf(db, &collections);
    insertIntoGroup(&entry, 1, kSmallNodeLayout, db, Frame::kCode, collections->frames,
                    &collections->frames->children);
    return frame;
}

void BM_CreateFrames(benchmark::State &state)
{
    const auto n = static_cast<size_t>(state.range(0));
    const std::vector<std::u16string> ids = frameIds(n, state.range(1) != 0);
    gWithFramesGroup = state.range(2) != 0;
    double bytesPerElement = 0;
    for (auto _ : state) {
        VexoNode *handle = nullptr;
        Vexo_create(u"Bench", &handle);
        Vexo *db = databaseAs(handle);
        for (const std::u16string &id : ids) {
            if (createFrame(db, id.c_str()) == nullptr)
                state.SkipWithError("creation failed");
        }
        state.PauseTiming();
        bytesPerElement = double(trackingStats(db->allocator).bytes) / double(n);
        Vexo_destroy(handle);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
    state.counters["bytes_per_element"] = bytesPerElement;
}
// Arguments: element count, scattered identifiers, also insert into the "@frames" group.
BENCHMARK(BM_CreateFrames)
    ->Args({100000, 0, 0})
    ->Args({100000, 1, 0})
    ->Args({100000, 0, 1})
    ->Args({100000, 1, 1})
    ->Unit(benchmark::kMillisecond);

void BM_FindFrames(benchmark::State &state)
{
    const auto n = static_cast<size_t>(state.range(0));
    const std::vector<std::u16string> ids = frameIds(n, true);
    VexoNode *handle = nullptr;
    Vexo_create(u"Bench", &handle);
    for (const std::u16string &id : ids)
        createFrame(databaseAs(handle), id.c_str());
    VexoNode *found = nullptr;
    if (Vexo_findByElementId(handle, ids[n / 2].c_str(), &found) != S_OK)
        state.SkipWithError("lookup failed");
    for (auto _ : state) {
        for (const std::u16string &id : ids) {
            Vexo_findByElementId(handle, id.c_str(), &found);
            benchmark::DoNotOptimize(found);
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
    Vexo_destroy(handle);
}
BENCHMARK(BM_FindFrames)->Arg(100000)->Unit(benchmark::kMillisecond);

// The public creation function: identifier, root group and the "@frames" group. The
// default groups keep 13-entry chunks, so scattered identifiers cost a walk over the
// group's chunks per insertion.
void BM_VexoCreateFrame(benchmark::State &state)
{
    const auto n = static_cast<size_t>(state.range(0));
    const std::vector<std::u16string> ids = frameIds(n, state.range(1) != 0);
    for (auto _ : state) {
        VexoNode *db = nullptr, *frame = nullptr;
        Vexo_create(u"Bench", &db);
        for (const std::u16string &id : ids) {
            if (Vexo_createFrame(db, id.c_str(), 8, &frame) != S_OK)
                state.SkipWithError("creation failed");
        }
        state.PauseTiming();
        Vexo_destroy(db);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
}
BENCHMARK(BM_VexoCreateFrame)->Args({100000, 0})->Args({10000, 1})->Unit(benchmark::kMillisecond);

// Ordered inserts of existing frames into one group, identifiers scattered: the group's
// chunk directory makes each insert a bisection (the curve over 1x, 10x, 100x is n log n).
void BM_InsertIntoGroup(benchmark::State &state)
{
    const auto n = static_cast<size_t>(state.range(0));
    const std::vector<std::u16string> ids = frameIds(n, true);
    VexoNode *db = nullptr;
    Vexo_create(u"Bench", &db);
    std::vector<VexoNode *> frames(n);
    for (size_t i = 0; i < n; ++i)
        Vexo_createFrame(db, ids[i].c_str(), 8, &frames[i]);
    for (auto _ : state) {
        VexoNode *group = nullptr;
        Vexo_createElementGroup(db, nullptr, nullptr, nullptr, &group);
        for (VexoNode *frame : frames)
            Vexo_insertChildren(group, 1, &frame);
        state.PauseTiming();
        VexoEnumerator *enumerator = nullptr;
        uint32_t count = 0;
        Vexo_enumChildren(group, &enumerator);
        Vexo_enumeratorGetCount(enumerator, &count);
        Vexo_enumeratorDestroy(enumerator);
        if (count != n)
            state.SkipWithError("group incomplete");
        state.ResumeTiming();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
    Vexo_destroy(db);
}
BENCHMARK(BM_InsertIntoGroup)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// Lookups of every frame in a group filled in identifier order: a bisection each.
void BM_FindChildren(benchmark::State &state)
{
    const auto n = static_cast<size_t>(state.range(0));
    const std::vector<std::u16string> ids = frameIds(n, true);
    VexoNode *db = nullptr, *group = nullptr, *found = nullptr;
    Vexo_create(u"Bench", &db);
    Vexo_createElementGroup(db, nullptr, nullptr, nullptr, &group);
    for (const std::u16string &id : ids) {
        VexoNode *frame = nullptr;
        Vexo_createFrame(db, id.c_str(), 8, &frame);
        Vexo_insertChildren(group, 1, &frame);
    }
    for (auto _ : state) {
        for (const std::u16string &id : ids) {
            if (Vexo_findChildByElementId(group, id.c_str(), &found) != S_OK)
                state.SkipWithError("lookup failed");
        }
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(n));
    Vexo_destroy(db);
}
BENCHMARK(BM_FindChildren)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
