// Batch decoding from compiled plans. A plan turns a channel's model into flat tables: a
// hash of identifiers to the triggerings that may match, and per frame a program of
// field extractions (one 64-bit load, a shift and a mask each) with their conversions,
// multiplexed PDUs as switch tables. Whatever the program form does not cover (segments,
// identifier bits, deep nesting, the channel's own PDU instances) goes through the frame
// decoder's own walk, so records always equal what the stepwise functions give. Where the
// processor has AVX2, frames of linear fields alone are decoded four fields at a time.
#include "vexo/batch.h"

#include <algorithm>
#include <atomic>
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
#include "frame_program.h"
#include "enumerator.h"
#include "filter.h"
#include "node_classes.h"
#include "identifier_slot.h"
#include "string_table.h"
#include "value_conversion.h"
#include "vexo/codec.h"
#include "vexo/constants.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VEXO_VECTORS 1
#define VEXO_AVX2 __attribute__((target("avx2")))
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

// ---- Plans ------------------------------------------------------------------------

struct Candidate {
    uint32_t position;  // in the channel's list
    uint32_t length;    // the frame's length
    uint32_t flagsMask, flagsWant;
    bool masked;
    bool linear;        // the frame's program is linear ops alone (copied from it)
    uint32_t mask, code;
    uint32_t program;   // into frames
    uint32_t first, count;  // the frame's program (copied from it)
    uint32_t quads = kNoProgram;  // into quads: the program four fields at a time, if it has that form
    bool oneWindow;               // every field lies in the first eight bytes: one load reads them all
    const FrameTriggering *triggering;
};

// Four linear fields of a program side by side, for decoding them with one vector
// instruction per step. Lanes past the program's end read byte 0 and give 0.
struct alignas(32) Quad {
    uint64_t shift[4], mask[4], sign[4], big[4];  // big: all ones for a big-endian field
    double scale[4], offset[4];
    VexoNode *computation[4];
    uint32_t base[4];
};

struct Slot {
    uint32_t identifier;
    uint32_t count;  // 0: free
    uint32_t first;  // into byIdentifier
    // The identifier's one candidate when decoding it is the common case (one identifier
    // triggering, no masked ones, no PDU instances of the channel's own, linear fields).
    const Candidate *quick;
};

// Standard identifiers (below 2^11) find their quick candidate in a table.
constexpr uint32_t kQuickIdentifiers = 2048;

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
    std::vector<const Candidate *> quick;  // kQuickIdentifiers entries, or none
    Programs programs;
    std::vector<Quad> quads;
};

namespace {

// Whether plans made from now on decode with AVX2 where the processor has it.
std::atomic<bool> vectorsAllowed{true};

bool vectorsAvailable()
{
#if defined(VEXO_VECTORS)
    static const bool available = __builtin_cpu_supports("avx2");
    return available && vectorsAllowed.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

// ---- Compiling ----------------------------------------------------------------------

// Compiles a plan: the channel's triggerings by identifier and the programs of their frames.
class Compiler {
public:
    explicit Compiler(DecodePlan &plan)
        : plan_(plan), frames_(plan.programs, {plan.filter, true, true, plan.language})
    {
    }

    void compile();

private:
    // The first of the quads of a program, or kNoProgram when it is not linear or reads
    // more bits than a double converts exactly from an integer with the quick method.
    uint32_t quadsOf(uint32_t program);

    DecodePlan &plan_;
    FrameCompiler frames_;
    std::vector<uint32_t> quadsByProgram_;
};

constexpr uint32_t kNotYet = kNoProgram - 1;

uint32_t Compiler::quadsOf(uint32_t index)
{
    if (quadsByProgram_.size() <= index)
        quadsByProgram_.resize(plan_.programs.frames.size(), kNotYet);
    uint32_t &known = quadsByProgram_[index];
    if (known != kNotYet)
        return known;
    const FrameProgram &program = plan_.programs.frames[index];
    const Op *ops = plan_.programs.ops.data() + program.first;
    known = kNoProgram;
    if (!program.linear || program.count == 0
        || std::any_of(ops, ops + program.count, [](const Op &op) { return op.mask >> 51 != 0; }))
        return known;
    known = static_cast<uint32_t>(plan_.quads.size());
    for (uint32_t at = 0; at < program.count; at += 4) {
        Quad &quad = plan_.quads.emplace_back();
        std::memset(static_cast<void *>(&quad), 0, sizeof quad);
        for (uint32_t lane = 0; lane < 4 && at + lane < program.count; ++lane) {
            const Op &op = ops[at + lane];
            quad.base[lane] = op.base;
            quad.shift[lane] = op.position;
            quad.mask[lane] = op.mask;
            quad.sign[lane] = op.sign;
            quad.big[lane] = op.kind == OpKind::LinearBig ? ~uint64_t(0) : 0;
            quad.scale[lane] = op.scale;
            quad.offset[lane] = op.offset;
            quad.computation[lane] = op.computation;
        }
    }
    return known;
}

void Compiler::compile()
{
    plan_.slots.clear();
    plan_.byIdentifier.clear();
    plan_.masked.clear();
    plan_.quads.clear();
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
            candidate.program = frames_.program(*frame);
            byId.push_back({byIdentifier->identifier, candidate});
        } else if (const auto *masked = nodeExactly<core::MaskedIdentifierTriggering>(triggering)) {
            candidate.program = frames_.program(*frame);
            candidate.masked = true;
            candidate.mask = masked->mask;
            candidate.code = masked->code;
            plan_.masked.push_back(candidate);
        }
        return true;
    });
    const auto copyProgram = [&](Candidate &candidate) {
        const FrameProgram &program = plan_.programs.frames[candidate.program];
        candidate.linear = program.linear;
        candidate.first = program.first;
        candidate.count = program.count;
    };
    for (auto &entry : byId) {
        copyProgram(entry.second);
        if (!vectorsAvailable())
            continue;
        entry.second.quads = quadsOf(entry.second.program);
        const Op *ops = plan_.programs.ops.data() + entry.second.first;
        entry.second.oneWindow =
            std::all_of(ops, ops + entry.second.count, [](const Op &op) { return op.base == 0; });
    }
    for (Candidate &candidate : plan_.masked)
        copyProgram(candidate);
    buildIdentifierTable(byId, plan_.slots, plan_.byIdentifier);
    plan_.channelInstances = core::firstChunk(channel.PDUInstances.chunks) != nullptr
                             && core::count(&channel.PDUInstances) > 0;
    plan_.quick.assign(kQuickIdentifiers, nullptr);
    if (plan_.masked.empty() && !plan_.channelInstances) {
        for (Slot &slot : plan_.slots) {
            const Candidate *candidate = plan_.byIdentifier.data() + slot.first;
            if (slot.count != 1 || !candidate->linear)
                continue;
            slot.quick = candidate;
            if (slot.identifier < kQuickIdentifiers)
                plan_.quick[slot.identifier] = candidate;
        }
    }
    if (plan_.channelInstances) {
        model::forEachNode(channel.PDUInstances, [&](void *entry) {
            const auto *instance = nodeExactly<PDUInstance>(entry);
            frames_.collectFrom(instance != nullptr ? nodeAs<PDU>(instance->reference) : nullptr);
            return true;
        });
    }
    frames_.finish();
}

HRESULT build(DecodePlan &plan)
{
    plan.current = false;
    const uint64_t stamp = core::changesOf(plan.channel->database);
    const HRESULT hr = core::guarded([&] {
        plan.programs = Programs{};
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
    const std::vector<SlotText> &texts = plan.programs.texts;
    const auto found = std::lower_bound(texts.begin(), texts.end(), key,
                                        [](const SlotText &entry, const core::StringSlot *value) {
                                            return std::less<const void *>()(entry.slot, value);
                                        });
    return found != texts.end() && found->slot == key ? found->text : nullptr;
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
        return readWindow(bytes, base, position, mask, big);
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
        for (const Op *op = plan.programs.ops.data() + first, *end = op + count; op != end; ++op) {
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
                mux<Checked>(plan.programs.muxes[op->base]);
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
            table.constant ? 0 : static_cast<uint32_t>(readWindow(bytes, table.base, table.position, table.mask, table.big));
        if (table.staticFirst != kNoProgram) {
            program<Checked>(table.staticFirst, table.staticCount);
            if (out.full)
                return;
        }
        const auto [first, count] = selectedPart(table, code);
        if (first != kNoProgram)
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
    const Candidate *const *quick;
    const Quad *quads;
};

// The identifier's quick candidate, or null.
inline const Candidate *quickCandidate(const View &view, uint32_t identifier)
{
    if (identifier < kQuickIdentifiers)
        return view.quick[identifier];
    if (view.noSlots)
        return nullptr;
    for (size_t i = identifierSlot(identifier, view.slotMask);; i = (i + 1) & view.slotMask) {
        const Slot &slot = view.slots[i];
        if (slot.count == 0)
            return nullptr;
        if (slot.identifier == identifier)
            return slot.quick;
    }
}

// The first eight bytes of a frame, zero-padded when it is shorter.
inline uint64_t firstWord(const VexoFrame &frame)
{
    const uint8_t *data = frame.data;
    const uint32_t length = frame.length;
    uint64_t word = 0;
    if (length >= 8) {
        std::memcpy(&word, data, sizeof word);
    } else if (length >= 4) {  // two loads of four bytes that overlap
        uint32_t low, high;
        std::memcpy(&low, data, sizeof low);
        std::memcpy(&high, data + length - 4, sizeof high);
        word = low | uint64_t(high) << (8 * (length - 4));
    } else if (length > 0) {  // bytes 0, length / 2 and length - 1 cover all three
        word = data[0] | uint64_t(data[length / 2]) << (8 * (length / 2))
               | uint64_t(data[length - 1]) << (8 * (length - 1));
    }
    return word;
}

// The identifier's quick candidate when it matches the frame, the frame has data and
// its records fit; else null (the frame then takes decodeFrame).
inline const Candidate *quickMatch(const View &view, const VexoFrame &frame, const Output &out)
{
    const Candidate *candidate = quickCandidate(view, frame.identifier);
    if (candidate == nullptr || !candidateMatches(*candidate, frame) || frame.data == nullptr
        || uint64_t(out.recordEnd - out.record) <= candidate->count)
        return nullptr;
    return candidate;
}

// Decodes a frame in the common case, one field at a time.
inline void decodeQuickly(const View &view, const Candidate &candidate, const VexoFrame &frame, uint32_t frameIndex,
                          Output &out)
{
    uint64_t padded = 0;
    const uint8_t *bytes = frame.data;
    if (frame.length < 8) {
        padded = firstWord(frame);
        bytes = reinterpret_cast<const uint8_t *>(&padded);
    }
    frameRecord(*out.record, VEXO_RECORD_FRAME, frameIndex, candidate.triggering);
    const Op *ops = view.ops + candidate.first;
    out.record = runLinear(ops, ops + candidate.count, bytes, out.record + 1,
                           headOf(VEXO_RECORD_SIGNAL, frameIndex, core::handleOf(candidate.triggering)));
}

// Writes a frame's records; false when they do not all fit (out then as it was).
bool decodeFrame(const View &view, const VexoFrame &frame, uint32_t frameIndex, WalkScratch &scratch, Output &out)
{
    const DecodePlan &plan = view.plan;
    VexoBatchRecord *const recordsBefore = out.record;
    char *const textBefore = out.text;
    const Candidate *byId = nullptr, *byIdEnd = nullptr;
    if (!view.noSlots) {
        for (size_t i = identifierSlot(frame.identifier, view.slotMask);; i = (i + 1) & view.slotMask) {
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

#if defined(VEXO_VECTORS)
// ---- The quick path four fields at a time (AVX2) ---------------------------------------

VEXO_AVX2 inline __m256i loadLanes(const void *lanes) { return _mm256_load_si256(static_cast<const __m256i *>(lanes)); }

// A signal record: the head and the op's nodes, raw value and value, zeros.
VEXO_AVX2 inline void storeRecord(VexoBatchRecord *record, __m128i head, const Op &op, __m256i value)
{
    auto *out = reinterpret_cast<__m256i *>(record);
    const __m128i nodes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(&op.signal));
    _mm256_storeu_si256(out, _mm256_inserti128_si256(_mm256_castsi128_si256(head), nodes, 1));
    _mm256_storeu_si256(out + 1, value);
    _mm256_storeu_si256(out + 2, _mm256_setzero_si256());
}

// The records of the first n lanes of a quad.
VEXO_AVX2 inline void writeQuad(VexoBatchRecord *record, uint32_t n, __m128i head, const Op *op, __m256i raw,
                                __m256d value, __m256d computation)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i rawEven = _mm256_unpacklo_epi64(raw, zero), rawOdd = _mm256_unpackhi_epi64(raw, zero);
    const __m256i valueEven = _mm256_castpd_si256(_mm256_unpacklo_pd(value, computation));
    const __m256i valueOdd = _mm256_castpd_si256(_mm256_unpackhi_pd(value, computation));
    storeRecord(record, head, op[0], _mm256_permute2x128_si256(rawEven, valueEven, 0x20));
    if (n > 1)
        storeRecord(record + 1, head, op[1], _mm256_permute2x128_si256(rawOdd, valueOdd, 0x20));
    if (n > 2)
        storeRecord(record + 2, head, op[2], _mm256_permute2x128_si256(rawEven, valueEven, 0x31));
    if (n > 3)
        storeRecord(record + 3, head, op[3], _mm256_permute2x128_si256(rawOdd, valueOdd, 0x31));
}

// The four 64-bit windows of a quad (four loads: faster than a gather on many processors).
VEXO_AVX2 inline __m256i windows(const uint8_t *bytes, const uint32_t *base)
{
    const auto word = [bytes](uint32_t at) {
        long long value;
        std::memcpy(&value, bytes + at, sizeof value);
        return value;
    };
    return _mm256_setr_epi64x(word(base[0]), word(base[1]), word(base[2]), word(base[3]));
}

// Writes the signal records of a program in quads; returns the record after the last. The
// four windows are byte-swapped where big-endian, shifted, masked and sign-extended lane by
// lane, converted to doubles exactly (|value| < 2^51: added to 1.5 * 2^52 as integers, the
// double of those bits minus 1.5 * 2^52) and scaled by the same multiply and add as one
// field at a time, so the values are the same bits. Each record takes three 32-byte stores.
template <bool OneWindow>
VEXO_AVX2 inline VexoBatchRecord *runQuads(const Quad *quad, const Op *op, uint32_t count, const uint8_t *bytes,
                                           uint64_t first, VexoBatchRecord *record, __m128i head)
{
    const __m256i reverse = _mm256_setr_epi8(7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8,  //
                                             7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8);
    const __m256i magic = _mm256_set1_epi64x(0x4338000000000000);
    // With one window (first), it and its byte-swapped form serve all quads.
    const __m256i little = _mm256_set1_epi64x(static_cast<long long>(first));
    const __m256i swapped = _mm256_set1_epi64x(static_cast<long long>(__builtin_bswap64(first)));
    for (uint32_t left = count; left > 0; ++quad, op += 4) {
        const __m256i big = loadLanes(quad->big);
        __m256i word;
        if (OneWindow) {
            word = _mm256_blendv_epi8(little, swapped, big);
        } else {
            word = windows(bytes, quad->base);
            word = _mm256_blendv_epi8(word, _mm256_shuffle_epi8(word, reverse), big);
        }
        const __m256i raw = _mm256_and_si256(_mm256_srlv_epi64(word, loadLanes(quad->shift)), loadLanes(quad->mask));
        const __m256i sign = loadLanes(quad->sign);
        const __m256i read = _mm256_sub_epi64(_mm256_xor_si256(raw, sign), sign);
        const __m256d number =
            _mm256_sub_pd(_mm256_castsi256_pd(_mm256_add_epi64(read, magic)), _mm256_castsi256_pd(magic));
        const __m256d value =
            _mm256_add_pd(_mm256_mul_pd(_mm256_load_pd(quad->scale), number), _mm256_load_pd(quad->offset));
        const __m256d computation = _mm256_castsi256_pd(loadLanes(quad->computation));
        if (left >= 4) {
            writeQuad(record, 4, head, op, raw, value, computation);
            record += 4;
            left -= 4;
        } else {
            writeQuad(record, left, head, op, raw, value, computation);
            record += left;
            left = 0;
        }
    }
    return record;
}

// Decodes a frame in the common case, four fields at a time.
VEXO_AVX2 inline void decodeQuicklyInQuads(const View &view, const Candidate &candidate, const VexoFrame &frame,
                                           uint32_t frameIndex, Output &out)
{
    frameRecord(*out.record, VEXO_RECORD_FRAME, frameIndex, candidate.triggering);
    const __m128i head = headOf(VEXO_RECORD_SIGNAL, frameIndex, core::handleOf(candidate.triggering));
    const Quad *quad = view.quads + candidate.quads;
    const Op *op = view.ops + candidate.first;
    // One window: frames of up to eight bytes (zero-padded) and longer ones with their fields there.
    out.record = candidate.oneWindow
                     ? runQuads<true>(quad, op, candidate.count, nullptr, firstWord(frame), out.record + 1, head)
                     : runQuads<false>(quad, op, candidate.count, frame.data, 0, out.record + 1, head);
}

// The frames of a call, through the quick path in quads where the frame allows it.
VEXO_AVX2 uint32_t decodeInQuads(const View &view, const VexoFrame *frames, uint32_t count, WalkScratch &scratch,
                                 Output &out)
{
    uint32_t decoded = 0;
    for (; decoded < count; ++decoded) {
        const VexoFrame &frame = frames[decoded];
        if (const Candidate *quick = quickMatch(view, frame, out)) {
            if (quick->quads != kNoProgram)
                decodeQuicklyInQuads(view, *quick, frame, decoded, out);
            else
                decodeQuickly(view, *quick, frame, decoded, out);
        } else if (!decodeFrame(view, frame, decoded, scratch, out)) {
            break;
        }
    }
    return decoded;
}
#endif

DecodePlan *planAs(const void *handle)
{
    auto *plan = static_cast<DecodePlan *>(const_cast<void *>(handle));
    return plan != nullptr && plan->magic == kPlanMagic ? plan : nullptr;
}

}  // namespace
}  // namespace vexo::decode

using namespace vexo;
using namespace vexo::decode;

#if VEXO_TEST_HOOKS
VEXO_API void Vexo_allowVectorDecoding(int allowed)
{
    vectorsAllowed.store(allowed != 0, std::memory_order_relaxed);
}
#endif

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
                        typed->programs.frames.data(),
                        typed->programs.ops.data(),
                        typed->quick.data(),
                        typed->quads.data()};
        uint32_t decoded = 0;
#if defined(VEXO_VECTORS)
        if (!typed->quads.empty())
            decoded = decodeInQuads(view, frames, count, scratch, out);
        else
#endif
            for (; decoded < count; ++decoded) {
                if (const Candidate *quick = quickMatch(view, frames[decoded], out))
                    decodeQuickly(view, *quick, frames[decoded], decoded, out);
                else if (!decodeFrame(view, frames[decoded], decoded, scratch, out))
                    break;
            }
        *done = {decoded, static_cast<uint32_t>(out.record - records), static_cast<uint32_t>(out.text - text), 0};
        return decoded == count ? S_OK : S_FALSE;
    });
}
