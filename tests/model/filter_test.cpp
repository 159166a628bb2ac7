// Node filters: identifier lists, modes and combinations against a plain model of their answers, shared members
// and long chains, bad arguments, and running out of memory.
#include "filter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "test_db.h"
#include "vexo/enumerate.h"

using namespace vexo::core;
using namespace vexo::model;

namespace {

// An identifier list: each identifier followed by a zero unit, the list by another (which c_str() adds).
template <class Text>
Text idList(std::initializer_list<Text> ids)
{
    Text out;
    for (const Text &id : ids)
        out += id + typename Text::value_type(0);
    return out;
}

// Filters of a test, destroyed at its end.
struct Filters {
    std::vector<VexoFilter *> all;
    ~Filters()
    {
        for (VexoFilter *filter : all)
            EXPECT_EQ(Vexo_destroyFilter(filter), S_OK);
    }
    VexoFilter *keep(VexoFilter *filter)
    {
        EXPECT_NE(filter, nullptr);
        all.push_back(filter);
        return filter;
    }
    VexoFilter *ids(VexoNode *db, const std::u16string &list, uint32_t mode = 0)
    {
        VexoFilter *filter = nullptr;
        EXPECT_EQ(Vexo_createIdListFilterW(db, mode, list.c_str(), &filter), S_OK);
        return keep(filter);
    }
    VexoFilter *named(VexoNode *db, std::initializer_list<std::u16string> names, uint32_t mode = 0)
    {
        return ids(db, idList(names), mode);
    }
    VexoFilter *combination(uint32_t mode = 0)
    {
        VexoFilter *filter = nullptr;
        EXPECT_EQ(Vexo_createCombinationFilter(mode, &filter), S_OK);
        return keep(filter);
    }
};

std::vector<void *> listedNodes(const VexoFilter *filter) { return entries(filterAs(filter)->list); }

HRESULT ask(const VexoFilter *filter, const void *node) { return Vexo_filterNode(filter, nodeHandle(node)); }

}  // namespace

TEST(Filter, IdListSelectsExactlyTheNamedElementsOnceInAddressOrderAndModeOneInverts)
{
    TestDb m;
    Frame *f1 = m.make<Frame>(u"F1"), *f3 = m.make<Frame>(u"F3");
    auto *signal = m.make<Signal>(u"Drehzahl\u00FC");
    auto *unnamed = allocateNode<Frame>(databaseAs(m.handle));
    Filters filters;

    VexoFilter *fromA = nullptr;
    const std::string a = idList<std::string>({"F1", "F2", "Drehzahl\xC3\xBC"});
    ASSERT_EQ(Vexo_createIdListFilterA(m.handle, 0, a.c_str(), &fromA), S_OK);
    filters.keep(fromA);
    for (VexoFilter *filter : {filters.named(m.handle, {u"F1", u"F2", u"Drehzahl\u00FC"}), fromA}) {
        SCOPED_TRACE(filter == fromA ? "UTF-8 list" : "UTF-16 list");
        const std::vector<HRESULT> answers = {ask(filter, f1), ask(filter, signal), ask(filter, f3),
                                              ask(filter, unnamed), ask(filter, m.handle)};
        EXPECT_EQ(answers, (std::vector<HRESULT>{S_OK, S_OK, S_FALSE, S_FALSE, S_FALSE}));
        EXPECT_EQ(listedNodes(filter).size(), 2u) << "F2 names nothing and is skipped";
    }

    struct Case { uint32_t mode; HRESULT forF1, forF3; };
    const Case cases[] = {{0, S_OK, S_FALSE}, {1, S_FALSE, S_OK}, {0x101, S_FALSE, S_OK}, {2, S_OK, S_FALSE}};
    for (const Case &row : cases) {
        VexoFilter *filter = filters.named(m.handle, {u"F1"}, row.mode);
        EXPECT_EQ(ask(filter, f1), row.forF1) << "mode " << row.mode;
        EXPECT_EQ(ask(filter, f3), row.forF3) << "mode " << row.mode;
    }
    VexoFilter *none = filters.combination(VEXO_FILTER_INVERT);
    EXPECT_EQ(ask(none, f1), S_OK) << "an inverted combination without members selects everything";

    std::vector<Frame *> frames;
    for (int i = 0; i < 400; ++i)  // three chunks of 141
        frames.push_back(m.make<Frame>(numbered(u"N", i)));
    std::vector<int> order(frames.size());
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    std::u16string list;
    for (int i : order) {
        if (i % 4 == 0)
            continue;  // every fourth frame stays unselected
        for (int repeat = 0; repeat < (i % 3 == 0 ? 2 : 1); ++repeat)
            list += numbered(u"N", i) + u'\0';
    }
    VexoFilter *filter = filters.ids(m.handle, list);

    const std::vector<void *> listed = listedNodes(filter);
    EXPECT_EQ(listed.size(), 300u) << "duplicates are listed once";
    EXPECT_TRUE(std::is_sorted(listed.begin(), listed.end(), std::less<void *>()));
    EXPECT_EQ(std::adjacent_find(listed.begin(), listed.end()), listed.end());
    for (size_t i = 0; i < frames.size(); ++i)
        EXPECT_EQ(ask(filter, frames[i]), i % 4 == 0 ? S_FALSE : S_OK) << i;
    EXPECT_EQ(kFilterLayout.capacity, 141u);
}

TEST(Filter, IdListWithoutDatabaseIsEmptyAndBadArgumentsAreRefused)
{
    TestDb m;
    auto *frame = m.make<Frame>(u"F1");
    const std::u16string list = idList<std::u16string>({u"F1"});
    struct Case { const char *what; VexoNode *db; const VexoChar *ids; };
    const Case cases[] = {
        {"null database", nullptr, list.c_str()}, {"a frame as database", nodeHandle(frame), list.c_str()},
        {"null list", m.handle, nullptr}, {"empty list", m.handle, u""},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.what);
        VexoFilter *filter = nullptr;
        ASSERT_EQ(Vexo_createIdListFilterW(row.db, 0, row.ids, &filter), S_OK);
        EXPECT_EQ(ask(filter, frame), S_FALSE);
        EXPECT_EQ(Vexo_destroyFilter(filter), S_OK);
    }
    EXPECT_EQ(Vexo_createIdListFilterW(m.handle, 0, list.c_str(), nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_createIdListFilterA(m.handle, 0, "F1\0", nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_createCombinationFilter(0, nullptr), E_INVALIDARG);

    Filters filters;
    VexoFilter *idList1 = filters.named(m.handle, {u"F1"}), *target = filters.combination();
    VexoFilter *const notAFilter = reinterpret_cast<VexoFilter *>(frame);
    VexoFilter *const one[] = {idList1};
    // A null handle and a foreign object are told apart by one helper all functions share.
    EXPECT_EQ(Vexo_appendFilter(target, 0, one), E_INVALIDARG);
    EXPECT_EQ(Vexo_appendFilter(nullptr, 1, one), E_INVALIDARG);
    EXPECT_EQ(Vexo_appendFilter(target, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_appendFilter(notAFilter, 1, one), E_INVALIDARG);
    EXPECT_EQ(Vexo_destroyFilter(notAFilter), E_INVALIDARG);
    EXPECT_EQ(firstWord(frame), Frame::kCode);
    EXPECT_EQ(Vexo_filterNode(nullptr, nodeHandle(frame)), E_INVALIDARG);
    EXPECT_EQ(Vexo_filterNode(idList1, nullptr), E_INVALIDARG);

    VexoFilter *const junk[] = {nullptr, notAFilter};
    EXPECT_EQ(Vexo_appendFilter(target, 2, junk), S_OK);
    EXPECT_TRUE(listedNodes(target).empty());
    EXPECT_EQ(ask(target, frame), S_FALSE);

    VexoFilter *const twice[] = {idList1, nullptr, idList1};
    EXPECT_EQ(Vexo_appendFilter(target, 3, twice), S_OK);
    EXPECT_EQ(listedNodes(target), (std::vector<void *>{idList1, idList1})) << "duplicates allowed, in order";
}

TEST(Filter, OutOfMemoryIsReportedAndLeavesNothingBehind)
{
    TestDb m;
    std::u16string list;
    for (int i = 0; i < 300; ++i)
        list += std::u16string(m.make<Frame>(numbered(u"F", i))->eid) + u'\0';
    bool succeeded = false;
    for (uint32_t n = 1; n < 20 && !succeeded; ++n) {
        SCOPED_TRACE(n);
        VexoFilter *filter = reinterpret_cast<VexoFilter *>(&n);
        failAllocationAfter(n);
        const HRESULT hr = Vexo_createIdListFilterW(m.handle, 0, list.c_str(), &filter);
        failAllocationAfter(0);
        if (hr == S_OK) {
            succeeded = true;
            EXPECT_EQ(listedNodes(filter).size(), 300u);
            EXPECT_EQ(Vexo_destroyFilter(filter), S_OK);
        } else {
            EXPECT_EQ(hr, E_OUTOFMEMORY);
            EXPECT_EQ(filter, reinterpret_cast<VexoFilter *>(&n)) << "out pointer untouched";
        }
    }
    EXPECT_TRUE(succeeded);

    Filters filters;
    VexoFilter *target = filters.combination(), *member = filters.combination();
    failAllocationAfter(1);
    EXPECT_EQ(Vexo_appendFilter(target, 1, &member), E_OUTOFMEMORY);
    failAllocationAfter(0);
    EXPECT_TRUE(listedNodes(target).empty());
}

// Random appends and questions against a plain model of the rules: an append is refused whole exactly when an entry
// reaches the target (itself, a member back, a cycle after a good entry; ranks must never hide a path), and answers
// follow the member order, the first selecting member, empty and nested combinations and the inversion modes.
void randomGraphAgainstModel(uint32_t seed, int steps)
{
    SCOPED_TRACE("seed=" + std::to_string(seed));
    std::mt19937 rng(seed);
    TestDb m;
    std::vector<void *> nodes;
    for (int i = 0; i < 6; ++i)
        nodes.push_back(m.make<Frame>(numbered(u"N", i)));
    Filters filters;
    // members: a combination's, as indexes into the shadows; node: the one node an identifier list lists.
    struct Shadow { bool combination, inverted; std::vector<size_t> members; size_t node; };
    std::vector<VexoFilter *> handles;
    std::vector<Shadow> shadows;
    auto reaches = [&](size_t from, size_t to) {
        std::vector<size_t> pending = {from};
        std::vector<bool> seen(shadows.size());
        while (!pending.empty() && pending.back() != to) {
            const size_t at = pending.back();
            pending.pop_back();
            if (!seen[at])
                pending.insert(pending.end(), shadows[at].members.begin(), shadows[at].members.end());
            seen[at] = true;
        }
        return !pending.empty();
    };
    std::function<HRESULT(size_t, size_t)> answer = [&](size_t filter, size_t node) {
        const Shadow &s = shadows[filter];
        bool selected = !s.combination && s.node == node;
        for (size_t i = 0; i < s.members.size() && !selected; ++i)
            selected = answer(s.members[i], node) == S_OK;
        return selected != s.inverted ? S_OK : S_FALSE;
    };
    for (int step = 0; step < steps; ++step) {
        SCOPED_TRACE(step);
        if (shadows.size() < 40 && rng() % 4 == 0) {
            const bool inverted = rng() % 5 == 0;
            const uint32_t mode = inverted ? VEXO_FILTER_INVERT : 0;
            if (rng() % 3 == 0) {
                const size_t node = rng() % nodes.size();
                handles.push_back(filters.named(m.handle, {numbered(u"N", int(node))}, mode));
                shadows.push_back({false, inverted, {}, node});
            } else {
                handles.push_back(filters.combination(mode));
                shadows.push_back({true, inverted, {}, 0});
            }
            continue;
        }
        if (shadows.empty())
            continue;
        const size_t target = rng() % shadows.size();
        std::vector<size_t> entries(1 + rng() % 3);
        std::vector<VexoFilter *> array;
        bool refused = !shadows[target].combination;  // an identifier list takes no members
        for (size_t &entry : entries) {
            entry = rng() % shadows.size();
            array.push_back(handles[entry]);
            refused = refused || reaches(entry, target);
        }
        ASSERT_EQ(Vexo_appendFilter(handles[target], uint32_t(array.size()), array.data()),
                  refused ? E_INVALIDARG : S_OK);
        if (!refused)
            shadows[target].members.insert(shadows[target].members.end(), entries.begin(), entries.end());
        // An identifier list lists its one node.
        ASSERT_EQ(listedNodes(handles[target]).size(), shadows[target].members.size() + !shadows[target].combination)
            << "a refusal appends nothing";
        for (size_t node = 0; node < nodes.size(); ++node)
            ASSERT_EQ(ask(handles[target], nodes[node]), answer(target, node)) << "node " << node;
    }
}

TEST(Filter, RandomGraphsMatchAPlainModelOfAppendsAndAnswers)
{
    for (uint32_t seed = 20240611; seed < 20240611 + 8; ++seed)
        randomGraphAgainstModel(seed, 600);
}

// Combinations that share members have 2^depth paths from the top: each is answered once. The
// 64 levels run deeper than the answer walk keeps on the machine stack.
TEST(Filter, SharedMembersAndLongChainsKeepEveryAnswer)
{
    TestDb m;
    Frame *x = m.make<Frame>(u"X"), *y = m.make<Frame>(u"Y");
    Filters filters;
    VexoFilter *left = filters.named(m.handle, {u"X"}), *right = filters.named(m.handle, {u"X"});
    for (int level = 0; level < 64; ++level) {
        VexoFilter *const members[] = {left, right};
        VexoFilter *a = filters.combination(), *b = filters.combination();
        ASSERT_EQ(Vexo_appendFilter(a, 2, members), S_OK);
        ASSERT_EQ(Vexo_appendFilter(b, 2, members), S_OK);
        left = a;
        right = b;
    }
    EXPECT_EQ(ask(left, x), S_OK);
    EXPECT_EQ(ask(left, y), S_FALSE) << "asks every one of the 2^64 paths' filters, once each";

    // Combinations that all hold one filter F, each appended to the one before, must each rank between F and the
    // one before: the room halves per link until every filter is ranked afresh. A combination left holding a
    // destroyed member (and never asked again) is not read meanwhile.
    VexoFilter *stale = nullptr, *gone = nullptr;
    ASSERT_EQ(Vexo_createCombinationFilter(0, &stale), S_OK);
    ASSERT_EQ(Vexo_createCombinationFilter(0, &gone), S_OK);
    ASSERT_EQ(Vexo_appendFilter(stale, 1, &gone), S_OK);
    ASSERT_EQ(Vexo_destroyFilter(gone), S_OK);

    VexoFilter *shared = filters.combination(), *top = filters.combination(), *last = top;
    ASSERT_EQ(Vexo_appendFilter(top, 1, &shared), S_OK);
    for (int i = 0; i < 60; ++i) {
        VexoFilter *next = filters.combination();
        ASSERT_EQ(Vexo_appendFilter(next, 1, &shared), S_OK);
        ASSERT_EQ(Vexo_appendFilter(last, 1, &next), S_OK);
        last = next;
    }
    EXPECT_EQ(Vexo_appendFilter(last, 1, &top), E_INVALIDARG);
    EXPECT_EQ(Vexo_appendFilter(shared, 1, &top), E_INVALIDARG);
    VexoFilter *leaf = filters.named(m.handle, {u"X"});
    ASSERT_EQ(Vexo_appendFilter(shared, 1, &leaf), S_OK);
    EXPECT_EQ(ask(top, x), S_OK);
    EXPECT_EQ(Vexo_destroyFilter(stale), S_OK);
}
