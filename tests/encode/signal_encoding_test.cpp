// The computation search for a physical value and the writing of one signal instance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <random>
#include <vector>

#include "conversion_plan.h"
#include "encode_stepwise.h"
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

// Random ranges (equal, infinite or NaN limits, every flag, gaps, none) and values of every type: the search yields
// exactly the computations the range test accepts, in list order, through one state handed back each time.
TEST(SignalEncoding, SearchAgreesWithTheRangeTestAndRefusesWrongArgumentsAndStates)
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

    VexoNode *signal = m.signal(8);
    const SignalValue v = {Q3_VALUETYPE_DOUBLE, 0, {1.0}, nullptr, nullptr};
    state = nullptr;
    EXPECT_EQ(Vexo_encodeSignal(nullptr, &v, &state), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignal(signal, nullptr, &state), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignal(signal, &v, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignal(m.frame(1), &v, &state), E_INVALIDARG);
    EXPECT_EQ(state, nullptr);

    auto *foreign = reinterpret_cast<VexoEncodeState *>(signal);  // a handle holding something else is no state
    EXPECT_EQ(Vexo_encodeSignal(signal, &v, &foreign), E_INVALIDARG);
    VexoNode *computation = nullptr;
    EXPECT_EQ(Vexo_encodeNextComputation(foreign, &computation), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeNextComputation(nullptr, &computation), E_INVALIDARG);
    EXPECT_EQ(Vexo_destroyEncodeEnum(foreign), E_INVALIDARG);
    EXPECT_EQ(Vexo_destroyEncodeEnum(nullptr), S_OK);
    ASSERT_EQ(Vexo_encodeSignal(signal, &v, &state), S_OK);
    EXPECT_EQ(Vexo_encodeNextComputation(state, nullptr), E_INVALIDARG);
    VexoNode *bare = m.make(Vexo_createSignal, m.id(), 0u, 0.0, 0.0, 0.0, static_cast<VexoNode *>(nullptr));
    EXPECT_EQ(Vexo_encodeSignal(bare, &v, &state), S_FALSE);  // no coding: a state is made, the search is empty
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

// Values around the edges a plan must get right: ends of integer fields, half steps, signed zeros, infinities, NaN.
double edgeValue(std::mt19937_64 &random)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double values[] = {0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 127.5, -128.5, 255.5, 4095.5, 65535.5, 1e19, -1e19,
                             9223372036854775807.0, 18446744073709551615.0, 1e300, inf, -inf,
                             std::numeric_limits<double>::quiet_NaN(), double(int64_t(random() % 2001) - 1000) / 4};
    const double value = values[random() % (sizeof values / sizeof values[0])];
    const uint64_t nudge = random() % 4;
    return nudge == 0 ? std::nextafter(value, inf) : nudge == 1 ? std::nextafter(value, -inf) : value;
}

// Adds to coding a linear (as imported, or random), identity or never converting text computation with random ranges.
void addRandomComputation(Model &m, VexoNode *coding, std::mt19937_64 &random)
{
    const double scales[] = {1.0, 0.5, 4.0, -2.0, 0.001, 1e-300, 0.0};
    const uint32_t kind = uint32_t(random() % 5);
    VexoStringSlot *slot = nullptr;
    VexoNode *computation =
        kind < 3 ? m.make(Vexo_createLinearComputation, m.id(), scales[random() % 7], edgeValue(random))
        : kind == 3 ? m.make(Vexo_createIdentityComputation, m.id())
                    : (Vexo_stringCreateSlot(m.db, 0, u"text", &slot),
                       m.make(Vexo_createMappedTextComputation, m.id(), slot));
    for (int r = 0, ranges = int(random() % 4 == 0 ? random() % 3 : 1); r < ranges; ++r) {
        double lower = edgeValue(random), upper = edgeValue(random);
        if (random() % 4 != 0 && upper < lower)
            std::swap(lower, upper);
        Vexo_addRange(computation, lower, upper, uint32_t(random() % 4));
    }
    Vexo_addPhysicalToInternalComputations(coding, 1, &computation);
}

// What an import gives an integer field with a linear rule (scale, offset): a computation for raw
// values from 0 up, rounding half up, one for negative ones, each over the values rounding into it.
void addImportedPieces(Model &m, VexoNode *coding, uint32_t bitlen, bool isSigned, double scale, double offset)
{
    const double low = isSigned ? -std::ldexp(1.0, int(bitlen) - 1) : 0;
    const double high = isSigned ? -low - 1 : std::ldexp(1.0, int(bitlen)) - 1;
    const auto piece = [&](double from, double to, uint32_t flags, double bias) {
        double a = offset + scale * from, b = offset + scale * to;
        if (scale < 0)
            std::swap(a, b), flags = ((flags & 1) << 1) | ((flags & 2) >> 1);
        VexoNode *back = m.make(Vexo_createLinearComputation, m.id(), 1 / scale, -offset / scale + bias);
        Vexo_addRange(back, a, b, flags);
        Vexo_addPhysicalToInternalComputations(coding, 1, &back);
    };
    piece(std::max(low, 0.0) - 0.5, high + 0.5, Q3_FLAG_LOWERLIMIT_CLOSED, 0.5);
    if (low < 0)
        piece(low - 0.5, -0.5, 0, -0.5);
}

// Random codings of every encoding and length with random computations, values of every type, fields of both byte
// orders: Vexo_encodeSignals writes the bytes and results of the one-value functions, also after the model changed
// (computations added, instances given another signal).
TEST(SignalEncoding, EncodeSignalsDoesWhatTheOneValueFunctionsDo)
{
    Model m;
    std::mt19937_64 random(11);
    const uint32_t encodings[] = {Q3_ENCODING_DIRECT, Q3_ENCODING_DIRECT, Q3_ENCODING_2COMPL, Q3_ENCODING_2COMPL,
                                  Q3_ENCODING_IEEE, Q3_ENCODING_DIRECT | Q3_ENCODING_SIGNED, Q3_ENCODING_1COMPL,
                                  Q3_ENCODING_PACKED_BCD, Q3_ENCODING_ASCII};
    const uint32_t lengths[] = {0, 1, 7, 8, 12, 16, 32, 33, 52, 63, 64, 65};
    VexoNode *pdu = m.signalPdu(16);
    size_t planned = 0;
    for (int trial = 0; trial < 1500; ++trial) {
        SCOPED_TRACE("seed 11, trial " + std::to_string(trial));
        const uint32_t encoding = encodings[random() % 9], bitlen = lengths[random() % 12];
        VexoNode *coding = m.make(Vexo_createCoding, m.id(), bitlen, encoding, static_cast<VexoNode *>(nullptr));
        if (random() % 3 == 0 && bitlen >= 1 && bitlen <= 64) {
            const double scales[] = {1.0, 0.25, 0.1, -2.0};
            addImportedPieces(m, coding, bitlen, (encoding & Q3_ENCODING_TYPEMASK) == Q3_ENCODING_2COMPL,
                              scales[random() % 4], random() % 2 == 0 ? 0.0 : -40.0);
        }
        for (int c = 0, count = int(random() % 3); c < count; ++c)
            addRandomComputation(m, coding, random);
        VexoNode *signal = m.make(Vexo_createSignal, m.id(), 0u, 0.0, 0.0, 0.0, random() % 20 == 0 ? nullptr : coding);
        // A second signal of another length, which some instances take between the passes.
        const uint32_t otherLength = 1 + uint32_t(random() % 64);
        VexoNode *otherCoding = m.make(Vexo_createCoding, m.id(), otherLength, uint32_t(Q3_ENCODING_DIRECT),
                                       static_cast<VexoNode *>(nullptr));
        addImportedPieces(m, otherCoding, otherLength, false, 0.5, 0.0);
        VexoNode *other = m.make(Vexo_createSignal, m.id(), 0u, 0.0, 0.0, 0.0, otherCoding);
        std::vector<VexoSignalWrite> writes(8);
        for (VexoSignalWrite &write : writes) {
            write.signalInstance = m.instance(random() % 30 == 0 ? nullptr : signal, pdu, uint32_t(random() % 130),
                                              random() % 2 == 0 ? kLE : kBE);
            write.value.valueType =
                random() % 40 == 0 ? 7 : random() % 3 != 0 ? Q3_VALUETYPE_DOUBLE : uint32_t(random() % 3);
            write.value.value.f64 = edgeValue(random);
            if (write.value.valueType != Q3_VALUETYPE_DOUBLE)
                write.value.value.u64 = random() % 2 == 0 ? random() : random() % 300 - 100;
        }
        for (int pass = 0; pass < 2; ++pass) {
            const uint32_t length = random() % 2 == 0 ? 16 : 8 + uint32_t(random() % 8);
            std::vector<uint8_t> want(16);
            for (uint8_t &byte : want)
                byte = uint8_t(random());
            std::vector<uint8_t> got = want;
            std::vector<HRESULT> wanted, results(writes.size());
            for (const VexoSignalWrite &write : writes)
                wanted.push_back(encodeStepwise(write, want.data(), length));
            uint32_t written = 99;
            const HRESULT all = Vexo_encodeSignals(writes.data(), uint32_t(writes.size()), got.data(), length,
                                                   results.data(), &written);
            EXPECT_EQ(got, want) << "pass " << pass;
            EXPECT_EQ(results, wanted) << "pass " << pass;
            const auto ok = uint32_t(std::count(wanted.begin(), wanted.end(), S_OK));
            EXPECT_TRUE(written == ok && all == (ok == writes.size() ? S_OK : S_FALSE));
            const auto *plan = vexo::decode::conversionPlanOf(*vexo::core::nodeAs<vexo::core::Coding>(coding));
            if (pass == 0 && plan != nullptr && plan->encodePieceCount != 0)
                planned += ok;
            addRandomComputation(m, coding, random);  // the plans must follow the model
            for (VexoSignalWrite &write : writes)
                if (random() % 4 == 0)
                    Vexo_setSignal(const_cast<VexoNode *>(write.signalInstance), other);
        }
    }
    EXPECT_GT(planned, 400u) << "fields written through a plan";
    uint8_t buffer[8] = {};
    const VexoSignalWrite none{};
    EXPECT_EQ(Vexo_encodeSignals(&none, 1, nullptr, 8, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignals(&none, 1, buffer, 0, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignals(nullptr, 1, buffer, 8, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(Vexo_encodeSignals(nullptr, 0, buffer, 8, nullptr, nullptr), S_OK);
    EXPECT_EQ(Vexo_encodeSignals(&none, 1, buffer, 8, nullptr, nullptr), S_FALSE) << "no SignalInstance";
}

}  // namespace
