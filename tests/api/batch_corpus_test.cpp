// The batch decoder on every corpus DBC file, imported as users import it: random frames
// drawn from each channel's triggerings (and some it does not know), every record compared
// with what the stepwise functions give. The values decoded (and values beside them) are
// then encoded back by Vexo_encodeSignals and by the one-value functions, frame by frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "decode_records.h"
#include "encode_stepwise.h"
#include "list_of.h"
#include "vexo/testing.h"
#include "vexo/vexo.h"

namespace {

constexpr uint64_t kSeed = 20240614;
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kStride = 8;  // every eighth file: the sanitizers are slow
#else
constexpr size_t kStride = 1;
#endif

// Frames a channel's identifier triggerings send, with random data; one in ten with an
// identifier or a length the channel may not know.
std::vector<VexoFrame> framesFor(VexoNode *channel, std::mt19937_64 &rng, std::vector<std::vector<uint8_t>> &storage)
{
    std::vector<VexoNode *> triggerings;
    for (VexoNode *t : listOf(Vexo_enumFrameTriggerings, channel)) {
        if (Vexo_getNodeType(t) == Q3_NODETYPE_IdentifierBasedTriggering)
            triggerings.push_back(t);
    }
    std::vector<VexoFrame> frames;
    for (int i = 0; i < 300 && !triggerings.empty(); ++i) {
        VexoFrame frame{};
        VexoNode *triggering = triggerings[rng() % triggerings.size()], *frameNode = nullptr;
        Vexo_getIdentifier(triggering, &frame.identifier);
        Vexo_getFlags(triggering, &frame.flags);
        frame.flags &= Q3_FLAG_CANEXTENDED;
        if (Vexo_getFrame(triggering, &frameNode) == S_OK && frameNode != nullptr)
            Vexo_getLength(frameNode, &frame.length);
        if (rng() % 10 == 0)
            frame.identifier ^= 1 + rng() % 7;
        if (rng() % 20 == 0)
            frame.length = static_cast<uint32_t>(rng() % 9);
        frame.length = std::min<uint32_t>(frame.length, 64);
        std::vector<uint8_t> &bytes = storage.emplace_back(frame.length);
        for (uint8_t &byte : bytes)
            byte = static_cast<uint8_t>(rng());
        frame.data = bytes.data();
        frames.push_back(frame);
    }
    return frames;
}

// Encodes each decoded frame's values, as decoded or moved a little (half a step, out of
// range, NaN), both ways into buffers of the frame's length; returns the fields written.
size_t expectEncodingsAgree(const VexoDecodePlan *plan, const std::vector<VexoFrame> &frames, std::mt19937_64 &rng)
{
    std::vector<VexoBatchRecord> records(frames.size() * 64);
    std::vector<char> text(1 << 16);
    VexoBatchCount done{};
    Vexo_decodeFrames(plan, frames.data(), uint32_t(frames.size()), records.data(), uint32_t(records.size()),
                      text.data(), uint32_t(text.size()), &done);
    size_t written = 0;
    std::vector<VexoSignalWrite> writes;
    const auto encodeFrame = [&](uint32_t length) {
        std::vector<uint8_t> want(std::max<uint32_t>(length, 1)), got = want;
        std::vector<HRESULT> wanted, results(writes.size());
        for (const VexoSignalWrite &write : writes)
            wanted.push_back(encodeStepwise(write, want.data(), length));
        Vexo_encodeSignals(writes.data(), uint32_t(writes.size()), got.data(), length, results.data(), nullptr);
        EXPECT_EQ(got, want);
        EXPECT_EQ(results, wanted);
        written += size_t(std::count(results.begin(), results.end(), S_OK));
        writes.clear();
    };
    for (uint32_t i = 0; i < done.records; ++i) {
        const VexoBatchRecord &record = records[i];
        if (record.kind == VEXO_RECORD_SIGNAL && record.status >= 0) {
            VexoSignalWrite write{record.signalInstance, record.value};
            write.value.computation = nullptr;
            write.value.text = nullptr;
            if (write.value.valueType == Q3_VALUETYPE_DOUBLE && rng() % 4 == 0) {
                const double moves[] = {0.5, -0.5, 1e9, -1e9, std::nan("")};
                write.value.value.f64 = rng() % 2 == 0 ? write.value.value.f64 * 1.5 + moves[rng() % 5]
                                                       : std::nextafter(write.value.value.f64, moves[rng() % 4]);
            }
            writes.push_back(write);
        }
        const bool last = i + 1 == done.records || records[i + 1].kind == VEXO_RECORD_FRAME
                          || records[i + 1].frameIndex != record.frameIndex;
        if (last && !writes.empty() && frames[record.frameIndex].length > 0)
            encodeFrame(frames[record.frameIndex].length);
        writes.clear();
    }
    return written;
}

}  // namespace

TEST(BatchCorpus, EveryDbcFileDecodesAndEncodesAsTheStepwiseFunctionsDo)
{
    const std::filesystem::path folder = std::filesystem::path(VEXO_CORPUS_DIR) / "dbc";
    if (!std::filesystem::is_directory(folder))
        GTEST_SKIP() << "no corpus at " << folder;
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".dbc")
            files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    std::mt19937_64 rng(kSeed);
    size_t models = 0, signals = 0, encoded = 0;
    for (size_t i = 0; i < files.size(); i += kStride) {
        SCOPED_TRACE(files[i].filename().string() + ", seed=" + std::to_string(kSeed));
        VexoNode *db = nullptr;
        ASSERT_EQ(Vexo_create(u"corpus", &db), S_OK);
        const std::string path = files[i].string();
        if (Vexo_importFile(db, nullptr, std::u16string(path.begin(), path.end()).c_str(), u"tolerant", nullptr,
                            nullptr) == S_OK) {
            ++models;
            for (VexoNode *cluster : listOf(Vexo_enumClusters, db)) {
                for (VexoNode *channel : listOf(Vexo_enumChildren, cluster)) {
                    if (Vexo_getNodeType(channel) != Q3_NODETYPE_Channel)
                        continue;
                    const bool own = !listOf(Vexo_enumPDUInstances, channel).empty();
                    std::vector<std::vector<uint8_t>> bytes;
                    const std::vector<VexoFrame> frames = framesFor(channel, rng, bytes);
                    for (const int vectors : {0, 1}) {  // both ways where the processor has vector instructions
                        Vexo_allowVectorDecoding(vectors);
                        VexoDecodePlan *plan = nullptr;
                        ASSERT_EQ(Vexo_createDecodePlan(channel, nullptr, 0, &plan), S_OK);
                        EXPECT_EQ(batchDifference(db, channel, own, plan, frames, nullptr, 0, 1024, 4096, signals), "");
                        encoded += vectors ? expectEncodingsAgree(plan, frames, rng) : 0;
                        Vexo_destroyDecodePlan(plan);
                    }
                }
            }
        }
        Vexo_destroy(db);
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_GT(models, files.size() / kStride * 3 / 4);
    EXPECT_GT(signals, models * 100);
    EXPECT_GT(encoded, models * 100);
}
