// The encoder object: frame and PDU images for a part of the model, 24 application slots
// with send modes, and the queue of changed frames. Every operation except counting and
// reading frames by index holds one recursive lock, so applications may call from several
// threads; initialisation and deregistration call other operations while holding it.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "images.h"
#include "walk_queries.h"
#include "vexo/encode.h"

namespace vexo::encode {

constexpr uint32_t kApplicationCount = 24;

class Encoder {
public:
    explicit Encoder(std::unique_ptr<WalkQueries> query) : query_(std::move(query)) {}
    Encoder(const Encoder &) = delete;
    Encoder &operator=(const Encoder &) = delete;
    virtual ~Encoder() = default;

    // Builds the images for the frames and PDUs below node (null: the whole database) and
    // writes every signal's default value. E_INVALIDARG for a node without a start rule or
    // of another database; std::bad_alloc passes through.
    virtual HRESULT initialise(const void *node);
    virtual HRESULT registerApplication(uint32_t *application);
    virtual HRESULT deregisterApplication(uint32_t application);
    virtual HRESULT setSendMode(uint32_t application, uint32_t mode);
    virtual HRESULT getSendMode(uint32_t application, uint32_t *mode);
    virtual HRESULT insertOrDelete(uint32_t application, const void *node, bool insert);
    virtual HRESULT isSignalCyclic(const void *signal);
    // mode 1 writes every image holding the signal, mode 2 only included ones.
    virtual HRESULT changeSignal(WriteMode mode, uint32_t application, const void *signal, uint32_t length,
                                 const uint8_t *data);
    virtual HRESULT trigger(TriggerMode mode, uint64_t now);
    // Unlocked: the caller makes sure no other call runs.
    virtual uint32_t countFrames();
    virtual HRESULT getFrame(uint32_t n, VexoChangedFrame *frame);
    virtual HRESULT getChangedFrame(VexoChangedFrame *frame);

    uint32_t activeMask() const { return activeMask_; }

private:
    struct Slot {
        uint32_t inUse = 0;
        uint8_t mode = 0;
    };

    void writeDefaults(uint32_t application);
    bool registered(uint32_t application) const { return application < kApplicationCount && slots_[application].inUse; }

    EncoderImages images_;
    std::unique_ptr<WalkQueries> query_;
    const void *node_ = nullptr;
    uint32_t activeMask_ = kCyclicSend;
    Slot slots_[kApplicationCount];
    std::recursive_mutex lock_;
};

}  // namespace vexo::encode
