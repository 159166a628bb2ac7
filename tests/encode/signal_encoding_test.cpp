// The computation search for a physical value and the writing of one signal instance.
#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <vector>

#include "encode_test_model.h"
#include "node_classes.h"
#include "value_conversion.h"

using namespace encode_test;

namespace {

std::vector<VexoNode *> matches(VexoNode *signal, const SignalValue &v, VexoEncodeState **state)
{
    std::vector<VexoNode *> out;
    EXPECT_EQ(Vexo_encodeSignal(signal, &v, state), S_OK);
    VexoNode *computation = nullptr;
    while (Vexo_encodeNextComputation(*state, &computation) == S_OK)
        out.push_back(computation);
    EXPECT_EQ(Vexo_encodeNextComputation(*state, &computation), S_FALSE) << "stays exhausted";
    return out;
}

// Random ranges (limits equal, infinite or NaN, every flag, gaps between ranges, none at
// all) and values of every type: the search yields exactly the computations the range test
// accepts, in list order, through one state handed back each time.
TEST(SignalEncoding, SearchAgreesWithTheRangeTest)
{
    Model m;
    std::mt19937_64 random(5);
    const double inf = std::numeric_limits<double>::infinity();
    const double limits[] = {-1.0, 0.0, 0.5, 1.0, 3.0, -inf, inf, std::numeric_limits<double>::quiet_NaN()};
    VexoEncodeState *state = nullptr, *first = nullptr;
    for (int trial = 0; trial < 200; ++trial) {
        VexoNode *coding = m.coding(8);
        std::vector<VexoNode *> computations;
        for (int c = 0, count = int(random() % 4); c < count; ++c) {
            computations.push_back(m.make(Vexo_createLinearComputation, m.id(), 1.0, 0.0));
            for (int r = 0, ranges = int(random() % 3); r < ranges; ++r)
                Vexo_addRange(computations.back(), limits[random() % 8], limits[random() % 8], uint32_t(random() % 4));
        }
        Vexo_addPhysicalToInternalComputations(coding, uint32_t(computations.size()), computations.data());
        VexoNode *signal = m.make(Vexo_createSignal, m.id(), 0u, 0.0, 0.0, 0.0, coding);
        for (int i = 0; i < 12; ++i) {
            SignalValue value{};
            value.valueType = uint32_t(random() % 3);
            if (value.valueType == Q3_VALUETYPE_DOUBLE)
                value.value.f64 = limits[random() % 8] + (random() % 2 == 0 ? 0.0 : 0.25);
            else
                value.value.i64 = int64_t(random() % 5) - 1;
            std::vector<VexoNode *> want;
            for (VexoNode *computation : computations)
                if (vexo::decode::computationMatches(*vexo::core::nodeAs<vexo::core::Computation>(computation), value))
                    want.push_back(computation);
            EXPECT_EQ(matches(signal, value, &state), want)
                << "seed 5, trial " << trial << ", type " << value.valueType;
            first = first == nullptr ? state : first;
            EXPECT_EQ(state, first) << "a state handed back is reused";
        }
    }
    EXPECT_EQ(Vexo_destroyEncodeEnum(state), S_OK);
}

TEST(SignalEncoding, RefusesWrongArgumentsAndStates)
{
    Model m;
    VexoNode *signal = m.signal(8);
    const SignalValue v = {Q3_VALUETYPE_DOUBLE, 0, {1.0}, nullptr, nullptr};
    VexoEncodeState *state = nullptr;
    EXPECT_EQ(Vexo_encodeSignal(nullptr, &v, &state), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignal(signal, nullptr, &state), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignal(signal, &v, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignal(m.frame(1), &v, &state), E_INVALIDARG);
    EXPECT_EQ(state, nullptr);

    // A handle holding something else (here a node) is no state.
    auto *foreign = reinterpret_cast<VexoEncodeState *>(signal);
    EXPECT_EQ(Vexo_encodeSignal(signal, &v, &foreign), E_INVALIDARG);
    VexoNode *computation = nullptr;
    EXPECT_EQ(Vexo_encodeNextComputation(foreign, &computation), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeNextComputation(nullptr, &computation), E_INVALIDARG);
    EXPECT_EQ(Vexo_destroyEncodeEnum(foreign), E_INVALIDARG);
    EXPECT_EQ(Vexo_destroyEncodeEnum(nullptr), S_OK);
    ASSERT_EQ(Vexo_encodeSignal(signal, &v, &state), S_OK);
    EXPECT_EQ(Vexo_encodeNextComputation(state, nullptr), E_INVALIDARG);
    // A signal without coding: the state is made, the search is empty.
    VexoNode *bare = m.make(Vexo_createSignal, m.id(), 0u, 0.0, 0.0, 0.0, static_cast<VexoNode *>(nullptr));
    EXPECT_EQ(Vexo_encodeSignal(bare, &v, &state), S_FALSE);
    EXPECT_EQ(Vexo_encodeNextComputation(state, &computation), S_FALSE);
    EXPECT_EQ(Vexo_destroyEncodeEnum(state), S_OK);
}

TEST(SignalEncoding, WritesInstancesOfBothByteOrdersAndClips)
{
    Model m;
    VexoNode *pdu = m.signalPdu(16), *s8 = m.signal(8), *s16 = m.signal(16);
    struct Case { const char *what; VexoNode *instance; uint64_t value; uint8_t initial, want0, want1; };
    const Case cases[] = {
        {"LE at 12: upper nibble clipped, bits around kept", m.instance(s8, pdu, 12, kLE), 0xAB, 0xFF, 0xFF, 0xBF},
        {"BE 16-bit word at 7", m.instance(s16, pdu, 7, kBE), 0x1234, 0x00, 0x12, 0x34},
        {"value bits above the coding are dropped", m.instance(s8, pdu, 0, kLE), 0x1FF, 0x00, 0xFF, 0x00},
    };
    for (const Case &c : cases) {
        uint8_t buffer[3] = {c.initial, c.initial, 0x5A};  // byte 2 lies outside the length given
        EXPECT_EQ(Vexo_encodeSignalInstance(c.instance, c.value, buffer, 2), S_OK);
        EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 3), (std::vector<uint8_t>{c.want0, c.want1, 0x5A})) << c.what;
    }

    uint8_t buffer[2] = {1, 2};
    VexoNode *instance = m.instance(s8, pdu, 0), *orphan = m.instance(nullptr, pdu, 0);
    VexoNode *bare = m.make(Vexo_createSignal, m.id(), 0u, 0.0, 0.0, 0.0, static_cast<VexoNode *>(nullptr));
    EXPECT_EQ(Vexo_encodeSignalInstance(nullptr, 1, buffer, 2), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignalInstance(instance, 1, nullptr, 2), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignalInstance(instance, 1, buffer, 0), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignalInstance(pdu, 1, buffer, 2), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignalInstance(orphan, 1, buffer, 2), E_UNEXPECTED);
    EXPECT_EQ(Vexo_encodeSignalInstance(m.instance(bare, pdu, 0), 1, buffer, 2), E_UNEXPECTED);
    EXPECT_TRUE(buffer[0] == 1 && buffer[1] == 2);
}

}  // namespace
