// Client-side signal encoding: the search for the computations that take a physical
// value, and writing an internal value at a signal instance's place in a buffer.
#include <atomic>
#include <mutex>
#include <new>

#include "api_guard.h"
#include "bit_buffer.h"
#include "database.h"
#include "conversion_plan.h"
#include "enumerator.h"
#include "node_classes.h"
#include "node_list.h"
#include "value_conversion.h"
#include "vexo/constants.h"
#include "vexo/encode.h"

namespace vexo::encode {

using namespace core;

constexpr uint32_t kEncodeStateTag = 0x636E4565;  // "eEnc"
constexpr uint32_t kReleasedTag = 0xDEADBEEF;

struct EncodeState {
    uint32_t tag;
    uint32_t reserved;
    SignalValue value;
    ListCursor cursor;  // over the coding's physical-to-internal computations
};

namespace {

EncodeState *stateAs(const void *handle)
{
    auto *state = static_cast<EncodeState *>(const_cast<void *>(handle));
    return state != nullptr && state->tag == kEncodeStateTag ? state : nullptr;
}

// Range membership of a double, as the range test compares doubles (a NaN lies nowhere).
inline bool inRange(double v, double lower, double upper, uint32_t flags)
{
    return (v == lower && (flags & Q3_FLAG_LOWERLIMIT_CLOSED) != 0) || (v == upper && (flags & Q3_FLAG_UPPERLIMIT_CLOSED) != 0)
           || (v > lower && v < upper);
}

// True when one of the computation's ranges holds the value. A double (what callers
// mostly encode) is compared in place; integers go through the exact comparison.
bool matches(const Computation &computation, const SignalValue &value)
{
    if (value.valueType != Q3_VALUETYPE_DOUBLE)
        return decode::computationMatches(computation, value);
    bool found = false;
    model::forEachRecord<ValueRange>(computation.ranges, [&](const ValueRange *range) {
        found = inRange(value.value.f64, range->lowerLimit, range->upperLimit, range->flags);
        return !found;
    });
    return found;
}

// Writes an internal value at a signal instance's place (its coding at most 64 bits long).
void writeField(const SignalInstance &instance, const Coding &coding, uint64_t internal, uint8_t *buffer,
                uint32_t length)
{
    const auto bits = static_cast<int32_t>(coding.bitlen);
    const int32_t signedLength = instance.byteOrder == Q3_BYTEORDER_BIGENDIAN ? -bits : bits;
    codec::insertFieldQuickly(buffer, length, instance.bitpos, signedLength, internal);
}

// The first computation whose ranges hold the value and that converts it, by the walk
// Vexo_encodeNextComputation takes; S_FALSE when there is none.
__attribute__((noinline)) HRESULT searchAndConvert(const Coding &coding, const SignalValue &value, uint64_t *internal)
{
    HRESULT result = S_FALSE;
    model::forEachNode(coding.physicalToInternalCompus, [&](void *entry) {
        const auto *computation = core::nodeAs<Computation>(entry);
        if (computation == nullptr || !matches(*computation, value))
            return true;
        *internal = 0;
        result = decode::physicalToInternalBy(coding, computation, value, internal);
        return result == S_FALSE;
    });
    return result;
}

// A double through the first encode piece of a plan whose range holds it (false when
// none does): the internal value, masked to the field.
inline bool encodeByPieces(const decode::ConversionPlan &plan, double number, uint64_t *internal)
{
    const decode::ConversionPlan::EncodePiece *piece = plan.encodePieces;
    const decode::ConversionPlan::EncodePiece *end = piece + plan.encodePieceCount;
    while (!(number >= piece->lower && number <= piece->upper))
        if (++piece == end)
            return false;
    const double converted = piece->identity ? number : decode::applyLinear(piece->scale, piece->offset, number);
    *internal = (piece->bounded ? static_cast<uint64_t>(static_cast<int64_t>(converted))
                                : decode::integerBitsOf(converted))
                & plan.encodeMask;
    return true;
}

// The full rules of one write of Vexo_encodeSignals (any value type, any coding).
HRESULT encodeWriteGenerally(const SignalInstance &instance, const SignalValue &value, uint8_t *buffer,
                             uint32_t length)
{
    if (!decode::isKnownType(value.valueType))
        return E_INVALIDARG;
    const auto *signal = nodeExactly<Signal>(instance.reference);
    if (signal == nullptr)
        return E_UNEXPECTED;
    const auto *coding = nodeExactly<Coding>(signal->reference);
    if (coding == nullptr)
        return S_FALSE;
    const decode::ConversionPlan *plan = decode::conversionPlanOf(*coding);
    uint64_t internal = 0;
    if (plan != nullptr && plan->encodePieceCount != 0 && value.valueType == Q3_VALUETYPE_DOUBLE) {
        if (!encodeByPieces(*plan, value.value.f64, &internal))
            return S_FALSE;
    } else {
        const HRESULT converted = searchAndConvert(*coding, value, &internal);
        if (converted != S_OK)
            return converted;
        if (coding->bitlen > 64)
            return E_UNEXPECTED;
    }
    writeField(instance, *coding, internal, buffer, length);
    return S_OK;
}

// What a signal instance needs for writing a double, decided once per model state: the
// coding's conversion plan when it encodes by pieces, and the lowest eight-byte window
// that holds the field (used when the buffer holds that window).
struct WritePlan : DerivedBlock {
    static constexpr uint32_t kNoWindow = UINT32_MAX;
    std::atomic<uint64_t> stamp{decode::ConversionPlan::kNever};
    const decode::ConversionPlan *conversion = nullptr;  // null: the full rules apply
    uint32_t base = kNoWindow;  // the window's first byte
    uint32_t position = 0;      // of the field's least significant bit in the window
    uint64_t fieldMask = 0;     // the field's bits in the window
    bool bigEndian = false;
    int64_t startBit = 0;  // for buffers that end inside the window
    int32_t signedLength = 0;
};

__attribute__((noinline)) const WritePlan *decideWritePlan(const SignalInstance &instance)
{
    const auto *signal = nodeExactly<Signal>(instance.reference);
    const auto *coding = signal != nullptr ? nodeExactly<Coding>(signal->reference) : nullptr;
    // Taken before the lock, which deciding a conversion plan takes itself.
    const decode::ConversionPlan *conversion = coding != nullptr ? decode::conversionPlanOf(*coding) : nullptr;
    const std::lock_guard<std::mutex> hold(derivedLock());
    const uint64_t now = changesOf(instance.database);
    auto *plan = derivedBlockOf<WritePlan>(instance.database, &instance.writePlan);
    if (plan == nullptr || plan->stamp.load(std::memory_order_relaxed) == now)
        return plan;
    plan->conversion = nullptr;
    if (conversion != nullptr && conversion->encodePieceCount != 0
        && conversion->stamp.load(std::memory_order_relaxed) == now) {
        const uint64_t bits = coding->bitlen;
        const bool big = instance.byteOrder == Q3_BYTEORDER_BIGENDIAN;
        const uint64_t start = instance.bitpos;
        // Read as a little-endian word (big-endian: byte `base` most significant), the
        // window from byte b holds the field's least significant bit at
        // big ? 64 - bits + 8b - (start ^ 7) : start - 8b, and the field when that lies
        // in [0, 64 - bits]: for every b from the lowest such one up to the field's first
        // byte, the lowest being the bits reaching beyond 64 from that byte, in bytes.
        const uint64_t reach = (big ? (start ^ 7) : start) + bits;
        const uint64_t lowest = reach > 64 ? (reach - 64 + 7) / 8 : 0;
        plan->conversion = conversion;
        plan->base = WritePlan::kNoWindow;
        if (bits - 1 < 64 && lowest <= start / 8 && lowest < WritePlan::kNoWindow - 8) {
            const uint64_t position = big ? 64 - bits + 8 * lowest - (start ^ 7) : start - 8 * lowest;
            plan->base = static_cast<uint32_t>(lowest);
            plan->position = static_cast<uint32_t>(position);
            plan->fieldMask = (~uint64_t(0) >> (64 - bits)) << position;
        }
        plan->bigEndian = big;
        plan->startBit = static_cast<int64_t>(start);
        plan->signedLength = big ? -static_cast<int32_t>(bits) : static_cast<int32_t>(bits);
    }
    plan->stamp.store(now, std::memory_order_release);
    return plan;
}

inline const WritePlan *writePlanOf(const SignalInstance &instance)
{
    const auto *plan = static_cast<const WritePlan *>(__atomic_load_n(&instance.writePlan, __ATOMIC_ACQUIRE));
    if (plan != nullptr && plan->stamp.load(std::memory_order_acquire) == changesOf(instance.database))
        return plan;
    return decideWritePlan(instance);
}

// One write of Vexo_encodeSignals: a double through the instance's write plan, anything
// else (or a coding without pieces) by the full rules, with the same result.
inline HRESULT encodeWrite(const VexoSignalWrite &write, uint8_t *buffer, uint32_t length)
{
    const auto *instance = nodeExactly<SignalInstance>(write.signalInstance);
    if (instance == nullptr)
        return E_INVALIDARG;
    if (write.value.valueType == Q3_VALUETYPE_DOUBLE) {
        const WritePlan *plan = writePlanOf(*instance);
        if (plan != nullptr && plan->conversion != nullptr) {
            uint64_t internal = 0;
            if (!encodeByPieces(*plan->conversion, write.value.value.f64, &internal))
                return S_FALSE;
            if (uint64_t{plan->base} + 8 <= length) {
                codec::writeWindow(buffer + plan->base, plan->bigEndian, plan->position, plan->fieldMask, internal);
            } else {
                codec::insertFieldQuickly(buffer, length, plan->startBit, plan->signedLength, internal);
            }
            return S_OK;
        }
    }
    return encodeWriteGenerally(*instance, write.value, buffer, length);
}

}  // namespace

}  // namespace vexo::encode

using namespace vexo;
using namespace vexo::encode;

HRESULT Vexo_encodeSignal(const VexoNode *signal, const SignalValue *value, VexoEncodeState **state)
{
    if (signal == nullptr || value == nullptr || state == nullptr)
        return E_INVALIDARG;
    const auto *node = core::nodeExactly<core::Signal>(signal);
    if (node == nullptr)
        return E_INVALIDARG;
    EncodeState *block = nullptr;
    if (*state != nullptr) {
        block = stateAs(*state);
        if (block == nullptr)
            return E_INVALIDARG;
    } else {
        block = new (std::nothrow) EncodeState;
        if (block == nullptr)
            return E_OUTOFMEMORY;
    }
    // Every field is written, so a reused block needs no clearing.
    block->tag = kEncodeStateTag;
    block->reserved = 0;
    block->value.valueType = value->valueType;
    block->value.reserved = 0;
    block->value.value = value->value;
    block->value.computation = nullptr;
    block->value.text = nullptr;
    *state = reinterpret_cast<VexoEncodeState *>(block);
    const auto *coding = core::nodeExactly<core::Coding>(node->reference);
    if (coding == nullptr) {
        block->cursor = ListCursor{};
        return S_FALSE;
    }
    // The walk takes one entry at a time with cursorStep, which reads only the list, the
    // chunk and the index (computation lists only grow at their end).
    const core::NodeList &list = coding->physicalToInternalCompus;
    block->cursor.list = &list.chunks;
    block->cursor.layout = &core::kSmallNodeLayout;
    block->cursor.chunk = core::firstChunk(list.chunks);
    block->cursor.index = 0;
    block->cursor.nodes = &list;
    return S_OK;
}

HRESULT Vexo_encodeNextComputation(VexoEncodeState *state, VexoNode **computation)
{
    if (state == nullptr || computation == nullptr)
        return E_INVALIDARG;
    EncodeState *block = stateAs(state);
    if (block == nullptr)
        return E_INVALIDARG;
    if (block->cursor.list == nullptr)
        return S_FALSE;
    void *entry = nullptr;
    while (core::cursorStep(block->cursor, &entry)) {
        const auto *candidate = core::nodeAs<core::Computation>(entry);
        if (candidate != nullptr && matches(*candidate, block->value)) {
            *computation = core::handleOf(candidate);
            return S_OK;
        }
    }
    return S_FALSE;
}

HRESULT Vexo_encodeSignalInstance(const VexoNode *signalInstance, uint64_t internal, uint8_t *buffer,
                                  uint32_t length)
{
    if (signalInstance == nullptr || buffer == nullptr || length == 0)
        return E_INVALIDARG;
    const auto *instance = core::nodeExactly<core::SignalInstance>(signalInstance);
    if (instance == nullptr)
        return E_INVALIDARG;
    const auto *signal = core::nodeExactly<core::Signal>(instance->reference);
    const auto *coding = signal != nullptr ? core::nodeExactly<core::Coding>(signal->reference) : nullptr;
    if (coding == nullptr || coding->bitlen > 64)
        return E_UNEXPECTED;
    writeField(*instance, *coding, internal, buffer, length);
    return S_OK;
}

HRESULT Vexo_encodeSignals(const VexoSignalWrite *writes, uint32_t count, uint8_t *buffer, uint32_t length,
                           HRESULT *results, uint32_t *written)
{
    if (buffer == nullptr || length == 0 || (writes == nullptr && count > 0))
        return E_INVALIDARG;
    uint32_t done = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const HRESULT result = encodeWrite(writes[i], buffer, length);
        done += result == S_OK ? 1 : 0;
        if (results != nullptr)
            results[i] = result;
    }
    if (written != nullptr)
        *written = done;
    return done == count ? S_OK : S_FALSE;
}

HRESULT Vexo_destroyEncodeEnum(VexoEncodeState *state)
{
    if (state == nullptr)
        return S_OK;
    EncodeState *block = stateAs(state);
    if (block == nullptr)
        return E_INVALIDARG;
    block->tag = kReleasedTag;
    delete block;
    return S_OK;
}
