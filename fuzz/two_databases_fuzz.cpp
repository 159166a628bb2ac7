// libFuzzer target for two databases in one process: the input is a program of creations, links, texts and filters with
// arguments drawn from both (so every refusal of the other's nodes is tried), one database destroyed where the input
// says, then a full walk of the survivor (getters, lists, conversions, decoding, encoder, DOT dump), which must reach
// only its own nodes (checked) and never the destroyed one (AddressSanitizer).
#include <cstdint>
#include <iterator>
#include <string>
#include <unordered_set>
#include <vector>

#include "fuzz_support.h"

#include "database.h"
#include "vexo/vexo.h"

namespace {

struct Side {
    VexoNode *db = nullptr;
    std::vector<VexoNode *> nodes;  // everything made in it, records and timings too
    std::vector<VexoStringSlot *> slots;
};

struct World {
    Side sides[2];
    std::vector<VexoFilter *> filters;
    Program &p;

    Side &side() { return sides[p.below(2)]; }
    // A node of either database (or null): the argument the calls are handed.
    VexoNode *any()
    {
        Side &s = side();
        const uint32_t pick = p.byte();
        if (s.nodes.empty() || pick % 8 == 0)
            return pick % 16 == 0 && s.db != nullptr ? s.db : nullptr;
        return s.nodes[pick % s.nodes.size()];
    }
    VexoStringSlot *anySlot()
    {
        Side &s = side();
        return s.slots.empty() ? nullptr : s.slots[p.below(uint32_t(s.slots.size()))];
    }
    // A short identifier, so that duplicates happen; null sometimes.
    std::u16string id()
    {
        const uint32_t n = p.byte();
        return n % 11 == 0 ? std::u16string() : std::u16string{char16_t(u'A' + n % 7), char16_t(u'0' + (n >> 3) % 10)};
    }
};

const VexoChar *textOf(const std::u16string &s) { return s.empty() ? nullptr : s.c_str(); }

// ---- Building ------------------------------------------------------------------

void create(World &w)
{
    Side &s = w.side();
    Program &p = w.p;
    if (s.db == nullptr)
        return;
    const std::u16string id = w.id();
    const VexoChar *name = textOf(id);
    VexoNode *made = nullptr;
    switch (p.below(22)) {
    case 0: Vexo_createCluster(s.db, name, p.below(4), &made); break;
    case 1: Vexo_createChannel(s.db, name, w.any(), &made); break;
    case 2: Vexo_createFrame(s.db, name, p.below(72), &made); break;
    case 3: Vexo_createIdentifierBasedTriggering(s.db, name, p.word(), p.below(4), w.any(), w.any(), w.any(), &made); break;
    case 4: Vexo_createMaskedIdentifierTriggering(s.db, name, p.word(), p.word(), p.below(4), w.any(), w.any(), w.any(), &made); break;
    case 5: Vexo_createAbsolutelyScheduledTriggering(s.db, name, p.word(), p.word(), p.word(), p.below(4), w.any(), w.any(), w.any(), &made); break;
    case 6: Vexo_createPDUTriggering(s.db, name, w.any(), w.any(), &made); break;
    case 7: Vexo_createSignalPDU(s.db, name, p.below(600), w.any(), &made); break;
    case 8: Vexo_createMultiplexedPDU(s.db, name, p.below(600), p.below(2), p.word(), p.below(40), p.word(), w.any(), &made); break;
    case 9: Vexo_createPDUInstance(s.db, name, p.below(2), p.word(), p.word(), w.any(), w.any(), &made); break;
    case 10: Vexo_createMultiplexedPart(s.db, name, p.word(), w.any(), &made); break;
    case 11: Vexo_createSignal(s.db, name, p.word(), p.real(), p.real(), p.real(), w.any(), &made); break;
    case 12: Vexo_createSignalInstance(s.db, name, p.below(2), p.word(), p.word(), w.any(), w.any(), &made); break;
    case 13: Vexo_createCoding(s.db, name, p.below(80), p.below(9), w.any(), &made); break;
    case 14: Vexo_createUnitSpec(s.db, name, p.below(4), p.below(2) != 0 ? u"km/h" : nullptr, &made); break;
    case 15: Vexo_createIdentityComputation(s.db, name, &made); break;
    case 16: Vexo_createLinearComputation(s.db, name, p.real(), p.real(), &made); break;
    case 17: Vexo_createMappedValueComputation(s.db, name, p.real(), &made); break;
    case 18: Vexo_createMappedTextComputation(s.db, name, w.anySlot(), &made); break;
    case 19: Vexo_createElementGroup(s.db, name, w.any(), w.any(), &made); break;
    case 20: Vexo_createECU(s.db, name, &made); break;
    default:
        if (p.below(2) == 0) Vexo_createEventControlledTiming(s.db, p.word(), w.any(), &made);
        else Vexo_createCyclicTiming(s.db, p.word(), w.any(), &made);
    }
    if (made != nullptr)
        s.nodes.push_back(made);
}

// Records are nodes too: the first segment or range of a node, when it has one.
void takeRecord(World &w)
{
    VexoNode *node = w.any();
    VexoEnumerator *e = nullptr;
    if (Vexo_enumSegments(node, &e) != S_OK && Vexo_enumRanges(node, &e) != S_OK)
        return;
    VexoNode *record = nullptr;
    uint32_t fetched = 0;
    if (Vexo_enumeratorNext(e, 1, &record, &fetched) == S_OK && record != nullptr) {
        for (Side &s : w.sides) {
            if (s.db != nullptr && vexo::core::ownedBy(record, vexo::core::databaseAs(s.db)))
                s.nodes.push_back(record);
        }
    }
    Vexo_enumeratorDestroy(e);
}

void link(World &w)
{
    Program &p = w.p;
    VexoNode *array[4];
    const uint32_t n = p.below(5);
    for (uint32_t i = 0; i < n; ++i)
        array[i] = w.any();
    using Add = HRESULT (*)(VexoNode *, uint32_t, VexoNode *const *);
    static const Add adds[] = {
        Vexo_appendChildren, Vexo_insertChildren, Vexo_addClusters, Vexo_addECUs, Vexo_addFrames, Vexo_addPDUs,
        Vexo_addSignals, Vexo_addCodings, Vexo_addViews, Vexo_addFrameTriggerings, Vexo_addPDUTriggerings,
        Vexo_addPDUInstances, Vexo_addSignalInstances, Vexo_addInternalToPhysicalComputations,
        Vexo_addPhysicalToInternalComputations, Vexo_addParents, Vexo_addDynamicParts,
    };
    using Set = HRESULT (*)(VexoNode *, VexoNode *);
    static const Set sets[] = {Vexo_setParent, Vexo_setReference, Vexo_setChannel, Vexo_setFrame,
                               Vexo_setSourceECU, Vexo_setStaticPart, Vexo_setElsePart, Vexo_setSignal};
    constexpr uint32_t kAdds = std::size(adds), kSets = std::size(sets);
    const uint32_t op = p.below(kAdds + kSets + 2);
    if (op < kAdds) {
        adds[op](w.any(), n, array);
        return;
    }
    VexoNode *a = w.any(), *b = w.any();
    if (op < kAdds + kSets)
        sets[op - kAdds](a, b);
    else if (op == kAdds + kSets)
        Vexo_addSegment(a, p.below(2), p.word(), p.below(2) != 0 ? p.below(70) : p.word());
    else
        Vexo_addRange(a, p.real(), p.real(), p.below(8));
}

void text(World &w)
{
    Program &p = w.p;
    Side &s = w.side();
    if (s.db == nullptr)
        return;
    static const char16_t *const kTexts[] = {u"a", u"Farbe", u"", u"x\u00e9\u20ac"};
    const char16_t *t = kTexts[p.below(4)];
    const uint32_t language = p.below(4);
    VexoNode *node = w.any();
    VexoStringSlot *slot = nullptr;
    const VexoChar *out = nullptr;
    switch (p.below(8)) {
    case 0: if (Vexo_stringCreateSlot(s.db, language, t, &slot) == S_OK) s.slots.push_back(slot); break;
    case 1: Vexo_stringAddAlternative(s.db, w.anySlot(), language, t); break;
    case 2: Vexo_setShortName(s.db, node, t); break;
    case 3: Vexo_setLongName(s.db, node, language, t); break;
    case 4: Vexo_setDescription(s.db, node, language, t); break;
    case 5: Vexo_setElementDetail(s.db, node, language, t, p.below(2) != 0 ? t : nullptr); break;
    case 6: Vexo_setDisplayName(s.db, node, language, t); break;
    default: Vexo_stringLookup(s.db, w.anySlot(), language, p.below(4), &out);
    }
}

void filter(World &w)
{
    Program &p = w.p;
    const uint32_t mode = p.below(3);
    VexoFilter *made = nullptr;
    if (p.below(2) == 0) {
        Side &s = w.side();
        std::u16string list;
        for (uint32_t i = p.below(4); i > 0; --i) {
            const std::u16string id = w.id();
            if (!id.empty())
                list += id + u'\0';
        }
        Vexo_createIdListFilterW(s.db, mode, list.c_str(), &made);
    } else {
        Vexo_createCombinationFilter(mode, &made);
    }
    if (made != nullptr)
        w.filters.push_back(made);
    if (w.filters.size() > 1) {
        VexoFilter *members[3];
        const uint32_t n = 1 + p.below(3);
        for (uint32_t i = 0; i < n; ++i)
            members[i] = w.filters[p.below(uint32_t(w.filters.size()))];
        Vexo_appendFilter(w.filters[p.below(uint32_t(w.filters.size()))], n, members);
    }
}

// ---- Walking the survivor ------------------------------------------------------

using Enumerate = HRESULT (*)(VexoNode *, VexoEnumerator **);

struct Walk {
    VexoNode *db;
    std::vector<VexoNode *> queue;
    std::unordered_set<const void *> seen;

    void reach(VexoNode *node)
    {
        if (node == nullptr || !seen.insert(node).second)
            return;
        failIf(!vexo::core::ownedBy(node, vexo::core::databaseAs(db)), "the survivor reaches a node it does not own");
        queue.push_back(node);
    }
    void list(Enumerate enumerate, VexoNode *owner)
    {
        VexoEnumerator *e = nullptr;
        if (enumerate(owner, &e) != S_OK)
            return;
        uint32_t count = 0;
        Vexo_enumeratorGetCount(e, &count);
        VexoNode *entries[5];
        uint32_t fetched = 0, total = 0;
        while (Vexo_enumeratorNext(e, 5, entries, &fetched) == S_OK) {
            for (uint32_t i = 0; i < fetched; ++i)
                reach(entries[i]);
            total += fetched;
            fetched = 0;
        }
        failIf(total != count, "enumerator count and entries differ");
        Vexo_enumeratorDestroy(e);
    }
};

void readNode(Walk &walk, VexoNode *node)
{
    using LinkGetter = HRESULT (*)(const VexoNode *, VexoNode **);
    static const LinkGetter links[] = {Vexo_getGroup, Vexo_getParent, Vexo_getReference, Vexo_getUnit,
                                       Vexo_getChannel, Vexo_getFrame, Vexo_getSourceECU, Vexo_getStaticPart,
                                       Vexo_getElsePart};
    for (LinkGetter get : links) {
        VexoNode *linked = nullptr;
        if (get(node, &linked) == S_OK)
            walk.reach(linked);
    }
    using U32Getter = HRESULT (*)(const VexoNode *, uint32_t *);
    static const U32Getter numbers[] = {
        Vexo_getParam, Vexo_getClusterType, Vexo_getSlotId, Vexo_getCycleOffset, Vexo_getRepetition,
        Vexo_getIdentifier, Vexo_getIdentifierCode, Vexo_getIdentifierMask, Vexo_getFlags, Vexo_getLength,
        Vexo_getBitLength, Vexo_getUnusedBytePattern, Vexo_getBitPosition, Vexo_getUpdateBitPosition,
        Vexo_getByteOrder, Vexo_getSwitchCode, Vexo_getSwitchByteOrder, Vexo_getSwitchPosition,
        Vexo_getSwitchLength, Vexo_getDefaultSwitchCode, Vexo_getEncoding, Vexo_getDebounceTime};
    uint32_t u = 0;
    for (U32Getter get : numbers)
        get(node, &u);
    using RealGetter = HRESULT (*)(const VexoNode *, double *);
    static const RealGetter reals[] = {Vexo_getDefaultValue, Vexo_getMinValue, Vexo_getMaxValue, Vexo_getScale,
                                       Vexo_getOffset, Vexo_getValue, Vexo_getLowerLimit, Vexo_getUpperLimit};
    double d = 0;
    for (RealGetter get : reals)
        get(node, &d);
    uint64_t cycle = 0;
    Vexo_getCycletime(node, &cycle);
    const VexoChar *t = nullptr, *t2 = nullptr;
    Vexo_getElementId(node, &t);
    Vexo_getShortName(walk.db, node, &t);
    Vexo_getLongName(walk.db, node, 1, 2, &t);
    Vexo_getDescription(walk.db, node, 2, 1, &t);
    Vexo_getElementDetail(walk.db, node, 0, 3, &t, &t2);
    Vexo_getDisplayName(walk.db, node, 1, 0, &t);
    Vexo_getTextValue(walk.db, node, 3, 0, &t);
    VexoString qualified = nullptr;
    if (Vexo_getQualifiedId(walk.db, node, &qualified) == S_OK)
        Vexo_freeString(qualified);
    static const Enumerate lists[] = {
        Vexo_enumChildren, Vexo_enumFrameTriggerings, Vexo_enumPDUTriggerings, Vexo_enumPDUInstances,
        Vexo_enumSignalInstances, Vexo_enumParents, Vexo_enumDynamicParts, Vexo_enumInternalToPhysicalComputations,
        Vexo_enumPhysicalToInternalComputations, Vexo_enumSegments, Vexo_enumRanges};
    for (Enumerate enumerate : lists)
        walk.list(enumerate, node);
}

void convert(Program &p, VexoNode *signal, const std::vector<VexoNode *> &computations)
{
    for (int i = 0; i < 3; ++i) {
        SignalValue value{};
        const uint64_t raw = uint64_t(p.word()) << (p.below(2) * 32) | p.word();
        if (Vexo_internalToPhysical(signal, raw, &value) >= 0) {
            Vexo_checkValueInMinMax(signal, &value);
            VexoChar buffer[64];
            Vexo_valueToString(&value, buffer, p.below(2) != 0 ? 64 : p.below(8));
        }
    }
    for (VexoNode *computation : computations) {
        SignalValue value{};
        value.valueType = p.below(3);
        value.value.u64 = uint64_t(p.word()) << 32 | p.word();
        uint64_t internal = 0;
        Vexo_physicalToInternal(signal, computation, &value, &internal);
        VexoEncodeState *state = nullptr;
        if (Vexo_encodeSignal(signal, &value, &state) == S_OK) {
            VexoNode *next = nullptr;
            for (int k = 0; k < 4 && Vexo_encodeNextComputation(state, &next) == S_OK; ++k) {}
            Vexo_destroyEncodeEnum(state);
        }
    }
}

void decode(Program &p, VexoNode *channel, const std::vector<VexoFilter *> &filters)
{
    std::vector<uint8_t> data(p.below(72));
    for (uint8_t &b : data)
        b = static_cast<uint8_t>(p.byte());
    const VexoFilter *filter = !filters.empty() && p.below(2) != 0 ? filters[p.below(uint32_t(filters.size()))] : nullptr;
    VexoDecodeState *state = nullptr;
    if (Vexo_decodeMessage(channel, p.word(), p.below(4), uint32_t(data.size()), data.data(), &state) != S_OK)
        return;
    char text[16];
    Vexo_decodeNextFrametriggering(state, nullptr);
    for (int guard = 0; guard < 10000; ++guard) {
        VexoDecodedSignal record{};
        record.text = text;
        record.textCapacity = sizeof text;
        if (Vexo_decodeNextSignal(state, filter, &record) < 0 && Vexo_decodeNextFrametriggering(state, nullptr) < 0)
            break;
    }
    Vexo_destroyDecodeEnum(state);
}

void encode(Program &p, VexoNode *db, VexoNode *start, const std::vector<VexoNode *> &triggerings,
            const std::vector<VexoNode *> &signals, const std::vector<VexoNode *> &ecus)
{
    VexoEncoder *encoder = nullptr;
    Vexo_CreateEncoder(db, start, &encoder);
    if (encoder == nullptr)
        return;
    uint32_t app = 0;
    Vexo_EncoderRegister(encoder, &app);
    Vexo_EncoderSetSendMode(encoder, app, p.below(3));
    for (VexoNode *t : triggerings)
        Vexo_EncoderInsert(encoder, app, t);
    for (VexoNode *e : ecus)
        Vexo_EncoderInsert(encoder, app, e);
    for (int round = 0; round < 3; ++round) {
        for (VexoNode *s : signals) {
            Vexo_EncoderChangeSignal(encoder, app, s, uint64_t(p.word()) << 32 | p.word());
            Vexo_EncoderIsSignalCyclic(encoder, s);
        }
        Vexo_EncoderTrigger(encoder, p.word(), p.below(2));
        VexoChangedFrame frame;
        for (int guard = 0; guard < 100000 && Vexo_EncoderGetChangedFrame(encoder, &frame) == S_OK; ++guard) {}
    }
    if (!triggerings.empty())
        Vexo_EncoderDelete(encoder, app, triggerings[0]);
    Vexo_DestroyEncoder(encoder);
}

void walkSurvivor(Program &p, Side &survivor, const std::vector<VexoFilter *> &filters)
{
    Walk walk{survivor.db, {}, {}};
    static const Enumerate groups[] = {Vexo_enumIdentElements, Vexo_enumClusters, Vexo_enumECUs, Vexo_enumPDUs,
                                       Vexo_enumFrames, Vexo_enumSignals, Vexo_enumCodings, Vexo_enumViews};
    for (Enumerate enumerate : groups)
        walk.list(enumerate, survivor.db);
    VexoNode *collections = nullptr;
    if (Vexo_getDatabaseCollections(survivor.db, &collections) == S_OK)
        walk.reach(collections);
    for (VexoNode *node : survivor.nodes)
        walk.reach(node);
    std::vector<VexoNode *> channels, triggerings, signals, ecus, starts = {nullptr};
    for (size_t i = 0; i < walk.queue.size(); ++i) {
        VexoNode *node = walk.queue[i];
        readNode(walk, node);
        switch (Vexo_getNodeType(node)) {
        case Q3_NODETYPE_Channel: channels.push_back(node); starts.push_back(node); break;
        case Q3_NODETYPE_Cluster:
        case Q3_NODETYPE_Frame: starts.push_back(node); break;
        case Q3_NODETYPE_IdentifierBasedTriggering:
        case Q3_NODETYPE_AbsolutelyScheduledTriggering: triggerings.push_back(node); break;
        case Q3_NODETYPE_Signal: signals.push_back(node); break;
        case Q3_NODETYPE_ElementGroup: ecus.push_back(node); break;
        default: break;
        }
        for (VexoFilter *filter : filters)
            Vexo_filterNode(filter, node);
    }
    for (VexoNode *signal : signals) {
        std::vector<VexoNode *> computations;
        VexoNode *coding = nullptr;
        VexoEnumerator *e = nullptr;
        if (Vexo_getReference(signal, &coding) == S_OK && Vexo_enumPhysicalToInternalComputations(coding, &e) == S_OK) {
            VexoNode *c = nullptr;
            while (Vexo_enumeratorNext(e, 1, &c, nullptr) == S_OK)
                computations.push_back(c);
            Vexo_enumeratorDestroy(e);
        }
        convert(p, signal, computations);
    }
    for (VexoNode *channel : channels)
        for (int i = 0; i < 3; ++i)
            decode(p, channel, filters);
    for (size_t i = 0; i < starts.size() && i < 4; ++i)
        encode(p, survivor.db, starts[p.below(uint32_t(starts.size()))], triggerings, signals, ecus);
    // The dump's text is of no interest here, only that writing it reaches no foreign node.
    Vexo_dumpDot(survivor.db, u"/dev/null", p.below(3), p.below(3));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Program p{data, size};
    World w{{}, {}, p};
    failIf(Vexo_create(u"A", &w.sides[0].db) != S_OK ||
               Vexo_create(p.below(2) != 0 ? u"B" : nullptr, &w.sides[1].db) != S_OK, "create");
    // The program, until the byte that destroys one database (or the end).
    using Step = void (*)(World &);
    static const Step steps[] = {create, create, create, create, link, link, link, text, filter, takeRecord};
    static const Step later[] = {create, link, text};
    const uint32_t destroyAt = 8 + p.below(200);
    for (uint32_t step = 0; step < destroyAt && !p.done(); ++step)
        steps[p.below(10)](w);
    const uint32_t gone = p.below(2);
    failIf(Vexo_destroy(w.sides[gone].db) != S_OK, "destroy");
    w.sides[gone] = Side{};
    Side &survivor = w.sides[1 - gone];
    // The survivor goes on being changed with its own nodes only, then is walked.
    for (uint32_t step = p.below(30); step > 0 && !p.done(); --step)
        later[p.below(3)](w);
    walkSurvivor(p, survivor, w.filters);
    for (VexoFilter *filter : w.filters)
        Vexo_destroyFilter(filter);
    failIf(Vexo_destroy(survivor.db) != S_OK, "destroy the survivor");
    return 0;
}
