// Threads decoding one model at once (own states) while the decoder's indexes and conversion plans are built, rebuilt
// get the records one thread alone gets; also run under ThreadSanitizer. Text lookups (they write caches) stay out.
#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <vector>

#include "decode_records.h"
#include "random_network.h"
#include "vexo/vexo.h"

TEST(DecoderConcurrency, ThreadsDecodingOneModelGetWhatOneThreadGets)
{
    RandomNetwork net(20240615);
    std::vector<std::vector<uint8_t>> bytes;
    const std::vector<VexoFrame> frames = net.receive(200, bytes);
    for (int round = 0; round < 4; ++round) {
        net.change();  // the first decodes of each round rebuild what they use
        std::vector<std::vector<ExpectedRecord>> got(5);  // the last one: one thread alone, afterwards
        const auto decode = [&](size_t t) {
            for (uint32_t i = 0; i < frames.size(); ++i)
                EXPECT_TRUE(
                    stepwiseRecords(net.db, net.channel, net.ownInstances, frames[i], i, nullptr, 0, got[t], false));
        };
        std::vector<std::thread> threads;
        for (size_t t = 0; t < 4; ++t)
            threads.emplace_back(decode, t);
        for (std::thread &thread : threads)
            thread.join();
        decode(4);
        const std::vector<ExpectedRecord> &alone = got[4];
        const auto fields = [](const ExpectedRecord &e) {
            const VexoBatchRecord &r = e.record;
            return std::make_tuple(r.kind, r.signalInstance, r.rawValue, r.status, r.value.value.u64,
                                   r.value.computation, e.text);
        };
        for (const std::vector<ExpectedRecord> &records : got) {
            ASSERT_EQ(records.size(), alone.size());
            for (size_t i = 0; i < records.size(); ++i)
                EXPECT_EQ(fields(records[i]), fields(alone[i])) << "record " << i;
        }
    }
}
