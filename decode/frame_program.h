// Frame programs: the PDU tree of a frame compiled into flat steps, one per signal instance
// (where its field lies in the frame, read with one 64-bit load, and how its value converts)
// and one per multiplexed PDU (its switch and the programs of its parts). The batch
// decoder runs them; the frame decoder runs them for the triggerings its index finds.
// Frames whose form they do not cover are marked for the decoder's walk.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

#include "conversion_plan.h"
#include "filter.h"
#include "node_classes.h"
#include "vexo/types.h"

namespace vexo::decode {

inline constexpr uint32_t kNoProgram = ~uint32_t(0);

// Asks the filter about the signal, then about the instance. Anything but a clear
// "selected" skips the instance: a filter that cannot answer must not drop the others.
inline bool isSelected(const model::Filter *filter, const core::Signal *signal, const core::SignalInstance *instance)
{
    if (filter == nullptr)
        return true;
    const HRESULT bySignal = model::filterSelects(*filter, signal);
    if (bySignal != S_FALSE)
        return bySignal == S_OK;
    return model::filterSelects(*filter, instance) == S_OK;
}

// Buffer bit of value bit k of a field of `bits` bits (k = 0 least significant).
inline int64_t fieldBit(int64_t start, int64_t bits, bool big, int64_t k)
{
    return big ? ((start ^ 7) + bits - 1 - k) ^ 7 : start + k;
}

// True when a field lies wholly inside `length` bytes, and well below bit 2^31 so that
// start and length fit the bit functions' arguments. The test is by whole bytes: a
// big-endian field's last byte is that of its least significant bit. A field of no bits
// reads nothing and is always inside.
inline bool fieldInside(uint64_t length, int64_t start, int64_t bits, bool big)
{
    const int64_t end = static_cast<int64_t>(std::min<uint64_t>(8 * length, INT32_MAX - 64));
    if (bits == 0)
        return true;
    if (start < 0 || start >= end)
        return false;
    return fieldBit(start, bits, big, big ? 0 : bits - 1) < end;
}

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
    const core::Coding *coding;
};

// A multiplexed PDU: where its switch lies and the programs of its parts. A program is a
// range of ops; kNoProgram for none.
struct Mux {
    bool constant;  // the switch reads 0 (no bits, or bits before the identifier word)
    bool big;
    uint8_t position;
    uint32_t base;
    uint64_t mask;
    uint32_t staticFirst = kNoProgram, staticCount = 0;
    uint32_t elseFirst = kNoProgram, elseCount = 0;
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
    bool flat;    // no multiplexed PDU: the steps are the ops, in order
};

struct SlotText {
    const core::StringSlot *slot;
    const VexoChar *text;
};

// The programs of one compilation, with the value description texts of the codings met
// (when collected), sorted by slot.
struct Programs {
    std::vector<FrameProgram> frames;
    std::vector<Op> ops;
    std::vector<Mux> muxes;
    std::vector<SlotText> texts;
};

// Compiles frames into a set of programs, each frame once.
class FrameCompiler {
public:
    struct Options {
        const model::Filter *filter = nullptr;  // asked per instance; null for all
        bool conversions = false;               // decide each field's conversion (batch decoding)
        bool texts = false;                     // collect value description texts
        uint32_t language = 0;                  // ... in this language
    };

    FrameCompiler(Programs &programs, const Options &options) : programs_(programs), options_(options) {}

    // The index of a frame's program in programs.frames. Throws std::bad_alloc.
    uint32_t program(const core::Frame &frame);
    // Collects the texts of every signal below a PDU that the walk may decode.
    void collectFrom(const core::PDU *pdu);
    // Sorts the collected texts.
    void finish();

private:
    struct NeedsWalk {};  // thrown out of a frame's compilation when the frame needs the walk

    void collectTexts(const core::Coding &coding);
    void collectBelow(const core::PDU *pdu, std::vector<const core::PDU *> &seen);
    void compileInstance(const core::SignalInstance *instance, uint32_t length, std::vector<Op> &out);
    void compilePdu(const core::PDU &pdu, int64_t bitpos, uint32_t length, std::vector<const core::PDU *> &chain,
                    std::vector<Op> &out);
    bool compilePart(const core::MultiplexedPart *part, uint32_t length, std::vector<const core::PDU *> &chain,
                     uint32_t *first, uint32_t *count);
    std::pair<uint32_t, uint32_t> emit(const std::vector<Op> &ops);
    std::pair<uint64_t, uint64_t> bound(uint32_t first, uint32_t count) const;

    Programs &programs_;
    Options options_;
    std::unordered_map<const core::Frame *, uint32_t> frameIndex_;
    std::unordered_map<const core::Coding *, bool> codingsSeen_;
};

// The program a multiplexed PDU runs after its static part for a switch code: the part
// with that code, else the else part; first is kNoProgram for none.
inline std::pair<uint32_t, uint32_t> selectedPart(const Mux &table, uint32_t code)
{
    std::pair<uint32_t, uint32_t> found{kNoProgram, 0};
    if (table.direct) {
        if (code < table.programs.size())
            found = table.programs[code];
    } else {
        for (size_t lo = 0, n = table.codes.size(); n > 0;) {
            const size_t half = n / 2;
            if (table.codes[lo + half] < code) {
                lo += half + 1;
                n -= half + 1;
            } else {
                if (table.codes[lo + half] == code)
                    found = table.programs[lo + half];
                n = half;
            }
        }
    }
    if (found.first == kNoProgram)
        found = {table.elseFirst, table.elseCount};
    return found;
}

// Reads the field of a window step (or a switch) from eight bytes at base.
inline uint64_t readWindow(const uint8_t *bytes, uint32_t base, uint8_t position, uint64_t mask, bool big)
{
    uint64_t word;
    __builtin_memcpy(&word, bytes + base, sizeof word);
    if (big)
        word = __builtin_bswap64(word);
    return (word >> position) & mask;
}

}  // namespace vexo::decode
