// The XSL transformation as its Lua callers use it from several threads and many times over: results stay with their
// own call and thread, the calling thread's libxml2 handlers and libxslt's process-wide hooks are as before afterwards,
// nothing reaches stderr, and repeated calls do not grow the heap.
#include <gtest/gtest.h>

#include <malloc.h>

#include <atomic>
#include <thread>
#include <tuple>

#include <libxml/globals.h>
#include <libxml/parser.h>
#include <libxslt/documents.h>
#include <libxslt/xsltutils.h>

#include "io_test_support.h"
#include "vexo/io.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime (GCC ships no header for it): malloc statistics are not
// kept by AddressSanitizer's allocator.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using vexo::io::test::TempFile;

const char kTableSheet[] =
    "<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
    "<xsl:output method='text'/><xsl:template match='/r'>"
    "<xsl:for-each select='s'><xsl:value-of select='@n'/>=<xsl:value-of select='@v * 2'/>;</xsl:for-each>"
    "</xsl:template></xsl:stylesheet>";
const char kDocument[] = "<r><s n='a' v='1'/><s n='b' v='21'/></r>";
const char kOutput[] = "a=2;b=42;";

// What a call left on the stack, as one line: the output, or "nil|code|message".
std::string call(lua_State *L, const TempFile &styleSheet, const TempFile &document)
{
    const int pushed = Vexo_xslTransform(L, reinterpret_cast<const VexoChar *>(styleSheet.path16().c_str()),
                                         reinterpret_cast<const VexoChar *>(document.path16().c_str()));
    const std::string line = pushed == 1   ? lua_tostring(L, -1)
                             : pushed == 3 ? "nil|" + std::to_string(lua_tointeger(L, -2)) + "|" + lua_tostring(L, -1)
                                           : "pushed " + std::to_string(pushed);
    lua_settop(L, 0);
    return line;
}

struct LuaState {
    lua_State *L = luaL_newstate();
    ~LuaState() { lua_close(L); }
};

// The fixture files of every test: a style sheet, a document, and one of each broken.
struct Files {
    const TempFile sheet{kTableSheet, ".xsl"}, notXslt{"<r/>", ".xsl"};
    const TempFile document{kDocument, ".xml"}, malformed{"<r>\n<s></r>", ".xml"};
};

TEST(XslTransform, ThreadsWithTheirOwnLuaStatesGetTheirOwnResults)
{
    const Files f;
    const TempFile &sheet = f.sheet, &notXslt = f.notXslt, &document = f.document, &malformed = f.malformed;
    // Each thread alternates a success with its own kind of failure, so a message that
    // strayed into the other thread's call would show.
    struct Plan { const TempFile *styleSheet, *document; std::string want; };
    const std::vector<Plan> plans[2] = {
        {{&sheet, &document, kOutput},
         {&notXslt, &document, "nil|-2147024809|" + notXslt.path() + ": compilation error: file " + notXslt.path()
                                   + " line 1 element r; xsltParseStylesheetProcess : document is not a stylesheet\n"}},
        {{&sheet, &document, kOutput},
         {&sheet, &malformed, "nil|-76|" + malformed.path()
                                   + " (2, 8): Opening and ending tag mismatch: s line 2 and r\n"}},
    };
    constexpr int kRounds = 150;
    std::atomic<int> ready{0};
    std::string firstWrong[2];
    auto work = [&](int t) {
        LuaState state;
        ++ready;
        while (ready.load() < 2) {}
        for (int round = 0; round < kRounds && firstWrong[t].empty(); ++round) {
            const Plan &plan = plans[t][round % 2];
            const std::string got = call(state.L, *plan.styleSheet, *plan.document);
            if (got != plan.want)
                firstWrong[t] = "round " + std::to_string(round) + ": " + got;
        }
    };
    std::thread first(work, 0), second(work, 1);
    first.join();
    second.join();
    EXPECT_EQ(firstWrong[0] + firstWrong[1], "");
}

int gOuterCalls = 0;
void outerStructured(void *, xmlErrorPtr) { ++gOuterCalls; }
void outerGeneric(void *, const char *, ...) { ++gOuterCalls; }

TEST(XslTransform, LeavesHandlersAndLastErrorAsFoundAndPrintsNothing)
{
    const Files f;
    const TempFile messages("<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
                            "<xsl:template match='/'><xsl:message>note</xsl:message>"
                            "<xsl:value-of select=\"document('http://127.0.0.1:9/x')\"/></xsl:template>"
                            "</xsl:stylesheet>", ".xsl");
    LuaState state;
    // A last error of the thread's own, which the calls must keep.
    xmlFreeDoc(xmlReadMemory("<a>", 3, "own.xml", nullptr, XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    ASSERT_NE(xmlGetLastError(), nullptr);
    const int ownCode = xmlGetLastError()->code;
    int context = 0;
    xmlSetStructuredErrorFunc(&context, outerStructured);
    xmlSetGenericErrorFunc(&context, outerGeneric);
    const auto xsltHooks = [] {
        return std::make_tuple(xsltGenericError, xsltGenericErrorContext, xsltDocDefaultLoader);
    };
    const auto hooksBefore = xsltHooks();

    testing::internal::CaptureStderr();
    EXPECT_EQ(call(state.L, f.notXslt, f.document).substr(0, 4), "nil|");
    EXPECT_EQ(call(state.L, messages, f.document).substr(0, 4), "nil|");
    EXPECT_EQ(call(state.L, f.notXslt, f.malformed).substr(0, 4), "nil|");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(gOuterCalls, 0);
    void *const own = &context;
    EXPECT_EQ(std::make_tuple(xmlStructuredError, xmlStructuredErrorContext, xmlGenericError, xmlGenericErrorContext),
              std::make_tuple(&outerStructured, own, &outerGeneric, own));
    EXPECT_EQ(xsltHooks(), hooksBefore);
    ASSERT_NE(xmlGetLastError(), nullptr);
    EXPECT_EQ(xmlGetLastError()->code, ownCode);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    xmlSetGenericErrorFunc(nullptr, nullptr);
    xmlResetLastError();
}

size_t allocatedBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

TEST(XslTransform, TenThousandCallsDoNotGrowTheHeap)
{
    const Files f;
    LuaState state;
    auto round = [&](int i) {
        // Every tenth call fails, so the error paths are repeated too.
        const bool fail = i % 10 == 9;
        const std::string got = call(state.L, f.sheet, fail ? f.malformed : f.document);
        return fail ? got.substr(0, 4) == "nil|" : got == kOutput;
    };
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(round(i));
    lua_gc(state.L, LUA_GCCOLLECT, 0);
    const size_t before = allocatedBytes();
    int wrong = 0;
    for (int i = 0; i < 10000; ++i)
        wrong += round(i) ? 0 : 1;
    lua_gc(state.L, LUA_GCCOLLECT, 0);
    const size_t after = allocatedBytes();
    EXPECT_EQ(wrong, 0);
    // A leak of even one small block per call would add well over 100 KB.
    EXPECT_LT(after, before + 64 * 1024) << "before " << before << ", after " << after;
}

}  // namespace
