// Conversion plans against the general path: random codings of every encoding and length
// with random computations (value descriptions, covering and partial linear and identity
// computations, mapped values), converted through Vexo_internalToPhysical and through the
// computation walk, field by field; then again after the model changed under the plan.
#include "conversion_plan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "value_conversion.h"
#include "vexo/constants.h"
#include "vexo/convert.h"
#include "vexo/core.h"
#include "vexo/model.h"

using namespace vexo;

namespace {

constexpr uint32_t kSeed = 20240611;
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Random {
    std::mt19937_64 rng{kSeed};
    uint64_t bits() { return rng(); }
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(rng() % n); }
    template <class T, size_t N>
    T pick(const T (&items)[N]) { return items[below(N)]; }
};

// The value a coding's reading gives at its domain's ends, and some inside: the limits a
// generated range uses, so that ranges land on, beside and around the edges.
double edge(Random &r, uint32_t bitlen, uint32_t encoding)
{
    const uint32_t n = bitlen == 0 ? 1 : bitlen > 64 ? 64 : bitlen;
    const double top = std::ldexp(1.0, static_cast<int>(n)) - 1;
    const bool isSigned = (encoding & Q3_ENCODING_TYPEMASK) == Q3_ENCODING_2COMPL;
    const double low = isSigned ? -std::ldexp(1.0, static_cast<int>(n) - 1) : 0;
    const double high = isSigned ? std::ldexp(1.0, static_cast<int>(n) - 1) - 1 : top;
    const double choices[] = {low, high, low - 1, high + 1, low + 0.5, high - 0.5, 0, 1, -1, 3, -kInf, kInf,
                              std::floor((low + high) / 2)};
    return r.pick(choices);
}

struct Coding {
    VexoNode *node = nullptr;
    VexoNode *signal = nullptr;
    uint32_t bitlen = 0, encoding = 0;
};

Coding makeCoding(VexoNode *db, Random &r)
{
    static const uint32_t kEncodings[] = {
        Q3_ENCODING_DIRECT,         Q3_ENCODING_DIRECT, Q3_ENCODING_2COMPL, Q3_ENCODING_2COMPL, Q3_ENCODING_IEEE,
        Q3_ENCODING_DIRECT | Q3_ENCODING_SIGNED, Q3_ENCODING_1COMPL, Q3_ENCODING_PACKED_BCD,
        Q3_ENCODING_2COMPL | Q3_ENCODING_SIGNED, Q3_ENCODING_ASCII};
    static const uint32_t kLengths[] = {0, 1, 2, 7, 8, 12, 16, 31, 32, 33, 52, 63, 64, 65};
    Coding c;
    c.encoding = r.pick(kEncodings);
    c.bitlen = (c.encoding & Q3_ENCODING_TYPEMASK) == Q3_ENCODING_IEEE && r.below(4) != 0 ? 32 + 32 * r.below(2)
                                                                                             : r.pick(kLengths);
    EXPECT_EQ(Vexo_createCoding(db, nullptr, c.bitlen, c.encoding, nullptr, &c.node), S_OK);
    EXPECT_EQ(Vexo_createSignal(db, nullptr, 0, 0, 0, 0, c.node, &c.signal), S_OK);
    return c;
}

// Appends one random computation with random ranges to a coding.
void addComputation(VexoNode *db, const Coding &c, Random &r, std::vector<double> &keys)
{
    VexoNode *computation = nullptr;
    VexoStringSlot *slot = nullptr;
    switch (r.below(6)) {
    case 0:
    case 1:
        Vexo_stringCreateSlot(db, 0, u"described", &slot);
        Vexo_createMappedTextComputation(db, nullptr, slot, &computation);
        break;
    case 2:
    case 3:
        Vexo_createLinearComputation(db, nullptr, r.below(3) == 0 ? 1.0 : 0.001 * (1 + r.below(1000)),
                                     r.below(2) == 0 ? 0.0 : -40.5, &computation);
        break;
    case 4:
        Vexo_createIdentityComputation(db, nullptr, &computation);
        break;
    default:
        Vexo_createMappedValueComputation(db, nullptr, 7.25, &computation);
        break;
    }
    const uint32_t ranges = r.below(4) == 0 ? 0 : 1 + r.below(2);
    for (uint32_t i = 0; i < ranges; ++i) {
        double lower = edge(r, c.bitlen, c.encoding), upper = edge(r, c.bitlen, c.encoding);
        if (r.below(2) == 0)
            upper = lower;  // a value description
        else if (upper < lower)
            std::swap(lower, upper);
        Vexo_addRange(computation, lower, upper, r.below(5) == 0 ? r.below(3) : 3);
        keys.push_back(lower);
        keys.push_back(upper);
    }
    Vexo_addInternalToPhysicalComputations(c.node, 1, &computation);
}

// What an import makes: descriptions on one value each (some outside the field), then one
// linear rule over the field's whole domain.
void addImportedShape(VexoNode *db, const Coding &c, Random &r, std::vector<double> &keys)
{
    const uint32_t described = r.below(4);
    for (uint32_t k = 0; k < described; ++k) {
        VexoStringSlot *slot = nullptr;
        VexoNode *text = nullptr;
        Vexo_stringCreateSlot(db, 0, u"described", &slot);
        Vexo_createMappedTextComputation(db, nullptr, slot, &text);
        const double value = r.below(3) == 0 ? edge(r, c.bitlen, c.encoding) : double(r.below(5)) - 1;
        Vexo_addRange(text, value, value, 3);
        keys.push_back(value);
        Vexo_addInternalToPhysicalComputations(c.node, 1, &text);
    }
    const uint32_t n = c.bitlen == 0 ? 1 : c.bitlen > 64 ? 64 : c.bitlen;
    const bool isSigned = (c.encoding & Q3_ENCODING_TYPEMASK) == Q3_ENCODING_2COMPL;
    const bool isFloat = (c.encoding & Q3_ENCODING_TYPEMASK) == Q3_ENCODING_IEEE;
    const double lo = isFloat ? -kInf : isSigned ? -std::ldexp(1.0, int(n) - 1) : 0;
    const double hi = isFloat ? kInf : isSigned ? std::ldexp(1.0, int(n) - 1) - 1 : std::ldexp(1.0, int(n)) - 1;
    VexoNode *linear = nullptr;
    Vexo_createLinearComputation(db, nullptr, 0.125, -3, &linear);
    Vexo_addRange(linear, lo, hi, 3);
    Vexo_addInternalToPhysicalComputations(c.node, 1, &linear);
}

// Raw values worth converting: random ones, the field's edges and the range limits.
std::vector<uint64_t> rawValues(const Coding &c, const std::vector<double> &keys, Random &r)
{
    std::vector<uint64_t> raws = {0, 1, ~uint64_t(0), uint64_t(1) << 63};
    for (uint32_t n : {c.bitlen, c.bitlen - 1, c.bitlen + 1}) {
        if (n < 64)
            raws.push_back((uint64_t(1) << n) - 1), raws.push_back(uint64_t(1) << n);
    }
    for (double key : keys) {
        if (std::isfinite(key) && std::fabs(key) < 9e18)
            raws.push_back(static_cast<uint64_t>(static_cast<int64_t>(key)));
    }
    for (int i = 0; i < 8; ++i)
        raws.push_back(r.bits());
    return raws;
}

// The general path: the reading, then every computation in turn.
HRESULT generalConversion(VexoNode *signal, uint64_t raw, SignalValue *out)
{
    const auto *coding = core::nodeAs<core::Coding>(core::nodeAs<core::Signal>(signal)->reference);
    out->computation = nullptr;
    out->text = nullptr;
    const HRESULT decoded = decode::decodeInternal(*coding, raw, out);
    return decoded != S_OK ? decoded : decode::applyComputations(*coding, out);
}

void expectSameConversion(const Coding &c, uint64_t raw)
{
    SignalValue fast{}, general{};
    fast.reserved = general.reserved = 0x5A5A;
    const HRESULT fastResult = Vexo_internalToPhysical(c.signal, raw, &fast);
    const HRESULT generalResult = generalConversion(c.signal, raw, &general);
    EXPECT_EQ(fastResult, generalResult);
    if (generalResult == E_UNEXPECTED)
        return;  // the value is not meaningful then
    EXPECT_EQ(fast.valueType, general.valueType);
    EXPECT_EQ(fast.value.u64, general.value.u64) << fast.value.f64 << " / " << general.value.f64;
    EXPECT_EQ(fast.computation, general.computation);
    EXPECT_EQ(fast.text, general.text);
    EXPECT_EQ(fast.reserved, 0x5A5Au);
}

}  // namespace

TEST(ConversionPlan, GivesWhatTheComputationWalkGivesForRandomCodings)
{
    Random r;
    VexoNode *db = nullptr;
    ASSERT_EQ(Vexo_create(nullptr, &db), S_OK);
    size_t planned = 0;
    for (int i = 0; i < 3000; ++i) {
        SCOPED_TRACE("seed=" + std::to_string(kSeed) + " coding " + std::to_string(i));
        const Coding c = makeCoding(db, r);
        std::vector<double> keys;
        if (r.below(2) == 0) {
            addImportedShape(db, c, r, keys);
        } else {
            const uint32_t computations = r.below(5);
            for (uint32_t k = 0; k < computations; ++k)
                addComputation(db, c, r, keys);
        }
        for (uint64_t raw : rawValues(c, keys, r))
            expectSameConversion(c, raw);
        const auto *plan = decode::conversionPlanOf(*core::nodeAs<core::Coding>(c.node));
        planned += plan != nullptr && plan->reading != decode::Reading::General ? 1 : 0;
        // The plan follows the model: one more computation or range, then again.
        addComputation(db, c, r, keys);
        for (uint64_t raw : rawValues(c, keys, r))
            expectSameConversion(c, raw);
    }
    // Most codings take the plan, or the test would not test it.
    EXPECT_GT(planned, 800u);
    Vexo_destroy(db);
}

TEST(ConversionPlan, ImportedShapeTakesThePlan)
{
    // Two descriptions on an 8-bit two's complement signal, then factor 0.5 over -128..127.
    VexoNode *db = nullptr, *coding = nullptr, *signal = nullptr, *linear = nullptr;
    ASSERT_EQ(Vexo_create(nullptr, &db), S_OK);
    Vexo_createCoding(db, nullptr, 8, Q3_ENCODING_2COMPL, nullptr, &coding);
    Vexo_createSignal(db, nullptr, 0, 0, 0, 0, coding, &signal);
    VexoStringSlot *slots[2] = {};
    VexoNode *texts[2] = {};
    const double described[2] = {-1, 5};
    for (int i = 0; i < 2; ++i) {
        Vexo_stringCreateSlot(db, 0, i == 0 ? u"minus one" : u"five", &slots[i]);
        Vexo_createMappedTextComputation(db, nullptr, slots[i], &texts[i]);
        Vexo_addRange(texts[i], described[i], described[i], 3);
    }
    Vexo_createLinearComputation(db, nullptr, 0.5, 10, &linear);
    Vexo_addRange(linear, -128, 127, 3);
    Vexo_addInternalToPhysicalComputations(coding, 2, texts);
    Vexo_addInternalToPhysicalComputations(coding, 1, &linear);

    const auto *plan = decode::conversionPlanOf(*core::nodeAs<core::Coding>(coding));
    ASSERT_NE(plan, nullptr);
    EXPECT_EQ(plan->reading, decode::Reading::Twos);
    EXPECT_EQ(plan->step, decode::Step::Linear);
    EXPECT_EQ(plan->texts.size(), 2u);
    SignalValue value{};
    EXPECT_EQ(Vexo_internalToPhysical(signal, 0xFF, &value), S_OK);
    EXPECT_EQ(value.valueType, uint32_t(Q3_VALUETYPE_DOUBLE));
    EXPECT_EQ(value.value.f64, 9.5);
    EXPECT_EQ(value.computation, linear);
    EXPECT_EQ(value.text, slots[0]);
    // A description over several values is not a shape the plan takes.
    Vexo_addRange(texts[1], 0, 3, 3);
    plan = decode::conversionPlanOf(*core::nodeAs<core::Coding>(coding));
    EXPECT_EQ(plan->reading, decode::Reading::General);
    EXPECT_EQ(Vexo_internalToPhysical(signal, 0x02, &value), S_OK);
    EXPECT_EQ(value.text, slots[1]);
    Vexo_destroy(db);
}
