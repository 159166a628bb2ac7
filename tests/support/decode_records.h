// Frames decoded through the stepwise functions (Vexo_decodeMessage and its calling order, Vexo_internalToPhysical,
// Vexo_stringLookup), written as the batch decoder's records, and the batch decoder's compared with them. Free of the
// test framework: the fuzz targets use it too.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "vexo/vexo.h"

struct ExpectedRecord { VexoBatchRecord record; std::string text; /* of TEXT records */ };

// Appends the records of one frame: FRAME records for the matching triggerings with their signals, UNKNOWN when none
// matched, the channel's own PDU instances under a FRAME record with a null triggering when it has any. False when
// Vexo_decodeMessage refuses the frame.
inline bool stepwiseRecords(VexoNode *db, VexoNode *channel, bool ownInstances, const VexoFrame &frame,
                            uint32_t frameIndex, const VexoFilter *filter, uint32_t language,
                            std::vector<ExpectedRecord> &out, bool lookUpTexts = true)
{
    static thread_local std::unique_ptr<uint64_t[]> block(new uint64_t[(Vexo_getDecodeStateSize() + 7) / 8]);
    auto *state = reinterpret_cast<VexoDecodeState *>(block.get());
    if (Vexo_decodeMessage(channel, frame.identifier, frame.flags, frame.length, frame.data, &state) != S_OK)
        return false;
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
    return true;
}

// Decodes frames with a plan into buffers of the given sizes (as many calls as that takes) and compares every record
// with the stepwise functions' ones, every field by its bits and texts by their bytes (not the value of a signal whose
// encoding cannot be decoded), and each call's counts: it ends at a frame and leaves none that would have fit. Gives
// the first difference, or "" when there is none; adds the signal and text records compared to signals.
inline std::string batchDifference(VexoNode *db, VexoNode *channel, bool ownInstances, const VexoDecodePlan *plan,
                                   const std::vector<VexoFrame> &frames, const VexoFilter *filter, uint32_t language,
                                   uint32_t capacity, uint32_t textCapacity, size_t &signals)
{
    std::vector<ExpectedRecord> expected;
    std::vector<size_t> starts;  // of each frame's records, and their end
    for (uint32_t i = 0; i < frames.size(); ++i) {
        starts.push_back(expected.size());
        if (!stepwiseRecords(db, channel, ownInstances, frames[i], i, filter, language, expected))
            return "Vexo_decodeMessage refuses frame " + std::to_string(i);
    }
    starts.push_back(expected.size());
    std::vector<VexoBatchRecord> records(capacity);
    std::vector<char> text(textCapacity);
    char message[400];
    for (size_t at = 0; at < frames.size();) {
        VexoBatchCount done{};
        const HRESULT hr = Vexo_decodeFrames(plan, frames.data() + at, uint32_t(frames.size() - at), records.data(),
                                             capacity, text.data(), textCapacity, &done);
        const int used = std::snprintf(message, 200, "call from frame %zu: %#x, %u frames, %u records, %u text bytes: ",
                                       at, unsigned(hr), done.frames, done.records, done.textBytes);
        if (hr < 0 || at + done.frames > frames.size() || (hr == S_OK) != (at + done.frames == frames.size())
            || done.records != starts[at + done.frames] - starts[at])
            return message + std::string("not the records of whole frames");
        uint32_t textBytes = 0, textRoom = 0;
        for (uint32_t i = 0; i < done.records; ++i) {
            const ExpectedRecord &expect = expected[starts[at] + i];
            VexoBatchRecord got = records[i], want = expect.record;
            got.frameIndex += uint32_t(at);  // indexes count within each call
            const bool textSame = got.kind != VEXO_RECORD_TEXT ? got.text == nullptr
                                  : got.text != nullptr && std::string(got.text, got.textLength) == expect.text;
            want.text = got.text;
            if (want.kind == VEXO_RECORD_SIGNAL && want.status == E_UNEXPECTED)
                want.value = got.value;  // not meaningful
            if (!textSame || std::memcmp(&got, &want, sizeof got) != 0) {
                std::snprintf(message + used, 200, "record %u (kind %u/%u, raw %#llx/%#llx, value %a/%a) differs in %s",
                              i, got.kind, want.kind, (unsigned long long)got.rawValue,
                              (unsigned long long)want.rawValue, got.value.value.f64, want.value.value.f64,
                              textSame ? "a field" : "its text");
                return message;
            }
            textBytes += got.textLength;
            signals += got.kind == VEXO_RECORD_SIGNAL || got.kind == VEXO_RECORD_TEXT ? 1 : 0;
        }
        if (textBytes != done.textBytes)
            return message + std::string("text bytes miscounted");
        if ((at += done.frames) == frames.size())
            break;
        for (size_t i = starts[at]; i < starts[at + 1]; ++i)  // a text record takes at most its length + 1 bytes
            textRoom += expected[i].record.kind == VEXO_RECORD_TEXT ? expected[i].record.textLength + 1 : 0;
        if (starts[at + 1] - starts[at] <= capacity - done.records && textRoom <= textCapacity - done.textBytes)
            return message + std::string("the next frame would have fit");
        if (done.frames == 0)
            break;  // it fits no empty buffer
    }
    return "";
}
