// Value conversion internals shared by the exported conversion functions, the frame
// decoder and the signal encoder: exact comparison of a typed value with a double limit,
// value-range membership, and decoding and encoding by a coding's encoding.
#pragma once

#include <cstdint>

#include "node_classes.h"
#include "vexo/constants.h"
#include "vexo/convert.h"
#include "vexo/types.h"

namespace vexo::decode {

enum class Order : uint8_t { Less, Equal, Greater, Unordered };

// Exact order of an integer against a double: the integer is never rounded, so
// 2^53 + 1 is greater than the double 2^53. Unordered only for a NaN limit.
Order compareExact(uint64_t value, double limit);
Order compareExact(int64_t value, double limit);

// Order of a typed value against a limit; Unordered for a NaN on either side and for an
// unknown value type.
Order compareToLimit(const SignalValue &value, double limit);

// Membership in a range: lower < v < upper, or v equal to a limit whose closed flag
// (Q3_FLAG_LOWERLIMIT_CLOSED, Q3_FLAG_UPPERLIMIT_CLOSED) is set. Other flag bits are not
// consulted; a NaN lies in no range.
bool isInRange(const SignalValue &value, double lower, double upper, uint32_t flags);
bool isInRange(const SignalValue &value, const core::ValueRange &range);

// True when one of the computation's value ranges contains the value; a computation
// without ranges never matches.
bool computationMatches(const core::Computation &computation, const SignalValue &value);

// Decodes an internal value by the coding's encoding and bit length into value and
// valueType (computation and text untouched). S_OK, or E_UNEXPECTED for an encoding that
// cannot be decoded.
HRESULT decodeInternal(const core::Coding &coding, uint64_t internal, SignalValue *value);

// Applies the coding's internal-to-physical computations in list order, each tested
// against the value as it then stands, and records the last one applied (and the text of
// a mapped text computation) in the value. S_OK when the last match was a computation of
// a known class, S_FALSE when none matched.
HRESULT applyComputations(const core::Coding &coding, SignalValue *value);

// Encodes a physical value (already through its computation) by the coding's encoding.
// S_OK with *internal written, or E_UNEXPECTED (nothing written) for an encoding that
// cannot be encoded or an unknown value type.
HRESULT encodePhysical(const core::Coding &coding, const SignalValue &value, uint64_t *internal);

// The value as a double: integers converted by their own signedness.
double toDouble(const SignalValue &value);

inline bool isKnownType(uint32_t valueType)
{
    return valueType == Q3_VALUETYPE_DOUBLE || valueType == Q3_VALUETYPE_UINT64 || valueType == Q3_VALUETYPE_INT64;
}

constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

// The 64-bit two's complement pattern of a double as an integer: truncated toward zero;
// NaN gives 0 and values beyond the 64-bit range the nearest end (the plain conversion
// would be undefined behaviour for them).
inline uint64_t integerBitsOf(double number)
{
    if (number != number)
        return 0;
    if (number < -kTwoTo63)
        return uint64_t(1) << 63;
    if (number < 0)
        return static_cast<uint64_t>(static_cast<int64_t>(number));
    if (number >= kTwoTo64)
        return ~uint64_t(0);
    return static_cast<uint64_t>(number);
}

// Vexo_physicalToInternal after its argument checks: the physical value through the
// computation (null for none) and the coding's encoding. S_OK with *internal written;
// S_FALSE for a computation that is neither linear nor identity; E_UNEXPECTED for an
// encoding that cannot be encoded.
HRESULT physicalToInternalBy(const core::Coding &coding, const core::Computation *step, const SignalValue &physical,
                             uint64_t *internal);

}  // namespace vexo::decode
