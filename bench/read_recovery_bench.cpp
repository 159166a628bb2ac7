// Tolerant reading of hostile files: files of 1,000 to 100,000 broken statements (DBC)
// or entries (LDF), each of which is skipped with one warning, beside a strict read of
// a valid file of as many statements. Lua's collector slows every read as the heap
// outgrows the caches, so each runs also with the collector stopped during the read
// (gc:0), where statements per second must stay flat: recovery neither loops nor goes
// quadratic. A corpus file shows what tolerant mode costs on a file that reads cleanly.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

#include <lua.hpp>

#include "read_recovery.h"
#include "vexo/io.h"

namespace {

// One broken statement of each kind the DBC reader skips: a frame, a signal of a good
// frame, a value list, an attribute definition, a comment.
const char *const kBrokenDbc[] = {
    "BO_ x\n",
    "BO_ 1 F: 8 A\n SG_ S : 0|8@1* (1,0) [0|1] \"\" B\n",
    "VAL_ 1 S 0 1;\n",
    "BA_DEF_ \"X\" FOO;\n",
    "CM_ BO_ 1 x;\n",
};

std::string brokenDbc(int statements)
{
    std::string text;
    for (int i = 0; i < statements; ++i)
        text += kBrokenDbc[i % 5];
    return text;
}

// Signals and frames of which every one has a broken entry: a signal without its
// initial value, a frame whose signal instance has no offset.
std::string brokenLdf(int entries)
{
    std::string text =
        "LIN_description_file;\nLIN_protocol_version = \"2.1\";\nLIN_language_version = \"2.1\";\n"
        "LIN_speed = 19.2 kbps;\nNodes { Master: M, 5 ms, 0.1 ms; Slaves: S; }\nSignals {\n";
    for (int i = 0; i < entries / 2; ++i)
        text += "  S" + std::to_string(i) + ": 8, x, M;\n";
    text += "}\nFrames {\n";
    for (int i = 0; i < entries - entries / 2; ++i)
        text += "  F" + std::to_string(i) + ": 1, M { S; }\n";
    return text + "}\nNode_attributes { }\nSchedule_tables { }\n";
}

class TempText {
public:
    explicit TempText(const std::string &text)
    {
        const char *dir = std::getenv("TMPDIR");
        path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/vexo_bench_XXXXXX";
        const int fd = mkstemp(path_.data());
        ok_ = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (fd >= 0)
            ::close(fd);
    }
    ~TempText() { std::remove(path_.c_str()); }
    bool ok() const { return ok_; }
    std::u16string path16() const { return std::u16string(path_.begin(), path_.end()); }

private:
    std::string path_;
    bool ok_ = false;
};

using Reader = int (*)(lua_State *, const VexoChar *, uint32_t);

// Times reads of text; with collect false the collector is stopped while a read runs
// and the garbage is collected between reads, untimed.
void timeReads(benchmark::State &state, Reader read, uint32_t flags, const std::string &text, int statements,
               int warnings)
{
    const bool collect = state.range(1) != 0;
    const TempText file(text);
    if (!file.ok()) {
        state.SkipWithError("cannot write the file");
        return;
    }
    const std::u16string path = file.path16();
    lua_State *L = luaL_newstate();
    const int count = read(L, path.c_str(), flags);
    // Past the list's limit, one closing warning stands for the rest.
    const int listed = warnings <= vexo::io::kListedWarnings ? warnings : vexo::io::kListedWarnings + 1;
    if (!lua_istable(L, 1) || count != (flags != 0 ? 2 : 1) ||
        (flags != 0 && static_cast<int>(lua_objlen(L, 2)) != listed)) {
        state.SkipWithError("not the table and one warning per broken statement");
        lua_close(L);
        return;
    }
    lua_settop(L, 0);
    for (auto _ : state) {
        if (!collect)
            lua_gc(L, LUA_GCSTOP, 0);
        benchmark::DoNotOptimize(read(L, path.c_str(), flags));
        state.PauseTiming();
        lua_settop(L, 0);
        lua_gc(L, LUA_GCRESTART, 0);
        lua_gc(L, LUA_GCCOLLECT, 0);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * statements);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
    lua_close(L);
}

void sizes(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"statements", "gc"})->Unit(benchmark::kMillisecond);
    for (int gc : {1, 0}) {
        for (int n : {1000, 10000, 100000})
            b->Args({n, gc});
    }
}

void BM_TolerantDbcBrokenStatements(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    timeReads(state, Vexo_importRawDBCEx, VEXO_IMPORT_TOLERANT, brokenDbc(n), n, n);
}
BENCHMARK(BM_TolerantDbcBrokenStatements)->Apply(sizes);

// The baseline: as many valid frame statements, read strictly.
void BM_StrictDbcValidStatements(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    std::string text;
    for (int i = 0; i < n; ++i)
        text += "BO_ " + std::to_string(i) + " F: 8 A\n";
    timeReads(state, Vexo_importRawDBCEx, 0, text, n, 0);
}
BENCHMARK(BM_StrictDbcValidStatements)->Apply(sizes);

void BM_TolerantLdfBrokenEntries(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    timeReads(state, Vexo_importRawLDFEx, VEXO_IMPORT_TOLERANT, brokenLdf(n), n, n);
}
BENCHMARK(BM_TolerantLdfBrokenEntries)->Apply(sizes);

// A large corpus file that reads cleanly, strictly (flags 0) and tolerantly.
void BM_ReadCleanDbc(benchmark::State &state)
{
    const uint32_t flags = static_cast<uint32_t>(state.range(0));
    const std::string name = std::string(VEXO_CORPUS_DIR) + "/dbc/opendbc__gm_global_a_lowspeed_1818125.dbc";
    const std::u16string path(name.begin(), name.end());
    lua_State *L = luaL_newstate();
    const int count = Vexo_importRawDBCEx(L, path.c_str(), flags);
    if (count != (flags != 0 ? 2 : 1) || !lua_istable(L, 1) || lua_objlen(L, 1) < 367) {
        state.SkipWithError("corpus file missing or not read");
        lua_close(L);
        return;
    }
    lua_settop(L, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Vexo_importRawDBCEx(L, path.c_str(), flags));
        lua_settop(L, 0);
    }
    lua_close(L);
}
BENCHMARK(BM_ReadCleanDbc)->ArgName("tolerant")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
