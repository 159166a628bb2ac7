// Vexo_importFile on large corpus DBC files beside the raw read of the same file, so
// that the model building's share shows: the raw read makes the Lua table the import
// script walks; the import reads it and builds the model through the Lua module.
#include <benchmark/benchmark.h>

#include <string>

#include <lua.hpp>

#include "vexo/vexo.h"

namespace {

struct CorpusFile {
    const char *name;
    int frames;  // what a correct import makes, checked before timing
};

const CorpusFile kGmLowspeed = {"opendbc__gm_global_a_lowspeed_1818125.dbc", 367};
const CorpusFile kCadillac = {"opendbc__cadillac_ct6_object.dbc", 294};

std::u16string corpusPath(const CorpusFile &file)
{
    const std::string path = std::string(VEXO_CORPUS_DIR) + "/dbc/" + file.name;
    return std::u16string(path.begin(), path.end());
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

void BM_ImportFile(benchmark::State &state, CorpusFile file)
{
    const std::u16string path = corpusPath(file);
    VexoNode *db = nullptr;
    Vexo_create(u"bench", &db);
    const HRESULT first = Vexo_importFile(db, nullptr, path.c_str(), u"", nullptr, nullptr);
    const int frames = countFrames(db);
    Vexo_destroy(db);
    if (first != S_OK || frames != file.frames) {
        state.SkipWithError("corpus file missing or imported wrongly");
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
BENCHMARK_CAPTURE(BM_RawRead, gm_global_a_lowspeed_1818125, kGmLowspeed)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_RawRead, cadillac_ct6_object, kCadillac)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
