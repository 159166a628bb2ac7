// Reading large corpus DBC and LDF files into the reader's Lua table, and tokenizing
// them alone, so the parser's and Lua's share of the time shows beside the tokenizer's.
#include <benchmark/benchmark.h>

#include <sys/stat.h>

#include <string>

#include <lua.hpp>

#include "dbc_lexer.h"
#include "ldf_lexer.h"
#include "vexo/io.h"

namespace {

// The tokens of a file, or -1 when it cannot be opened.
template <class Lexer>
int64_t countTokens(const VexoChar *path)
{
    Lexer *lexer = nullptr;
    if (vexo::io::createLexer(path, &lexer) != S_OK)
        return -1;
    int64_t tokens = 0;
    while (vexo::io::nextToken(lexer) != vexo::io::TOK_EOF)
        ++tokens;
    vexo::io::destroyLexer(lexer);
    return tokens;
}

struct Format {
    const char *folder;                          // of the corpus
    int (*read)(lua_State *, const VexoChar *);  // the reader: pushes the table
    int64_t (*tokenize)(const VexoChar *);
    const char *countedTag;                      // elements whose entries count as signals
};

const Format kDbc = {"dbc", Vexo_importRawDBC, countTokens<vexo::io::DbcLexer>, "frame"};
const Format kLdf = {"ldf", Vexo_importRawLDF, countTokens<vexo::io::LdfLexer>, "signals"};

struct CorpusFile {
    const Format &format;
    const char *name;
    // What one read must give before it is timed: the signal count of a file that
    // reads, or the message of one that the reader rejects part-way.
    int signals;
    const char *error;
};

const CorpusFile kGmLowspeed = {kDbc, "opendbc__gm_global_a_lowspeed_1818125.dbc", 3210, nullptr};
// Fails at line 11,313 of 12,717 (a negative value description), so nearly all of
// the file is read before the error.
const CorpusFile kFordBase = {kDbc, "opendbc__ford_lincoln_base_pt.dbc", 0,
                              "DBC-Import: (11313, 29): ';' expected but found '-1'"};
const CorpusFile kModel3 = {kDbc, "ecubus__Model3CAN.dbc", 2752, nullptr};
const CorpusFile kJ3068 = {kLdf, "saej3068__J3068-2.ldf", 138, nullptr};
const CorpusFile kBydHtSz = {kLdf, "ecubus__BYD_HT_SZ.ldf", 46, nullptr};

// The file's path and size; false, with the benchmark skipped, when the corpus lacks it.
bool findFile(benchmark::State &state, const CorpusFile &file, std::u16string &path, int64_t &size)
{
    const std::string name = std::string(VEXO_CORPUS_DIR) + "/" + file.format.folder + "/" + file.name;
    struct stat info;
    if (stat(name.c_str(), &info) != 0) {
        state.SkipWithError("corpus file missing");
        return false;
    }
    path.assign(name.begin(), name.end());
    size = static_cast<int64_t>(info.st_size);
    return true;
}

// The entries of the elements tagged tag in the table on top of the stack, summed.
int countEntries(lua_State *L, const char *tag)
{
    int entries = 0;
    for (int i = 1;; ++i) {
        lua_rawgeti(L, -1, i);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            return entries;
        }
        lua_getfield(L, -1, "tag");
        if (std::string(lua_tostring(L, -1)) == tag)
            entries += static_cast<int>(lua_objlen(L, -2));
        lua_pop(L, 2);
    }
}

// Empty when one read gives what the file entry says, else what went wrong.
std::string checkRead(lua_State *L, const std::u16string &path, const CorpusFile &file)
{
    const int count = file.format.read(L, path.c_str());
    std::string problem;
    if (file.error == nullptr) {
        if (count != 1 || !lua_istable(L, -1))
            problem = std::string("read failed: ") + (lua_isstring(L, -1) ? lua_tostring(L, -1) : "?");
        else if (countEntries(L, file.format.countedTag) != file.signals)
            problem = "wrong signal count " + std::to_string(countEntries(L, file.format.countedTag));
    } else if (count != 2 || !lua_isstring(L, -1) || std::string(lua_tostring(L, -1)) != file.error) {
        problem = "unexpected result instead of the known error";
    }
    lua_settop(L, 0);
    return problem;
}

void BM_ImportRaw(benchmark::State &state, const CorpusFile &file)
{
    std::u16string path;
    int64_t size = 0;
    if (!findFile(state, file, path, size))
        return;
    lua_State *L = luaL_newstate();
    const std::string problem = checkRead(L, path, file);
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        lua_close(L);
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(file.format.read(L, path.c_str()));
        lua_settop(L, 0);
    }
    state.SetBytesProcessed(state.iterations() * size);
    lua_close(L);
}

void BM_Tokenize(benchmark::State &state, const CorpusFile &file)
{
    std::u16string path;
    int64_t size = 0;
    if (!findFile(state, file, path, size))
        return;
    int64_t tokens = 0;
    for (auto _ : state) {
        const int64_t counted = file.format.tokenize(path.c_str());
        if (counted < 0) {
            state.SkipWithError("cannot open");
            return;
        }
        tokens += counted;
    }
    state.SetBytesProcessed(state.iterations() * size);
    state.SetItemsProcessed(tokens);
}

BENCHMARK_CAPTURE(BM_ImportRaw, dbc_gm_lowspeed_187KB, kGmLowspeed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportRaw, dbc_ford_base_pt_807KB, kFordBase)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportRaw, dbc_model3_318KB, kModel3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ImportRaw, ldf_j3068_94KB, kJ3068)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_ImportRaw, ldf_byd_30KB, kBydHtSz)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Tokenize, dbc_gm_lowspeed_187KB, kGmLowspeed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tokenize, dbc_ford_base_pt_807KB, kFordBase)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Tokenize, ldf_j3068_94KB, kJ3068)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
