// Frame decoding: matches a received frame against a channel's frame triggerings and walks
// the PDUs of each match, one signal instance per call. Every cursor, the level stack and
// the assembly buffers of multiplexed parts live in one state block, so a decode never
// allocates and a caller (the Lua binding) can supply the block itself.
#include "vexo/decode.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decoder.h"

#include "api_guard.h"
#include "frame_program.h"
#include "bit_buffer.h"
#include "enumerator.h"
#include "filter.h"
#include "node_classes.h"
#include "node_list.h"
#include "triggering_index.h"
#include "vexo/codec.h"
#include "vexo/constants.h"

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "the identifier word is kept in memory order");

namespace vexo::decode {
namespace {

using core::Channel;
using core::Coding;
using core::Frame;
using core::FrameTriggering;
using core::IdentifierBasedTriggering;
using core::ListCursor;
using core::MaskedIdentifierTriggering;
using core::MultiplexedPart;
using core::MultiplexedPDU;
using core::nodeAs;
using core::nodeExactly;
using core::PDU;
using core::PDUInstance;
using core::Segment;
using core::Signal;
using core::SignalInstance;
using core::SignalPDU;

constexpr uint32_t kDecodeTag = 0x63654465;  // "eDec"
constexpr uint32_t kDestroyedTag = 0xDEADBEEF;
constexpr uint32_t kLevelCount = core::kMaxPartNesting + 1;
constexpr uint32_t kAssemblyBytes = 1024;
constexpr int64_t kAssemblyBits = 8 * int64_t(kAssemblyBytes);
// Ownership word of a block the library allocated: its own address mixed with this key,
// so a caller's block (fresh memory or a reused one) never passes for the library's.
constexpr uintptr_t kOwnedKey = uintptr_t(0x5A17C0DEDEC0DE5Aull);

enum Phase : uint32_t { kSearching = 0, kChannelInstances = 1, kDone = 2 };

// Frames whose program may take more steps (signal instances) than this are walked.
constexpr uint32_t kProgramSteps = 256;

struct Level {
    uint32_t done;
    int32_t bitpos;        // shifts the switch and segments of a multiplexed PDU
    const PDU *pdu;
    uint8_t *bytes;        // where the PDU's contents are addressed (only an assembly is written)
    uint64_t length;       // bytes at `bytes` that hold contents; the rest reads as 0
    uint64_t extent;       // bytes a field may reach: the data length, or a whole assembly
    uint8_t assembly[kAssemblyBytes];
};

struct State {
    uint32_t tag;
    uint32_t phase;
    const Channel *channel;
    uint32_t flags;
    uint32_t identifier;
    uint8_t identifierWord[4];
    uint32_t dataLength;
    const uint8_t *data;
    const model::Filter *filter;
    const FrameTriggering *triggering;
    // The triggerings still to try: the index's candidates for the identifier and its
    // masked triggerings, merged by list position; or, without an index, the list itself.
    const Candidate *byId, *byIdEnd, *masked, *maskedEnd;
    const TriggeringIndex *index;  // null: the walk over the list
    ListCursor triggerings;
    ListCursor pduInstances;
    ListCursor signalInstances;
    uint32_t depth;
    uintptr_t ownership;
    // A matched frame whose program the index holds is decoded from it: its steps, with
    // each multiplexed PDU's switch read, in the order the walk takes them.
    bool compiled;
    const Op *next, *end;  // the ops still to run of a program without multiplexed PDUs
    uint32_t step, steps;  // those of program: the steps of one with multiplexed PDUs
    const uint8_t *bytes;  // the data, or the data zero-padded to eight bytes
    uint8_t padded[8];
    const Op *program[kProgramSteps];
    Level levels[kLevelCount];
};

State *stateAs(const void *handle)
{
    if (handle == nullptr || reinterpret_cast<uintptr_t>(handle) % alignof(State) != 0)
        return nullptr;
    auto *state = static_cast<State *>(const_cast<void *>(handle));
    return state->tag == kDecodeTag ? state : nullptr;
}

bool isOwned(const State &state)
{
    return state.tag == kDecodeTag && state.ownership == (reinterpret_cast<uintptr_t>(&state) ^ kOwnedKey);
}

bool isBigEndian(uint32_t byteOrder) { return byteOrder == Q3_BYTEORDER_BIGENDIAN; }

// Aims a cursor at the first entry of a node list, for walks by cursorStep (which reads
// the list, the chunk and the index alone).
void aimAt(ListCursor &cursor, const core::NodeList &list)
{
    cursor.list = &list.chunks;
    cursor.layout = &core::kSmallNodeLayout;
    cursor.chunk = core::firstChunk(list.chunks);
    cursor.index = 0;
    cursor.nodes = &list;
}

// ---- Fields ---------------------------------------------------------------------

unsigned bitAt(const uint8_t *bytes, uint64_t length, int64_t position)
{
    if (position < 0 || uint64_t(position) >= 8 * length)
        return 0;
    return bytes[position >> 3] >> (position & 7) & 1u;
}

// Where a switch or segment at absolute start bit p is read: the level's bytes, or the
// identifier word for -32 <= p < 0. False below -32.
struct Source {
    const uint8_t *bytes;
    uint64_t length;
    int64_t start;
};

bool sourceOf(const State &state, const Level &level, int64_t p, Source *source)
{
    if (p >= 0) {
        *source = {level.bytes, level.length, p};
        return true;
    }
    if (p >= -32) {
        *source = {state.identifierWord, sizeof state.identifierWord, p + 32};
        return true;
    }
    return false;
}

// Reads a field of at most 64 bits; bits outside the source read as 0.
uint64_t readBits(const Source &source, int64_t start, int64_t bits, bool big)
{
    if (fieldInside(source.length, start, bits, big))
        return codec::extractField(source.bytes, start, static_cast<int32_t>(big ? -bits : bits));
    uint64_t value = 0;
    for (int64_t k = 0; k < bits; ++k)
        value |= uint64_t(bitAt(source.bytes, source.length, fieldBit(start, bits, big, k))) << k;
    return value;
}

// The switch code: the low 32 bits of the field, so a longer field is read from the value
// bit 31 down (for a big-endian field that is a shorter big-endian field further on).
uint32_t readSwitch(const State &state, const Level &level, const MultiplexedPDU &pdu)
{
    const int64_t bits = pdu.switchLength;
    Source source;
    if (bits == 0 || !sourceOf(state, level, int64_t(int32_t(pdu.switchPosition)) + level.bitpos, &source))
        return 0;
    const bool big = isBigEndian(pdu.switchByteOrder);
    const int64_t read = std::min<int64_t>(bits, 32);
    const int64_t start = big && bits > 32 ? fieldBit(source.start, bits, true, 31) : source.start;
    return static_cast<uint32_t>(readBits(source, start, read, big));
}

// Q3bit_copy reads a big-endian field longer than 64 bits in chunks whose start bits lie
// 64 bits (eight bytes) apart, going down: the first chunk has the highest least
// significant bit, the last the lowest start bit, so those two bound the rest.
bool copyInside(uint64_t length, int64_t start, int64_t bits, bool big)
{
    if (!big)
        return fieldInside(length, start, bits, false);
    const int64_t lastChunk = (bits - 1) / 64;
    return fieldInside(length, start, std::min<int64_t>(bits, 64), true)
           && fieldInside(length, start - 64 * lastChunk, bits - 64 * lastChunk, true);
}

// Copies one segment of `bits` bits into the assembly at bit d (d + bits <= the
// assembly's bits), with Q3bit_copy's chunking; bits outside the source stay 0.
void copySegment(const Source &source, int64_t bits, bool big, int64_t d, uint8_t *assembly)
{
    if (copyInside(source.length, source.start, bits, big)) {
        Q3bit_copy(assembly, kAssemblyBytes, static_cast<int32_t>(d), static_cast<int32_t>(bits), source.bytes,
                   static_cast<int32_t>(source.start), static_cast<int32_t>(big ? -bits : bits));
        return;
    }
    for (int64_t chunk = 0; 64 * chunk < bits; ++chunk) {
        const int64_t take = std::min<int64_t>(64, bits - 64 * chunk);
        const int64_t start = big ? source.start - 64 * chunk : source.start + 64 * chunk;
        for (int64_t k = 0; k < take; ++k) {
            const int64_t to = d + 64 * chunk + k;
            if (bitAt(source.bytes, source.length, fieldBit(start, take, big, k)))
                assembly[to >> 3] = static_cast<uint8_t>(assembly[to >> 3] | 1u << (to & 7));
        }
    }
}

// ---- The level stack ------------------------------------------------------------

// True when the PDU is one of the levels that enclose what is pushed next. Those are the
// levels being worked on (done); a level not yet entered is a sibling part waiting its
// turn, and two parts may well share a PDU.
bool enclosesNext(const State &state, const PDU *pdu)
{
    for (uint32_t i = 0; i < state.depth; ++i) {
        if (state.levels[i].done != 0 && state.levels[i].pdu == pdu)
            return true;
    }
    return false;
}

// Pushes a level for a multiplexed part of the PDU decoded at `enclosing`. Refused when
// the part has no PDU, the stack is full, or the PDU already encloses it (a cycle in the
// model would otherwise fill the stack again and again).
void pushPart(State &state, Level &enclosing, const MultiplexedPart *part)
{
    if (part == nullptr)
        return;
    const auto *pdu = nodeAs<PDU>(part->reference);
    if (pdu == nullptr || state.depth == kLevelCount || enclosesNext(state, pdu))
        return;
    Level &level = state.levels[state.depth];
    level.done = 0;
    level.bitpos = 0;
    level.pdu = pdu;
    bool hasSegments = false;
    int64_t total = 0;
    model::forEachRecord<Segment>(part->segments, [&](const Segment *segment) {
        hasSegments = true;
        total += segment->bitlen;
        return true;
    });
    if (!hasSegments) {
        level.bytes = enclosing.bytes;
        level.length = enclosing.length;
        level.extent = enclosing.extent;
    } else {
        const auto used = static_cast<uint64_t>((std::min(total, kAssemblyBits) + 7) / 8);
        std::memset(level.assembly, 0, used);
        int64_t d = 0;
        model::forEachRecord<Segment>(part->segments, [&](const Segment *segment) {
            const int64_t bits = std::min<int64_t>(segment->bitlen, kAssemblyBits - d);
            Source source;
            if (bits > 0 && sourceOf(state, enclosing, int64_t(int32_t(segment->bitpos)) + enclosing.bitpos, &source))
                copySegment(source, bits, isBigEndian(segment->byteOrder), d, level.assembly);
            d += segment->bitlen;
            return true;
        });
        level.bytes = level.assembly;
        level.length = used;
        level.extent = kAssemblyBytes;
    }
    ++state.depth;
}

const MultiplexedPart *findDynamicPart(const MultiplexedPDU &pdu, uint32_t code)
{
    core::ListPosition position = {nullptr, 0};
    // The order the dynamic parts are kept in: the difference as a signed 32-bit number.
    const auto order = [code](const void *entry) {
        const auto difference = static_cast<int32_t>(code - static_cast<const MultiplexedPart *>(entry)->switchCode);
        return difference < 0 ? -1 : difference > 0 ? 1 : 0;
    };
    if (core::findOrdered(&pdu.dynamicParts, &position, order) != S_OK)
        return nullptr;
    return nodeAs<MultiplexedPart>(core::chunkEntries(position.chunk)[position.index]);
}

// Works on the top level: a signal PDU aims the signal-instance cursor at its instances;
// a multiplexed PDU pushes its selected part and then its static part, which therefore
// comes first.
void enterTopLevel(State &state)
{
    Level &level = state.levels[state.depth - 1];
    level.done = 1;
    if (const auto *signalPdu = nodeExactly<SignalPDU>(level.pdu)) {
        aimAt(state.signalInstances, signalPdu->signalInstances);
        return;
    }
    if (const auto *multiplexed = nodeExactly<MultiplexedPDU>(level.pdu)) {
        const MultiplexedPart *selected = findDynamicPart(*multiplexed, readSwitch(state, level, *multiplexed));
        pushPart(state, level, selected != nullptr ? selected : nodeAs<MultiplexedPart>(multiplexed->elsePart));
        pushPart(state, level, nodeAs<MultiplexedPart>(multiplexed->staticPart));
    }
}

// Starts the next PDU instance that places a PDU; false when they ran out.
bool pushNextInstance(State &state)
{
    void *entry = nullptr;
    while (core::cursorStep(state.pduInstances, &entry)) {
        const auto *instance = nodeAs<PDUInstance>(entry);
        const PDU *pdu = instance != nullptr ? nodeAs<PDU>(instance->reference) : nullptr;
        if (pdu == nullptr)
            continue;
        Level &level = state.levels[0];
        level.done = 0;
        level.bitpos = static_cast<int32_t>(instance->bitpos);
        level.pdu = pdu;
        level.bytes = const_cast<uint8_t *>(state.data);  // never written: its extent is its length
        level.length = state.dataLength;
        level.extent = state.dataLength;
        state.depth = 1;
        return true;
    }
    return false;
}

// ---- Signal instances -----------------------------------------------------------

// Makes the bytes of a level readable up to `end` (at most its extent): assembly bytes
// that no segment wrote become 0, as the bits they hold read.
void clearUpTo(Level &level, uint64_t end)
{
    if (end <= level.length)
        return;
    std::memset(level.bytes + level.length, 0, end - level.length);
    level.length = end;
}

// The bytes a field of `bits` bits at `start` touches, from the first: through the byte
// of its last bit (for a big-endian field, that of its least significant bit).
uint64_t fieldEnd(int64_t start, int64_t bits, bool big)
{
    if (bits == 0)
        return 0;
    return static_cast<uint64_t>(std::max(start, fieldBit(start, bits, big, big ? 0 : bits - 1)) / 8 + 1);
}

// Decodes one signal instance into the record: S_OK (numeric), S_FALSE (ASCII), or
// E_UNEXPECTED when the instance is to be skipped (record untouched).
HRESULT decodeInstance(State &state, const void *entry, VexoDecodedSignal *record)
{
    // Signal instances, signals and codings have no subclasses: the exact class test is
    // the derivation test.
    const auto *instance = nodeExactly<SignalInstance>(entry);
    const Signal *signal = instance != nullptr ? nodeExactly<Signal>(instance->reference) : nullptr;
    const Coding *coding = signal != nullptr ? nodeExactly<Coding>(signal->reference) : nullptr;
    if (coding == nullptr || static_cast<int32_t>(instance->bitpos) < 0)
        return E_UNEXPECTED;
    if (!isSelected(state.filter, signal, instance))
        return E_UNEXPECTED;
    Level &level = state.levels[state.depth - 1];
    const int64_t start = static_cast<int32_t>(instance->bitpos);
    const int64_t bits = coding->bitlen;
    const bool big = isBigEndian(instance->byteOrder);
    // A part's signals count from bit 0 of its assembly, all of it: bits past what the
    // segments filled read as 0. The frame's data has no such room.
    if (!fieldInside(level.extent, start, bits, big))
        return E_UNEXPECTED;
    if (level.length < level.extent)
        clearUpTo(level, fieldEnd(start, bits, big));
    const auto length = static_cast<int32_t>(big ? -bits : bits);
    const bool ascii = coding->encoding == Q3_ENCODING_ASCII;
    uint64_t raw = 0;
    uint32_t textLength = 0;
    if (ascii) {
        if (record->text == nullptr)
            return E_UNEXPECTED;
        Q3bit_extract(reinterpret_cast<uint8_t *>(record->text), level.bytes, record->textCapacity,
                      static_cast<int32_t>(start), length);
        textLength = static_cast<uint32_t>(std::min<int64_t>(bits / 8, record->textCapacity));
    } else if (bits <= 64) {
        if (level.extent < 8 || !codec::extractInWindow(level.bytes, level.extent, start, unsigned(bits), big, &raw))
            raw = codec::extractField(level.bytes, start, length);
    } else {
        uint8_t value[8];
        Q3bit_extract(value, level.bytes, sizeof value, static_cast<int32_t>(start), length);
        std::memcpy(&raw, value, sizeof raw);
    }
    record->rawValue = raw;
    record->frameTriggering = core::handleOf(state.triggering);
    record->signalInstance = core::handleOf(instance);
    record->signal = core::handleOf(signal);
    record->textLength = textLength;
    return ascii ? S_FALSE : S_OK;
}

// ---- Frame programs -----------------------------------------------------------

// Lists the steps of a program for the state's data: multiplexed PDUs read their switch
// and give their static part's steps, then their selected part's.
void expand(State &state, const Programs &programs, uint32_t first, uint32_t count)
{
    for (const Op *op = programs.ops.data() + first, *end = op + count; op != end; ++op) {
        if (op->kind != OpKind::Mux) {
            state.program[state.steps++] = op;
            continue;
        }
        const Mux &table = programs.muxes[op->base];
        const uint32_t code = table.constant
                                  ? 0
                                  : static_cast<uint32_t>(readWindow(state.bytes, table.base, table.position,
                                                                     table.mask, table.big));
        if (table.staticFirst != kNoProgram)
            expand(state, programs, table.staticFirst, table.staticCount);
        const auto [partFirst, partCount] = selectedPart(table, code);
        if (partFirst != kNoProgram)
            expand(state, programs, partFirst, partCount);
    }
}

// Sets the state to run a frame's program; false when the frame is to be walked.
bool startProgram(State &state, uint32_t programIndex)
{
    if (state.index == nullptr || programIndex == kNoProgram || state.data == nullptr)
        return false;
    const Programs &programs = state.index->programs;
    const FrameProgram &program = programs.frames[programIndex];
    if (program.walk || program.maxRecords > kProgramSteps)
        return false;
    state.bytes = state.data;
    if (state.dataLength < 8) {
        std::memset(state.padded, 0, sizeof state.padded);
        std::memcpy(state.padded, state.data, state.dataLength);
        state.bytes = state.padded;
    }
    state.step = state.steps = 0;
    state.next = state.end = nullptr;
    if (program.flat) {
        state.next = programs.ops.data() + program.first;
        state.end = state.next + program.count;
    } else {
        expand(state, programs, program.first, program.count);
    }
    state.compiled = true;
    return true;
}

// The next selected step of a program as a record, as the walk would give it.
// The end of a frame's signals; the channel's own instances, once walked, end the frame.
inline HRESULT noMoreSignals(State &state)
{
    if (state.phase == kChannelInstances)
        state.phase = kDone;
    return VEXO_E_NOMOREITEMS;
}

// The record of one step.
inline void fillRecord(const State &state, const Op &op, uint64_t raw, uint32_t textLength,
                       VexoDecodedSignal *record)
{
    record->rawValue = raw;
    record->frameTriggering = core::handleOf(state.triggering);
    record->signalInstance = op.instance;
    record->signal = op.signal;
    record->textLength = textLength;
}

__attribute__((noinline)) HRESULT nextStepAnyKind(State &state, VexoDecodedSignal *record)
{
    for (;;) {
        if (state.next == state.end && state.step == state.steps)
            break;
        const Op &op = state.next != state.end ? *state.next++ : *state.program[state.step++];
        const auto *signal = reinterpret_cast<const Signal *>(op.signal);
        const auto *instance = reinterpret_cast<const SignalInstance *>(op.instance);
        if (state.filter != nullptr && !isSelected(state.filter, signal, instance))
            continue;
        uint64_t raw = 0;
        uint32_t textLength = 0;
        HRESULT result = S_OK;
        switch (op.kind) {
        case OpKind::Text: {
            if (record->text == nullptr)
                continue;
            const int64_t bits = op.length < 0 ? -int64_t(op.length) : op.length;
            Q3bit_extract(reinterpret_cast<uint8_t *>(record->text), state.data, record->textCapacity, op.start,
                          op.length);
            textLength = static_cast<uint32_t>(std::min<int64_t>(bits / 8, record->textCapacity));
            result = S_FALSE;
            break;
        }
        case OpKind::Field:
            raw = codec::extractField(state.data, op.start, op.length);
            break;
        case OpKind::Wide: {
            uint8_t value[8];
            Q3bit_extract(value, state.data, sizeof value, op.start, op.length);
            std::memcpy(&raw, value, sizeof raw);
            break;
        }
        default:
            raw = readWindow(state.bytes, op.base, op.position, op.mask, op.big);
            break;
        }
        fillRecord(state, op, raw, textLength, record);
        return result;
    }
    return noMoreSignals(state);
}

// A field in one window as a record.
inline HRESULT windowRecord(const State &state, const Op &op, VexoDecodedSignal *record)
{
    fillRecord(state, op, readWindow(state.bytes, op.base, op.position, op.mask, op.big), 0, record);
    return S_OK;
}

// The same, with the common step (a field in one window, no filter) inline.
inline HRESULT nextStep(State &state, VexoDecodedSignal *record)
{
    if (state.next != state.end) {
        if (state.filter == nullptr && state.next->kind <= OpKind::Window)
            return windowRecord(state, *state.next++, record);
    } else if (state.step == state.steps) {
        return noMoreSignals(state);
    } else if (state.filter == nullptr && state.program[state.step]->kind <= OpKind::Window) {
        return windowRecord(state, *state.program[state.step++], record);
    }
    return nextStepAnyKind(state, record);
}

HRESULT nextSignal(State &state, VexoDecodedSignal *record)
{
    if (state.compiled)
        return nextStep(state, record);
    for (;;) {
        void *entry = nullptr;
        while (core::cursorStep(state.signalInstances, &entry)) {
            const HRESULT hr = decodeInstance(state, entry, record);
            if (hr == S_OK || hr == S_FALSE)
                return hr;
        }
        while (state.depth > 0 && state.levels[state.depth - 1].done != 0)
            --state.depth;
        if (state.depth > 0) {
            enterTopLevel(state);
            continue;
        }
        if (!pushNextInstance(state))
            return noMoreSignals(state);
    }
}

// ---- Frame triggerings ----------------------------------------------------------

bool matches(const State &state, const void *entry)
{
    const FrameTriggering *triggering = nullptr;
    if (const auto *byId = nodeExactly<IdentifierBasedTriggering>(entry)) {
        if (byId->identifier != state.identifier)
            return false;
        triggering = byId;
    } else if (const auto *masked = nodeExactly<MaskedIdentifierTriggering>(entry)) {
        if ((masked->mask & state.identifier) != masked->code)
            return false;
        triggering = masked;
    } else {
        return false;
    }
    if ((triggering->flags & Q3_FLAGMASK_CAN_FRAMETYPE) != Q3_FLAG_CANSTD_OR_EXT
        && ((triggering->flags ^ state.flags) & Q3_FLAG_CANEXTENDED) != 0)
        return false;
    const auto *frame = nodeAs<Frame>(triggering->reference);
    return frame != nullptr && frame->length == state.dataLength;
}

// Drops whatever the previous stage left half walked.
void resetWalk(State &state)
{
    state.depth = 0;
    state.signalInstances.chunk = nullptr;  // all cursorStep reads of an exhausted cursor
    state.compiled = false;
}


// The matching rule for a candidate of the index (its identifier is the frame's, or it
// is masked), from what the index recorded of the model.
bool candidateMatches(const State &state, const Candidate &candidate)
{
    return candidate.program != kNoProgram && (candidate.mask & state.identifier) == candidate.code
           && ((state.flags ^ candidate.flagsWant) & candidate.flagsMask) == 0 && candidate.length == state.dataLength;
}

// The next triggering in list order that matches, or null when none is left, with the
// program of its frame (kNoProgram when the list is walked).
const FrameTriggering *nextMatch(State &state, uint32_t *program)
{
    *program = kNoProgram;
    if (state.index == nullptr) {
        void *entry = nullptr;
        while (core::cursorStep(state.triggerings, &entry)) {
            if (matches(state, entry))
                return static_cast<const FrameTriggering *>(entry);
        }
        return nullptr;
    }
    for (;;) {
        const Candidate *candidate = nullptr;
        const bool haveId = state.byId != state.byIdEnd, haveMasked = state.masked != state.maskedEnd;
        if (haveId && (!haveMasked || state.byId->position < state.masked->position))
            candidate = state.byId++;
        else if (haveMasked)
            candidate = state.masked++;
        else
            return nullptr;
        if (candidateMatches(state, *candidate)) {
            *program = candidate->program;
            return candidate->triggering;
        }
    }
}

HRESULT nextTriggering(State &state, VexoNode **out)
{
    uint32_t program = kNoProgram;
    if (const FrameTriggering *triggering = nextMatch(state, &program)) {
        resetWalk(state);
        state.triggering = triggering;
        state.pduInstances.chunk = nullptr;
        if (!startProgram(state, program))
            aimAt(state.pduInstances, nodeAs<Frame>(triggering->reference)->PDUInstances);
        if (out != nullptr)
            *out = core::handleOf(triggering);
        return S_OK;
    }
    resetWalk(state);
    state.phase = kChannelInstances;
    state.triggering = nullptr;
    aimAt(state.pduInstances, state.channel->PDUInstances);
    if (state.index != nullptr && !state.index->channelInstances && state.data != nullptr) {
        // Nothing to walk: an empty program ends the frame at the next call.
        state.next = state.end = nullptr;
        state.step = state.steps = 0;
        state.compiled = true;
    }
    if (out != nullptr)
        *out = nullptr;
    return S_FALSE;
}

// Sets up a state for one frame, all but the search for triggerings. Every field is set
// here, the levels as they are pushed: clearing the block (64 KiB) per frame would cost
// more than the decode.
void initialiseFrame(State *state, bool owned, const Channel *channel, uint32_t identifier, uint32_t flags,
                     uint32_t dataLength, const uint8_t *data)
{
    state->tag = kDecodeTag;
    state->phase = kSearching;
    state->channel = channel;
    state->flags = flags;
    state->identifier = identifier;
    const uint32_t word = (flags & Q3_FLAG_CANEXTENDED) != 0 ? identifier << 3 : identifier << 21;
    std::memcpy(state->identifierWord, &word, sizeof word);
    state->dataLength = dataLength;
    state->data = data;
    state->filter = nullptr;
    state->triggering = nullptr;
    state->pduInstances.chunk = nullptr;
    state->signalInstances.chunk = nullptr;
    state->depth = 0;
    state->index = nullptr;
    state->compiled = false;
    state->ownership = owned ? reinterpret_cast<uintptr_t>(state) ^ kOwnedKey : 0;
}

void initialise(State *state, bool owned, const Channel *channel, uint32_t identifier, uint32_t flags,
                uint32_t dataLength, const uint8_t *data)
{
    initialiseFrame(state, owned, channel, identifier, flags, dataLength, data);
    const TriggeringIndex *index = triggeringIndexOf(*channel);
    state->index = index;
    if (index != nullptr) {
        candidatesFor(*index, identifier, &state->byId, &state->byIdEnd);
        state->masked = index->masked.data();
        state->maskedEnd = state->masked + index->masked.size();
    } else {
        aimAt(state->triggerings, channel->frameTriggerings);
    }
}

}  // namespace

size_t walkStateSize() { return sizeof(State); }

void walkFrame(void *block, const Channel &channel, const FrameTriggering *triggering, const model::Filter *filter,
               uint32_t identifier, uint32_t flags, uint32_t dataLength, const uint8_t *data, VexoDecodedSignal &record,
               void (*deliver)(void *context, const VexoDecodedSignal &record, HRESULT hr), void *context)
{
    auto *state = static_cast<State *>(block);
    initialiseFrame(state, false, &channel, identifier, flags, dataLength, data);
    state->filter = filter;
    state->triggering = triggering;
    if (triggering != nullptr) {
        aimAt(state->pduInstances, nodeAs<Frame>(triggering->reference)->PDUInstances);
    } else {
        state->phase = kChannelInstances;
        aimAt(state->pduInstances, channel.PDUInstances);
    }
    for (;;) {
        const HRESULT hr = nextSignal(*state, &record);
        if (hr != S_OK && hr != S_FALSE)
            break;
        deliver(context, record, hr);
    }
    state->tag = kDestroyedTag;
}

}  // namespace vexo::decode

using namespace vexo::decode;

VEXO_API uint32_t Vexo_getDecodeStateSize(void)
{
    return sizeof(State);
}

VEXO_API HRESULT Vexo_decodeMessage(const VexoNode *channel, uint32_t identifier, uint32_t flags,
                                    uint32_t dataLength, const uint8_t *data, VexoDecodeState **handle)
{
    if (handle == nullptr)
        return E_INVALIDARG;
    const auto *node = vexo::core::nodeExactly<Channel>(channel);
    if (node == nullptr)
        return E_INVALIDARG;
    auto *state = reinterpret_cast<State *>(*handle);
    bool owned = true;
    if (state == nullptr) {
        state = static_cast<State *>(std::malloc(sizeof(State)));
        if (state == nullptr)
            return E_INVALIDARG;
    } else {
        if (reinterpret_cast<uintptr_t>(state) % alignof(State) != 0)
            return E_INVALIDARG;
        owned = isOwned(*state);
    }
    initialise(state, owned, node, identifier, flags, dataLength, data);
    *handle = reinterpret_cast<VexoDecodeState *>(state);
    return S_OK;
}

VEXO_API HRESULT Vexo_decodeNextFrametriggering(VexoDecodeState *handle, VexoNode **triggering)
{
    State *state = stateAs(handle);
    if (state == nullptr)
        return E_INVALIDARG;
    if (state->phase == kDone)
        return VEXO_E_NOMOREITEMS;
    if (state->phase == kChannelInstances)
        return S_OK;
    return nextTriggering(*state, triggering);
}

namespace {

// Vexo_decodeNextSignal with a filter, or with a state that may be walking or wrong.
__attribute__((noinline)) HRESULT decodeNextSignalChecked(State *state, const VexoFilter *filter,
                                                          VexoDecodedSignal *record)
{
    const vexo::model::Filter *nodeFilter = filter != nullptr ? vexo::model::filterAs(filter) : nullptr;
    if (state == nullptr || record == nullptr || (filter != nullptr && nodeFilter == nullptr))
        return E_INVALIDARG;
    if (state->data == nullptr)
        return E_POINTER;
    state->filter = nodeFilter;
    if (state->compiled)
        return nextStep(*state, record);
    return nextSignal(*state, record);
}

}  // namespace

// The common call (a compiled program, no filter) stays in registers the caller gives
// up anyway: everything else is out of line.
VEXO_API HRESULT Vexo_decodeNextSignal(VexoDecodeState *handle, const VexoFilter *filter, VexoDecodedSignal *record)
{
    State *state = stateAs(handle);
    if (state != nullptr && record != nullptr && filter == nullptr && state->compiled) {
        // A program runs only over data (never null); no filter to set up.
        state->filter = nullptr;
        return nextStep(*state, record);
    }
    return decodeNextSignalChecked(state, filter, record);
}

VEXO_API HRESULT Vexo_getFrameTriggering(const VexoDecodeState *handle, VexoNode **triggering)
{
    const State *state = stateAs(handle);
    if (state == nullptr || triggering == nullptr)
        return E_INVALIDARG;
    *triggering = vexo::core::handleOf(state->triggering);
    return state->triggering != nullptr ? S_OK : S_FALSE;
}

VEXO_API HRESULT Vexo_destroyDecodeEnum(VexoDecodeState *handle)
{
    State *state = stateAs(handle);
    if (state == nullptr)
        return E_INVALIDARG;
    const bool owned = isOwned(*state);
    state->tag = kDestroyedTag;
    state->ownership = 0;
    if (owned)
        std::free(state);
    return S_OK;
}
