// Conversion plans: how a coding turns internal values into physical ones, decided once
// per coding and model change instead of walking its computations and value ranges for
// every value. Imported codings are one linear computation over every raw value, often
// after value descriptions; those convert with a mask, a sign step and one multiply-add.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "database.h"
#include "node_classes.h"
#include "vexo/constants.h"
#include "vexo/convert.h"

namespace vexo::decode {

// How the internal value is read (the encodings whose reading needs no table).
enum class Reading : uint8_t {
    General,   // the plan does not apply: convert through the computations
    Unsigned,  // DIRECT, unsigned: the value masked
    Twos,      // 2COMPL: the value masked and sign-extended
    Float32,   // IEEE, 32 bits
    Float64,   // IEEE, 64 bits
};

// What the computations do to every value the reading can give.
enum class Step : uint8_t {
    None,      // no computation ever matches: S_FALSE with the value as read
    Linear,    // one linear computation covers every value (after the texts)
    Identity,  // one identity computation covers every value (after the texts)
    Texts,     // only mapped texts: a matching value gets the last text's computation
};

// A value description: a value read (as its 64-bit pattern) that mapped text
// computations on one-value ranges match, with the last of them.
struct TextEntry {
    uint64_t key;
    const core::StringSlot *slot;
    const core::Computation *computation;
};

struct ConversionPlan : core::DerivedBlock {
    static constexpr uint64_t kNever = ~uint64_t(0);
    std::atomic<uint64_t> stamp{kNever};  // the database's change count it was decided at
    Reading reading = Reading::General;
    Step step = Step::None;
    uint64_t mask = 0;  // Unsigned and Twos: the field's bits
    uint64_t sign = 0;  // Twos: the sign bit (0 when the value is taken whole)
    double scale = 1, offset = 0;
    const core::Computation *computation = nullptr;  // the covering linear or identity one
    std::vector<TextEntry> texts;                    // sorted by key (signed for Twos)
    // The commonest plan: an integer that a signed 64-bit number holds (two's complement,
    // or unsigned below 2^63), one linear computation, no value descriptions.
    bool linearInteger = false;

    // Encoding a double (physical to internal) through pieces: set when the coding's
    // physical-to-internal computations that can match are at most kEncodePieces linear
    // or identity computations with one range each (lower limit below the upper one),
    // and the field is unsigned or two's complement of at most 64 bits. A value then
    // encodes through the first piece whose range holds it: (scale * value + offset)
    // truncated to an integer and masked. A value in no piece has no computation.
    struct EncodePiece {
        double lower, upper;  // the range with its limits made closed: lower <= v <= upper
        double scale, offset;
        bool identity;  // no multiply-add
        bool bounded;   // every value in the range converts to a number in [-2^63, 2^63)
    };
    static constexpr uint32_t kEncodePieces = 2;
    uint32_t encodePieceCount = 0;  // 0: encode through the computations
    uint64_t encodeMask = 0;        // the field's bits for DIRECT, all for two's complement
    EncodePiece encodePieces[kEncodePieces] = {};
};

// Decides (or decides again) the plan of a coding under the lock of derived data.
const ConversionPlan *decideConversionPlan(const core::Coding &coding);

// The coding's plan as of the model's current state, decided now when the model changed
// since; null only when memory for a first plan cannot be had. Safe to call from several
// threads that read one model.
inline const ConversionPlan *conversionPlanOf(const core::Coding &coding)
{
    const auto *plan = static_cast<const ConversionPlan *>(__atomic_load_n(&coding.conversion, __ATOMIC_ACQUIRE));
    if (plan != nullptr && plan->stamp.load(std::memory_order_acquire) == core::changesOf(coding.database))
        return plan;
    return decideConversionPlan(coding);
}

// The value description entry for a key, or null.
const TextEntry *findText(const ConversionPlan &plan, uint64_t key);

// The scale and offset step of a linear computation, in the one form every path uses, so
// that fast and general conversions round alike.
inline double applyLinear(double scale, double offset, double value) { return scale * value + offset; }

// Converts as Vexo_internalToPhysical does after its argument checks (result's
// computation and text already cleared), for a plan whose reading is not General.
inline HRESULT convertWithPlan(const ConversionPlan &plan, uint64_t internal, SignalValue *result)
{
    if (plan.linearInteger) {
        const auto read = static_cast<int64_t>(((internal & plan.mask) ^ plan.sign) - plan.sign);
        result->valueType = Q3_VALUETYPE_DOUBLE;
        result->value.f64 = applyLinear(plan.scale, plan.offset, static_cast<double>(read));
        result->computation = reinterpret_cast<VexoNode *>(const_cast<core::Computation *>(plan.computation));
        return S_OK;
    }
    double number;
    uint64_t key;
    switch (plan.reading) {
    case Reading::Unsigned:
        key = internal & plan.mask;
        result->valueType = Q3_VALUETYPE_UINT64;
        result->value.u64 = key;
        number = static_cast<double>(key);
        break;
    case Reading::Twos:
        key = ((internal & plan.mask) ^ plan.sign) - plan.sign;
        result->valueType = Q3_VALUETYPE_INT64;
        result->value.u64 = key;
        number = static_cast<double>(static_cast<int64_t>(key));
        break;
    case Reading::Float32: {
        const auto bits = static_cast<uint32_t>(internal);
        float single;
        __builtin_memcpy(&single, &bits, sizeof single);
        number = single;
        result->valueType = Q3_VALUETYPE_DOUBLE;
        result->value.f64 = number;
        key = 0;
        if (number != number)
            return S_FALSE;  // a NaN lies in no range
        break;
    }
    default:
        __builtin_memcpy(&number, &internal, sizeof number);
        result->valueType = Q3_VALUETYPE_DOUBLE;
        result->value.f64 = number;
        key = 0;
        if (number != number)
            return S_FALSE;
        break;
    }
    const TextEntry *text = plan.texts.empty() ? nullptr : findText(plan, key);
    switch (plan.step) {
    case Step::Linear:
        result->valueType = Q3_VALUETYPE_DOUBLE;
        result->value.f64 = applyLinear(plan.scale, plan.offset, number);
        break;
    case Step::Identity:
        break;
    case Step::Texts:
        if (text == nullptr)
            return S_FALSE;
        result->computation = reinterpret_cast<VexoNode *>(const_cast<core::Computation *>(text->computation));
        result->text = reinterpret_cast<VexoStringSlot *>(const_cast<core::StringSlot *>(text->slot));
        return S_OK;
    default:
        return S_FALSE;
    }
    result->computation = reinterpret_cast<VexoNode *>(const_cast<core::Computation *>(plan.computation));
    if (text != nullptr)
        result->text = reinterpret_cast<VexoStringSlot *>(const_cast<core::StringSlot *>(text->slot));
    return S_OK;
}

}  // namespace vexo::decode
