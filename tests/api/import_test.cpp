// The shipped import and export scripts through the C interface: a small DBC written
// by the test imports into the model the mapping describes, decodes, encodes with
// rounding to the nearest raw step, and fails with the reader's message when broken.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "decode_records.h"
#include "list_of.h"
#include "test_text.h"
#include "vexo/vexo.h"

namespace {

constexpr char kNetwork[] = R"(VERSION ""
NS_ :
BS_:
BU_: Engine Dash
BO_ 291 Motor: 8 Engine
 SG_ Speed : 0|16@1+ (0.01,0) [0|300] "km/h" Dash
 SG_ Temp : 23|8@0- (0.5,-10) [-74|53.5] "degC" Dash
 SG_ Ratio : 32|32@1- (1,0) [0|0] "" Dash
 SG_ Gear : 56|4@1+ (1,0) [0|15] "" Dash
BO_ 2147484160 Mux: 12 Dash
 SG_ Sel M : 0|8@1+ (1,0) [0|0] "" Engine
 SG_ A m1 : 8|8@1+ (0.392157,0) [0|100] "%" Engine
 SG_ B m2 : 8|16@1- (0.5,0) [0|0] "" Engine
CM_ BO_ 291 "Engine state";
BA_DEF_ BO_ "GenMsgCycleTime" INT 0 10000;
BA_DEF_ BO_ "VFrameFormat" ENUM "StandardCAN","ExtendedCAN","reserved","StandardCAN_FD","ExtendedCAN_FD";
BA_DEF_ SG_ "SystemSignalLongSymbol" STRING ;
BA_DEF_ BU_ "NmNode" INT 0 1;
BA_DEF_DEF_ "GenMsgCycleTime" 0;
BA_ "GenMsgCycleTime" BO_ 291 100;
BA_ "VFrameFormat" BO_ 2147484160 4;
BA_ "SystemSignalLongSymbol" SG_ 291 Temp "CoolantTemperatureAtTheEngineOutlet";
VAL_ 291 Gear 0 "Park" 15 "Invalid" ;
VAL_ 291 Temp 255 "Sensor fault" ;
SIG_VALTYPE_ 291 Ratio : 1;
)";

constexpr char kLinNetwork[] = R"(LIN_description_file;
LIN_protocol_version = "2.1";
LIN_language_version = "2.1";
LIN_speed = 19.2 kbps;
Nodes { Master: Ctrl, 5 ms, 0.1 ms; Slaves: Door, Seat; }
Signals {
  Position: 8, 30, Door, Ctrl;
  Motion: 2, 0, Door, Ctrl, Seat;
  Heat: 4, 0, Seat, Ctrl;
}
Frames {
  DoorStatus: 0x10, Door, 3 { Position, 8; Motion, 16; }
  SeatStatus: 0x11, Seat, 2 { Heat, 8; }
}
Event_triggered_frames { Events: 0x3A, DoorStatus, SeatStatus; }
Node_attributes {
  Door { LIN_protocol = "2.1"; configured_NAD = 0x10; }
  Seat { LIN_protocol = "2.1"; configured_NAD = 0x11; }
}
Schedule_tables { Normal { DoorStatus delay 10 ms; SeatStatus delay 10 ms; Events delay 10 ms; DoorStatus delay 10 ms; } }
Signal_encoding_types {
  PositionEncoding { physical_value, 0, 200, 0.5, -10, "mm"; logical_value, 255, "Error"; }
  MotionEncoding { logical_value, 0, "Stopped"; logical_value, 1, "Opening"; logical_value, 2, "Closing"; }
}
Signal_representation { PositionEncoding: Position; MotionEncoding: Motion; }
)";

// Writes a file into the build tree; its path, as the import functions take it. Tests
// running at once write the same files: each is written aside and renamed into place,
// so that no import reads one half written.
std::u16string writeFile(const std::string &name, const std::string &text)
{
    const std::string path = std::string(VEXO_BINARY_DIR) + "/tests/" + name;
    const std::string aside = path + "." + std::to_string(getpid());
    std::ofstream(aside, std::ios::binary) << text;
    std::rename(aside.c_str(), path.c_str());
    return std::u16string(path.begin(), path.end());
}

struct Message { int32_t line, severity; std::string text; };

int32_t collect(void *context, const VexoMessage *message)
{
    static_cast<std::vector<Message> *>(context)->push_back({message->first, message->second, ascii(message->text)});
    return 0;
}

class ImportedNetwork : public testing::Test {
protected:
    void SetUp() override { import("network.dbc", kNetwork); }

    void import(const std::string &name, const char *text)
    {
        ASSERT_EQ(Vexo_create(u"test", &db_), S_OK);
        ASSERT_EQ(Vexo_importFile(db_, nullptr, writeFile(name, text).c_str(), u"", &messages_, collect), S_OK)
            << (messages_.empty() ? "" : messages_.back().text);
    }
    void TearDown() override { Vexo_destroy(db_); }

    VexoNode *find(const char16_t *id)
    {
        VexoNode *node = nullptr;
        EXPECT_EQ(Vexo_findByElementId(db_, id, &node), S_OK) << ascii(id);
        return node;
    }

    // Decodes a frame; the physical value (or the raw one) and text of each signal.
    std::vector<std::pair<double, std::string>> decode(uint32_t id, uint32_t flags, std::vector<uint8_t> data,
                                                       const char16_t *channel = u"network/channel")
    {
        std::vector<ExpectedRecord> records;
        EXPECT_TRUE(stepwiseRecords(db_, find(channel), false, {id, flags, uint32_t(data.size()), 0, data.data()}, 0,
                                    nullptr, 0, records));
        std::vector<std::pair<double, std::string>> values;
        for (const ExpectedRecord &r : records) {
            const SignalValue &v = r.record.value;
            if (r.record.kind == VEXO_RECORD_SIGNAL)
                values.emplace_back(v.valueType == Q3_VALUETYPE_DOUBLE ? v.value.f64
                                    : v.valueType == Q3_VALUETYPE_INT64 ? double(v.value.i64) : double(v.value.u64),
                                    r.record.valueText != nullptr ? ascii(r.record.valueText) : "");
        }
        return values;
    }

    // Each row: the element, a field getter and the value it must give.
    struct Field { const char16_t *id; HRESULT (*getter)(const VexoNode *, uint32_t *); uint32_t want; };
    void expectFields(std::initializer_list<Field> fields)
    {
        for (const Field &f : fields) {
            uint32_t value = 0;
            EXPECT_EQ(f.getter(find(f.id), &value), S_OK) << ascii(f.id);
            EXPECT_EQ(value, f.want) << ascii(f.id);
        }
    }

    VexoNode *db_ = nullptr;
    std::vector<Message> messages_;
};

TEST_F(ImportedNetwork, FramesAndTriggeringsFollowTheFile)
{
    expectFields({{u"network/frame/Motor", Vexo_getLength, 8},
                  {u"network/frame/Motor/triggering", Vexo_getIdentifier, 0x123},
                  {u"network/frame/Motor/triggering", Vexo_getFlags, Q3_FLAG_CANSTANDARD},
                  {u"network/frame/Mux/triggering", Vexo_getIdentifier, 0x200},
                  {u"network/frame/Mux/triggering", Vexo_getFlags, Q3_FLAG_CANEXTENDED | Q3_FLAG_CANFD_EXTDATALEN}});
    const VexoChar *name = nullptr;
    ASSERT_EQ(Vexo_getShortName(db_, find(u"network/frame/Motor/signal/CoolantTemperatureAtTheEngineOutlet"), &name),
              S_OK);
    EXPECT_EQ(u16(name), u"CoolantTemperatureAtTheEngineOutlet") << "long names give names and ids";
    ASSERT_EQ(Vexo_getDescription(db_, find(u"network/frame/Motor"), 0, 0, &name), S_OK);
    EXPECT_EQ(u16(name), u"Engine state");

    // Unkept attributes are reported at their line, with the values they drop.
    EXPECT_TRUE(std::any_of(messages_.begin(), messages_.end(), [](const Message &m) {
        return m.severity == VEXO_MESSAGE_WARNING && m.line == 18 && m.text.find("NmNode") != std::string::npos;
    }));
}

TEST_F(ImportedNetwork, DecodedValuesFollowTheLayout)
{
    // Speed 0x1234 * 0.01; Temp big-endian from bit 23 (byte 2) = 0xFF: -1 with text; Ratio float 1.5 (0x3FC00000) at
    // byte 4, whose top byte also holds Gear (low nibble, 15: "Invalid").
    const auto motor = decode(0x123, 0, {0x34, 0x12, 0xFF, 0x00, 0x00, 0x00, 0xC0, 0x3F});
    ASSERT_EQ(motor.size(), 4u);
    EXPECT_DOUBLE_EQ(motor[0].first, 0x1234 * 0.01);
    EXPECT_EQ(motor[1], std::make_pair(-1 * 0.5 - 10, std::string("Sensor fault")));
    EXPECT_EQ(motor[2].first, 1.5);
    EXPECT_EQ(motor[3], std::make_pair(15.0, std::string("Invalid")));
}

// Statements the reader passes over are read from the text where they start a line (also
// after blanks or a carriage return), up to their ';': those the model cannot hold and
// those not understood are reported at their lines.
TEST_F(ImportedNetwork, StatementsBesideTheReadersTableComeFromTheText)
{
    Vexo_destroy(db_);
    messages_.clear();
    import("statements.dbc", "VERSION \"\"\nBU_: A\nBO_ 1 F: 8 A\n"
                             " SG_ Sel M : 0|8@1+ (1,0) [0|0] \"\" A\n"
                             " SG_ X : 8|8@1+ (1,0) [0|0] \"\" A\n"
                             " SG_ Y : 16|32@1+ (1,0) [0|0] \"\" A\n"
                             "SIG_VALTYPE_ 1 Y1;\n"  // no ':' and no blank: Y, type 1
                             "  SG_MUL_VAL_ 1 X Sel 2-3, 7 - 7 ;\n"
                             "\tSIG_GROUP_ 1 G 1 : X;\rBO_TX_BU_ 1 : A;\n"
                             "SG_MUL_VAL_ 1 X;\n");
    const std::vector<std::pair<int32_t, std::string>> want = {
        {9, "signal group 1 not kept"},
        {9, "additional senders of a message 1 not kept"},
        {10, "multiplexing statement not understood: SG_MUL_VAL_ 1 X;"},
        {0, "imported statements: 1 frames, 3 signals, 1 ECUs"},
    };
    std::vector<std::pair<int32_t, std::string>> got;
    for (const Message &m : messages_)
        got.emplace_back(m.line, m.text);
    EXPECT_EQ(got, want);

    // Sel 2, 3 and 7 select X; Y is a float (1.5) either way.
    struct Case { uint8_t sel; std::vector<double> want; };
    for (const Case &c : {Case{7, {7, 0x11, 1.5}}, Case{3, {3, 0x11, 1.5}}, Case{4, {4, 1.5}}}) {
        std::vector<double> values;
        for (const auto &v : decode(1, 0, {c.sel, 0x11, 0x00, 0x00, 0xC0, 0x3F, 0, 0}, u"statements/channel"))
            values.push_back(v.first);
        std::sort(values.begin(), values.end());
        std::vector<double> sorted = c.want;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(values, sorted) << "Sel " << int(c.sel);
    }
}

TEST_F(ImportedNetwork, EncodingRoundsToTheNearestRawStep)
{
    struct Case { const char16_t *signal; double physical; bool representable; int64_t raw; };
    const Case cases[] = {
        {u"network/frame/Mux/signal/A", 0.392157, true, 1},      // exactly one step
        {u"network/frame/Mux/signal/A", 100.0, true, 255},       // 254.99997 steps
        {u"network/frame/Mux/signal/A", 0.19, true, 0},          // below half a step
        {u"network/frame/Mux/signal/A", -1.0, false, 0},         // below the coding
        {u"network/frame/Mux/signal/B", -1.2, true, -2},         // -2.4 steps
        {u"network/frame/Mux/signal/B", -0.74, true, -1},        // -1.48 steps
        {u"network/frame/Mux/signal/B", 0.24, true, 0},
        {u"network/frame/Motor/signal/CoolantTemperatureAtTheEngineOutlet", -10.3, true, -1},
        {u"network/frame/Motor/signal/Speed", 655.36, false, 0},  // one step above 16 bits
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(ascii(c.signal) + " " + std::to_string(c.physical));
        VexoNode *signal = find(c.signal);
        SignalValue value{Q3_VALUETYPE_DOUBLE, 0, {c.physical}, nullptr, nullptr};
        VexoEncodeState *state = nullptr;
        ASSERT_EQ(Vexo_encodeSignal(signal, &value, &state), S_OK);
        VexoNode *computation = nullptr;
        const HRESULT found = Vexo_encodeNextComputation(state, &computation);
        Vexo_destroyEncodeEnum(state);
        ASSERT_EQ(found, c.representable ? S_OK : S_FALSE);
        if (!c.representable)
            continue;
        uint64_t raw = 0;
        uint32_t bits = 0;
        VexoNode *coding = nullptr;
        ASSERT_EQ(Vexo_physicalToInternal(signal, computation, &value, &raw), S_OK);
        ASSERT_EQ(Vexo_getReference(signal, &coding), S_OK);
        ASSERT_EQ(Vexo_getBitLength(coding, &bits), S_OK);
        const uint64_t mask = (uint64_t{1} << bits) - 1;
        EXPECT_EQ(raw & mask, static_cast<uint64_t>(c.raw) & mask);
    }
}

class ImportedLinNetwork : public ImportedNetwork {
protected:
    void SetUp() override { import("lin.ldf", kLinNetwork); }
};

TEST_F(ImportedLinNetwork, FramesSignalsAndScheduleFollowTheFile)
{
    // LIN 2.1 uses the enhanced checksum; DoorStatus sits twice in a 40 ms table, slot 3 starts 20 ms in.
    expectFields({{u"lin/frame/DoorStatus/triggering", Vexo_getIdentifier, 0x10},
                  {u"lin/frame/DoorStatus/triggering", Vexo_getFlags, Q3_FLAG_LIN_ENH_CHECKSUM},
                  {u"lin/schedule/Normal/3", Vexo_getSlotId, 3}, {u"lin/schedule/Normal/3", Vexo_getCycleOffset, 20000},
                  {u"lin/schedule/Normal/3", Vexo_getRepetition, 40000}});

    // Position 100 * 0.5 - 10; Motion 1 with its logical value.
    const auto values = decode(0x10, 0, {0x00, 100, 0x01}, u"lin/channel");
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0], std::make_pair(40.0, std::string()));
    EXPECT_EQ(values[1], std::make_pair(1.0, std::string("Opening")));
    // The event-triggered frame carries DoorStatus, named by its protected id 0x50.
    const auto event = decode(0x3A, 0, {0x50, 100, 0x02}, u"lin/channel");
    ASSERT_EQ(event.size(), 2u);
    EXPECT_EQ(event[1], std::make_pair(2.0, std::string("Closing")));

    double initial = 0;
    ASSERT_EQ(Vexo_getDefaultValue(find(u"lin/signal/Position"), &initial), S_OK);
    EXPECT_EQ(initial, 30 * 0.5 - 10);
    uint64_t cycle = 0;
    const std::vector<VexoNode *> timings = listOf(Vexo_enumChildren, find(u"lin/frame/DoorStatus/pdu-triggering"));
    ASSERT_EQ(timings.size(), 1u);
    ASSERT_EQ(Vexo_getCycletime(timings[0], &cycle), S_OK);
    EXPECT_EQ(cycle, 20u);

    EXPECT_EQ(std::count_if(messages_.begin(), messages_.end(), [](const Message &m) {
                  return m.text.find("node attributes of") != std::string::npos && m.line >= 17;
              }), 2) << "reported at their lines";
}

TEST(ImportScripts, RejectedFileFailsWithTheReadersMessage)
{
    VexoNode *db = nullptr;
    ASSERT_EQ(Vexo_create(nullptr, &db), S_OK);
    const std::u16string path = writeFile("broken.dbc", "VERSION \"\"\nBU_: A\nBO_ Foo Bar: 8 A\n");
    std::vector<Message> messages;
    EXPECT_EQ(Vexo_importFile(db, nullptr, path.c_str(), u"DBC", &messages, collect), E_FAIL);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "DBC-Import: (3, 5): 'constant' expected but found 'Foo'");
    VexoNode *found = nullptr;
    EXPECT_EQ(Vexo_findByElementId(db, u"broken/cluster", &found), S_FALSE) << "nothing half-imported";
    Vexo_destroy(db);
}

// S_OK when a default group (by its enumerator) lists the node.
HRESULT inGroup(VexoNode *db, HRESULT (*enumerate)(VexoNode *, VexoEnumerator **), VexoNode *node)
{
    VexoEnumerator *members = nullptr;
    HRESULT hr = enumerate(db, &members);
    for (VexoNode *entry = nullptr; hr == S_OK && Vexo_enumeratorNext(members, 1, &entry, nullptr) == S_OK;) {
        if (entry == node)
            hr = S_FALSE;
    }
    Vexo_enumeratorDestroy(members);
    return hr == S_FALSE ? S_OK : E_FAIL;
}

// A message's receiver may look into the model being built: the elements made before the
// message are there to be found, in the root group and in the default groups, and so is
// an element it makes itself.
TEST(ImportScripts, ElementsMadeBeforeAMessageAreFoundFromItsCallback)
{
    struct Seen {
        VexoNode *db;
        std::vector<HRESULT> found;
    };
    const auto look = [](void *context, const VexoMessage *message) -> int32_t {
        auto *seen = static_cast<Seen *>(context);
        if (ascii(message->text).find("appears twice") == std::string::npos)
            return 0;
        for (const char16_t *id : {u"twice/frame/M", u"twice/frame/M/signal/S", u"twice/frame/M/triggering"}) {
            VexoNode *node = nullptr;
            seen->found.push_back(Vexo_findByElementId(seen->db, id, &node));
        }
        VexoNode *signal = nullptr, *frame = nullptr, *made = nullptr;
        Vexo_findByElementId(seen->db, u"twice/frame/M/signal/S", &signal);
        seen->found.push_back(inGroup(seen->db, Vexo_enumSignals, signal));
        seen->found.push_back(Vexo_createFrame(seen->db, u"made/in/callback", 8, &frame));
        seen->found.push_back(Vexo_findByElementId(seen->db, u"made/in/callback", &made));
        seen->found.push_back(inGroup(seen->db, Vexo_enumFrames, frame));
        return 0;
    };
    Seen seen{nullptr, {}};
    ASSERT_EQ(Vexo_create(nullptr, &seen.db), S_OK);
    const std::u16string path = writeFile("twice.dbc", "VERSION \"\"\nBU_: A\nBO_ 1 M: 8 A\n"
                                                       " SG_ S : 0|8@1+ (1,0) [0|0] \"\" A\n"
                                                       " SG_ S : 8|8@1+ (1,0) [0|0] \"\" A\n");
    EXPECT_EQ(Vexo_importFile(seen.db, nullptr, path.c_str(), u"", &seen, look), S_OK);
    EXPECT_EQ(seen.found, (std::vector<HRESULT>(7, S_OK)));
    Vexo_destroy(seen.db);
}

TEST(ImportScripts, QueriesAnswerForTheShippedFormats)
{
    const std::u16string dbc = writeFile("content.txt", kNetwork);
    const std::u16string ldf = writeFile("content.ldf", "LIN_description_file;\n");
    const std::u16string other = writeFile("other.dbc", "hello\n");
    EXPECT_EQ(Vexo_importDetect(dbc.c_str()), S_OK) << "by content, not by name";
    EXPECT_EQ(Vexo_importDetect(ldf.c_str()), S_OK);
    EXPECT_EQ(Vexo_importDetect(other.c_str()), S_FALSE);

    VexoString id = nullptr;
    ASSERT_EQ(Vexo_importGetDbId(dbc.c_str(), &id), S_OK);
    EXPECT_EQ(u16(id), u"content");
    Vexo_freeString(id);
    VexoString filters = nullptr;
    ASSERT_EQ(Vexo_importGetAvailableFilters(&filters), S_OK);
    EXPECT_NE(u16(filters).find(u"*.ldf"), std::u16string::npos);
    Vexo_freeString(filters);

    VexoNode *db = nullptr;
    ASSERT_EQ(Vexo_create(nullptr, &db), S_OK);
    std::vector<Message> messages;
    ASSERT_EQ(Vexo_importGetInfo(db, dbc.c_str(), &messages, collect), S_OK);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "DBC file content: 2 frames, 7 signals, 2 ECUs");
    Vexo_destroy(db);
}

}  // namespace
