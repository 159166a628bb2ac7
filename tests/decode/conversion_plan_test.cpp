// Conversion plans against the general path: random codings of every encoding and length with random computations
// (descriptions, covering and partial linear or identity ones, mapped values) converted through Vexo_internalToPhysical
// and through the computation walk, field by field; then again after the model changed under the plan.
#include "conversion_plan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "made.h"
#include "value_conversion.h"
#include "vexo/vexo.h"

using namespace vexo;

namespace {

constexpr uint32_t kSeed = 20240611;
constexpr double kInf = std::numeric_limits<double>::infinity();

struct Random {
    std::mt19937_64 rng{kSeed};
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(rng() % n); }
    template <class T, size_t N> T pick(const T (&items)[N]) { return items[below(N)]; }
};

struct Coding {  // low() and high(): the lowest and highest value an integer reading of the field gives
    VexoNode *node = nullptr, *signal = nullptr;
    uint32_t bitlen = 0, encoding = 0;
    bool is(uint32_t type) const { return (encoding & Q3_ENCODING_TYPEMASK) == type; }
    double low() const { return is(Q3_ENCODING_2COMPL) ? -std::ldexp(1.0, bits() - 1) : 0; }
    double high() const { return is(Q3_ENCODING_2COMPL) ? -low() - 1 : std::ldexp(1.0, bits()) - 1; }
    int bits() const { return bitlen == 0 ? 1 : bitlen > 64 ? 64 : int(bitlen); }
};

// Limits for generated ranges, to land on, beside and around the field's ends and inside it.
double edge(Random &r, const Coding &c)
{
    const double low = c.low(), high = c.high();
    const double choices[] = {low, high, low - 1, high + 1, low + 0.5, high - 0.5, 0, 1, -1, 3, -kInf, kInf,
                              std::floor((low + high) / 2)};
    return r.pick(choices);
}

Coding makeCoding(VexoNode *db, Random &r)
{
    static const uint32_t kEncodings[] = {Q3_ENCODING_DIRECT, Q3_ENCODING_DIRECT, Q3_ENCODING_2COMPL,
        Q3_ENCODING_2COMPL, Q3_ENCODING_IEEE, Q3_ENCODING_DIRECT | Q3_ENCODING_SIGNED, Q3_ENCODING_1COMPL,
        Q3_ENCODING_PACKED_BCD, Q3_ENCODING_2COMPL | Q3_ENCODING_SIGNED, Q3_ENCODING_ASCII};
    static const uint32_t kLengths[] = {0, 1, 2, 7, 8, 12, 16, 31, 32, 33, 52, 63, 64, 65};
    Coding c;
    c.encoding = r.pick(kEncodings);
    c.bitlen = c.is(Q3_ENCODING_IEEE) && r.below(4) != 0 ? 32 + 32 * r.below(2) : r.pick(kLengths);
    c.node = made(Vexo_createCoding, db, nullptr, c.bitlen, c.encoding, nullptr);
    c.signal = made(Vexo_createSignal, db, nullptr, 0u, 0.0, 0.0, 0.0, c.node);
    return c;
}

VexoNode *textComputation(VexoNode *db)
{
    VexoStringSlot *slot = nullptr;
    EXPECT_EQ(Vexo_stringCreateSlot(db, 0, u"described", &slot), S_OK);
    return made(Vexo_createMappedTextComputation, db, nullptr, slot);
}

void addComputation(VexoNode *db, const Coding &c, Random &r, std::vector<double> &keys)
{
    const uint32_t kind = r.below(6);  // descriptions and linear computations twice as often
    const double scale = r.below(3) == 0 ? 1.0 : 0.001 * (1 + r.below(1000)), offset = r.below(2) == 0 ? 0.0 : -40.5;
    VexoNode *computation = kind < 2    ? textComputation(db)
                            : kind < 4  ? made(Vexo_createLinearComputation, db, nullptr, scale, offset)
                            : kind == 4 ? made(Vexo_createIdentityComputation, db, nullptr)
                                        : made(Vexo_createMappedValueComputation, db, nullptr, 7.25);
    for (uint32_t i = 0, ranges = r.below(4) == 0 ? 0 : 1 + r.below(2); i < ranges; ++i) {
        double lower = edge(r, c), upper = edge(r, c);
        if (r.below(2) == 0)
            upper = lower;  // a value description
        else if (upper < lower)
            std::swap(lower, upper);
        Vexo_addRange(computation, lower, upper, r.below(5) == 0 ? r.below(3) : 3);
        keys.insert(keys.end(), {lower, upper});
    }
    Vexo_addInternalToPhysicalComputations(c.node, 1, &computation);
}

// What an import makes: one-value descriptions (some outside the field), then a linear rule over it all.
void addImportedShape(VexoNode *db, const Coding &c, Random &r, std::vector<double> &keys)
{
    for (uint32_t k = 0, described = r.below(4); k < described; ++k) {
        VexoNode *text = textComputation(db);
        const double value = r.below(3) == 0 ? edge(r, c) : double(r.below(5)) - 1;
        Vexo_addRange(text, value, value, 3);
        keys.push_back(value);
        Vexo_addInternalToPhysicalComputations(c.node, 1, &text);
    }
    VexoNode *linear = made(Vexo_createLinearComputation, db, nullptr, 0.125, -3.0);
    const bool isFloat = c.is(Q3_ENCODING_IEEE);
    Vexo_addRange(linear, isFloat ? -kInf : c.low(), isFloat ? kInf : c.high(), 3);
    Vexo_addInternalToPhysicalComputations(c.node, 1, &linear);
}

// Raw values worth converting: random ones, the field's edges and the range limits.
std::vector<uint64_t> rawValues(const Coding &c, const std::vector<double> &keys, Random &r)
{
    std::vector<uint64_t> raws = {0, 1, ~uint64_t(0), uint64_t(1) << 63, r.rng(), r.rng(), r.rng(), r.rng()};
    for (uint32_t n : {c.bitlen, c.bitlen - 1, c.bitlen + 1})
        raws.insert(raws.end(), {(uint64_t(1) << n % 64) - 1, uint64_t(1) << n % 64});
    for (double key : keys)
        raws.push_back(std::isfinite(key) && std::fabs(key) < 9e18 ? uint64_t(int64_t(key)) : 0);
    return raws;
}

void expectSameConversion(const Coding &c, uint64_t raw)  // plan against the reading, then each computation in turn
{
    SignalValue fast{}, general{};
    fast.reserved = general.reserved = 0x5A5A;
    const auto *coding = core::nodeAs<core::Coding>(c.node);
    const HRESULT fastResult = Vexo_internalToPhysical(c.signal, raw, &fast);
    HRESULT generalResult = decode::decodeInternal(*coding, raw, &general);
    if (generalResult == S_OK)
        generalResult = decode::applyComputations(*coding, &general);
    EXPECT_EQ(fastResult, generalResult);
    if (generalResult == E_UNEXPECTED)
        return;  // the value is not meaningful then
    const auto fields = [](const SignalValue &v) {
        return std::make_tuple(v.valueType, v.value.u64, v.computation, v.text);
    };
    EXPECT_EQ(fields(fast), fields(general)) << fast.value.f64 << " / " << general.value.f64;
    EXPECT_EQ(fast.reserved, 0x5A5Au);
}

}  // namespace

TEST(ConversionPlan, GivesWhatTheComputationWalkGivesForRandomCodings)
{
    Random r;
    VexoNode *db = made(Vexo_create, nullptr);
    size_t planned[2] = {};  // by shape: random computations, imported
    for (int i = 0; i < 3000; ++i) {
        SCOPED_TRACE("seed=" + std::to_string(kSeed) + " coding " + std::to_string(i));
        const Coding c = makeCoding(db, r);
        std::vector<double> keys;
        const bool imported = r.below(2) == 0;
        if (imported)
            addImportedShape(db, c, r, keys);
        for (uint32_t k = 0, computations = imported ? 0 : r.below(5); k < computations; ++k)
            addComputation(db, c, r, keys);
        for (uint64_t raw : rawValues(c, keys, r))
            expectSameConversion(c, raw);
        const auto *plan = decode::conversionPlanOf(*core::nodeAs<core::Coding>(c.node));
        planned[imported] += plan != nullptr && plan->reading != decode::Reading::General ? 1 : 0;
        addComputation(db, c, r, keys);  // the plan must follow the model
        for (uint64_t raw : rawValues(c, keys, r))
            expectSameConversion(c, raw);
    }
    // Many codings take the plan: every imported one whose encoding has a plain reading (about half).
    EXPECT_GT(planned[0], 200u);
    EXPECT_GT(planned[1], 700u);
    Vexo_destroy(db);
}
