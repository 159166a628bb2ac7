// Walking a large default group through the public enumerator: 100,000 frames fetched
// one by one and in batches. Decoders and exporters read every list this way, so the
// cost per entry is what matters ("per_entry" below, in seconds).
#include "vexo/enumerate.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "database.h"
#include "vexo/core.h"

namespace {

using namespace vexo::core;

constexpr uint32_t kFrames = 100000;

std::u16string frameId(uint32_t i)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "F%06u", i);  // zero-padded: ordinal order is numeric order
    return std::u16string(digits, digits + std::char_traits<char>::length(digits));
}

// A database whose "@frames" group holds kFrames identified frames, filled by the same
// identifier-ordered insertion the add functions use (in descending order, which keeps
// the set-up linear and leaves chunks about half full, as ordered insertion does).
struct FrameModel {
    VexoNode *db = nullptr;
    FrameModel()
    {
        if (Vexo_create(u"Bench", &db) != S_OK)
            std::abort();
        Vexo *database = databaseAs(db);
        DatabaseCollections *collections = nullptr;
        collectionsOf(db, &collections);
        for (uint32_t i = kFrames; i-- > 0;) {
            Frame *frame = allocateNode<Frame>(database);
            const std::u16string id = frameId(i);
            VexoNode *entry = reinterpret_cast<VexoNode *>(static_cast<ObjectBase *>(frame));
            if (frame == nullptr || setElementId(database, frame, id.c_str()) != S_OK
                || insertIntoGroup(&entry, 1, kSmallNodeLayout, database, Frame::kCode, collections->frames,
                                   &collections->frames->children) != S_OK)
                std::abort();
        }
    }
    ~FrameModel() { Vexo_destroy(db); }
};

FrameModel &model()
{
    static FrameModel shared;
    return shared;
}

// Fetches every frame in batches of `batch`; returns how many came and whether they came
// in identifier order.
uint32_t walk(VexoEnumerator *e, uint32_t batch, VexoNode **buffer, bool *ordered)
{
    uint32_t total = 0, fetched = 0;
    const VexoChar *previous = nullptr;
    *ordered = true;
    Vexo_enumeratorReset(e);
    while (Vexo_enumeratorNext(e, batch, buffer, &fetched) == S_OK) {
        for (uint32_t i = 0; i < fetched; ++i) {
            const VexoChar *id = nodeAs<ElementId>(buffer[i])->eid;
            if (previous != nullptr && compareUnits(previous, id) >= 0)
                *ordered = false;
            previous = id;
        }
        total += fetched;
    }
    return total;
}

void enumerateFrames(benchmark::State &state)
{
    const auto batch = static_cast<uint32_t>(state.range(0));
    FrameModel &m = model();
    VexoEnumerator *e = nullptr;
    if (Vexo_enumFrames(m.db, &e) != S_OK)
        std::abort();
    std::vector<VexoNode *> buffer(batch);
    bool ordered = false;
    if (walk(e, batch, buffer.data(), &ordered) != kFrames || !ordered) {
        state.SkipWithError("the enumerator did not deliver every frame in order");
        Vexo_enumeratorDestroy(e);
        return;
    }
    for (auto _ : state) {
        Vexo_enumFrames(m.db, &e);  // re-aimed in place, as a client walking the group would
        uint32_t fetched = 0, total = 0;
        while (Vexo_enumeratorNext(e, batch, buffer.data(), &fetched) == S_OK) {
            benchmark::DoNotOptimize(buffer.data());
            total += fetched;
        }
        benchmark::DoNotOptimize(total);
    }
    Vexo_enumeratorDestroy(e);
    state.SetItemsProcessed(state.iterations() * int64_t(kFrames));
    state.counters["per_entry"] =
        benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

BENCHMARK(enumerateFrames)->Name("BM_EnumerateFrames")->Arg(1)->Arg(64)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
