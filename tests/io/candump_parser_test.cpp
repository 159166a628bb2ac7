// Vexo_parseCandump over blocks: what each kind of line gives, where a call stops (no
// room, an unterminated last line) and how it goes on, the interface name table.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "vexo/candump.h"
#include "vexo/constants.h"

namespace vexo::io {
namespace {

// The data buffer stays with the frames, which point into it.
struct Parsed {
    HRESULT hr; VexoLogCount count; std::vector<VexoFrame> frames; std::vector<VexoLogLine> lines;
    std::vector<uint8_t> data;
};

Parsed parse(const std::string &text, uint32_t flags, uint32_t capacity = 16, uint32_t dataCapacity = 1024,
             VexoLogBuses *buses = nullptr)
{
    Parsed p{S_OK, {}, std::vector<VexoFrame>(capacity), std::vector<VexoLogLine>(capacity),
             std::vector<uint8_t>(dataCapacity)};
    p.hr = Vexo_parseCandump(text.data(), text.size(), flags, p.frames.data(), capacity, p.lines.data(),
                             p.data.data(), dataCapacity, buses, &p.count);
    return p;
}

TEST(CandumpParser, LinesOfEveryKind)
{
    struct Case { const char *line; uint32_t frames, remote, errors, blank, garbage, identifier, flags, length, log; };
    const Case cases[] = {
        {"(1.5) can0 123#DEADBEEF", 1, 0, 0, 0, 0, 0x123, 0, 4, 0},
        {"(1.5) can0 1F334455#00 R", 1, 0, 0, 0, 0, 0x1F334455, Q3_FLAG_CANEXTENDED, 1, 0},
        {"(1.5) can0 123##3" "0011", 1, 0, 0, 0, 0, 0x123, 0, 2, VEXO_LOG_FD | VEXO_LOG_BRS | VEXO_LOG_ESI},
        {"  can1  123   [12]  00 01 02 03 04 05 06 07 08 09 0A 0B", 1, 0, 0, 0, 0, 0x123, 0, 12, VEXO_LOG_FD},
        {"(1.5) can0 123#R", 0, 1, 0, 0, 0, 0, 0, 0, 0}, {"can0  123   [2]  remote request", 0, 1, 0, 0, 0, 0, 0, 0, 0},
        {"(1.5) can0 20000004#0000000000000000", 0, 0, 1, 0, 0, 0, 0, 0, 0}, {" \t\r", 0, 0, 0, 1, 0, 0, 0, 0, 0},
        {"(1.5) can0 800#00", 0, 0, 0, 0, 1, 0, 0, 0, 0}, {"(1.5) can0 123#0", 0, 0, 0, 0, 1, 0, 0, 0, 0},
        {"(1.5) can0 123#000000000000000000", 0, 0, 0, 0, 1, 0, 0, 0, 0},
        {"(x) can0 123#00", 0, 0, 0, 0, 1, 0, 0, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.line);
        const Parsed p = parse(std::string(c.line) + "\n", 0);
        ASSERT_EQ(p.hr, S_OK);
        EXPECT_EQ(p.count.lines, 1u);
        using V = std::vector<uint32_t>;
        EXPECT_EQ(V({p.count.frames, p.count.remote, p.count.errors, p.count.blank, p.count.garbage}),
                  V({c.frames, c.remote, c.errors, c.blank, c.garbage}));
        EXPECT_EQ(p.count.firstGarbage, c.garbage ? 0u : 0xFFFFFFFFu);
        if (c.frames == 1) {
            EXPECT_EQ(V({p.frames[0].identifier, p.frames[0].flags, p.frames[0].length, p.lines[0].flags}),
                      V({c.identifier, c.flags, c.length, c.log}));
        }
    }
}

TEST(CandumpParser, WhereACallStopsAndGoesOn)
{
    const std::string text = "(1.25) can0 100#01\n\nnoise\n(2) vcan9 101#0203\n(3) can0 102#04";
    // The result, bytes taken and frames given of a call.
    const auto outcome = [](const Parsed &p) { return std::make_tuple(p.hr, p.count.bytes, p.count.frames); };
    // Without VEXO_LOG_FINAL the unterminated last line stays for the next call.
    Parsed p = parse(text, 0);
    EXPECT_EQ(outcome(p), std::make_tuple(S_OK, text.rfind('\n') + 1, 2u));
    EXPECT_EQ(p.count.firstGarbage, 2u);
    EXPECT_EQ(p.lines[1].line, 3u);
    EXPECT_EQ(text.substr(p.lines[1].busOffset, p.lines[1].busLength), "vcan9");
    EXPECT_EQ(text.substr(p.lines[0].stampOffset, p.lines[0].stampLength), "1.25");
    EXPECT_EQ(p.lines[0].timestamp, 1.25);
    EXPECT_EQ(p.frames[1].data[1], 0x03);
    EXPECT_EQ(outcome(parse(text, VEXO_LOG_FINAL)), std::make_tuple(S_OK, text.size(), 3u));
    // Room for one frame, or for two data bytes: S_FALSE after the frames that fit.
    EXPECT_EQ(outcome(parse(text, VEXO_LOG_FINAL, 1)), std::make_tuple(S_FALSE, text.find("(2)"), 1u));
    EXPECT_EQ(outcome(parse(text, VEXO_LOG_FINAL, 16, 2)), std::make_tuple(S_FALSE, text.find("(2)"), 1u));
    // A line without a timestamp gives NaN.
    p = parse("can0 100#01\n", 0);
    EXPECT_TRUE(std::isnan(p.lines[0].timestamp));
    EXPECT_EQ(p.lines[0].stampLength, 0u);
}

TEST(CandumpParser, InterfaceNamesAreNumberedUntilTheTableIsFull)
{
    VexoLogBuses buses{};
    std::string text;
    for (int i = 0; i <= VEXO_LOG_MAX_BUSES; ++i)
        text += "(1) can" + std::to_string(i) + " 100#01\n(1) can0 100#01\n";
    const Parsed p = parse(text, 0, 2 * VEXO_LOG_MAX_BUSES + 2, 1024, &buses);
    ASSERT_EQ(p.count.frames, 2u * VEXO_LOG_MAX_BUSES + 2);
    EXPECT_EQ(buses.count, static_cast<uint32_t>(VEXO_LOG_MAX_BUSES));
    EXPECT_STREQ(buses.names[5], "can5");
    EXPECT_EQ(std::make_tuple(p.lines[10].bus, p.lines[11].bus, p.lines[2 * VEXO_LOG_MAX_BUSES].bus),
              std::make_tuple(5u, 0u, 0xFFFFFFFFu));
}

TEST(CandumpParser, RefusesBadArguments)
{
    VexoLogCount count{};
    VexoFrame frame{};
    EXPECT_EQ(Vexo_parseCandump("x", 1, 0, &frame, 1, nullptr, nullptr, 0, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_parseCandump(nullptr, 1, 0, &frame, 1, nullptr, nullptr, 0, nullptr, &count), E_INVALIDARG);
    EXPECT_EQ(Vexo_parseCandump("x", 1, 0, nullptr, 1, nullptr, nullptr, 0, nullptr, &count), E_INVALIDARG);
    EXPECT_EQ(Vexo_parseCandump("x", 1ull << 32, 0, &frame, 1, nullptr, nullptr, 0, nullptr, &count), E_INVALIDARG);
    EXPECT_EQ(Vexo_parseCandump(nullptr, 0, 0, nullptr, 0, nullptr, nullptr, 0, nullptr, &count), S_OK);
}

}  // namespace
}  // namespace vexo::io
