#include "enumerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <new>
#include <random>
#include <string>
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

// Owns an enumerator handle for the length of a test.
struct Enum {
    VexoEnumerator *handle = nullptr;
    ~Enum()
    {
        if (handle != nullptr) {
            EXPECT_EQ(Vexo_enumeratorDestroy(handle), S_OK);
        }
    }
};

std::vector<VexoNode *> drain(VexoEnumerator *enumerator, uint32_t batch = 64)
{
    std::vector<VexoNode *> out;
    std::vector<VexoNode *> buffer(batch);
    uint32_t fetched = 0;
    while (Vexo_enumeratorNext(enumerator, batch, buffer.data(), &fetched) == S_OK)
        out.insert(out.end(), buffer.begin(), buffer.begin() + fetched);
    return out;
}

template <class... T>
std::vector<VexoNode *> nodes(T *...n)
{
    return {nodeHandle(n)...};
}

}  // namespace

TEST(Enumerator, FetchesInBatchesSkipsAndLeavesFetchedAloneWhenExhausted)
{
    Model m;
    auto *frame = m.make<Frame>(u"F");
    std::vector<VexoNode *> all;
    for (int i = 0; i < 5; ++i)
        m.add(frame->PDUInstances, all.emplace_back(nodeHandle(m.make<PDUInstance>())));
    Enum e;
    ASSERT_EQ(Vexo_enumPDUInstances(nodeHandle(frame), &e.handle), S_OK);
    VexoNode *out[3] = {};
    uint32_t fetched = 0;
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 3, out, &fetched), S_OK);
    EXPECT_EQ(std::vector<VexoNode *>(out, out + fetched), (std::vector<VexoNode *>{all[0], all[1], all[2]}));
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 3, out, &fetched), S_OK);
    EXPECT_EQ(std::vector<VexoNode *>(out, out + fetched), (std::vector<VexoNode *>{all[3], all[4]}));
    fetched = 77;
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 3, out, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 77u);
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 3, out, nullptr), S_FALSE);

    uint32_t count = 0;
    EXPECT_EQ(Vexo_enumeratorGetCount(e.handle, &count), S_OK);
    EXPECT_EQ(count, 5u) << "the count is the list's total, not what is left";

    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 0, out, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u) << "a wanted count of 0 delivers nothing but is no early return";
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 0), S_OK);
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 2), S_OK);
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 1, out, nullptr), S_OK);
    EXPECT_EQ(out[0], all[2]);
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 10), S_OK) << "running past the end is no failure";
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 1, out, nullptr), S_FALSE);
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 1), S_FALSE) << "but an exhausted enumerator says so";

    ASSERT_EQ(Vexo_enumFrames(m.handle, &e.handle), S_OK);  // empty group
    EXPECT_EQ(Vexo_enumeratorGetCount(e.handle, &count), S_OK);
    EXPECT_EQ(count, 0u);
    fetched = 77;
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 3, out, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 77u);
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 1), S_FALSE) << "empty list";
}

TEST(Enumerator, SeesEntriesAppendedBehindItAcrossChunks)
{
    Model m;
    auto *pdu = m.make<SignalPDU>(u"P");
    Enum e;
    ASSERT_EQ(Vexo_enumSignalInstances(nodeHandle(pdu), &e.handle), S_OK);  // the list has no chunk yet
    auto *first = m.make<SignalInstance>();
    m.add(pdu->signalInstances, first);
    EXPECT_EQ(drain(e.handle), std::vector<VexoNode *>{}) << "aimed at a list without chunks";
    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    EXPECT_EQ(drain(e.handle, 1), nodes(first)) << "reset reads the list afresh";

    for (int i = 1; i < 13; ++i)
        m.add(pdu->signalInstances, m.make<SignalInstance>());
    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    std::vector<VexoNode *> thirteen(13);
    uint32_t fetched = 0;
    ASSERT_EQ(Vexo_enumeratorNext(e.handle, 13, thirteen.data(), &fetched), S_OK);
    ASSERT_EQ(fetched, 13u);
    auto *fourteenth = m.make<SignalInstance>();  // opens a second chunk
    m.add(pdu->signalInstances, fourteenth);
    VexoNode *out = nullptr;
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 1, &out, nullptr), S_OK);
    EXPECT_EQ(out, nodeHandle(fourteenth));
}

// Ordered inserts while an enumerator walks a group: every entry that was there is
// delivered once and in order, an entry inserted behind the position is delivered, one
// inserted before it is not (skips and found positions included).
TEST(Enumerator, InsertsDuringAWalkDeliverEveryEntryOnce)
{
    const uint32_t kSeed = 77;
    SCOPED_TRACE("seed=" + std::to_string(kSeed));
    std::mt19937 rng(kSeed);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        Model m;
        auto *group = m.make<ElementGroup>();
        std::vector<std::u16string> listed;  // the model: the group's identifiers in order
        auto name = [](int k) {
            char text[8];
            std::snprintf(text, sizeof text, "%05d", k);
            return std::u16string(text, text + 5);
        };
        std::vector<int> free(1000);
        for (int k = 0; k < 1000; ++k)
            free[k] = k;
        std::shuffle(free.begin(), free.end(), rng);
        auto insertOne = [&] {
            const std::u16string id = name(free.back());
            free.pop_back();
            m.insert(group, m.make<Frame>(id.c_str()));
            listed.insert(std::lower_bound(listed.begin(), listed.end(), id), id);
            return id;
        };
        for (int i = 0; i < 60; ++i)
            insertOne();
        VexoEnumerator *enumerator = nullptr;
        ASSERT_EQ(Vexo_enumChildren(nodeHandle(group), &enumerator), S_OK);
        std::vector<std::u16string> want = listed, got;
        std::u16string last;  // the last entry passed
        for (;;) {
            const uint32_t action = rng() % 10;
            if (action < 4) {
                const std::u16string id = insertOne();
                if (id > last)
                    want.insert(std::lower_bound(want.begin(), want.end(), id), id);
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

TEST(Enumerator, ReaimingReusesTheHandleAndSwitchesKind)
{
    Model m;
    auto *part = m.make<MultiplexedPart>();
    m.addSegment(part, 3);
    auto *signal = m.make<Signal>(u"S");
    m.insert(m.collections()->signals, signal);

    Enum e;
    ASSERT_EQ(Vexo_enumSegments(nodeHandle(part), &e.handle), S_OK);
    VexoEnumerator *const first = e.handle;
    EXPECT_EQ(firstWord(first), kRecordEnumeratorMagic);
    EXPECT_EQ(Vexo_enumeratorSkip(e.handle, 5), S_OK);  // exhausted

    ASSERT_EQ(Vexo_enumSignals(m.handle, &e.handle), S_OK);
    EXPECT_EQ(e.handle, first) << "re-aimed in place, no new enumerator";
    EXPECT_EQ(firstWord(first), kNodeEnumeratorMagic);
    EXPECT_EQ(drain(e.handle), nodes(signal));
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, u"S", [](const void *, const VexoNode *) { return 0; }), S_FALSE)
        << "a node-list enumerator now (exhausted, so not found)";
}

TEST(Enumerator, RefusesForeignHandlesAndNullArguments)
{
    Model m;
    auto *frame = m.make<Frame>(u"F");
    Enum e;
    ASSERT_EQ(Vexo_enumFrames(m.handle, &e.handle), S_OK);
    VexoEnumerator *notAnEnumerator = reinterpret_cast<VexoEnumerator *>(frame);
    VexoNode *out = nullptr;
    uint32_t count = 0;
    auto anyOrder = [](const void *, const VexoNode *) { return 0; };

    EXPECT_EQ(Vexo_enumFrames(m.handle, nullptr), E_INVALIDARG);
    VexoEnumerator *held = notAnEnumerator;
    EXPECT_EQ(Vexo_enumFrames(m.handle, &held), E_INVALIDARG);
    EXPECT_EQ(held, notAnEnumerator);
    EXPECT_EQ(firstWord(frame), Frame::kCode) << "the foreign object is not written";

    for (VexoEnumerator *bad : {static_cast<VexoEnumerator *>(nullptr), notAnEnumerator}) {
        SCOPED_TRACE(bad == nullptr ? "null" : "a frame");
        EXPECT_EQ(Vexo_enumeratorGetCount(bad, &count), E_INVALIDARG);
        EXPECT_EQ(Vexo_enumeratorReset(bad), E_INVALIDARG);
        EXPECT_EQ(Vexo_enumeratorSkip(bad, 1), E_INVALIDARG);
        EXPECT_EQ(Vexo_enumeratorNext(bad, 1, &out, nullptr), E_INVALIDARG);
        EXPECT_EQ(Vexo_enumeratorFindNext(bad, nullptr, anyOrder), E_INVALIDARG);
        EXPECT_EQ(Vexo_enumeratorDestroy(bad), E_INVALIDARG);
    }
    EXPECT_EQ(Vexo_enumeratorGetCount(e.handle, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 1, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, nullptr, nullptr), E_INVALIDARG);
}

int32_t bySwitchCode(const void *key, const VexoNode *entry)
{
    const uint32_t wanted = *static_cast<const uint32_t *>(key);
    const uint32_t listed = nodeExactly<MultiplexedPart>(entry)->switchCode;
    return wanted < listed ? -1 : wanted > listed ? 1 : 0;
}

int32_t byIdentifier(const void *key, const VexoNode *entry)
{
    return compareUnits(static_cast<const VexoChar *>(key), nodeAs<ElementId>(entry)->eid);
}

TEST(Enumerator, FindNextPlacesTheCursorForTheNextFetch)
{
    Model m;
    auto *pdu = m.make<MultiplexedPDU>(u"M");
    for (uint32_t code = 0; code < 40; code += 2)  // 20 parts: chunks of 13 and 7
        m.add(pdu->dynamicParts, made(Vexo_createMultiplexedPart, m.handle, nullptr, code, nullptr));
    auto codeOf = [](VexoNode *node) { return nodeExactly<MultiplexedPart>(node)->switchCode; };
    Enum e;
    ASSERT_EQ(Vexo_enumDynamicParts(nodeHandle(pdu), &e.handle), S_OK);
    VexoNode *out[2] = {};
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
        ASSERT_EQ(Vexo_enumeratorNext(e.handle, 2, out, nullptr), S_OK);
        EXPECT_EQ(codeOf(out[0]), row.next);
        EXPECT_EQ(codeOf(out[1]), row.next + 2);
    }

    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    const uint32_t beyond = 99;
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, &beyond, bySwitchCode), S_FALSE);
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 2, out, nullptr), S_FALSE) << "placed at the end";

    // The search goes on from the current chunk: an entry of an earlier chunk is not found.
    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    ASSERT_EQ(Vexo_enumeratorSkip(e.handle, 15), S_OK);
    const uint32_t early = 4;
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, &early, bySwitchCode), S_FALSE);
    ASSERT_EQ(Vexo_enumeratorNext(e.handle, 1, out, nullptr), S_OK);
    EXPECT_EQ(codeOf(out[0]), 26u);

    ASSERT_EQ(Vexo_enumeratorSkip(e.handle, 100), S_OK);
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, &early, bySwitchCode), S_FALSE) << "exhausted";
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 1, out, nullptr), S_FALSE) << "and stays exhausted";
}

TEST(Enumerator, FindNextSearchesGroupsByIdentifier)
{
    Model m;
    std::vector<VexoNode *> signals;
    for (int i = 0; i < 40; ++i) {
        signals.push_back(nodeHandle(m.make<Signal>(numbered(u"S", 100 + i))));
        m.insert(m.collections()->signals, signals.back());
    }
    Enum e;
    ASSERT_EQ(Vexo_enumSignals(m.handle, &e.handle), S_OK);
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, u"S117", byIdentifier), S_OK);
    EXPECT_EQ(drain(e.handle).front(), signals[17]);
    ASSERT_EQ(Vexo_enumeratorReset(e.handle), S_OK);
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, u"S1175", byIdentifier), S_FALSE);
    EXPECT_EQ(drain(e.handle).front(), signals[18]);
}

TEST(Enumerator, FindNextIsRefusedOnRecordLists)
{
    Model m;
    auto *part = m.make<MultiplexedPart>();
    m.addSegment(part, 0);
    auto *range = m.make<LinearComputation>();
    ASSERT_EQ(Vexo_addRange(nodeHandle(range), 0, 1, 0), S_OK);
    Enum e;
    const uint32_t key = 0;
    ASSERT_EQ(Vexo_enumSegments(nodeHandle(part), &e.handle), S_OK);
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, &key, bySwitchCode), E_INVALIDARG);
    ASSERT_EQ(Vexo_enumRanges(nodeHandle(range), &e.handle), S_OK);
    EXPECT_EQ(Vexo_enumeratorFindNext(e.handle, &key, bySwitchCode), E_INVALIDARG);
    VexoNode *out = nullptr;
    EXPECT_EQ(Vexo_enumeratorNext(e.handle, 1, &out, nullptr), S_OK) << "the refused search moved nothing";
}

TEST(Enumerator, WalkHelpersVisitInOrderAndStopEarly)
{
    Model m;
    auto *frame = m.make<Frame>(u"F");
    auto *part = m.make<MultiplexedPart>();
    std::vector<void *> added;
    for (int i = 0; i < 30; ++i)
        m.add(frame->PDUInstances, added.emplace_back(m.make<PDUInstance>()));
    for (size_t stop : {size_t(100), size_t(14)}) {  // all 30, then a stop after 14
        std::vector<void *> seen;
        forEachNode(frame->PDUInstances, [&](void *entry) {
            seen.push_back(entry);
            return seen.size() < stop;
        });
        EXPECT_EQ(seen, std::vector<void *>(added.begin(), added.begin() + std::min<size_t>(stop, 30)));
    }

    std::vector<uint32_t> positions;
    for (uint32_t i = 0; i < 5; ++i)
        m.addSegment(part, i * 3);
    forEachRecord<Segment>(part->segments, [&](Segment *segment) {
        positions.push_back(segment->bitpos);
        return true;
    });
    EXPECT_EQ(positions, (std::vector<uint32_t>{0, 3, 6, 9, 12}));
    forEachNode(m.make<Frame>()->PDUInstances, [](void *) {
        ADD_FAILURE() << "an empty list has nothing to visit";
        return true;
    });
}

namespace {

using EnumFn = HRESULT (*)(VexoNode *, VexoEnumerator **);

// Every entry of a list, fetched in batches of the given size; checks the count too.
std::vector<VexoNode *> listOf(EnumFn fn, VexoNode *owner, uint32_t batch)
{
    VexoEnumerator *e = nullptr;
    EXPECT_EQ(fn(owner, &e), S_OK);
    if (e == nullptr)
        return {};
    const std::vector<VexoNode *> out = drain(e, batch);
    uint32_t count = 0;
    EXPECT_EQ(Vexo_enumeratorGetCount(e, &count), S_OK);
    EXPECT_EQ(count, out.size());
    EXPECT_EQ(Vexo_enumeratorDestroy(e), S_OK);
    return out;
}

// Identified nodes sorted by ordinal identifier order: what an identifier-ordered group lists.
std::vector<VexoNode *> byId(std::map<std::u16string, VexoNode *> nodes)
{
    std::vector<VexoNode *> out;
    for (const auto &entry : nodes)  // std::u16string orders by code unit, as groups do
        out.push_back(entry.second);
    return out;
}

}  // namespace

// A model built through the public creation and add functions only, with every list long
// enough to span several chunks; each enumeration must give back exactly what was added,
// in the documented order, whatever the batch size.
TEST(Enumerator, WalksEveryListOfAModelBuiltThroughThePublicApi)
{
    constexpr int kN = 30;  // more than two 13-entry chunks
    std::mt19937 rng(2024);
    std::vector<int> shuffled(kN);
    for (int i = 0; i < kN; ++i)
        shuffled[i] = i + 1;
    std::shuffle(shuffled.begin(), shuffled.end(), rng);
    Model m;
    VexoNode *const db = m.handle;
    std::map<std::u16string, VexoNode *> identified, clusters, ecus, pdus, frames, signals, codings, views;
    auto keep = [&identified](std::map<std::u16string, VexoNode *> &group, const std::u16string &id, VexoNode *node) {
        group[id] = node;
        identified[id] = node;
    };
    identified[u"DB"] = db;
    DatabaseCollections *c = m.collections();
    for (ElementGroup *group : {c->clusters, c->ECUs, c->PDUs, c->frames, c->signals, c->codings, c->views})
        identified[group->eid] = nodeHandle(group);

    // Default groups, created in shuffled identifier order.
    for (int i : shuffled) {
        const std::u16string cl = numbered(u"Cl", i), ecu = numbered(u"Ecu", i), fr = numbered(u"Fr", i),
                             sg = numbered(u"Sg", i), cg = numbered(u"Cg", i), pdu = numbered(u"Pdu", i),
                             view = numbered(u"View", i);
        keep(clusters, cl, made(Vexo_createCluster, db, cl.c_str(), uint32_t(Q3_CLUSTERTYPE_CAN)));
        keep(ecus, ecu, made(Vexo_createECU, db, ecu.c_str()));
        keep(frames, fr, made(Vexo_createFrame, db, fr.c_str(), 8u));
        keep(codings, cg, made(Vexo_createCoding, db, cg.c_str(), 8u, uint32_t(Q3_ENCODING_DIRECT), nullptr));
        keep(signals, sg, made(Vexo_createSignal, db, sg.c_str(), 0u, 0.0, 0.0, 255.0, codings[cg]));
        keep(pdus, pdu, i % 2 == 0 ? made(Vexo_createSignalPDU, db, pdu.c_str(), 64u, nullptr)
                                   : made(Vexo_createMultiplexedPDU, db, pdu.c_str(), 64u, 0u, 0u, 8u, 0u, nullptr));
        keep(views, view, made(Vexo_createElementGroup, db, view.c_str(), nullptr, nullptr));
        ASSERT_EQ(Vexo_addViews(db, 1, &views[view]), S_OK);
    }

    // Relation lists, each filled in a known order.
    VexoNode *cluster = clusters.begin()->second, *frame = frames.begin()->second;
    VexoNode *signalPdu = pdus[u"Pdu2"], *muxPdu = pdus[u"Pdu1"], *signal = signals.begin()->second;
    VexoNode *coding = codings.begin()->second;
    std::vector<VexoNode *> channels, frameTriggerings, pduTriggerings, frameInstances, channelInstances,
        signalInstances, toPhysical, toInternal, parts, timings;
    for (int i = 0; i < kN; ++i)
        channels.push_back(made(Vexo_createChannel, db, numbered(u"Ch", i).c_str(), cluster));
    VexoNode *const channel = channels.front();
    for (int i = 0; i < kN; ++i) {
        const std::u16string id = numbered(u"Ft", i);
        const uint32_t u = i;
        frameTriggerings.push_back(
            i % 3 == 0   ? made(Vexo_createIdentifierBasedTriggering, db, id.c_str(), 0x100 + u, 0u, frame, nullptr,
                                channel)
            : i % 3 == 1 ? made(Vexo_createMaskedIdentifierTriggering, db, id.c_str(), 0x7FFu, u, 0u, frame, nullptr,
                                channel)
                         : made(Vexo_createAbsolutelyScheduledTriggering, db, id.c_str(), u, 0u, 1u, 0u, frame,
                                nullptr, channel));
        pduTriggerings.push_back(made(Vexo_createPDUTriggering, db, numbered(u"Pt", i).c_str(), signalPdu, channel));
        frameInstances.push_back(
            made(Vexo_createPDUInstance, db, numbered(u"Pi", i).c_str(), 0u, 8 * u, 0u, signalPdu, frame));
        channelInstances.push_back(
            made(Vexo_createPDUInstance, db, numbered(u"Cpi", i).c_str(), 0u, 0u, 0u, nullptr, nullptr));
        signalInstances.push_back(
            made(Vexo_createSignalInstance, db, numbered(u"Si", i).c_str(), 0u, u, 0u, signal, signalPdu));
        toPhysical.push_back(i % 2 == 0 ? made(Vexo_createLinearComputation, db, nullptr, 1.0, double(i))
                                        : made(Vexo_createMappedValueComputation, db, nullptr, double(i)));
        toInternal.push_back(made(Vexo_createIdentityComputation, db, nullptr));
        timings.push_back(made(Vexo_createCyclicTiming, db, uint64_t(10 * i), frameTriggerings.front()));
    }
    ASSERT_EQ(Vexo_addPDUInstances(channel, kN, channelInstances.data()), S_OK);
    std::vector<VexoNode *> signalListing = signalInstances;  // relation lists keep duplicates
    ASSERT_EQ(Vexo_addSignalInstances(signal, 1, &signalInstances[3]), S_OK);
    signalListing.push_back(signalInstances[3]);
    ASSERT_EQ(Vexo_addInternalToPhysicalComputations(coding, kN, toPhysical.data()), S_OK);
    ASSERT_EQ(Vexo_addPhysicalToInternalComputations(coding, kN, toInternal.data()), S_OK);
    std::map<uint32_t, VexoNode *> partsByCode;
    for (int code : shuffled) {
        VexoNode *node = partsByCode[3 * code] = made(Vexo_createMultiplexedPart, db, nullptr, 3u * code, muxPdu);
        ASSERT_EQ(Vexo_addDynamicParts(muxPdu, 1, &node), S_OK);
    }
    for (const auto &entry : partsByCode)
        parts.push_back(entry.second);
    VexoNode *part = parts.front(), *ranged = toPhysical.front();
    for (int i = 0; i < kN; ++i) {
        ASSERT_EQ(Vexo_addSegment(part, i % 2, 2 * i, i + 1), S_OK);
        ASSERT_EQ(Vexo_addRange(ranged, i, i + 0.5, i | 0x80000000u), S_OK);
    }
    for (int i = 0; i < kN; ++i) {  // everything named above is identified too
        identified[numbered(u"Ch", i)] = channels[i];
        identified[numbered(u"Ft", i)] = frameTriggerings[i];
        identified[numbered(u"Pt", i)] = pduTriggerings[i];
        identified[numbered(u"Pi", i)] = frameInstances[i];
        identified[numbered(u"Cpi", i)] = channelInstances[i];
        identified[numbered(u"Si", i)] = signalInstances[i];
    }

    struct Case { const char *what; EnumFn fn; VexoNode *owner; std::vector<VexoNode *> want; };
    const Case cases[] = {
        {"identified elements", Vexo_enumIdentElements, db, byId(identified)},
        {"clusters", Vexo_enumClusters, db, byId(clusters)}, {"ECUs", Vexo_enumECUs, db, byId(ecus)},
        {"PDUs", Vexo_enumPDUs, db, byId(pdus)}, {"frames", Vexo_enumFrames, db, byId(frames)},
        {"signals", Vexo_enumSignals, db, byId(signals)}, {"codings", Vexo_enumCodings, db, byId(codings)},
        {"views, through the collections node", Vexo_enumViews, nodeHandle(c), byId(views)},
        {"cluster's channels", Vexo_enumChildren, cluster, channels},
        {"triggering's timings", Vexo_enumChildren, frameTriggerings.front(), timings},
        {"channel's frame triggerings", Vexo_enumFrameTriggerings, channel, frameTriggerings},
        {"frame's frame triggerings", Vexo_enumFrameTriggerings, frame, frameTriggerings},
        {"channel's PDU triggerings", Vexo_enumPDUTriggerings, channel, pduTriggerings},
        {"PDU's triggerings", Vexo_enumPDUTriggerings, signalPdu, pduTriggerings},
        {"frame's PDU instances", Vexo_enumPDUInstances, frame, frameInstances},
        {"channel's PDU instances", Vexo_enumPDUInstances, channel, channelInstances},
        {"PDU's parents", Vexo_enumParents, signalPdu, frameInstances},
        {"signal PDU's signal instances", Vexo_enumSignalInstances, signalPdu, signalInstances},
        {"signal's signal instances", Vexo_enumSignalInstances, signal, signalListing},
        {"internal to physical", Vexo_enumInternalToPhysicalComputations, coding, toPhysical},
        {"physical to internal", Vexo_enumPhysicalToInternalComputations, coding, toInternal},
        {"dynamic parts by switch code", Vexo_enumDynamicParts, muxPdu, parts},
    };
    for (const Case &row : cases) {
        SCOPED_TRACE(row.what);
        ASSERT_GT(row.want.size(), 13u);
        for (uint32_t batch : {1u, 5u, 64u})
            EXPECT_EQ(listOf(row.fn, row.owner, batch), row.want) << "batch " << batch;
    }

    // Records are delivered in list order: each one's own position and lower limit tell which it is.
    for (uint32_t batch : {1u, 4u, 64u}) {
        SCOPED_TRACE(batch);
        const std::vector<VexoNode *> segments = listOf(Vexo_enumSegments, part, batch);
        const std::vector<VexoNode *> ranges = listOf(Vexo_enumRanges, ranged, batch);
        ASSERT_EQ(segments.size(), size_t(kN));
        ASSERT_EQ(ranges.size(), size_t(kN));
        for (int i = 0; i < kN; ++i) {
            uint32_t bitpos = 0;
            double lower = -1;
            EXPECT_EQ(Vexo_getBitPosition(segments[i], &bitpos), S_OK);
            EXPECT_EQ(Vexo_getLowerLimit(ranges[i], &lower), S_OK);
            EXPECT_EQ(bitpos, uint32_t(2 * i)) << i;
            EXPECT_EQ(lower, double(i)) << i;
            EXPECT_EQ(Vexo_getNodeType(segments[i]), 0x7473);
            EXPECT_EQ(Vexo_getNodeType(ranges[i]), Q3_NODETYPE_ValueRange);
        }
    }
}
