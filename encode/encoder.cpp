// The encoder object and its flat interface. The handle a caller holds is a small block
// tagged "CEnc" around the Encoder, so a null, foreign or destroyed handle is refused
// before anything is touched.
#include "encoder.h"

#include <algorithm>
#include <cstring>

#include "api_guard.h"
#include "database.h"
#include "enumerator.h"
#include "vexo/constants.h"
#include "vexo/convert.h"

namespace vexo::encode {

using namespace core;

namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr uint32_t kEncoderTag = 0x636E4543;  // "CEnc"

struct EncoderBlock {
    explicit EncoderBlock(std::unique_ptr<WalkQueries> query) : encoder(std::move(query)) {}
    uint32_t tag = kEncoderTag;
    Encoder encoder;
};

EncoderBlock *blockAs(VexoEncoder *handle)
{
    auto *block = reinterpret_cast<EncoderBlock *>(handle);
    return block != nullptr && block->tag == kEncoderTag ? block : nullptr;
}

const void *firstComputation(const Coding &coding)
{
    const void *first = nullptr;
    model::forEachNode(coding.physicalToInternalCompus, [&](void *entry) {
        first = entry;
        return false;
    });
    return first;
}

}  // namespace

HRESULT Encoder::initialise(const void *node)
{
    Lock hold(lock_);
    if (node != nullptr) {
        const uint32_t code = codeOf(node);
        if (code != Channel::kCode && code != Cluster::kCode && code != Frame::kCode)
            return E_INVALIDARG;
        if (!ownedBy(node, query_->database()))
            return E_INVALIDARG;
    }
    node_ = node;
    images_.build(*query_, node);

    // Default values reach the frame images through one ordinary change, trigger and
    // fetch cycle of a temporary application, so nothing is pending afterwards.
    uint32_t application = 0;
    if (registerApplication(&application) != S_OK)
        return S_OK;
    setSendMode(application, Q3_ENC_MODE_PERIODIC);
    writeDefaults(application);
    trigger(TriggerMode::Changed, 0);
    VexoChangedFrame frame{};
    while (getChangedFrame(&frame) == S_OK) {
    }
    deregisterApplication(application);
    return S_OK;
}

void Encoder::writeDefaults(uint32_t application)
{
    struct Write final : FoundSink {
        Encoder &encoder;
        uint32_t application;
        Write(Encoder &owner, uint32_t app) : encoder(owner), application(app) {}
        void take(const Found &found) override
        {
            const auto *signal = static_cast<const Signal *>(found.node);
            const auto *coding = nodeAs<Coding>(signal->reference);
            if (coding == nullptr)
                return;
            const uint32_t type = coding->encoding & Q3_ENCODING_TYPEMASK;
            const void *computation = firstComputation(*coding);
            if (type < Q3_ENCODING_DIRECT || type > Q3_ENCODING_PACKED_BCD || computation == nullptr)
                return;
            SignalValue value{};
            value.valueType = Q3_VALUETYPE_DOUBLE;
            value.value.f64 = signal->defaultValue;
            uint64_t internal = 0;
            if (Vexo_physicalToInternal(handleOf(signal), handleOf(computation), &value, &internal) != S_OK)
                return;
            uint8_t bytes[8];
            for (int i = 0; i < 8; ++i)
                bytes[i] = static_cast<uint8_t>(internal >> (8 * i));
            encoder.changeSignal(WriteMode::Every, application, signal, sizeof bytes, bytes);
        }
    } write(*this, application);
    query_->countSignals(node_, &write);
}

HRESULT Encoder::registerApplication(uint32_t *application)
{
    Lock hold(lock_);
    if (application == nullptr)
        return E_FAIL;
    for (uint32_t i = 0; i < kApplicationCount; ++i) {
        if (!slots_[i].inUse) {
            slots_[i] = {1, Q3_ENC_MODE_OFF};
            activeMask_ &= ~(1u << i);
            *application = i;
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT Encoder::deregisterApplication(uint32_t application)
{
    Lock hold(lock_);
    if (!registered(application))
        return E_FAIL;
    setSendMode(application, Q3_ENC_MODE_OFF);
    slots_[application].inUse = 0;
    return S_OK;
}

HRESULT Encoder::setSendMode(uint32_t application, uint32_t mode)
{
    Lock hold(lock_);
    if (!registered(application))
        return E_FAIL;
    if (mode > Q3_ENC_MODE_PERIODIC)
        return E_INVALIDARG;
    slots_[application].mode = static_cast<uint8_t>(mode);
    if (mode == Q3_ENC_MODE_OFF)
        activeMask_ &= ~(1u << application);
    else
        activeMask_ |= 1u << application;
    return S_OK;
}

HRESULT Encoder::getSendMode(uint32_t application, uint32_t *mode)
{
    Lock hold(lock_);
    if (mode == nullptr || !registered(application))
        return E_FAIL;
    *mode = slots_[application].mode;
    return S_OK;
}

HRESULT Encoder::insertOrDelete(uint32_t, const void *node, bool insert)
{
    Lock hold(lock_);
    if (!ownedBy(node, query_->database()))
        return S_FALSE;
    const FrameTriggering *triggering = nodeExactly<IdentifierBasedTriggering>(node);
    if (triggering == nullptr)
        triggering = nodeExactly<AbsolutelyScheduledTriggering>(node);
    if (triggering != nullptr) {
        const Frame *frame = nodeExactly<Frame>(triggering->reference);
        return frame != nullptr ? images_.includeFrame(*query_, frame, insert) : S_FALSE;
    }
    if (nodeExactly<ElementGroup>(node) != nullptr)
        return images_.includeEcu(*query_, node, insert);
    return S_FALSE;
}

HRESULT Encoder::isSignalCyclic(const void *signal)
{
    Lock hold(lock_);
    if (query_ == nullptr)
        return E_FAIL;
    if (nodeExactly<Signal>(signal) == nullptr || !ownedBy(signal, query_->database()))
        return E_INVALIDARG;
    return query_->signalIsCyclic(signal) ? S_OK : S_FALSE;
}

HRESULT Encoder::changeSignal(WriteMode mode, uint32_t application, const void *signal, uint32_t length,
                              const uint8_t *data)
{
    Lock hold(lock_);
    const auto *node = nodeExactly<Signal>(signal);
    if (node == nullptr || !ownedBy(node, query_->database()) || application >= kApplicationCount
        || (data == nullptr && length != 0))
        return E_INVALIDARG;
    const auto *coding = nodeAs<Coding>(node->reference);
    if (coding == nullptr || coding->bitlen > 64)
        return E_INVALIDARG;
    // The staging value holds as many of the caller's bits as the coding has.
    uint64_t staging = 0;
    const uint32_t bytes = length < 8 ? length : 8;
    for (uint32_t i = 0; i < bytes; ++i)
        staging |= uint64_t(data[i]) << (8 * i);
    const uint64_t bits = std::min<uint64_t>(8ull * length, coding->bitlen);
    if (bits < 64)
        staging &= (uint64_t(1) << bits) - 1;
    return images_.writeSignal(*node, coding->bitlen, mode, staging, 1u << application);
}

HRESULT Encoder::trigger(TriggerMode mode, uint64_t now)
{
    Lock hold(lock_);
    images_.trigger(*query_, mode, now);
    return S_OK;
}

uint32_t Encoder::countFrames() { return images_.frames.size(); }

HRESULT Encoder::getFrame(uint32_t n, VexoChangedFrame *frame)
{
    if (frame == nullptr)
        return E_INVALIDARG;
    if (n >= images_.frames.size())
        return S_FALSE;
    const Image &image = images_.frames.at(n);
    *frame = {handleOf(image.node), image.byteLength, image.bytes.get()};
    return S_OK;
}

HRESULT Encoder::getChangedFrame(VexoChangedFrame *frame)
{
    Lock hold(lock_);
    if (frame == nullptr)
        return S_FALSE;
    ImageTable &frames = images_.frames;
    for (Image *image = frames.level(0).changed; image != nullptr; image = image->changedNext) {
        if ((image->changeMask & activeMask_) == 0)
            continue;
        *frame = {handleOf(image->node), image->byteLength, image->bytes.get()};
        frames.clearChanged(*image, activeMask_);
        return S_OK;
    }
    // Nothing left: a ONCE application has had what was pending and goes quiet.
    for (uint32_t i = 0; i < kApplicationCount && activeMask_ != kCyclicSend; ++i) {
        const uint32_t bit = 1u << i;
        if ((activeMask_ & bit) != 0 && slots_[i].mode == Q3_ENC_MODE_ONCE)
            activeMask_ &= ~bit;
    }
    return S_FALSE;
}

}  // namespace vexo::encode

using namespace vexo;
using namespace vexo::encode;

HRESULT Vexo_CreateEncoder(VexoNode *database, const VexoNode *node, VexoEncoder **encoder)
{
    if (encoder == nullptr || core::databaseAs(database) == nullptr)
        return S_OK;
    // Failure shows only as an unwritten handle; bad_alloc ends up there too.
    core::guarded([&]() -> HRESULT {
        auto query = std::make_unique<WalkQueries>();
        if (query->setDatabase(database) != S_OK)
            return S_OK;
        auto block = std::make_unique<EncoderBlock>(std::move(query));
        if (block->encoder.initialise(node) != S_OK)
            return S_OK;
        *encoder = reinterpret_cast<VexoEncoder *>(block.release());
        return S_OK;
    });
    return S_OK;
}

HRESULT Vexo_DestroyEncoder(VexoEncoder *encoder)
{
    if (encoder == nullptr)
        return S_OK;
    EncoderBlock *block = blockAs(encoder);
    if (block == nullptr)
        return E_INVALIDARG;
    block->tag = 0;
    delete block;
    return S_OK;
}

HRESULT Vexo_EncoderRegister(VexoEncoder *encoder, uint32_t *application)
{
    EncoderBlock *block = blockAs(encoder);
    return block != nullptr ? block->encoder.registerApplication(application) : E_INVALIDARG;
}

HRESULT Vexo_EncoderDeregister(VexoEncoder *encoder, uint32_t application)
{
    EncoderBlock *block = blockAs(encoder);
    return block != nullptr ? block->encoder.deregisterApplication(application) : E_INVALIDARG;
}

HRESULT Vexo_EncoderSetSendMode(VexoEncoder *encoder, uint32_t application, uint32_t mode)
{
    EncoderBlock *block = blockAs(encoder);
    return block != nullptr ? block->encoder.setSendMode(application, mode) : E_INVALIDARG;
}

HRESULT Vexo_EncoderGetSendMode(VexoEncoder *encoder, uint32_t application, uint32_t *mode)
{
    EncoderBlock *block = blockAs(encoder);
    return block != nullptr ? block->encoder.getSendMode(application, mode) : E_INVALIDARG;
}

HRESULT Vexo_EncoderInsert(VexoEncoder *encoder, uint32_t application, const VexoNode *node)
{
    EncoderBlock *block = blockAs(encoder);
    return block != nullptr ? block->encoder.insertOrDelete(application, node, true) : E_INVALIDARG;
}

HRESULT Vexo_EncoderDelete(VexoEncoder *encoder, uint32_t application, const VexoNode *node)
{
    EncoderBlock *block = blockAs(encoder);
    return block != nullptr ? block->encoder.insertOrDelete(application, node, false) : E_INVALIDARG;
}

HRESULT Vexo_EncoderChangeSignal(VexoEncoder *encoder, uint32_t application, const VexoNode *signal,
                                 uint64_t value)
{
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    return Vexo_EncoderChangeSignalEx(encoder, application, signal, sizeof bytes, bytes);
}

HRESULT Vexo_EncoderChangeSignalEx(VexoEncoder *encoder, uint32_t application, const VexoNode *signal,
                                   uint32_t length, const uint8_t *data)
{
    EncoderBlock *block = blockAs(encoder);
    return block != nullptr ? block->encoder.changeSignal(WriteMode::Included, application, signal, length, data)
                            : E_INVALIDARG;
}

HRESULT Vexo_EncoderTrigger(VexoEncoder *encoder, uint32_t timeLow, uint32_t timeHigh)
{
    EncoderBlock *block = blockAs(encoder);
    return block != nullptr ? block->encoder.trigger(TriggerMode::Timed, (uint64_t(timeHigh) << 32) | timeLow)
                            : E_INVALIDARG;
}

HRESULT Vexo_EncoderGetChangedFrame(VexoEncoder *encoder, VexoChangedFrame *frame)
{
    EncoderBlock *block = blockAs(encoder);
    return block != nullptr ? block->encoder.getChangedFrame(frame) : E_INVALIDARG;
}

HRESULT Vexo_EncoderIsSignalCyclic(VexoEncoder *encoder, const VexoNode *signal)
{
    EncoderBlock *block = blockAs(encoder);
    return block != nullptr ? block->encoder.isSignalCyclic(signal) : E_INVALIDARG;
}
