// Frame and PDU images of the encoder and the flow of bits between them. Positions and
// lengths come from the model and are never trusted to lie inside an image: every write
// goes through the clipping bit-field functions.
#include "images.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>
#include <unordered_map>

#include "bit_buffer.h"
#include "enumerator.h"
#include "vexo/codec.h"
#include "vexo/constants.h"

namespace vexo::encode {

using namespace core;

namespace {

constexpr uint32_t kNoUpdateBit = 0xFFFFFFFFu;
constexpr uint32_t kCyclicTag = classTag(CyclicTiming::kCode);
constexpr uint32_t kEventTag = classTag(EventControlledTiming::kCode);

// A start bit as the bit-field functions take it; positions past INT32_MAX become -1,
// which they refuse.
int32_t startBit(uint32_t position) { return position > INT32_MAX ? -1 : static_cast<int32_t>(position); }

int32_t signedLength(uint32_t byteOrder, int32_t bits) { return byteOrder == Q3_BYTEORDER_BIGENDIAN ? -bits : bits; }

void setBit(Image &image, uint32_t position)
{
    if (position == kNoUpdateBit || position / 8 >= image.byteLength)
        return;
    image.bytes[position / 8] |= static_cast<uint8_t>(1u << (position % 8));
}

template <Image *Image::*Next, Image *Image::*Prev>
void linkAtHead(Image *&head, Image &image)
{
    image.*Prev = nullptr;
    image.*Next = head;
    if (head != nullptr)
        head->*Prev = &image;
    head = &image;
}

template <Image *Image::*Next, Image *Image::*Prev>
void unlink(Image *&head, Image &image)
{
    if (image.*Prev != nullptr)
        (image.*Prev)->*Next = image.*Next;
    else
        head = image.*Next;
    if (image.*Next != nullptr)
        (image.*Next)->*Prev = image.*Prev;
    image.*Next = nullptr;
    image.*Prev = nullptr;
}

}  // namespace

// ---- ImageTable ---------------------------------------------------------------------------

void ImageTable::build(const std::vector<Entry> &entries)
{
    images_.clear();
    index_.clear();
    for (ImageLevel &level : levels_)
        level = ImageLevel{};
    try {
        // One image per node, at the node's deepest level, in order of first appearance.
        // The deepest level puts a PDU below every multiplexed PDU that holds it, so a
        // trigger always passes contents on before their containers.
        std::vector<uint32_t> byNode(entries.size());
        std::iota(byNode.begin(), byNode.end(), 0u);
        std::stable_sort(byNode.begin(), byNode.end(), [&](uint32_t a, uint32_t b) {
            return std::less<const void *>()(entries[a].node, entries[b].node);
        });
        std::vector<uint32_t> deepest(entries.size(), UINT32_MAX);  // set on first appearances
        for (size_t i = 0; i < byNode.size();) {
            const uint32_t first = byNode[i];
            uint32_t level = entries[first].level;
            for (++i; i < byNode.size() && entries[byNode[i]].node == entries[first].node; ++i)
                level = std::max(level, entries[byNode[i]].level);
            deepest[first] = level;
        }
        auto usable = [&](size_t i) {
            const uint64_t bits = entries[i].bitLength;
            return deepest[i] < kLevelCount && bits != 0 && (bits + 7) / 8 <= kMaxImageBytes;
        };
        size_t count = 0;
        for (size_t i = 0; i < entries.size(); ++i)
            count += usable(i) ? 1 : 0;
        images_.reserve(count);  // never grows again: the lists point into it
        for (size_t i = 0; i < entries.size(); ++i) {
            if (!usable(i))
                continue;
            Image &image = images_.emplace_back();
            image.node = entries[i].node;
            image.level = static_cast<uint8_t>(deepest[i]);
            image.bitLength = static_cast<int32_t>(entries[i].bitLength);
            image.byteLength = static_cast<uint32_t>((entries[i].bitLength + 7) / 8);
            image.bytes.reset(new uint8_t[image.byteLength]);
            std::memset(image.bytes.get(), entries[i].fill, image.byteLength);
        }
        index_.reserve(images_.size());
        for (Image &image : images_) {
            index_.push_back(&image);
            ++levels_[image.level].count;
        }
        std::sort(index_.begin(), index_.end(),
                  [](const Image *a, const Image *b) { return std::less<const void *>()(a->node, b->node); });
    } catch (...) {
        images_.clear();
        index_.clear();
        for (ImageLevel &level : levels_)
            level = ImageLevel{};
        throw;
    }
}

Image *ImageTable::find(const void *node)
{
    auto at = std::lower_bound(index_.begin(), index_.end(), node, [](const Image *image, const void *key) {
        return std::less<const void *>()(image->node, key);
    });
    return at != index_.end() && (*at)->node == node ? *at : nullptr;
}

uint32_t ImageTable::highestLevel() const
{
    for (uint32_t i = kLevelCount - 1; i > 0; --i) {
        if (levels_[i].count != 0)
            return i;
    }
    return 0;
}

void ImageTable::markChanged(Image &image, uint32_t bits)
{
    if (bits == 0)
        return;
    if (image.changeMask == 0)
        linkAtHead<&Image::changedNext, &Image::changedPrev>(levels_[image.level].changed, image);
    image.changeMask |= bits;
}

void ImageTable::clearChanged(Image &image, uint32_t bits)
{
    if (image.changeMask == 0)
        return;
    image.changeMask &= ~bits;
    if (image.changeMask == 0)
        unlink<&Image::changedNext, &Image::changedPrev>(levels_[image.level].changed, image);
}

void ImageTable::include(Image &image, bool insert)
{
    if (insert) {
        if (image.inclusions++ == 0)
            linkAtHead<&Image::includedNext, &Image::includedPrev>(levels_[image.level].included, image);
        return;
    }
    if (image.inclusions == 0)
        return;
    if (--image.inclusions == 0)
        unlink<&Image::includedNext, &Image::includedPrev>(levels_[image.level].included, image);
}

// ---- EncoderImages --------------------------------------------------------------------------

void EncoderImages::build(WalkQueries &query, const void *node)
{
    // A walk started at a frame meets its PDUs on level 0, where frames lie; one level
    // deeper they are passed on like those of a walk started higher up.
    const uint32_t offset = nodeExactly<Frame>(node) != nullptr ? 1 : 0;
    FoundList found;
    std::vector<ImageTable::Entry> entries;

    // A walk never meets its start node, so a frame of its own is added by hand.
    if (nodeExactly<Frame>(node) != nullptr)
        found.take({node, 0});
    else
        query.countFrames(node, &found);
    entries.reserve(found.items.size());
    for (const Found &f : found.items)
        entries.push_back({f.node, 0, 8ull * static_cast<const Frame *>(f.node)->length, 0});
    frames.build(entries);

    found.items.clear();
    entries.clear();
    query.countPdus(node, &found);
    entries.reserve(found.items.size());
    for (const Found &f : found.items) {
        const auto *pdu = static_cast<const PDU *>(f.node);
        entries.push_back({f.node, f.level + offset, pdu->bitlen, static_cast<uint8_t>(pdu->unusedBytePattern)});
    }
    pdus.build(entries);
    // Each PDU's timing holder is the first PDU triggering the database walk meets for
    // it: one walk lists them all, rather than a walk per PDU.
    found.items.clear();
    query.listPduTriggerings(&found);
    std::unordered_map<const void *, const PDUTriggering *> holders;
    holders.reserve(found.items.size());
    for (const Found &f : found.items) {
        const auto *triggering = static_cast<const PDUTriggering *>(f.node);
        holders.emplace(triggering->reference, triggering);  // the first one stays
    }
    for (uint32_t i = 0; i < pdus.size(); ++i) {
        const auto at = holders.find(pdus.at(i).node);
        pdus.at(i).timingHolder = at != holders.end() ? at->second : nullptr;
    }
}

HRESULT EncoderImages::includeFrame(WalkQueries &query, const void *frame, bool insert)
{
    Image *image = frames.find(frame);
    if (image == nullptr)
        return S_FALSE;
    // A frame that is not included has nothing to take back from its PDUs, which other
    // included frames may share.
    if (!insert && image->inclusions == 0)
        return S_OK;
    struct Adjust final : FoundSink {
        ImageTable &pdus;
        bool insert;
        Adjust(ImageTable &table, bool add) : pdus(table), insert(add) {}
        void take(const Found &found) override
        {
            if (Image *pdu = pdus.find(found.node))
                pdus.include(*pdu, insert);
        }
    } adjust(pdus, insert);
    query.countPdus(frame, &adjust);
    frames.include(*image, insert);
    return S_OK;
}

HRESULT EncoderImages::includeEcu(WalkQueries &query, const void *ecu, bool insert)
{
    HRESULT hr = S_FALSE;
    for (uint32_t i = 0; i < frames.size(); ++i) {
        const void *frame = frames.at(i).node;
        if (query.ecuSendsFrame(frame, ecu) && includeFrame(query, frame, insert) == S_OK)
            hr = S_OK;
    }
    return hr;
}

HRESULT EncoderImages::writeSignal(const Signal &signal, uint32_t bitLength, WriteMode mode, uint64_t value,
                                   uint32_t mask)
{
    bool written = false;
    model::forEachNode(signal.signalInstances, [&](void *entry) {
        const auto *instance = nodeExactly<SignalInstance>(entry);
        Image *image = instance != nullptr ? pdus.find(instance->parent) : nullptr;
        if (image == nullptr || (mode == WriteMode::Included && image->inclusions == 0))
            return true;
        codec::insertFieldQuickly(image->bytes.get(), image->byteLength, startBit(instance->bitpos),
                                  signedLength(instance->byteOrder, static_cast<int32_t>(bitLength)), value);
        setBit(*image, instance->updateBitpos);
        pdus.markChanged(*image, mask);
        written = true;
        return true;
    });
    return written ? S_OK : E_INVALIDARG;
}

void EncoderImages::trigger(WalkQueries &query, TriggerMode mode, uint64_t now)
{
    if (mode == TriggerMode::None)
        return;
    for (uint32_t level = pdus.highestLevel(); level > 0; --level) {
        ImageLevel &images = pdus.level(level);
        if (mode == TriggerMode::Changed) {
            // Passing an image on takes it off the list, so the head is always the next.
            while (Image *image = images.changed)
                passOn(*image, image->changeMask);
            continue;
        }
        for (Image *image = images.included, *next = nullptr; image != nullptr; image = next) {
            next = image->includedNext;
            if (image->timingHolder == nullptr) {
                if (image->changeMask != 0)
                    passOn(*image, image->changeMask);
                continue;
            }
            uint32_t tag = 0;
            if (query.timingDue(image->timingHolder, now, image->lastSend, &tag) != S_OK)
                continue;
            if (tag == kCyclicTag) {
                image->lastSend = now;
                passOn(*image, kCyclicSend);
            } else if (tag == kEventTag && image->changeMask != 0) {
                image->lastSend = now;
                passOn(*image, image->changeMask);
            }
        }
    }
}

void EncoderImages::passOn(Image &pdu, uint32_t mask)
{
    const auto *node = nodeAs<PDU>(pdu.node);
    model::forEachNode(node->parents, [&](void *entry) {
        if (const auto *instance = nodeExactly<PDUInstance>(entry)) {
            Image *frame = nodeExactly<Frame>(instance->parent) != nullptr ? frames.find(instance->parent) : nullptr;
            if (frame == nullptr)
                return true;
            Q3bit_insert(frame->bytes.get(), pdu.bytes.get(), frame->byteLength, startBit(instance->bitpos),
                         signedLength(instance->byteOrder, pdu.bitLength));
            setBit(*frame, instance->updateBitpos);
            frames.markChanged(*frame, mask);
            return true;
        }
        const auto *part = nodeExactly<MultiplexedPart>(entry);
        const auto *multiplexed = part != nullptr ? nodeExactly<MultiplexedPDU>(part->parent) : nullptr;
        Image *target = multiplexed != nullptr ? pdus.find(multiplexed) : nullptr;
        // Only into a shallower image: a model whose parts refer back to their own
        // multiplexed PDU would otherwise pass images around in a circle.
        if (target == nullptr || target->level >= pdu.level)
            return true;
        const int64_t targetBits = 8 * int64_t(target->byteLength);
        int64_t source = 0;
        model::forEachRecord<Segment>(part->segments, [&](const Segment *segment) {
            // Bits past the end of the part's own image read as zero.
            const int64_t length = std::min<int64_t>(segment->bitlen, targetBits);
            const int64_t available = std::clamp<int64_t>(pdu.bitLength - source, 0, length);
            Q3bit_copy(target->bytes.get(), target->byteLength, startBit(segment->bitpos),
                       signedLength(segment->byteOrder, static_cast<int32_t>(length)), pdu.bytes.get(),
                       static_cast<int32_t>(std::min<int64_t>(source, INT32_MAX)), static_cast<int32_t>(available));
            source += segment->bitlen;
            return true;
        });
        const uint32_t switchLength = std::min<uint32_t>(multiplexed->switchLength, 32);
        if (multiplexed->staticPart != part && switchLength != 0) {
            codec::insertField(target->bytes.get(), target->byteLength, startBit(multiplexed->switchPosition),
                               signedLength(multiplexed->switchByteOrder, static_cast<int32_t>(switchLength)),
                               part->switchCode);
        }
        pdus.markChanged(*target, mask);
        return true;
    });
    pdus.clearChanged(pdu, ~0u);
}

}  // namespace vexo::encode
