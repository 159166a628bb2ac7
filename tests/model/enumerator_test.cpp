// Enumerators: fetching, skipping, finding and re-aiming, foreign handles refused, inserts during a walk, and every
// enumeration reading its list in order.
#include "enumerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "made.h"
#include "test_db.h"
#include "test_text.h"
#include "vexo/constants.h"
#include "vexo/enumerate.h"
#include "vexo/model.h"

using namespace vexo::core;
using namespace vexo::model;

namespace {

// A database filled through the core internals: nodes, identifiers and list entries,
// without the public creation and add functions.
struct Model : TestDb {
    void insert(ElementGroup *group, const void *node)
    {
        VexoNode *entry = nodeHandle(node);
        EXPECT_EQ(insertIntoGroup(&entry, 1, kSmallNodeLayout, database(), ObjectBase::kCode, group, &group->children),
                  S_OK);
    }
    void add(NodeList &list, const void *node)
    {
        EXPECT_EQ(append(kSmallNodeLayout, database()->allocator, &list, const_cast<void *>(node)), S_OK);
    }
    void addSegment(MultiplexedPart *p, uint32_t at) { EXPECT_EQ(Vexo_addSegment(nodeHandle(p), 0, at, 1), S_OK); }
};

struct Enum {  // owns an enumerator handle for the length of a test
    VexoEnumerator *handle = nullptr;
    ~Enum() { EXPECT_TRUE(handle == nullptr || Vexo_enumeratorDestroy(handle) == S_OK); }
};

using Nodes = std::vector<VexoNode *>;
using Fetch = std::tuple<HRESULT, uint32_t, Nodes>;

// One Vexo_enumeratorNext call: its result, the count it wrote (77: none) and the entries it delivered.
Fetch next(VexoEnumerator *enumerator, uint32_t wanted)
{
    Nodes out(wanted + 1);
    uint32_t fetched = 77;
    const HRESULT hr = Vexo_enumeratorNext(enumerator, wanted, out.data(), &fetched);
    out.resize(fetched <= wanted ? fetched : 0);
    return {hr, fetched, out};
}

uint32_t countOf(const VexoEnumerator *enumerator)
{
    uint32_t count = 99;
    EXPECT_EQ(Vexo_enumeratorGetCount(enumerator, &count), S_OK);
    return count;
}

Nodes drain(VexoEnumerator *enumerator, uint32_t batch = 64)
{
    Nodes out;
    for (Fetch f = next(enumerator, batch); std::get<0>(f) == S_OK; f = next(enumerator, batch))
        out.insert(out.end(), std::get<2>(f).begin(), std::get<2>(f).end());
    return out;
}

using EnumFn = HRESULT (*)(VexoNode *, VexoEnumerator **);

// Every entry of a list, fetched in batches of the given size; checks the count too.
Nodes listOf(EnumFn fn, VexoNode *owner, uint32_t batch)
{
    Enum e;
    EXPECT_EQ(fn(owner, &e.handle), S_OK);
    const Nodes out = e.handle != nullptr ? drain(e.handle, batch) : Nodes{};
    EXPECT_EQ(countOf(e.handle), out.size());
    return out;
}

int32_t bySwitchCode(const void *key, const VexoNode *entry)
{
    const uint32_t wanted = *static_cast<const uint32_t *>(key);
    const uint32_t listed = nodeExactly<MultiplexedPart>(entry)->switchCode;
    return wanted < listed ? -1 : wanted > listed ? 1 : 0;
}

}  // namespace

TEST(Enumerator, FetchesSkipsFindsAndReaimsAndRefusesForeignHandles)
{
    Model m;
    auto *frame = m.make<Frame>(u"F");
    Nodes all;
    for (int i = 0; i < 5; ++i)
        m.add(frame->PDUInstances, all.emplace_back(nodeHandle(m.make<PDUInstance>())));
    Enum e;
    ASSERT_EQ(Vexo_enumPDUInstances(nodeHandle(frame), &e.handle), S_OK);
    VexoNode *out = nullptr;
    EXPECT_EQ(next(e.handle, 3), Fetch(S_OK, 3, {all[0], all[1], all[2]}));
    EXPECT_EQ(next(e.handle, 3), Fetch(S_OK, 2, {all[3], all[4]}));
    EXPECT_EQ(next(e.handle, 3), Fetch(S_FALSE, 77, {}));
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 3, &out, nullptr), S_FALSE);
    EXPECT_EQ(countOf(e.handle), 5u) << "the count is the list's total, not what is left";

    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    EXPECT_EQ(next(e.handle, 0), Fetch(S_FALSE, 0, {})) << "wanting 0 delivers nothing but is no early return";
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 0), S_OK);
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 2), S_OK);
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 1, &out, nullptr), S_OK);
    EXPECT_EQ(out, all[2]);
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 10), S_OK) << "running past the end is no failure";
    EXPECT_EQ(next(e.handle, 1), Fetch(S_FALSE, 77, {}));
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 1), S_FALSE) << "but an exhausted enumerator says so";

    ASSERT_EQ(Vexo_enumFrames(m.handle, &e.handle), S_OK);  // empty group
    EXPECT_EQ(countOf(e.handle), 0u);
    EXPECT_EQ(next(e.handle, 3), Fetch(S_FALSE, 77, {}));
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 1), S_FALSE) << "empty list";

    auto *pdu = m.make<SignalPDU>(u"P");
    ASSERT_EQ(Vexo_enumSignalInstances(nodeHandle(pdu), &e.handle), S_OK);  // the list has no chunk yet
    auto *first = m.make<SignalInstance>();
    m.add(pdu->signalInstances, first);
    EXPECT_EQ(drain(e.handle), Nodes{}) << "aimed at a list without chunks";
    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    EXPECT_EQ(drain(e.handle, 1), Nodes{nodeHandle(first)}) << "reset reads the list afresh";

    for (int i = 1; i < 13; ++i)
        m.add(pdu->signalInstances, m.make<SignalInstance>());
    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    ASSERT_EQ(std::get<1>(next(e.handle, 13)), 13u);
    auto *fourteenth = m.make<SignalInstance>();  // opens a second chunk
    m.add(pdu->signalInstances, fourteenth);
    EXPECT_EQ(next(e.handle, 1), Fetch(S_OK, 1, {nodeHandle(fourteenth)}));

    ASSERT_EQ(Vexo_enumFrames(m.handle, &e.handle), S_OK);
    VexoEnumerator *notAnEnumerator = reinterpret_cast<VexoEnumerator *>(frame);
    uint32_t count = 0;
    auto anyOrder = [](const void *, const VexoNode *) { return 0; };

    EXPECT_EQ(Vexo_enumFrames(m.handle, nullptr), E_INVALIDARG);
    VexoEnumerator *held = notAnEnumerator;
    EXPECT_EQ(Vexo_enumFrames(m.handle, &held), E_INVALIDARG);
    EXPECT_EQ(held, notAnEnumerator);
    EXPECT_EQ(firstWord(frame), Frame::kCode) << "the foreign object is not written";

    // Every function takes its handle through one check, which a null handle meets first.
    EXPECT_EQ(Vexo_enumeratorGetCount(notAnEnumerator, &count), E_INVALIDARG);
    EXPECT_EQ(Vexo_enumeratorReset(notAnEnumerator), E_INVALIDARG);
    EXPECT_EQ(Vexo_enumeratorSkip(notAnEnumerator, 1), E_INVALIDARG);
    EXPECT_EQ(Vexo_enumeratorNext(notAnEnumerator, 1, &out, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_enumeratorFindNext(notAnEnumerator, nullptr, anyOrder), E_INVALIDARG);
    EXPECT_EQ(Vexo_enumeratorDestroy(notAnEnumerator), E_INVALIDARG);
    EXPECT_EQ(Vexo_enumeratorDestroy(nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_enumeratorGetCount(e.handle, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 1, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, nullptr, nullptr), E_INVALIDARG);

    auto *part = m.make<MultiplexedPart>();
    m.addSegment(part, 3);
    auto *signal = m.make<Signal>(u"S");
    m.insert(m.collections()->signals, signal);

    ASSERT_EQ(Vexo_enumSegments(nodeHandle(part), &e.handle), S_OK);
    VexoEnumerator *const reused = e.handle;
    EXPECT_EQ(firstWord(reused), kRecordEnumeratorMagic);
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, u"S", anyOrder), E_INVALIDARG) << "no search in a record list";
    EXPECT_EQ(std::get<0>(next(e.handle, 1)), S_OK) << "the refused search moved nothing";
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 5), S_OK);  // exhausted

    ASSERT_EQ(Vexo_enumSignals(m.handle, &e.handle), S_OK);
    EXPECT_EQ(e.handle, reused) << "re-aimed in place, no new enumerator";
    EXPECT_EQ(firstWord(reused), kNodeEnumeratorMagic);
    EXPECT_EQ(drain(e.handle), Nodes{nodeHandle(signal)});
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, u"S", anyOrder), S_FALSE)
        << "a node-list enumerator now (exhausted, so not found)";

    auto *mux = m.make<MultiplexedPDU>(u"M");
    Nodes parts;  // 20 parts, chunks of 13 and 7: switch code 2 i at index i
    for (uint32_t code = 0; code < 40; code += 2)
        m.add(mux->dynamicParts,
              parts.emplace_back(made(Vexo_createMultiplexedPart, m.handle, nullptr, code, nullptr)));
    ASSERT_EQ(Vexo_enumDynamicParts(nodeHandle(mux), &e.handle), S_OK);
    struct Case { const char *what; uint32_t key; HRESULT want; uint32_t next; /* switch code delivered next */ };
    const Case cases[] = {
        {"found in the first chunk", 8, S_OK, 8}, {"missing, in the first chunk", 7, S_FALSE, 8},
        {"found in the second chunk", 30, S_OK, 30}, {"first entry of the second chunk", 26, S_OK, 26},
        {"missing between chunks", 25, S_FALSE, 26},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
        EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, &row.key, bySwitchCode), row.want);
        EXPECT_EQ(next(e.handle, 2), Fetch(S_OK, 2, {parts[row.next / 2], parts[row.next / 2 + 1]}));
    }

    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    const uint32_t beyond = 99;
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, &beyond, bySwitchCode), S_FALSE);
    EXPECT_EQ(std::get<0>(next(e.handle, 2)), S_FALSE) << "placed at the end";

    // The search goes on from the current chunk: an entry of an earlier chunk is not found.
    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    ASSERT_EQ(Vexo_enumeratorSkip(e.handle, 15), S_OK);
    const uint32_t early = 4;
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, &early, bySwitchCode), S_FALSE);
    EXPECT_EQ(next(e.handle, 1), Fetch(S_OK, 1, {parts[13]}));

    ASSERT_EQ(Vexo_enumeratorSkip(e.handle, 100), S_OK);
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, &early, bySwitchCode), S_FALSE) << "exhausted";
    EXPECT_EQ(std::get<0>(next(e.handle, 1)), S_FALSE) << "and stays exhausted";

    // A group, searched by identifier.
    Nodes signals;
    for (int i = 0; i < 40; ++i) {
        signals.push_back(nodeHandle(m.make<Signal>(numbered(u"S", 100 + i))));
        m.insert(m.collections()->signals, signals.back());
    }
    ASSERT_EQ(Vexo_enumSignals(m.handle, &e.handle), S_OK);
    auto byIdentifier = [](const void *key, const VexoNode *entry) {
        return int32_t(compareUnits(static_cast<const VexoChar *>(key), nodeAs<ElementId>(entry)->eid));
    };
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, u"S117", byIdentifier), S_OK);
    EXPECT_EQ(drain(e.handle).front(), signals[17]);
    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, u"S1175", byIdentifier), S_FALSE);
    EXPECT_EQ(drain(e.handle).front(), signals[18]);
}

TEST(Enumerator, InsertsDuringAWalkDeliverEveryEntryOnce)
{
    const uint32_t kSeed = 77;
    SCOPED_TRACE("seed=" + std::to_string(kSeed));
    std::mt19937 rng(kSeed);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        Model m;
        auto *group = m.make<ElementGroup>();
        std::vector<std::u16string> want, got;  // the model: the identifiers the walk must deliver, in order
        std::u16string last;                      // the last entry passed
        std::vector<int> free(1000);
        std::iota(free.begin(), free.end(), 10000);  // five digits: identifier order is number order
        std::shuffle(free.begin(), free.end(), rng);
        auto insertOne = [&] {
            const std::u16string id = numbered(u"", free.back());
            free.pop_back();
            m.insert(group, m.make<Frame>(id.c_str()));
            if (id > last)
                want.insert(std::lower_bound(want.begin(), want.end(), id), id);
        };
        for (int i = 0; i < 60; ++i)
            insertOne();
        VexoEnumerator *enumerator = nullptr;
        ASSERT_EQ(Vexo_enumChildren(nodeHandle(group), &enumerator), S_OK);
        for (;;) {
            const uint32_t action = rng() % 10;
            if (action < 4) {
                insertOne();
            } else if (action == 4) {
                const uint32_t k = 1 + rng() % 3;
                const auto from = std::upper_bound(want.begin(), want.end(), last);
                const ptrdiff_t left = want.end() - from;
                ASSERT_EQ(Vexo_enumeratorSkip(enumerator, k), S_OK);
                const auto to = from + std::min<ptrdiff_t>(k, left);
                if (to != from)
                    last = *(to - 1);
                want.erase(from, to);  // skipped, not delivered
                if (k > left)
                    break;  // exhausted: it stays so
            } else {
                VexoNode *entries[3] = {};
                uint32_t fetched = 0;
                const uint32_t wanted = 1 + rng() % 3;
                if (Vexo_enumeratorNext(enumerator, wanted, entries, &fetched) != S_OK)
                    break;
                for (uint32_t i = 0; i < fetched; ++i) {
                    got.push_back(u16(nodeAs<ElementId>(entries[i])->eid));
                    last = got.back();
                }
                if (fetched < wanted)
                    break;  // exhausted
            }
        }
        EXPECT_EQ(got, want);
        EXPECT_EQ(Vexo_enumeratorDestroy(enumerator), S_OK);
    }
}

// Each enumeration function reads one list of its owner: nodes put straight into that list (15: two
// chunks) come back in list order. What the public creation and add functions put into the lists is
// the creation and link tests' concern; batches and chunk ends are this file's tests above.
TEST(Enumerator, EachEnumerationAndWalkHelperReadsItsListInOrder)
{
    Model m;
    DatabaseCollections *c = m.collections();
    struct Case { const char *what; EnumFn fn; const void *owner; NodeList *list; };
    // A row with the database (or collections node) as owner, and a row whose owner is a new node of class Owner.
#define ROW(fn, owner, list) Case{#fn "(" #owner ")", Vexo_##fn, owner, &list}
#define NEW(fn, Owner, list) \
    [](auto *o) { return Case{#fn "(" #Owner ")", Vexo_##fn, o, &o->list}; }(m.make<Owner>())
    const Case cases[] = {
        ROW(enumClusters, m.handle, c->clusters->children), ROW(enumECUs, m.handle, c->ECUs->children),
        ROW(enumPDUs, m.handle, c->PDUs->children), ROW(enumFrames, m.handle, c->frames->children),
        ROW(enumSignals, m.handle, c->signals->children), ROW(enumCodings, m.handle, c->codings->children),
        ROW(enumViews, c, c->views->children), NEW(enumChildren, Cluster, children),
        NEW(enumChildren, IdentifierBasedTriggering, children), NEW(enumFrameTriggerings, Frame, frameTriggerings),
        NEW(enumFrameTriggerings, Channel, frameTriggerings), NEW(enumPDUTriggerings, SignalPDU, triggerings),
        NEW(enumPDUTriggerings, Channel, PDUTriggerings), NEW(enumParents, SignalPDU, parents),
        NEW(enumPDUInstances, Frame, PDUInstances), NEW(enumPDUInstances, Channel, PDUInstances),
        NEW(enumSignalInstances, SignalPDU, signalInstances), NEW(enumSignalInstances, Signal, signalInstances),
        NEW(enumInternalToPhysicalComputations, Coding, internalToPhysicalCompus),
        NEW(enumPhysicalToInternalComputations, Coding, physicalToInternalCompus),
        NEW(enumDynamicParts, MultiplexedPDU, dynamicParts),
    };
#undef ROW
#undef NEW
    for (const Case &row : cases) {
        SCOPED_TRACE(row.what);
        Nodes want;
        for (int i = 0; i < 15; ++i)
            m.add(*row.list, want.emplace_back(nodeHandle(m.make<Frame>())));
        EXPECT_EQ(listOf(row.fn, nodeHandle(row.owner), 5), want);
    }
    // The root group, made with the large layout, lists every identified element.
    for (int i = 0; i < 15; ++i)
        m.make<Frame>(numbered(u"F", 100 + i));
    Nodes identified;
    for (void *entry : entries(c->identElements->children))
        identified.push_back(nodeHandle(entry));
    EXPECT_EQ(identified.size(), 8u + 15u);
    EXPECT_EQ(listOf(Vexo_enumIdentElements, m.handle, 5), identified);

    // Records come in list order: each one's own position and lower limit tell which it is.
    auto *part = m.make<MultiplexedPart>();
    auto *ranged = m.make<LinearComputation>();
    for (uint32_t i = 0; i < 15; ++i) {
        m.addSegment(part, 2 * i);
        ASSERT_EQ(Vexo_addRange(nodeHandle(ranged), i, i + 0.5, 0), S_OK);
    }
    const Nodes segments = listOf(Vexo_enumSegments, nodeHandle(part), 4);
    const Nodes ranges = listOf(Vexo_enumRanges, nodeHandle(ranged), 4);
    ASSERT_EQ(segments.size() + ranges.size(), 30u);
    for (uint32_t i = 0; i < 15; ++i) {
        uint32_t bitpos = 0;
        double lower = -1;
        EXPECT_EQ(Vexo_getBitPosition(segments[i], &bitpos), S_OK);
        EXPECT_EQ(Vexo_getLowerLimit(ranges[i], &lower), S_OK);
        EXPECT_EQ(std::make_tuple(bitpos, lower), std::make_tuple(2 * i, double(i))) << i;
        EXPECT_EQ(Vexo_getNodeType(segments[i]), 0x7473);
        EXPECT_EQ(Vexo_getNodeType(ranges[i]), Q3_NODETYPE_ValueRange);
    }

    auto *frame = m.make<Frame>(u"F");
    auto *walked = m.make<MultiplexedPart>();
    std::vector<void *> added;
    for (int i = 0; i < 30; ++i)
        m.add(frame->PDUInstances, added.emplace_back(m.make<PDUInstance>()));
    for (size_t stop : {size_t(100), size_t(14)}) {  // all 30, then a stop after 14
        std::vector<void *> seen;
        forEachNode(frame->PDUInstances, [&](void *entry) { seen.push_back(entry); return seen.size() < stop; });
        EXPECT_EQ(seen, std::vector<void *>(added.begin(), added.begin() + std::min<size_t>(stop, 30)));
    }

    for (uint32_t i = 0; i < 5; ++i)
        m.addSegment(walked, i * 3);
    std::vector<uint32_t> positions;
    forEachRecord<Segment>(walked->segments, [&](Segment *s) { return positions.push_back(s->bitpos), true; });
    EXPECT_EQ(positions, (std::vector<uint32_t>{0, 3, 6, 9, 12}));
    size_t visits = 0;
    forEachNode(m.make<Frame>()->PDUInstances, [&](void *) { return ++visits, true; });
    EXPECT_EQ(visits, 0u) << "an empty list has nothing to visit";
}
