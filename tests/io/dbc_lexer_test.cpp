// The DBC tokenizer: number, string, word and single-character tokens, line and
// column accounting with every line-end style, newline mode and line skipping.
#include <gtest/gtest.h>

#include "dbc_lexer.h"
#include "io_test_support.h"

namespace vexo::io {
namespace {

using Lexer = test::Tokenizer<DbcLexer>;

const auto lexAll = [](const std::string &input) { return test::lexTokens<DbcLexer>(input); };
const auto lexPositions = [](const std::string &input) { return test::lexTokens<DbcLexer>(input, true); };

TEST(DbcLexer, ReadsNumbersOfEveryForm)
{
    test::checkPairs(lexAll, {
        {"0x1F", "uint(0x1F)=31"}, {"0XfF", "uint(0XfF)=255"}, {"0x1Fg", "uint(0x1F)=31 id(g)"}, {"0x", "uint(0x)=0"},
        {"0x1.5", "uint(0x1)=1 '.' uint(5)=5"}, {"-0x1F", "bad(-0x) uint(1)=1 id(F)"},
        {"+0x1F", "bad(+0x) uint(1)=1 id(F)"}, {"010", "uint(010)=8"}, {"09", "uint(09)=0"}, {"-017", "int(-017)=-15"},
        {"0", "uint(0)=0"}, {"0.5", "float(0.5)=0.5"}, {"-5", "int(-5)=-5"}, {"+5", "uint(+5)=5"},
        {"-.5", "float(-.5)=-0.5"}, {"+1.5", "float(+1.5)=1.5"}, {"1e-3", "float(1e-3)=0.001"},
        {"2E3", "float(2E3)=2000"}, {"1e", "float(1e)=1"}, {"-e5", "float(-e5)=0"}, {"1.2.3", "bad(1.2) '.' uint(3)=3"},
        {"1e2e3", "bad(1e2) id(e3)"}, {"1e2.5", "bad(1e2) '.' uint(5)=5"}, {"@1+", "'@' uint(1)=1 '+'"},
        {"- 1", "'-' uint(1)=1"}, {"12abc", "uint(12)=12 id(abc)"}, {"4294967295", "uint(4294967295)=4294967295"},
        {"4294967296", "uint(4294967296)=4294967295"}, {"4294967296 7", "uint(4294967296)=4294967295 uint(7)=7"},
        {"99999999999999999999999", "uint(99999999999999999999999)=4294967295"},
        {"99999999999999999999999;", "uint(99999999999999999999999)=4294967295 ';'"},
        {"8589934593,12e1,3.5\n7", "uint(8589934593)=4294967295 ',' float(12e1)=120 ',' float(3.5)=3.5 uint(7)=7"},
        {"0x1FFFFFFFF", "uint(0x1FFFFFFFF)=4294967295"}, {"-2147483648", "int(-2147483648)=-2147483648"},
        {"-2147483649", "int(-2147483649)=-2147483648"}, {"4.44E+481", "float(4.44E+481)=inf"},
        {"1e-400", "float(1e-400)=0"},
        {"0|8@1+ (0.1,-40) [-3.4E+38|3.4E+38]",
         "uint(0)=0 '|' uint(8)=8 '@' uint(1)=1 '+' '(' float(0.1)=0.1 ',' int(-40)=-40 ')' "
         "'[' float(-3.4E+38)=-3.4e+38 '|' float(3.4E+38)=3.4e+38 ']'"},
    });
}

TEST(DbcLexer, ReadsStringsWithEscapes)
{
    test::checkPairs(lexAll, {
        {"\"a\\\"b\"", "str(\"a\\\"b\")"}, {"\"x\\qy\"", "str(\"xqy\")"},
        {"\"\\n\\r\\t\\\\\"", "str(\"\\n\\x0D\\x09\\\\\")"}, {"\"\" x", "str(\"\") id(x)"},
        {"\"\xFF\xE4\"", "str(\"\\xFF\\xE4\")"}, {std::string("\"a\0b\"", 5), "str(\"a\\x00b\")"},
        {"\"a\r\nb\rc\n\rd\"", "str(\"a\\nb\\nc\\nd\")"}, {"\"abc", "str(\"abc\")"}, {"\"ab\\", "str(\"ab\")"},
        {"\"a\"\"b\"", "str(\"a\") str(\"b\")"},
    });
}

// The reader tests read every other keyword as one; here keywords that are prefixes of others,
// those no reader test writes as a statement, and words that must not be keywords.
TEST(DbcLexer, MatchesKeywordsAsWholeCaseSensitiveWords)
{
    using namespace dbc;
    struct Case { const char *word; int32_t code; };
    const Case cases[] = {
        {"BA_", TOK_BA_}, {"BA_DEF_DEF_", TOK_BA_DEF_DEF_}, {"BA_DEF_", TOK_BA_DEF_}, {"CAT_DEF_", TOK_CAT_DEF_},
        {"CAT_", TOK_CAT_}, {"VAL_TABLE_", TOK_VAL_TABLE_}, {"BS_", TOK_BS_}, {"VERSIONX", TOK_IDENTIFIER},
        {"version", TOK_IDENTIFIER}, {"BO_TX_BU_", TOK_IDENTIFIER}, {"SIG_VALTYPE_", TOK_IDENTIFIER},
        {"INT1_FaultStatus", TOK_IDENTIFIER}, {"EV_Rekuperation", TOK_IDENTIFIER}, {"BA_DEF_REL_", TOK_IDENTIFIER},
        {"Enum", TOK_IDENTIFIER}, {"_", TOK_IDENTIFIER}, {"x9_", TOK_IDENTIFIER},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.word);
        Lexer lx(std::string(c.word) + ":");
        EXPECT_EQ(lx.next(), c.code);
        EXPECT_EQ(lx.text(), c.word);
        EXPECT_EQ(lx.next(), ':');
    }
}

TEST(DbcLexer, ReadsSingleCharacterTokens)
{
    test::checkPairs(lexAll, {
        {":;,|@()[]", "':' ';' ',' '|' '@' '(' ')' '[' ']'"}, {"\x80\xFF", "char(128) char(255)"},
        {".5", "'.' uint(5)=5"}, {std::string("a\0b", 3), "id(a) nul id(b)"}, {"// x", "'/' '/' id(x)"},
    });
}

TEST(DbcLexer, TextBufferGrowsWithoutLimit)
{
    const std::string word(200, 'w');
    Lexer lx(word + " " + std::string(5000, 's') + " \"" + std::string(70000, 'q') + "\"");
    EXPECT_EQ(lx.next(), dbc::TOK_IDENTIFIER);
    EXPECT_EQ(lx.text(), word);
    EXPECT_EQ(lx.core().textCapacity, 286u);  // 64 -> 138 -> 286
    EXPECT_EQ(lx.next(), dbc::TOK_IDENTIFIER);
    EXPECT_EQ(lx.core().textLength, 5000u);
    EXPECT_EQ(lx.position(), "1:202");
    EXPECT_EQ(lx.next(), TOK_STRING);
    EXPECT_EQ(lx.text(), std::string(70000, 'q'));
    EXPECT_EQ(lx.next(), TOK_EOF);
}

TEST(DbcLexer, CountsLinesAndColumns)
{
    test::checkPairs(lexPositions, {
        {"VERSION \"\"\nBO_ x", "kw(VERSION)@1:1 str(\"\")@1:9 kw(BO_)@2:1 id(x)@2:5 eof@2:6"},
        {"\n\tBO_ x", "kw(BO_)@2:2 id(x)@2:6 eof@2:7"}, {"12;", "uint(12)=12@1:1 ';'@1:3 eof@1:4"},
        {"a\n", "id(a)@1:1 eof@2:1"}, {"", "eof@1:1"}, {"\"a\nbc\" x", "str(\"a\\nbc\")@1:1 id(x)@2:5 eof@2:6"},
        {"a\r\r\nb", "id(a)@1:1 id(b)@3:1 eof@3:2"},
        {"a\n\r\nb", "id(a)@1:1 id(b)@3:1 eof@3:2"}, {"\"\xC3\xBC\" x", "str(\"\\xC3\\xBC\")@1:1 id(x)@1:6 eof@1:7"},
    });
}

TEST(DbcLexer, EveryLineEndStyleGivesTheSameLines)
{
    const char *want = "id(a)@1:1 id(b)@3:1 id(c)@3:3 id(d)@4:3 str(\"e\\nf\")@4:5 id(g)@6:3 eof@6:4";
    for (const char *end : {"\n", "\r", "\r\n", "\n\r"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(end)));
        std::string text = "a@@b c@  d \"e@f\"@  g";
        for (size_t at; (at = text.find('@')) != std::string::npos;)
            text.replace(at, 1, end);
        EXPECT_EQ(lexPositions(text), want);
    }
}

TEST(DbcLexer, NewlineModeMakesLineEndsTokens)
{
    EXPECT_EQ(test::lexTokens<DbcLexer>("A B\r\nC,D\n", false, [](DbcLexer *l) { setNewlineMode(l, true); }),
              "id(A) id(B) char(10) id(C) ',' id(D) char(10)");
    EXPECT_EQ(lexAll("A B\r\nC,D\n"), "id(A) id(B) id(C) ',' id(D)");
    // A line end that was the lookahead of a word becomes the token after it.
    Lexer lx("A\nB");
    EXPECT_EQ(lx.next(), dbc::TOK_IDENTIFIER);
    setNewlineMode(lx.get(), true);
    EXPECT_EQ(lx.next(), '\n');
    setNewlineMode(lx.get(), false);
    EXPECT_EQ(lx.next(), dbc::TOK_IDENTIFIER);
    EXPECT_EQ(lx.position(), "2:1");
}

TEST(DbcLexer, SkipsTheRestOfTheLine)
{
    struct Case { const char *what; const char *input; const char *want; };
    const Case cases[] = {
        {"words after the token", "x y \"z\nstill\" w\nnext", "id(still)"},
        {"lookahead is the line end", "x\nnext", "id(next)"}, {"string was the last token", "\"x\"\nnext", "id(next)"},
        {"no line end before the end", "x y z", "eof"}, {"CR LF is one line end", "x y\r\nnext", "id(next)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Lexer lx(c.input);
        lx.next();
        skipRestOfLine(lx.get());
        lx.next();
        EXPECT_EQ(lx.describe(), c.want);
    }
}

TEST(DbcLexer, CreatePassesInputFailuresThrough)
{
    DbcLexer *lexer = nullptr;
    EXPECT_EQ(createLexer(nullptr, &lexer), E_INVALIDARG);
    EXPECT_EQ(createLexer(u"/nonexistent/file.dbc", &lexer), E_FAIL);
    EXPECT_EQ(createLexer(u"/nonexistent/file.dbc", static_cast<DbcLexer **>(nullptr)), E_INVALIDARG);
    EXPECT_EQ(createLexerOnInput(nullptr, &lexer), E_INVALIDARG);
    EXPECT_EQ(lexer, nullptr);
}

}  // namespace
}  // namespace vexo::io
