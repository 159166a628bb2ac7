// Client-side signal encoding: the search for the computations that take a physical
// value, and writing an internal value at a signal instance's place in a buffer.
#include <new>

#include "api_guard.h"
#include "bit_buffer.h"
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

// One write of Vexo_encodeSignals.
inline HRESULT encodeWrite(const VexoSignalWrite &write, uint8_t *buffer, uint32_t length)
{
    const auto *instance = nodeExactly<SignalInstance>(write.signalInstance);
    if (instance == nullptr || !decode::isKnownType(write.value.valueType))
        return E_INVALIDARG;
    const auto *signal = nodeExactly<Signal>(instance->reference);
    if (signal == nullptr)
        return E_UNEXPECTED;
    const auto *coding = nodeExactly<Coding>(signal->reference);
    if (coding == nullptr)
        return S_FALSE;
    const decode::ConversionPlan *plan = decode::conversionPlanOf(*coding);
    uint64_t internal = 0;
    if (plan != nullptr && plan->encodePieceCount != 0 && write.value.valueType == Q3_VALUETYPE_DOUBLE) {
        const double number = write.value.value.f64;
        const decode::ConversionPlan::EncodePiece *piece = plan->encodePieces;
        const decode::ConversionPlan::EncodePiece *end = piece + plan->encodePieceCount;
        while (!(number >= piece->lower && number <= piece->upper))
            if (++piece == end)
                return S_FALSE;
        const double converted = piece->identity ? number : decode::applyLinear(piece->scale, piece->offset, number);
        internal = piece->bounded ? static_cast<uint64_t>(static_cast<int64_t>(converted))
                                  : decode::integerBitsOf(converted);
        internal &= plan->encodeMask;
    } else {
        const HRESULT converted = searchAndConvert(*coding, write.value, &internal);
        if (converted != S_OK)
            return converted;
        if (coding->bitlen > 64)
            return E_UNEXPECTED;
    }
    writeField(*instance, *coding, internal, buffer, length);
    return S_OK;
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
