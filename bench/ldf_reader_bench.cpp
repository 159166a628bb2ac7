// Reading the largest corpus LDF files into the Lua table, and tokenizing them alone,
// so the parser's and Lua's share of the time shows beside the tokenizer's.
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <string>

#include <lua.hpp>

#include "ldf_lexer.h"
#include "vexo/io.h"

namespace {

struct CorpusFile {
    const char *name;
    int signals;  // entries of the "signals" element, checked once before timing
};

const CorpusFile kJ3068 = {"saej3068__J3068-2.ldf", 138};
const CorpusFile kBydHtSz = {"ecubus__BYD_HT_SZ.ldf", 46};

std::string corpusPath(const CorpusFile &file)
{
    return std::string(VEXO_CORPUS_DIR) + "/ldf/" + file.name;
}

int64_t fileSize(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

// The entries of the "signals" element of the table on top of the stack, or -1.
int countSignals(lua_State *L)
{
    for (int i = 1;; ++i) {
        lua_rawgeti(L, -1, i);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            return -1;
        }
        lua_getfield(L, -1, "tag");
        const bool signals = std::string(lua_tostring(L, -1)) == "signals";
        const int n = static_cast<int>(lua_objlen(L, -2));
        lua_pop(L, 2);
        if (signals)
            return n;
    }
}

void BM_ImportRawLdf(benchmark::State &state, const CorpusFile &file)
{
    const std::string path = corpusPath(file);
    const int64_t size = fileSize(path);
    if (size < 0) {
        state.SkipWithError("corpus file missing");
        return;
    }
    const std::u16string path16(path.begin(), path.end());
    lua_State *L = luaL_newstate();
    const int count = Vexo_importRawLDF(L, path16.c_str());
    if (count != 1 || !lua_istable(L, -1) || countSignals(L) != file.signals) {
        state.SkipWithError("the file does not read as expected");
        lua_close(L);
        return;
    }
    lua_settop(L, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Vexo_importRawLDF(L, path16.c_str()));
        lua_settop(L, 0);
    }
    state.SetBytesProcessed(state.iterations() * size);
    lua_close(L);
}

void BM_TokenizeLdf(benchmark::State &state, const CorpusFile &file)
{
    const std::string path = corpusPath(file);
    const int64_t size = fileSize(path);
    if (size < 0) {
        state.SkipWithError("corpus file missing");
        return;
    }
    const std::u16string path16(path.begin(), path.end());
    int64_t tokens = 0;
    for (auto _ : state) {
        vexo::io::LdfLexer *lexer = nullptr;
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

BENCHMARK_CAPTURE(BM_ImportRawLdf, j3068_94KB, kJ3068)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ImportRawLdf, byd_30KB, kBydHtSz)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_TokenizeLdf, j3068_94KB, kJ3068)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
