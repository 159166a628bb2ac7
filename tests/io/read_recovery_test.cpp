// Tolerant reading of both readers: what each deviation of real files reads as and the warning it gives, recovery from
// broken statements and entries, and the corpus: files the strict reader accepts read to the same table, the others
// fail with their pinned error and read tolerantly with pinned warnings, losing no frame or signal unnamed.
#include <gtest/gtest.h>

#include <strings.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include "io_test_support.h"
#include "read_recovery.h"

namespace vexo::io {
namespace {

using test::Format;

// A tolerant read of a file: the table rendered (or the failure when there is none),
// its element tags, the element with the tag asked for (rendered), the warnings, and
// counts: DBC frames and signals; LDF entries of signals, of frames and signal instances.
struct Read : test::TolerantRead { std::string tags, element; std::vector<int> counts; };

Read readTolerant(const std::string &path, Format format, const std::string &show = "")
{
    Read out;
    lua_State *L = luaL_newstate();
    const int count = test::importRaw(L, format, test::toU16(path).c_str(), VEXO_IMPORT_TOLERANT);
    if (count == 2 && lua_istable(L, 1) && lua_istable(L, 2)) {
        out.counts = {0, 0, 0};
        out.element = "(no " + show + ")";
        for (int i = 1; lua_rawgeti(L, 1, i), !lua_isnil(L, -1); ++i) {
            lua_getfield(L, -1, "tag");
            const std::string tag = lua_tostring(L, -1);
            out.tags += (i > 1 ? " " : "") + tag;
            if (tag == show)
                out.element = test::renderLua(L, -2);
            const int entries = static_cast<int>(lua_objlen(L, -2));
            if (tag == "frame")
                ++out.counts[0], out.counts[1] += entries;
            out.counts[0] += tag == "signals" ? entries : 0;
            out.counts[1] += tag == "frames" ? entries : 0;
            for (int f = 1; tag == "frames" && f <= entries; ++f) {
                lua_rawgeti(L, -2, f);
                out.counts[2] += static_cast<int>(lua_objlen(L, -1));
                lua_pop(L, 1);
            }
            lua_pop(L, 2);
        }
        lua_settop(L, 2);
    }
    static_cast<test::TolerantRead &>(out) = test::describeTolerant(L, count);
    lua_close(L);
    return out;
}

Read readText(const std::string &text, Format format, const std::string &show = "")
{
    return readTolerant(test::TempFile(text, test::suffixOf(format)).path(), format, show);
}

// A DBC row: the table wanted ("" for the strict reader's table of the same text) and the warnings.
struct Row { const char *what; std::string input, table; std::vector<std::string> warnings; };

void checkDbcRows(const std::vector<Row> &rows)
{
    for (const Row &r : rows) {
        const Read got = readText(r.input, Format::kDbc);
        EXPECT_EQ(got.table, r.table.empty() ? test::importText(Format::kDbc, r.input) : r.table) << r.what;
        EXPECT_EQ(got.warnings, r.warnings) << r.what;
    }
}

const std::string kFrame = "BO_ 1 F: 8 A\n";
const std::string kSignalTail = "0|8@1+ (1,0) [0|1] \"\" B\n";
// The table of a signal kSignalTail writes, and of frame F holding signals.
std::string signalTable(const std::string &id, int startbit = 0)
{
    return "{bitlen=8,id=\"" + id + "\",max=1,min=0,offset=0,receivers={\"B\"},scale=1,startbit=" +
           std::to_string(startbit) + ",tag=\"signal\",unit=\"\"}";
}
std::string frameTable(const std::string &signals)
{
    return "{{" + signals + ",dlc=8,frameid=1,id=\"F\",sender=\"A\",tag=\"frame\"},tag=\"db\"}";
}

TEST(TolerantDbc, ReadsWhatRealFilesWrite)
{
    checkDbcRows({
        {"negative values in a value description list", "VAL_ 1 S -1 \"err\" 0 \"ok\";\n",
         "{{frame=1,signal=\"S\",tag=\"value\",values={[-1]=\"err\",[0]=\"ok\"}},tag=\"db\"}",
         {"1:10 read negative value \"-1\" in a value description list"}},
        {"names that begin with a digit (an exponent letter after the digits too)",
         "BO_ 1275 2017_5: 8 XXX\n SG_ 0_COUNTER : " + kSignalTail + " SG_ 2E_X : " + kSignalTail,
         "{{" + signalTable("0_COUNTER") + "," + signalTable("2E_X") +
             ",dlc=8,frameid=1275,id=\"2017_5\",sender=\"XXX\",tag=\"frame\"},tag=\"db\"}",
         {"1:10 read name \"2017_5\", which begins with a digit",
          "2:6 read name \"0_COUNTER\", which begins with a digit",
          "3:6 read name \"2E_X\", which begins with a digit"}},
        {"a number without a digit before its point", kFrame + " SG_ S : 0|8@1+ (.25,-.5) [0|1] \"\" B\n",
         "{{{bitlen=8,id=\"S\",max=1,min=0,offset=-0.5,receivers={\"B\"},scale=0.25,startbit=0,tag=\"signal\","
         "unit=\"\"},dlc=8,frameid=1,id=\"F\",sender=\"A\",tag=\"frame\"},tag=\"db\"}",
         {"2:18 read number \".25\" without a digit before the point"}},
        {"attribute types BOOL, ENU and str; a value without quotes",
         "BA_DEF_ BO_ \"R\" BOOL False True;\nBA_DEF_ \"E\" ENU;\nBA_DEF_ SG_ \"L\" str;\nBA_ \"R\" BO_ 1 True;\n",
         "{{id=\"R\",ntyp=\"BO_\",tag=\"attrdef\",typ=\"ENUM\",values={\"False\",\"True\"}},{id=\"E\",tag=\"attrdef\","
         "typ=\"ENUM\",values={}},{id=\"L\",ntyp=\"SG_\",tag=\"attrdef\",typ=\"STRING\"},{frame=1,id=\"R\","
         "ntyp=\"BO_\",tag=\"attr\",value=\"True\"},tag=\"db\"}",
         {"1:17 read attribute type \"BOOL\" as ENUM", "2:13 read attribute type \"ENU\" as ENUM",
          "3:17 read attribute type \"str\" as STRING", "4:15 read attribute value \"True\" written without quotes"}},
        {"comments on SG_ without a signal name, and on a frame id without BO_",
         "CM_ SG_ 304 \"a\";\nCM_ 145 \"b\";\n",
         "{{frame=304,ntyp=\"BO_\",tag=\"comment\",text=\"a\"},{frame=145,ntyp=\"BO_\",tag=\"comment\",text=\"b\"},"
         "tag=\"db\"}",
         {"1:13 read comment of SG_ 304 without a signal name as a comment of frame 304",
          "2:5 read comment with frame id 145 but without BO_ as a comment of frame 145"}},
        {"VAL_ statements whose line or file ends without ';'", "VAL_ 1 S 0 \"a\"\nBU_: N\nVAL_ 2 T 1 \"b\"",
         "{{frame=1,signal=\"S\",tag=\"value\",values={[0]=\"a\"}},{id=\"N\",tag=\"ecu\"},{frame=2,signal=\"T\","
         "tag=\"value\",values={\"b\"}},tag=\"db\"}",
         {"2:1 read VAL_ statement without its closing \";\"", "3:15 read VAL_ statement without its closing \";\""}},
        {"a keyword as a signal name within a line", kFrame + " SG_ VERSION : " + kSignalTail,
         frameTable(signalTable("VERSION")), {"2:6 read keyword \"VERSION\" as a name"}},
    });
}

TEST(TolerantDbc, SkipsBrokenStatementsAndNamesWhatTheyHeld)
{
    const std::string good = " SG_ Good : 8|8@1+ (1,0) [0|1] \"\" B\n";
    checkDbcRows({
        {"a broken signal is skipped; its frame and the next signal are read",
         kFrame + " SG_ Bad : 0|8@1* (1,0) [0|1] \"\" B\n" + good, frameTable(signalTable("Good", 8)),
         {"2:17 skipped SG_ statement of signal \"Bad\" in frame \"F\": expected \"+ or -\" but found \"*\""}},
        {"a signal line that ends early: the next line is read", kFrame + " SG_ Short : 0|8@1+ (1,0) [0|1]\n" + good,
         frameTable(signalTable("Good", 8)),
         {"3:2 skipped SG_ statement of signal \"Short\" in frame \"F\": expected \"string constant\" but found "
          "\"SG_\""}},
        {"a broken frame is skipped and each of its signals named",
         "BO_ 2 G 8 A\n SG_ X : " + kSignalTail + good + "BO_ 3 H: 8 A\n",
         "{{dlc=8,frameid=3,id=\"H\",sender=\"A\",tag=\"frame\"},tag=\"db\"}",
         {"1:9 skipped BO_ statement of frame \"G\": expected \":\" but found \"8\"",
          "2:2 skipped SG_ statement of signal \"X\": its BO_ statement was skipped",
          "3:2 skipped SG_ statement of signal \"Good\": its BO_ statement was skipped"}},
        {"a frame that fails before its name is named by its id", "BO_ 7 : 8 A\n",
         "{tag=\"db\"}", {"1:7 skipped BO_ statement of frame 7: expected \"identifier\" but found \":\""}},
        {"a statement broken within its line is skipped to the line's end", "BA_ \"X\" BO_ x 1; BU_: Lost\nBU_: Kept\n",
         "{{id=\"Kept\",tag=\"ecu\"},tag=\"db\"}",
         {"1:13 skipped BA_ statement: expected \"message id\" but found \"x\""}},
        {"a statement broken on its first line's end goes on at the next line",
         "CM_ BO_ 1\nBU_: Kept\n", "{{id=\"Kept\",tag=\"ecu\"},tag=\"db\"}",
         {"2:1 skipped CM_ statement: expected \"string constant\" but found \"BU_\""}},
    });
}

TEST(TolerantDbc, NamesWhatTheStrictReaderSkipsSilentlyButKeepsItsTable)
{
    checkDbcRows({
        {"a signal outside a frame", "BU_: A\n SG_ Lost : " + kSignalTail + "BO_ 1 F: 8 A\n", "",
         {"2:2 skipped SG_ statement of signal \"Lost\": it is not part of a frame"}},
        {"a comment line ends a frame: the signals after it", kFrame + "// note\n SG_ Lost : " + kSignalTail, "",
         {"3:2 skipped SG_ statement of signal \"Lost\": it is not part of a frame"}},
        {"text after a statement and a line starting with no word", "BO_ 1 F: 8 A B\n42 x\n", "",
         {"1:14 skipped the rest of the line from \"B\"", "2:1 skipped the line starting with \"42\""}},
        {"a receiver list that ends in something else", kFrame + " SG_ S : 0|8@1+ (1,0) [0|1] \"\" B ;\n", "",
         {"2:34 ignored \";\" after the receivers of signal \"S\""}},
        {"a string constant that the end of the file closes", "BU_: A\nCM_ \"open\nBO_ 1 F: 8 A\n", "",
         {"2:5 read a string constant that runs to the end of the file"}},
        {"unknown statements and statements read up to their ';' give none",
         "VERSION \"\"\nNS_ :\n CM_\nBS_:\nVAL_TABLE_ T 1 \"a\" ;\nSIG_VALTYPE_ 1 S : 1;\n// x\n", "", {}},
    });
}

// One broken signal per frame: each is skipped on its own, and everything between is
// read. Past the list's limit one closing warning names what the others skipped.
TEST(TolerantDbc, RecoversFromEveryBrokenStatementOnItsOwn)
{
    constexpr int kBroken = 1500;
    std::string text;
    for (int i = 0; i < kBroken; ++i)
        text += "BO_ " + std::to_string(i) + " F: 8 A\n SG_ S" + std::to_string(i) + " : x\n";
    const Read got = readText(text, Format::kDbc);
    ASSERT_FALSE(got.counts.empty()) << got.table;
    EXPECT_EQ(got.counts[0], kBroken);
    const std::vector<std::string> &warnings = got.warnings;
    ASSERT_EQ(warnings.size(), size_t{kListedWarnings} + 1);
    EXPECT_EQ(warnings[kListedWarnings - 1],
              "2000:13 skipped SG_ statement of signal \"S999\" in frame \"F\": expected \"constant\" but found \"x\"");
    std::string summary = "3001:1 left out 500 more warnings; they skip signal \"S1000\"";
    for (int i = 1001; i < kBroken; ++i)
        summary += ", signal \"S" + std::to_string(i) + "\"";
    EXPECT_EQ(warnings.back(), summary);
}

// ---- LDF -------------------------------------------------------------------------

const std::string kLdfHeader =
    "LIN_description_file;\nLIN_protocol_version = \"2.1\";\nLIN_language_version = \"2.1\";\nLIN_speed = 19.2 kbps;\n";
const std::string kNodes = "Nodes { Master: M, 5 ms, 0.1 ms; Slaves: S; }\n";

// An LDF row: the element with the tag show and the warnings, and the tags of all
// elements (by default those of the sections every file has).
struct LdfRow {
    const char *what; std::string input; const char *show; std::string element; std::vector<std::string> warnings;
    std::string tags = "global nodes signals frames nodeattributes scheduletables";
};

void checkLdfRows(const std::vector<LdfRow> &rows)
{
    for (const LdfRow &r : rows) {
        const Read got = readText(r.input, Format::kLdf, r.show);
        EXPECT_EQ(got.tags, r.tags) << r.what;
        EXPECT_EQ(got.element, r.element) << r.what;
        EXPECT_EQ(got.warnings, r.warnings) << r.what;
    }
}

TEST(TolerantLdf, ReadsWhatRealFilesWrite)
{
    const std::string tail = "Signals { } Frames { }\n";
    checkLdfRows({
        {"node attributes in another order, unknown ones, no response_error",
         kLdfHeader + kNodes + tail +
             "Node_attributes {\n  N {\n    configured_NAD = 2;\n    LIN_protocol = \"2.1\";\n"
             "    product_id = 1, 2;\n    wakeup_time = 50 ms;\n    P2_min = 50 ms;\n"
             "    configurable_frames { F; }\n  }\n}\nSchedule_tables { }\n", "nodeattributes",
         "{{LIN_protocol=\"2.1\",P2_min=50,configurableframes={{name=\"F\",tag=\"frame\"}},configured_NAD=2,"
         "name=\"N\",productid={functionid=2,supplierid=1},tag=\"node\"},tag=\"nodeattributes\"}",
         {"10:5 read attribute \"LIN_protocol\" of node \"N\" out of the usual order",
          "12:5 skipped attribute \"wakeup_time\" of node \"N\"",
          "16:1 node \"N\" has product_id but no response_error"}},
        {"a J2602 file: version without a number, master line with more fields, header extras",
         "LIN_description_file;\nLIN_protocol_version = \"J2602_1_1.0\";\nLIN_language_version = \"J2602_3_1.0\";\n"
         "LIN_speed = 10 kbps;\nLDF_file_revision = \"1\";\n"
         "Nodes { Master: M, 5 ms, 0.1 ms, 48 bits, 40 %; Slaves: S; }\n" + tail +
             "Node_attributes { S { LIN_protocol = \"J2602_1_1.0\"; configured_NAD = 1; } }\nSchedule_tables { }\n",
         "global",
         "{LIN_language_version=\"J2602_3_1.0\",LIN_protocol_version=\"J2602_1_1.0\",LIN_speed=10,tag=\"global\"}",
         {"4:13 read LIN_speed \"10\" written without a point", "5:1 skipped header statement \"LDF_file_revision\"",
          "6:32 ignored the fields after the jitter of master \"M\"",
          "8:1 read Node_attributes section although the language version \"J2602_3_1.0\" is below 2.0"}},
        {"Nodes without '{' and without Slaves", kLdfHeader + "Nodes\n  Master: M, 5 ms, 0.1 ms;\n}\n" + tail +
             "Node_attributes { }\nSchedule_tables { }\n",
         "nodes", "{Master={jitter=0.1,name=\"M\",timebase=5},Slaves={},tag=\"nodes\"}",
         {"6:3 read Nodes section without its \"{\"", "7:1 read Nodes section without a Slaves line"}},
        {"sections out of order; a missing one given empty",
         kLdfHeader + kNodes + "Node_attributes { }\nFrames { F: 1, M { A, 0; } }\nSignals { A: 8, 0, M, S; }\n",
         "scheduletables", "{tag=\"scheduletables\"}",
         {"7:1 read Frames section after the Node_attributes section, out of the usual order",
          "8:1 read Signals section after the Frames section, out of the usual order",
          "9:1 the file has no readable Schedule_tables section; it is given as an empty one"}},
        {"names that begin with a digit, a plural section name, encodings without a number",
         kLdfHeader + kNodes + "Signals { A: 1, 0, M, S; }\nFrames { }\nNode_attributes { }\nSchedule_tables { }\n"
             "Signal_encoding_types {\n  1Bit { logical_value, 0, \"off\"; bcd_value; }\n}\n"
             "Signal_representations { 1Bit: A; }\n", "signalencodingtypes",
         "{{{intvalue=0,tag=\"logicalvalue\",textvalue=\"off\"},{tag=\"bcdvalue\"},name=\"1Bit\","
         "tag=\"signalencoding\"},tag=\"signalencodingtypes\"}",
         {"11:3 read name \"1Bit\", which begins with a digit", "11:44 read bcd_value without a number",
          "13:1 read \"Signal_representations\" as Signal_representation",
          "13:26 read name \"1Bit\", which begins with a digit"},
         "global nodes signals frames nodeattributes scheduletables signalencodingtypes signalrepresentations"},
    });
}

TEST(TolerantLdf, SkipsBrokenEntriesAndNamesThem)
{
    checkLdfRows({
        {"broken signals, frames and signal instances; the next ones read",
         kLdfHeader + kNodes + "Signals {\n  A: 8, x, M;\n  B: 8, 0, M;\n}\n"
             "Frames {\n  F: 1, M { B, 0; A; }\n  G: 2 M { B, 0; }\n  H: 3, M { B, 8; }\n}\n"
             "Node_attributes { }\nSchedule_tables { T { F delay 10 ms; AssignNAD { S } delay; G delay 5 ms; } }\n",
         "frames",
         "{{{name=\"B\",offset=0,tag=\"signalinst\"},ident=1,name=\"F\",publishedby=\"M\",size=2,tag=\"frame\"},"
         "{{name=\"B\",offset=8,tag=\"signalinst\"},ident=3,name=\"H\",publishedby=\"M\",size=2,tag=\"frame\"},"
         "tag=\"frames\"}",
         {"7:9 skipped signal \"A\" in the Signals section: expected \"integer (scalar initvalue) or array ('{') "
          "expected \" but found \"x\"",
          "11:20 skipped signal \"A\" in frame \"F\": expected \",\" but found \";\"",
          "12:8 skipped frame \"G\" in the Frames section: expected \",\" but found \"M\"",
          "16:59 skipped entry \"AssignNAD\" in schedule table \"T\": expected \"number\" but found \";\""}},
        {"a signal that leaves a brace open does not take the next one with it",
         kLdfHeader + kNodes + "Signals {\n  A: 8, {1, 2, M;\n  B: 8, 0, M;\n}\nFrames { }\nNode_attributes { }\n"
             "Schedule_tables { }\n", "signals",
         "{{initvalue=0,name=\"B\",publishedby=\"M\",size=8,subscribedby={},tag=\"signal\"},tag=\"signals\"}",
         {"7:16 skipped signal \"A\" in the Signals section: expected \"integer\" but found \"M\""}},
        {"a section the file ends inside is kept",
         kLdfHeader + kNodes + "Signals { A: 8, 0, M; }\nFrames {\n  F: 1, M {\n    A, 0;\n", "frames",
         "{{{name=\"A\",offset=0,tag=\"signalinst\"},ident=1,name=\"F\",publishedby=\"M\",size=2,tag=\"frame\"},"
         "tag=\"frames\"}",
         {"10:1 read frame \"F\" without its closing \"}\"", "10:1 read Frames section without its closing \"}\"",
          "10:1 the file has no readable Node_attributes section; it is given as an empty one",
          "10:1 the file has no readable Schedule_tables section; it is given as an empty one"}},
    });
}

TEST(TolerantLdf, IgnoresWhatTheStrictReaderIgnoresButNamesIt)
{
    const std::string valid = kLdfHeader + kNodes + "Signals { A: 8, 0, M; }\nFrames { F: 1, M { A, 0; } }\n"
                                                    "Node_attributes { }\nSchedule_tables { }\n";
    const Read got = readText(valid + "Frames { X: 5, M { } }\nstray;\n", Format::kLdf);
    EXPECT_EQ(got.table, test::importText(Format::kLdf, valid));
    EXPECT_EQ(got.warnings, (std::vector<std::string>{"10:1 ignored Frames section after the last section read",
                                                      "10:10 ignored frame \"X\" of the ignored Frames section",
                                                      "11:1 ignored text from \"stray\" after the last section read"}));

    checkLdfRows({{"once the file has left the fixed order, a repeated section is ignored the same way",
                   kLdfHeader + kNodes + "Frames { F: 1, M { } }\nSignals { }\nFrames { G: 2, M { } }\n"
                                         "Node_attributes { }\nSchedule_tables { }\n", "frames",
                   "{{ident=1,name=\"F\",publishedby=\"M\",size=2,tag=\"frame\"},tag=\"frames\"}",
                   {"7:1 read Signals section after the Frames section, out of the usual order",
                    "8:1 ignored Frames section: it repeats an earlier one",
                    "8:10 ignored frame \"G\" of the ignored Frames section"}}});
}

// ---- The corpus --------------------------------------------------------------------

std::vector<std::string> corpusFiles(const std::string &dir, const char *extension)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(dir, error)) {
        if (strcasecmp(entry.path().extension().c_str(), extension) == 0)
            names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Warnings as pinned below: a run of warnings that differ only in their quoted texts
// and positions shows as the first of them and how many more follow.
std::vector<std::string> collapse(const std::vector<std::string> &warnings)
{
    static const std::regex quoted("\"[^\"]*\"");
    std::vector<std::pair<std::string, int>> runs;  // first warning, how many more
    std::string shape;
    for (const std::string &w : warnings) {
        const std::string s = std::regex_replace(w.substr(w.find(' ') + 1), quoted, "\"\"");
        if (!runs.empty() && s == shape)
            ++runs.back().second;
        else
            runs.emplace_back(w, 0), shape = s;
    }
    std::vector<std::string> out;
    for (const auto &[first, more] : runs)
        out.push_back(more > 0 ? first + " (+" + std::to_string(more) + " like it)" : first);
    return out;
}

// Warnings are in file order: positions never go back.
void expectFileOrder(const std::vector<std::string> &warnings)
{
    long previous = 0;
    for (const std::string &w : warnings) {
        const long position = std::stol(w) * 100000 + std::stol(w.substr(w.find(':') + 1));
        EXPECT_GE(position, previous) << w;
        previous = position;
    }
}

int countMatches(const std::vector<std::string> &warnings, const std::regex &pattern)
{
    return static_cast<int>(std::count_if(warnings.begin(), warnings.end(), [&](const std::string &w) {
        return std::regex_search(w.substr(w.find(' ') + 1), pattern);
    }));
}

// Lines whose first word (after blanks) is word, followed by a blank.
int countLines(const std::string &text, const std::string &word)
{
    const std::regex start("^[ \t]*" + word + "[ \t]");
    int count = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        count += std::regex_search(line, start);
    return count;
}

// What the strict reader gives a corpus file it rejects (after "DBC-Import: " or
// "LDF-Import: ") and the warnings of a tolerant read (collapsed).
struct Rejected { std::string error; std::vector<std::string> warnings; };

// Every corpus file of a format: one the strict reader accepts reads tolerantly to the same table without warnings of
// lost frames or signals; one it rejects fails with its pinned message and reads tolerantly with its pinned warnings.
// check(path, read, strict result) adds the format's own checks.
template <class Check>
void readCorpus(Format format, const std::map<std::string, Rejected> &rejected, Check check)
{
    const std::string dir = std::string(VEXO_CORPUS_DIR) + (format == Format::kDbc ? "/dbc" : "/ldf");
    const std::string prefix = format == Format::kDbc ? "error: DBC-Import: " : "error: LDF-Import: ";
    const std::vector<std::string> names = corpusFiles(dir, test::suffixOf(format));
    if (names.empty())
        GTEST_SKIP() << "no corpus at " << dir;
    int rejections = 0;
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        const std::string path = dir + "/" + name;
        const std::string strict = test::importFile(format, test::toU16(path));
        const Read got = readTolerant(path, format);
        ASSERT_FALSE(got.counts.empty()) << got.table;
        expectFileOrder(got.warnings);
        const auto pinned = rejected.find(name);
        if (strict.compare(0, 7, "error: ") != 0) {
            EXPECT_EQ(got.table, strict);
            EXPECT_TRUE(pinned == rejected.end()) << "expected to fail with " << pinned->second.error;
        } else if (pinned == rejected.end()) {
            ADD_FAILURE() << "rejected: " << strict;
        } else {
            ++rejections;
            EXPECT_EQ(strict, prefix + pinned->second.error);
            EXPECT_EQ(collapse(got.warnings), pinned->second.warnings);
        }
        check(path, got, strict);
    }
    EXPECT_EQ(rejections, static_cast<int>(rejected.size()));
}

const std::map<std::string, Rejected> kDbcRejected = {
    {"canmatrix__reference-from_sym-test.dbc", {"(414, 26): 'INT, HEX, FLOAT, STRING or ENUM' expected but found 'BOOL'",
     {"414:26 read attribute type \"BOOL\" as ENUM (+2 like it)", "419:24 read attribute type \"STR\" as STRING",
      "422:33 read attribute value \"False\" written without quotes (+56 like it)"}}},
    {"canmatrix__reference-from_xls-test.dbc", {"(222, 30): 'INT, HEX, FLOAT, STRING or ENUM' expected but found 'ENU'",
     {"222:30 read attribute type \"ENU\" as ENUM"}}},
    {"cantools__choices.dbc", {"(46, 99): ';' expected but found '-5'",
     {"46:99 read negative value \"-5\" in a value description list"}}},
    {"dbcppp__choices.dbc", {"(46, 99): ';' expected but found '-5'",
     {"46:99 read negative value \"-5\" in a value description list"}}},
    {"ecubus__prepare_c01.dbc", {"(206, 21): ';' expected but found '-1'",
     {"206:21 read negative value \"-1\" in a value description list (+9 like it)"}}},
    {"opendbc__can-tests-test.dbc", {"(24, 6): 'identifier' expected but found '64'",
     {"24:6 read name \"64_BIT_LE\", which begins with a digit (+1 like it)"}}},
    {"opendbc__ford_lincoln_base_pt.dbc", {"(11313, 29): ';' expected but found '-1'",
     {"11313:29 read negative value \"-1\" in a value description list (+1 like it)"}}},
    {"opendbc__generator-chrysler-_stellantis_common.dbc", {"(16, 33): 'number' expected but found '.'",
     {"16:33 read number \".25\" without a digit before the point (+1 like it)",
      "179:1 read VAL_ statement without its closing \";\""}}},
    {"opendbc__generator-gm-gm_global_a_powertrain.dbc", {"(353, 1): ';' expected but found ''",
     {"353:1 read VAL_ statement without its closing \";\""}}},
    {"opendbc__generator-honda-_honda_common.dbc", {"(207, 13): 'identifier' expected but found 'Seems to be platform-agnostic'",
     {"207:13 read comment of SG_ 304 without a signal name as a comment of frame 304",
      "208:13 read comment of SG_ 316 without a signal name as a comment of frame 316"}}},
    {"opendbc__generator-hyundai-hyundai_can.dbc", {"(1656, 5): 'string constant' expected but found '145'",
     {"1656:5 read comment with frame id 145 but without BO_ as a comment of frame 145",
      "1657:5 read comment with frame id 512 but without BO_ as a comment of frame 512"}}},
    {"opendbc__mazda_2017.dbc", {"(273, 10): 'identifier' expected but found '2017'",
     {"273:10 read name \"2017_5\", which begins with a digit (+7 like it)",
      "791:1 read VAL_ statement without its closing \";\" (+1 like it)"}}},
    {"opendbc__psa_aee2010_r3.dbc", {"(165, 6): 'identifier' expected but found '0'",
     {"165:6 read name \"0_COUNTER\", which begins with a digit (+2 like it)"}}},
    {"opendbc__tesla_can.dbc", {"(759, 26): ';' expected but found '-4096'",
     {"759:26 read negative value \"-4096\" in a value description list (+3 like it)"}}},
    {"opendbc__tesla_model3_party.dbc", {"(372, 23): ';' expected but found '-32768'",
     {"372:23 read negative value \"-32768\" in a value description list (+2 like it)"}}},
    {"opendbc__tesla_powertrain.dbc", {"(135, 26): ';' expected but found '-4096'",
     {"135:26 read negative value \"-4096\" in a value description list (+3 like it)"}}},
};

TEST(Corpus, EveryDbcFileReads)
{
    const std::regex skippedFrame("^skipped BO_ statement");
    const std::regex skippedSignal("^skipped SG_ statement");
    readCorpus(Format::kDbc, kDbcRejected, [&](const std::string &path, const Read &got, const std::string &) {
        // An independent count: lines that start a frame or a signal statement.
        const std::string text = readFile(path);
        EXPECT_EQ(got.counts[0] + countMatches(got.warnings, skippedFrame), countLines(text, "BO_"));
        EXPECT_EQ(got.counts[1] + countMatches(got.warnings, skippedSignal), countLines(text, "SG_"));
    });
}

// Entries of the Signals and Frames sections by lines, sharing nothing with the reader: with comments removed, a line
// that starts on brace level 1 inside a section whose line starts with Signals or Frames, and that begins with
// "name :", is one entry. {signals, frames}.
std::vector<int> countLdfEntryLines(const std::string &raw)
{
    std::string text;
    for (size_t i = 0; i < raw.size();) {
        if (raw.compare(i, 2, "//") == 0) {
            while (i < raw.size() && raw[i] != '\n' && raw[i] != '\r')
                ++i;
        } else if (raw.compare(i, 2, "/*") == 0) {
            const size_t end = raw.find("*/", i + 2);
            for (const size_t stop = end == std::string::npos ? raw.size() : end + 2; i < stop; ++i) {
                if (raw[i] == '\n')
                    text += '\n';
            }
        } else {
            text += raw[i++];
        }
    }
    static const std::regex entry("^\\s*\\w+\\s*:");
    static const std::regex word("^\\s*(\\w+)");
    std::vector<int> counts(2, 0);
    std::string section;
    int depth = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        if (depth == 0 && std::regex_search(line, m, word))
            section = m[1];
        else if (depth == 1 && std::regex_search(line, entry))
            counts[0] += section == "Signals", counts[1] += section == "Frames";
        for (char c : line)
            depth = std::max(0, depth + (c == '{') - (c == '}'));
    }
    return counts;
}

const std::map<std::string, Rejected> kLdfRejected = {
    {"ecubus__20250109.ldf", {"(94, 9): 'response_error' expected but found 'P2_min'",
     {"102:1 node \"Fragrance\" has product_id but no response_error"}}},
    {"ecubus__J2602_VectorExample.ldf", {"(23, 33): ';' expected but found ','",
     {"23:33 ignored the fields after the jitter of master \"LIN_Master\"",
      "137:1 read Node_attributes section although the language version \"J2602_3_1.0\" is below 2.0",
      "153:5 skipped attribute \"response_tolerance\" of node \"VectorSlave1\""}}},
    {"ecubus__Test.ldf", {"(9, 29): ';' expected but found ','",
     {"9:29 ignored the fields after the jitter of master \"BMS\"",
      "101:1 read Node_attributes section although the language version \"J2602_3_1.0\" is below 2.0",
      "112:5 skipped attribute \"response_tolerance\" of node \"BPS_VICM_LIN7_connector\" (+5 like it)"}}},
    {"ecubus__t1.ldf", {"(59, 3): 'response_error' expected but found 'P2_min'",
     {"67:1 node \"EXV\" has product_id but no response_error"}}},
    {"ecubus__test__2_.ldf", {"(146, 5): 'response_error' expected but found 'P2_min'",
     {"154:3 node \"DDL\" has product_id but no response_error (+1 like it)",
      "164:1 node \"TBD\" has product_id but no configurable_frames"}}},
    {"ldfparser__examples-network.ldf", {"(38, 3): 'response_error' expected but found 'P2_min'",
     {"47:1 node \"Slave\" has product_id but no response_error"}}},
    {"ldfparser__iso17987.ldf", {"(13, 1): 'Nodes' expected but found 'LDF_file_revision'",
     {"13:1 skipped header statement \"LDF_file_revision\" (+1 like it)",
      "114:1 read Node_attributes section although the language version \"ISO17987:2015\" is below 2.0"}}},
    {"ldfparser__j2602_1.ldf", {"(11, 30): ';' expected but found ','",
     {"11:30 ignored the fields after the jitter of master \"CEM\"",
      "29:1 read Node_attributes section although the language version \"J2602_3_1.0\" is below 2.0",
      "33:3 skipped attribute \"response_tolerance\" of node \"LSM\" (+2 like it)"}}},
    {"ldfparser__j2602_1_no_values.ldf", {"(29, 1): 'Schedule_tables' expected but found 'Node_attributes'",
     {"29:1 read Node_attributes section although the language version \"J2602_3_1.0\" is below 2.0"}}},
    {"ldfparser__lin21.ldf", {"(18, 1): 'Signals' expected but found 'Node_attributes'",
     {"47:1 read Signals section after the Node_attributes section, out of the usual order"}}},
    {"ldfparser__lin_diagnostics.ldf", {"(50, 1): 'Node_attributes' expected but found 'Diagnostic_signals'",
     {"50:1 read Diagnostic_signals section after the Event_triggered_frames section, out of the usual order"}}},
    {"ldfparser__lin_encoders.ldf", {"(36, 5): 'response_error' expected but found 'P2_min'",
     {"44:1 node \"remote_node\" has product_id but no response_error", "93:16 read ascii_value without a number",
      "96:14 read bcd_value without a number"}}},
    {"ldfparser__lin_schedules.ldf", {"(11, 1): 'Signals' expected but found 'Node_attributes'",
     {"21:5 node \"LeftLight\" has product_id but no response_error (+1 like it)",
      "32:1 read Signals section after the Node_attributes section, out of the usual order",
      "83:25 skipped entry \"UnassignFrameId\" in schedule table \"FrameConfiguration_Schedule\": "
      "expected \"delay\" but found \"{\" (+1 like it)"}}},
    {"ldfparser__logic_error.ldf", {"(35, 3): 'response_error' expected but found 'P2_min'",
     {"44:1 node \"Slave\" has product_id but no response_error"}}},
    {"ldfparser__no_signal_subscribers.ldf", {"(15, 1): 'Slaves' expected but found '}'",
     {"15:1 read Nodes section without a Slaves line"}}},
    {"ldfparser__syntax_error.ldf", {"(7, 3): '{' expected but found 'Master'",
     {"7:3 read Nodes section without its \"{\"", "44:1 node \"Slave\" has product_id but no response_error"}}},
    {"ldfparser__valid.ldf", {"(42, 3): 'response_error' expected but found 'P2_min'",
     {"51:2 node \"Slave1\" has product_id but no response_error (+1 like it)"}}},
    {"lin_tools__parser-example_13.ldf", {"(169, 5): '}' expected but found '1'",
     {"169:5 read name \"1BitDig\", which begins with a digit (+1 like it)",
      "192:1 read \"Signal_representations\" as Signal_representation",
      "193:5 read name \"1BitDig\", which begins with a digit"}}},
    {"ucanlin__example_LDF.ldf", {"(38, 3): 'response_error' expected but found 'P2_min'",
     {"47:1 node \"Slave\" has product_id but no response_error"}}},
    {"ucanlin__sample.ldf", {"(24, 1): 'Node_attributes' expected but found ''",
     {"24:1 the file has no readable Node_attributes section; it is given as an empty one",
      "24:1 the file has no readable Schedule_tables section; it is given as an empty one"}}},
};

// The tags of the sections a file has, from the lines that open a section (outside
// block comments), in file order, as element tags.
std::string sectionTagsOfFile(const std::string &text)
{
    static const std::map<std::string, std::string> kSections = {
        {"Nodes", "nodes"}, {"Diagnostic_addresses", "diagnosticaddresses"}, {"composite", "composite"},
        {"Signals", "signals"}, {"Diagnostic_signals", "diagnosticsignals"}, {"Frames", "frames"},
        {"Sporadic_frames", "sporadicframes"}, {"Event_triggered_frames", "eventtriggeredframes"},
        {"Diagnostic_frames", "diagnosticframes"}, {"Node_attributes", "nodeattributes"},
        {"Schedule_tables", "scheduletables"}, {"Signal_groups", "signalgroups"},
        {"Signal_encoding_types", "signalencodingtypes"}, {"Signal_representation", "signalrepresentations"},
    };
    std::istringstream in(text);
    std::string tags = "global";
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (const size_t brace = word.find('{'); brace != std::string::npos)
            word.resize(brace);
        if (const auto s = kSections.find(word); s != kSections.end())
            tags += " " + s->second;
    }
    return tags;
}

// Signal instances of all frames of some large files, as a regular-expression count of their lines gives them.
const std::map<std::string, int> kLdfSignalInstances = {
    {"saej3068__J3068-2.ldf", 158}, {"saej3068__J3068_20kbpsVer11_3B.ldf", 108},
    {"ecubus__BYD_HT_SZ.ldf", 35}, {"ecubus__Door.ldf", 20},
};

TEST(Corpus, EveryLdfFileReads)
{
    const std::regex lostSignal(
        "^(skipped signal \"[^\"]*\" in the|ignored signal \"[^\"]*\" of the ignored) Signals section");
    const std::regex lostFrame(
        "^(skipped frame \"[^\"]*\" in the|ignored frame \"[^\"]*\" of the ignored) Frames section");
    readCorpus(Format::kLdf, kLdfRejected, [&](const std::string &path, const Read &got, const std::string &strict) {
        const std::string text = readFile(path);
        const std::vector<int> lines = countLdfEntryLines(text);
        EXPECT_EQ(got.counts[0] + countMatches(got.warnings, lostSignal), lines[0]);
        EXPECT_EQ(got.counts[1] + countMatches(got.warnings, lostFrame), lines[1]);
        if (strict.compare(0, 7, "error: ") != 0) {
            EXPECT_EQ(got.tags, sectionTagsOfFile(text));
        }
        const auto instances = kLdfSignalInstances.find(path.substr(path.rfind('/') + 1));
        if (instances != kLdfSignalInstances.end()) {
            EXPECT_EQ(got.counts[2], instances->second);
        }
    });
}

}  // namespace
}  // namespace vexo::io
