// Node filters at growing sizes: asking a ladder of combinations that share their members
// (2^depth paths, each combination answered once), and building chains of combinations in
// several orders, where every append checks for a cycle.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <cstdlib>
#include <vector>

#include "vexo/core.h"
#include "vexo/enumerate.h"
#include "vexo/model.h"

namespace {

void require(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "filter_bench: %s\n", what);
        std::abort();
    }
}

struct Filters {
    std::vector<VexoFilter *> all;
    ~Filters()
    {
        for (VexoFilter *filter : all)
            Vexo_destroyFilter(filter);
    }
    VexoFilter *combination()
    {
        VexoFilter *filter = nullptr;
        require(Vexo_createCombinationFilter(0, &filter) == S_OK, "combination");
        all.push_back(filter);
        return filter;
    }
};

// Two combinations per level, each holding both of the level below; the bottom holds an
// identifier-list filter of frame X. Frame Y is selected by nothing, so every
// combination is asked.
void BM_AskSharedMembers(benchmark::State &state)
{
    const auto depth = static_cast<int>(state.range(0));
    VexoNode *db = nullptr, *x = nullptr, *y = nullptr;
    require(Vexo_create(u"bench", &db) == S_OK, "database");
    require(Vexo_createFrame(db, u"X", 8, &x) == S_OK && Vexo_createFrame(db, u"Y", 8, &y) == S_OK, "frames");
    Filters filters;
    VexoFilter *leaf = nullptr;
    require(Vexo_createIdListFilterW(db, 0, u"X\0", &leaf) == S_OK, "leaf");
    filters.all.push_back(leaf);
    VexoFilter *left = leaf, *right = leaf;
    for (int level = 0; level < depth; ++level) {
        VexoFilter *const members[] = {left, right};
        VexoFilter *a = filters.combination(), *b = filters.combination();
        require(Vexo_appendFilter(a, 2, members) == S_OK && Vexo_appendFilter(b, 2, members) == S_OK, "append");
        left = a;
        right = b;
    }
    require(Vexo_filterNode(left, x) == S_OK && Vexo_filterNode(left, y) == S_FALSE, "answers");
    for (auto _ : state)
        benchmark::DoNotOptimize(Vexo_filterNode(left, y));
    state.counters["filters"] = double(2 * depth + 1);
    Vexo_destroy(db);
}
BENCHMARK(BM_AskSharedMembers)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

// A chain of range(0) + 1 combinations, made first; then link i is made to hold link
// i + 1 in the order of range(1): 0: bottom up, each link taking the chain below it, the
// links below made later; 1: top down, each link appended to the one above; 2: from the
// far end back, the links below made later; 3: in a random order.
void BM_BuildChain(benchmark::State &state)
{
    const auto links = static_cast<int>(state.range(0));
    const auto order = state.range(1);
    std::mt19937 rng(5);
    for (auto _ : state) {
        Filters filters;
        std::vector<VexoFilter *> chain(links + 1);
        for (VexoFilter *&link : chain)
            link = filters.combination();
        if (order <= 1) {  // made as they are linked
            if (order == 0)
                std::reverse(chain.begin(), chain.end());
            for (int i = 0; i < links; ++i) {
                require(order == 0 ? Vexo_appendFilter(chain[i + 1], 1, &chain[i]) == S_OK
                                   : Vexo_appendFilter(chain[i], 1, &chain[i + 1]) == S_OK,
                        "append");
            }
            if (order == 0)
                std::reverse(chain.begin(), chain.end());
        } else {
            std::vector<int> steps(links);
            for (int i = 0; i < links; ++i)
                steps[i] = order == 2 ? links - 1 - i : i;
            if (order == 3)
                std::shuffle(steps.begin(), steps.end(), rng);
            for (int i : steps)
                require(Vexo_appendFilter(chain[i], 1, &chain[i + 1]) == S_OK, "append");
        }
        // Closing the chain into a ring is refused.
        require(Vexo_appendFilter(chain[links], 1, &chain[0]) == E_INVALIDARG, "cycle refused");
    }
    state.SetItemsProcessed(state.iterations() * links);
}
BENCHMARK(BM_BuildChain)
    ->ArgsProduct({{100, 1000, 10000}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
