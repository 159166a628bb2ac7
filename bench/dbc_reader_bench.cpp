// Reading large corpus DBC files into the Lua table, and tokenizing them alone, so
// the parser's and Lua's share of the time shows beside the tokenizer's.
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <string>

#include <lua.hpp>

#include "dbc_lexer.h"
#include "vexo/io.h"

namespace {

struct CorpusFile {
    const char *name;
    // What one read must give before it is timed: the signal count of a file that
    // reads, or the message of one that the reader rejects part-way.
    int signals;
    const char *error;
};

const CorpusFile kGmLowspeed = {"opendbc__gm_global_a_lowspeed_1818125.dbc", 3210, nullptr};
// Fails at line 11,313 of 12,717 (a negative value description), so nearly all of
// the file is read before the error.
const CorpusFile kFordBase = {"opendbc__ford_lincoln_base_pt.dbc", 0,
                              "DBC-Import: (11313, 29): ';' expected but found '-1'"};
const CorpusFile kModel3 = {"ecubus__Model3CAN.dbc", 2752, nullptr};

std::string corpusPath(const CorpusFile &file)
{
    return std::string(VEXO_CORPUS_DIR) + "/dbc/" + file.name;
}

std::u16string toU16(const std::string &ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

int64_t fileSize(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

int countSignals(lua_State *L)
{
    int signals = 0;
    for (int i = 1;; ++i) {
        lua_rawgeti(L, -1, i);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            return signals;
        }
        lua_getfield(L, -1, "tag");
        if (std::string(lua_tostring(L, -1)) == "frame")
            signals += static_cast<int>(lua_objlen(L, -2));
        lua_pop(L, 2);
    }
}

// Empty when one read gives what the file entry says, else what went wrong.
std::string checkRead(lua_State *L, const std::u16string &path, const CorpusFile &file)
{
    const int count = Vexo_importRawDBC(L, path.c_str());
    std::string problem;
    if (file.error == nullptr) {
        if (count != 1 || !lua_istable(L, -1))
            problem = std::string("read failed: ") + (lua_isstring(L, -1) ? lua_tostring(L, -1) : "?");
        else if (countSignals(L) != file.signals)
            problem = "wrong signal count " + std::to_string(countSignals(L));
    } else if (count != 2 || !lua_isstring(L, -1) || std::string(lua_tostring(L, -1)) != file.error) {
        problem = "unexpected result instead of the known error";
    }
    lua_settop(L, 0);
    return problem;
}

void BM_ImportRawDbc(benchmark::State &state, const CorpusFile &file)
{
    const std::string path = corpusPath(file);
    const int64_t size = fileSize(path);
    if (size < 0) {
        state.SkipWithError("corpus file missing");
        return;
    }
    const std::u16string path16 = toU16(path);
    lua_State *L = luaL_newstate();
    const std::string problem = checkRead(L, path16, file);
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        lua_close(L);
        return;
    }
    for (auto _ : state) {
        const int count = Vexo_importRawDBC(L, path16.c_str());
        benchmark::DoNotOptimize(count);
        lua_settop(L, 0);
    }
    state.SetBytesProcessed(state.iterations() * size);
    lua_close(L);
}

void BM_TokenizeDbc(benchmark::State &state, const CorpusFile &file)
{
    const std::string path = corpusPath(file);
    const int64_t size = fileSize(path);
    if (size < 0) {
        state.SkipWithError("corpus file missing");
        return;
    }
    const std::u16string path16 = toU16(path);
    int64_t tokens = 0;
    for (auto _ : state) {
        vexo::io::DbcLexer *lexer = nullptr;
        if (vexo::io::createLexer(path16.c_str(), &lexer) != S_OK) {
            state.SkipWithError("cannot open");
            return;
        }
        while (vexo::io::nextToken(lexer) != vexo::io::TOK_EOF)
            ++tokens;
        vexo::io::destroyLexer(lexer);
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.SetItemsProcessed(tokens);
}

BENCHMARK_CAPTURE(BM_ImportRawDbc, gm_lowspeed_187KB, kGmLowspeed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportRawDbc, ford_base_pt_807KB, kFordBase)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportRawDbc, model3_318KB, kModel3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TokenizeDbc, gm_lowspeed_187KB, kGmLowspeed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TokenizeDbc, ford_base_pt_807KB, kFordBase)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
