// The DBC reader: whole result tables for each statement kind and the syntax error
// messages (the corpus is read in read_recovery_test.cpp, the entry in reader_entry_test.cpp).
#include <gtest/gtest.h>

#include "io_test_support.h"

namespace vexo::io {
namespace {

const auto importDbcText = [](const std::string &text) { return test::importText(test::Format::kDbc, text); };

const char *const kHeader =
    "VERSION \"1.0\"\r\n\r\n"
    "NS_ :\r\n\tNS_DESC_\r\n\tCM_\r\n\tBA_DEF_\r\n\tBA_\r\n\tVAL_\r\n\tCAT_DEF_\r\n\tCAT_\r\n\tFILTER\r\n"
    "\tBA_DEF_DEF_\r\n\tEV_DATA_\r\n\tVAL_TABLE_\r\n\tSIG_VALTYPE_\r\n\tBO_TX_BU_\r\n\tSG_MUL_VAL_\r\n\r\nBS_:\r\n\r\n";

TEST(DbcReader, ReadsNodesAndFrames)
{
    test::checkRows(importDbcText, {
        {"empty file", "", "{tag=\"db\"}"},
        {"header without elements", std::string(kHeader) + "BU_:\r\n", "{tag=\"db\"}"},
        {"nodes", "BU_: A B_2\nBO_ 1 F: 0 A\n",
         "{{id=\"A\",tag=\"ecu\"},{id=\"B_2\",tag=\"ecu\"},{dlc=0,frameid=1,id=\"F\",sender=\"A\",tag=\"frame\"},tag=\"db\"}"},
        {"frame without signals; id with bit 31 stays positive", "BO_ 2147483748 F: 64 Vector__XXX",
         "{{dlc=64,frameid=2147483748,id=\"F\",sender=\"Vector__XXX\",tag=\"frame\"},tag=\"db\"}"},
        {"signal", "BO_ 100 F: 8 A\n SG_ Speed : 0|16@1+ (0.1,-40) [-40|6513.5] \"km/h\" B,C\n",
         "{{{bitlen=16,id=\"Speed\",max=6513.5,min=-40,offset=-40,receivers={\"B\",\"C\"},scale=0.1,startbit=0,"
         "tag=\"signal\",unit=\"km/h\"},dlc=8,frameid=100,id=\"F\",sender=\"A\",tag=\"frame\"},tag=\"db\"}"},
        {"big-endian signed signal, receivers separated by blanks",
         "BO_ 1 F: 8 A\r\n SG_ T : 7|12@0- (1E-2,0) [-20.48|20.47] \"\" B  C\r\n",
         "{{{bigendian=true,bitlen=12,id=\"T\",max=20.47,min=-20.48,offset=0,receivers={\"B\",\"C\"},scale=0.01,"
         "signed=true,startbit=7,tag=\"signal\",unit=\"\"},dlc=8,frameid=1,id=\"F\",sender=\"A\",tag=\"frame\"},"
         "tag=\"db\"}"},
        {"empty receiver list, then a second signal",
         "BO_ 1 F: 8 A\n SG_ S : 0|1@1+ (1,0) [0|1] \"\"\n SG_ U : 1|1@1+ (1,0) [0|4294967295] \"\" Vector__XXX\n",
         "{{{bitlen=1,id=\"S\",max=1,min=0,offset=0,receivers={},scale=1,startbit=0,tag=\"signal\",unit=\"\"},"
         "{bitlen=1,id=\"U\",max=4294967295,min=0,offset=0,receivers={\"Vector__XXX\"},scale=1,startbit=1,"
         "tag=\"signal\",unit=\"\"},dlc=8,frameid=1,id=\"F\",sender=\"A\",tag=\"frame\"},tag=\"db\"}"},
        {"last signal line without a line end", "BO_ 1 F: 8 A\n SG_ S : 0|1@1+ (1,0) [0|1] \"\" B",
         "{{{bitlen=1,id=\"S\",max=1,min=0,offset=0,receivers={\"B\"},scale=1,startbit=0,tag=\"signal\",unit=\"\"},"
         "dlc=8,frameid=1,id=\"F\",sender=\"A\",tag=\"frame\"},tag=\"db\"}"},
        {"signals end at the next statement", "BO_ 1 F: 8 A\n SG_ S : 0|1@1+ (1,0) [0|1] \"\" B\nBO_ 2 G: 1 A\n",
         "{{{bitlen=1,id=\"S\",max=1,min=0,offset=0,receivers={\"B\"},scale=1,startbit=0,tag=\"signal\",unit=\"\"},"
         "dlc=8,frameid=1,id=\"F\",sender=\"A\",tag=\"frame\"},{dlc=1,frameid=2,id=\"G\",sender=\"A\",tag=\"frame\"},"
         "tag=\"db\"}"},
    });
}

// One signal line per indicator, and the multiplexing keys it gives that signal.
TEST(DbcReader, ReadsMultiplexerIndicators)
{
    const std::pair<const char *, std::string> cases[] = {
        {"M", "mode=\"M\","}, {"m0", "mode=\"m\",modevalue=0,"}, {"m12", "mode=\"m\",modevalue=12,"},
        {"m", "mode=\"m\",modevalue=0,"}, {"m3M", "mode=\"m\",modevalue=3,"}, {"", ""},
    };
    for (const auto &[indicator, keys] : cases) {
        EXPECT_EQ(importDbcText("BO_ 1 F: 8 A\n SG_ S " + std::string(indicator) + " : 0|8@1+ (1,0) [0|0] \"\" B\n"),
                  "{{{bitlen=8,id=\"S\",max=0,min=0," + keys + "offset=0,receivers={\"B\"},scale=1,startbit=0,"
                  "tag=\"signal\",unit=\"\"},dlc=8,frameid=1,id=\"F\",sender=\"A\",tag=\"frame\"},tag=\"db\"}")
            << indicator;
    }
}

TEST(DbcReader, ReadsCommentsWithDesignators)
{
    test::checkRows(importDbcText, {
        {"database comment", "CM_ \"whole db\";\n", "{{tag=\"comment\",text=\"whole db\"},tag=\"db\"}"},
        {"every designator",
         "CM_ BU_ A \"node\";\nCM_ EV_ E \"env\";\nCM_ BO_ 2147483748 \"frame\";\nCM_ SG_ 100 S \"sig\";\n",
         "{{ntyp=\"BU_\",refid=\"A\",tag=\"comment\",text=\"node\"},{ntyp=\"EV_\",refid=\"E\",tag=\"comment\","
         "text=\"env\"},{frame=2147483748,ntyp=\"BO_\",tag=\"comment\",text=\"frame\"},{frame=100,ntyp=\"SG_\","
         "signal=\"S\",tag=\"comment\",text=\"sig\"},tag=\"db\"}"},
        {"string over three lines keeps LF line ends", "CM_ BO_ 1 \"a\r\nb\r\nc\";\r\nBU_: N\r\n",
         "{{frame=1,ntyp=\"BO_\",tag=\"comment\",text=\"a\\nb\\nc\"},{id=\"N\",tag=\"ecu\"},tag=\"db\"}"},
        {"rest of the line is skipped, ';' unchecked", "CM_ \"x\" BU_: A\nBU_: B\n",
         "{{tag=\"comment\",text=\"x\"},{id=\"B\",tag=\"ecu\"},tag=\"db\"}"},
        {"a zero byte ends the Lua string", std::string("CM_ \"ab\0cd\";\n", 13),
         "{{tag=\"comment\",text=\"ab\"},tag=\"db\"}"},
        {"bytes above 127 pass unchanged", "CM_ \"\xE4\xF6\xFC\";\n",
         "{{tag=\"comment\",text=\"\\xE4\\xF6\\xFC\"},tag=\"db\"}"},
    });
}

TEST(DbcReader, ReadsValueDescriptions)
{
    test::checkRows(importDbcText, {
        {"signal values", "VAL_ 100 S 0 \"Off\" 1 \"On\" ;\n",
         "{{frame=100,signal=\"S\",tag=\"value\",values={[0]=\"Off\",[1]=\"On\"}},tag=\"db\"}"},
        {"environment variable, hexadecimal and large values", "VAL_ E 0x10 \"a\" 4294967295 \"b\";\n",
         "{{envvar=\"E\",tag=\"value\",values={[16]=\"a\",[4294967295]=\"b\"}},tag=\"db\"}"},
        {"empty list has no values key", "VAL_ 1 S ;\n", "{{frame=1,signal=\"S\",tag=\"value\"},tag=\"db\"}"},
        {"a repeated value overwrites", "VAL_ 1 S 1 \"a\" 1 \"b\";\n",
         "{{frame=1,signal=\"S\",tag=\"value\",values={\"b\"}},tag=\"db\"}"},
    });
}

TEST(DbcReader, ReadsAttributeDefinitionsDefaultsAndValues)
{
    test::checkRows(importDbcText, {
        {"INT with object kind", "BA_DEF_ BO_ \"GenMsgCycleTime\" INT 0 65535;\n",
         "{{id=\"GenMsgCycleTime\",max=65535,min=0,ntyp=\"BO_\",tag=\"attrdef\",typ=\"INT\"},tag=\"db\"}"},
        {"HEX bounds, FLOAT bounds, negative bounds",
         "BA_DEF_ SG_ \"H\" HEX 0x10 0x7FF;\nBA_DEF_ BU_ \"F\" FLOAT -3.5 1E3;\nBA_DEF_ EV_ \"I\" INT -10 -1;\n",
         "{{id=\"H\",max=2047,min=16,ntyp=\"SG_\",tag=\"attrdef\",typ=\"HEX\"},{id=\"F\",max=1000,min=-3.5,"
         "ntyp=\"BU_\",tag=\"attrdef\",typ=\"FLOAT\"},{id=\"I\",max=-1,min=-10,ntyp=\"EV_\",tag=\"attrdef\","
         "typ=\"INT\"},tag=\"db\"}"},
        {"bounds that are no numbers are consumed but not kept", "BA_DEF_ \"X\" INT \"a\" b;\n",
         "{{id=\"X\",tag=\"attrdef\",typ=\"INT\"},tag=\"db\"}"},
        {"STRING", "BA_DEF_  \"DBName\" STRING ;\n", "{{id=\"DBName\",tag=\"attrdef\",typ=\"STRING\"},tag=\"db\"}"},
        {"ENUM", "BA_DEF_ BO_ \"VFrameFormat\" ENUM \"StandardCAN\",\"ExtendedCAN\", \"J1939PG\";\n",
         "{{id=\"VFrameFormat\",ntyp=\"BO_\",tag=\"attrdef\",typ=\"ENUM\",values={\"StandardCAN\",\"ExtendedCAN\","
         "\"J1939PG\"}},tag=\"db\"}"},
        {"empty ENUM", "BA_DEF_ \"E\" ENUM ;\n", "{{id=\"E\",tag=\"attrdef\",typ=\"ENUM\",values={}},tag=\"db\"}"},
        {"next statement right after the ';'", "BA_DEF_ \"S\" STRING; BU_: A\n",
         "{{id=\"S\",tag=\"attrdef\",typ=\"STRING\"},{id=\"A\",tag=\"ecu\"},tag=\"db\"}"},
        {"defaults keep their written form",
         "BA_DEF_DEF_ \"A\" 0x10;\nBA_DEF_DEF_ \"B\" \"CAN FD\";\nBA_DEF_DEF_ \"C\" 1.50;\nBA_DEF_DEF_ \"D\" -0;\n",
         "{{id=\"A\",tag=\"attrdefault\",value=\"0x10\"},{id=\"B\",tag=\"attrdefault\",value=\"CAN FD\"},"
         "{id=\"C\",tag=\"attrdefault\",value=\"1.50\"},{id=\"D\",tag=\"attrdefault\",value=\"-0\"},tag=\"db\"}"},
        {"values with every designator",
         "BA_ \"BusType\" \"CAN\";\nBA_ \"N\" BU_ A 1;\nBA_ \"V\" EV_ E 2.5;\nBA_ \"C\" BO_ 100 -1;\n"
         "BA_ \"G\" SG_ 100 S 0x10;\n",
         "{{id=\"BusType\",tag=\"attr\",value=\"CAN\"},{id=\"N\",ntyp=\"BU_\",refid=\"A\",tag=\"attr\",value=\"1\"},"
         "{id=\"V\",ntyp=\"EV_\",refid=\"E\",tag=\"attr\",value=\"2.5\"},{frame=100,id=\"C\",ntyp=\"BO_\","
         "tag=\"attr\",value=\"-1\"},{frame=100,id=\"G\",ntyp=\"SG_\",signal=\"S\",tag=\"attr\",value=\"0x10\"},"
         "tag=\"db\"}"},
    });
}

TEST(DbcReader, SkipsStatementsItDoesNotKeep)
{
    test::checkRows(importDbcText, {
        {"value tables and environment variables up to their ';'",
         "VAL_TABLE_ T 1 \"a;b\"\n 0 \"c\" ;\nEV_ E: 0 [0|1] \"\" 0 1\n DUMMY_NODE_VECTOR0 Vector__XXX;\n"
         "BU_: A\n", "{{id=\"A\",tag=\"ecu\"},tag=\"db\"}"},
        {"the rest of the ';' line is skipped too", "CAT_DEF_ 1 x 2; BU_: Lost\nBU_: Kept\n",
         "{{id=\"Kept\",tag=\"ecu\"},tag=\"db\"}"},
        {"unknown statements line by line",
         "SIG_VALTYPE_ 1 S : 1;\nBO_TX_BU_ 1 : A,B;\n// BU_: Commented\nSG_ S : 0|1@1+ (1,0) [0|1] \"\" A\n"
         "42 ; ] BS_: x\nSIG_GROUP_ 1 G 1 : S;\nBU_: A\n", "{{id=\"A\",tag=\"ecu\"},tag=\"db\"}"},
        {"a multi-line statement continues as statement starts", "SIG_VALTYPE_ 1 S :\nBU_: A\n",
         "{{id=\"A\",tag=\"ecu\"},tag=\"db\"}"},
        {"NS_ stops at the first token that is no name", "NS_ :\n CM_ BA_DEF_DEF_ VAL_TABLE_ X INT\nBU_: A\n",
         "{{id=\"A\",tag=\"ecu\"},tag=\"db\"}"},
        {"BU_ stops at the first non-identifier", "BU_: A B:\nBU_: C\n",
         "{{id=\"A\",tag=\"ecu\"},{id=\"B\",tag=\"ecu\"},{id=\"C\",tag=\"ecu\"},tag=\"db\"}"},
    });
}

TEST(DbcReader, ReportsTheFirstSyntaxError)
{
    const std::string frame = "BO_ 1 F: 8 A\n SG_ S ";
    test::checkPairs(importDbcText, {
        {"VERSION \"\"\n\n\tBO_ Foo: 8 A\n", "(3, 6): 'constant' expected but found 'Foo'"},
        {"BO_ 1 INT: 8 A", "(1, 7): 'identifier' expected but found 'INT'"},
        {"BO_ 1 F 8 A", "(1, 9): ':' expected but found '8'"},
        {"BO_ 1 F: 8\r\n", "(2, 1): 'identifier' expected but found ''"},
        {frame + "x3 : 0|1@1+ (1,0) [0|1] \"\"", "(2, 8): 'm or M (mode flag)' expected but found 'x3'"},
        {frame + "0|1@1+ (1,0) [0|1] \"\"", "(2, 8): ':' expected but found '0'"},
        {frame + ": 0|1@1* (1,0)", "(2, 15): '+ or -' expected but found '*'"},
        {frame + ": 0|1@1+ (a,0)", "(2, 18): 'number' expected but found 'a'"},
        {frame + ": 0|1@1+ (1.2.3,0)", "(2, 18): 'number' expected but found '1.2'"},
        {"CM_ BO_ 1 x;", "(1, 11): 'string constant' expected but found 'x'"},
        {"CM_ BO_ F \"x\";", "(1, 9): 'message id' expected but found 'F'"},
        {"CM_ SG_ 1 \"x\";", "(1, 11): 'identifier' expected but found 'x'"},
        {"VAL_ 1 S 0 \"a\" -1 \"b\";", "(1, 16): ';' expected but found '-1'"},
        {"VAL_ \"S\" 0 \"a\";", "(1, 6): 'message id or environment variable identifier' expected but found 'S'"},
        {"BA_DEF_ BO_ GenMsg INT 0 1;", "(1, 13): 'attribute name' expected but found 'GenMsg'"},
        {"BA_DEF_ \"X\" BOOL;", "(1, 13): 'INT, HEX, FLOAT, STRING or ENUM' expected but found 'BOOL'"},
        {"BA_DEF_ \"X\" INT 0 1 2;", "(1, 21): ';' expected but found '2'"},
        {"BA_DEF_DEF_ X 1;", "(1, 13): 'identifier' expected but found 'X'"},
        {"BA_DEF_DEF_ \"X\" Y;", "(1, 17): 'constant value' expected but found 'Y'"},
        {"BA_ X 1;", "(1, 5): 'attribute name' expected but found 'X'"},
        {"BA_ \"X\" BO_ 1 ;", "(1, 15): 'constant value' expected but found ';'"},
        {"BA_ \"X\" 1 2;", "(1, 11): ';' expected but found '2'"}, {"NS_ CM_", "(1, 5): ':' expected but found 'CM_'"},
        {"BU_ A B", "(1, 5): ':' expected but found 'A'"},
        {"BU_: A\nBO_ 1 F: 8 A\nCM_ 7;", "(3, 5): 'string constant' expected but found '7'"},  // no table at all
    }, "error: DBC-Import: ");
}

}  // namespace
}  // namespace vexo::io
