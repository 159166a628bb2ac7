// Frame decoding of a CAN log: a 50-frame channel (standard and extended identifiers, both
// byte orders, one multiplexed frame) and 10,000 logged frames, one in ten unknown. Reports
// time per frame and per decoded signal, with a reused state, a state per frame, and a filter.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "vexo/vexo.h"

namespace {

constexpr int kFrames = 50;
constexpr int kMuxFrame = 10;
constexpr int kLogLength = 10000;

struct Logged {
    uint32_t id, flags;
    uint8_t data[8];
};

struct Bench {
    VexoNode *db = nullptr;
    VexoNode *channel = nullptr;
    std::vector<uint32_t> ids;
    std::vector<Logged> log;
    std::vector<std::u16string> names;  // signal identifiers, for the filter
    int signalCount = 0;

    VexoNode *signal(uint32_t bits, bool isSigned)
    {
        VexoNode *coding = nullptr, *s = nullptr;
        Vexo_createCoding(db, nullptr, bits, isSigned ? Q3_ENCODING_2COMPL : Q3_ENCODING_DIRECT, nullptr, &coding);
        const std::string digits = std::to_string(signalCount);
        names.push_back(u"S" + std::u16string(digits.begin(), digits.end()));
        Vexo_createSignal(db, names.back().c_str(), 0, 0, 0, 0, coding, &s);
        ++signalCount;
        return s;
    }

    // Fields of the lengths below, back to back: little-endian ones from bit 0 up,
    // big-endian ones in the running order from bit 7 of byte 0.
    void layOut(VexoNode *pdu, int firstLength, int bits, bool big)
    {
        static const uint32_t lengths[] = {8, 12, 4, 16, 1, 7, 16};
        int at = 0;
        for (int k = firstLength; at < bits; ++k) {
            const auto length = std::min<uint32_t>(lengths[k % 7], uint32_t(bits - at));
            const int start = big ? at ^ 7 : at;
            VexoNode *instance = nullptr;
            Vexo_createSignalInstance(db, nullptr, big ? Q3_BYTEORDER_BIGENDIAN : Q3_BYTEORDER_LITTLEENDIAN,
                                      uint32_t(start), 0, signal(length, k % 2 == 1), pdu, &instance);
            at += int(length);
        }
    }

    Bench()
    {
        Vexo_create(u"bench", &db);
        Vexo_createChannel(db, u"CAN1", nullptr, &channel);
        std::mt19937 rng(7);
        for (int i = 0; i < kFrames; ++i) {
            const uint32_t flags = i % 3 == 0 ? Q3_FLAG_CANEXTENDED : Q3_FLAG_CANSTANDARD;
            const uint32_t id = flags != 0 ? 0x18FF0000u + uint32_t(i) : 0x100u + uint32_t(7 * i);
            VexoNode *frame = nullptr, *triggering = nullptr, *pdu = nullptr, *instance = nullptr;
            Vexo_createFrame(db, nullptr, 8, &frame);
            Vexo_createIdentifierBasedTriggering(db, nullptr, id, flags, frame, nullptr, channel, &triggering);
            if (i != kMuxFrame) {
                Vexo_createSignalPDU(db, nullptr, 64, nullptr, &pdu);
                layOut(pdu, i % 7, 64, i % 2 == 1);
            } else {
                Vexo_createMultiplexedPDU(db, nullptr, 64, 0, 0, 8, 0, nullptr, &pdu);
                VexoNode *part = nullptr, *partPdu = nullptr;
                Vexo_createMultiplexedPart(db, nullptr, 0, pdu, &part);
                Vexo_setStaticPart(pdu, part);
                Vexo_addSegment(part, 0, 8, 8);
                Vexo_createSignalPDU(db, nullptr, 8, part, &partPdu);
                layOut(partPdu, 0, 8, false);
                for (uint32_t code = 0; code < 4; ++code) {
                    Vexo_createMultiplexedPart(db, nullptr, code, pdu, &part);
                    Vexo_addDynamicParts(pdu, 1, &part);
                    Vexo_addSegment(part, code % 2, code % 2 == 0 ? 16 : 23, 48);
                    Vexo_createSignalPDU(db, nullptr, 48, part, &partPdu);
                    layOut(partPdu, int(code), 48, code % 2 == 1);
                }
            }
            Vexo_createPDUInstance(db, nullptr, 0, 0, 0, pdu, frame, &instance);
            ids.push_back(id);
        }
        for (int n = 0; n < kLogLength; ++n) {
            Logged entry{};
            const int i = int(rng() % kFrames);
            entry.id = rng() % 10 == 0 ? 0x7FF : ids[size_t(i)];
            entry.flags = entry.id != 0x7FF && i % 3 == 0 ? Q3_FLAG_CANEXTENDED : Q3_FLAG_CANSTANDARD;
            for (uint8_t &b : entry.data)
                b = static_cast<uint8_t>(rng());
            if (i == kMuxFrame)
                entry.data[0] &= 3;
            log.push_back(entry);
        }
    }
    ~Bench() { Vexo_destroy(db); }
};

Bench &bench()
{
    static Bench b;
    return b;
}

// Decodes the whole log; returns the number of signals decoded.
int64_t decodeLog(const Bench &b, VexoDecodeState **state, const VexoFilter *filter, bool freshState)
{
    int64_t signals = 0;
    uint64_t checksum = 0;
    for (const Logged &entry : b.log) {
        if (Vexo_decodeMessage(b.channel, entry.id, entry.flags, 8, entry.data, state) != S_OK)
            std::abort();
        Vexo_decodeNextFrametriggering(*state, nullptr);
        VexoDecodedSignal record = {};
        while (Vexo_decodeNextSignal(*state, filter, &record) == S_OK) {
            checksum += record.rawValue;
            ++signals;
        }
        if (freshState) {
            Vexo_destroyDecodeEnum(*state);
            *state = nullptr;
        }
    }
    benchmark::DoNotOptimize(checksum);
    return signals;
}

void run(benchmark::State &state, const VexoFilter *filter, bool freshState)
{
    const Bench &b = bench();
    VexoDecodeState *decode = nullptr;
    // Every logged frame of a known identifier yields its frame's signals: 7 to 10 per
    // plain frame (the pattern is cut at 64 bits), 1 + 3 to 4 for the multiplexed one.
    const int64_t signals = decodeLog(b, &decode, filter, freshState);
    if (filter == nullptr && signals < 5 * kLogLength)
        state.SkipWithError("too few signals decoded");
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeLog(b, &decode, filter, freshState));
    if (decode != nullptr)
        Vexo_destroyDecodeEnum(decode);
    state.counters["frame"] = benchmark::Counter(double(kLogLength), benchmark::Counter::kIsIterationInvariantRate
                                                                         | benchmark::Counter::kInvert);
    state.counters["signal"] = benchmark::Counter(double(signals), benchmark::Counter::kIsIterationInvariantRate
                                                                      | benchmark::Counter::kInvert);
    state.counters["signals"] = double(signals);
}

void BM_DecodeLog(benchmark::State &state) { run(state, nullptr, false); }

void BM_DecodeLogStatePerFrame(benchmark::State &state) { run(state, nullptr, true); }

// A filter of one signal in ten: the signals it rejects still cost a filter lookup.
void BM_DecodeLogFiltered(benchmark::State &state)
{
    const Bench &b = bench();
    std::u16string list;
    for (size_t i = 0; i < b.names.size(); i += 10)
        list += b.names[i] + u'\0';
    VexoFilter *filter = nullptr;
    Vexo_createIdListFilterW(b.db, 0, list.c_str(), &filter);
    run(state, filter, false);
    Vexo_destroyFilter(filter);
}

}  // namespace

BENCHMARK(BM_DecodeLog)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLogStatePerFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLogFiltered)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
