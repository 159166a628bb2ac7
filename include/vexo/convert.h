/* Vexo value conversion: a signal's raw field content (its internal value) to a
 * physical value and back through the signal's coding and computations, range
 * checks against a signal's limits, and the text form of a value.
 *
 * An internal value is the field's bits as an unsigned 64-bit integer, bit 0 of
 * the field in bit 0. A physical value travels as a SignalValue. Range tests
 * compare a 64-bit integer exactly against a double limit (it is not rounded to
 * a double first); a NaN lies in no value range. These functions only read the
 * model; it must not change while they run. Vexo_internalToPhysical keeps, per
 * coding, what it decided about the coding's computations (on first use after a
 * change of the model); threads may convert over one unchanging model at once. */
#ifndef VEXO_CONVERT_H
#define VEXO_CONVERT_H

#include "vexo/types.h"
#include "vexo/core.h"

/* ---- Values ------------------------------------------------------------ */
/* A value with its type, and where it came from.
 *   valueType    Q3_VALUETYPE_DOUBLE, Q3_VALUETYPE_UINT64 or Q3_VALUETYPE_INT64:
 *                says which member of value holds it
 *   reserved     keeps value on an 8-byte boundary on every platform; write 0
 *   value        the number
 *   computation  the computation that last produced the value, or null
 *   text         the text slot of a mapped text computation that matched, or
 *                null; owned by the database */
typedef struct SignalValue {
    uint32_t valueType;
    uint32_t reserved;
    union {
        double f64;
        uint64_t u64;
        int64_t i64;
    } value;
    VexoNode *computation;
    VexoStringSlot *text;
} SignalValue;

/* ---- Conversion -------------------------------------------------------- */
/* Converts a signal's internal value to its physical value: decodes it by the
 * coding's encoding and bit length, then applies the coding's internal-to-
 * physical computations in list order, each to the value as it then stands,
 * wherever one of the computation's value ranges contains that value.
 *   signal    the Signal
 *   internal  the field's bits, least significant bit first
 *   result    receives the value, the last computation applied and the text
 *             of a mapped text computation; computation and text are cleared
 *             first
 * Returns S_OK when a computation applied, or when the signal has no coding
 * (then UINT64 internal unchanged); S_FALSE when none applied (result holds the
 * decoded value); E_INVALIDARG (nothing written) for a null argument or a node
 * that is no Signal; E_UNEXPECTED for an encoding that cannot be decoded
 * (ASCII, invalid, IEEE of a length other than 32 or 64; computation and text
 * cleared, the value not meaningful). */
VEXO_API HRESULT Vexo_internalToPhysical(const VexoNode *signal, uint64_t internal, SignalValue *result);

/* Converts a physical value to the internal value of a signal's coding:
 * applies one computation (forward: scale * value + offset for a linear one),
 * then encodes by the coding's encoding and bit length.
 *   signal       the Signal; it must have a coding
 *   computation  null or an identity or linear computation, usually one of the
 *                coding's physical-to-internal computations
 *   physical     the value; valueType must be 0, 1 or 2
 *   internal     receives the field bits. A double is truncated toward zero
 *                where an integer is needed (NaN gives 0, values beyond the
 *                64-bit range saturate). IEEE of 32 bits writes only the low
 *                32 bits; other encodings write all 64, the unused high bits of
 *                complement forms included.
 * Returns S_OK; S_FALSE (nothing written) for a mapped computation;
 * E_INVALIDARG (nothing written) for a null signal, value or output, a node that
 * is no Signal, a computation that is no Computation or an unknown value type;
 * E_UNEXPECTED (nothing written) when the signal has no coding or its encoding
 * cannot be encoded (ASCII, invalid, IEEE of another length than 32 or 64). */
VEXO_API HRESULT Vexo_physicalToInternal(const VexoNode *signal, const VexoNode *computation,
                                         const SignalValue *physical, uint64_t *internal);

/* ---- Checks and text ------------------------------------------------------ */
/* Tells where a value lies against a signal's minimum and maximum; a limit is
 * part of the range when the signal's flag Q3_FLAG_LOWERLIMIT_CLOSED or
 * Q3_FLAG_UPPERLIMIT_CLOSED says so. Integers are compared exactly; a NaN is in
 * range.
 *   signal  the Signal
 *   value   the value; only valueType and value are read
 * Returns Q3_VALUEINRANGE (0), Q3_VALUEBELOWRANGE (1), Q3_VALUEABOVERANGE (2),
 * Q3_INCOMPATIBLEVALUETYPE (-1) for a value type other than 0-2, or
 * E_INVALIDARG for a null argument or a node that is no Signal. */
VEXO_API int32_t Vexo_checkValueInMinMax(const VexoNode *signal, const SignalValue *value);

/* Writes a value as text: a double in fixed notation with three decimals
 * (as "%.3f", with '.' as decimal point whatever the locale; "nan", "inf"),
 * UINT64 as upper-case hexadecimal with a "0x" prefix, INT64 as signed decimal.
 *   value     the value; only valueType and value are read
 *   buffer    receives the UTF-16 text and a terminating zero unit
 *   capacity  size of buffer in units, the terminator included
 * Returns the number of units of the text (terminator not counted); -1 when the
 * text and its terminator do not fit (the buffer then holds as much of the text
 * as fits, terminated, when capacity is at least 1); -1 with nothing written for
 * a null value or buffer or an unknown value type. */
VEXO_API int32_t Vexo_valueToString(const SignalValue *value, VexoChar *buffer, uint32_t capacity);

#endif
