// Properties: every getter reads the field its creation argument went to, names and texts
// with their fallbacks and languages, and the two-step unit getter (texts of another
// database's nodes: the links' cross-database table).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

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

void *firstRecord(const RecordList &list, const ChunkLayout &layout)
{
    ListCursor cursor;
    cursorInit(&cursor, &layout, &list);
    void *record = nullptr;
    EXPECT_EQ(cursorNextRecords(&cursor, 1, &record, nullptr), S_OK);
    return record;
}

}  // namespace

TEST(Properties, GettersReadWhatCreationStored)
{
    TestDb db;
    VexoNode *cluster, *frame, *ast, *ibt, *mit, *pdu, *mux, *pduInstance, *part, *signal, *instance, *coding,
        *linear, *mapped, *event, *cyclic;
    VexoNode *const d = db.handle;
    ASSERT_EQ(Vexo_createCluster(d, u"CL", 2, &cluster), S_OK);
    ASSERT_EQ(Vexo_createFrame(d, u"F", 64, &frame), S_OK);
    ASSERT_EQ(Vexo_createAbsolutelyScheduledTriggering(d, u"A", 11, 12, 13, 0x14, nullptr, nullptr, nullptr, &ast),
              S_OK);
    ASSERT_EQ(Vexo_createIdentifierBasedTriggering(d, u"I", 0x18FF1234, 0x21, nullptr, nullptr, nullptr, &ibt), S_OK);
    ASSERT_EQ(Vexo_createMaskedIdentifierTriggering(d, u"M", 0x7F0, 0x120, 0x2, nullptr, nullptr, nullptr, &mit),
              S_OK);
    ASSERT_EQ(Vexo_createSignalPDU(d, u"P", 48, nullptr, &pdu), S_OK);
    ASSERT_EQ(Vexo_createMultiplexedPDU(d, u"X", 56, 1, 3, 5, 7, nullptr, &mux), S_OK);
    ASSERT_EQ(Vexo_createPDUInstance(d, u"PI", 1, 16, 15, nullptr, nullptr, &pduInstance), S_OK);
    ASSERT_EQ(Vexo_createMultiplexedPart(d, u"XP", 9, nullptr, &part), S_OK);
    ASSERT_EQ(Vexo_createSignal(d, u"S", 0x40000003, 1.5, -40, 215.25, nullptr, &signal), S_OK);
    ASSERT_EQ(Vexo_createSignalInstance(d, u"SI", 1, 23, 22, nullptr, nullptr, &instance), S_OK);
    ASSERT_EQ(Vexo_createCoding(d, u"K", 12, 3, nullptr, &coding), S_OK);
    ASSERT_EQ(Vexo_createLinearComputation(d, u"L", 0.125, -40, &linear), S_OK);
    ASSERT_EQ(Vexo_createMappedValueComputation(d, u"V", 42.5, &mapped), S_OK);
    ASSERT_EQ(Vexo_createEventControlledTiming(d, 250, nullptr, &event), S_OK);
    ASSERT_EQ(Vexo_createCyclicTiming(d, 0x123456789Aull, nullptr, &cyclic), S_OK);
    ASSERT_EQ(Vexo_addSegment(part, 1, 30, 6), S_OK);
    ASSERT_EQ(Vexo_addRange(linear, 0, 100, 0x3), S_OK);
    ASSERT_EQ(Vexo_setClusterType(cluster, 99), S_OK);  // above the largest cluster type: stored as given
    ASSERT_EQ(Vexo_setParam(signal, 0xC0FFEE), S_OK);
    auto *segment = static_cast<VexoNode *>(firstRecord(nodeAs<MultiplexedPart>(part)->segments, kSegmentLayout));
    auto *range = static_cast<VexoNode *>(firstRecord(nodeAs<Computation>(linear)->ranges, kRangeLayout));

    struct Case {
        const char *what;
        std::function<double()> get;
        double want;
    };
    const Case cases[] = {
        {"cluster type", read(Vexo_getClusterType, cluster), 99},
        {"frame length", read(Vexo_getLength, frame), 64},
        {"slot id", read(Vexo_getSlotId, ast), 11},
        {"cycle offset is the base cycle", read(Vexo_getCycleOffset, ast), 12},
        {"repetition", read(Vexo_getRepetition, ast), 13},
        {"flags of an absolutely scheduled triggering", read(Vexo_getFlags, ast), 0x14},
        {"identifier", read(Vexo_getIdentifier, ibt), 0x18FF1234},
        {"flags of an identifier-based triggering", read(Vexo_getFlags, ibt), 0x21},
        {"identifier mask", read(Vexo_getIdentifierMask, mit), 0x7F0},
        {"identifier code", read(Vexo_getIdentifierCode, mit), 0x120},
        {"flags of a signal", read(Vexo_getFlags, signal), 0x40000003},
        {"flags of a value range", read(Vexo_getFlags, range), 0x3},
        {"bit length of a signal PDU", read(Vexo_getBitLength, pdu), 48},
        {"bit length of a multiplexed PDU", read(Vexo_getBitLength, mux), 56},
        {"bit length of a coding", read(Vexo_getBitLength, coding), 12},
        {"bit length of a segment", read(Vexo_getBitLength, segment), 6},
        {"unused byte pattern", read(Vexo_getUnusedBytePattern, mux), 0},
        {"switch byte order", read(Vexo_getSwitchByteOrder, mux), 1},
        {"switch position", read(Vexo_getSwitchPosition, mux), 3},
        {"switch length", read(Vexo_getSwitchLength, mux), 5},
        {"default switch code", read(Vexo_getDefaultSwitchCode, mux), 7},
        {"switch code", read(Vexo_getSwitchCode, part), 9},
        {"byte order of a PDU instance", read(Vexo_getByteOrder, pduInstance), 1},
        {"bit position of a PDU instance", read(Vexo_getBitPosition, pduInstance), 16},
        {"update bit of a PDU instance", read(Vexo_getUpdateBitPosition, pduInstance), 15},
        {"byte order of a signal instance", read(Vexo_getByteOrder, instance), 1},
        {"bit position of a signal instance", read(Vexo_getBitPosition, instance), 23},
        {"update bit of a signal instance", read(Vexo_getUpdateBitPosition, instance), 22},
        {"byte order of a segment", read(Vexo_getByteOrder, segment), 1},
        {"bit position of a segment", read(Vexo_getBitPosition, segment), 30},
        {"default value", read(Vexo_getDefaultValue, signal), 1.5},
        {"minimum", read(Vexo_getMinValue, signal), -40},
        {"maximum", read(Vexo_getMaxValue, signal), 215.25},
        {"param", read(Vexo_getParam, signal), 0xC0FFEE},
        {"encoding", read(Vexo_getEncoding, coding), 3},
        {"scale", read(Vexo_getScale, linear), 0.125},
        {"offset", read(Vexo_getOffset, linear), -40},
        {"mapped value", read(Vexo_getValue, mapped), 42.5},
        {"lower limit", read(Vexo_getLowerLimit, range), 0},
        {"upper limit", read(Vexo_getUpperLimit, range), 100},
        {"debounce time", read(Vexo_getDebounceTime, event), 250},
        {"cycle time, all 64 bits", read(Vexo_getCycletime, cyclic), double(0x123456789Aull)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.get(), c.want);
    }
    const VexoChar *id = nullptr;
    EXPECT_EQ(Vexo_getElementId(signal, &id), S_OK);
    EXPECT_EQ(u16(id), u"S");
}

TEST(Properties, ShortNameFallsBackToTheIdentifier)
{
    TestDb db;
    VexoNode *frame = nullptr, *anonymous = nullptr;
    ASSERT_EQ(Vexo_createFrame(db.handle, u"F", 8, &frame), S_OK);
    ASSERT_EQ(Vexo_createFrame(db.handle, nullptr, 8, &anonymous), S_OK);
    struct Case {
        const char *what;
        VexoNode *node;
        const VexoChar *set;  // applied first unless null
        HRESULT want;
        std::u16string text;
    };
    const Case cases[] = {
        {"identifier stands in", frame, nullptr, S_OK, u"F"},
        {"a short name wins", frame, u"Front", S_OK, u"Front"},
        {"an empty short name is a short name", frame, u"", S_OK, u""},
        {"nothing at all", anonymous, nullptr, S_FALSE, u"<null>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.set != nullptr) {
            EXPECT_EQ(Vexo_setShortName(db.handle, c.node, c.set), S_OK);
        }
        const VexoChar *text = u"sentinel";
        EXPECT_EQ(Vexo_getShortName(db.handle, c.node, &text), c.want);
        EXPECT_EQ(u16(text), c.text);
    }
    EXPECT_EQ(Vexo_setShortName(db.handle, frame, nullptr), E_INVALIDARG);
    const VexoChar *text = nullptr;
    EXPECT_EQ(Vexo_getShortName(db.handle, frame, &text), S_OK);
    EXPECT_EQ(u16(text), u"");
}

TEST(Properties, TextsAreLookedUpByLanguageFallbackAndCreationLanguage)
{
    TestDb db;
    VexoNode *signal = nullptr;
    ASSERT_EQ(Vexo_createSignal(db.handle, u"S", 0, 0, 0, 1, nullptr, &signal), S_OK);
    const VexoChar *text = u"sentinel";
    EXPECT_EQ(Vexo_getLongName(db.handle, signal, 0x409, 0x407, &text), S_FALSE);
    EXPECT_EQ(text, nullptr);
    ASSERT_EQ(Vexo_setLongName(db.handle, signal, 0x409, u"Colour"), S_OK);
    ASSERT_EQ(Vexo_setLongName(db.handle, signal, 0x407, u"Farbe"), S_OK);
    ASSERT_EQ(Vexo_setLongName(db.handle, signal, 0x407, u""), S_OK);  // empty: no change
    ASSERT_EQ(Vexo_setDescription(db.handle, signal, 0x407, u"Beschreibung"), S_OK);
    struct Case {
        uint32_t language, fallback;
        std::u16string longName, description;
    };
    const Case cases[] = {
        {0x409, 0x407, u"Colour", u"Beschreibung"},  // the description exists in German only
        {0x407, 0x409, u"Farbe", u"Beschreibung"},
        {0x40C, 0x407, u"Farbe", u"Beschreibung"},
        {0x40C, 0x410, u"Colour", u"Beschreibung"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.language) + "/" + std::to_string(c.fallback));
        const VexoChar *name = nullptr, *description = nullptr;
        EXPECT_EQ(Vexo_getLongName(db.handle, signal, c.language, c.fallback, &name), S_OK);
        EXPECT_EQ(Vexo_getDescription(db.handle, signal, c.language, c.fallback, &description), S_OK);
        EXPECT_EQ(u16(name), c.longName);
        EXPECT_EQ(u16(description), c.description);
    }
    EXPECT_EQ(Vexo_setLongName(db.handle, signal, 0x409, nullptr), E_INVALIDARG);
}

TEST(Properties, ElementDetailAnswersWithTheDescriptionLookup)
{
    TestDb db;
    struct Case {
        const char *what;
        const VexoChar *longName, *description;  // set with setElementDetail
        bool askLong, askDescription;
        HRESULT want;
    };
    const Case cases[] = {
        {"neither text", nullptr, nullptr, true, true, S_FALSE},
        {"long name only: the missing description decides", u"Speed", nullptr, true, true, S_FALSE},
        {"description only", nullptr, u"Vehicle speed", true, true, S_OK},
        {"description only, asking for the long name alone", nullptr, u"Vehicle speed", true, false, S_FALSE},
        {"both, asking for the description alone", u"Speed", u"Vehicle speed", false, true, S_OK},
        {"no output at all", u"Speed", u"Vehicle speed", false, false, E_INVALIDARG},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VexoNode *signal = nullptr;
        ASSERT_EQ(Vexo_createSignal(db.handle, nullptr, 0, 0, 0, 1, nullptr, &signal), S_OK);
        ASSERT_EQ(Vexo_setElementDetail(db.handle, signal, 0x409, c.longName, c.description), S_OK);
        const VexoChar *name = u"sentinel", *description = u"sentinel";
        EXPECT_EQ(Vexo_getElementDetail(db.handle, signal, 0x409, 0x409, c.askLong ? &name : nullptr,
                                        c.askDescription ? &description : nullptr),
                  c.want);
        if (c.askLong) {
            EXPECT_EQ(u16(name), c.longName != nullptr ? c.longName : u"<null>");
        }
        if (c.askDescription) {
            EXPECT_EQ(u16(description), c.description != nullptr ? c.description : u"<null>");
        }
        // A later call with one text leaves the other alone.
        ASSERT_EQ(Vexo_setElementDetail(db.handle, signal, 0x409, u"Other", nullptr), S_OK);
        EXPECT_EQ(Vexo_getDescription(db.handle, signal, 0x409, 0x409, &description),
                  c.description != nullptr ? S_OK : S_FALSE);
    }
}

TEST(Properties, UnitAndMappedTexts)
{
    TestDb db;
    VexoNode *unit = nullptr, *bare = nullptr, *computation = nullptr, *forged = nullptr;
    ASSERT_EQ(Vexo_createUnitSpec(db.handle, u"U", 0x409, u"km/h", &unit), S_OK);
    ASSERT_EQ(Vexo_createUnitSpec(db.handle, u"B", 0x409, nullptr, &bare), S_OK);
    ASSERT_EQ(Vexo_setDisplayName(db.handle, unit, 0x407, u"km/h (DE)"), S_OK);
    VexoStringSlot *slot = nullptr;
    ASSERT_EQ(Vexo_stringCreateSlot(db.handle, 0x409, u"Off", &slot), S_OK);
    ASSERT_EQ(Vexo_createMappedTextComputation(db.handle, u"T", slot, &computation), S_OK);
    // Only a slot of the database itself can be a computation's text.
    alignas(8) static const unsigned char notASlot[32] = {1, 2, 3, 4};
    auto *forgedSlot = reinterpret_cast<VexoStringSlot *>(const_cast<unsigned char *>(notASlot));
    EXPECT_EQ(Vexo_createMappedTextComputation(db.handle, u"G", forgedSlot, &forged), E_INVALIDARG);
    EXPECT_EQ(forged, nullptr);
    struct Case {
        const char *what;
        std::function<HRESULT(const VexoChar **)> get;
        HRESULT want;
        std::u16string text;
    };
    const Case cases[] = {
        {"display name", [&](auto out) { return Vexo_getDisplayName(db.handle, unit, 0x409, 0, out); }, S_OK, u"km/h"},
        {"display name, other language", [&](auto out) { return Vexo_getDisplayName(db.handle, unit, 0x407, 0, out); },
         S_OK, u"km/h (DE)"},
        {"unit without text", [&](auto out) { return Vexo_getDisplayName(db.handle, bare, 0x409, 0, out); }, S_FALSE,
         u"<null>"},
        {"mapped text", [&](auto out) { return Vexo_getTextValue(db.handle, computation, 0x407, 0x409, out); }, S_OK,
         u"Off"},
        {"lookup of something that is no slot",
         [&](auto out) { return Vexo_stringLookup(db.handle, forgedSlot, 0x409, 0x409, out); }, E_UNEXPECTED,
         u"<null>"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const VexoChar *text = nullptr;
        EXPECT_EQ(c.get(&text), c.want);
        EXPECT_EQ(u16(text), c.text);
    }
}

TEST(Properties, UnitOfAnElementTakesAtMostTwoSteps)
{
    TestDb db;
    VexoNode *const d = db.handle;
    VexoNode *unit, *coding, *bareCoding, *signal, *bareSignal, *orphan, *instance, *frame, *toFrame;
    ASSERT_EQ(Vexo_createUnitSpec(d, u"U", 0x409, u"V", &unit), S_OK);
    ASSERT_EQ(Vexo_createCoding(d, u"K", 8, 1, unit, &coding), S_OK);
    ASSERT_EQ(Vexo_createCoding(d, u"K0", 8, 1, nullptr, &bareCoding), S_OK);
    ASSERT_EQ(Vexo_createSignal(d, u"S", 0, 0, 0, 1, coding, &signal), S_OK);
    ASSERT_EQ(Vexo_createSignal(d, u"S0", 0, 0, 0, 1, bareCoding, &bareSignal), S_OK);
    ASSERT_EQ(Vexo_createSignal(d, u"S1", 0, 0, 0, 1, nullptr, &orphan), S_OK);
    ASSERT_EQ(Vexo_createSignalInstance(d, u"I", 0, 0, 0, signal, nullptr, &instance), S_OK);
    ASSERT_EQ(Vexo_createFrame(d, u"F", 8, &frame), S_OK);
    ASSERT_EQ(Vexo_createElementReference(d, u"R", frame, &toFrame), S_OK);
    struct Case {
        const char *what;
        VexoNode *node;
        VexoNode *want;
    };
    const Case cases[] = {
        {"coding", coding, unit},
        {"unit itself", unit, unit},
        {"signal through its coding", signal, unit},
        {"signal whose coding has no unit", bareSignal, nullptr},
        {"signal without coding", orphan, nullptr},
        {"signal instance: two steps reach the coding", instance, coding},
        {"reference to an element without reference field", toFrame, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VexoNode *got = unit == c.want ? nullptr : unit;
        EXPECT_EQ(Vexo_getUnit(c.node, &got), S_OK);
        EXPECT_EQ(got, c.want);
    }
}
