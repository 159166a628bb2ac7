// The encoder's send loop on a 50-frame CAN channel: change signals, trigger, fetch the
// changed frames, for a few signals per cycle up to all of them; the same driven by cyclic
// timings alone; and building an encoder for the channel, also for channels 4x to 400x as
// large (each PDU's timing holder is looked up once per build, not once per PDU).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "vexo/constants.h"
#include "vexo/core.h"
#include "vexo/encode.h"
#include "vexo/model.h"

namespace {

constexpr int kFrames = 50;
constexpr int kSignalsPerFrame = 4;

void require(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "encoder_bench: %s\n", what);
        std::abort();
    }
}

// kFrames frames of 8 bytes, each with one 64-bit PDU of four 16-bit signals (two of each
// byte order); with cyclic set, every PDU triggering has a cyclic timing of 1.
struct Channel {
    VexoNode *db = nullptr;
    VexoNode *channel = nullptr;
    std::vector<VexoNode *> triggerings, signals;

    explicit Channel(bool cyclic, int frames = kFrames)
    {
        require(Vexo_create(u"bench", &db) == S_OK, "create database");
        VexoNode *cluster = nullptr, *coding = nullptr, *identity = nullptr;
        require(Vexo_createCluster(db, u"can", Q3_CLUSTERTYPE_CAN, &cluster) == S_OK, "cluster");
        require(Vexo_createChannel(db, u"ch", cluster, &channel) == S_OK, "channel");
        require(Vexo_createCoding(db, u"u16", 16, Q3_ENCODING_DIRECT, nullptr, &coding) == S_OK, "coding");
        require(Vexo_createIdentityComputation(db, u"id", &identity) == S_OK, "computation");
        require(Vexo_addRange(identity, 0, 65535, 3) == S_OK, "range");
        require(Vexo_addPhysicalToInternalComputations(coding, 1, &identity) == S_OK, "add computation");
        for (int i = 0; i < frames; ++i) {
            VexoNode *frame = nullptr, *triggering = nullptr, *pdu = nullptr, *instance = nullptr;
            require(Vexo_createFrame(db, nullptr, 8, &frame) == S_OK, "frame");
            require(Vexo_createIdentifierBasedTriggering(db, nullptr, 0x100 + i, 0, frame, nullptr, channel,
                                                         &triggering) == S_OK,
                    "triggering");
            require(Vexo_createSignalPDU(db, nullptr, 64, nullptr, &pdu) == S_OK, "PDU");
            require(Vexo_createPDUInstance(db, nullptr, 0, 0, 0xFFFFFFFF, pdu, frame, &instance) == S_OK, "place");
            if (cyclic) {
                VexoNode *pduTriggering = nullptr, *timing = nullptr;
                require(Vexo_createPDUTriggering(db, nullptr, pdu, channel, &pduTriggering) == S_OK, "PDU trig");
                require(Vexo_createCyclicTiming(db, 1, pduTriggering, &timing) == S_OK, "timing");
            }
            triggerings.push_back(triggering);
            for (int s = 0; s < kSignalsPerFrame; ++s) {
                VexoNode *signal = nullptr;
                const bool big = s % 2 == 1;
                require(Vexo_createSignal(db, nullptr, 0, 0, 0, 0, coding, &signal) == S_OK, "signal");
                require(Vexo_createSignalInstance(db, nullptr, big ? 1 : 0, big ? 16 * s + 7 : 16 * s, 0xFFFFFFFF,
                                                  signal, pdu, &instance) == S_OK,
                        "signal instance");
                signals.push_back(signal);
            }
        }
    }
    ~Channel() { Vexo_destroy(db); }
};

struct Encoder {
    VexoEncoder *handle = nullptr;
    uint32_t app = 0;

    explicit Encoder(const Channel &c)
    {
        require(Vexo_CreateEncoder(c.db, c.channel, &handle) == S_OK && handle != nullptr, "create encoder");
        require(Vexo_EncoderRegister(handle, &app) == S_OK, "register");
        require(Vexo_EncoderSetSendMode(handle, app, Q3_ENC_MODE_PERIODIC) == S_OK, "send mode");
        for (VexoNode *t : c.triggerings)
            require(Vexo_EncoderInsert(handle, app, t) == S_OK, "insert");
    }
    ~Encoder() { Vexo_DestroyEncoder(handle); }

    int fetchAll()
    {
        VexoChangedFrame frame{};
        int n = 0;
        while (Vexo_EncoderGetChangedFrame(handle, &frame) == S_OK) {
            benchmark::DoNotOptimize(frame.data[0]);
            ++n;
        }
        return n;
    }
};

// Changes range(0) signals spread over the frames (every 4th signal first, so 50 changes
// touch all 50 frames), triggers, and fetches every changed frame.
void BM_ChangeTriggerFetch(benchmark::State &state)
{
    const Channel channel(false);
    Encoder encoder(channel);
    const auto changes = static_cast<size_t>(state.range(0));
    std::vector<VexoNode *> order;
    for (int s = 0; s < kSignalsPerFrame; ++s)
        for (int f = 0; f < kFrames; ++f)
            order.push_back(channel.signals[f * kSignalsPerFrame + s]);
    const size_t touched = changes < size_t(kFrames) ? changes : size_t(kFrames);

    require(Vexo_EncoderChangeSignal(encoder.handle, encoder.app, order[0], 0xBEEF) == S_OK, "change");
    require(Vexo_EncoderTrigger(encoder.handle, 1, 0) == S_OK, "trigger");
    VexoChangedFrame frame{};
    require(Vexo_EncoderGetChangedFrame(encoder.handle, &frame) == S_OK && frame.data[0] == 0xEF &&
                frame.data[1] == 0xBE,
            "first frame carries the value");
    require(encoder.fetchAll() == 0, "nothing else pending");

    uint64_t value = 0;
    uint32_t now = 2;
    for (auto _ : state) {
        for (size_t i = 0; i < changes; ++i)
            Vexo_EncoderChangeSignal(encoder.handle, encoder.app, order[i], ++value);
        Vexo_EncoderTrigger(encoder.handle, ++now, 0);
        if (encoder.fetchAll() != int(touched))
            state.SkipWithError("wrong number of frames");
    }
    state.SetItemsProcessed(state.iterations() * int64_t(changes));
    state.counters["frames"] = benchmark::Counter(double(touched), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ChangeTriggerFetch)->Arg(1)->Arg(8)->Arg(50)->Arg(200);

// No changes at all: every PDU's cyclic timing falls due at each trigger, each trigger runs
// the timing test of all 50 PDUs and delivers all 50 frames.
void BM_CyclicTriggerFetch(benchmark::State &state)
{
    const Channel channel(true);
    Encoder encoder(channel);
    require(Vexo_EncoderSetSendMode(encoder.handle, encoder.app, Q3_ENC_MODE_OFF) == S_OK, "off");
    require(Vexo_EncoderTrigger(encoder.handle, 1, 0) == S_OK && encoder.fetchAll() == kFrames, "cyclic frames");
    uint32_t now = 1;
    for (auto _ : state) {
        Vexo_EncoderTrigger(encoder.handle, ++now, 0);
        if (encoder.fetchAll() != kFrames)
            state.SkipWithError("wrong number of frames");
    }
    state.counters["frames"] = benchmark::Counter(kFrames, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CyclicTriggerFetch);

// Encoders over a channel of range(1) frames, with cyclic PDU timings when range(0) is 1.
void BM_CreateEncoder(benchmark::State &state)
{
    const auto frames = static_cast<int>(state.range(1));
    const Channel channel(state.range(0) != 0, frames);
    for (auto _ : state) {
        VexoEncoder *handle = nullptr;
        Vexo_CreateEncoder(channel.db, channel.channel, &handle);
        if (handle == nullptr)
            state.SkipWithError("no encoder");
        Vexo_DestroyEncoder(handle);
    }
    state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_CreateEncoder)->Args({0, kFrames})->Args({1, kFrames})->Args({1, 200})->Args({1, 2000})->Args({1, 20000})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
