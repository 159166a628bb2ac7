// Small bus models for the encoder tests, built through the public creation functions. Every
// element gets a fresh identifier, so clusters are listed where database-wide walks find them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "made.h"
#include "vexo/vexo.h"

namespace encode_test {

constexpr uint32_t kLE = Q3_BYTEORDER_LITTLEENDIAN, kBE = Q3_BYTEORDER_BIGENDIAN, kNoUpdate = 0xFFFFFFFFu;

struct Model {
    VexoNode *db = made(Vexo_create, u"db");
    int serial = 0;
    std::u16string name;
    ~Model() { Vexo_destroy(db); }

    const VexoChar *id()  // a fresh identifier, valid until the next call
    {
        const std::string n = "n" + std::to_string(++serial);
        return name.assign(n.begin(), n.end()).c_str();
    }
    template <class Create, class... Args>  // runs a creation function (database first, out pointer last)
    VexoNode *make(Create create, Args... args) { return made(create, db, args...); }

    VexoNode *cluster(uint32_t type = Q3_CLUSTERTYPE_CAN) { return make(Vexo_createCluster, id(), type); }
    VexoNode *channel(VexoNode *cluster) { return make(Vexo_createChannel, id(), cluster); }
    VexoNode *ecu() { return make(Vexo_createECU, id()); }
    VexoNode *frame(uint32_t length) { return make(Vexo_createFrame, id(), length); }
    VexoNode *coding(uint32_t bits, uint32_t type = Q3_ENCODING_DIRECT)
    {
        return make(Vexo_createCoding, id(), bits, type, nullptr);
    }
    VexoNode *trigger(VexoNode *channel, VexoNode *frame, uint32_t identifier, VexoNode *ecu = nullptr)
    {
        return make(Vexo_createIdentifierBasedTriggering, id(), identifier, 0u, frame, ecu, channel);
    }
    VexoNode *signalPdu(uint32_t n, VexoNode *owner = nullptr) { return make(Vexo_createSignalPDU, id(), n, owner); }
    VexoNode *muxPdu(uint32_t bits, uint32_t switchOrder, uint32_t switchPosition, uint32_t switchLength)
    {
        return make(Vexo_createMultiplexedPDU, id(), bits, switchOrder, switchPosition, switchLength, 0u, nullptr);
    }
    // A part of a multiplexed PDU holding a new signal PDU of the given length.
    VexoNode *part(VexoNode *mux, uint32_t switchCode, uint32_t bits, bool isStatic, VexoNode **pdu)
    {
        VexoNode *n = make(Vexo_createMultiplexedPart, id(), switchCode, mux);
        *pdu = signalPdu(bits, n);
        EXPECT_EQ(isStatic ? Vexo_setStaticPart(mux, n) : Vexo_addDynamicParts(mux, 1, &n), S_OK);
        return n;
    }
    VexoNode *place(VexoNode *pdu, VexoNode *frame, uint32_t bitpos = 0, uint32_t order = kLE,
                    uint32_t update = kNoUpdate)
    {
        return make(Vexo_createPDUInstance, id(), order, bitpos, update, pdu, frame);
    }
    // A signal with an identity physical-to-internal computation over all values, so its default reaches the images.
    VexoNode *signal(uint32_t bits, double defaultValue = 0, uint32_t type = Q3_ENCODING_DIRECT)
    {
        VexoNode *c = coding(bits, type), *identity = make(Vexo_createIdentityComputation, id());
        EXPECT_EQ(Vexo_addRange(identity, -1e300, 1e300, 3), S_OK);
        EXPECT_EQ(Vexo_addPhysicalToInternalComputations(c, 1, &identity), S_OK);
        return make(Vexo_createSignal, id(), 0u, defaultValue, 0.0, 0.0, c);
    }
    VexoNode *instance(VexoNode *signal, VexoNode *pdu, uint32_t bitpos, uint32_t order = kLE,
                       uint32_t update = kNoUpdate)
    {
        return make(Vexo_createSignalInstance, id(), order, bitpos, update, signal, pdu);
    }
    VexoNode *pduTriggering(VexoNode *pdu, VexoNode *ch) { return make(Vexo_createPDUTriggering, id(), pdu, ch); }
    VexoNode *cyclic(VexoNode *parent, uint64_t cycle) { return make(Vexo_createCyclicTiming, cycle, parent); }
    VexoNode *event(VexoNode *parent, uint32_t wait) { return make(Vexo_createEventControlledTiming, wait, parent); }
};

struct Sent { VexoNode *frame; std::vector<uint8_t> data; };

struct Encoder {
    VexoEncoder *handle = nullptr;
    Encoder(VexoNode *db, const VexoNode *node) { EXPECT_EQ(Vexo_CreateEncoder(db, node, &handle), S_OK); }
    ~Encoder() { Vexo_DestroyEncoder(handle); }
    operator VexoEncoder *() const { return handle; }

    uint32_t app(uint32_t mode, const VexoNode *triggering = nullptr)  // a new application, including triggering
    {
        uint32_t a = 99;
        EXPECT_EQ(Vexo_EncoderRegister(handle, &a), S_OK);
        EXPECT_EQ(Vexo_EncoderSetSendMode(handle, a, mode), S_OK);
        EXPECT_TRUE(triggering == nullptr || Vexo_EncoderInsert(handle, a, triggering) == S_OK);
        return a;
    }
    std::vector<Sent> fetch()
    {
        std::vector<Sent> out;
        for (VexoChangedFrame f{}; Vexo_EncoderGetChangedFrame(handle, &f) == S_OK;)
            out.push_back({f.frame, std::vector<uint8_t>(f.data, f.data + f.length)});
        return out;
    }
    // A new PERIODIC application including `triggering` sets `signal` to `value`, triggers at 1: the one frame's bytes.
    std::vector<uint8_t> sendOnce(const VexoNode *triggering, const VexoNode *signal, uint64_t value)
    {
        EXPECT_EQ(Vexo_EncoderChangeSignal(handle, app(Q3_ENC_MODE_PERIODIC, triggering), signal, value), S_OK);
        EXPECT_EQ(Vexo_EncoderTrigger(handle, 1, 0), S_OK);
        const std::vector<Sent> sent = fetch();
        EXPECT_EQ(sent.size(), 1u);
        return sent.size() == 1 ? sent[0].data : std::vector<uint8_t>();
    }
};

}  // namespace encode_test
