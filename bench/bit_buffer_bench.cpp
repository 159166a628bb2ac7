// Field extraction and insertion as the decoder and encoder use them: one signal field of
// up to 64 bits per call, both byte orders. Each benchmark checks its answer once before timing.
#include "vexo/codec.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr int32_t kStart = 13; // not byte aligned, so fields straddle bytes

std::vector<uint8_t> makeFrame(size_t size, uint64_t seed)
{
    std::mt19937_64 rng(seed);
    std::vector<uint8_t> frame(size);
    for (uint8_t &b : frame)
        b = static_cast<uint8_t>(rng());
    return frame;
}

uint64_t le64(const uint8_t *p)
{
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i)
        v |= uint64_t(p[i]) << (8 * i);
    return v;
}

// Slow reference for the pre-timing check.
uint64_t fieldBitByBit(const std::vector<uint8_t> &frame, int32_t start, int32_t length)
{
    const bool big = length < 0;
    const int64_t bits = std::abs(int64_t(length));
    uint64_t v = 0;
    for (int64_t k = 0; k < bits; ++k) {
        const int64_t n = big ? (((start ^ 7) + bits - 1 - k) ^ 7) : start + k;
        v |= uint64_t((frame[n >> 3] >> (n & 7)) & 1) << k;
    }
    return v;
}

void extractField(benchmark::State &state, int32_t length)
{
    const std::vector<uint8_t> frame = makeFrame(64, /*seed=*/7);
    uint8_t value[8] = {};
    Q3bit_extract(value, frame.data(), sizeof value, kStart, length);
    if (le64(value) != fieldBitByBit(frame, kStart, length)) {
        state.SkipWithError("wrong field value");
        return;
    }
    for (auto _ : state) {
        Q3bit_extract(value, frame.data(), sizeof value, kStart, length);
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * ((std::abs(length) + 7) / 8));
}

void insertField(benchmark::State &state, int32_t length)
{
    std::vector<uint8_t> frame = makeFrame(64, /*seed=*/7);
    const std::vector<uint8_t> source = makeFrame(8, /*seed=*/11);
    if (Q3bit_insert(frame.data(), source.data(), uint32_t(frame.size()), kStart, length) != std::abs(length)) {
        state.SkipWithError("wrong bit count");
        return;
    }
    const uint64_t mask = std::abs(length) == 64 ? ~uint64_t(0) : (uint64_t(1) << std::abs(length)) - 1;
    if (fieldBitByBit(frame, kStart, length) != (le64(source.data()) & mask)) {
        state.SkipWithError("wrong field written");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(Q3bit_insert(frame.data(), source.data(), uint32_t(frame.size()), kStart, length));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * ((std::abs(length) + 7) / 8));
}

// A 12-bit big-endian field: the most common shape of a CAN signal.
void BM_Q3bitExtractBigEndian12(benchmark::State &state)
{
    extractField(state, -12);
}
BENCHMARK(BM_Q3bitExtractBigEndian12);

void BM_Q3bitInsertBigEndian12(benchmark::State &state)
{
    insertField(state, -12);
}
BENCHMARK(BM_Q3bitInsertBigEndian12);

// Length sweep; a negative length is big-endian.
void BM_Q3bitExtract(benchmark::State &state)
{
    extractField(state, static_cast<int32_t>(state.range(0)));
}
BENCHMARK(BM_Q3bitExtract)->Arg(1)->Arg(12)->Arg(64)->Arg(-1)->Arg(-12)->Arg(-64);

void BM_Q3bitInsert(benchmark::State &state)
{
    insertField(state, static_cast<int32_t>(state.range(0)));
}
BENCHMARK(BM_Q3bitInsert)->Arg(1)->Arg(12)->Arg(64)->Arg(-1)->Arg(-12)->Arg(-64);

// The one-word form beside the byte-buffer form it can replace.
void BM_Q3bitExtractbuf(benchmark::State &state)
{
    const auto length = static_cast<int32_t>(state.range(0));
    const std::vector<uint8_t> frame = makeFrame(64, /*seed=*/7);
    if (Q3bit_extractbuf(frame.data(), kStart, length) != fieldBitByBit(frame, kStart, length)) {
        state.SkipWithError("wrong field value");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(Q3bit_extractbuf(frame.data(), kStart, length));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Q3bitExtractbuf)->Arg(12)->Arg(-12)->Arg(64)->Arg(-64);

// A multiplexer switch moved between frames, little-endian 12 bits into big-endian 16 bits.
void BM_Q3bitCopy(benchmark::State &state)
{
    const std::vector<uint8_t> source = makeFrame(64, /*seed=*/7);
    std::vector<uint8_t> destination(64, 0);
    Q3bit_copy(destination.data(), uint32_t(destination.size()), 23, -16, source.data(), kStart, 12);
    if (fieldBitByBit(destination, 23, -16) != fieldBitByBit(source, kStart, 12)) {
        state.SkipWithError("wrong copy");
        return;
    }
    for (auto _ : state) {
        Q3bit_copy(destination.data(), uint32_t(destination.size()), 23, -16, source.data(), kStart, 12);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Q3bitCopy);

} // namespace

BENCHMARK_MAIN();
