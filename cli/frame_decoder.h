// Decoding logged frames into their signals' physical values: the one place where the
// tool calls the library's decoder. Frames go through a batch decoding plan per channel
// (vexo/batch.h), many per call, rebuilt whenever the model changed since it was
// compiled; the step functions (Vexo_decodeMessage, Vexo_decodeNextFrametriggering,
// Vexo_decodeNextSignal, Vexo_internalToPhysical) give the same results and stay
// selectable with the environment variable VEXO_DECODER=step, so that tests compare the
// two. Nothing is allocated per frame once the buffers grew, and a decoded signal refers
// to the decoder's record rather than copying it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "address_table.h"
#include "candump.h"
#include "network.h"

namespace vexo::cli {

// One decoded signal: its record from the library's decoder, valid until the results
// of the next frame are taken.
struct SignalSample {
    const SignalInfo *signal = nullptr;
    const VexoBatchRecord *record = nullptr;
    const std::string *text = nullptr;  // its value description, if one applies

    // A text signal, whose bytes are asciiText().
    bool ascii() const { return record->kind == VEXO_RECORD_TEXT; }
    std::string_view asciiText() const { return std::string_view(record->text, record->textLength); }
    uint64_t raw() const { return record->rawValue; }
    // The physical value; the raw value as UINT64 when it cannot be converted.
    SignalValue value() const
    {
        if (record->status >= 0)
            return record->value;
        SignalValue raw{};
        raw.valueType = Q3_VALUETYPE_UINT64;
        raw.value.u64 = record->rawValue;
        return raw;
    }
};

struct DecodedFrame {
    const FrameInfo *frame = nullptr;
    std::vector<SignalSample> signals;
    bool texts = false;  // a signal has a value description
};

class FrameDecoder {
public:
    // filter: a node filter that selects the signals to decode, or null for all.
    FrameDecoder(Network &network, const VexoFilter *filter);
    ~FrameDecoder();
    FrameDecoder(const FrameDecoder &) = delete;
    FrameDecoder &operator=(const FrameDecoder &) = delete;

    // Decodes a frame on every channel of the database. Returns the number of frame
    // descriptions that matched it (0: the database does not describe it); their
    // results stay valid until the next call.
    size_t decode(const CanFrame &frame);
    // The same for many frames (as the candump parser gives them) in one call per
    // channel: decodeFrames takes them, then resultsOf(i), for i in increasing order
    // (some may be passed over), gives the number of results of frames[i] and makes them
    // the ones result() gives. The frames must stay until the last resultsOf.
    void decodeFrames(const VexoFrame *frames, size_t count);
    size_t resultsOf(size_t i);
    const DecodedFrame &result(size_t i) const { return results_[i]; }

private:
    DecodedFrame &nextResult(const FrameInfo *frame);
    void addSample(DecodedFrame &result, const SignalInfo *signal, const VexoBatchRecord &record)
    {
        const std::string *text = nullptr;
        if (record.value.text != nullptr && record.status >= 0 && record.kind != VEXO_RECORD_TEXT) {
            text = valueText(record.value.text);
            result.texts = true;
        }
        result.signals.push_back({signal, &record, text});
    }
    size_t resultsOfBatch(size_t i);
    size_t decodeSteps(const VexoFrame &frame);

    Network &network_;
    const VexoFilter *filter_;
    bool steps_ = false;  // VEXO_DECODER=step: the step functions instead of the plans
    const VexoFrame *frames_ = nullptr;  // of the last decodeFrames
    // The batch path: a plan per channel (in the order of network.channels()), and for
    // each the records and text room of the frames of one call (grown when they do not
    // fit), how many records they took and the first not yet handed out.
    struct Room {
        std::vector<VexoBatchRecord> records = std::vector<VexoBatchRecord>(1024);
        std::vector<char> text = std::vector<char>(1024);
        uint32_t used = 0, next = 0;
    };
    std::vector<VexoDecodePlan *> plans_;
    std::vector<Room> rooms_;
    // The step path. How many identifier triggerings name each identifier (bit 31: extended). When every
    // triggering is one by identifier and no channel has PDU instances of its own, a frame
    // with another identifier cannot match and is not handed to the decoder at all, and
    // the walk over the triggerings stops after the only one that can match.
    std::unordered_map<uint32_t, uint32_t> triggerings_;
    bool indexed_ = true;
    std::unique_ptr<uint64_t[]> state_;  // the decoder's state block, reused for every frame
    char textBuffer_[1024];
    // The step functions' results as the batch decoder's records, with the result and
    // the signal of each, and the bytes of the text signals.
    std::vector<VexoBatchRecord> stepRecords_;
    std::vector<std::pair<size_t, const SignalInfo *>> stepSamples_;
    std::string stepTexts_;
    // The results of the last frame.
    std::vector<DecodedFrame> results_;
    size_t count_ = 0;
    // A frame triggering's frame, and the signals of its last frame in the order of their
    // records: that order repeats from frame to frame (for a multiplexed frame, while the
    // switch keeps its value), so a signal is mostly found by one comparison.
    struct Triggering {
        const FrameInfo *frame = nullptr;
        std::vector<std::pair<const VexoNode *, const SignalInfo *>> signals;
    };
    const SignalInfo *signalOf(VexoNode *signal);
    Triggering *triggeringOf(const VexoNode *triggering);
    const SignalInfo *signalIn(Triggering &triggering, size_t index, VexoNode *signal)
    {
        if (index < triggering.signals.size() && triggering.signals[index].first == signal)
            return triggering.signals[index].second;
        return learnSignal(triggering, index, signal);
    }
    const SignalInfo *learnSignal(Triggering &triggering, size_t index, VexoNode *signal);
    const std::string *valueText(const VexoStringSlot *slot);
    // The network's records of the signals, triggerings and value texts met so far.
    AddressTable<VexoNode, const SignalInfo> seenSignals_;
    AddressTable<VexoNode, Triggering> seenTriggerings_;
    std::vector<std::unique_ptr<Triggering>> ownTriggerings_;
    AddressTable<VexoStringSlot, const std::string> seenTexts_;
};

}  // namespace vexo::cli
