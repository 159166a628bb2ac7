// How every reader is entered: results above what the stack held, failures before the parse as result codes, the parse
// functions' guard, and Lua memory running out at every point of a read.
#include <gtest/gtest.h>

#include <functional>

#include "dbc_reader.h"
#include "dbc_records.h"
#include "io_test_support.h"
#include "ldf_reader.h"
#include "sym_reader.h"

namespace vexo::io {
namespace {

using test::Format;

// A read's results as one line: a tolerant read's table (cut) and warning count, else describeResults' rendering.
std::string describe(lua_State *L, int count)
{
    if (count != 2 || !lua_istable(L, -1))
        return test::describeResults(L, count);
    const test::TolerantRead read = test::describeTolerant(L, count);
    return read.table.substr(0, 30) + " " + std::to_string(read.warnings.size()) + " warnings";
}

TEST(ReaderEntry, EveryEntryLeavesItsResultsAboveTheStack)
{
    const test::TempFile goodDbc("BU_: A\n"), badDbc("BU_: A\nBO_ x\n"), sym("{SEND}\n[A]\n", ".sym"),
        badSym("{SEND\n", ".sym"), ldf("LIN_description_file;\nLIN_protocol_version = \"2.1\";\n", ".ldf");
    const std::u16string good = goodDbc.path16(), bad = badDbc.path16(), lin = ldf.path16(), s = sym.path16(),
                         badS = badSym.path16(), missing = good + u".missing";
    std::string text = "BU_: A\n";
    const std::string kEcu = "{{id=\"A\",tag=\"ecu\"},tag=\"db\"}", kInvalid = "code: -2147024809";
    struct Case { const char *what; std::function<int(lua_State *)> entry; int count; std::string want; };
    const Case cases[] = {
        {"DBC table", [&](lua_State *L) { return Vexo_importRawDBC(L, good.c_str()); }, 1, kEcu},
        {"DBC syntax error", [&](lua_State *L) { return Vexo_importRawDBCEx(L, bad.c_str(), 0); }, 2,
         "error: DBC-Import: (2, 5): 'constant' expected but found 'x'"},
        {"DBC tolerant", [&](lua_State *L) { return Vexo_importRawDBCEx(L, bad.c_str(), VEXO_IMPORT_TOLERANT); }, 2,
         kEcu + " 1 warnings"},
        {"DBC missing file", [&](lua_State *L) { return Vexo_importRawDBC(L, missing.c_str()); }, 2,
         "code: -2147467259"},
        {"DBC null path", [](lua_State *L) { return Vexo_importRawDBC(L, nullptr); }, 2, kInvalid},
        {"DBC stream", [&](lua_State *L) { return importDbcStream(L, fmemopen(text.data(), text.size(), "rb")); }, 1,
         kEcu},
        {"DBC null stream", [](lua_State *L) { return importDbcStream(L, nullptr); }, 2, kInvalid},
        {"LDF syntax error", [&](lua_State *L) { return Vexo_importRawLDF(L, lin.c_str()); }, 2,
         "error: LDF-Import: (3, 1): 'LIN_language_version' expected but found ''"},
        {"LDF tolerant: a table even without sections",
         [&](lua_State *L) { return Vexo_importRawLDFEx(L, lin.c_str(), VEXO_IMPORT_TOLERANT); }, 2,
         "{{LIN_protocol_version=\"2.1\",t 6 warnings"},
        {"LDF null path", [](lua_State *L) { return Vexo_importRawLDFEx(L, nullptr, 0); }, 2, kInvalid},
        {"unknown flag bits", [&](lua_State *L) { return Vexo_importRawLDFEx(L, lin.c_str(), 2); }, 2, kInvalid},
        {"LDF null stream", [](lua_State *L) { return importLdfStream(L, nullptr); }, 2, kInvalid},
        {"SYM table", [&](lua_State *L) { return Vexo_importRawSYM(L, s.c_str()); }, 1,
         "{{line=2,name=\"A\",section=\"SEND\",tag=\"message\"},tag=\"sym\"}"},
        {"SYM syntax error", [&](lua_State *L) { return Vexo_importRawSYM(L, badS.c_str()); }, 2,
         "error: SYM-Import: (1, 6): '}' expected but found 'end of line'"},
        {"SYM null path", [](lua_State *L) { return Vexo_importRawSYM(L, nullptr); }, 2, kInvalid},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        lua_State *L = luaL_newstate();
        lua_pushliteral(L, "below");
        lua_pushinteger(L, 7);
        const int count = c.entry(L);
        EXPECT_EQ(count, c.count);
        EXPECT_EQ(lua_gettop(L), 2 + c.count);
        EXPECT_STREQ(lua_tostring(L, 1), "below");
        EXPECT_EQ(lua_tointeger(L, 2), 7);
        lua_remove(L, 1), lua_remove(L, 1);
        EXPECT_EQ(describe(L, count), c.want);
        lua_close(L);
    }
    // Without a state nothing is pushed.
    EXPECT_EQ(std::vector<int>({Vexo_importRawDBC(nullptr, good.c_str()), Vexo_importRawSYM(nullptr, s.c_str()),
                                Vexo_importRawDBCEx(nullptr, good.c_str(), VEXO_IMPORT_TOLERANT),
                                Vexo_importRawLDF(nullptr, lin.c_str()), Vexo_importRawLDFEx(nullptr, lin.c_str(), 0)}),
              std::vector<int>(5, 0));
}

TEST(ReaderEntry, ParseFunctionsRefuseANullInstance)
{
    for (lua_CFunction parse : {parseDbc, parseLdf, parseSym}) {
        lua_State *L = luaL_newstate();
        lua_pushlightuserdata(L, nullptr);
        lua_pushcclosure(L, parse, 1);
        ASSERT_NE(lua_pcall(L, 0, LUA_MULTRET, 0), 0);
        EXPECT_STREQ(lua_tostring(L, -1), "invalid parser instance");
        lua_close(L);
    }
}

// A Lua allocator with a byte budget, so that memory runs out part-way through a read.
struct Budget { size_t used, limit; };

void *allocateWithin(void *context, void *block, size_t oldSize, size_t newSize)
{
    auto *budget = static_cast<Budget *>(context);
    if (newSize == 0) {
        std::free(block);
        budget->used -= oldSize;
        return nullptr;
    }
    if (newSize > oldSize && budget->used + (newSize - oldSize) > budget->limit)
        return nullptr;
    void *grown = std::realloc(block, newSize);
    if (grown != nullptr)
        budget->used = budget->used - oldSize + newSize;
    return grown;
}

// Runs read in a fresh state under each budget from 256 bytes above what the state
// already holds (room for the parse closure, made before the protected call) upward;
// lua_close must leave nothing allocated.
template <class Read>
void underBudgets(const Read &read)
{
    for (size_t extra = 256; extra < (size_t{1} << 22); extra += extra / 4) {
        Budget budget{0, SIZE_MAX};
        lua_State *L = lua_newstate(allocateWithin, &budget);
        ASSERT_NE(L, nullptr);
        budget.limit = budget.used + extra;
        read(L, extra);
        lua_close(L);
        EXPECT_EQ(budget.used, 0u);
    }
}

// Under every budget a read gives the table it gives without a budget, or Lua's memory
// error.
TEST(ReaderEntry, ReportsLuaMemoryExhaustionAsAnError)
{
    std::string dbc = "BU_: A B\n";
    for (int i = 0; i < 20; ++i)
        dbc += "BO_ " + std::to_string(i) + " F" + std::to_string(i) +
               ": 8 A\n SG_ S : 0|8@1+ (1,0) [0|1] \"unit\" B\nCM_ BO_ 1 \"comment\";\n";
    std::string brokenDbc;
    for (int i = 0; i < 40; ++i)
        brokenDbc += "BO_ " + std::to_string(i) + " F: 8 A\n SG_ S : 0|8@1* (1,0) [0|1] \"\" B\nVAL_ 1 S -1 \"x\";\n";
    std::string ldf = "LIN_description_file;\nLIN_protocol_version = \"2.1\";\nLIN_language_version = \"2.1\";\n"
                      "LIN_speed = 19.2 kbps;\nNodes { Master: M, 5 ms, 0.1 ms; Slaves: S1, S2; }\nSignals {\n";
    for (int i = 0; i < 30; ++i)
        ldf += "  S" + std::to_string(i) + ": 8, {1, 2}, M, S1, S2;\n";
    ldf += "}\nFrames { F: 1, M { S0, 0; } }\nNode_attributes { }\nSchedule_tables { T { F delay 5 ms; } }\n";
    std::string sym = "FormatVersion=6.0\n{ENUMS}\nEnum=E(0=\"a\", 1=\"b\")\n{SENDRECEIVE}\n";
    for (int i = 0; i < 20; ++i)
        sym += "[M" + std::to_string(i) + "]\nID=" + std::to_string(i) + "h // c\nLen=8\nMux=X 0,8 1\n"
               "Var=V unsigned 8,8 /u:km /e:E\n";
    struct Case { Format format; std::string text; uint32_t flags; };
    const Case cases[] = {{Format::kDbc, dbc, 0}, {Format::kDbc, brokenDbc, VEXO_IMPORT_TOLERANT},
                          {Format::kLdf, ldf, 0}, {Format::kSym, sym, 0}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text.substr(0, 20));
        test::TempFile file(c.text, test::suffixOf(c.format));
        const std::u16string path = file.path16();
        lua_State *unlimited = luaL_newstate();
        const std::string want = describe(unlimited, test::importRaw(unlimited, c.format, path.c_str(), c.flags));
        lua_close(unlimited);
        ASSERT_EQ(want.compare(0, 2, "{{"), 0) << want;
        int tables = 0, failures = 0;
        underBudgets([&](lua_State *L, size_t extra) {
            const std::string got = describe(L, test::importRaw(L, c.format, path.c_str(), c.flags));
            if (got == "error: not enough memory")
                ++failures;
            else if (got == want)
                ++tables;
            else
                ADD_FAILURE() << extra << ": " << got.substr(0, 200);
        });
        EXPECT_GT(failures, 10);
        EXPECT_GT(tables, 0);
    }
}

// The DBC import's records under the same budgets (a tolerant read, value descriptions
// with a negative value, which take a Lua table to order): records with every frame, or
// Lua's memory error; lua_close frees the userdata's C++ memory either way.
TEST(ReaderEntry, ReadsDbcRecordsOrReportsLuaMemoryExhaustion)
{
    std::string dbc;
    for (int i = 0; i < 40; ++i)
        dbc += "BO_ " + std::to_string(i) + " F: 8 A\n SG_ S : 0|8@1* (1,0) [0|1] \"\" B\nVAL_ 1 S -1 \"x\" 1 \"y\";\n";
    test::TempFile file(dbc);
    const std::u16string path = file.path16();
    int records = 0, failures = 0;
    underBudgets([&](lua_State *L, size_t) {
        const int count = readDbcRecords(L, path.c_str(), VEXO_IMPORT_TOLERANT);
        const DbcRecords *read = count == 1 ? toDbcRecords(L, -1) : nullptr;
        if (read != nullptr) {
            ++records;
            EXPECT_EQ(read->frames.size(), 40u);
            EXPECT_EQ(read->warnings.size(), 80u);
            EXPECT_EQ(read->frameNotes.at(1).signals.at("S").values.size(), 2u);
        } else {
            ++failures;
            EXPECT_STREQ(lua_tostring(L, -1), "not enough memory");
        }
    });
    EXPECT_GT(failures, 10);
    EXPECT_GT(records, 0);
}

// Signal lines in their plain form are read in one go, the others token by token. Each
// text here is read both ways (a vertical tab after SG_, one column like a blank, makes
// the parser read its lines), strict and tolerant, with lines ending each way after the
// tested one: the same records, warnings and lines either way.
TEST(ReaderEntry, SignalLinesReadInOneGoGiveWhatTheParserGives)
{
    const char *const lines[] = {
        "S : 0|8@1+ (1,0) [0|255] \"\" B",
        "S m12 : 7|12@0- (1E-2,-0) [-20.48|20.47] \"km/h\" B,C,",
        "S M : 0|1@1+ (0.5,+3) [-0|4294967296] \"\xc2\xb0\" B  C , D",
        "S mx : 63|64@0+ (99999999999999999999,-99999999999999999999) [-2147483649|1.e5] \"\"",
        "S m3M : 0|8@1+ (1,0) [0|1] \"a\\\"b\" B",
        "S : 00|8@1+ (1,0) [0|1] \"\" B",
        "S : 0|8@1+ (1.5.3,0) [0|1] \"\" B",
        "BU_ : 0|8@1+ (1,0) [0|1] \"\" B",
        "S : 0|8@1 + (1,0) [0|1] \"\" B,,C",
        "S : 0|8@1+ (1,0) [0|1] \"\" B BO_",
        "S : 0|8@1+(1,0)[0|1]\"x\"B",
    };
    for (const char *line : lines) {
        for (const uint32_t flags : {0u, uint32_t{VEXO_IMPORT_TOLERANT}}) {
            std::vector<std::string> reads;
            for (const char *after : {" ", "\v"}) {
                const std::string sg = std::string(" SG_") + after;
                const std::string text = "BO_ 1 F: 8 A\r\n" + sg + line + "\r\n" + sg +
                                         "T : 8|8@1+ (1,0) [0|1] \"\" B\n\rBO_ 2 G: 8 A\n" + sg +
                                         "U : 0|8@1+ (1,0) [0|1] \"\" B\nBO_ x\n";
                const test::TempFile file(text);
                lua_State *L = luaL_newstate();
                const int count = readDbcRecords(L, file.path16().c_str(), flags);
                std::string read = count == 1 ? "" : lua_tostring(L, -1);
                if (const DbcRecords *records = count == 1 ? toDbcRecords(L, -1) : nullptr) {
                    for (const RawFrame &frame : records->frames) {
                        for (const RawSignal &s : frame.signals) {
                            char numbers[200];
                            std::snprintf(numbers, sizeof numbers, "%a %a %a %a %a %a %a %d%d%d", s.startBit,
                                          s.bitLength, s.scale, s.offset, s.min, s.max, s.modeValue, s.mode,
                                          s.bigEndian, s.isSigned);
                            read += frame.name + "/" + s.name + " " + numbers + " [" + s.unit + "]";
                            for (const std::string &receiver : s.receivers)
                                read += " " + receiver;
                            read += "\n";
                        }
                    }
                    for (const auto &[at, warning] : records->warnings)
                        read += std::to_string(at) + ": " + warning + "\n";
                }
                lua_close(L);
                reads.push_back(read);
            }
            EXPECT_EQ(reads[0], reads[1]) << line << (flags != 0 ? " (tolerant)" : "");
            if (flags != 0)
                EXPECT_NE(reads[0].find("G/U"), std::string::npos) << reads[0];
            else  // BO_ x, or the line before it, ends a strict read with an error
                EXPECT_EQ(reads[0].find("DBC-Import: ("), 0u) << reads[0];
        }
    }
}

}  // namespace
}  // namespace vexo::io
