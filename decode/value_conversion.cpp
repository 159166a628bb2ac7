// Conversion between internal (raw field) and physical values through a signal's coding
// and computations. Runs once per decoded signal, so the common path (one linear
// computation with one range) walks the lists in place and never allocates.
#include "value_conversion.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "api_guard.h"
#include "conversion_plan.h"
#include "enumerator.h"
#include "vexo/codec.h"
#include "vexo/constants.h"

namespace vexo::decode {
namespace {



uint64_t lowMask(uint32_t bits)
{
    return bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
}

// Internal values have 64 bits; a longer coding has no further bits to read.
uint32_t clampLength(uint32_t bits)
{
    return bits > 64 ? 64 : bits;
}


Order compareDoubles(double value, double limit)
{
    if (value < limit)
        return Order::Less;
    if (value > limit)
        return Order::Greater;
    if (value == limit)
        return Order::Equal;
    return Order::Unordered;
}

void setDouble(SignalValue *value, double number)
{
    value->valueType = Q3_VALUETYPE_DOUBLE;
    value->value.f64 = number;
}

void setUnsigned(SignalValue *value, uint64_t number)
{
    value->valueType = Q3_VALUETYPE_UINT64;
    value->value.u64 = number;
}

void setSigned(SignalValue *value, int64_t number)
{
    value->valueType = Q3_VALUETYPE_INT64;
    value->value.i64 = number;
}

int64_t asSigned(uint64_t bits)
{
    int64_t number;
    std::memcpy(&number, &bits, sizeof number);
    return number;
}

// An integer ready for encoding: its 64-bit two's complement pattern and its sign.
// Unsigned values are never negative, whatever their top bit.
struct Integer {
    uint64_t bits;
    bool negative;
};

inline Integer toInteger(const SignalValue &value)
{
    switch (value.valueType) {
    case Q3_VALUETYPE_UINT64:
        return {value.value.u64, false};
    case Q3_VALUETYPE_INT64:
        return {static_cast<uint64_t>(value.value.i64), value.value.i64 < 0};
    default:
        break;
    }
    const double number = value.value.f64;
    return {integerBitsOf(number), number <= -1.0};
}

// The signed BCD encoders take a signed integer; an unsigned value beyond its range
// keeps the largest one, whose digits do not fit any 64-bit field either.
int64_t toSignedForBcd(const Integer &integer)
{
    if (integer.negative)
        return asSigned(integer.bits);
    return integer.bits > uint64_t(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(integer.bits);
}

uint64_t encodeSignMagnitude(const Integer &integer, uint32_t length)
{
    if (length == 0)
        return 0;
    const uint64_t magnitude = integer.negative ? 0 - integer.bits : integer.bits;
    const uint64_t sign = integer.negative ? uint64_t(1) << (length - 1) : 0;
    return (magnitude & lowMask(length - 1)) | sign;
}

HRESULT encodeBcd(uint32_t type, bool isSigned, const Integer &integer, uint32_t length, uint64_t *field)
{
    // A too short field keeps the low digits; that is not a failure of the conversion.
    if (type == Q3_ENCODING_PACKED_BCD) {
        if (isSigned)
            Q3Encode_ToSignedPackedBCD(field, toSignedForBcd(integer), length);
        else
            Q3Encode_ToUnsignedPackedBCD(field, integer.bits, length);
    } else {
        if (isSigned)
            Q3Encode_ToSignedUnpackedBCD(field, toSignedForBcd(integer), length);
        else
            Q3Encode_ToUnsignedUnpackedBCD(field, integer.bits, length);
    }
    return S_OK;
}

void decodeBcd(uint32_t type, bool isSigned, uint64_t field, uint32_t length, SignalValue *value)
{
    // A digit above 9 leaves the zero the decoders start from; the field has no better
    // reading, and the computations still see a value of the right type.
    if (isSigned) {
        int64_t number = 0;
        if (type == Q3_ENCODING_PACKED_BCD)
            Q3Decode_FromSignedPackedBCD(&number, &field, length);
        else
            Q3Decode_FromSignedUnpackedBCD(&number, &field, length);
        setSigned(value, number);
    } else {
        uint64_t number = 0;
        if (type == Q3_ENCODING_PACKED_BCD)
            Q3Decode_FromUnsignedPackedBCD(&number, &field, length);
        else
            Q3Decode_FromUnsignedUnpackedBCD(&number, &field, length);
        setUnsigned(value, number);
    }
}

// Applies a computation whose ranges matched; false for a class without an operation.
// ORDER NODE_CLASS (the computation classes)
bool applyOne(const core::Computation &computation, SignalValue *value)
{
    switch (core::codeOf(&computation)) {
    case core::IdentityComputation::kCode:
        return true;
    case core::LinearComputation::kCode: {
        const auto &linear = static_cast<const core::LinearComputation &>(computation);
        setDouble(value, applyLinear(linear.scale, linear.offset, toDouble(*value)));
        return true;
    }
    case core::MappedValueComputation::kCode:
        setDouble(value, static_cast<const core::MappedValueComputation &>(computation).value);
        return true;
    case core::MappedTextComputation::kCode:
        value->text = reinterpret_cast<VexoStringSlot *>(
            static_cast<const core::MappedTextComputation &>(computation).textvalue);
        return true;
    default:
        return false;
    }
}

}  // namespace

Order compareExact(uint64_t value, double limit)
{
    if (std::isnan(limit))
        return Order::Unordered;
    if (limit < 0)
        return Order::Greater;
    if (limit >= kTwoTo64)
        return Order::Less;
    // limit lies in [0, 2^64): its integer part converts exactly, and the comparison
    // of integers decides unless they are equal, when the fraction does.
    const auto whole = static_cast<uint64_t>(limit);
    if (value < whole)
        return Order::Less;
    if (value > whole)
        return Order::Greater;
    return limit > static_cast<double>(whole) ? Order::Less : Order::Equal;
}

Order compareExact(int64_t value, double limit)
{
    if (std::isnan(limit))
        return Order::Unordered;
    if (limit < -kTwoTo63)
        return Order::Greater;
    if (limit >= kTwoTo63)
        return Order::Less;
    const auto whole = static_cast<int64_t>(limit);
    if (value < whole)
        return Order::Less;
    if (value > whole)
        return Order::Greater;
    const auto truncated = static_cast<double>(whole);
    if (limit > truncated)
        return Order::Less;
    return limit < truncated ? Order::Greater : Order::Equal;
}

Order compareToLimit(const SignalValue &value, double limit)
{
    switch (value.valueType) {
    case Q3_VALUETYPE_DOUBLE:
        return compareDoubles(value.value.f64, limit);
    case Q3_VALUETYPE_UINT64:
        return compareExact(value.value.u64, limit);
    case Q3_VALUETYPE_INT64:
        return compareExact(value.value.i64, limit);
    default:
        return Order::Unordered;
    }
}

bool isInRange(const SignalValue &value, double lower, double upper, uint32_t flags)
{
    const Order fromLower = compareToLimit(value, lower);
    if (fromLower == Order::Equal && (flags & Q3_FLAG_LOWERLIMIT_CLOSED) != 0)
        return true;
    const Order fromUpper = compareToLimit(value, upper);
    if (fromUpper == Order::Equal && (flags & Q3_FLAG_UPPERLIMIT_CLOSED) != 0)
        return true;
    return fromLower == Order::Greater && fromUpper == Order::Less;
}

bool isInRange(const SignalValue &value, const core::ValueRange &range)
{
    return isInRange(value, range.lowerLimit, range.upperLimit, range.flags);
}

bool computationMatches(const core::Computation &computation, const SignalValue &value)
{
    bool matches = false;
    model::forEachRecord<core::ValueRange>(computation.ranges, [&](const core::ValueRange *range) {
        matches = isInRange(value, *range);
        return !matches;
    });
    return matches;
}

double toDouble(const SignalValue &value)
{
    switch (value.valueType) {
    case Q3_VALUETYPE_UINT64:
        return static_cast<double>(value.value.u64);
    case Q3_VALUETYPE_INT64:
        return static_cast<double>(value.value.i64);
    default:
        return value.value.f64;
    }
}

HRESULT decodeInternal(const core::Coding &coding, uint64_t internal, SignalValue *value)
{
    const uint32_t type = coding.encoding & Q3_ENCODING_TYPEMASK;
    const bool isSigned = (coding.encoding & Q3_ENCODING_SIGNED) != 0;
    const uint32_t length = clampLength(coding.bitlen);
    const uint64_t sign = length == 0 ? 0 : uint64_t(1) << (length - 1);
    const bool negative = (internal & sign) != 0;
    switch (type) {
    case Q3_ENCODING_DIRECT:
        if (!isSigned) {
            setUnsigned(value, internal & lowMask(length));
        } else {
            // Sign and magnitude: the magnitude has at most 63 bits, so negating is safe.
            const auto magnitude = static_cast<int64_t>(internal & (sign - 1) & lowMask(63));
            setSigned(value, length == 0 ? 0 : negative ? -magnitude : magnitude);
        }
        return S_OK;
    case Q3_ENCODING_1COMPL:
        // Filling the bits above the field and adding one turns the complement into a
        // negative number; an all-ones field (negative zero) becomes 0.
        if (length == 0)
            setSigned(value, asSigned(internal));
        else if (negative)
            setSigned(value, asSigned((internal | ~lowMask(length)) + 1));
        else
            setSigned(value, asSigned(internal & lowMask(length)));
        return S_OK;
    case Q3_ENCODING_2COMPL:
        if (negative)
            setSigned(value, asSigned(internal | ~lowMask(length)));
        else
            setSigned(value, asSigned(internal & lowMask(length == 0 ? 64 : length)));
        return S_OK;
    case Q3_ENCODING_IEEE:
        if (coding.bitlen == 32) {
            const auto bits = static_cast<uint32_t>(internal);
            float single;
            std::memcpy(&single, &bits, sizeof single);
            setDouble(value, single);
            return S_OK;
        }
        if (coding.bitlen == 64) {
            double number;
            std::memcpy(&number, &internal, sizeof number);
            setDouble(value, number);
            return S_OK;
        }
        return E_UNEXPECTED;
    case Q3_ENCODING_UNPACKED_BCD:
    case Q3_ENCODING_PACKED_BCD:
        decodeBcd(type, isSigned, internal, coding.bitlen, value);
        return S_OK;
    default:
        return E_UNEXPECTED;
    }
}

HRESULT applyComputations(const core::Coding &coding, SignalValue *value)
{
    HRESULT result = S_FALSE;
    model::forEachNode(coding.internalToPhysicalCompus, [&](void *entry) {
        const auto *computation = core::nodeAs<core::Computation>(entry);
        if (computation != nullptr && computationMatches(*computation, *value)) {
            value->computation = core::handleOf(computation);
            result = applyOne(*computation, value) ? S_OK : S_FALSE;
        }
        return true;  // computations apply in sequence: every one is tested
    });
    return result;
}

HRESULT encodePhysical(const core::Coding &coding, const SignalValue &value, uint64_t *internal)
{
    if (!isKnownType(value.valueType))
        return E_UNEXPECTED;
    const uint32_t type = coding.encoding & Q3_ENCODING_TYPEMASK;
    const bool isSigned = (coding.encoding & Q3_ENCODING_SIGNED) != 0;
    const uint32_t length = clampLength(coding.bitlen);
    switch (type) {
    case Q3_ENCODING_DIRECT: {
        const Integer integer = toInteger(value);
        *internal = isSigned ? encodeSignMagnitude(integer, length) : integer.bits & lowMask(length);
        return S_OK;
    }
    case Q3_ENCODING_1COMPL: {
        // The bits above the field are left as they come; inserting the field keeps only
        // its own bits.
        const Integer integer = toInteger(value);
        *internal = integer.negative ? integer.bits - 1 : integer.bits;
        return S_OK;
    }
    case Q3_ENCODING_2COMPL:
        *internal = toInteger(value).bits;
        return S_OK;
    case Q3_ENCODING_IEEE:
        if (coding.bitlen == 32) {
            const auto single = static_cast<float>(toDouble(value));
            uint32_t bits;
            std::memcpy(&bits, &single, sizeof bits);
            *internal = (*internal & ~uint64_t(0xFFFFFFFF)) | bits;
            return S_OK;
        }
        if (coding.bitlen == 64) {
            const double number = toDouble(value);
            std::memcpy(internal, &number, sizeof number);
            return S_OK;
        }
        return E_UNEXPECTED;
    case Q3_ENCODING_UNPACKED_BCD:
    case Q3_ENCODING_PACKED_BCD:
        return encodeBcd(type, isSigned, toInteger(value), coding.bitlen, internal);
    default:
        return E_UNEXPECTED;
    }
}

HRESULT physicalToInternalBy(const core::Coding &coding, const core::Computation *step, const SignalValue &physical,
                             uint64_t *internal)
{
    // The common case first: a double through a linear (or no) computation into an
    // unsigned or two's complement integer of at most 64 bits.
    const uint32_t code = step != nullptr ? core::codeOf(step) : core::IdentityComputation::kCode;
    if (physical.valueType == Q3_VALUETYPE_DOUBLE && coding.bitlen <= 64
        && (code == core::LinearComputation::kCode || code == core::IdentityComputation::kCode)) {
        const bool direct = coding.encoding == Q3_ENCODING_DIRECT;
        if (direct || (coding.encoding & Q3_ENCODING_TYPEMASK) == Q3_ENCODING_2COMPL) {
            double number = physical.value.f64;
            if (code == core::LinearComputation::kCode) {
                const auto *linear = static_cast<const core::LinearComputation *>(step);
                number = applyLinear(linear->scale, linear->offset, number);
            }
            const uint64_t bits = integerBitsOf(number);
            *internal = direct ? bits & lowMask(coding.bitlen) : bits;
            return S_OK;
        }
    }
    SignalValue value = physical;
    if (code == core::LinearComputation::kCode) {
        const auto *linear = static_cast<const core::LinearComputation *>(step);
        setDouble(&value, applyLinear(linear->scale, linear->offset, toDouble(value)));
    } else if (code != core::IdentityComputation::kCode) {
        return S_FALSE;
    }
    return encodePhysical(coding, value, internal);
}

namespace {

// Vexo_internalToPhysical for a coding, through its plan or its computations.
__attribute__((noinline)) HRESULT convertByCoding(const core::Coding &coding, uint64_t internal, SignalValue *result)
{
    const ConversionPlan *plan = conversionPlanOf(coding);
    if (plan != nullptr && plan->reading != Reading::General)
        return convertWithPlan(*plan, internal, result);
    const HRESULT decoded = decodeInternal(coding, internal, result);
    if (decoded != S_OK)
        return decoded;
    return applyComputations(coding, result);
}

}  // namespace

}  // namespace vexo::decode

using namespace vexo;
using namespace vexo::decode;

HRESULT Vexo_internalToPhysical(const VexoNode *signal, uint64_t internal, SignalValue *result)
{
    if (signal == nullptr || result == nullptr)
        return E_INVALIDARG;
    // Signals and codings have no subclasses: the exact class test is the derivation test.
    const auto *node = core::nodeExactly<core::Signal>(signal);
    if (node == nullptr)
        return E_INVALIDARG;
    result->computation = nullptr;
    result->text = nullptr;
    const auto *coding = core::nodeExactly<core::Coding>(node->reference);
    if (coding == nullptr) {
        setUnsigned(result, internal);
        return S_OK;
    }
    // The commonest plan inline; everything else out of line, so this path stays short. The
    // stamp is read first: a plan being decided again by another thread is read only after
    // the stamp that publishes it.
    const auto *plan = static_cast<const ConversionPlan *>(__atomic_load_n(&coding->conversion, __ATOMIC_ACQUIRE));
    if (plan != nullptr && plan->stamp.load(std::memory_order_acquire) == core::changesOf(coding->database)
        && plan->linearInteger) {
        const auto read = static_cast<int64_t>(((internal & plan->mask) ^ plan->sign) - plan->sign);
        result->valueType = Q3_VALUETYPE_DOUBLE;
        result->value.f64 = applyLinear(plan->scale, plan->offset, static_cast<double>(read));
        result->computation = core::handleOf(plan->computation);
        return S_OK;
    }
    return convertByCoding(*coding, internal, result);
}

HRESULT Vexo_physicalToInternal(const VexoNode *signal, const VexoNode *computation,
                                const SignalValue *physical, uint64_t *internal)
{
    if (signal == nullptr || physical == nullptr || internal == nullptr)
        return E_INVALIDARG;
    // Signals and codings have no subclasses: the exact class test is the derivation test.
    const auto *node = core::nodeExactly<core::Signal>(signal);
    if (node == nullptr || !isKnownType(physical->valueType))
        return E_INVALIDARG;
    const core::Computation *step = nullptr;
    if (computation != nullptr) {
        step = core::nodeAs<core::Computation>(computation);
        if (step == nullptr)
            return E_INVALIDARG;
    }
    const auto *coding = core::nodeExactly<core::Coding>(node->reference);
    if (coding == nullptr)
        return E_UNEXPECTED;
    return physicalToInternalBy(*coding, step, *physical, internal);
}

int32_t Vexo_checkValueInMinMax(const VexoNode *signal, const SignalValue *value)
{
    if (signal == nullptr || value == nullptr)
        return E_INVALIDARG;
    const auto *node = core::nodeAs<core::Signal>(signal);
    if (node == nullptr)
        return E_INVALIDARG;
    if (!isKnownType(value->valueType))
        return Q3_INCOMPATIBLEVALUETYPE;
    // The lower limit is tested first; a NaN is unordered against both and so in range.
    const Order fromMin = compareToLimit(*value, node->minValue);
    if (fromMin == Order::Less || (fromMin == Order::Equal && (node->flags & Q3_FLAG_LOWERLIMIT_CLOSED) == 0))
        return Q3_VALUEBELOWRANGE;
    const Order fromMax = compareToLimit(*value, node->maxValue);
    if (fromMax == Order::Greater || (fromMax == Order::Equal && (node->flags & Q3_FLAG_UPPERLIMIT_CLOSED) == 0))
        return Q3_VALUEABOVERANGE;
    return Q3_VALUEINRANGE;
}

int32_t Vexo_valueToString(const SignalValue *value, VexoChar *buffer, uint32_t capacity)
{
    if (value == nullptr || buffer == nullptr || !isKnownType(value->valueType))
        return -1;
    // Fixed notation of the largest double has 309 integer digits, a sign, a point and
    // three decimals; every other form is shorter. to_chars ignores the locale, so the
    // decimal point is always '.'.
    char text[400];
    char *end = text;
    switch (value->valueType) {
    case Q3_VALUETYPE_DOUBLE:
        end = std::to_chars(text, text + sizeof text, value->value.f64, std::chars_format::fixed, 3).ptr;
        break;
    case Q3_VALUETYPE_UINT64:
        text[0] = '0';
        text[1] = 'x';
        end = std::to_chars(text + 2, text + sizeof text, value->value.u64, 16).ptr;
        for (char *digit = text + 2; digit != end; ++digit) {
            if (*digit >= 'a')
                *digit = static_cast<char>(*digit - 'a' + 'A');
        }
        break;
    default:
        end = std::to_chars(text, text + sizeof text, value->value.i64).ptr;
        break;
    }
    const auto units = static_cast<uint32_t>(end - text);
    if (capacity == 0)
        return -1;
    const bool fits = units < capacity;
    const uint32_t copied = fits ? units : capacity - 1;
    for (uint32_t i = 0; i < copied; ++i)
        buffer[i] = static_cast<VexoChar>(text[i]);
    buffer[copied] = 0;
    return fits ? static_cast<int32_t>(units) : -1;
}
