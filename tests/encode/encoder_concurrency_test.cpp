// One encoder driven from several threads at once; also run under ThreadSanitizer. Workers look only at the frame node
// and length of what they fetch: the image may be rewritten by another thread's trigger, as documented.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "encode_test_model.h"

using namespace encode_test;

namespace {

constexpr int kFrames = 8, kWorkers = 4, kRounds = 400;

TEST(EncoderConcurrency, ThreadsChangeTriggerAndFetchWithoutLosingWrites)
{
    // Frame i holds one 64-bit PDU: worker t owns the byte t signal of every frame, the main thread the byte 7 signal.
    Model m;
    VexoNode *channel = m.channel(m.cluster());
    VexoNode *frames[kFrames], *triggerings[kFrames], *owned[kFrames][kWorkers], *ticks[kFrames];
    for (int i = 0; i < kFrames; ++i) {
        VexoNode *pdu = m.signalPdu(64);
        m.place(pdu, frames[i] = m.frame(8));
        triggerings[i] = m.trigger(channel, frames[i], 0x100 + i);
        for (int t = 0; t < kWorkers; ++t)
            m.instance(owned[i][t] = m.signal(8), pdu, 8 * t);
        m.instance(ticks[i] = m.signal(8), pdu, 56);
    }
    VexoNode *extra = m.trigger(channel, frames[0], 0x1FF);

    Encoder enc(m.db, channel);
    for (VexoNode *t : triggerings)
        ASSERT_EQ(Vexo_EncoderInsert(enc, 0, t), S_OK);

    std::atomic<uint64_t> clock{1};
    std::atomic<int> failures{0};
    auto check = [&](bool ok) { failures.fetch_add(ok ? 0 : 1); };
    auto worker = [&](int t) {
        uint32_t app = 0;
        check(Vexo_EncoderRegister(enc, &app) == S_OK);
        check(Vexo_EncoderSetSendMode(enc, app, Q3_ENC_MODE_PERIODIC) == S_OK);
        for (int round = 0; round < kRounds; ++round) {
            for (int i = 0; i < kFrames; ++i)
                check(Vexo_EncoderChangeSignal(enc, app, owned[i][t], uint64_t(round + t) & 0xFF) == S_OK);
            const uint64_t now = clock.fetch_add(1);
            check(Vexo_EncoderTrigger(enc, uint32_t(now), uint32_t(now >> 32)) == S_OK);
            for (VexoChangedFrame f{}; Vexo_EncoderGetChangedFrame(enc, &f) == S_OK;)
                check(f.length == 8 && f.data != nullptr);
            if (round % 50 == 0) {
                check(Vexo_EncoderSetSendMode(enc, app, round % 100 ? Q3_ENC_MODE_ONCE : Q3_ENC_MODE_PERIODIC) == S_OK);
                check(Vexo_EncoderIsSignalCyclic(enc, owned[0][t]) == S_FALSE);
            }
        }
        check(Vexo_EncoderDeregister(enc, app) == S_OK);
    };
    auto churn = [&] {
        for (int round = 0; round < kRounds; ++round) {
            uint32_t app = 0, mode = 9;
            if (Vexo_EncoderRegister(enc, &app) == S_OK) {
                check(Vexo_EncoderGetSendMode(enc, app, &mode) == S_OK && mode == Q3_ENC_MODE_OFF);
                check(Vexo_EncoderDeregister(enc, app) == S_OK);
            }
            check(Vexo_EncoderInsert(enc, 0, extra) == S_OK);
            check(Vexo_EncoderDelete(enc, 0, extra) == S_OK);
        }
    };
    std::vector<std::thread> threads;
    threads.emplace_back(churn);
    for (int t = 0; t < kWorkers; ++t)
        threads.emplace_back(worker, t);
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(failures.load(), 0);

    // Every worker's last value reached its frame: touch each frame once more and read them.
    const uint32_t app = enc.app(Q3_ENC_MODE_PERIODIC);
    for (VexoNode *tick : ticks)
        ASSERT_EQ(Vexo_EncoderChangeSignal(enc, app, tick, 0xEE), S_OK);
    ASSERT_EQ(Vexo_EncoderTrigger(enc, 0xFFFFFFFF, 0), S_OK);
    const std::vector<Sent> sent = enc.fetch();
    EXPECT_EQ(sent.size(), size_t(kFrames));
    for (const Sent &s : sent) {
        for (int t = 0; t < kWorkers; ++t)
            EXPECT_EQ(s.data[t], uint8_t(kRounds - 1 + t)) << "worker " << t;
        EXPECT_EQ(s.data[7], 0xEE);
    }
}

// Threads writing the same signals with Vexo_encodeSignals, while the instances' write plans are decided and, after
// each change of the model, decided again, write what one thread alone writes.
TEST(EncoderConcurrency, ThreadsEncodingSignalsWriteWhatOneThreadWrites)
{
    Model m;
    VexoNode *pdu = m.signalPdu(64);
    std::vector<VexoNode *> signals;
    std::vector<VexoSignalWrite> writes;
    for (uint32_t i = 0; i < 32; ++i) {
        signals.push_back(m.signal(1 + i % 16 * 3));
        VexoSignalWrite write{};
        write.signalInstance = m.instance(signals.back(), pdu, i * 13 % 440, i % 2 == 0 ? kLE : kBE);
        write.value.valueType = Q3_VALUETYPE_DOUBLE;
        write.value.value.f64 = double(i * 37 % 100);
        writes.push_back(write);
    }
    const auto n = uint32_t(writes.size());
    for (uint32_t round = 0; round < 12; ++round) {
        Vexo_setSignal(const_cast<VexoNode *>(writes[round].signalInstance), signals[round * 7 % n]);
        std::vector<std::vector<uint8_t>> bytes(kWorkers + 1, std::vector<uint8_t>(64));
        std::vector<std::vector<HRESULT>> results(kWorkers + 1, std::vector<HRESULT>(n));
        const auto encode = [&](int t) {
            for (int k = 0; k < 20; ++k)
                Vexo_encodeSignals(writes.data(), n, bytes[t].data(), 64, results[t].data(), nullptr);
        };
        std::vector<std::thread> threads;
        for (int t = 0; t < kWorkers; ++t)
            threads.emplace_back(encode, t);
        for (std::thread &thread : threads)
            thread.join();
        encode(kWorkers);
        for (int t = 0; t < kWorkers; ++t) {
            EXPECT_EQ(bytes[t], bytes[kWorkers]) << "round " << round << ", thread " << t;
            EXPECT_EQ(results[t], results[kWorkers]) << "round " << round << ", thread " << t;
        }
    }
}

}  // namespace
