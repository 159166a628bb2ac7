// Vexo_importFile on large corpus DBC files beside the raw read of the same file, so
// that the model building's share shows: the raw read makes the Lua table the import
// script walks; the import reads it and builds the model through the Lua module. The
// XML formats: the larger corpus ARXML files and a generated AUTOSAR 4 system of about
// 10 MB (indented like tools write them), from the style sheet to the model.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <lua.hpp>

#include "vexo/vexo.h"

namespace {

struct CorpusFile {
    const char *name;  // below the corpus folder
    int frames;        // what a correct import makes, checked before timing
};

const CorpusFile kGmLowspeed = {"dbc/opendbc__gm_global_a_lowspeed_1818125.dbc", 367};
const CorpusFile kCadillac = {"dbc/opendbc__cadillac_ct6_object.dbc", 294};
const CorpusFile kArxmlTest = {"arxml/canmatrix__test.arxml", 28};
const CorpusFile kArxmlContainer = {"arxml/canmatrix__ARXMLContainerTest.arxml", 5};

std::u16string widen(const std::string &path) { return std::u16string(path.begin(), path.end()); }

std::u16string corpusPath(const CorpusFile &file)
{
    return widen(std::string(VEXO_CORPUS_DIR) + "/" + file.name);
}

int countFrames(VexoNode *db)
{
    VexoEnumerator *frames = nullptr;
    uint32_t count = 0;
    if (Vexo_enumFrames(db, &frames) != S_OK)
        return -1;
    Vexo_enumeratorGetCount(frames, &count);
    Vexo_enumeratorDestroy(frames);
    return static_cast<int>(count);
}

void importPath(benchmark::State &state, const std::u16string &path, int wantFrames)
{
    VexoNode *db = nullptr;
    Vexo_create(u"bench", &db);
    const HRESULT first = Vexo_importFile(db, nullptr, path.c_str(), u"", nullptr, nullptr);
    const int frames = countFrames(db);
    Vexo_destroy(db);
    if (first != S_OK || frames != wantFrames) {
        state.SkipWithError("file missing or imported wrongly");
        return;
    }
    for (auto _ : state) {
        Vexo_create(u"bench", &db);
        benchmark::DoNotOptimize(Vexo_importFile(db, nullptr, path.c_str(), u"", nullptr, nullptr));
        state.PauseTiming();
        Vexo_destroy(db);
        state.ResumeTiming();
    }
}

void BM_ImportFile(benchmark::State &state, CorpusFile file) { importPath(state, corpusPath(file), file.frames); }

// An indenting XML writer for the generated ARXML.
class XmlWriter {
public:
    explicit XmlWriter(std::FILE *out) : out_(out) {}
    void open(const char *tag)
    {
        indent();
        std::fprintf(out_, "<%s>\n", tag);
        ++depth_;
    }
    void close(const char *tag)
    {
        --depth_;
        indent();
        std::fprintf(out_, "</%s>\n", tag);
    }
    void leaf(const char *tag, const std::string &text, const char *dest = nullptr)
    {
        indent();
        if (dest != nullptr)
            std::fprintf(out_, "<%s DEST=\"%s\">%s</%s>\n", tag, dest, text.c_str(), tag);
        else
            std::fprintf(out_, "<%s>%s</%s>\n", tag, text.c_str(), tag);
    }
    void leafWithAttribute(const char *tag, const char *attribute, const std::string &text)
    {
        indent();
        std::fprintf(out_, "<%s %s>%s</%s>\n", tag, attribute, text.c_str(), tag);
    }
    void packageStart(const char *name)
    {
        open("AR-PACKAGE");
        leaf("SHORT-NAME", name);
        open("ELEMENTS");
    }
    void packageEnd()
    {
        close("ELEMENTS");
        close("AR-PACKAGE");
    }

private:
    void indent()
    {
        for (int i = 0; i < depth_; ++i)
            std::fputs("  ", out_);
    }
    std::FILE *out_;
    int depth_ = 0;
};

// An AUTOSAR 4 system: one CAN cluster, `frames` frames of 8 bytes, each with one PDU
// of 8 signals (every fourth PDU big-endian), I-signals with system signals, 500 compu
// methods (linear and text tables), 20 sending ECUs. 920 frames make about 10 MB. PDU
// timings and initial values are left to the corpus files, which have both.
void writeArxml(std::FILE *out, int frames)
{
    const int kSignals = 8;
    auto n = [](const char *prefix, int i) { return std::string(prefix) + std::to_string(i); };
    auto sig = [](int i, int k) { return "S" + std::to_string(i) + "_" + std::to_string(k); };
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", out);
    std::fputs("<AUTOSAR xmlns=\"http://autosar.org/schema/r4.0\">\n", out);
    XmlWriter w(out);
    w.open("AR-PACKAGES");
    w.packageStart("Cluster");
    w.open("CAN-CLUSTER");
    w.leaf("SHORT-NAME", "Body");
    w.open("CAN-CLUSTER-VARIANTS");
    w.open("CAN-CLUSTER-CONDITIONAL");
    w.leaf("BAUDRATE", "500000");
    w.open("PHYSICAL-CHANNELS");
    w.open("CAN-PHYSICAL-CHANNEL");
    w.leaf("SHORT-NAME", "Ch");
    w.open("FRAME-TRIGGERINGS");
    for (int i = 0; i < frames; ++i) {
        w.open("CAN-FRAME-TRIGGERING");
        w.leaf("SHORT-NAME", n("FT", i));
        w.open("FRAME-PORT-REFS");
        w.leaf("FRAME-PORT-REF", "/ECU/" + n("E", i % 20) + "/Conn/" + n("FP", i), "FRAME-PORT");
        w.close("FRAME-PORT-REFS");
        w.leaf("FRAME-REF", "/Frames/" + n("F", i), "CAN-FRAME");
        w.open("PDU-TRIGGERINGS");
        w.open("PDU-TRIGGERING-REF-CONDITIONAL");
        w.leaf("PDU-TRIGGERING-REF", "/Cluster/Body/Ch/" + n("PT", i), "PDU-TRIGGERING");
        w.close("PDU-TRIGGERING-REF-CONDITIONAL");
        w.close("PDU-TRIGGERINGS");
        w.leaf("CAN-ADDRESSING-MODE", i % 3 == 0 ? "EXTENDED" : "STANDARD");
        w.leaf("IDENTIFIER", std::to_string(i % 3 == 0 ? 0x18000000 + i : i % 2000));
        w.close("CAN-FRAME-TRIGGERING");
    }
    w.close("FRAME-TRIGGERINGS");
    w.open("PDU-TRIGGERINGS");
    for (int i = 0; i < frames; ++i) {
        w.open("PDU-TRIGGERING");
        w.leaf("SHORT-NAME", n("PT", i));
        w.leaf("I-PDU-REF", "/Pdus/" + n("P", i), "I-SIGNAL-I-PDU");
        w.close("PDU-TRIGGERING");
    }
    w.close("PDU-TRIGGERINGS");
    w.close("CAN-PHYSICAL-CHANNEL");
    w.close("PHYSICAL-CHANNELS");
    w.close("CAN-CLUSTER-CONDITIONAL");
    w.close("CAN-CLUSTER-VARIANTS");
    w.close("CAN-CLUSTER");
    w.packageEnd();

    w.packageStart("Frames");
    for (int i = 0; i < frames; ++i) {
        w.open("CAN-FRAME");
        w.leaf("SHORT-NAME", n("F", i));
        w.leaf("FRAME-LENGTH", "8");
        w.open("PDU-TO-FRAME-MAPPINGS");
        w.open("PDU-TO-FRAME-MAPPING");
        w.leaf("SHORT-NAME", "M");
        w.leaf("PACKING-BYTE-ORDER", "MOST-SIGNIFICANT-BYTE-LAST");
        w.leaf("PDU-REF", "/Pdus/" + n("P", i), "I-SIGNAL-I-PDU");
        w.leaf("START-POSITION", "0");
        w.close("PDU-TO-FRAME-MAPPING");
        w.close("PDU-TO-FRAME-MAPPINGS");
        w.close("CAN-FRAME");
    }
    w.packageEnd();

    w.packageStart("Pdus");
    for (int i = 0; i < frames; ++i) {
        const bool bigEndian = i % 4 == 0;
        w.open("I-SIGNAL-I-PDU");
        w.leaf("SHORT-NAME", n("P", i));
        w.leaf("LENGTH", "8");
        w.open("I-SIGNAL-TO-PDU-MAPPINGS");
        for (int k = 0; k < kSignals; ++k) {
            w.open("I-SIGNAL-TO-I-PDU-MAPPING");
            w.leaf("SHORT-NAME", n("m", k));
            w.leaf("I-SIGNAL-REF", "/Signals/" + sig(i, k), "I-SIGNAL");
            w.leaf("PACKING-BYTE-ORDER", bigEndian ? "MOST-SIGNIFICANT-BYTE-FIRST" : "MOST-SIGNIFICANT-BYTE-LAST");
            w.leaf("START-POSITION", std::to_string(bigEndian ? k * 8 + 7 : k * 8));
            w.leaf("TRANSFER-PROPERTY", "TRIGGERED");
            w.close("I-SIGNAL-TO-I-PDU-MAPPING");
        }
        w.close("I-SIGNAL-TO-PDU-MAPPINGS");
        w.close("I-SIGNAL-I-PDU");
    }
    w.packageEnd();

    w.packageStart("Signals");
    for (int i = 0; i < frames; ++i) {
        for (int k = 0; k < kSignals; ++k) {
            w.open("I-SIGNAL");
            w.leaf("SHORT-NAME", sig(i, k));
            w.leaf("LENGTH", "8");
            w.open("NETWORK-REPRESENTATION-PROPS");
            w.open("SW-DATA-DEF-PROPS-VARIANTS");
            w.open("SW-DATA-DEF-PROPS-CONDITIONAL");
            w.leaf("BASE-TYPE-REF", "/Types/U8", "SW-BASE-TYPE");
            w.leaf("COMPU-METHOD-REF", "/Compu/" + n("C", (i * kSignals + k) % 500), "COMPU-METHOD");
            w.close("SW-DATA-DEF-PROPS-CONDITIONAL");
            w.close("SW-DATA-DEF-PROPS-VARIANTS");
            w.close("NETWORK-REPRESENTATION-PROPS");
            w.leaf("SYSTEM-SIGNAL-REF", "/SysSignals/" + sig(i, k), "SYSTEM-SIGNAL");
            w.close("I-SIGNAL");
        }
    }
    w.packageEnd();

    w.packageStart("SysSignals");
    for (int i = 0; i < frames; ++i) {
        for (int k = 0; k < kSignals; ++k) {
            w.open("SYSTEM-SIGNAL");
            w.leaf("SHORT-NAME", sig(i, k));
            w.open("DESC");
            w.leafWithAttribute("L-2", "L=\"EN\"", "Signal " + std::to_string(k) + " of frame " + std::to_string(i));
            w.close("DESC");
            w.close("SYSTEM-SIGNAL");
        }
    }
    w.packageEnd();

    w.packageStart("Compu");
    for (int c = 0; c < 500; ++c) {
        w.open("COMPU-METHOD");
        w.leaf("SHORT-NAME", n("C", c));
        w.leaf("CATEGORY", c % 2 == 0 ? "LINEAR" : "TEXTTABLE");
        if (c % 2 == 0)
            w.leaf("UNIT-REF", "/Units/" + n("U", c % 10), "UNIT");
        w.open("COMPU-INTERNAL-TO-PHYS");
        w.open("COMPU-SCALES");
        for (int v = 0; v < (c % 2 == 0 ? 1 : 4); ++v) {
            w.open("COMPU-SCALE");
            if (c % 2 == 0) {
                w.open("COMPU-RATIONAL-COEFFS");
                w.open("COMPU-NUMERATOR");
                w.leaf("V", std::to_string(c));
                w.leaf("V", "0.5");
                w.close("COMPU-NUMERATOR");
                w.open("COMPU-DENOMINATOR");
                w.leaf("V", "1");
                w.close("COMPU-DENOMINATOR");
                w.close("COMPU-RATIONAL-COEFFS");
            } else {
                w.leaf("LOWER-LIMIT", std::to_string(v));
                w.leaf("UPPER-LIMIT", std::to_string(v));
                w.open("COMPU-CONST");
                w.leaf("VT", n("V", v));
                w.close("COMPU-CONST");
            }
            w.close("COMPU-SCALE");
        }
        w.close("COMPU-SCALES");
        w.close("COMPU-INTERNAL-TO-PHYS");
        w.close("COMPU-METHOD");
    }
    w.packageEnd();

    w.packageStart("Units");
    for (int u = 0; u < 10; ++u) {
        w.open("UNIT");
        w.leaf("SHORT-NAME", n("U", u));
        w.leaf("DISPLAY-NAME", n("unit", u));
        w.close("UNIT");
    }
    w.packageEnd();
    w.packageStart("Types");
    w.open("SW-BASE-TYPE");
    w.leaf("SHORT-NAME", "U8");
    w.leaf("BASE-TYPE-SIZE", "8");
    w.leaf("BASE-TYPE-ENCODING", "NONE");
    w.close("SW-BASE-TYPE");
    w.packageEnd();

    w.packageStart("ECU");
    for (int e = 0; e < 20; ++e) {
        w.open("ECU-INSTANCE");
        w.leaf("SHORT-NAME", n("E", e));
        w.open("CONNECTORS");
        w.open("CAN-COMMUNICATION-CONNECTOR");
        w.leaf("SHORT-NAME", "Conn");
        w.open("ECU-COMM-PORT-INSTANCES");
        for (int i = e; i < frames; i += 20) {
            w.open("FRAME-PORT");
            w.leaf("SHORT-NAME", n("FP", i));
            w.leaf("COMMUNICATION-DIRECTION", "OUT");
            w.close("FRAME-PORT");
        }
        w.close("ECU-COMM-PORT-INSTANCES");
        w.close("CAN-COMMUNICATION-CONNECTOR");
        w.close("CONNECTORS");
        w.close("ECU-INSTANCE");
    }
    w.packageEnd();
    w.close("AR-PACKAGES");
    std::fputs("</AUTOSAR>\n", out);
}

void BM_ImportGeneratedArxml(benchmark::State &state)
{
    const int frames = static_cast<int>(state.range(0));
    char path[] = "/tmp/vexo_bench_XXXXXX.arxml";
    const int fd = mkstemps(path, 6);
    std::FILE *out = fd < 0 ? nullptr : fdopen(fd, "w");
    if (out == nullptr) {
        state.SkipWithError("cannot write the generated file");
        return;
    }
    writeArxml(out, frames);
    const long bytes = std::ftell(out);
    std::fclose(out);
    state.counters["MB"] = static_cast<double>(bytes) / (1024.0 * 1024.0);
    importPath(state, widen(path), frames);
    std::remove(path);
}

void BM_RawRead(benchmark::State &state, CorpusFile file)
{
    const std::u16string path = corpusPath(file);
    lua_State *L = luaL_newstate();
    if (Vexo_importRawDBC(L, path.c_str()) != 1) {
        state.SkipWithError("corpus file missing");
        lua_close(L);
        return;
    }
    lua_settop(L, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Vexo_importRawDBC(L, path.c_str()));
        lua_settop(L, 0);
    }
    lua_close(L);
}

}  // namespace

BENCHMARK_CAPTURE(BM_ImportFile, gm_global_a_lowspeed_1818125, kGmLowspeed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportFile, cadillac_ct6_object, kCadillac)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportFile, arxml_test, kArxmlTest)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportFile, arxml_container, kArxmlContainer)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ImportGeneratedArxml)->Arg(920)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RawRead, gm_global_a_lowspeed_1818125, kGmLowspeed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RawRead, cadillac_ct6_object, kCadillac)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
