// The batch decoder against the stepwise functions on random networks (every record, field by field, with and without
// filters, buffers of every size), across model changes that make a plan stale; and its arguments and ownership.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decode_records.h"
#include "random_network.h"
#include "vexo/vexo.h"

constexpr uint64_t kSeed = 20240612;

TEST(BatchDecoder, GivesTheRecordsOfTheStepwiseFunctionsOnRandomNetworks)
{
    size_t signals = 0;
    for (uint64_t n = 0; n < 300; ++n) {
        SCOPED_TRACE("seed=" + std::to_string(kSeed) + " network " + std::to_string(n));
        RandomNetwork net(kSeed + n);
        VexoFilter *filter = n % 4 == 3 ? net.filter() : nullptr;
        VexoDecodePlan *plan = nullptr;
        ASSERT_EQ(Vexo_createDecodePlan(net.channel, filter, 0, &plan), S_OK);
        for (int round = 0; round < 3; ++round) {
            std::vector<std::vector<uint8_t>> bytes;
            const std::vector<VexoFrame> frames = net.receive(60, bytes);
            const bool tight = net.below(3) == 0;  // buffers that take a frame or two at a time, or roomy ones
            EXPECT_EQ(batchDifference(net.db, net.channel, net.ownInstances, plan, frames, filter, 0,
                                      tight ? 40 : 4096, tight ? 300 : 65536, signals), "");
            net.change();  // makes the plan stale until it is rebuilt
            VexoBatchCount done{};
            VexoBatchRecord record{};
            EXPECT_EQ(Vexo_isDecodePlanCurrent(plan), S_FALSE);
            EXPECT_EQ(Vexo_decodeFrames(plan, frames.data(), 1, &record, 1, nullptr, 0, &done), VEXO_E_STALEPLAN);
            ASSERT_EQ(Vexo_rebuildDecodePlan(plan), S_OK);
            EXPECT_EQ(Vexo_isDecodePlanCurrent(plan), S_OK);
        }
        EXPECT_EQ(Vexo_destroyDecodePlan(plan), S_OK);
        Vexo_destroyFilter(filter);
        if (::testing::Test::HasFailure())
            break;
    }
    EXPECT_GT(signals, 20000u);  // enough decoding to mean something
}

TEST(BatchDecoder, ChecksItsArguments)
{
    RandomNetwork net(kSeed);
    VexoDecodePlan *plan = nullptr;
    VexoNode *frame = net.frames.front();
    EXPECT_EQ(Vexo_createDecodePlan(net.channel, nullptr, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_createDecodePlan(frame, nullptr, 0, &plan), E_INVALIDARG);
    EXPECT_EQ(Vexo_createDecodePlan(net.channel, reinterpret_cast<VexoFilter *>(frame), 0, &plan), E_INVALIDARG);
    EXPECT_EQ(plan, nullptr);
    ASSERT_EQ(Vexo_createDecodePlan(net.channel, nullptr, 0, &plan), S_OK);

    const uint8_t data[8] = {};
    const VexoFrame frames[1] = {{0x123, 0, 8, 0, data}};
    VexoBatchRecord records[4];
    VexoBatchCount done{7, 7, 7, 7};
    const auto *foreign = reinterpret_cast<const VexoDecodePlan *>(frame);
    EXPECT_EQ(Vexo_decodeFrames(foreign, frames, 1, records, 4, nullptr, 0, &done), E_INVALIDARG);
    EXPECT_EQ(Vexo_decodeFrames(plan, frames, 1, records, 4, nullptr, 0, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_decodeFrames(plan, nullptr, 1, records, 4, nullptr, 0, &done), E_INVALIDARG);
    EXPECT_EQ(Vexo_decodeFrames(plan, frames, 1, nullptr, 4, nullptr, 0, &done), E_INVALIDARG);
    EXPECT_EQ(Vexo_decodeFrames(plan, frames, 1, records, 4, nullptr, 9, &done), E_INVALIDARG);
    EXPECT_EQ(done.frames, 7u);  // untouched
    EXPECT_TRUE(Vexo_decodeFrames(plan, frames, 1, records, 0, nullptr, 0, &done) == S_FALSE && done.frames == 0);
    EXPECT_EQ(Vexo_decodeFrames(plan, frames, 0, nullptr, 0, nullptr, 0, &done), S_OK);
    EXPECT_EQ(Vexo_rebuildDecodePlan(nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_isDecodePlanCurrent(foreign), E_INVALIDARG);
    EXPECT_EQ(Vexo_destroyDecodePlan(reinterpret_cast<VexoDecodePlan *>(frame)), E_INVALIDARG);
    EXPECT_EQ(Vexo_destroyDecodePlan(plan), S_OK);
    EXPECT_EQ(Vexo_destroyDecodePlan(nullptr), S_OK);
}
