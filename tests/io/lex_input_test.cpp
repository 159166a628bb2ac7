// The tokenizers' buffered file input: opening by UTF-16 path, block reading across
// buffer boundaries, end of input, the pushed-back character and the tag check.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "io_test_support.h"
#include "lex_input.h"

namespace vexo::io {
namespace {

using test::TempFile;

TEST(LexInput, OpenRefusesWhatCannotBeRead)
{
    TempFile file("x");
    // A FIFO nobody writes would block an open for reading, and /dev/zero never ends.
    const std::string fifoPath = file.path() + ".fifo";
    ASSERT_EQ(mkfifo(fifoPath.c_str(), 0600), 0);
    const std::u16string existing = file.path16(), missing = test::toU16(file.path() + ".missing"),
                         directory = u"/tmp", fifo = test::toU16(fifoPath), zero = u"/dev/zero";
    const char16_t unpaired[] = {u'/', u't', u'm', u'p', 0xD800, u'x', 0};
    LexInput *input = nullptr;
    struct Case { const char *what; const VexoChar *path; LexInput **out; HRESULT want; };
    const Case cases[] = {
        {"null path", nullptr, &input, E_INVALIDARG}, {"null result", existing.c_str(), nullptr, E_INVALIDARG},
        {"missing file", missing.c_str(), &input, E_FAIL}, {"directory", directory.c_str(), &input, E_FAIL},
        {"FIFO", fifo.c_str(), &input, E_FAIL}, {"device", zero.c_str(), &input, E_FAIL},
        {"unpaired surrogate", unpaired, &input, E_FAIL},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(openLexInput(c.path, c.out), c.want);
        EXPECT_EQ(input, nullptr);
    }
    unlink(fifoPath.c_str());
}

TEST(LexInput, OpensNonAsciiPathsAndEmptyFiles)
{
    for (const char *bytes : {"AB", ""}) {
        TempFile file(bytes, "_Gr\xC3\xBC\xC3\x9F" "e_\xE2\x82\xAC.dbc");
        LexInput *input = nullptr;
        ASSERT_EQ(openLexInput(file.path16().c_str(), &input), S_OK);
        for (const char *c = bytes; *c != '\0'; ++c)
            EXPECT_EQ(getLexByte(input), *c);
        EXPECT_EQ(getLexByte(input), kEndOfInput);
        EXPECT_EQ(closeLexInput(input), S_OK);
    }
}

TEST(LexInput, StreamsEveryByteAcrossBlockBoundaries)
{
    // Three and a half blocks with every byte value, so a byte lost or repeated at a
    // refill, or a byte above 127 read as negative, shows up.
    std::string bytes(kLexInputBufferSize * 3 + kLexInputBufferSize / 2, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    TempFile file(bytes);
    LexInput *input = nullptr;
    ASSERT_EQ(openLexInput(file.path16().c_str(), &input), S_OK);
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int want = static_cast<unsigned char>(bytes[i]);
        if (i % 1000 == 0 || i % kLexInputBufferSize == 0) {
            ASSERT_EQ(peekLexByte(input), want) << "peek at " << i;
        }
        ASSERT_EQ(getLexByte(input), want) << "byte " << i;
    }
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(peekLexByte(input), kEndOfInput);
        EXPECT_EQ(getLexByte(input), kEndOfInput);
    }
    EXPECT_FALSE(input->readError);
    EXPECT_EQ(closeLexInput(input), S_OK);
}

TEST(LexInput, CloseRefusesObjectsWithoutTheTag)
{
    EXPECT_EQ(closeLexInput(nullptr), E_INVALIDARG);
    LexInput fake{};
    fake.tag = 0x12345678;
    EXPECT_EQ(closeLexInput(&fake), E_INVALIDARG);
}

}  // namespace
}  // namespace vexo::io
