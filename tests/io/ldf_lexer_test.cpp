// The LDF tokenizer: comments and the lone '/', the keyword table and identifier
// code, and that the number and string rules are the shared ones.
#include <gtest/gtest.h>

#include <cstring>

#include "io_test_support.h"
#include "ldf_lexer.h"

namespace vexo::io {
namespace {

const auto lexPositions = [](const std::string &input) { return test::lexTokens<LdfLexer>(input, true); };

TEST(LdfLexer, SkipsCommentsAndKeepsTheLoneSlash)
{
    test::checkPairs(lexPositions, {
        {"a\n// end", "id(a)@1:1 eof@2:7"}, {"a // b c\nd", "id(a)@1:1 id(d)@2:1 eof@2:2"},
        {"a /* x\ny\nz */ b", "id(a)@1:1 id(b)@3:6 eof@3:7"},
        {"/*****/ a /** x **/ b", "id(a)@1:9 id(b)@1:21 eof@1:22"}, {"/*/ a */ b", "id(b)@1:10 eof@1:11"},
        {"a/*x*/b 5//y\nc", "id(a)@1:1 id(b)@1:7 uint(5)=5@1:9 id(c)@2:1 eof@2:2"},
        {"//a\n/*b*//*c*/\n//d\r\ne", "id(e)@4:1 eof@4:2"}, {"a /* b\nc", "id(a)@1:1 eof@2:2"},
        {"a / b", "id(a)@1:1 char(47)@1:3 id(b)@1:5 eof@1:6"}, {"a /\nb", "id(a)@1:1 char(47)@1:3 id(b)@2:1 eof@2:2"},
        {"/", "char(47)@1:1 eof@1:2"}, {"a\r\n\r\nb\rc", "id(a)@1:1 id(b)@3:1 id(c)@4:1 eof@4:2"},
    });
}

TEST(LdfLexer, UsesTheSharedNumberAndStringRules)
{
    EXPECT_EQ(lexPositions("0x1F -5 19.2 1.2.3 \"a\\\"b\" 0xFFFFFFFF"),
              "uint(0x1F)=31@1:1 int(-5)=-5@1:6 float(19.2)=19.2@1:9 bad(1.2)@1:14 '.'@1:17 uint(3)=3@1:18 "
              "str(\"a\\\"b\")@1:20 uint(0xFFFFFFFF)=4294967295@1:27 eof@1:37");
}

// Every keyword is read as one by the reader tests; here the words that must not be.
TEST(LdfLexer, MatchesKeywordsAsWholeCaseSensitiveWords)
{
    for (const char *word : {"Master_node", "master", "MS", "Signal_representations", "UnassignFrameId", "MasterReq",
                             "m", "VERSION"})
        EXPECT_EQ(findLdfKeyword(word, std::strlen(word)), ldf::TOK_IDENTIFIER) << word;
    EXPECT_EQ(findLdfKeyword("Signal_encoding_types", 21), ldf::TOK_Signal_encoding_types);
    // Through the tokenizer, with a word character right after the keyword's text.
    EXPECT_EQ(lexPositions("Nodes Nodes1 ms;"), "kw(Nodes)@1:1 id(Nodes1)@1:7 kw(ms)@1:14 ';'@1:16 eof@1:17");
}

}  // namespace
}  // namespace vexo::io
