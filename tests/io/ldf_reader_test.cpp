// The LDF reader: whole result tables for files of each language version and for every section and command, and the
// syntax error messages (the corpus is read in read_recovery_test.cpp, the entry in reader_entry_test.cpp).
#include <gtest/gtest.h>

#include "io_test_support.h"
#include "ldf_reader.h"

namespace vexo::io {
namespace {

const auto importLdfText = [](const std::string &text) { return test::importText(test::Format::kLdf, text); };

// The header and Nodes section of a file of a language version (lines 1 to 8 when
// there is no channel name), and their two elements as rendered.
std::string head(const std::string &version, const std::string &channel = "")
{
    return "LIN_description_file;\nLIN_protocol_version = \"" + version + "\";\nLIN_language_version = \"" + version +
           "\";\nLIN_speed = 19.2 kbps;\n" + (channel.empty() ? "" : "Channel_name = \"" + channel + "\";\n") +
           "Nodes {\n  Master: M, 5 ms, 0.1 ms;\n  Slaves: S1, S2;\n}\n";
}

std::string headTable(const std::string &version, const std::string &channel = "")
{
    return std::string("{{") + (channel.empty() ? "" : "Channel_name=\"" + channel + "\",") +
           "LIN_language_version=\"" + version + "\",LIN_protocol_version=\"" + version +
           "\",LIN_speed=19.2,tag=\"global\"},{Master={jitter=0.1,name=\"M\",timebase=5},Slaves={\"S1\",\"S2\"},"
           "tag=\"nodes\"},";
}

// A file: the head of a version, then body; want: the elements after the head's two.
struct Row { const char *what; std::string version, body, want; };

void checkRows(const std::vector<Row> &rows, const std::string &channel = "")
{
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(importLdfText(head(r.version, channel) + r.body),
                  headTable(r.version, channel) + r.want + ",tag=\"db\"}");
    }
}

const char *const kEmptyTail = "Node_attributes { }\nSchedule_tables { }\n";
const char *const kEmptyTailTable = "{tag=\"nodeattributes\"},{tag=\"scheduletables\"}";

TEST(LdfReader, ReadsFilesOfEachLanguageVersion)
{
    checkRows({
        {"minimal 2.1 file: six elements", "2.1", std::string("Signals { }\nFrames { }\n") + kEmptyTail,
         std::string("{tag=\"signals\"},{tag=\"frames\"},") + kEmptyTailTable},
        {"1.3: diagnostic addresses, frame sizes from identifiers, signal groups, no node attributes", "1.3",
         "Diagnostic_addresses { S1: 1; S2: 0x02 }\nSignals { A: 8, 0, M, S1; B: 16, 0xFFFFFFFF, S1, M; }\n"
         "Frames { F10: 10, M { A, 0; } F40: 40, M { } F50: 50, S1 { B, 8; } F70: 70, M { } F3: 32, M, 3 { } }\n"
         "Schedule_tables { T { F10 delay 10.5 ms; } }\nSignal_groups { G: 16 { A, 0; B, 8; } }\n",
         "{S1=\"1\",S2=\"0x02\",tag=\"diagnosticaddresses\"},"
         "{{initvalue=0,name=\"A\",publishedby=\"M\",size=8,subscribedby={\"S1\"},tag=\"signal\"},"
         "{initvalue=-1,name=\"B\",publishedby=\"S1\",size=16,subscribedby={\"M\"},tag=\"signal\"},tag=\"signals\"},"
         "{{{name=\"A\",offset=0,tag=\"signalinst\"},ident=10,name=\"F10\",publishedby=\"M\",size=2,tag=\"frame\"},"
         "{ident=40,name=\"F40\",publishedby=\"M\",size=4,tag=\"frame\"},"
         "{{name=\"B\",offset=8,tag=\"signalinst\"},ident=50,name=\"F50\",publishedby=\"S1\",size=8,tag=\"frame\"},"
         "{ident=70,name=\"F70\",publishedby=\"M\",size=2,tag=\"frame\"},"
         "{ident=32,name=\"F3\",publishedby=\"M\",size=3,tag=\"frame\"},tag=\"frames\"},"
         "{{{frame=\"F10\",tag=\"identifier\",time=10.5},name=\"T\",tag=\"scheduletable\"},tag=\"scheduletables\"},"
         "{{{name=\"A\",offset=0,tag=\"signal\"},{name=\"B\",offset=8,tag=\"signal\"},name=\"G\",size=16,"
         "tag=\"signalgroup\"},tag=\"signalgroups\"}"},
        {"2.0: a 2.0 slave with frame identifiers and a 1.3 slave", "2.0",
         "Signals { }\nFrames { }\nNode_attributes {\n"
         "  S1 { LIN_protocol = 2.0; configured_NAD = 1; product_id = 0x1E, 0x2; response_error = Err;\n"
         "       configurable_frames { F1 = 0x12; F2; } }\n"
         "  S2 { LIN_protocol = \"1.3\"; configured_NAD = 2; }\n}\nSchedule_tables { }\n",
         "{tag=\"signals\"},{tag=\"frames\"},{{LIN_protocol=\"2.0\",configurableframes={{ident=18,name=\"F1\","
         "tag=\"frame\"},{name=\"F2\",tag=\"frame\"}},configured_NAD=1,name=\"S1\",productid={functionid=2,"
         "supplierid=30},responseerror=\"Err\",tag=\"node\"},{LIN_protocol=\"1.3\",configured_NAD=2,name=\"S2\","
         "tag=\"node\"},tag=\"nodeattributes\"},{tag=\"scheduletables\"}"},
        {"2.1: every node attribute", "2.1",
         "Signals { }\nFrames { }\nNode_attributes {\n"
         "  S1 { LIN_protocol = \"2.1\"; configured_NAD = 0x10; initial_NAD = 5; product_id = 1, 2, 3;\n"
         "       response_error = Signals; fault_state_signals = Frames, A B, C;\n"
         "       P2_min = 12.5 ms; ST_min = 0 ms; N_As_timeout = 1000 ms; N_Cr_timeout = 900 ms;\n"
         "       configurable_frames { } }\n}\nSchedule_tables { }\n",
         "{tag=\"signals\"},{tag=\"frames\"},{{LIN_protocol=\"2.1\",N_CR_timeout=900,N_as=1000,P2_min=12.5,ST_min=0,"
         "configurableframes={},configured_NAD=16,diagaddress=5,faultstatesignals={\"Frames\",\"A\",\"B\",\"C\"},"
         "name=\"S1\",productid={functionid=2,supplierid=1,variant=3},responseerror=\"Signals\",tag=\"node\"},"
         "tag=\"nodeattributes\"},{tag=\"scheduletables\"}"},
        {"a language version that starts with no number reads as 0", "J2602_3_1.0",
         "Diagnostic_addresses { }\nSignals { }\nFrames { }\nSchedule_tables { }\n",
         "{tag=\"diagnosticaddresses\"},{tag=\"signals\"},{tag=\"frames\"},{tag=\"scheduletables\"}"},
        {"nothing after the last section is read", "2.1",
         std::string("Signals { }\nFrames { }\n") + kEmptyTail +
             "Signal_encoding_types { }\nSignal_groups { G: 8 { } }\nSchedule_tables { x } ] \"",
         std::string("{tag=\"signals\"},{tag=\"frames\"},") + kEmptyTailTable + ",{tag=\"signalencodingtypes\"}"},
    });
    // The sections between Nodes and Node_attributes that only 2.x files have.
    checkRows({{"2.2: channel name, composite, array initial value, diagnostic, sporadic and event-triggered "
                "frames", "2.2",
                "composite {\n  configuration C1 { CN { S1, S2; } CM { M; } }\n  configuration Master { }\n}\n"
                "Signals { A: 8, {0, 255}, Master, S1, S2; }\nDiagnostic_signals { MasterReqB0: 8, 0; }\n"
                "Frames { F: 0x10, M, 1 { A, 0; } }\nSporadic_frames { SF: F, G; }\n"
                "Event_triggered_frames { E1: T, 0x3A, F, G; E2: 59, F; }\n"
                "Diagnostic_frames { MasterReq: 0x3C { MasterReqB0, 0; } }\n" + std::string(kEmptyTail),
                "{{{\"S1\",\"S2\",name=\"CN\",tag=\"compositenode\"},{\"M\",name=\"CM\",tag=\"compositenode\"},"
                "name=\"C1\",tag=\"configuration\"},{name=\"Master\",tag=\"configuration\"},tag=\"composite\"},"
                "{{initvalue={\"0\",\"255\"},name=\"A\",publishedby=\"Master\",size=8,subscribedby={\"S1\",\"S2\"},"
                "tag=\"signal\"},tag=\"signals\"},"
                "{{initvalue=0,name=\"MasterReqB0\",size=8,tag=\"signal\"},tag=\"diagnosticsignals\"},"
                "{{{name=\"A\",offset=0,tag=\"signalinst\"},ident=16,name=\"F\",publishedby=\"M\",size=1,"
                "tag=\"frame\"},tag=\"frames\"},{{\"F\",\"G\",name=\"SF\",tag=\"frame\"},tag=\"sporadicframes\"},"
                "{{\"F\",\"G\",collisionresolvingscheduletable=\"T\",ident=58,name=\"E1\",tag=\"frame\"},"
                "{\"F\",ident=59,name=\"E2\",tag=\"frame\"},tag=\"eventtriggeredframes\"},"
                "{{{name=\"MasterReqB0\",offset=0,tag=\"signalinst\"},ident=60,name=\"MasterReq\",tag=\"frame\"},"
                "tag=\"diagnosticframes\"}," + std::string(kEmptyTailTable)}}, "DB");
}

TEST(LdfReader, ReadsScheduleCommandsEncodingsAndRepresentations)
{
    checkRows({
        {"every schedule command; an empty schedule table", "2.1",
         "Signals { }\nFrames { }\nNode_attributes { }\nSchedule_tables {\n  Empty { }\n  Cfg {\n"
         "    F delay 10.5 ms;\n    AssignNAD { S1 } delay 5 ms;\n    SaveConfiguration { Master } delay 5 ms;\n"
         "    ConditionalChangeNAD { 0x7F, 1, 2, 0xFF, -1, 3 } delay 5 ms;\n"
         "    DataDump { S1, 1, 2, 3, 4, 5 } delay 5 ms;\n    AssignFrameIdRange { S1, 0 } delay 5 ms;\n"
         "    AssignFrameIdRange { S1, 4, 1, 2, 3, 4 } delay 5 ms;\n"
         "    FreeFormat { 1, 2, 3, 4, 5, 6, 7, 8 } delay 5 ms;\n    AssignFrameId { S1, Frames } delay 0 ms;\n"
         "  }\n}\n",
         "{tag=\"signals\"},{tag=\"frames\"},{tag=\"nodeattributes\"},{{name=\"Empty\",tag=\"scheduletable\"},"
         "{{frame=\"F\",tag=\"identifier\",time=10.5},{node=\"S1\",tag=\"assignNAD\",time=5},"
         "{node=\"Master\",tag=\"saveconfiguration\",time=5},"
         "{NAD=127,byte=2,id=1,inv=-1,mask=255,new_NAD=3,tag=\"conditionalChangeNAD\",time=5},"
         "{data={1,2,3,4,5},name=\"S1\",tag=\"datadump\",time=5},"
         "{frameindex=0,node=\"S1\",tag=\"assignframeidrange\",time=5},"
         "{framePIDs={1,2,3,4},frameindex=4,node=\"S1\",tag=\"assignframeidrange\",time=5},"
         "{data={1,2,3,4,5,6,7,8},tag=\"freeformat\",time=5},"
         "{frame=\"Frames\",node=\"S1\",tag=\"assignframeid\",time=0},name=\"Cfg\",tag=\"scheduletable\"},"
         "tag=\"scheduletables\"}"},
        {"every encoding entry; representations separated by commas and blanks", "2.1",
         std::string("Signals { }\nFrames { }\n") + kEmptyTail +
             "Signal_encoding_types {\n  E {\n    logical_value, 0, \"off\";\n    logical_value, 1;\n"
             "    physical_value, 0, 100, 0.5, -10, \"km/h\";\n    physical_value, 0, 1, 1, 0;\n"
             "    bcd_value 1.50;\n    ascii_value 0x2;\n  }\n  Empty { }\n}\n"
             "Signal_representation { E: A, B C, D; Empty: ; }\n",
         std::string("{tag=\"signals\"},{tag=\"frames\"},") + kEmptyTailTable +
             ",{{{intvalue=0,tag=\"logicalvalue\",textvalue=\"off\"},{intvalue=1,tag=\"logicalvalue\"},"
             "{maxvalue=100,minvalue=0,offset=-10,scale=0.5,tag=\"physicalvalue\",textvalue=\"km/h\"},"
             "{maxvalue=1,minvalue=0,offset=0,scale=1,tag=\"physicalvalue\"},{tag=\"bcdvalue\",value=\"1.50\"},"
             "{tag=\"asciivalue\",value=\"0x2\"},name=\"E\",tag=\"signalencoding\"},"
             "{name=\"Empty\",tag=\"signalencoding\"},tag=\"signalencodingtypes\"},"
             "{{\"A\",\"B\",\"C\",\"D\",name=\"E\",tag=\"signalrepresentation\"},"
             "{name=\"Empty\",tag=\"signalrepresentation\"},tag=\"signalrepresentations\"}"},
    });
}

TEST(LdfReader, ReportsTheFirstSyntaxError)
{
    const std::string speedLine = "LIN_description_file;\nLIN_protocol_version = \"2.1\";\n"
                                  "LIN_language_version = \"2.1\";\nLIN_speed = ";
    const std::string h21 = head("2.1");  // the body starts on line 9
    const std::string sf = "Signals { }\nFrames { }\n";  // then line 11
    const std::string node =
        h21 + sf + "Node_attributes { S { LIN_protocol = \"2.1\"; configured_NAD = 1; product_id = 1, 2; ";
    const std::string schedule = h21 + sf + "Node_attributes { }\nSchedule_tables { T { ";
    const std::string encoding = h21 + sf + kEmptyTail + "Signal_encoding_types { E { ";
    test::checkPairs(importLdfText, {
        {"", "(1, 1): 'LIN_description_file' expected but found ''"},
        {"LIN_description_file;\nLIN_protocol_version = 2.1;", "(2, 24): 'string constant' expected but found '2.1'"},
        {speedLine + "19 kbps;", "(4, 13): 'floating point constant' expected but found '19'"},
        {speedLine + "19.2 kbps;\nSignals { }", "(5, 1): 'Nodes' expected but found 'Signals'"},
        {speedLine + "19.2 kbps;\nNodes { Master: A, 1 ms, 0 ms; }", "(5, 32): 'Slaves' expected but found '}'"},
        {h21 + "Frames { }", "(9, 1): 'Signals' expected but found 'Frames'"},
        {h21 + "Diagnostic_addresses { }", "(9, 1): 'Signals' expected but found 'Diagnostic_addresses'"},  // 2.x
        {head("2.0") + sf + "Schedule_tables { }", "(11, 1): 'Node_attributes' expected but found 'Schedule_tables'"},
        {head("1.3") + sf + kEmptyTail, "(11, 1): 'Schedule_tables' expected but found 'Node_attributes'"},
        // A signal named like a keyword ends the list.
        {h21 + "Signals {\n  Master: 8, 0, M;\n}", "(10, 3): '}' expected but found 'Master'"},
        {h21 + "Signals { A: 8, x, M; }",
         "(9, 17): 'integer (scalar initvalue) or array ('{') expected ' expected but found 'x'"},
        {h21 + "Signals { A: 8, {1, 2.5}, M; }", "(9, 21): 'integer' expected but found '2.5'"},
        {h21 + "Signals { A: 8, 0, M / S; }", "(9, 22): ';' expected but found ''"},  // a lone slash has no text
        {h21 + sf + "Event_triggered_frames { E: T, F; }", "(11, 32): 'integer' expected but found 'F'"},
        {h21 + sf + "Node_attributes { S { LIN_protocol = 2; ", "(11, 38): 'constant' expected but found '2'"},
        {h21 + sf + "Node_attributes { S { LIN_protocol = \"2.1\"; initial_NAD = 1; ",
         "(11, 45): 'configured_NAD' expected but found 'initial_NAD'"},
        {node + "configurable_frames { } } }", "(11, 84): 'response_error' expected but found 'configurable_frames'"},
        {node + "response_error = E; } }", "(11, 104): 'configurable_frames' expected but found '}'"},
        {node + "response_error = E; ST_min = 0 ms; P2_min = 5 ms; }",
         "(11, 119): 'configurable_frames' expected but found 'P2_min'"},
        {schedule + "5 delay 1 ms; } }", "(12, 23): 'frame_name or command type' expected but found '5'"},
        // UnassignFrameId is no command: a frame whose delay is missing.
        {schedule + "UnassignFrameId { S1, F } delay 1 ms; } }", "(12, 39): 'delay' expected but found '{'"},
        {schedule + "FreeFormat { 1, 2 } delay 1 ms; } }", "(12, 41): ',' expected but found '}'"},
        {encoding + "range_value, 1; } }", "(13, 29): 'value type' expected but found 'range_value'"},
        {encoding + "bcd_value; } }", "(13, 38): 'number' expected but found ';'"},
    }, "error: LDF-Import: ");
}

TEST(LdfReader, LanguageVersionIsTheLeadingDecimalNumber)
{
    struct Case { const char *text; double want; };
    const Case cases[] = {{"2.1", 2.1}, {"1.3", 1.3}, {"2", 2}, {"2.", 2}, {"10.25x", 10.25},
                          {"J2602_3_1.0", 0}, {"ISO17987:2015", 0}, {"", 0}, {" 2.0", 0}, {".5", 0}};
    for (const Case &c : cases)
        EXPECT_EQ(leadingVersionNumber(c.text), c.want) << c.text;
}

}  // namespace
}  // namespace vexo::io
