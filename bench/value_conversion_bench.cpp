// Internal-to-physical conversion as the decoder's callers run it once per signal: the
// common linear signal, a chain of two computations, and a value that no range takes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "vexo/constants.h"
#include "vexo/convert.h"
#include "vexo/core.h"
#include "vexo/model.h"

namespace {

void require(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "value_conversion_bench: %s\n", what);
        std::abort();
    }
}

// One database with a signal whose coding has the computations added, each with one
// closed range.
struct Fixture {
    VexoNode *handle = nullptr;
    VexoNode *coding = nullptr;
    VexoNode *signal = nullptr;

    Fixture(uint32_t bitlen, uint32_t encoding)
    {
        require(Vexo_create(nullptr, &handle) == S_OK, "create database");
        require(Vexo_createCoding(handle, nullptr, bitlen, encoding, nullptr, &coding) == S_OK, "create coding");
        require(Vexo_createSignal(handle, nullptr, 0, 0, 0, 0, coding, &signal) == S_OK, "create signal");
    }
    ~Fixture() { Vexo_destroy(handle); }

    void add(VexoNode *computation, double lower, double upper)
    {
        require(Vexo_addInternalToPhysicalComputations(coding, 1, &computation) == S_OK, "add computation");
        require(Vexo_addRange(computation, lower, upper, Q3_FLAG_LOWERLIMIT_CLOSED | Q3_FLAG_UPPERLIMIT_CLOSED) ==
                    S_OK,
                "add range");
    }
};

// Checks one conversion, then times conversions of changing internal values.
void run(benchmark::State &state, const Fixture &fixture, uint64_t mask, HRESULT expected, double physical)
{
    SignalValue value{};
    require(Vexo_internalToPhysical(fixture.signal, 1234, &value) == expected, "result before timing");
    require(value.valueType == Q3_VALUETYPE_DOUBLE ? value.value.f64 == physical : physical != physical,
            "value before timing");
    uint64_t internal = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(Vexo_internalToPhysical(fixture.signal, internal & mask, &value));
        benchmark::DoNotOptimize(value);
        internal += 0x9E3779B97F4A7C15ull;  // varies the input so no result is cached
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

static void BM_InternalToPhysicalLinear(benchmark::State &state)
{
    Fixture fixture(16, Q3_ENCODING_DIRECT);
    VexoNode *linear = nullptr;
    require(Vexo_createLinearComputation(fixture.handle, nullptr, 0.1, -40, &linear) == S_OK, "create linear");
    fixture.add(linear, 0, 65535);
    run(state, fixture, 0xFFFF, S_OK, 0.1 * 1234 - 40);
}
BENCHMARK(BM_InternalToPhysicalLinear);

static void BM_InternalToPhysicalTwoComplementThenText(benchmark::State &state)
{
    Fixture fixture(12, Q3_ENCODING_2COMPL);
    VexoNode *linear = nullptr, *text = nullptr;
    VexoStringSlot *slot = nullptr;
    require(Vexo_createLinearComputation(fixture.handle, nullptr, 0.5, 0, &linear) == S_OK, "create linear");
    require(Vexo_stringCreateSlot(fixture.handle, 0x0409, u"high", &slot) == S_OK, "create slot");
    require(Vexo_createMappedTextComputation(fixture.handle, nullptr, slot, &text) == S_OK, "create text");
    fixture.add(linear, -2048, 2047);
    fixture.add(text, 500, 1e9);
    run(state, fixture, 0xFFF, S_OK, 617);
}
BENCHMARK(BM_InternalToPhysicalTwoComplementThenText);

static void BM_InternalToPhysicalNoRangeMatches(benchmark::State &state)
{
    Fixture fixture(32, Q3_ENCODING_DIRECT);
    VexoNode *linear = nullptr;
    require(Vexo_createLinearComputation(fixture.handle, nullptr, 2, 0, &linear) == S_OK, "create linear");
    fixture.add(linear, -2, -1);
    run(state, fixture, 0xFFFFFFFF, S_FALSE, std::nan(""));
}
BENCHMARK(BM_InternalToPhysicalNoRangeMatches);

BENCHMARK_MAIN();
