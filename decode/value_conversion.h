// Value conversion internals shared by the exported conversion functions, the frame
// decoder and the signal encoder: exact comparison of a typed value with a double limit,
// value-range membership, and decoding and encoding by a coding's encoding.
#pragma once

#include <cstdint>

#include "node_classes.h"
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

}  // namespace vexo::decode
