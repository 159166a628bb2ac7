// Client-side signal encoding: the search for the computations that take a physical
// value, and writing an internal value at a signal instance's place in a buffer.
#include <new>

#include "api_guard.h"
#include "bit_buffer.h"
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
    *block = EncodeState{};
    block->tag = kEncodeStateTag;
    block->value.valueType = value->valueType;
    block->value.value = value->value;
    *state = reinterpret_cast<VexoEncodeState *>(block);
    const auto *coding = core::nodeAs<core::Coding>(node->reference);
    if (coding == nullptr)
        return S_FALSE;
    core::cursorInit(&block->cursor, &core::kSmallNodeLayout, &coding->physicalToInternalCompus);
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
    while (core::cursorNext(&block->cursor, 1, &entry, nullptr) == S_OK) {
        const auto *candidate = core::nodeAs<core::Computation>(entry);
        if (candidate != nullptr && decode::computationMatches(*candidate, block->value)) {
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
    const auto *coding = signal != nullptr ? core::nodeAs<core::Coding>(signal->reference) : nullptr;
    if (coding == nullptr || coding->bitlen > 64)
        return E_UNEXPECTED;
    const auto bits = static_cast<int32_t>(coding->bitlen);
    codec::insertField(buffer, length, instance->bitpos,
                       instance->byteOrder == Q3_BYTEORDER_BIGENDIAN ? -bits : bits, internal);
    return S_OK;
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
