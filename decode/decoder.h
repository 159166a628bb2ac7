// The frame decoder's walk, for the batch decoder: the frames its compiled plans do not
// cover (segments, identifier bits, deep nesting, a channel's own PDU instances) are
// decoded by the same walk as Vexo_decodeNextSignal, so both give the same records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "filter.h"
#include "node_classes.h"
#include "vexo/decode.h"

namespace vexo::decode {

// Bytes of the block walkFrame works in (8-byte aligned).
size_t walkStateSize();

// Decodes the signal instances of one matched frame triggering's frame (or, for a null
// triggering, the channel's own PDU instances) over a frame's data, calling deliver with
// each record and the result Vexo_decodeNextSignal would give (S_OK numeric, S_FALSE
// ASCII), in the order it gives them, for a filter (or null). record's text and
// textCapacity are the caller's.
void walkFrame(void *block, const core::Channel &channel, const core::FrameTriggering *triggering,
               const model::Filter *filter, uint32_t identifier, uint32_t flags, uint32_t dataLength, const uint8_t *data,
               VexoDecodedSignal &record, void (*deliver)(void *context, const VexoDecodedSignal &record, HRESULT hr),
               void *context);

}  // namespace vexo::decode
