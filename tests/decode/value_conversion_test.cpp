// Value conversion: every encoding both ways, computations and their ranges, signal limits,
// text formatting; random round trips and the double encoding against the general one.
#include "value_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>

#include "node_classes.h"
#include "made.h"
#include "test_text.h"
#include "vexo/vexo.h"

using namespace vexo::core;
using vexo::decode::isInRange;

namespace {

constexpr uint32_t kDirect = Q3_ENCODING_DIRECT, kSigned = Q3_ENCODING_SIGNED, kOnes = Q3_ENCODING_1COMPL;
constexpr uint32_t kTwos = Q3_ENCODING_2COMPL, kIeee = Q3_ENCODING_IEEE, kAscii = Q3_ENCODING_ASCII;
constexpr uint32_t kPacked = Q3_ENCODING_PACKED_BCD, kUnpacked = Q3_ENCODING_UNPACKED_BCD;
constexpr uint32_t kClosed = Q3_FLAG_LOWERLIMIT_CLOSED | Q3_FLAG_UPPERLIMIT_CLOSED;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr uint64_t kTwo53 = uint64_t(1) << 53;

SignalValue dbl(double v) { return {Q3_VALUETYPE_DOUBLE, 0, {v}, nullptr, nullptr}; }
SignalValue u64(uint64_t v) { SignalValue s{Q3_VALUETYPE_UINT64, 0, {}, nullptr, nullptr}; s.value.u64 = v; return s; }
SignalValue i64(int64_t v) { SignalValue s{Q3_VALUETYPE_INT64, 0, {}, nullptr, nullptr}; s.value.i64 = v; return s; }

const SignalValue kRefused = {0xFFFFFFFF, 0, {0.0}, nullptr, nullptr};  // a decoding row that must fail

uint64_t bitsOf(double v) { uint64_t b; std::memcpy(&b, &v, sizeof b); return b; }
uint32_t bitsOf(float v) { uint32_t b; std::memcpy(&b, &v, sizeof b); return b; }

// Same type and same bits (so -0.0 differs from 0.0 and NaN equals itself).
void expectValue(const SignalValue &got, const SignalValue &want)
{
    EXPECT_EQ(got.valueType, want.valueType);
    EXPECT_EQ(got.value.u64, want.value.u64) << "double " << got.value.f64 << " want " << want.value.f64;
}

struct Model {
    VexoNode *handle = made(Vexo_create, nullptr);
    ~Model() { Vexo_destroy(handle); }

    VexoNode *coding(uint32_t n, uint32_t type) { return made(Vexo_createCoding, handle, nullptr, n, type, nullptr); }
    VexoNode *signal(VexoNode *coding, double min = 0, double max = 0, uint32_t flags = 0)
    {
        return made(Vexo_createSignal, handle, nullptr, flags, 0.0, min, max, coding);
    }
    template <class Create, class... Args> VexoNode *computation(VexoNode *coding, Create create, Args... args)
    {
        VexoNode *c = made(create, handle, nullptr, args...);
        EXPECT_TRUE(coding == nullptr || Vexo_addInternalToPhysicalComputations(coding, 1, &c) == S_OK);
        return c;
    }
    void range(VexoNode *c, double lower, double upper) { EXPECT_EQ(Vexo_addRange(c, lower, upper, kClosed), S_OK); }
    VexoStringSlot *slot(const VexoChar *text)
    {
        VexoStringSlot *s = nullptr;
        EXPECT_EQ(Vexo_stringCreateSlot(handle, 0x0409, text, &s), S_OK);
        return s;
    }
};

}  // namespace

TEST(ValueConversion, DecodesEveryEncodingOrTakesTheValueWithoutCoding)
{
    struct Case { const char *what; uint32_t bitlen, encoding; uint64_t internal; SignalValue want; };
    const Case cases[] = {
        {"direct, bits above the field dropped", 8, kDirect, 0x1FF, u64(255)},
        {"direct, length 0", 0, kDirect, 0x1FF, u64(0)}, {"direct, length 64", 64, kDirect, ~0ull, u64(~0ull)},
        {"direct, length above 64", 70, kDirect, ~0ull, u64(~0ull)},
        {"sign-magnitude negative", 8, kDirect | kSigned, 0x185, i64(-5)},
        {"sign-magnitude negative zero", 8, kDirect | kSigned, 0x80, i64(0)},
        {"sign-magnitude, length 1", 1, kDirect | kSigned, 1, i64(0)},
        {"sign-magnitude, length 64", 64, kDirect | kSigned, ~0ull, i64(-INT64_MAX)},
        {"one's complement negative zero", 8, kOnes, 0xFF, i64(0)},
        {"one's complement -127", 8, kOnes, 0x80, i64(-127)},
        {"one's complement positive, stray bits", 8, kOnes, 0x37F, i64(127)},
        {"one's complement, length 64", 64, kOnes, ~1ull, i64(-1)},
        {"one's complement, length 0", 0, kOnes, 0x1234, i64(0x1234)},
        {"two's complement minimum", 12, kTwos, 0x800, i64(-2048)},
        {"two's complement maximum, stray bits", 12, kTwos, 0xF7FF, i64(2047)},
        {"two's complement, length 1, set", 1, kTwos, 1, i64(-1)},
        {"two's complement, length 1, clear", 1, kTwos, 2, i64(0)},
        {"two's complement, length 63, negative", 63, kTwos, 1ull << 62, i64(-(int64_t(1) << 62))},
        {"two's complement, length 63, bit 63 dropped", 63, kTwos, (1ull << 63) | 1, i64(1)},
        {"two's complement, length 64", 64, kTwos, 1ull << 63, i64(INT64_MIN)},
        {"IEEE single, high word ignored", 32, kIeee, 0xDEADBEEF00000000ull | bitsOf(1.5f), dbl(1.5)},
        {"IEEE double", 64, kIeee, bitsOf(-2.25), dbl(-2.25)}, {"packed BCD", 16, kPacked, 0x1234, u64(1234)},
        {"packed BCD, signed", 16, kPacked | kSigned, 0x8123, i64(-123)},
        {"packed BCD, bad digit reads 0", 8, kPacked, 0x1A, u64(0)},
        {"unpacked BCD", 32, kUnpacked, 0x01020304, u64(1234)},
        {"unpacked BCD, signed", 32, kUnpacked | kSigned, 0x80000102, i64(-12)},
        {"IEEE 16 is refused", 16, kIeee, 1, kRefused}, {"IEEE 63 is refused", 63, kIeee, 1, kRefused},
        {"ASCII is refused", 64, kAscii, 1, kRefused}, {"unknown is refused", 8, 99, 1, kRefused},
    };
    Model m;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        SignalValue got = dbl(0);
        got.computation = m.handle;  // both must be cleared
        got.text = m.slot(u"stale");
        const bool refused = c.want.valueType == kRefused.valueType;
        EXPECT_EQ(Vexo_internalToPhysical(m.signal(m.coding(c.bitlen, c.encoding)), c.internal, &got),
                  refused ? E_UNEXPECTED : S_FALSE);
        EXPECT_TRUE(got.computation == nullptr && got.text == nullptr);
        if (refused)
            continue;
        expectValue(got, c.want);
        // A linear computation takes the reading as the number it is: signed, unsigned or double.
        VexoNode *coding = m.coding(c.bitlen, c.encoding);
        m.range(m.computation(coding, Vexo_createLinearComputation, 2.0, 0.0), -kInf, kInf);
        EXPECT_EQ(Vexo_internalToPhysical(m.signal(coding), c.internal, &got), S_OK);
        const uint32_t type = c.want.valueType;
        expectValue(got, dbl(2 * (type == Q3_VALUETYPE_INT64 ? double(c.want.value.i64)
                                  : type == Q3_VALUETYPE_UINT64 ? double(c.want.value.u64) : c.want.value.f64)));
    }

    // Without a coding the internal value is the result (a unit as reference can only be forged).
    VexoNode *unit = made(Vexo_createUnitSpec, m.handle, nullptr, 0x0409u, u"km/h"), *forged = m.signal(nullptr);
    nodeAs<Signal>(forged)->reference = nodeAs<ObjectBase>(unit);
    for (VexoNode *signal : {m.signal(nullptr), forged}) {
        SignalValue got = dbl(0);
        EXPECT_EQ(Vexo_internalToPhysical(signal, 0xABC, &got), S_OK);
        expectValue(got, u64(0xABC));
    }

    const SignalValue before = dbl(7);
    SignalValue got = before;
    VexoNode *coding = m.coding(8, kDirect);
    EXPECT_EQ(Vexo_internalToPhysical(nullptr, 1, &got), E_INVALIDARG);
    EXPECT_EQ(Vexo_internalToPhysical(coding, 1, &got), E_INVALIDARG);
    EXPECT_EQ(Vexo_internalToPhysical(m.signal(coding), 1, nullptr), E_INVALIDARG);
    expectValue(got, before);
}

TEST(ValueConversion, AppliesMatchingComputationsInSequence)
{
    Model m;
    // Linear on [0, 100]; then a text on [30, 40] of the linear result; then a mapped
    // value on the raw range [300, 300] that only an unscaled value can reach.
    VexoNode *coding = m.coding(16, kDirect);
    VexoNode *linear = m.computation(coding, Vexo_createLinearComputation, 0.5, 10.0);
    m.range(linear, 0, 100);
    VexoNode *text = m.computation(coding, Vexo_createMappedTextComputation, m.slot(u"comfort"));
    m.range(text, 30, 40);
    VexoNode *mapped = m.computation(coding, Vexo_createMappedValueComputation, -1.0);
    m.range(mapped, 1000, 2000);
    m.range(mapped, 300, 300);
    m.computation(coding, Vexo_createIdentityComputation);  // no ranges: never applies
    VexoNode *signal = m.signal(coding);

    struct Case { uint64_t internal; HRESULT result; SignalValue want; VexoNode *by; bool hasText; };
    const Case cases[] = {
        {50, S_OK, dbl(35), text, true},      // both apply; the text sees 35
        {10, S_OK, dbl(15), linear, false},   // 15 is outside the text's range
        {200, S_FALSE, u64(200), nullptr, false},
        {300, S_OK, dbl(-1), mapped, false},  // second range of the mapped value
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.internal);
        SignalValue got = dbl(0);
        EXPECT_EQ(Vexo_internalToPhysical(signal, c.internal, &got), c.result);
        expectValue(got, c.want);
        EXPECT_EQ(got.computation, c.by);
        const VexoChar *shown = nullptr;
        EXPECT_TRUE(!c.hasText || Vexo_stringLookup(m.handle, got.text, 0x0409, 0x0409, &shown) == S_OK);
        EXPECT_EQ(u16(shown), c.hasText ? u"comfort" : u"<null>");
    }
}

TEST(ValueConversion, RangesAndSignalLimitsCompareIntegersExactly)
{
    const double two53 = 9007199254740993.0;  // rounds to 2^53
    const double two63 = 9223372036854775808.0, two64 = 18446744073709551616.0;
    struct Case { const char *what; SignalValue v; double lower, upper; uint32_t flags; bool in; };
    const Case cases[] = {
        {"open lower limit", dbl(0), 0, 10, 0, false}, {"open upper limit", dbl(10), 0, 10, 0, false},
        {"closed lower limit", dbl(0), 0, 10, Q3_FLAG_LOWERLIMIT_CLOSED, true},
        {"closed lower, open upper", dbl(10), 0, 10, Q3_FLAG_LOWERLIMIT_CLOSED, false},
        {"closed upper limit", dbl(10), 0, 10, Q3_FLAG_UPPERLIMIT_CLOSED, true},
        {"other flag bits ignored", dbl(0), 0, 10, 0xFFFFFFFC, false},
        {"NaN in no range", dbl(kNaN), -kInf, kInf, kClosed, false}, {"NaN limit", dbl(5), kNaN, 10, kClosed, false},
        {"2^53 + 1 above closed upper 2^53", u64(kTwo53 + 1), 0, two53, kClosed, false},
        {"2^53 + 1 above open lower 2^53", u64(kTwo53 + 1), two53, 1e18, 0, true},
        {"-(2^53 + 1) below closed lower -2^53", i64(-int64_t(kTwo53) - 1), -two53, 0, kClosed, false},
        {"INT64 2^53 + 1 above open lower 2^53", i64(kTwo53 + 1), two53, 1e18, 0, true},
        {"UINT64 max below open 2^64", u64(~0ull), 0, two64, 0, true},
        {"INT64 max below open 2^63", i64(INT64_MAX), 0, two63, 0, true},
        {"INT64 min on closed -2^63", i64(INT64_MIN), -two63, 0, kClosed, true},
        {"INT64 min on open -2^63", i64(INT64_MIN), -two63, 0, 0, false},
        {"UINT64 against fractional limits", u64(5), 4.5, 5.5, 0, true},
        {"INT64 against fractional limits", i64(-5), -5.5, -4.5, 0, true},
        {"INT64 beyond fractional lower", i64(-6), -5.5, 0, kClosed, false},
        {"UINT64 above a negative lower", u64(0), -1, 1, 0, true},
        {"UINT64 between infinities", u64(~0ull), -kInf, kInf, 0, true},
        {"INT64 between infinities", i64(INT64_MIN), -kInf, kInf, 0, true},
        {"unknown type", SignalValue{7, 0, {1.0}, nullptr, nullptr}, -kInf, kInf, kClosed, false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(isInRange(c.v, c.lower, c.upper, c.flags), c.in) << c.what;

    // The same near 2^53 through a signal: a rounded comparison would call both equal.
    Model m;
    VexoNode *coding = m.coding(64, kDirect);
    m.range(m.computation(coding, Vexo_createIdentityComputation), 0, two53);
    SignalValue got = dbl(0);
    EXPECT_EQ(Vexo_internalToPhysical(m.signal(coding), kTwo53 + 1, &got), S_FALSE);
    EXPECT_EQ(Vexo_internalToPhysical(m.signal(coding), kTwo53, &got), S_OK);

    VexoNode *open = m.signal(nullptr, 0, 100, Q3_FLAG_VALID), *closed = m.signal(nullptr, 0, 100, kClosed);
    VexoNode *crossed = m.signal(nullptr, 10, 0, kClosed);
    struct Limit { const char *what; VexoNode *signal; SignalValue v; int32_t want; };  // compared as ranges are
    const Limit limits[] = {
        {"minimum, open", open, dbl(0), Q3_VALUEBELOWRANGE}, {"maximum, open", open, u64(100), Q3_VALUEABOVERANGE},
        {"minimum, closed", closed, i64(0), Q3_VALUEINRANGE}, {"maximum, closed", closed, dbl(100), Q3_VALUEINRANGE},
        {"below", closed, i64(-1), Q3_VALUEBELOWRANGE}, {"above", closed, dbl(100.001), Q3_VALUEABOVERANGE},
        {"NaN", closed, dbl(kNaN), Q3_VALUEINRANGE}, {"lower test first", crossed, dbl(5), Q3_VALUEBELOWRANGE},
        {"unknown type", closed, SignalValue{3, 0, {50.0}, nullptr, nullptr}, Q3_INCOMPATIBLEVALUETYPE},
    };
    for (const Limit &c : limits)
        EXPECT_EQ(Vexo_checkValueInMinMax(c.signal, &c.v), c.want) << c.what;
    const SignalValue v = dbl(1);
    EXPECT_EQ(Vexo_checkValueInMinMax(m.coding(8, 1), &v), E_INVALIDARG);
    EXPECT_EQ(Vexo_checkValueInMinMax(nullptr, &v), E_INVALIDARG);
    EXPECT_EQ(Vexo_checkValueInMinMax(open, nullptr), E_INVALIDARG);
}

TEST(ValueConversion, FormatsValuesAsText)
{
    struct Case { const char *what; SignalValue v; uint32_t capacity; int32_t result; const char16_t *text; };
    const Case cases[] = {
        {"INT64", i64(-12), 4, 3, u"-12"}, {"INT64 minimum", i64(INT64_MIN), 32, 20, u"-9223372036854775808"},
        {"UINT64 upper-case hex", u64(255), 8, 4, u"0xFF"}, {"UINT64 zero", u64(0), 8, 3, u"0x0"},
        {"UINT64 maximum", u64(~0ull), 19, 18, u"0xFFFFFFFFFFFFFFFF"}, {"DOUBLE", dbl(1.5), 8, 5, u"1.500"},
        {"no room for the terminator", i64(-12), 3, -1, u"-1"}, {"one unit", u64(255), 1, -1, u""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        VexoChar buffer[40];
        std::fill(std::begin(buffer), std::end(buffer), u'#');
        EXPECT_EQ(Vexo_valueToString(&c.v, buffer, c.capacity), c.result);
        EXPECT_EQ(u16(buffer), c.text);
    }

    // Doubles as the C library's "%.3f" gives them: halves round to even, -0 keeps its sign, extremes too.
    std::mt19937_64 random(20240611);
    std::uniform_real_distribution<double> exponent(-12, 300);
    for (int i = 0; i < 200; ++i) {
        const double v = i == 0 ? 0.0625 : i == 1 ? -0.0 : (i % 2 ? -1 : 1) * std::pow(10.0, exponent(random));
        SCOPED_TRACE(testing::Message() << "seed 20240611, case " << i);
        char want[400];
        const int length = std::snprintf(want, sizeof want, "%.3f", v);
        VexoChar buffer[400];
        const SignalValue value = dbl(v);
        ASSERT_EQ(Vexo_valueToString(&value, buffer, 400), length);
        EXPECT_EQ(ascii(buffer), want);
    }

    VexoChar untouched[2] = {u'#', 0};
    const SignalValue bad{9, 0, {1.0}, nullptr, nullptr}, ok = i64(1);
    EXPECT_EQ(Vexo_valueToString(&bad, untouched, 2), -1);
    EXPECT_EQ(Vexo_valueToString(&ok, untouched, 0), -1);
    EXPECT_EQ(Vexo_valueToString(nullptr, untouched, 2), -1);
    EXPECT_EQ(u16(untouched), u"#");
    EXPECT_EQ(Vexo_valueToString(&ok, nullptr, 2), -1);
}

TEST(ValueConversion, EncodesPhysicalValuesByEveryEncoding)
{
    Model m;
    VexoNode *const none = nullptr, *identity = m.computation(nullptr, Vexo_createIdentityComputation);
    VexoNode *linear = m.computation(nullptr, Vexo_createLinearComputation, 2.0, 1.0);
    VexoNode *mappedValue = m.computation(nullptr, Vexo_createMappedValueComputation, 5.0);
    // Values inside a field's range take the round trip below; these rows truncate, mask, saturate, refuse.
    constexpr uint64_t kFill = 0xAAAAAAAAAAAAAAAAull;  // the output before the call
    struct Case { const char *what; uint32_t bits, type; VexoNode *step; SignalValue v; HRESULT hr; uint64_t want; };
    const Case cases[] = {
        {"direct, truncated and masked", 4, kDirect, none, dbl(17.9), S_OK, 1},
        {"direct, negative integer masked", 8, kDirect, none, i64(-1), S_OK, 0xFF},
        {"direct, length 64 saturates", 64, kDirect, none, dbl(1e30), S_OK, ~0ull},
        {"direct, NaN", 64, kDirect, none, dbl(kNaN), S_OK, 0},
        {"sign-magnitude truncates toward zero", 8, kDirect | kSigned, none, dbl(-5.7), S_OK, 0x85},
        {"sign-magnitude, unsigned is positive", 8, kDirect | kSigned, none, u64(5 | 1ull << 63), S_OK, 5},
        {"one's complement, -0.9 is 0", 8, kOnes, none, dbl(-0.9), S_OK, 0},
        {"two's complement saturates", 64, kTwos, none, dbl(-1e30), S_OK, 1ull << 63},
        {"IEEE single keeps the high word", 32, kIeee, none, i64(-2), S_OK,
         (kFill & 0xFFFFFFFF00000000ull) | bitsOf(-2.0f)},
        {"IEEE 16", 16, kIeee, none, dbl(1), E_UNEXPECTED, kFill},
        {"packed BCD, too long keeps low digits", 8, kPacked, none, u64(123), S_OK, 0x23},
        {"unpacked BCD", 32, kUnpacked, none, dbl(1234.9), S_OK, 0x01020304},
        {"ASCII", 8, kAscii, none, u64(1), E_UNEXPECTED, kFill},
        {"identity", 16, kDirect, identity, dbl(12.5), S_OK, 12},
        {"linear, forward", 16, kDirect, linear, dbl(10), S_OK, 21},
        {"mapped value: no inverse", 16, kDirect, mappedValue, dbl(10), S_FALSE, kFill},
        {"unknown value type", 16, kDirect, none, SignalValue{5, 0, {1.0}, nullptr, nullptr}, E_INVALIDARG, kFill},
    };
    for (const Case &c : cases) {
        uint64_t out = kFill;
        EXPECT_EQ(Vexo_physicalToInternal(m.signal(m.coding(c.bits, c.type)), c.step, &c.v, &out), c.hr) << c.what;
        EXPECT_EQ(out, c.want) << c.what << std::hex << ": " << out;
    }

    uint64_t out = kFill;
    const SignalValue v = dbl(1);
    VexoNode *coding = m.coding(8, kDirect), *signal = m.signal(coding);
    EXPECT_EQ(Vexo_physicalToInternal(m.signal(nullptr), nullptr, &v, &out), E_UNEXPECTED);
    EXPECT_EQ(Vexo_physicalToInternal(signal, coding, &v, &out), E_INVALIDARG);
    EXPECT_EQ(Vexo_physicalToInternal(coding, nullptr, &v, &out), E_INVALIDARG);
    EXPECT_EQ(Vexo_physicalToInternal(nullptr, nullptr, &v, &out), E_INVALIDARG);
    EXPECT_EQ(Vexo_physicalToInternal(signal, nullptr, nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(Vexo_physicalToInternal(signal, nullptr, &v, nullptr), E_INVALIDARG);
    EXPECT_EQ(out, kFill);
}

// Every integer a field can hold, and every float or double, survives encoding and decoding.
TEST(ValueConversion, RoundTripsEveryEncodingAndEncodesDoublesAsTheGeneralEncoding)
{
    struct Form { const char *what; uint32_t encoding; uint32_t minBits, step; bool isSigned; };  // step: bits a digit
    const Form forms[] = {
        {"direct", kDirect, 1, 1, false}, {"sign-magnitude", kDirect | kSigned, 2, 1, true},
        {"one's complement", kOnes, 2, 1, true}, {"two's complement", kTwos, 1, 1, true},
        {"packed BCD", kPacked, 4, 4, false}, {"packed BCD, signed", kPacked | kSigned, 8, 4, true},
        {"unpacked BCD", kUnpacked, 8, 8, false}, {"unpacked BCD, signed", kUnpacked | kSigned, 16, 8, true},
    };
    Model m;
    std::mt19937_64 random(7);
    // Encodes, cuts to the field's bits (as inserting into a frame does) and decodes.
    const auto roundTrip = [](VexoNode *signal, uint32_t bits, const SignalValue &value) {
        uint64_t internal = 0;
        SignalValue back = dbl(0);
        ASSERT_EQ(Vexo_physicalToInternal(signal, nullptr, &value, &internal), S_OK);
        ASSERT_EQ(Vexo_internalToPhysical(signal, internal & ~0ull >> (64 - bits), &back), S_FALSE);
        expectValue(back, value);
    };
    for (const Form &form : forms) {
        for (uint32_t bits = form.minBits; bits <= 64; bits += form.step) {
            // Largest magnitude: digits for BCD (the sign takes one position), bits otherwise.
            const uint32_t places = bits / form.step - (form.isSigned ? 1 : 0);
            uint64_t largest = form.step == 1 && places > 0 ? ~0ull >> (64 - places) : 0;
            for (uint32_t d = 0; form.step > 1 && d < places; ++d)
                largest = 10 * largest + 9;
            VexoNode *signal = m.signal(m.coding(bits, form.encoding));
            for (int i = 0; i < 20; ++i) {
                SCOPED_TRACE(testing::Message() << form.what << ", " << bits << " bits, seed 7, case " << i);
                uint64_t magnitude = (i == 0 ? largest : random() % (largest == ~0ull ? largest : largest + 1));
                SignalValue value = u64(magnitude);
                if (form.isSigned) {
                    const bool lowest = form.encoding == kTwos && i == 1;  // -2^(bits-1)
                    value = i64(lowest ? -int64_t(largest) - 1 : i % 2 ? -int64_t(magnitude) : int64_t(magnitude));
                }
                roundTrip(signal, bits, value);
            }
        }
    }

    for (uint32_t bits : {32u, 64u}) {  // IEEE: singles keep any float, doubles any double
        VexoNode *signal = m.signal(m.coding(bits, kIeee));
        for (double v : {0.1f * 1.0, -3.75, 1e-40, -0.0, kInf, 123456.789})
            roundTrip(signal, bits, dbl(bits == 32 ? double(float(v)) : v));
    }

    // Doubles through no, an identity or a linear computation into unsigned and two's complement fields of every
    // length: the bits of the general encoding (NaN, infinities, zeros, 64-bit edges, fractions).
    random.seed(11);
    const double edges[] = {0.0, -0.0, 0.5, -0.5, 1.9999, -1.9999, 255.5, -128.5, 9007199254740993.0, double(INT64_MAX),
                            double(INT64_MIN), double(UINT64_MAX), 1e300, -1e300, kNaN, kInf, -kInf};
    for (uint32_t encoding : {kDirect, kTwos}) {
        for (uint32_t bits : {0u, 1u, 7u, 8u, 16u, 31u, 32u, 33u, 53u, 63u, 64u, 65u}) {
            VexoNode *signal = m.signal(m.coding(bits, encoding));
            VexoNode *identity = m.computation(nullptr, Vexo_createIdentityComputation);
            VexoNode *linear = m.computation(nullptr, Vexo_createLinearComputation, 0.1, -7.25);
            const auto *coding = nodeAs<Coding>(nodeAs<Signal>(signal)->reference);
            for (int i = 0; i < 60; ++i) {
                const double v =
                    i < int(std::size(edges)) ? edges[i] : std::ldexp(double(int64_t(random())), -int(random() % 70));
                for (VexoNode *step : {static_cast<VexoNode *>(nullptr), identity, linear}) {
                    SCOPED_TRACE(testing::Message() << "encoding " << encoding << ", " << bits << " bits, value " << v
                                                    << ", seed 11, step " << (step == linear ? "linear" : "none"));
                    SignalValue value = dbl(v);
                    uint64_t got = 0x5A5A5A5A5A5A5A5Aull, want = got;
                    ASSERT_EQ(Vexo_physicalToInternal(signal, step, &value, &got), S_OK);
                    if (step == linear)
                        value = dbl(0.1 * v + -7.25);
                    ASSERT_EQ(vexo::decode::encodePhysical(*coding, value, &want), S_OK);
                    EXPECT_EQ(got, want);
                }
            }
        }
    }
}
