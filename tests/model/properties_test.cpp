// Properties: every getter reads the field its creation argument went to, names and texts with their fallbacks and
// languages, and the two-step unit getter (texts of another database's nodes: the links' cross-database table).
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "made.h"
#include "test_db.h"
#include "test_text.h"
#include "vexo/model.h"

using namespace vexo::core;

namespace {

// A getter of any value type, read as a double for one table.
template <class V>
std::function<double()> read(HRESULT (*getter)(const VexoNode *, V *), VexoNode *node)
{
    return [getter, node] {
        V value{};
        EXPECT_EQ(getter(node, &value), S_OK);
        return static_cast<double>(value);
    };
}

VexoNode *firstRecord(const RecordList &list) { return nodeHandle(chunkRecords(firstChunk(list.chunks))); }

}  // namespace

TEST(Properties, GettersReadWhatCreationStored)
{
    TestDb db;
    VexoNode *const d = db.handle, *cluster = made(Vexo_createCluster, d, u"CL", 2u);
    VexoNode *frame = made(Vexo_createFrame, d, u"F", 64u), *pdu = made(Vexo_createSignalPDU, d, u"P", 48u, nullptr);
    VexoNode *ast = made(Vexo_createAbsolutelyScheduledTriggering, d, u"A", 11u, 12u, 13u, 0x14u, nullptr, nullptr,
                         nullptr);
    VexoNode *ibt = made(Vexo_createIdentifierBasedTriggering, d, u"I", 0x18FF1234u, 0x21u, nullptr, nullptr, nullptr);
    VexoNode *mit =
        made(Vexo_createMaskedIdentifierTriggering, d, u"M", 0x7F0u, 0x120u, 0x2u, nullptr, nullptr, nullptr);
    VexoNode *mux = made(Vexo_createMultiplexedPDU, d, u"X", 56u, 1u, 3u, 5u, 7u, nullptr);
    VexoNode *pduInstance = made(Vexo_createPDUInstance, d, u"PI", 1u, 16u, 15u, nullptr, nullptr);
    VexoNode *part = made(Vexo_createMultiplexedPart, d, u"XP", 9u, nullptr);
    VexoNode *signal = made(Vexo_createSignal, d, u"S", 0x40000003u, 1.5, -40.0, 215.25, nullptr);
    VexoNode *instance = made(Vexo_createSignalInstance, d, u"SI", 1u, 23u, 22u, nullptr, nullptr);
    VexoNode *coding = made(Vexo_createCoding, d, u"K", 12u, 3u, nullptr);
    VexoNode *linear = made(Vexo_createLinearComputation, d, u"L", 0.125, -40.0);
    VexoNode *mapped = made(Vexo_createMappedValueComputation, d, u"V", 42.5);
    VexoNode *event = made(Vexo_createEventControlledTiming, d, uint64_t(250), nullptr);
    VexoNode *cyclic = made(Vexo_createCyclicTiming, d, 0x123456789Aull, nullptr);
    ASSERT_EQ(Vexo_addSegment(part, 1, 30, 6), S_OK);
    ASSERT_EQ(Vexo_addRange(linear, 0, 100, 0x3), S_OK);
    ASSERT_EQ(Vexo_setClusterType(cluster, 99), S_OK);  // above the largest cluster type: stored as given
    ASSERT_EQ(Vexo_setParam(signal, 0xC0FFEE), S_OK);
    VexoNode *segment = firstRecord(as<MultiplexedPart>(part)->segments);
    VexoNode *range = firstRecord(as<Computation>(linear)->ranges);

    struct Case { const char *what; std::function<double()> get; double want; };
#define READ(fn, node, want) Case{#fn "(" #node ")", read(Vexo_##fn, node), want}
    const Case cases[] = {
        READ(getClusterType, cluster, 99), READ(getLength, frame, 64), READ(getSlotId, ast, 11),
        READ(getCycleOffset, ast, 12), READ(getRepetition, ast, 13), READ(getFlags, ast, 0x14),
        READ(getIdentifier, ibt, 0x18FF1234), READ(getFlags, ibt, 0x21), READ(getIdentifierMask, mit, 0x7F0),
        READ(getIdentifierCode, mit, 0x120), READ(getFlags, signal, 0x40000003), READ(getFlags, range, 0x3),
        READ(getBitLength, pdu, 48), READ(getBitLength, mux, 56), READ(getBitLength, coding, 12),
        READ(getBitLength, segment, 6), READ(getUnusedBytePattern, mux, 0), READ(getSwitchByteOrder, mux, 1),
        READ(getSwitchPosition, mux, 3), READ(getSwitchLength, mux, 5), READ(getDefaultSwitchCode, mux, 7),
        READ(getSwitchCode, part, 9), READ(getByteOrder, pduInstance, 1), READ(getBitPosition, pduInstance, 16),
        READ(getUpdateBitPosition, pduInstance, 15), READ(getByteOrder, instance, 1),
        READ(getBitPosition, instance, 23), READ(getUpdateBitPosition, instance, 22), READ(getByteOrder, segment, 1),
        READ(getBitPosition, segment, 30), READ(getDefaultValue, signal, 1.5), READ(getMinValue, signal, -40),
        READ(getMaxValue, signal, 215.25), READ(getParam, signal, 0xC0FFEE), READ(getEncoding, coding, 3),
        READ(getScale, linear, 0.125), READ(getOffset, linear, -40), READ(getValue, mapped, 42.5),
        READ(getLowerLimit, range, 0), READ(getUpperLimit, range, 100), READ(getDebounceTime, event, 250),
        READ(getCycletime, cyclic, double(0x123456789Aull)),
    };
#undef READ
    for (const Case &c : cases)
        EXPECT_EQ(c.get(), c.want) << c.what;
    const VexoChar *id = nullptr;
    EXPECT_EQ(Vexo_getElementId(signal, &id), S_OK);
    EXPECT_EQ(u16(id), u"S");
}

TEST(Properties, NamesTextsAndUnitsWithTheirFallbacks)
{
    TestDb db;
    VexoNode *const d = db.handle, *frame = made(Vexo_createFrame, d, u"F", 8u);
    VexoNode *anonymous = made(Vexo_createFrame, d, nullptr, 8u);
    struct Case { const char *what; VexoNode *node; const VexoChar *set; HRESULT want; std::u16string text; };
    const Case cases[] = {
        {"identifier stands in", frame, nullptr, S_OK, u"F"}, {"a short name wins", frame, u"Front", S_OK, u"Front"},
        {"an empty short name is a short name", frame, u"", S_OK, u""},
        {"nothing at all", anonymous, nullptr, S_FALSE, u"<null>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.set != nullptr) {
            EXPECT_EQ(Vexo_setShortName(d, c.node, c.set), S_OK);
        }
        const VexoChar *text = u"sentinel";
        EXPECT_EQ(Vexo_getShortName(d, c.node, &text), c.want);
        EXPECT_EQ(u16(text), c.text);
    }
    EXPECT_EQ(Vexo_setShortName(d, frame, nullptr), E_INVALIDARG);
    const VexoChar *text = u"sentinel", *description = nullptr;
    EXPECT_EQ(Vexo_getShortName(d, frame, &text), S_OK);
    EXPECT_EQ(u16(text), u"");

    // Long names and descriptions: each text is a slot of its own, looked up with the language and its fallback
    // (the lookup order and empty texts are the string slots' tests).
    EXPECT_EQ(Vexo_getLongName(d, frame, 0x409, 0x407, &text), S_FALSE);
    EXPECT_EQ(text, nullptr);
    ASSERT_EQ(Vexo_setLongName(d, frame, 0x409, u"Colour"), S_OK);
    ASSERT_EQ(Vexo_setLongName(d, frame, 0x407, u"Farbe"), S_OK);
    ASSERT_EQ(Vexo_setDescription(d, frame, 0x407, u"Beschreibung"), S_OK);
    EXPECT_EQ(Vexo_getLongName(d, frame, 0x409, 0x407, &text), S_OK);
    EXPECT_EQ(Vexo_getDescription(d, frame, 0x409, 0x407, &description), S_OK);
    EXPECT_EQ(u16(text), u"Colour");
    EXPECT_EQ(u16(description), u"Beschreibung") << "in German only: the fallback";
    EXPECT_EQ(Vexo_setLongName(d, frame, 0x409, nullptr), E_INVALIDARG);

    // The texts set with setElementDetail, which outputs are asked for, and the answer.
    struct Detail { const char *what; const VexoChar *longName, *description; bool askLong, askDesc; HRESULT want; };
    const Detail details[] = {
        {"neither text", nullptr, nullptr, true, true, S_FALSE},
        {"long name only: the missing description decides", u"Speed", nullptr, true, true, S_FALSE},
        {"description only", nullptr, u"Vehicle speed", true, true, S_OK},
        {"description only, asking for the long name alone", nullptr, u"Vehicle speed", true, false, S_FALSE},
        {"both, asking for the description alone", u"Speed", u"Vehicle speed", false, true, S_OK},
        {"no output at all", u"Speed", u"Vehicle speed", false, false, E_INVALIDARG},
    };
    for (const Detail &c : details) {
        SCOPED_TRACE(c.what);
        VexoNode *signal = made(Vexo_createSignal, d, nullptr, 0u, 0.0, 0.0, 1.0, nullptr);
        ASSERT_EQ(Vexo_setElementDetail(d, signal, 0x409, c.longName, c.description), S_OK);
        const VexoChar *name = u"sentinel", *detail = u"sentinel";
        const HRESULT hr = Vexo_getElementDetail(d, signal, 0x409, 0x409, c.askLong ? &name : nullptr,
                                                 c.askDesc ? &detail : nullptr);
        EXPECT_EQ(hr, c.want);
        EXPECT_EQ(u16(name), c.askLong ? u16(c.longName) : u"sentinel");
        EXPECT_EQ(u16(detail), c.askDesc ? u16(c.description) : u"sentinel");
        // A later call with one text leaves the other alone.
        ASSERT_EQ(Vexo_setElementDetail(d, signal, 0x409, u"Other", nullptr), S_OK);
        EXPECT_EQ(Vexo_getDescription(d, signal, 0x409, 0x409, &detail), c.description != nullptr ? S_OK : S_FALSE);
    }

    VexoNode *unit = made(Vexo_createUnitSpec, d, u"U", 0x409u, u"km/h"), *forged = nullptr;
    VexoNode *bare = made(Vexo_createUnitSpec, d, u"B", 0x409u, nullptr);
    VexoStringSlot *slot = nullptr;
    ASSERT_EQ(Vexo_stringCreateSlot(db.handle, 0x409, u"Off", &slot), S_OK);
    VexoNode *computation = made(Vexo_createMappedTextComputation, db.handle, u"T", slot);
    // Only a slot of the database itself can be a computation's text.
    alignas(8) static const unsigned char notASlot[32] = {1, 2, 3, 4};
    auto *forgedSlot = reinterpret_cast<VexoStringSlot *>(const_cast<unsigned char *>(notASlot));
    EXPECT_EQ(Vexo_createMappedTextComputation(db.handle, u"G", forgedSlot, &forged), E_INVALIDARG);
    EXPECT_EQ(forged, nullptr);
    using Getter = HRESULT (*)(VexoNode *, const VexoNode *, uint32_t, uint32_t, const VexoChar **);
    struct Text { const char *what; Getter fn; VexoNode *node; uint32_t lang, alt; HRESULT want; std::u16string text; };
    const Text texts[] = {
        {"display name", Vexo_getDisplayName, unit, 0x409, 0, S_OK, u"km/h"},
        {"unit without text", Vexo_getDisplayName, bare, 0x409, 0, S_FALSE, u"<null>"},
        {"mapped text", Vexo_getTextValue, computation, 0x407, 0x409, S_OK, u"Off"},
    };
    for (const Text &c : texts) {
        SCOPED_TRACE(c.what);
        const VexoChar *text = nullptr;
        EXPECT_EQ(c.fn(db.handle, c.node, c.lang, c.alt, &text), c.want);
        EXPECT_EQ(u16(text), c.text);
    }

    // The unit of an element takes at most two steps.
    VexoNode *coding = made(Vexo_createCoding, d, u"K", 8u, 1u, unit);
    VexoNode *signal = made(Vexo_createSignal, d, u"S", 0u, 0.0, 0.0, 1.0, coding);
    VexoNode *bareCoding = made(Vexo_createCoding, d, u"K0", 8u, 1u, nullptr);
    VexoNode *bareSignal = made(Vexo_createSignal, d, u"S0", 0u, 0.0, 0.0, 1.0, bareCoding);
    VexoNode *orphan = made(Vexo_createSignal, d, u"S1", 0u, 0.0, 0.0, 1.0, nullptr);
    VexoNode *instance = made(Vexo_createSignalInstance, d, u"I", 0u, 0u, 0u, signal, nullptr);
    VexoNode *toFrame = made(Vexo_createElementReference, d, u"R", made(Vexo_createFrame, d, u"F2", 8u));
    const std::pair<VexoNode *, VexoNode *> units[] = {
        {coding, unit}, {unit, unit}, {signal, unit}, {bareSignal, nullptr} /* its coding has none */,
        {orphan, nullptr} /* no coding */, {instance, coding} /* two steps reach the coding */,
        {toFrame, nullptr} /* a reference to an element without reference field */};
    for (const auto &[node, want] : units) {
        VexoNode *got = unit == want ? nullptr : unit;
        EXPECT_EQ(Vexo_getUnit(node, &got), S_OK) << ascii(nodeAs<ElementId>(node)->eid);
        EXPECT_EQ(got, want) << ascii(nodeAs<ElementId>(node)->eid);
    }
}

