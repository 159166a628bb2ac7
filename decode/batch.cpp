// Batch decoding from compiled plans. A plan turns a channel's model into flat tables: a
// hash of identifiers to the triggerings that may match, and per frame a program of
// field extractions (one 64-bit load, a shift and a mask each) with their conversions,
// multiplexed PDUs as switch tables. Whatever the program form does not cover (segments,
// identifier bits, deep nesting, the channel's own PDU instances) goes through the frame
// decoder's own walk, so records always equal what the specified functions give.
#include "vexo/batch.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <vector>

#include "api_guard.h"
#include "bit_buffer.h"
#include "conversion_plan.h"
#include "database.h"
#include "decoder.h"
#include "enumerator.h"
#include "filter.h"
#include "node_classes.h"
#include "string_table.h"
#include "value_conversion.h"
#include "vexo/codec.h"
#include "vexo/constants.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexo::decode {
namespace {

using core::Channel;
using core::Coding;
using core::Frame;
using core::FrameTriggering;
using core::MultiplexedPart;
using core::MultiplexedPDU;
using core::nodeAs;
using core::nodeExactly;
using core::PDU;
using core::PDUInstance;
using core::Signal;
using core::SignalInstance;
using core::SignalPDU;

constexpr uint32_t kPlanMagic = 0x6E6C5064;  // "dPln"
constexpr uint32_t kReleasedMagic = 0xDEADBEEF;
constexpr uint32_t kNone = ~uint32_t(0);
// Multiplexed PDUs nested deeper than this go through the walk, which keeps the level
// stack's limits; so compiled frames never reach them.
constexpr uint32_t kMaxCompiledNesting = 16;

// ---- The compiled form ------------------------------------------------------------

enum class OpKind : uint8_t {
    LinearLittle,  // a little-endian window field, masked and signed, one multiply-add
    LinearBig,     // the same, big-endian
    Window,        // a field of 1 to 64 bits read with one 64-bit load, any conversion
    Field,         // a field of at most 64 bits spanning nine bytes
    Wide,          // a field longer than 64 bits (its low 64 bits)
    Text,          // an ASCII field: its bytes
    Mux,           // a multiplexed PDU: its static part, then the part its switch selects
};

enum class Conversion : uint8_t {
    Planned,  // the coding's conversion plan
    General,  // the walk over the coding's computations
};

// One step of a frame's program. The fields the common kinds read come first; signal and
// instance, and computation and its null text slot, lie as the record holds them.
struct Op {
    OpKind kind;
    Conversion conversion;
    bool big;
    uint8_t position;  // window kinds: the field's lowest bit in the 64-bit window
    uint32_t base;     // window kinds: the window's first byte; Mux: index of its table
    uint64_t mask;     // window kinds: the field's bits
    uint64_t sign;     // Linear kinds: the sign bit of the value read, 0 for unsigned
    double scale, offset;
    VexoNode *signal, *instance;
    VexoNode *computation;
    VexoStringSlot *noText;
    int32_t start;   // Field, Wide, Text: start bit
    int32_t length;  // Field, Wide, Text: signed length (negative: big-endian)
    const ConversionPlan *plan;  // Planned
    const Coding *coding;
};

// A multiplexed PDU: where its switch lies and the programs of its parts. A program is a
// range of ops; kNone for none.
struct Mux {
    bool constant;  // the switch reads 0 (no bits, or bits before the identifier word)
    bool big;
    uint8_t position;
    uint32_t base;
    uint64_t mask;
    uint32_t staticFirst = kNone, staticCount = 0;
    uint32_t elseFirst = kNone, elseCount = 0;
    // By switch code: a direct table for small codes, else codes in ascending order.
    std::vector<uint32_t> codes;
    std::vector<std::pair<uint32_t, uint32_t>> programs;  // first, count per code
    bool direct = false;
};

struct FrameProgram {
    bool walk;  // decoded by the frame decoder's walk
    uint32_t first, count;
    // The most records and text bytes the program can give (whatever its switches read).
    uint32_t maxRecords, maxText;
    bool linear;  // only window fields with one linear rule each: the fast loop runs it
};

struct Candidate {
    uint32_t position;  // in the channel's list
    uint32_t length;    // the frame's length
    uint32_t flagsMask, flagsWant;
    bool masked;
    bool linear;        // the frame's program is linear ops alone (copied from it)
    uint32_t mask, code;
    uint32_t program;   // into frames
    uint32_t first, count;  // the frame's program (copied from it)
    const FrameTriggering *triggering;
};

struct Slot {
    uint32_t identifier;
    uint32_t count;  // 0: free
    uint32_t first;  // into byIdentifier
};

struct SlotText {
    const core::StringSlot *slot;
    const VexoChar *text;
};

}  // namespace

struct DecodePlan {
    uint32_t magic = kPlanMagic;
    const Channel *channel = nullptr;
    const model::Filter *filter = nullptr;
    uint32_t language = 0;
    uint64_t stamp = 0;
    bool current = false;
    bool channelInstances = false;  // the channel has PDU instances of its own
    std::vector<Slot> slots;
    std::vector<Candidate> byIdentifier;
    std::vector<Candidate> masked;
    std::vector<FrameProgram> frames;
    std::vector<Op> ops;
    std::vector<Mux> muxes;
    std::vector<SlotText> texts;  // sorted by slot
};

namespace {

// ---- Compiling ----------------------------------------------------------------------

int64_t fieldBit(int64_t start, int64_t bits, bool big, int64_t k)
{
    return big ? ((start ^ 7) + bits - 1 - k) ^ 7 : start + k;
}

// As the decoder tests a field against the bytes it is addressed in.
bool fieldInside(uint64_t length, int64_t start, int64_t bits, bool big)
{
    const int64_t end = static_cast<int64_t>(std::min<uint64_t>(8 * length, INT32_MAX - 64));
    if (bits == 0)
        return true;
    if (start < 0 || start >= end)
        return false;
    return fieldBit(start, bits, big, big ? 0 : bits - 1) < end;
}

// Where one 64-bit load reads a field of 1 to 64 bits lying inside a frame of `length`
// bytes, zero-padded to at least eight: false when the field spans nine bytes.
bool windowOf(uint32_t length, int64_t start, uint32_t bits, bool big, uint32_t *base, uint8_t *position)
{
    const uint64_t bufferLength = std::max<uint32_t>(length, 8);
    const uint64_t first = uint64_t(start) >> 3;
    const uint64_t from = std::min(first, bufferLength - 8);
    if (!big) {
        const uint64_t at = 8 * (first - from) + uint64_t(start & 7);
        if (at + bits > 64)
            return false;
        *base = static_cast<uint32_t>(from);
        *position = static_cast<uint8_t>(at);
        return true;
    }
    const uint64_t lsb = ((uint64_t(start) ^ 7) + bits - 1) ^ 7;
    const uint64_t last = lsb >> 3;
    if (last - from > 7)
        return false;
    *base = static_cast<uint32_t>(from);
    *position = static_cast<uint8_t>(8 * (7 - (last - from)) + (lsb & 7));
    return true;
}

uint64_t maskOf(uint64_t bits) { return bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1; }

bool isSelected(const model::Filter *filter, const Signal *signal, const SignalInstance *instance)
{
    if (filter == nullptr)
        return true;
    const HRESULT bySignal = model::filterSelects(*filter, signal);
    if (bySignal != S_FALSE)
        return bySignal == S_OK;
    return model::filterSelects(*filter, instance) == S_OK;
}

class Compiler {
public:
    explicit Compiler(DecodePlan &plan) : plan_(plan) {}

    void compile();

private:
    // Thrown out of a frame's compilation when the frame needs the walk.
    struct NeedsWalk {};

    void collectTexts(const Coding &coding);
    void collectFrom(const PDU *pdu, std::vector<const PDU *> &seen);
    uint32_t frameProgram(const Frame &frame);
    void compileInstance(const SignalInstance *instance, uint32_t length, std::vector<Op> &out);
    void compilePdu(const PDU &pdu, int64_t bitpos, uint32_t length, std::vector<const PDU *> &chain,
                    std::vector<Op> &out);
    bool compilePart(const MultiplexedPart *part, uint32_t length, std::vector<const PDU *> &chain,
                     uint32_t *first, uint32_t *count);
    std::pair<uint32_t, uint32_t> emit(const std::vector<Op> &ops);
    std::pair<uint64_t, uint64_t> bound(uint32_t first, uint32_t count) const;

    DecodePlan &plan_;
    std::unordered_map<const Frame *, uint32_t> frameIndex_;
    std::unordered_map<const Coding *, bool> codingsSeen_;
};

std::pair<uint32_t, uint32_t> Compiler::emit(const std::vector<Op> &ops)
{
    const auto first = static_cast<uint32_t>(plan_.ops.size());
    plan_.ops.insert(plan_.ops.end(), ops.begin(), ops.end());
    return {first, static_cast<uint32_t>(ops.size())};
}

// The most records and text bytes a program can give: a multiplexed PDU gives its static
// part and the largest of its other parts.
std::pair<uint64_t, uint64_t> Compiler::bound(uint32_t first, uint32_t count) const
{
    uint64_t records = 0, text = 0;
    for (uint32_t i = first; i < first + count; ++i) {
        const Op &op = plan_.ops[i];
        if (op.kind != OpKind::Mux) {
            records += 1;
            if (op.kind == OpKind::Text)
                text += (uint64_t(op.length < 0 ? -int64_t(op.length) : op.length) + 7) / 8;
            continue;
        }
        const Mux &table = plan_.muxes[op.base];
        uint64_t partRecords = 0, partText = 0;
        const auto widen = [&](uint32_t partFirst, uint32_t partCount) {
            if (partFirst == kNone)
                return;
            const auto [r, t] = bound(partFirst, partCount);
            partRecords = std::max(partRecords, r);
            partText = std::max(partText, t);
        };
        for (const auto &[partFirst, partCount] : table.programs)
            widen(partFirst, partCount);
        widen(table.elseFirst, table.elseCount);
        if (table.staticFirst != kNone) {
            const auto [r, t] = bound(table.staticFirst, table.staticCount);
            partRecords += r;
            partText += t;
        }
        records += partRecords;
        text += partText;
    }
    return {records, text};
}

// The texts of every mapped text computation of a coding, in the plan's language.
void Compiler::collectTexts(const Coding &coding)
{
    if (!codingsSeen_.emplace(&coding, true).second)
        return;
    core::StringTable *table = coding.database->strings;
    model::forEachNode(coding.internalToPhysicalCompus, [&](void *entry) {
        if (const auto *mapped = nodeExactly<core::MappedTextComputation>(entry)) {
            const VexoChar *text = nullptr;
            if (mapped->textvalue != nullptr
                && core::lookupSlot(table, mapped->textvalue, plan_.language, plan_.language, &text) == S_OK)
                plan_.texts.push_back({mapped->textvalue, text});
        }
        return true;
    });
}

// Collects the texts of every signal below a PDU that the walk may decode.
void Compiler::collectFrom(const PDU *pdu, std::vector<const PDU *> &seen)
{
    if (pdu == nullptr || std::find(seen.begin(), seen.end(), pdu) != seen.end())
        return;
    seen.push_back(pdu);
    if (const auto *signalPdu = nodeExactly<SignalPDU>(pdu)) {
        model::forEachNode(signalPdu->signalInstances, [&](void *entry) {
            const auto *instance = nodeExactly<SignalInstance>(entry);
            const Signal *signal = instance != nullptr ? nodeExactly<Signal>(instance->reference) : nullptr;
            if (const Coding *coding = signal != nullptr ? nodeExactly<Coding>(signal->reference) : nullptr)
                collectTexts(*coding);
            return true;
        });
    } else if (const auto *mux = nodeExactly<MultiplexedPDU>(pdu)) {
        const auto partPdu = [](const void *part) {
            const auto *typed = nodeExactly<MultiplexedPart>(part);
            return typed != nullptr ? nodeAs<PDU>(typed->reference) : nullptr;
        };
        collectFrom(partPdu(mux->staticPart), seen);
        collectFrom(partPdu(mux->elsePart), seen);
        model::forEachNode(mux->dynamicParts, [&](void *part) {
            collectFrom(partPdu(part), seen);
            return true;
        });
    }
}

void Compiler::compileInstance(const SignalInstance *instance, uint32_t length, std::vector<Op> &out)
{
    const Signal *signal = instance != nullptr ? nodeExactly<Signal>(instance->reference) : nullptr;
    const Coding *coding = signal != nullptr ? nodeExactly<Coding>(signal->reference) : nullptr;
    if (coding == nullptr || static_cast<int32_t>(instance->bitpos) < 0)
        return;
    if (!isSelected(plan_.filter, signal, instance))
        return;
    const int64_t start = static_cast<int32_t>(instance->bitpos);
    const int64_t bits = coding->bitlen;
    const bool big = instance->byteOrder == Q3_BYTEORDER_BIGENDIAN;
    if (!fieldInside(length, start, bits, big))
        return;
    collectTexts(*coding);
    Op op{};
    op.big = big;
    op.start = static_cast<int32_t>(start);
    op.length = static_cast<int32_t>(big ? -bits : bits);
    op.coding = coding;
    op.signal = core::handleOf(signal);
    op.instance = core::handleOf(instance);
    if (coding->encoding == Q3_ENCODING_ASCII) {
        op.kind = OpKind::Text;
        out.push_back(op);
        return;
    }
    if (bits > 64)
        op.kind = OpKind::Wide;
    else if (bits > 0 && windowOf(length, start, uint32_t(bits), big, &op.base, &op.position))
        op.kind = OpKind::Window;
    else
        op.kind = OpKind::Field;
    op.mask = maskOf(uint64_t(bits));
    op.conversion = Conversion::General;
    const ConversionPlan *conversion = conversionPlanOf(*coding);
    if (conversion != nullptr && conversion->reading != Reading::General) {
        op.conversion = Conversion::Planned;
        op.plan = conversion;
        // Read as a signed 64-bit number (an unsigned one below 2^63 converts alike), a
        // window field with one covering linear rule and no texts is the common case.
        const bool integer = conversion->reading == Reading::Twos
                             || (conversion->reading == Reading::Unsigned && bits < 64);
        if (op.kind == OpKind::Window && integer && conversion->step == Step::Linear && conversion->texts.empty()
            && conversion->mask == op.mask) {
            op.kind = big ? OpKind::LinearBig : OpKind::LinearLittle;
            op.sign = conversion->sign;
            op.scale = conversion->scale;
            op.offset = conversion->offset;
            op.computation = core::handleOf(conversion->computation);
        }
    }
    out.push_back(op);
}

// The program of a multiplexed part's PDU into *first and *count; false when the part is
// not decoded (no PDU, or its PDU encloses it).
bool Compiler::compilePart(const MultiplexedPart *part, uint32_t length, std::vector<const PDU *> &chain,
                           uint32_t *first, uint32_t *count)
{
    if (part == nullptr)
        return false;
    const auto *pdu = nodeAs<PDU>(part->reference);
    if (pdu == nullptr || std::find(chain.begin(), chain.end(), pdu) != chain.end())
        return false;
    bool segments = false;
    model::forEachRecord<core::Segment>(part->segments, [&](const core::Segment *) {
        segments = true;
        return false;
    });
    if (segments)
        throw NeedsWalk{};
    std::vector<Op> ops;
    compilePdu(*pdu, 0, length, chain, ops);
    std::tie(*first, *count) = emit(ops);
    return true;
}

void Compiler::compilePdu(const PDU &pdu, int64_t bitpos, uint32_t length, std::vector<const PDU *> &chain,
                          std::vector<Op> &out)
{
    if (const auto *signalPdu = nodeExactly<SignalPDU>(&pdu)) {
        model::forEachNode(signalPdu->signalInstances, [&](void *entry) {
            compileInstance(nodeExactly<SignalInstance>(entry), length, out);
            return true;
        });
        return;
    }
    const auto *mux = nodeExactly<MultiplexedPDU>(&pdu);
    if (mux == nullptr)
        return;
    if (chain.size() > kMaxCompiledNesting)
        throw NeedsWalk{};
    Mux table;
    const int64_t bits = mux->switchLength;
    const int64_t p = int64_t(int32_t(mux->switchPosition)) + bitpos;
    table.big = mux->switchByteOrder == Q3_BYTEORDER_BIGENDIAN;
    table.constant = bits == 0 || p < -32;
    if (!table.constant) {
        // The switch code is the field's low 32 bits, as the decoder reads it.
        const int64_t read = std::min<int64_t>(bits, 32);
        const int64_t start = table.big && bits > 32 ? fieldBit(p, bits, true, 31) : p;
        if (p < 0 || !fieldInside(length, start, read, table.big)
            || !windowOf(length, start, uint32_t(read), table.big, &table.base, &table.position))
            throw NeedsWalk{};  // identifier bits, or bits outside the frame
        table.mask = maskOf(uint64_t(read));
    }
    chain.push_back(mux);
    // Parts are found by code in the list kept in switch-code order; a code matches a
    // part only when equal, so a sorted table finds the same parts as long as the codes
    // lie less than 2^31 apart (their order is then the numeric one).
    std::vector<std::pair<uint32_t, const MultiplexedPart *>> parts;
    model::forEachNode(mux->dynamicParts, [&](void *entry) {
        if (const auto *part = nodeExactly<MultiplexedPart>(entry))
            parts.push_back({part->switchCode, part});
        return true;
    });
    for (size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].first <= parts[i - 1].first)
            throw NeedsWalk{};
    }
    if (!parts.empty() && parts.back().first - parts.front().first >= 0x80000000u)
        throw NeedsWalk{};
    for (const auto &[code, part] : parts) {
        // A part that is not decoded still has its code: the else part is not taken then.
        uint32_t first = 0, count = 0;
        if (!compilePart(part, length, chain, &first, &count))
            first = count = 0;
        table.codes.push_back(code);
        table.programs.push_back({first, count});
    }
    if (!compilePart(nodeExactly<MultiplexedPart>(mux->elsePart), length, chain, &table.elseFirst,
                     &table.elseCount))
        table.elseFirst = kNone;
    if (!compilePart(nodeExactly<MultiplexedPart>(mux->staticPart), length, chain, &table.staticFirst,
                     &table.staticCount))
        table.staticFirst = kNone;
    chain.pop_back();
    // Small codes index the programs directly.
    if (!table.codes.empty() && table.codes.back() < 256) {
        std::vector<std::pair<uint32_t, uint32_t>> direct(table.codes.back() + 1, {kNone, 0});
        for (size_t i = 0; i < table.codes.size(); ++i)
            direct[table.codes[i]] = table.programs[i];
        table.programs = std::move(direct);
        table.direct = true;
    }
    Op op{};
    op.kind = OpKind::Mux;
    op.base = static_cast<uint32_t>(plan_.muxes.size());
    plan_.muxes.push_back(std::move(table));
    out.push_back(op);
}

uint32_t Compiler::frameProgram(const Frame &frame)
{
    const auto found = frameIndex_.find(&frame);
    if (found != frameIndex_.end())
        return found->second;
    FrameProgram program{false, 0, 0, 0, 0, false};
    const size_t opsBefore = plan_.ops.size(), muxesBefore = plan_.muxes.size();
    try {
        std::vector<Op> ops;
        model::forEachNode(frame.PDUInstances, [&](void *entry) {
            const auto *instance = nodeExactly<PDUInstance>(entry);
            const PDU *pdu = instance != nullptr ? nodeAs<PDU>(instance->reference) : nullptr;
            if (pdu != nullptr) {
                std::vector<const PDU *> chain = {pdu};
                if (const auto *signalPdu = nodeExactly<SignalPDU>(pdu))
                    compilePdu(*signalPdu, 0, frame.length, chain, ops);
                else if (nodeExactly<MultiplexedPDU>(pdu) != nullptr)
                    compilePdu(*pdu, static_cast<int32_t>(instance->bitpos), frame.length, chain, ops);
            }
            return true;
        });
        std::tie(program.first, program.count) = emit(ops);
        const auto [records, text] = bound(program.first, program.count);
        program.maxRecords = static_cast<uint32_t>(std::min<uint64_t>(records, UINT32_MAX));
        program.maxText = static_cast<uint32_t>(std::min<uint64_t>(text, UINT32_MAX));
        program.linear = std::all_of(plan_.ops.begin() + program.first, plan_.ops.begin() + program.first + program.count,
                                     [](const Op &op) { return op.kind <= OpKind::LinearBig; });
    } catch (const NeedsWalk &) {
        plan_.ops.resize(opsBefore);
        plan_.muxes.resize(muxesBefore);
        program = {true, 0, 0, 0, 0, false};
        std::vector<const PDU *> seen;
        model::forEachNode(frame.PDUInstances, [&](void *entry) {
            const auto *instance = nodeExactly<PDUInstance>(entry);
            collectFrom(instance != nullptr ? nodeAs<PDU>(instance->reference) : nullptr, seen);
            return true;
        });
    }
    const auto index = static_cast<uint32_t>(plan_.frames.size());
    plan_.frames.push_back(program);
    frameIndex_.emplace(&frame, index);
    return index;
}

void Compiler::compile()
{
    plan_.slots.clear();
    plan_.byIdentifier.clear();
    plan_.masked.clear();
    plan_.frames.clear();
    plan_.ops.clear();
    plan_.muxes.clear();
    plan_.texts.clear();
    const Channel &channel = *plan_.channel;
    std::vector<std::pair<uint32_t, Candidate>> byId;
    uint32_t position = 0;
    model::forEachNode(channel.frameTriggerings, [&](void *entry) {
        const uint32_t at = position++;
        const auto *triggering = nodeAs<FrameTriggering>(entry);
        const auto *frame = triggering != nullptr ? nodeAs<Frame>(triggering->reference) : nullptr;
        if (frame == nullptr)
            return true;  // never matches
        Candidate candidate{};
        candidate.position = at;
        candidate.length = frame->length;
        const bool either = (triggering->flags & Q3_FLAGMASK_CAN_FRAMETYPE) == Q3_FLAG_CANSTD_OR_EXT;
        candidate.flagsMask = either ? 0 : Q3_FLAG_CANEXTENDED;
        candidate.flagsWant = triggering->flags & Q3_FLAG_CANEXTENDED;
        candidate.triggering = triggering;
        if (const auto *byIdentifier = nodeExactly<core::IdentifierBasedTriggering>(triggering)) {
            candidate.program = frameProgram(*frame);
            byId.push_back({byIdentifier->identifier, candidate});
        } else if (const auto *masked = nodeExactly<core::MaskedIdentifierTriggering>(triggering)) {
            candidate.program = frameProgram(*frame);
            candidate.masked = true;
            candidate.mask = masked->mask;
            candidate.code = masked->code;
            plan_.masked.push_back(candidate);
        }
        return true;
    });
    const auto copyProgram = [&](Candidate &candidate) {
        const FrameProgram &program = plan_.frames[candidate.program];
        candidate.linear = program.linear;
        candidate.first = program.first;
        candidate.count = program.count;
    };
    for (auto &entry : byId)
        copyProgram(entry.second);
    for (Candidate &candidate : plan_.masked)
        copyProgram(candidate);
    std::stable_sort(byId.begin(), byId.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    size_t groups = 0;
    for (size_t i = 0; i < byId.size(); ++i)
        groups += i == 0 || byId[i].first != byId[i - 1].first ? 1 : 0;
    size_t capacity = 8;
    while (capacity < 2 * groups)
        capacity *= 2;
    plan_.slots.assign(capacity, Slot{0, 0, 0});
    const size_t mask = capacity - 1;
    for (size_t i = 0; i < byId.size();) {
        const uint32_t identifier = byId[i].first;
        const auto first = static_cast<uint32_t>(plan_.byIdentifier.size());
        for (; i < byId.size() && byId[i].first == identifier; ++i)
            plan_.byIdentifier.push_back(byId[i].second);
        size_t slot = (identifier * 0x9E3779B1u) & mask;
        while (plan_.slots[slot].count != 0)
            slot = (slot + 1) & mask;
        plan_.slots[slot] = {identifier, static_cast<uint32_t>(plan_.byIdentifier.size()) - first, first};
    }
    plan_.channelInstances = core::firstChunk(channel.PDUInstances.chunks) != nullptr
                             && core::count(&channel.PDUInstances) > 0;
    if (plan_.channelInstances) {
        std::vector<const PDU *> seen;
        model::forEachNode(channel.PDUInstances, [&](void *entry) {
            const auto *instance = nodeExactly<PDUInstance>(entry);
            collectFrom(instance != nullptr ? nodeAs<PDU>(instance->reference) : nullptr, seen);
            return true;
        });
    }
    std::sort(plan_.texts.begin(), plan_.texts.end(),
              [](const SlotText &a, const SlotText &b) { return std::less<const void *>()(a.slot, b.slot); });
    plan_.texts.erase(std::unique(plan_.texts.begin(), plan_.texts.end(),
                                  [](const SlotText &a, const SlotText &b) { return a.slot == b.slot; }),
                      plan_.texts.end());
}

HRESULT build(DecodePlan &plan)
{
    plan.current = false;
    const uint64_t stamp = core::changesOf(plan.channel->database);
    const HRESULT hr = core::guarded([&] {
        Compiler(plan).compile();
        return S_OK;
    });
    if (hr != S_OK)
        return hr;
    plan.stamp = stamp;
    plan.current = true;
    return S_OK;
}

// ---- Decoding -----------------------------------------------------------------------

const VexoChar *textOf(const DecodePlan &plan, const VexoStringSlot *slot)
{
    if (slot == nullptr)
        return nullptr;
    const auto *key = reinterpret_cast<const core::StringSlot *>(slot);
    const auto found = std::lower_bound(plan.texts.begin(), plan.texts.end(), key,
                                        [](const SlotText &entry, const core::StringSlot *value) {
                                            return std::less<const void *>()(entry.slot, value);
                                        });
    return found != plan.texts.end() && found->slot == key ? found->text : nullptr;
}

// Converts as Vexo_internalToPhysical does, through the computations.
HRESULT convertGeneral(const Coding *coding, uint64_t raw, SignalValue *value)
{
    value->computation = nullptr;
    value->text = nullptr;
    if (coding == nullptr) {
        value->valueType = Q3_VALUETYPE_UINT64;
        value->value.u64 = raw;
        return S_OK;
    }
    const HRESULT decoded = decodeInternal(*coding, raw, value);
    return decoded != S_OK ? decoded : applyComputations(*coding, value);
}

// Where records and text bytes go.
struct Output {
    VexoBatchRecord *record, *recordEnd;
    char *text, *textEnd;
    bool full = false;
};

VexoBatchRecord *nextRecord(Output &out)
{
    if (out.record == out.recordEnd) {
        out.full = true;
        return nullptr;
    }
    return out.record++;
}


static_assert(offsetof(VexoBatchRecord, frameTriggering) == 8 && offsetof(VexoBatchRecord, signal) == 16
                  && offsetof(VexoBatchRecord, signalInstance) == 24 && offsetof(VexoBatchRecord, rawValue) == 32
                  && offsetof(VexoBatchRecord, value) == 40 && offsetof(VexoBatchRecord, valueText) == 72
                  && offsetof(VexoBatchRecord, status) == 80 && offsetof(VexoBatchRecord, text) == 88
                  && sizeof(VexoBatchRecord) == 96,
              "the record is written in 16-byte pieces");
static_assert(offsetof(Op, instance) == offsetof(Op, signal) + 8 && offsetof(Op, noText) == offsetof(Op, computation) + 8,
              "ops hold signal and instance, computation and text slot as records do");
static_assert(Q3_VALUETYPE_DOUBLE == 0 && S_OK == 0 && VEXO_RECORD_SIGNAL == 0, "zero words of a signal record");

// A signal record of the common op: the frame's words, the op's nodes, the raw value and
// the physical one, everything else 0. With SSE2, six 16-byte stores.
#if defined(__SSE2__)
using Head = __m128i;  // kind, frame index and triggering: the first 16 bytes of a record
inline Head headOf(uint32_t kind, uint32_t frameIndex, VexoNode *triggering)
{
    return _mm_set_epi64x(static_cast<long long>(reinterpret_cast<uintptr_t>(triggering)),
                          static_cast<long long>(uint64_t(frameIndex) << 32 | kind));
}
#else
struct Head {
    uint64_t word;
    VexoNode *triggering;
};
inline Head headOf(uint32_t kind, uint32_t frameIndex, VexoNode *triggering)
{
    return {uint64_t(frameIndex) << 32 | kind, triggering};
}
#endif

inline void writeLinear(VexoBatchRecord *record, const Op &op, uint64_t word, Head head)
{
    const uint64_t raw = (word >> op.position) & op.mask;
    const double value =
        applyLinear(op.scale, op.offset, static_cast<double>(static_cast<int64_t>((raw ^ op.sign) - op.sign)));
#if defined(__SSE2__)
    auto *out = reinterpret_cast<__m128i *>(record);
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(out, head);
    _mm_storeu_si128(out + 1, _mm_loadu_si128(reinterpret_cast<const __m128i *>(&op.signal)));
    _mm_storeu_si128(out + 2, _mm_cvtsi64_si128(static_cast<long long>(raw)));
    _mm_storeu_si128(out + 3, _mm_castpd_si128(_mm_loadh_pd(_mm_set_sd(value),
                                                            reinterpret_cast<const double *>(&op.computation))));
    _mm_storeu_si128(out + 4, zero);
    _mm_storeu_si128(out + 5, zero);
#else
    std::memset(static_cast<void *>(record), 0, sizeof *record);
    std::memcpy(record, &head.word, sizeof head.word);
    record->frameTriggering = head.triggering;
    record->signal = op.signal;
    record->signalInstance = op.instance;
    record->rawValue = raw;
    record->value.value.f64 = value;
    record->value.computation = op.computation;
#endif
}

// Runs a program of linear ops alone, with room for all of them; returns the record after
// the last.
inline VexoBatchRecord *runLinear(const Op *op, const Op *end, const uint8_t *data, VexoBatchRecord *record,
                                  Head head)
{
    for (; op != end; ++op, ++record) {
        uint64_t word;
        std::memcpy(&word, data + op->base, sizeof word);
        const uint64_t swapped = __builtin_bswap64(word);
        writeLinear(record, *op, op->kind == OpKind::LinearBig ? swapped : word, head);
    }
    return record;
}

void frameRecord(VexoBatchRecord &record, uint32_t kind, uint32_t frameIndex, const FrameTriggering *triggering)
{
#if defined(__SSE2__)
    auto *out = reinterpret_cast<__m128i *>(&record);
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(out, headOf(kind, frameIndex, core::handleOf(triggering)));
    for (int i = 1; i < 6; ++i)
        _mm_storeu_si128(out + i, zero);
#else
    std::memset(static_cast<void *>(&record), 0, sizeof record);
    record.kind = kind;
    record.frameIndex = frameIndex;
    record.frameTriggering = core::handleOf(triggering);
#endif
}

struct Run {
    const DecodePlan &plan;
    const VexoFrame &frame;
    uint32_t frameIndex;
    VexoNode *triggering;
    const uint8_t *bytes;  // the data, zero-padded to eight bytes when shorter
    Output &out;

    uint64_t window(uint32_t base, uint8_t position, uint64_t mask, bool big) const
    {
        uint64_t word;
        std::memcpy(&word, bytes + base, sizeof word);
        if (big)
            word = __builtin_bswap64(word);
        return (word >> position) & mask;
    }

    // A signal record through the coding's plan or computations (the rarer kinds).
    void convert(VexoBatchRecord &record, const Op &op, uint64_t raw)
    {
        std::memset(static_cast<void *>(&record), 0, sizeof record);
        record.kind = VEXO_RECORD_SIGNAL;
        record.frameIndex = frameIndex;
        record.frameTriggering = triggering;
        record.signal = op.signal;
        record.signalInstance = op.instance;
        record.rawValue = raw;
        if (op.conversion == Conversion::Planned)
            record.status = convertWithPlan(*op.plan, raw, &record.value);
        else
            record.status = convertGeneral(op.coding, raw, &record.value);
        record.valueText = textOf(plan, record.value.text);
    }

    // An ASCII record, when the text fits; false when it does not.
    bool text(VexoBatchRecord &record, const Op &op)
    {
        const uint32_t bits = static_cast<uint32_t>(op.length < 0 ? -int64_t(op.length) : op.length);
        if (uint64_t(out.textEnd - out.text) < (uint64_t(bits) + 7) / 8)
            return false;
        std::memset(static_cast<void *>(&record), 0, sizeof record);
        Q3bit_extract(reinterpret_cast<uint8_t *>(out.text), frame.data, (bits + 7) / 8, op.start, op.length);
        record.kind = VEXO_RECORD_TEXT;
        record.frameIndex = frameIndex;
        record.frameTriggering = triggering;
        record.signal = op.signal;
        record.signalInstance = op.instance;
        record.textLength = bits / 8;
        record.text = out.text;
        out.text += bits / 8;
        return true;
    }

    // Runs a program. Checked: room is tested per record; otherwise the caller made sure
    // the program's largest output fits.
    template <bool Checked>
    void program(uint32_t first, uint32_t count)
    {
        // Locals, so that the stores into records cannot make the compiler read these again.
        VexoBatchRecord *record = out.record;
        VexoBatchRecord *const recordEnd = out.recordEnd;
        const uint8_t *const data = bytes;
        const Head head = headOf(VEXO_RECORD_SIGNAL, frameIndex, triggering);
        for (const Op *op = plan.ops.data() + first, *end = op + count; op != end; ++op) {
            if (Checked && record == recordEnd && op->kind != OpKind::Mux) {
                out.full = true;
                break;
            }
            if (op->kind <= OpKind::LinearBig) {
                uint64_t word;
                std::memcpy(&word, data + op->base, sizeof word);
                const uint64_t swapped = __builtin_bswap64(word);
                writeLinear(record++, *op, op->kind == OpKind::LinearBig ? swapped : word, head);
                continue;
            }
            switch (op->kind) {
            case OpKind::Mux:
                out.record = record;
                mux<Checked>(plan.muxes[op->base]);
                record = out.record;
                if (out.full)
                    return;
                continue;
            case OpKind::Window:
                convert(*record, *op, window(op->base, op->position, op->mask, op->big));
                break;
            case OpKind::Field:
                convert(*record, *op, codec::extractField(frame.data, op->start, op->length));
                break;
            case OpKind::Wide: {
                uint8_t value[8];
                Q3bit_extract(value, frame.data, sizeof value, op->start, op->length);
                uint64_t raw;
                std::memcpy(&raw, value, sizeof raw);
                convert(*record, *op, raw);
                break;
            }
            default:
                if (!text(*record, *op)) {
                    out.record = record;
                    out.full = true;
                    return;
                }
                break;
            }
            ++record;
        }
        out.record = record;
    }

    template <bool Checked>
    void mux(const Mux &table)
    {
        const uint32_t code =
            table.constant ? 0 : static_cast<uint32_t>(window(table.base, table.position, table.mask, table.big));
        if (table.staticFirst != kNone) {
            program<Checked>(table.staticFirst, table.staticCount);
            if (out.full)
                return;
        }
        // kNone: no part has the code, and the else part applies.
        uint32_t first = kNone, count = 0;
        if (table.direct) {
            if (code < table.programs.size())
                std::tie(first, count) = table.programs[code];
        } else {
            const auto found = std::lower_bound(table.codes.begin(), table.codes.end(), code);
            if (found != table.codes.end() && *found == code)
                std::tie(first, count) = table.programs[size_t(found - table.codes.begin())];
        }
        if (first == kNone) {
            first = table.elseFirst;
            count = table.elseCount;
        }
        if (first != kNone)
            program<Checked>(first, count);
    }
};

// Records of the walk for frames the plan leaves to it.
struct WalkOutput {
    const DecodePlan &plan;
    uint32_t frameIndex;
    Output &out;
};

void deliverWalked(void *context, const VexoDecodedSignal &decoded, HRESULT hr)
{
    auto &walked = *static_cast<WalkOutput *>(context);
    Output &out = walked.out;
    if (out.full)
        return;
    const Signal *signal = nodeExactly<Signal>(decoded.signal);
    const Coding *coding = signal != nullptr ? nodeExactly<Coding>(signal->reference) : nullptr;
    if (hr == S_FALSE) {
        const uint64_t bits = coding != nullptr ? coding->bitlen : 0;
        if (uint64_t(out.textEnd - out.text) < (bits + 7) / 8) {
            out.full = true;
            return;
        }
    }
    VexoBatchRecord *record = nextRecord(out);
    if (record == nullptr)
        return;
    std::memset(static_cast<void *>(record), 0, sizeof *record);
    record->frameIndex = walked.frameIndex;
    record->frameTriggering = decoded.frameTriggering;
    record->signal = decoded.signal;
    record->signalInstance = decoded.signalInstance;
    if (hr == S_FALSE) {
        record->kind = VEXO_RECORD_TEXT;
        std::memcpy(out.text, decoded.text, decoded.textLength);
        record->text = out.text;
        record->textLength = decoded.textLength;
        out.text += decoded.textLength;
        return;
    }
    record->kind = VEXO_RECORD_SIGNAL;
    record->rawValue = decoded.rawValue;
    record->status = convertGeneral(coding, decoded.rawValue, &record->value);
    record->valueText = textOf(walked.plan, record->value.text);
}

// Scratch of the walk: its state block and a text buffer that holds any ASCII field.
struct WalkScratch {
    std::unique_ptr<uint64_t[]> state;
    std::unique_ptr<char[]> text;
    uint32_t textCapacity = 0;
};

void walk(const DecodePlan &plan, const VexoFrame &frame, uint32_t frameIndex, const FrameTriggering *triggering,
          WalkScratch &scratch, Output &out)
{
    if (!scratch.state)
        scratch.state.reset(new uint64_t[(walkStateSize() + 7) / 8]);
    const uint32_t needed = std::max<uint32_t>(frame.length, 1024);
    if (scratch.textCapacity < needed) {
        scratch.text.reset(new char[needed]);
        scratch.textCapacity = needed;
    }
    VexoDecodedSignal record{};
    record.text = scratch.text.get();
    record.textCapacity = scratch.textCapacity;
    WalkOutput walked{plan, frameIndex, out};
    walkFrame(scratch.state.get(), *plan.channel, triggering, plan.filter, frame.identifier, frame.flags, frame.length,
              frame.data, record, deliverWalked, &walked);
}

bool candidateMatches(const Candidate &candidate, const VexoFrame &frame)
{
    if (candidate.masked && (candidate.mask & frame.identifier) != candidate.code)
        return false;
    return ((frame.flags ^ candidate.flagsWant) & candidate.flagsMask) == 0 && candidate.length == frame.length;
}

// The plan's tables as plain pointers, read once per call.
struct View {
    const DecodePlan &plan;
    const Slot *slots;
    size_t slotMask;  // slots - 1, or no slots when 0 with empty
    bool noSlots;
    const Candidate *masked, *maskedEnd;
    const FrameProgram *frames;
    const Op *ops;
    bool simple;  // no masked triggerings and no PDU instances of the channel's own
};

// Writes a frame's records; false when they do not all fit (out then as it was).
bool decodeFrame(const View &view, const VexoFrame &frame, uint32_t frameIndex, WalkScratch &scratch, Output &out)
{
    const DecodePlan &plan = view.plan;
    VexoBatchRecord *const recordsBefore = out.record;
    char *const textBefore = out.text;
    const Candidate *byId = nullptr, *byIdEnd = nullptr;
    if (!view.noSlots) {
        for (size_t i = (frame.identifier * 0x9E3779B1u) & view.slotMask;; i = (i + 1) & view.slotMask) {
            const Slot &slot = view.slots[i];
            if (slot.identifier == frame.identifier && slot.count != 0) {
                byId = plan.byIdentifier.data() + slot.first;
                byIdEnd = byId + slot.count;
                break;
            }
            if (slot.count == 0)
                break;
        }
    }
    const Candidate *masked = view.masked, *const maskedEnd = view.maskedEnd;
    uint64_t padded = 0;
    const uint8_t *bytes = frame.data;
    if (frame.length < 8) {
        if (frame.data != nullptr)
            std::memcpy(&padded, frame.data, frame.length);
        bytes = reinterpret_cast<const uint8_t *>(&padded);
    }
    // The common case: one triggering for the identifier, no masked ones, no instances of
    // the channel's own, a program of linear fields, and room for all of it.
    if (byId != byIdEnd && byId + 1 == byIdEnd && byId->linear && view.simple && candidateMatches(*byId, frame)
        && frame.data != nullptr && out.record + byId->count < out.recordEnd) {
        VexoNode *triggering = core::handleOf(byId->triggering);
        frameRecord(*out.record, VEXO_RECORD_FRAME, frameIndex, byId->triggering);
        const Op *ops = view.ops + byId->first;
        out.record = runLinear(ops, ops + byId->count, bytes, out.record + 1,
                               headOf(VEXO_RECORD_SIGNAL, frameIndex, triggering));
        return true;
    }
    bool matched = false;
    for (;;) {
        const Candidate *candidate = nullptr;
        if (byId != byIdEnd && (masked == maskedEnd || byId->position < masked->position))
            candidate = byId++;
        else if (masked != maskedEnd)
            candidate = masked++;
        else
            break;
        if (!candidateMatches(*candidate, frame))
            continue;
        matched = true;
        VexoBatchRecord *record = nextRecord(out);
        if (record == nullptr)
            break;
        frameRecord(*record, VEXO_RECORD_FRAME, frameIndex, candidate->triggering);
        if (frame.data == nullptr)
            continue;  // as Vexo_decodeNextSignal, which refuses a null data pointer
        const FrameProgram &program = view.frames[candidate->program];
        if (program.walk) {
            walk(plan, frame, frameIndex, candidate->triggering, scratch, out);
        } else {
            Run run{plan, frame, frameIndex, core::handleOf(candidate->triggering), bytes, out};
            if (uint64_t(out.recordEnd - out.record) >= program.maxRecords
                && uint64_t(out.textEnd - out.text) >= program.maxText)
                run.program<false>(program.first, program.count);
            else
                run.program<true>(program.first, program.count);
        }
        if (out.full)
            break;
    }
    if (!matched && !out.full) {
        if (VexoBatchRecord *record = nextRecord(out))
            frameRecord(*record, VEXO_RECORD_UNKNOWN, frameIndex, nullptr);
    }
    if (plan.channelInstances && !out.full) {
        if (VexoBatchRecord *record = nextRecord(out)) {
            frameRecord(*record, VEXO_RECORD_FRAME, frameIndex, nullptr);
            if (frame.data != nullptr)
                walk(plan, frame, frameIndex, nullptr, scratch, out);
        }
    }
    if (out.full) {
        out.record = recordsBefore;
        out.text = textBefore;
        return false;
    }
    return true;
}

DecodePlan *planAs(const void *handle)
{
    auto *plan = static_cast<DecodePlan *>(const_cast<void *>(handle));
    return plan != nullptr && plan->magic == kPlanMagic ? plan : nullptr;
}

}  // namespace
}  // namespace vexo::decode

using namespace vexo;
using namespace vexo::decode;

VEXO_API HRESULT Vexo_createDecodePlan(const VexoNode *channel, const VexoFilter *filter, uint32_t language,
                                       VexoDecodePlan **plan)
{
    if (plan == nullptr)
        return E_INVALIDARG;
    const auto *node = core::nodeExactly<core::Channel>(channel);
    const model::Filter *nodeFilter = filter != nullptr ? model::filterAs(filter) : nullptr;
    if (node == nullptr || (filter != nullptr && nodeFilter == nullptr))
        return E_INVALIDARG;
    auto *made = new (std::nothrow) DecodePlan;
    if (made == nullptr)
        return E_OUTOFMEMORY;
    made->channel = node;
    made->filter = nodeFilter;
    made->language = language;
    const HRESULT hr = build(*made);
    if (hr != S_OK) {
        delete made;
        return hr;
    }
    *plan = reinterpret_cast<VexoDecodePlan *>(made);
    return S_OK;
}

VEXO_API HRESULT Vexo_rebuildDecodePlan(VexoDecodePlan *plan)
{
    DecodePlan *typed = planAs(plan);
    if (typed == nullptr)
        return E_INVALIDARG;
    return build(*typed);
}

VEXO_API HRESULT Vexo_isDecodePlanCurrent(const VexoDecodePlan *plan)
{
    const DecodePlan *typed = planAs(plan);
    if (typed == nullptr)
        return E_INVALIDARG;
    return typed->current && typed->stamp == core::changesOf(typed->channel->database) ? S_OK : S_FALSE;
}

VEXO_API HRESULT Vexo_destroyDecodePlan(VexoDecodePlan *plan)
{
    if (plan == nullptr)
        return S_OK;
    DecodePlan *typed = planAs(plan);
    if (typed == nullptr)
        return E_INVALIDARG;
    typed->magic = kReleasedMagic;
    delete typed;
    return S_OK;
}

VEXO_API HRESULT Vexo_decodeFrames(const VexoDecodePlan *plan, const VexoFrame *frames, uint32_t count,
                                   VexoBatchRecord *records, uint32_t capacity, char *text, uint32_t textCapacity,
                                   VexoBatchCount *done)
{
    const DecodePlan *typed = planAs(plan);
    if (typed == nullptr || done == nullptr || (frames == nullptr && count > 0)
        || (records == nullptr && capacity > 0) || (text == nullptr && textCapacity > 0))
        return E_INVALIDARG;
    if (!typed->current || typed->stamp != core::changesOf(typed->channel->database))
        return VEXO_E_STALEPLAN;
    return core::guarded([&] {
        Output out{records, records + capacity, text, text + textCapacity};
        WalkScratch scratch;
        const View view{*typed,
                        typed->slots.data(),
                        typed->slots.empty() ? 0 : typed->slots.size() - 1,
                        typed->slots.empty(),
                        typed->masked.data(),
                        typed->masked.data() + typed->masked.size(),
                        typed->frames.data(),
                        typed->ops.data(),
                        typed->masked.empty() && !typed->channelInstances};
        uint32_t decoded = 0;
        while (decoded < count && decodeFrame(view, frames[decoded], decoded, scratch, out))
            ++decoded;
        *done = {decoded, static_cast<uint32_t>(out.record - records), static_cast<uint32_t>(out.text - text), 0};
        return decoded == count ? S_OK : S_FALSE;
    });
}
