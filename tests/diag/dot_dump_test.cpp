// The DOT dump: each node once, after its links, in walk order (cycles and long chains too), labels and escapes for
// every kind of element, and refused arguments and unwritable files.
#include "dot_dump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "made.h"
#include "vexo/vexo.h"

namespace fs = std::filesystem;

namespace {

// A node's address as the dump prints it: "_%p" names a statement, bare hex labels a node without identifier.
std::string hexOf(const void *node)
{
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%" PRIxPTR, reinterpret_cast<uintptr_t>(node));
    return buffer;
}
std::string nameOf(const void *node) { return "_0x" + hexOf(node); }

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A file name in a scratch directory that is removed when the tests end.
fs::path scratch(const char *name)
{
    static const struct Dir {
        fs::path path = fs::temp_directory_path() / ("vexo_diag_" + std::to_string(getpid()));
        Dir() { fs::create_directories(path); }
        ~Dir() { fs::remove_all(path); }
    } dir;
    return dir.path / name;
}

std::u16string wide(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The labels of the node statements by node name; a node written twice has two.
std::map<std::string, std::vector<std::string>> labelsOf(const std::string &text)
{
    std::map<std::string, std::vector<std::string>> labels;
    for (const std::string &line : linesOf(text)) {
        const size_t at = line.find(" [label=\"");
        if (at != std::string::npos && line.size() > at + 12 && line.compare(line.size() - 3, 3, "\"];") == 0)
            labels[line.substr(0, at)].push_back(line.substr(at + 9, line.size() - at - 12));
    }
    return labels;
}

std::string edge(const void *from, const void *to, const char *colour)
{
    return nameOf(from) + " -> " + nameOf(to) + " [color=" + colour + "];";
}
std::string statement(const void *n, const std::string &label) { return nameOf(n) + " [label=\"" + label + "\"];"; }

const char *const kGroupNames[] = {"@clusters", "@ECUs", "@PDUs", "@frames", "@signals", "@codings", "@views"};

struct Db {
    VexoNode *db = nullptr, *collections = nullptr, *groups[7] = {};  // by kGroupNames
    Db()
    {
        EXPECT_EQ(Vexo_create(u"DB", &db), S_OK);
        EXPECT_EQ(Vexo_getDatabaseCollections(db, &collections), S_OK);
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(Vexo_findByElementId(db, wide(kGroupNames[i]).c_str(), &groups[i]), S_OK);
    }
    ~Db() { Vexo_destroy(db); }
    std::string dump(uint32_t language = 0x409, uint32_t fallback = 0x409) const
    {
        const fs::path path = scratch("dump.dot");
        EXPECT_EQ(Vexo_dumpDot(db, wide(path.string()).c_str(), language, fallback), S_OK);
        return readFile(path);
    }
};

TEST(DotDump, WritesEachNodeOnceAfterItsLinksInWalkOrderThroughCyclesAndLongChains)
{
    Db d;
    VexoNode *c = d.collections, **g = d.groups, *cluster = made(Vexo_createCluster, d.db, u"CAN1", 1u);
    VexoNode *channel = made(Vexo_createChannel, d.db, u"Ch1", cluster), *ecu = made(Vexo_createECU, d.db, u"E1");
    VexoNode *frame = made(Vexo_createFrame, d.db, u"F1", 8u);
    VexoNode *trig = made(Vexo_createIdentifierBasedTriggering, d.db, u"T1", 0x123u, 0u, frame, ecu, channel);
    // The frame is reached from the triggering first and from "@frames" later: written
    // once, with an edge for each link.
    std::vector<std::string> want = {
        "digraph sample { node[shape=record];", edge(g[0], c, "gray"), edge(cluster, g[0], "gray"),
        edge(channel, cluster, "gray"), statement(channel, "channel: Ch1 []"), edge(trig, channel, "green"),
        edge(frame, g[3], "gray"), statement(frame, "frame: F1 []\\nlength: 8"), edge(frame, trig, "orange"),
        edge(trig, frame, "blue"), statement(trig, "idtrig: T1 []\\nidentifier: 291\\nflags: 0x0"),
        edge(ecu, g[1], "gray"), statement(ecu, "group: E1 []"), edge(trig, ecu, "black"), edge(channel, trig, "black"),
        edge(cluster, channel, "cyan"), statement(cluster, "cluster: CAN1 [], type:1"), edge(g[0], cluster, "cyan"),
        statement(g[0], "group: @clusters []"), edge(c, g[0], "cyan")};
    for (int i = 1; i < 7; ++i) {
        want.push_back(edge(g[i], c, "gray"));
        if (i == 1 || i == 3)
            want.push_back(edge(g[i], i == 1 ? ecu : frame, "cyan"));
        want.push_back(statement(g[i], std::string("group: ") + kGroupNames[i] + " []"));
        want.push_back(edge(c, g[i], "cyan"));
    }
    want.push_back(statement(c, "database: " + hexOf(c) + " []"));
    want.push_back("}");
    const std::string text = d.dump();
    EXPECT_EQ(linesOf(text), want);
    EXPECT_EQ(text.back(), '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);

    VexoNode *view = made(Vexo_createElementGroup, d.db, u"V", nullptr, nullptr);
    VexoNode *a = made(Vexo_createElementReference, d.db, u"A", nullptr);
    ASSERT_EQ(Vexo_addViews(d.db, 1, &view), S_OK);
    VexoNode *b = made(Vexo_createElementReference, d.db, u"B", a);
    ASSERT_EQ(Vexo_setReference(a, b), S_OK);
    VexoNode *members[] = {a, a, b, made(Vexo_createElementReference, d.db, u"Back", d.collections)};
    ASSERT_EQ(Vexo_appendChildren(view, 4, members), S_OK);
    const std::string cyclic = d.dump();
    for (const auto &[name, labels] : labelsOf(cyclic))
        EXPECT_EQ(labels.size(), 1u) << name;
    const std::vector<std::string> lines = linesOf(cyclic);
    const std::pair<std::string, long> edges[] = {
        {edge(view, a, "cyan"), 2}, {edge(a, b, "blue"), 1}, {edge(b, a, "blue"), 1},
        {edge(members[3], d.collections, "blue"), 1}};
    for (const auto &[line, times] : edges)
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), times) << line;

    // A long reference chain is followed without recursing.
    constexpr int kLength = 100000;
    VexoNode *last = nullptr;
    for (int i = 0; i < kLength; ++i)
        ASSERT_EQ(Vexo_createElementReference(d.db, nullptr, last, &last), S_OK);
    ASSERT_EQ(Vexo_appendChildren(view, 1, &last), S_OK);
    EXPECT_EQ(labelsOf(d.dump()).size(), kLength + 17u);  // 4 nodes here, 5 above, 7 groups, the collections
}

// Label texts: controls, surrogates and cuts first; record separators, quotes, backslashes and non-ASCII text in the
// labels of every kind of element after that.
TEST(DotDump, EscapesAndLabelsEveryKindOfElementOnceAndRendersWithGraphviz)
{
    const VexoChar unpaired[] = {0xDC00, u'x', 0xD800, 0};
    struct Case { const char *what; std::u16string text; size_t limit; std::string want; } cases[] = {
        {"controls", u"a\nb\tc\rd", 100, R"(a\nb c d)"}, {"unpaired surrogates", unpaired, 100, "\uFFFDx\uFFFD"},
        {"cut in plain text", u"abcd", 3, "abc"}, {"escape that does not fit", u"ab|c", 3, "ab"},
        {"escape that just fits", u"a|bc", 3, R"(a\|)"}, {"pair that does not fit", u"a\U0001F600", 2, "a"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string out = "=";
        vexo::diag::appendLabelText(out, c.text.c_str(), c.limit);
        EXPECT_EQ(out, "=" + c.want);
    }

    Db d;
    VexoNode *db = d.db, *cl = made(Vexo_createCluster, db, u"CAN1", 1u);
    VexoNode *ch = made(Vexo_createChannel, db, u"CAN1_Ch", cl);
    VexoNode *ecu = made(Vexo_createECU, db, u"Gateway<1>"), *fr = made(Vexo_createFrame, db, u"Engine|Data", 8u);
    VexoNode *fr2 = made(Vexo_createFrame, db, u"MuxFrame", 8u);
    // An escape that would straddle the 2046-unit limit is left out with the rest.
    VexoNode *longId = made(Vexo_createFrame, db, (std::u16string(2045, u'y') + u"|z").c_str(), 1u);
    VexoNode *tId = made(Vexo_createIdentifierBasedTriggering, db, u"T_Engine", 0x1F0u, 1u, fr, ecu, ch);
    VexoNode *tMask = made(Vexo_createMaskedIdentifierTriggering, db, u"T_Diag", 0x7F0u, 0x700u, 0u, fr, nullptr, ch);
    VexoNode *tSlot = made(Vexo_createAbsolutelyScheduledTriggering, db, u"T_Slot", 3u, 0u, 1u, 0u, fr2, nullptr, ch);
    VexoNode *cyc = made(Vexo_createCyclicTiming, db, 100u, tId);
    VexoNode *evt = made(Vexo_createEventControlledTiming, db, 20u, tMask);
    VexoNode *pdu = made(Vexo_createSignalPDU, db, u"EnginePdu", 64u, nullptr);
    VexoNode *pduInst = made(Vexo_createPDUInstance, db, u"EnginePduInst", 0u, 0u, 0xFFFFFFFFu, pdu, fr);
    VexoNode *pduTrig = made(Vexo_createPDUTriggering, db, u"PT_Engine", pdu, ch);
    VexoNode *unit = made(Vexo_createUnitSpec, db, u"U_rpm", 0x409u, u"1/min");
    VexoNode *unitNone = made(Vexo_createUnitSpec, db, u"U_none", 0x409u, nullptr);
    VexoNode *coding = made(Vexo_createCoding, db, u"RPM_coding", 16u, 1u, unit);
    VexoNode *lin = made(Vexo_createLinearComputation, db, u"RPM_lin", 0.5, 10.0);
    VexoNode *mv = made(Vexo_createMappedValueComputation, db, u"MV", 2.5);
    VexoStringSlot *on = nullptr;
    ASSERT_EQ(Vexo_stringCreateSlot(db, 0x409, u"on", &on), S_OK);
    VexoNode *mt = made(Vexo_createMappedTextComputation, db, u"MT", on), *toPhysical[] = {lin, mv, mt};
    VexoNode *ident = made(Vexo_createIdentityComputation, db, u"Ident");
    VexoNode *sig = made(Vexo_createSignal, db, u"RPM", 0u, 0.0, 0.0, 8000.0, coding);
    VexoNode *sigInst = made(Vexo_createSignalInstance, db, u"RPM_inst", 1u, 7u, 63u, sig, pdu);
    VexoNode *mux = made(Vexo_createMultiplexedPDU, db, u"MuxPdu", 64u, 1u, 7u, 8u, 0u, nullptr);
    VexoNode *muxInst = made(Vexo_createPDUInstance, db, u"MuxInst", 0u, 0u, 0u, mux, fr2);
    VexoNode *part1 = made(Vexo_createMultiplexedPart, db, u"Part1", 1u, mux);
    VexoNode *partPdu = made(Vexo_createSignalPDU, db, u"Part1Pdu", 16u, part1);
    VexoNode *partS = made(Vexo_createMultiplexedPart, db, u"PartS", 0u, mux);
    VexoNode *view = made(Vexo_createElementGroup, db, u"View{A}", nullptr, nullptr);
    VexoNode *ref = made(Vexo_createElementReference, db, u"Ref", unitNone);
    for (HRESULT hr : {Vexo_setShortName(db, cl, u"Powertrain CAN"),
                       Vexo_setShortName(db, fr, u"Engine \"data\" {v2}"),
                       Vexo_setDisplayName(db, unit, 0x407, u"U/min"), Vexo_addRange(lin, 0, 100, 3),
                       Vexo_addRange(mv, -1, 1, 1), Vexo_addRange(mv, 5, 6.25, 2), Vexo_addRange(mt, 1, 1, 3),
                       Vexo_addInternalToPhysicalComputations(coding, 3, toPhysical),
                       Vexo_addPhysicalToInternalComputations(coding, 1, &ident),
                       Vexo_setShortName(db, sig, u"Drehzahl\n\u00d6l \u20ac \U0001F600 back\\slash"),
                       Vexo_addSegment(part1, 0, 8, 8), Vexo_addSegment(part1, 1, 24, 8),
                       Vexo_addDynamicParts(mux, 1, &part1), Vexo_setStaticPart(mux, partS),
                       Vexo_addViews(db, 1, &view), Vexo_appendChildren(view, 1, &ref)})
        ASSERT_EQ(hr, S_OK);

    // Dumped with German (0x407) asked for first.
    std::map<VexoNode *, std::string> want = {
        {cl, "cluster: CAN1 [Powertrain CAN], type:1"}, {ch, "channel: CAN1_Ch []"},
        {ecu, R"(group: Gateway\<1\> [])"}, {fr, R"(frame: Engine\|Data [Engine \"data\" \{v2\}]\nlength: 8)"},
        {fr2, R"(frame: MuxFrame []\nlength: 8)"}, {longId, "frame: " + std::string(2045, 'y') + R"( []\nlength: 1)"},
        {tId, R"(idtrig: T_Engine []\nidentifier: 496\nflags: 0x1)"},
        {tMask, R"(maskidtrig: T_Diag []\nmask: 2032\ncode: 1792\nflags: 0x0)"}, {tSlot, "abstrig: T_Slot []"},
        {cyc, "cyctiming: " + hexOf(cyc) + " []"}, {evt, "evctiming: " + hexOf(evt) + " []"},
        {pdu, R"(signalpdu: EnginePdu []\nbitlen: 64)"},
        {pduInst, R"(pduinst: EnginePduInst []\nbyteorder: i\nbitpos: 0\nupdatebitpos: -1)"},
        {pduTrig, "pdutrig: PT_Engine []"}, {unit, R"(unitspec: U_rpm []\ndisplayname: U/min)"},
        {unitNone, R"(unitspec: U_none []\ndisplayname: (null))"}, {coding, R"(coding: RPM_coding []\nbitlen: 16)"},
        {lin, R"(linearcompu: RPM_lin []\nflags: 3\nlower: 0.000000\nupper:100.000000\nscale: 0.500000)"
              R"(\noffset: 10.000000)"},
        {mv, R"(mvcompu: MV []\nflags: 1\nlower: -1.000000\nupper:1.000000\nflags: 2\nlower: 5.000000)"
             R"(\nupper:6.250000)"},
        {mt, R"(mtcompu: MT []\nflags: 3\nlower: 1.000000\nupper:1.000000)"}, {ident, "identcompu: Ident []"},
        {sig, "sig: RPM [Drehzahl\\n\u00d6l \u20ac \U0001F600 back\\\\slash]"},
        {sigInst, R"(siginst: RPM_inst []\nbyteorder: m\nbitpos: 7\nupdatebitpos: 63)"},
        {mux, R"(muxpdu: MuxPdu []\npos: 7:8 m\nbitlen: 64)"},
        {muxInst, R"(pduinst: MuxInst []\nbyteorder: i\nbitpos: 0\nupdatebitpos: 0)"},
        {part1, R"(muxpart: Part1 []\nswitchcode: 1\nsegments: 8 8 i, 24 8 m, )"},
        {partS, R"(muxpart: PartS []\nswitchcode: 0\nsegments: )"}, {partPdu, R"(signalpdu: Part1Pdu []\nbitlen: 16)"},
        {view, R"(group: View\{A\} [])"}, {ref, "ref: Ref []"},
        {d.collections, "database: " + hexOf(d.collections) + " []"},
    };
    for (int i = 0; i < 7; ++i)
        want[d.groups[i]] = std::string("group: ") + kGroupNames[i] + " []";
    const fs::path path = scratch("model.dot"), errors = scratch("model.err");
    ASSERT_EQ(Vexo_dumpDot(db, wide(path.string()).c_str(), 0x407, 0x409), S_OK);
    const auto labels = labelsOf(readFile(path));
    EXPECT_EQ(labels.size(), want.size()) << "a statement for each element and nothing else";
    for (const auto &[node, label] : want) {
        SCOPED_TRACE(label);
        EXPECT_EQ(labels.count(nameOf(node)) ? labels.at(nameOf(node)) : std::vector<std::string>{},
                  std::vector<std::string>{label});
    }
    // The fallback language finds the German name too; bits above the language are ignored.
    EXPECT_EQ(labelsOf(d.dump(0x40C, 0x10407)).at(nameOf(unit)), std::vector<std::string>{want[unit]});
    if (std::system("command -v dot >/dev/null 2>&1") != 0) {
        std::puts("Graphviz dot is not on PATH: the rendering check is skipped");
        return;
    }
    const std::string command = "dot -Tsvg '" + path.string() + "' -o /dev/null 2>'" + errors.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(readFile(errors), "") << "dot warned";
}

TEST(DotDump, RefusesBadArgumentsAndUnwritableFiles)
{
    Db d;
    VexoNode *frame = made(Vexo_createFrame, d.db, u"F", 8u);
    const fs::path good = scratch("never.dot");
    const std::u16string goodPath = wide(good.string()), missing = wide(scratch("no/such.dot").string());
    // Which handles count as a database is core's one check (its tests try every kind); here the plumbing.
    struct Case { const char *what; VexoNode *db; const VexoChar *path; HRESULT want; } cases[] = {
        {"null database", nullptr, goodPath.c_str(), E_INVALIDARG}, {"frame", frame, goodPath.c_str(), E_INVALIDARG},
        {"null path", d.db, nullptr, E_INVALIDARG}, {"missing directory", d.db, missing.c_str(), E_UNEXPECTED},
        {"every write fails", d.db, fs::exists("/dev/full") ? u"/dev/full" : u"", E_UNEXPECTED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Vexo_dumpDot(c.db, c.path, 0, 0), c.want);
        EXPECT_FALSE(fs::exists(good));
    }
    EXPECT_FALSE(fs::exists(scratch("no")));

    std::ofstream(good) << std::string(1 << 20, 'x');
    ASSERT_EQ(Vexo_dumpDot(d.db, goodPath.c_str(), 0, 0), S_OK);
    const std::string text = readFile(good);
    EXPECT_EQ(text.rfind("digraph sample { node[shape=record];\n", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 2), "}\n") << "an existing file is truncated";
}

}  // namespace
