// Random networks for the decoder's equivalence tests: one channel with identifier, masked and
// scheduled triggerings (shared identifiers, other lengths, every frame-type flag, listed twice or
// without frame), signals of every encoding, multiplexed PDUs with static, dynamic, else and nested
// parts, segments, switches in the identifier bits, the channel's own PDU instances; random changes.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "made.h"
#include "vexo/vexo.h"

struct RandomNetwork {
    std::mt19937_64 rng;
    VexoNode *db = made(Vexo_create, nullptr), *channel = made(Vexo_createChannel, db, nullptr, nullptr);
    std::vector<VexoNode *> frames, triggerings, pdus, signalPdus, signals, instances, codings, parts;
    std::vector<uint32_t> identifiers;
    bool ownInstances = false;
    uint32_t named = 0;  // element ids handed out, for filters

    std::u16string nextId(char16_t prefix)
    {
        const std::string digits = std::to_string(named++);
        return prefix + std::u16string(digits.begin(), digits.end());
    }

    explicit RandomNetwork(uint64_t seed) : rng(seed)
    {
        for (uint32_t i = 0, pool = 3 + below(12); i < pool; ++i)
            identifiers.push_back(below(4) == 0 ? 0x18DA0000u + below(0x800) : below(0x800));
        for (uint32_t i = 0, count = 1 + below(14); i < count; ++i)
            addFrame();
        if ((ownInstances = below(6) == 0 && !signalPdus.empty()))
            made(Vexo_createPDUInstance, db, nullptr, 0u, 0u, 0u, pick(signalPdus), channel);
    }
    ~RandomNetwork() { Vexo_destroy(db); }

    uint32_t below(uint32_t n) { return static_cast<uint32_t>(rng() % n); }
    template <class T> T pick(const std::vector<T> &items) { return items[below(static_cast<uint32_t>(items.size()))]; }

    VexoNode *coding()
    {
        static const uint32_t kEncodings[] = {Q3_ENCODING_DIRECT, Q3_ENCODING_DIRECT, Q3_ENCODING_2COMPL,
            Q3_ENCODING_2COMPL, Q3_ENCODING_IEEE, Q3_ENCODING_1COMPL, Q3_ENCODING_DIRECT | Q3_ENCODING_SIGNED,
            Q3_ENCODING_PACKED_BCD, Q3_ENCODING_ASCII};
        static const uint32_t kLengths[] = {1, 3, 8, 12, 16, 32, 63, 64, 0, 70};
        const uint32_t encoding = kEncodings[below(9)];
        uint32_t bits = kLengths[below(10)];
        bits = encoding == Q3_ENCODING_IEEE && below(3) != 0 ? 32 + 32 * below(2)
               : encoding == Q3_ENCODING_ASCII             ? 8 * (1 + below(4)) : bits;
        if (!codings.empty() && below(3) == 0)
            return pick(codings);
        VexoNode *c = made(Vexo_createCoding, db, nullptr, bits, encoding, nullptr), *step = nullptr;
        // Descriptions then a linear rule over the field's values, as imports make them.
        for (uint32_t i = 0, described = below(3); i < described; ++i) {
            VexoStringSlot *slot = nullptr;
            Vexo_stringCreateSlot(db, 0, i == 0 ? u"low" : u"high", &slot);
            Vexo_createMappedTextComputation(db, nullptr, slot, &step);
            const double value = double(below(4));
            Vexo_addRange(step, value, value, 3);
            Vexo_addInternalToPhysicalComputations(c, 1, &step);
        }
        if (below(5) != 0) {
            Vexo_createLinearComputation(db, nullptr, below(2) == 0 ? 0.5 : 1.0, below(2) == 0 ? 0.0 : -40.0, &step);
            const bool isSigned = encoding == Q3_ENCODING_2COMPL;
            const double top = bits >= 64 ? 1.8446744073709552e19 : double((uint64_t(1) << bits) - 1);
            const double low = isSigned ? -(top + 1) / 2 : 0, high = isSigned ? (top - 1) / 2 : top;
            Vexo_addRange(step, below(6) == 0 ? 1 : low, high, 3);
            Vexo_addInternalToPhysicalComputations(c, 1, &step);
        }
        return codings.emplace_back(c);
    }

    VexoNode *signal()
    {
        if (!signals.empty() && below(5) == 0)
            return pick(signals);
        return signals.emplace_back(made(Vexo_createSignal, db, nextId(u'S').c_str(), 0u, 0.0, 0.0, 0.0, coding()));
    }

    void placeSignals(VexoNode *pdu, uint32_t bytes)
    {
        for (uint32_t i = 0, count = below(6); i < count; ++i) {
            const uint32_t bitpos = below(5) == 0 ? 0xFFFFFFF0u + below(16) : below(8 * bytes + 8);
            instances.push_back(
                made(Vexo_createSignalInstance, db, nextId(u'I').c_str(), below(2), bitpos, 0u, signal(), pdu));
        }
    }

    // A PDU for a frame of `bytes` bytes: a signal PDU, or a multiplexed one nested up to `depth` more.
    VexoNode *pdu(uint32_t bytes, uint32_t depth, VexoNode *referrer)
    {
        if (depth == 0 || below(3) != 0) {
            VexoNode *signalPdu = pdus.emplace_back(made(Vexo_createSignalPDU, db, nullptr, 8 * bytes, referrer));
            placeSignals(signalPdus.emplace_back(signalPdu), bytes);
            return signalPdu;
        }
        const int32_t position = below(8) == 0 ? -int32_t(1 + below(40)) : int32_t(below(8 * bytes + 4));
        VexoNode *mux = pdus.emplace_back(made(Vexo_createMultiplexedPDU, db, nullptr, 8 * bytes, below(2),
                                               uint32_t(position), below(12), 0u, referrer));
        for (uint32_t i = 0, partCount = 1 + below(4); i < partCount; ++i) {
            VexoNode *part = parts.emplace_back(made(Vexo_createMultiplexedPart, db, nullptr, below(6), mux));
            if (below(6) == 0)
                Vexo_addSegment(part, below(2), below(8 * bytes + 8), below(24));
            VexoNode *inner = below(8) == 0 && !pdus.empty() ? pick(pdus) : pdu(bytes, depth - 1, part);
            Vexo_setReference(part, inner);
            const uint32_t role = below(4);
            role == 0 ? Vexo_setStaticPart(mux, part)
                      : role == 1 ? Vexo_setElsePart(mux, part) : Vexo_addDynamicParts(mux, 1, &part);
        }
        return mux;
    }

    void addTriggering(VexoNode *frame)
    {
        static const uint32_t kFlags[] = {Q3_FLAG_CANSTANDARD, Q3_FLAG_CANEXTENDED, Q3_FLAG_CANSTD_OR_EXT, 3};
        VexoNode *t = nullptr;
        const uint32_t kind = below(10);
        if (kind < 7)
            Vexo_createIdentifierBasedTriggering(db, nullptr, pick(identifiers), kFlags[below(4)], frame, nullptr,
                                                 channel, &t);
        else if (kind < 9)
            Vexo_createMaskedIdentifierTriggering(db, nullptr, 0x700u | below(0x100), pick(identifiers) & 0x7FF,
                                                  kFlags[below(4)], frame, nullptr, channel, &t);
        else
            Vexo_createAbsolutelyScheduledTriggering(db, nullptr, 1, 0, 0, 0, frame, nullptr, channel, &t);
        triggerings.push_back(t);
        if (below(10) == 0)
            Vexo_addFrameTriggerings(channel, 1, &t);  // listed twice
    }

    void addFrame()
    {
        static const uint32_t kLengths[] = {0, 1, 2, 4, 6, 8, 8, 8, 12, 16, 64};
        const uint32_t bytes = kLengths[below(11)];
        VexoNode *frame = frames.emplace_back(made(Vexo_createFrame, db, nullptr, bytes));
        for (uint32_t i = 0, instanceCount = below(6) == 0 ? 2 : 1; i < instanceCount; ++i)
            made(Vexo_createPDUInstance, db, nullptr, 0u, below(4) == 0 ? below(16) : 0, 0u, pdu(bytes, 3, nullptr),
                 frame);
        for (uint32_t i = 0, triggeringCount = 1 + below(2); i < triggeringCount; ++i)
            addTriggering(below(12) == 0 ? nullptr : frame);
    }

    void change()  // one random change of what decoding depends on, drawn until one applies
    {
        VexoNode *node = nullptr;
        const std::function<bool()> changes[] = {
            [&] { return addFrame(), true; }, [&] { return addTriggering(pick(frames)), true; },
            [&] { return Vexo_setFrame(pick(triggerings), below(4) == 0 ? nullptr : pick(frames)) == S_OK; },
            [&] {
                const size_t before = instances.size();
                if (!signalPdus.empty())
                    placeSignals(pick(signalPdus), 8);
                return instances.size() != before;
            },
            [&] {
                if (codings.empty() || Vexo_createLinearComputation(db, nullptr, 2.0, 1.0, &node) != S_OK)
                    return false;
                Vexo_addRange(node, 0, 100, 3);
                return Vexo_addInternalToPhysicalComputations(pick(codings), 1, &node) == S_OK;
            },
            [&] { return !signals.empty() && Vexo_setReference(pick(signals), pick(codings)) == S_OK; },
            [&] {
                return !instances.empty() && !signals.empty()
                       && Vexo_setReference(pick(instances), pick(signals)) == S_OK;
            },
            [&] { return !parts.empty() && Vexo_addSegment(pick(parts), below(2), below(64), 1 + below(16)) == S_OK; },
            [&] { return Vexo_createPDUInstance(db, nullptr, 0, 0, 0, pick(pdus), pick(frames), &node) == S_OK; },
        };
        while (!changes[below(9)]()) {}
    }

    VexoFilter *filter()  // over a random half of the signals and a third of the instances
    {
        std::u16string ids;
        for (const std::vector<VexoNode *> *nodes : {&signals, &instances}) {
            for (VexoNode *node : *nodes) {
                const VexoChar *id = nullptr;
                if (below(nodes == &signals ? 2 : 3) == 0 && Vexo_getElementId(node, &id) == S_OK && id != nullptr)
                    ids += std::u16string(id) + u'\0';
            }
        }
        VexoFilter *out = nullptr;
        EXPECT_EQ(Vexo_createIdListFilterW(db, 0, (ids + u'\0').c_str(), &out), S_OK);
        return out;
    }

    // Frames worth decoding: identifiers in use (and others) with every flag, lengths in use, random bytes.
    std::vector<VexoFrame> receive(uint32_t count, std::vector<std::vector<uint8_t>> &storage)
    {
        static const uint32_t kLengths[] = {0, 1, 2, 4, 6, 8, 12, 16, 64, 3};
        std::vector<VexoFrame> out;
        storage.clear();
        storage.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            VexoFrame frame{};
            frame.identifier =
                below(8) == 0 ? below(0x20000000) : pick(identifiers) ^ (below(8) == 0 ? below(0x100) : 0);
            frame.flags = below(2);
            frame.length = kLengths[below(10)];
            VexoNode *triggering = pick(triggerings), *frameNode = nullptr;  // mostly what a triggering sends
            uint32_t flags = 0;
            if (below(4) != 0 && Vexo_getFrame(triggering, &frameNode) == S_OK && frameNode != nullptr
                && Vexo_getIdentifier(triggering, &frame.identifier) >= 0
                && Vexo_getFlags(triggering, &flags) == S_OK) {
                Vexo_getLength(frameNode, &frame.length);
                if ((flags & 3) != Q3_FLAG_CANSTD_OR_EXT)
                    frame.flags = flags & Q3_FLAG_CANEXTENDED;
            }
            std::vector<uint8_t> &bytes = storage.emplace_back(frame.length);
            for (uint8_t &byte : bytes)
                byte = static_cast<uint8_t>(rng());
            frame.data = below(20) == 0 && frame.length == 0 ? nullptr : bytes.data();
            out.push_back(frame);
        }
        return out;
    }
};
