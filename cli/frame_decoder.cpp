// The per-frame decode through a batch plan per channel, or through Vexo_decodeMessage,
// Vexo_decodeNextFrametriggering, Vexo_decodeNextSignal and Vexo_internalToPhysical
// with a state block of our own.
#include "frame_decoder.h"

#include <cstdlib>
#include <cstring>

#include "failure.h"

namespace vexo::cli {

FrameDecoder::FrameDecoder(Network &network, const VexoFilter *filter)
    : network_(network), filter_(filter), rooms_(network.channels().size())
{
    const char *path = std::getenv("VEXO_DECODER");
    steps_ = path != nullptr && std::strcmp(path, "step") == 0;
    if (!steps_) {
        plans_.reserve(network.channels().size());
        for (VexoNode *channel : network.channels()) {
            VexoDecodePlan *plan = nullptr;
            if (Vexo_createDecodePlan(channel, filter, 0, &plan) != S_OK) {
                for (VexoDecodePlan *made : plans_)
                    Vexo_destroyDecodePlan(made);
                throw Failure("cannot compile the decoding plan of a channel");
            }
            plans_.push_back(plan);
        }
        return;
    }
    state_.reset(new uint64_t[(Vexo_getDecodeStateSize() + sizeof(uint64_t) - 1) / sizeof(uint64_t)]());
    for (const auto &frame : network.frames()) {
        if (frame->masked)
            indexed_ = false;
        if (!frame->triggered())
            continue;
        if (frame->eitherForm || !frame->extended)
            ++triggerings_[frame->identifier];
        if (frame->eitherForm || frame->extended)
            ++triggerings_[frame->identifier | 0x80000000u];
    }
    for (VexoNode *channel : network.channels()) {
        if (!listOf(Vexo_enumPDUInstances, channel).empty())
            indexed_ = false;
    }
}

FrameDecoder::~FrameDecoder()
{
    for (VexoDecodePlan *plan : plans_)
        Vexo_destroyDecodePlan(plan);
}

const SignalInfo *FrameDecoder::signalOf(VexoNode *signal)
{
    return seenSignals_.find(signal, [this, signal](const VexoNode *) { return &network_.signalOf(signal); });
}

FrameDecoder::Triggering *FrameDecoder::triggeringOf(const VexoNode *triggering)
{
    return seenTriggerings_.find(triggering, [this](const VexoNode *key) {
        ownTriggerings_.push_back(std::make_unique<Triggering>());
        ownTriggerings_.back()->frame = network_.frameOf(key);
        return ownTriggerings_.back().get();
    });
}

const SignalInfo *FrameDecoder::learnSignal(Triggering &triggering, size_t index, VexoNode *signal)
{
    if (index >= triggering.signals.size())
        triggering.signals.resize(index + 1);
    triggering.signals[index] = {signal, signalOf(signal)};
    return triggering.signals[index].second;
}

const std::string *FrameDecoder::valueText(const VexoStringSlot *slot)
{
    return seenTexts_.find(slot, [this](const VexoStringSlot *key) { return &network_.valueText(key); });
}

DecodedFrame &FrameDecoder::nextResult(const FrameInfo *frame)
{
    if (count_ == results_.size())
        results_.emplace_back();
    DecodedFrame &result = results_[count_++];
    result.frame = frame;
    result.signals.clear();
    result.texts = false;
    return result;
}

size_t FrameDecoder::decode(const CanFrame &frame)
{
    const VexoFrame in{frame.identifier, frame.extended ? Q3_FLAG_CANEXTENDED : Q3_FLAG_CANSTANDARD, frame.length, 0,
                       frame.data};
    decodeFrames(&in, 1);
    return resultsOf(0);
}

void FrameDecoder::decodeFrames(const VexoFrame *frames, size_t count)
{
    frames_ = frames;
    if (steps_)
        return;
    for (size_t c = 0; c < plans_.size(); ++c) {
        VexoDecodePlan *plan = plans_[c];
        if (Vexo_isDecodePlanCurrent(plan) != S_OK && Vexo_rebuildDecodePlan(plan) != S_OK)
            throw Failure("cannot compile the decoding plan of a channel");
        Room &room = rooms_[c];
        VexoBatchCount done{};
        for (;;) {
            const HRESULT hr = Vexo_decodeFrames(plan, frames, static_cast<uint32_t>(count), room.records.data(),
                                                 static_cast<uint32_t>(room.records.size()), room.text.data(),
                                                 static_cast<uint32_t>(room.text.size()), &done);
            if (hr == S_OK)
                break;
            if (hr != S_FALSE || room.records.size() >= (1u << 24))
                throw Failure("the decoder refused a frame");
            // The frames' records or texts did not fit: more room, and again.
            room.records.resize(room.records.size() * 2);
            room.text.resize(room.text.size() * 2);
        }
        room.used = done.records;
        room.next = 0;
    }
}

size_t FrameDecoder::resultsOf(size_t i)
{
    count_ = 0;
    return steps_ ? decodeSteps(frames_[i]) : resultsOfBatch(i);
}

size_t FrameDecoder::resultsOfBatch(size_t i)
{
    const std::vector<VexoNode *> &channels = network_.channels();
    for (size_t c = 0; c < channels.size(); ++c) {
        Room &room = rooms_[c];
        // Each matching triggering gives one result, even when the filter leaves none of
        // its signals; signals of the channel's own PDU instances come without one.
        DecodedFrame *current = nullptr;
        Triggering *triggering = nullptr;
        size_t index = 0;  // of the signal in the triggering's frame
        const VexoBatchRecord *at = room.records.data() + room.next, *const end = room.records.data() + room.used;
        while (at != end && at->frameIndex < i)
            ++at;  // of frames passed over
        for (; at != end && at->frameIndex == i; ++at) {
            const VexoBatchRecord &record = *at;
            if (record.kind == VEXO_RECORD_FRAME) {
                triggering = record.frameTriggering != nullptr ? triggeringOf(record.frameTriggering) : nullptr;
                current = triggering != nullptr ? &nextResult(triggering->frame) : nullptr;
                index = 0;
                continue;
            }
            if (record.kind == VEXO_RECORD_UNKNOWN)
                continue;
            if (current == nullptr || current->frame == nullptr) {
                current = &nextResult(network_.channelFrame(channels[c]));
                triggering = nullptr;
            }
            addSample(*current,
                      triggering != nullptr ? signalIn(*triggering, index++, record.signal) : signalOf(record.signal),
                      record);
        }
        room.next = static_cast<uint32_t>(at - room.records.data());
    }
    return count_;
}

size_t FrameDecoder::decodeSteps(const VexoFrame &frame)
{
    bool single = false;
    const bool extended = (frame.flags & Q3_FLAG_CANEXTENDED) != 0;
    if (indexed_) {
        const auto found = triggerings_.find(frame.identifier | (extended ? 0x80000000u : 0u));
        if (found == triggerings_.end())
            return 0;
        single = found->second == 1;
    }
    const uint32_t flags = extended ? Q3_FLAG_CANEXTENDED : Q3_FLAG_CANSTANDARD;
    // The records first (they move while they grow), then the samples that refer to them.
    stepRecords_.clear();
    stepSamples_.clear();
    stepTexts_.clear();
    for (VexoNode *channel : network_.channels()) {
        auto *state = reinterpret_cast<VexoDecodeState *>(state_.get());
        if (Vexo_decodeMessage(channel, frame.identifier, flags, frame.length, frame.data, &state) != S_OK)
            throw Failure("the decoder refused a frame");
        // Each matching triggering gives one result, even when the filter leaves none of
        // its signals; signals of the channel's own PDU instances come without one.
        VexoNode *triggering = nullptr;
        HRESULT step = Vexo_decodeNextFrametriggering(state, &triggering);
        DecodedFrame *current = nullptr;
        if (step == S_OK && triggering != nullptr)
            current = &nextResult(network_.frameOf(triggering));
        while (step >= 0) {
            VexoDecodedSignal decoded{};
            decoded.text = textBuffer_;
            decoded.textCapacity = sizeof textBuffer_;
            const HRESULT hr = Vexo_decodeNextSignal(state, filter_, &decoded);
            if (hr < 0) {
                if (single && current != nullptr)
                    break;  // the one triggering that could match is done
                triggering = nullptr;
                step = Vexo_decodeNextFrametriggering(state, &triggering);
                current = step == S_OK && triggering != nullptr ? &nextResult(network_.frameOf(triggering)) : nullptr;
                continue;
            }
            if (current == nullptr || current->frame == nullptr)
                current = &nextResult(network_.channelFrame(channel));
            stepSamples_.emplace_back(static_cast<size_t>(current - results_.data()), signalOf(decoded.signal));
            VexoBatchRecord &record = stepRecords_.emplace_back();
            record.signal = decoded.signal;
            record.rawValue = decoded.rawValue;
            if (hr == S_FALSE) {
                record.kind = VEXO_RECORD_TEXT;
                record.textLength = decoded.textLength;
                stepTexts_.append(textBuffer_, decoded.textLength);
                continue;
            }
            record.kind = VEXO_RECORD_SIGNAL;
            record.status = Vexo_internalToPhysical(decoded.signal, decoded.rawValue, &record.value);
        }
    }
    size_t text = 0;
    for (size_t i = 0; i < stepSamples_.size(); ++i) {
        VexoBatchRecord &record = stepRecords_[i];
        if (record.kind == VEXO_RECORD_TEXT) {
            record.text = stepTexts_.data() + text;
            text += record.textLength;
        }
        addSample(results_[stepSamples_[i].first], stepSamples_[i].second, record);
    }
    return count_;
}

}  // namespace vexo::cli
