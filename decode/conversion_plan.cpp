// Deciding a coding's conversion plan: which reading its encoding has, and whether its
// computations reduce to value descriptions followed by one computation that covers every
// value read. Anything else keeps the general path, so a plan never changes a result.
#include "conversion_plan.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>

#include "enumerator.h"
#include "value_conversion.h"

namespace vexo::decode {
namespace {

using core::Coding;
using core::Computation;
using core::ValueRange;

// The values a reading gives, as the typed ends of their interval.
struct Domain {
    SignalValue low{}, high{};
};

SignalValue typed(uint32_t type, uint64_t bits)
{
    SignalValue value{};
    value.valueType = type;
    value.value.u64 = bits;
    return value;
}

SignalValue typedDouble(double number)
{
    SignalValue value{};
    value.valueType = Q3_VALUETYPE_DOUBLE;
    value.value.f64 = number;
    return value;
}

// The reading of a coding and the interval of values it gives; General for encodings
// that need more than a mask and a sign (sign-magnitude, one's complement, BCD, ASCII).
Reading readingOf(const Coding &coding, ConversionPlan &plan, Domain &domain)
{
    const uint32_t type = coding.encoding & Q3_ENCODING_TYPEMASK;
    const bool isSigned = (coding.encoding & Q3_ENCODING_SIGNED) != 0;
    const uint32_t length = coding.bitlen > 64 ? 64 : coding.bitlen;
    if (type == Q3_ENCODING_DIRECT && !isSigned) {
        plan.mask = length >= 64 ? ~uint64_t(0) : (uint64_t(1) << length) - 1;
        domain = {typed(Q3_VALUETYPE_UINT64, 0), typed(Q3_VALUETYPE_UINT64, plan.mask)};
        return Reading::Unsigned;
    }
    if (type == Q3_ENCODING_2COMPL) {
        // Lengths 0 and 64 take the value whole.
        plan.mask = length == 0 || length >= 64 ? ~uint64_t(0) : (uint64_t(1) << length) - 1;
        plan.sign = length == 0 || length >= 64 ? 0 : uint64_t(1) << (length - 1);
        const uint64_t high = plan.sign == 0 ? uint64_t(INT64_MAX) : plan.sign - 1;
        domain = {typed(Q3_VALUETYPE_INT64, ~high), typed(Q3_VALUETYPE_INT64, high)};
        return Reading::Twos;
    }
    if (type == Q3_ENCODING_IEEE && (coding.bitlen == 32 || coding.bitlen == 64)) {
        // A NaN matches no range; every other value lies between the infinities.
        domain = {typedDouble(-HUGE_VAL), typedDouble(HUGE_VAL)};
        return coding.bitlen == 32 ? Reading::Float32 : Reading::Float64;
    }
    return Reading::General;
}

bool hasRanges(const Computation &computation)
{
    bool any = false;
    model::forEachRecord<ValueRange>(computation.ranges, [&](const ValueRange *) {
        any = true;
        return false;
    });
    return any;
}

// True when one of the computation's ranges holds both ends of the domain, and so (ranges
// being intervals) every value between.
bool covers(const Computation &computation, const Domain &domain)
{
    bool covered = false;
    model::forEachRecord<ValueRange>(computation.ranges, [&](const ValueRange *range) {
        covered = isInRange(domain.low, *range) && isInRange(domain.high, *range);
        return !covered;
    });
    return covered;
}

bool inDomain(const SignalValue &value, const Domain &domain)
{
    if (value.valueType == Q3_VALUETYPE_UINT64)
        return value.value.u64 <= domain.high.value.u64;
    return value.value.i64 >= domain.low.value.i64 && value.value.i64 <= domain.high.value.i64;
}

// Adds the values of the domain that a mapped text computation matches, when each of its
// ranges holds at most one value (a lower limit equal to the upper one). False for any
// other range, which the plan does not take.
bool addTexts(const core::MappedTextComputation &computation, const Domain &domain, std::vector<TextEntry> &texts)
{
    bool taken = true;
    model::forEachRecord<ValueRange>(computation.ranges, [&](const ValueRange *range) {
        const double limit = range->lowerLimit;
        if (!(limit == range->upperLimit)) {
            taken = false;
            return false;
        }
        // The one value such a range can hold is the limit itself, when it is a whole
        // number that the 64-bit type holds exactly.
        SignalValue value{};
        value.valueType = domain.low.valueType;
        if (std::trunc(limit) != limit)
            return true;
        if (value.valueType == Q3_VALUETYPE_UINT64) {
            if (limit < 0 || limit >= 18446744073709551616.0)
                return true;
            value.value.u64 = static_cast<uint64_t>(limit);
        } else {
            if (limit < -9223372036854775808.0 || limit >= 9223372036854775808.0)
                return true;
            value.value.i64 = static_cast<int64_t>(limit);
        }
        if (inDomain(value, domain) && isInRange(value, *range))
            texts.push_back({value.value.u64, computation.textvalue, &computation});
        return true;
    });
    return taken;
}

// Decides the plan's step from the coding's internal-to-physical computations: value
// descriptions (mapped texts on one-value ranges), then at most one linear or identity
// computation that covers the domain, and after it nothing that can match. False when
// the computations are of another shape.
bool decideStep(const Coding &coding, ConversionPlan &plan, const Domain &domain)
{
    const bool integers = plan.reading == Reading::Unsigned || plan.reading == Reading::Twos;
    const Computation *last = nullptr;  // the covering computation, once met
    bool reducible = true;
    std::vector<TextEntry> texts;
    model::forEachNode(coding.internalToPhysicalCompus, [&](void *entry) {
        const auto *computation = core::nodeAs<Computation>(entry);
        if (computation == nullptr || !hasRanges(*computation))
            return true;  // never matches
        const uint32_t code = core::codeOf(computation);
        if (last == nullptr && integers && code == core::MappedTextComputation::kCode)
            reducible = addTexts(*static_cast<const core::MappedTextComputation *>(computation), domain, texts);
        else if (last == nullptr && (code == core::LinearComputation::kCode || code == core::IdentityComputation::kCode)
                 && covers(*computation, domain))
            last = computation;
        else
            reducible = false;
        return reducible;
    });
    if (!reducible)
        return false;
    // One entry per value: the last computation that matches it decides.
    const bool isSigned = plan.reading == Reading::Twos;
    std::stable_sort(texts.begin(), texts.end(), [isSigned](const TextEntry &a, const TextEntry &b) {
        return isSigned ? static_cast<int64_t>(a.key) < static_cast<int64_t>(b.key) : a.key < b.key;
    });
    plan.texts.clear();
    for (const TextEntry &entry : texts) {
        if (!plan.texts.empty() && plan.texts.back().key == entry.key)
            plan.texts.back() = entry;
        else
            plan.texts.push_back(entry);
    }
    plan.computation = last;
    if (last == nullptr) {
        plan.step = plan.texts.empty() ? Step::None : Step::Texts;
    } else if (core::codeOf(last) == core::LinearComputation::kCode) {
        const auto *linear = static_cast<const core::LinearComputation *>(last);
        plan.step = Step::Linear;
        plan.scale = linear->scale;
        plan.offset = linear->offset;
    } else {
        plan.step = Step::Identity;
    }
    return true;
}

// A piece for a computation that can match, or false when it takes no piece: not linear
// or identity, or not one range whose lower limit lies below the upper one.
bool encodePiece(const Computation &computation, ConversionPlan::EncodePiece &piece)
{
    const uint32_t code = core::codeOf(&computation);
    if (code != core::LinearComputation::kCode && code != core::IdentityComputation::kCode)
        return false;
    const ValueRange *only = nullptr;
    uint32_t ranges = 0;
    model::forEachRecord<ValueRange>(computation.ranges, [&](const ValueRange *range) {
        only = range;
        return ++ranges < 2;
    });
    if (ranges != 1 || !(only->lowerLimit < only->upperLimit))
        return false;
    // With lower < upper (neither NaN), an open limit is the closed one next to it: no
    // double lies between them.
    piece.lower = (only->flags & Q3_FLAG_LOWERLIMIT_CLOSED) != 0 ? only->lowerLimit
                                                                 : std::nextafter(only->lowerLimit, HUGE_VAL);
    piece.upper = (only->flags & Q3_FLAG_UPPERLIMIT_CLOSED) != 0 ? only->upperLimit
                                                                 : std::nextafter(only->upperLimit, -HUGE_VAL);
    piece.identity = code == core::IdentityComputation::kCode;
    const auto *linear = static_cast<const core::LinearComputation *>(&computation);
    piece.scale = piece.identity ? 1 : linear->scale;
    piece.offset = piece.identity ? 0 : linear->offset;
    // Scaling and adding in floating point keep the order of values (reverse it for a
    // negative scale), so values between the limits convert to numbers between theirs.
    const auto inside = [&](double limit) {
        const double number = piece.identity ? limit : applyLinear(piece.scale, piece.offset, limit);
        return number >= -kTwoTo63 && number < kTwoTo63;
    };
    piece.bounded = inside(piece.lower) && inside(piece.upper);
    return true;
}

// Decides the encoding part of the plan (see ConversionPlan::encodePieceCount).
void decideEncoding(const Coding &coding, ConversionPlan &plan)
{
    plan.encodePieceCount = 0;
    const bool direct = coding.encoding == Q3_ENCODING_DIRECT;
    if (coding.bitlen > 64 || !(direct || (coding.encoding & Q3_ENCODING_TYPEMASK) == Q3_ENCODING_2COMPL))
        return;
    uint32_t count = 0;
    bool taken = true;
    model::forEachNode(coding.physicalToInternalCompus, [&](void *entry) {
        const auto *computation = core::nodeAs<Computation>(entry);
        if (computation == nullptr || !hasRanges(*computation))
            return true;  // never matches
        taken = count < ConversionPlan::kEncodePieces && encodePiece(*computation, plan.encodePieces[count]);
        ++count;
        return taken;
    });
    if (!taken || count == 0)
        return;
    plan.encodeMask = !direct || coding.bitlen >= 64 ? ~uint64_t(0) : (uint64_t(1) << coding.bitlen) - 1;
    plan.encodePieceCount = count;
}

// Decides a plan afresh; one that does not apply (or runs out of memory) is General.
void decide(const Coding &coding, ConversionPlan &plan)
{
    decideEncoding(coding, plan);
    plan.linearInteger = false;
    plan.step = Step::None;
    plan.mask = plan.sign = 0;
    plan.scale = 1;
    plan.offset = 0;
    plan.computation = nullptr;
    plan.texts.clear();
    Domain domain;
    plan.reading = readingOf(coding, plan, domain);
    if (plan.reading == Reading::General)
        return;
    bool reduced = false;
    try {
        reduced = decideStep(coding, plan, domain);
    } catch (const std::bad_alloc &) {
        reduced = false;
    }
    if (!reduced) {
        plan.reading = Reading::General;
        plan.texts.clear();
    }
    plan.linearInteger = plan.step == Step::Linear && plan.texts.empty()
                         && (plan.reading == Reading::Twos
                             || (plan.reading == Reading::Unsigned && plan.mask <= uint64_t(INT64_MAX)));
}

}  // namespace

const TextEntry *findText(const ConversionPlan &plan, uint64_t key)
{
    const bool isSigned = plan.reading == Reading::Twos;
    const auto found = std::lower_bound(plan.texts.begin(), plan.texts.end(), key,
                                        [isSigned](const TextEntry &entry, uint64_t value) {
                                            return isSigned ? static_cast<int64_t>(entry.key) < static_cast<int64_t>(value)
                                                            : entry.key < value;
                                        });
    return found != plan.texts.end() && found->key == key ? &*found : nullptr;
}

const ConversionPlan *decideConversionPlan(const Coding &coding)
{
    const std::lock_guard<std::mutex> hold(core::derivedLock());
    const uint64_t now = core::changesOf(coding.database);
    auto *plan = core::derivedBlockOf<ConversionPlan>(coding.database, &coding.conversion);
    if (plan == nullptr || plan->stamp.load(std::memory_order_relaxed) == now)
        return plan;
    decide(coding, *plan);
    plan->stamp.store(now, std::memory_order_release);
    return plan;
}

}  // namespace vexo::decode
