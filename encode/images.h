// The encoder's frame and PDU images: one byte image per frame and per PDU below the
// encoder's node. Signals are written into PDU images; a trigger passes changed or due PDU
// images into the multiplexed PDUs and frames that hold them, deepest level first. Changed
// and included images are threaded on per-level lists so a trigger touches only those.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "node_classes.h"
#include "walk_queries.h"
#include "vexo/types.h"

namespace vexo::encode {

// Image levels: a frame's PDUs lie at most three walk levels below the walk's start (a
// cluster, channel and triggering list; one more when the walk starts at a frame), and
// every nested multiplexed part is one level deeper.
constexpr uint32_t kLevelCount = core::kMaxPartNesting + 8;
constexpr uint32_t kCyclicSend = 0x80000000u;  // change bit of a send due to a cyclic timing
// Frames and PDUs are at most a few hundred bytes; a longer length in the model is taken
// for a fault and gets no image.
constexpr uint32_t kMaxImageBytes = 65536;

struct Image {
    Image *changedNext = nullptr;
    Image *changedPrev = nullptr;
    Image *includedNext = nullptr;
    Image *includedPrev = nullptr;
    uint8_t level = 0;             // 0 for frames; the PDU's walk level
    uint32_t inclusions = 0;       // insertions minus deletions of frames holding it
    uint32_t changeMask = 0;       // applications that changed it since it was passed on
    uint64_t lastSend = 0;         // time of the last timed send
    const void *node = nullptr;    // the Frame or PDU
    const core::PDUTriggering *timingHolder = nullptr;
    int32_t bitLength = 0;
    uint32_t byteLength = 0;
    std::unique_ptr<uint8_t[]> bytes;
};

struct ImageLevel {
    uint32_t count = 0;
    Image *changed = nullptr;   // images whose change mask is not 0
    Image *included = nullptr;  // images whose inclusion count is not 0
};

class ImageTable {
public:
    struct Entry {
        const void *node;
        uint32_t level;
        uint64_t bitLength;
        uint8_t fill;  // every byte of the image starts with it
    };

    // Replaces the table's images by one per node of entries (a node met more than once
    // keeps its deepest level). Entries of length 0, of an oversized length or of a level
    // beyond the last get none. Throws std::bad_alloc, leaving the table empty.
    void build(const std::vector<Entry> &entries);

    Image *find(const void *node);
    uint32_t size() const { return static_cast<uint32_t>(images_.size()); }
    Image &at(uint32_t i) { return images_[i]; }
    ImageLevel &level(uint32_t i) { return levels_[i]; }
    // The highest level holding images, 0 when none lies above level 0.
    uint32_t highestLevel() const;

    // ORs bits into the change mask; the image joins its level's changed list.
    void markChanged(Image &image, uint32_t bits);
    // Clears bits of the change mask; an image whose mask becomes 0 leaves the list.
    void clearChanged(Image &image, uint32_t bits);
    // Counts one inclusion more or less (never below 0), keeping the included list.
    void include(Image &image, bool insert);

private:
    std::vector<Image> images_;
    std::vector<Image *> index_;  // sorted by node address
    ImageLevel levels_[kLevelCount];
};

enum class WriteMode : uint8_t { Every = 1, Included = 2 };
enum class TriggerMode : uint8_t { None = 0, Changed = 1, Timed = 2 };

class EncoderImages {
public:
    // Builds both tables for the frames and PDUs below a node (null: the whole database).
    // Throws std::bad_alloc.
    void build(WalkQueries &query, const void *node);

    // Counts a frame, and every PDU below it, one inclusion more or less. S_OK, or
    // S_FALSE when the frame has no image.
    HRESULT includeFrame(WalkQueries &query, const void *frame, bool insert);
    // The same for every frame of the table sent by an ECU through an identifier-based
    // triggering. S_OK, or S_FALSE when there is none.
    HRESULT includeEcu(WalkQueries &query, const void *ecu, bool insert);

    // Writes the low bitLength bits (at most 64) of a value into the PDU images holding an
    // instance of the signal (only the included ones for WriteMode::Included), sets update
    // bits and ORs mask into their change masks. S_OK, or E_INVALIDARG when no image took it.
    HRESULT writeSignal(const core::Signal &signal, uint32_t bitLength, WriteMode mode, uint64_t value,
                        uint32_t mask);

    // Passes changed (Changed) or due included (Timed) PDU images on, deepest level first.
    void trigger(WalkQueries &query, TriggerMode mode, uint64_t now);

    ImageTable frames;
    ImageTable pdus;

private:
    void passOn(Image &pdu, uint32_t mask);
};

}  // namespace vexo::encode
