// Compiling frames into programs. The walk of the frame decoder is the model: a program
// takes exactly the instances it would decode, in its order (the static part of a
// multiplexed PDU before the selected part), and leaves to it what the steps cannot say.
#include "frame_program.h"

#include <algorithm>
#include <tuple>

#include "api_guard.h"
#include "enumerator.h"
#include "vexo/constants.h"

namespace vexo::decode {

using core::Coding;
using core::Frame;
using core::MultiplexedPart;
using core::MultiplexedPDU;
using core::nodeAs;
using core::nodeExactly;
using core::PDU;
using core::PDUInstance;
using core::Signal;
using core::SignalInstance;
using core::SignalPDU;

namespace {

// Multiplexed PDUs nested deeper than this go through the walk, which keeps the level
// stack's limits; so compiled frames never reach them.
constexpr uint32_t kMaxCompiledNesting = 16;

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

}  // namespace

std::pair<uint32_t, uint32_t> FrameCompiler::emit(const std::vector<Op> &ops)
{
    const auto first = static_cast<uint32_t>(programs_.ops.size());
    programs_.ops.insert(programs_.ops.end(), ops.begin(), ops.end());
    return {first, static_cast<uint32_t>(ops.size())};
}

// The most records and text bytes a program can give: a multiplexed PDU gives its static
// part and the largest of its other parts.
std::pair<uint64_t, uint64_t> FrameCompiler::bound(uint32_t first, uint32_t count) const
{
    uint64_t records = 0, text = 0;
    for (uint32_t i = first; i < first + count; ++i) {
        const Op &op = programs_.ops[i];
        if (op.kind != OpKind::Mux) {
            records += 1;
            if (op.kind == OpKind::Text)
                text += (uint64_t(op.length < 0 ? -int64_t(op.length) : op.length) + 7) / 8;
            continue;
        }
        const Mux &table = programs_.muxes[op.base];
        uint64_t partRecords = 0, partText = 0;
        const auto widen = [&](uint32_t partFirst, uint32_t partCount) {
            if (partFirst == kNoProgram)
                return;
            const auto [r, t] = bound(partFirst, partCount);
            partRecords = std::max(partRecords, r);
            partText = std::max(partText, t);
        };
        for (const auto &[partFirst, partCount] : table.programs)
            widen(partFirst, partCount);
        widen(table.elseFirst, table.elseCount);
        if (table.staticFirst != kNoProgram) {
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
void FrameCompiler::collectTexts(const Coding &coding)
{
    if (!options_.texts || !codingsSeen_.emplace(&coding, true).second)
        return;
    core::StringTable *table = coding.database->strings;
    model::forEachNode(coding.internalToPhysicalCompus, [&](void *entry) {
        if (const auto *mapped = nodeExactly<core::MappedTextComputation>(entry)) {
            const VexoChar *text = nullptr;
            if (mapped->textvalue != nullptr
                && core::lookupSlot(table, mapped->textvalue, options_.language, options_.language, &text) == S_OK)
                programs_.texts.push_back({mapped->textvalue, text});
        }
        return true;
    });
}

// Collects the texts of every signal below a PDU that the walk may decode.
void FrameCompiler::collectBelow(const PDU *pdu, std::vector<const PDU *> &seen)
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
        collectBelow(partPdu(mux->staticPart), seen);
        collectBelow(partPdu(mux->elsePart), seen);
        model::forEachNode(mux->dynamicParts, [&](void *part) {
            collectBelow(partPdu(part), seen);
            return true;
        });
    }
}

void FrameCompiler::compileInstance(const SignalInstance *instance, uint32_t length, std::vector<Op> &out)
{
    const Signal *signal = instance != nullptr ? nodeExactly<Signal>(instance->reference) : nullptr;
    const Coding *coding = signal != nullptr ? nodeExactly<Coding>(signal->reference) : nullptr;
    if (coding == nullptr || static_cast<int32_t>(instance->bitpos) < 0)
        return;
    if (!isSelected(options_.filter, signal, instance))
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
    const ConversionPlan *conversion = options_.conversions ? conversionPlanOf(*coding) : nullptr;
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
bool FrameCompiler::compilePart(const MultiplexedPart *part, uint32_t length, std::vector<const PDU *> &chain,
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

void FrameCompiler::compilePdu(const PDU &pdu, int64_t bitpos, uint32_t length, std::vector<const PDU *> &chain,
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
        table.elseFirst = kNoProgram;
    if (!compilePart(nodeExactly<MultiplexedPart>(mux->staticPart), length, chain, &table.staticFirst,
                     &table.staticCount))
        table.staticFirst = kNoProgram;
    chain.pop_back();
    // Small codes index the programs directly.
    if (!table.codes.empty() && table.codes.back() < 256) {
        std::vector<std::pair<uint32_t, uint32_t>> direct(table.codes.back() + 1, {kNoProgram, 0});
        for (size_t i = 0; i < table.codes.size(); ++i)
            direct[table.codes[i]] = table.programs[i];
        table.programs = std::move(direct);
        table.direct = true;
    }
    Op op{};
    op.kind = OpKind::Mux;
    op.base = static_cast<uint32_t>(programs_.muxes.size());
    programs_.muxes.push_back(std::move(table));
    out.push_back(op);
}

uint32_t FrameCompiler::program(const Frame &frame)
{
    const auto found = frameIndex_.find(&frame);
    if (found != frameIndex_.end())
        return found->second;
    FrameProgram program{false, 0, 0, 0, 0, false, false};
    const size_t opsBefore = programs_.ops.size(), muxesBefore = programs_.muxes.size();
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
        const auto begin = programs_.ops.begin() + program.first, end = begin + program.count;
        program.linear = std::all_of(begin, end, [](const Op &op) { return op.kind <= OpKind::LinearBig; });
        program.flat = std::none_of(begin, end, [](const Op &op) { return op.kind == OpKind::Mux; });
    } catch (const NeedsWalk &) {
        programs_.ops.resize(opsBefore);
        programs_.muxes.resize(muxesBefore);
        program = {true, 0, 0, 0, 0, false, false};
        model::forEachNode(frame.PDUInstances, [&](void *entry) {
            const auto *instance = nodeExactly<PDUInstance>(entry);
            collectFrom(instance != nullptr ? nodeAs<PDU>(instance->reference) : nullptr);
            return true;
        });
    }
    const auto index = static_cast<uint32_t>(programs_.frames.size());
    programs_.frames.push_back(program);
    frameIndex_.emplace(&frame, index);
    return index;
}

void FrameCompiler::collectFrom(const PDU *pdu)
{
    std::vector<const PDU *> seen;
    collectBelow(pdu, seen);
}

void FrameCompiler::finish()
{
    std::vector<SlotText> &texts = programs_.texts;
    std::sort(texts.begin(), texts.end(),
              [](const SlotText &a, const SlotText &b) { return std::less<const void *>()(a.slot, b.slot); });
    texts.erase(std::unique(texts.begin(), texts.end(), [](const SlotText &a, const SlotText &b) { return a.slot == b.slot; }),
                texts.end());
}

}  // namespace vexo::decode
