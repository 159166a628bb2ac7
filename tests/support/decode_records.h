// Frames decoded through the stepwise functions (Vexo_decodeMessage and its calling order, Vexo_internalToPhysical,
// Vexo_stringLookup), written as the batch decoder's records, and the comparison of both, field by field.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "vexo/vexo.h"

struct ExpectedRecord { VexoBatchRecord record; std::string text; /* of TEXT records */ };

// Appends the records of one frame: FRAME records for the matching triggerings with their signals, UNKNOWN when none
// matched, the channel's own PDU instances under a FRAME record with a null triggering when it has any.
inline void decodeStepwise(VexoNode *db, VexoNode *channel, bool ownInstances, const VexoFrame &frame,
                            uint32_t frameIndex, const VexoFilter *filter, uint32_t language,
                            std::vector<ExpectedRecord> &out, bool lookUpTexts = true)
{
    static thread_local std::unique_ptr<uint64_t[]> block(new uint64_t[(Vexo_getDecodeStateSize() + 7) / 8]);
    auto *state = reinterpret_cast<VexoDecodeState *>(block.get());
    ASSERT_EQ(Vexo_decodeMessage(channel, frame.identifier, frame.flags, frame.length, frame.data, &state), S_OK);
    const auto push = [&](uint32_t kind, VexoNode *triggering) {
        ExpectedRecord expected{};
        expected.record.kind = kind;
        expected.record.frameIndex = frameIndex;
        expected.record.frameTriggering = triggering;
        out.push_back(expected);
    };
    bool matched = false;
    VexoNode *triggering = nullptr;
    HRESULT step = Vexo_decodeNextFrametriggering(state, &triggering);
    while (step >= 0) {
        if (step == S_OK && triggering != nullptr) {
            matched = true;
            push(VEXO_RECORD_FRAME, triggering);
        } else if (step == S_FALSE) {
            if (!matched)
                push(VEXO_RECORD_UNKNOWN, nullptr);
            if (ownInstances)
                push(VEXO_RECORD_FRAME, nullptr);
        } else if (frame.data == nullptr) {
            break;  // the own instances' stage never ends without data (E_POINTER)
        }
        for (;;) {
            char text[8192];
            VexoDecodedSignal decoded{};
            decoded.text = text;
            decoded.textCapacity = sizeof text;
            const HRESULT hr = Vexo_decodeNextSignal(state, filter, &decoded);
            if (hr < 0)
                break;
            ExpectedRecord expected{};
            VexoBatchRecord &record = expected.record;
            record.frameIndex = frameIndex;
            record.frameTriggering = decoded.frameTriggering;
            record.signal = decoded.signal;
            record.signalInstance = decoded.signalInstance;
            if (hr == S_FALSE) {
                record.kind = VEXO_RECORD_TEXT;
                record.textLength = decoded.textLength;
                expected.text.assign(text, decoded.textLength);
            } else {
                record.kind = VEXO_RECORD_SIGNAL;
                record.rawValue = decoded.rawValue;
                record.status = Vexo_internalToPhysical(decoded.signal, decoded.rawValue, &record.value);
                if (lookUpTexts && record.value.text != nullptr
                    && Vexo_stringLookup(db, record.value.text, language, language, &record.valueText) != S_OK)
                    record.valueText = nullptr;
            }
            out.push_back(expected);
        }
        triggering = nullptr;
        step = Vexo_decodeNextFrametriggering(state, &triggering);
    }
}

inline void expectSameRecord(const ExpectedRecord &want, const VexoBatchRecord &got)
{
    const VexoBatchRecord &w = want.record;
    ASSERT_EQ(got.kind, w.kind);
    const auto where = [](const VexoBatchRecord &r) {
        return std::make_tuple(r.frameIndex, r.frameTriggering, r.signal, r.signalInstance, r.rawValue, r.status,
                               r.textLength);
    };
    EXPECT_EQ(where(got), where(w));
    if (got.kind == VEXO_RECORD_TEXT) {
        ASSERT_NE(got.text, nullptr);
        EXPECT_EQ(std::string(got.text, got.textLength), want.text);
    } else {
        EXPECT_EQ(got.text, nullptr);
    }
    EXPECT_EQ(got.value.reserved, 0u);
    if (got.kind == VEXO_RECORD_SIGNAL && w.status == E_UNEXPECTED)
        return;  // the value is not meaningful then
    const auto value = [](const VexoBatchRecord &r) {
        return std::make_tuple(r.value.valueType, r.value.value.u64, r.value.computation, r.value.text, r.valueText);
    };
    EXPECT_EQ(value(got), value(w)) << got.value.value.f64 << " / " << w.value.value.f64;
}

// Decodes frames with a plan into buffers of the given sizes (as many calls as that takes), and compares every record
// with the stepwise functions' ones. Gives the number of signal records compared.
inline size_t expectBatchEqualsStepwise(VexoNode *db, VexoNode *channel, bool ownInstances, const VexoDecodePlan *plan,
                                       const std::vector<VexoFrame> &frames, const VexoFilter *filter,
                                       uint32_t language, uint32_t capacity, uint32_t textCapacity)
{
    std::vector<ExpectedRecord> expected;
    for (uint32_t i = 0; i < frames.size(); ++i)
        decodeStepwise(db, channel, ownInstances, frames[i], i, filter, language, expected);
    size_t signals = 0;
    for (const ExpectedRecord &record : expected)
        signals += record.record.kind == VEXO_RECORD_SIGNAL || record.record.kind == VEXO_RECORD_TEXT ? 1 : 0;
    std::vector<VexoBatchRecord> records(capacity);
    std::vector<char> text(textCapacity);
    size_t at = 0, compared = 0;
    while (at < frames.size()) {
        VexoBatchCount done{};
        const HRESULT hr = Vexo_decodeFrames(plan, frames.data() + at, uint32_t(frames.size() - at), records.data(),
                                             capacity, text.data(), textCapacity, &done);
        EXPECT_GE(hr, 0);
        EXPECT_GT(done.frames, 0u) << "frame " << at << " fits no empty buffer";
        if (hr < 0 || done.frames == 0)
            return signals;
        EXPECT_EQ(hr == S_OK, at + done.frames == frames.size());
        for (uint32_t i = 0; i < done.records; ++i, ++compared) {
            if (compared >= expected.size()) {
                ADD_FAILURE() << "more records than the stepwise functions give";
                return signals;
            }
            VexoBatchRecord got = records[i];
            got.frameIndex += uint32_t(at);  // indexes count within each call
            SCOPED_TRACE("record " + std::to_string(compared) + ", frame " + std::to_string(got.frameIndex));
            expectSameRecord(expected[compared], got);
        }
        at += done.frames;
    }
    EXPECT_EQ(compared, expected.size());
    return signals;
}
