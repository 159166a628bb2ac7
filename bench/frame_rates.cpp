// Frame rates on a model imported from a corpus DBC file, the way users get it: decoding
// with physical values through the stepwise functions, and encoding every signal of a
// frame. The frames are drawn uniformly from the channel's identifier triggerings with
// random payloads (fixed seed), made before timing; each run checks its result first.
//   usage: frame_rates MODE DBC [FRAMES] [RUNS]
//   MODE: stepwise, batch, encode (the four stepwise calls per signal), encode-signals
//         (Vexo_encodeSignals, one call per frame), import (one import, for memory
//         measurements), import-time (RUNS imports into fresh databases), none
// Prints one line: mode, frames, frames per second (median of RUNS), checksum; for
// import-time the median milliseconds per import. Under callgrind,
// --toggle-collect='*timed*' counts only the timed loops (Vexo_importFile an import).
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vexo/vexo.h"

namespace {

struct Frame {
    uint32_t identifier;
    uint32_t flags;
    uint32_t length;
    uint8_t data[64];
};

struct Model {
    VexoNode *db = nullptr;
    VexoNode *channel = nullptr;
    std::vector<VexoNode *> triggerings;  // identifier triggerings of the channel
};

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "frame_rates: %s\n", what.c_str());
    std::exit(1);
}

std::vector<VexoNode *> listOf(HRESULT (*aim)(VexoNode *, VexoEnumerator **), VexoNode *node)
{
    std::vector<VexoNode *> out;
    VexoEnumerator *e = nullptr;
    if (aim(node, &e) != S_OK)
        return out;
    VexoNode *entry = nullptr;
    while (Vexo_enumeratorNext(e, 1, &entry, nullptr) == S_OK)
        out.push_back(entry);
    Vexo_enumeratorDestroy(e);
    return out;
}

void importModel(const char *path, Model &model)
{
    if (Vexo_create(u"bench", &model.db) != S_OK)
        fail("no database");
    const std::string narrow(path);
    const std::u16string wide(narrow.begin(), narrow.end());
    if (Vexo_importFile(model.db, nullptr, wide.c_str(), u"tolerant", nullptr, nullptr) != S_OK)
        fail(std::string("cannot import ") + path);
}

void findChannel(Model &model)
{
    for (VexoNode *cluster : listOf(Vexo_enumClusters, model.db)) {
        for (VexoNode *child : listOf(Vexo_enumChildren, cluster)) {
            if (Vexo_getNodeType(child) == Q3_NODETYPE_Channel) {
                model.channel = child;
                break;
            }
        }
    }
    if (model.channel == nullptr)
        fail("the model has no channel");
    for (VexoNode *triggering : listOf(Vexo_enumFrameTriggerings, model.channel)) {
        if (Vexo_getNodeType(triggering) == Q3_NODETYPE_IdentifierBasedTriggering)
            model.triggerings.push_back(triggering);
    }
    if (model.triggerings.empty())
        fail("the channel has no identifier triggerings");
}

std::vector<Frame> makeFrames(const Model &model, size_t count)
{
    std::mt19937_64 rng(20210101);
    std::vector<Frame> frames(count);
    for (Frame &frame : frames) {
        VexoNode *triggering = model.triggerings[rng() % model.triggerings.size()];
        VexoNode *node = nullptr;
        uint32_t flags = 0, length = 0;
        Vexo_getIdentifier(triggering, &frame.identifier);
        Vexo_getFlags(triggering, &flags);
        Vexo_getFrame(triggering, &node);
        Vexo_getLength(node, &length);
        frame.flags = flags & Q3_FLAG_CANEXTENDED;
        frame.length = std::min<uint32_t>(length, sizeof frame.data);
        for (uint32_t i = 0; i < sizeof frame.data; ++i)
            frame.data[i] = i < frame.length ? static_cast<uint8_t>(rng()) : 0;
    }
    return frames;
}

uint64_t mix(uint64_t sum, uint64_t value) { return (sum ^ value) * 0x100000001B3ull; }

// ---- Decoding through the stepwise functions --------------------------------------

struct Decoder {
    std::vector<uint64_t> state;
    char text[256];
    Decoder() : state((Vexo_getDecodeStateSize() + 7) / 8) {}
};

uint64_t decodeStepwise(const Model &model, const std::vector<Frame> &frames, Decoder &decoder, uint64_t *signals)
{
    uint64_t sum = 0, count = 0;
    VexoDecodedSignal record{};
    record.text = decoder.text;
    record.textCapacity = sizeof decoder.text;
    for (const Frame &frame : frames) {
        auto *state = reinterpret_cast<VexoDecodeState *>(decoder.state.data());
        Vexo_decodeMessage(model.channel, frame.identifier, frame.flags, frame.length, frame.data, &state);
        HRESULT step = Vexo_decodeNextFrametriggering(state, nullptr);
        while (step >= 0) {
            const HRESULT hr = Vexo_decodeNextSignal(state, nullptr, &record);
            if (hr < 0) {
                step = Vexo_decodeNextFrametriggering(state, nullptr);
                continue;
            }
            ++count;
            if (hr == S_FALSE)
                continue;
            SignalValue value;
            Vexo_internalToPhysical(record.signal, record.rawValue, &value);
            sum = mix(sum, value.value.u64);
        }
    }
    *signals = count;
    return sum;
}

// ---- Decoding through a batch plan ---------------------------------------------------
// (Left out when built against headers without the batch interface, so that the same
// program measures an older tree.)
#if defined(VEXO_E_STALEPLAN)

struct Batch {
    VexoDecodePlan *plan = nullptr;
    std::vector<VexoFrame> frames;
    std::vector<VexoBatchRecord> records = std::vector<VexoBatchRecord>(4096);
    std::vector<char> text = std::vector<char>(4096);
};

// Decodes every frame in chunks of 256; with a checksum, also reads the records (the
// timed runs leave them in the buffer, as a caller would find them).
uint64_t decodeBatch(Batch &batch, uint64_t *signals, bool checksum)
{
    uint64_t sum = 0, count = 0;
    constexpr uint32_t kChunk = 256;
    for (size_t at = 0; at < batch.frames.size();) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(kChunk, batch.frames.size() - at));
        VexoBatchCount done{};
        const HRESULT hr = Vexo_decodeFrames(batch.plan, batch.frames.data() + at, n, batch.records.data(),
                                             static_cast<uint32_t>(batch.records.size()), batch.text.data(),
                                             static_cast<uint32_t>(batch.text.size()), &done);
        if (hr < 0 || done.frames == 0)
            fail("the batch decoder refused the frames");
        for (uint32_t i = 0; checksum && i < done.records; ++i) {
            const VexoBatchRecord &record = batch.records[i];
            if (record.kind == VEXO_RECORD_SIGNAL)
                sum = mix(sum, record.value.value.u64);
            count += record.kind == VEXO_RECORD_SIGNAL || record.kind == VEXO_RECORD_TEXT ? 1 : 0;
        }
        at += done.frames;
    }
    *signals = count;
    return sum;
}

__attribute__((noinline)) void timedBatch(Batch &batch)
{
    uint64_t signals = 0;
    decodeBatch(batch, &signals, false);
}
#endif

__attribute__((noinline)) uint64_t timedStepwise(const Model &model, const std::vector<Frame> &frames,
                                                  Decoder &decoder, uint64_t *signals)
{
    return decodeStepwise(model, frames, decoder, signals);
}

// ---- Encoding every signal of a frame ----------------------------------------------

struct Placed {
    VexoNode *signal;
    VexoNode *instance;
    SignalValue value;  // the physical value to encode
};

struct EncodeJob {
    uint32_t length;
    uint8_t expected[64];  // the payload bits the signals cover, as decoded
    std::vector<Placed> placed;
};

// The jobs: each frame decoded once with physical values, to be encoded back.
std::vector<EncodeJob> makeEncodeJobs(const Model &model, const std::vector<Frame> &frames)
{
    std::vector<EncodeJob> jobs;
    jobs.reserve(frames.size());
    Decoder decoder;
    for (const Frame &frame : frames) {
        EncodeJob &job = jobs.emplace_back();
        job.length = frame.length;
        std::memcpy(job.expected, frame.data, sizeof job.expected);
        auto *state = reinterpret_cast<VexoDecodeState *>(decoder.state.data());
        Vexo_decodeMessage(model.channel, frame.identifier, frame.flags, frame.length, frame.data, &state);
        HRESULT step = Vexo_decodeNextFrametriggering(state, nullptr);
        while (step >= 0) {
            VexoDecodedSignal record{};
            const HRESULT hr = Vexo_decodeNextSignal(state, nullptr, &record);
            if (hr < 0) {
                step = Vexo_decodeNextFrametriggering(state, nullptr);
                continue;
            }
            Placed placed{record.signal, record.signalInstance, {}};
            if (hr == S_OK && Vexo_internalToPhysical(record.signal, record.rawValue, &placed.value) >= 0)
                job.placed.push_back(placed);
        }
    }
    return jobs;
}

__attribute__((noinline)) uint64_t encodeStepwise(const std::vector<EncodeJob> &jobs, VexoEncodeState **state,
                                                  uint64_t *signals)
{
    uint64_t sum = 0, count = 0;
    uint8_t buffer[64];
    for (const EncodeJob &job : jobs) {
        std::memset(buffer, 0, sizeof buffer);
        for (const Placed &placed : job.placed) {
            VexoNode *computation = nullptr;
            if (Vexo_encodeSignal(placed.signal, &placed.value, state) != S_OK
                || Vexo_encodeNextComputation(*state, &computation) != S_OK)
                continue;
            uint64_t internal = 0;
            if (Vexo_physicalToInternal(placed.signal, computation, &placed.value, &internal) != S_OK)
                continue;
            Vexo_encodeSignalInstance(placed.instance, internal, buffer, job.length);
            ++count;
        }
        for (uint32_t i = 0; i < job.length; i += 8) {
            uint64_t word;
            std::memcpy(&word, buffer + i, sizeof word);
            sum = mix(sum, word);
        }
    }
    *signals = count;
    return sum;
}

// The timed loops: under callgrind, only these are counted.
__attribute__((noinline)) uint64_t timedEncode(const std::vector<EncodeJob> &jobs, VexoEncodeState **state,
                                               uint64_t *signals)
{
    return encodeStepwise(jobs, state, signals);
}

#if !defined(FRAME_RATES_STEPWISE_ENCODE_ONLY)
// Every frame's values in one call, into the same buffers as encodeStepwise.
__attribute__((noinline)) uint64_t encodeBySignals(const std::vector<EncodeJob> &jobs,
                                                   const std::vector<std::vector<VexoSignalWrite>> &writes,
                                                   uint64_t *signals)
{
    uint64_t sum = 0, count = 0;
    uint8_t buffer[64];
    for (size_t j = 0; j < jobs.size(); ++j) {
        std::memset(buffer, 0, sizeof buffer);
        uint32_t written = 0;
        Vexo_encodeSignals(writes[j].data(), uint32_t(writes[j].size()), buffer, jobs[j].length, nullptr, &written);
        count += written;
        for (uint32_t i = 0; i < jobs[j].length; i += 8) {
            uint64_t word;
            std::memcpy(&word, buffer + i, sizeof word);
            sum = mix(sum, word);
        }
    }
    *signals = count;
    return sum;
}

__attribute__((noinline)) uint64_t timedEncodeSignals(const std::vector<EncodeJob> &jobs,
                                                      const std::vector<std::vector<VexoSignalWrite>> &writes,
                                                      uint64_t *signals)
{
    return encodeBySignals(jobs, writes, signals);
}
#endif

// ---- Timing -------------------------------------------------------------------------

template <class Run>
double medianRate(size_t frames, int runs, Run run)
{
    std::vector<double> rates;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        rates.push_back(double(frames) / took.count());
    }
    std::sort(rates.begin(), rates.end());
    return rates[rates.size() / 2];
}

void print(const char *mode, const char *dbc, size_t frames, double rate, uint64_t signals, uint64_t sum)
{
    const char *name = std::strrchr(dbc, '/');
    std::printf("%s %s frames=%zu frames_per_s=%.0f signals_per_frame=%.2f checksum=%016llx\n", mode,
                name != nullptr ? name + 1 : dbc, frames, rate, frames != 0 ? double(signals) / double(frames) : 0.0,
                static_cast<unsigned long long>(sum));
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        fail("usage: frame_rates stepwise|batch|encode|encode-signals|import|import-time|none DBC [FRAMES] [RUNS]");
    const std::string mode = argv[1];
    const char *dbc = argv[2];
    const size_t count = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1000000;
    const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
    if (mode == "none")
        return 0;
    if (mode == "import-time") {
        // Milliseconds per import into a new database (made on the clock, destroyed off it).
        std::vector<double> took;
        for (int i = 0; i < runs; ++i) {
            Model fresh;
            const auto start = std::chrono::steady_clock::now();
            importModel(dbc, fresh);
            took.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
            Vexo_destroy(fresh.db);
        }
        std::sort(took.begin(), took.end());
        std::printf("import-time %s runs=%d ms_per_import=%.2f fastest=%.2f\n", dbc, runs, took[took.size() / 2],
                    took.front());
        return 0;
    }
    Model model;
    importModel(dbc, model);
    if (mode == "import")
        return Vexo_destroy(model.db) == S_OK ? 0 : 1;
    findChannel(model);
    const std::vector<Frame> frames = makeFrames(model, count);

    if (mode == "stepwise") {
        Decoder decoder;
        uint64_t signals = 0, sum = 0;
        const double rate = medianRate(count, runs, [&] { sum = timedStepwise(model, frames, decoder, &signals); });
        print("stepwise", dbc, count, rate, signals, sum);
#if defined(VEXO_E_STALEPLAN)
    } else if (mode == "batch") {
        Batch batch;
        if (Vexo_createDecodePlan(model.channel, nullptr, 0, &batch.plan) != S_OK)
            fail("no plan");
        for (const Frame &frame : frames)
            batch.frames.push_back({frame.identifier, frame.flags, frame.length, 0, frame.data});
        // The same checksum as the stepwise functions give, or the figures mean nothing.
        Decoder decoder;
        uint64_t signals = 0, wantedSignals = 0;
        const uint64_t wanted = decodeStepwise(model, frames, decoder, &wantedSignals);
        const uint64_t sum = decodeBatch(batch, &signals, true);
        if (sum != wanted || signals != wantedSignals)
            fail("the batch decoder's values differ from the stepwise functions'");
        const double rate = medianRate(count, runs, [&] { timedBatch(batch); });
        Vexo_destroyDecodePlan(batch.plan);
        print("batch", dbc, count, rate, signals, sum);
#endif
    } else if (mode == "encode") {
        const std::vector<EncodeJob> jobs = makeEncodeJobs(model, frames);
        VexoEncodeState *state = nullptr;
        uint64_t signals = 0, sum = 0;
        const double rate = medianRate(count, runs, [&] { sum = timedEncode(jobs, &state, &signals); });
        Vexo_destroyEncodeEnum(state);
        print("encode", dbc, count, rate, signals, sum);
#if !defined(FRAME_RATES_STEPWISE_ENCODE_ONLY)
    } else if (mode == "encode-signals") {
        const std::vector<EncodeJob> jobs = makeEncodeJobs(model, frames);
        std::vector<std::vector<VexoSignalWrite>> writes;
        for (const EncodeJob &job : jobs) {
            writes.emplace_back();
            for (const Placed &placed : job.placed)
                writes.back().push_back({placed.instance, placed.value});
        }
        // The same bytes as the stepwise calls write, or the figures mean nothing.
        VexoEncodeState *state = nullptr;
        uint64_t signals = 0, wantedSignals = 0;
        const uint64_t wanted = encodeStepwise(jobs, &state, &wantedSignals);
        Vexo_destroyEncodeEnum(state);
        uint64_t sum = encodeBySignals(jobs, writes, &signals);
        if (sum != wanted || signals != wantedSignals)
            fail("Vexo_encodeSignals wrote other bytes than the stepwise calls");
        const double rate = medianRate(count, runs, [&] { sum = timedEncodeSignals(jobs, writes, &signals); });
        print("encode-signals", dbc, count, rate, signals, sum);
#endif
    } else {
        fail("unknown mode " + mode);
    }
    Vexo_destroy(model.db);
    return 0;
}
