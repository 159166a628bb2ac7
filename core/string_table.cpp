// Interning and string slots. Languages get dense indices in order of first use, per
// database, and are never removed, so the two one-entry caches never go stale.
#include "string_table.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <new>

#include "sanitizers.h"
#include "text.h"

namespace vexo::core {

namespace {

constexpr ChunkLayout kAlternativeLayout = nodeListLayout(3);
constexpr ChunkLayout kLanguageLayout = recordListLayout(4, 3, sizeof(uint32_t));
constexpr ChunkLayout kSlotLayout = recordListLayout(16, 3, sizeof(StringSlot));

int matchLanguage(const void *key, int32_t, const void *record)
{
    return *static_cast<const uint32_t *>(record) == *static_cast<const uint32_t *>(key);
}

int32_t findLanguage(const StringTable *table, uint16_t language)
{
    const uint32_t key = language;
    return findRecord(table->languageLayout, &table->languages, matchLanguage, &key);
}

// Index of a language, adding it when new (-1 when memory runs out).
int32_t languageIndexAdding(StringTable *table, uint32_t language)
{
    const auto id = static_cast<uint16_t>(language);
    if (table->cacheA.index >= 0 && table->cacheA.language == id)
        return table->cacheA.index;
    int32_t index = findLanguage(table, id);
    if (index >= 0) {
        table->cacheA = {id, index};
        return index;
    }
    auto *record = static_cast<uint32_t *>(appendRecord(table->languageLayout, table->allocator, &table->languages));
    if (record == nullptr)
        return -1;
    *record = id;
    return static_cast<int32_t>(count(&table->languages)) - 1;
}

int32_t languageIndex(StringTable *table, LanguageCache *cache, uint32_t language)
{
    const auto id = static_cast<uint16_t>(language);
    if (cache->index >= 0 && cache->language == id)
        return cache->index;
    const int32_t index = findLanguage(table, id);
    if (index >= 0)
        *cache = {id, index};
    return index;
}

HRESULT readEntry(const StringSlot *slot, int32_t index, const VexoChar **out)
{
    void *entry = nullptr;
    const HRESULT hr = getAt(&slot->alternatives, static_cast<uint32_t>(index), &entry);
    if (hr == S_OK)
        *out = static_cast<const VexoChar *>(entry);
    return hr;
}

}  // namespace

int compareUnits(const VexoChar *a, const VexoChar *b)
{
    for (;; ++a, ++b) {
        if (*a != *b)
            return *a < *b ? -1 : 1;
        if (*a == 0)
            return 0;
    }
}

HRESULT createStringTable(Allocator *allocator, StringTable **out)
{
    if (out == nullptr || allocator == nullptr)
        return E_INVALIDARG;
    auto *table = static_cast<StringTable *>(std::calloc(1, sizeof(StringTable)));
    if (table == nullptr)
        return E_OUTOFMEMORY;
    table->magic = kStringsMagic;
    table->allocator = allocator;
    table->alternativeLayout = kAlternativeLayout;
    table->languageLayout = kLanguageLayout;
    table->slotLayout = kSlotLayout;
    HRESULT hr = initList(table->slotLayout, allocator, &table->slots);
    if (hr == S_OK)
        hr = initList(table->languageLayout, allocator, &table->languages);
    table->cacheA = {0xFFFF, -1};
    table->cacheB = {0xFFFF, -1};
    *out = table;
    return hr;
}

HRESULT destroyStringTable(StringTable *table)
{
    if (table == nullptr || table->magic != kStringsMagic)
        return E_INVALIDARG;
    table->magic = 0;
    std::free(table->internSlots);
    std::free(table->internTags);
    std::free(table);
    return S_OK;
}

namespace {

// Sanitizer builds read a text unit by unit: reading whole words may pass its end.
constexpr bool kWordScan = !kAddressSanitizer && !kThreadSanitizer;

constexpr uint64_t kHashMultiplier = 0x9E3779B97F4A7C15u;

// The 16-bit units of a word that are zero, as their top bits.
inline uint64_t zeroUnits(uint64_t word) { return (word - 0x0001000100010001u) & ~word & 0x8000800080008000u; }

// The end of the hash: both lanes and the last word, mixed so that every bit reaches the
// low bits that pick a slot.
inline uint32_t finishHash(uint64_t even, uint64_t odd, uint64_t last)
{
    uint64_t h = (even ^ ((odd << 29) | (odd >> 35)) ^ last) * kHashMultiplier;
    h ^= h >> 32;
    h *= kHashMultiplier;
    return static_cast<uint32_t>(h ^ (h >> 29));
}

// The place (0-7) of the first zero among the eight units from text, or 8.
inline unsigned firstZeroOfEight(const VexoChar *text, uint64_t first, uint64_t second)
{
#if defined(__SSE2__)
    (void)first, (void)second;
    const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text));
    const auto zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(units, _mm_setzero_si128())));
    return zeros == 0 ? 8 : static_cast<unsigned>(__builtin_ctz(zeros)) / 2;
#else
    (void)text;
    const uint64_t zeros = zeroUnits(first);
    if (zeros != 0)
        return static_cast<unsigned>(__builtin_ctzll(zeros)) / 16;
    const uint64_t later = zeroUnits(second);
    return later == 0 ? 8 : 4 + static_cast<unsigned>(__builtin_ctzll(later)) / 16;
#endif
}

// A hash of the code units, taken four at a time as one 64-bit word: whole words go
// alternately into two lanes (a multiply each, the two independent of each other), the
// last word (the units before the terminator, zeros after them) into the end; *length
// receives the count of units. Up to the end of the text's page, eight units are read at
// once; from there on the same words are put together unit by unit, so that the hash of
// a text does not depend on where it lies.
uint32_t hashUnits(const VexoChar *text, size_t *length)
{
    uint64_t even = 0x2545F4914F6CDD1Du, odd = 0x6A09E667F3BCC909u;
    size_t n = 0;
    if (kWordScan) {
        const size_t room = (4096 - (reinterpret_cast<uintptr_t>(text) & 4095)) / sizeof(VexoChar);
        for (; n + 8 <= room; n += 8) {
            uint64_t first, second;
            std::memcpy(&first, text + n, sizeof first);
            std::memcpy(&second, text + n + 4, sizeof second);
            const unsigned zero = firstZeroOfEight(text + n, first, second);
            if (zero < 8) {
                uint64_t last = first;
                if (zero >= 4) {
                    even = (even ^ first) * kHashMultiplier;
                    last = second;
                }
                const unsigned units = zero & 3;
                last &= units == 0 ? 0 : ~uint64_t{0} >> (64 - 16 * units);
                *length = n + zero;
                return finishHash(even, odd, last);
            }
            even = (even ^ first) * kHashMultiplier;
            odd = (odd ^ second) * kHashMultiplier;
        }
    }
    uint64_t word = 0;
    unsigned units = 0;
    bool toOdd = false;  // n is a multiple of eight here: the next whole word is an even one
    for (; text[n] != 0; ++n) {
        word |= uint64_t{text[n]} << (16 * units);
        if (++units == 4) {
            uint64_t &lane = toOdd ? odd : even;
            lane = (lane ^ word) * kHashMultiplier;
            toOdd = !toOdd;
            word = 0;
            units = 0;
        }
    }
    *length = n;
    return finishHash(even, odd, word);
}

// A slot's tag: 0 when it is free, else the top seven bits of its text's hash and a set
// high bit.
uint8_t tagOf(uint32_t hash) { return static_cast<uint8_t>(0x80u | hash >> 25); }

// Moves the interned copies to slot arrays of a larger capacity (a power of two).
bool growInterned(StringTable *table, uint32_t capacity)
{
    using Slot = StringTable::InternSlot;
    auto *slots = static_cast<Slot *>(std::malloc(size_t{capacity} * sizeof(Slot)));
    auto *tags = static_cast<uint8_t *>(std::calloc(capacity, 1));
    if (slots == nullptr || tags == nullptr) {
        std::free(slots);
        std::free(tags);
        return false;
    }
    for (uint32_t i = 0; i < table->internCapacity; ++i) {
        if (table->internTags[i] == 0)
            continue;
        const Slot &old = table->internSlots[i];
        uint32_t at = old.hash & (capacity - 1);
        while (tags[at] != 0)
            at = (at + 1) & (capacity - 1);
        slots[at] = old;
        tags[at] = table->internTags[i];
    }
    std::free(table->internSlots);
    std::free(table->internTags);
    table->internSlots = slots;
    table->internTags = tags;
    table->internCapacity = capacity;
    return true;
}

// The slot of a text of this hash: the one that holds it, or else the free one where it
// would go. The tags (a byte a slot) are looked at first: most texts are new, and their
// free slot is found without reading the slot array.
inline uint32_t probeInterned(const StringTable *table, const VexoChar *text, uint32_t hash)
{
    const uint32_t mask = table->internCapacity - 1;
    const uint8_t tag = tagOf(hash);
    uint32_t at = hash & mask;
    for (; table->internTags[at] != 0; at = (at + 1) & mask) {
        const StringTable::InternSlot &slot = table->internSlots[at];
        if (table->internTags[at] == tag && slot.hash == hash && compareUnits(slot.text, text) == 0)
            break;
    }
    return at;
}

// A text's interned copy, made when there is none (*added says so), and its slot; null
// when memory runs out. A new slot is only written here, not read back: its cache line
// may still be on its way.
const VexoChar *internSlot(StringTable *table, const VexoChar *text, StringTable::InternSlot **found, bool *added)
{
    if (table->internCount >= table->internCapacity / 2
        && (table->internCapacity > UINT32_MAX / 2
            || !growInterned(table, table->internCapacity == 0 ? 1024 : table->internCapacity * 2)))
        return nullptr;
    size_t length = 0;
    const uint32_t hash = hashUnits(text, &length);
    const uint32_t at = probeInterned(table, text, hash);
    if (table->internTags[at] != 0) {
        *found = &table->internSlots[at];
        *added = false;
        return table->internSlots[at].text;
    }
    // Zero-padded to whole 16-byte words, so that compareInterned reads whole words.
    const size_t bytes = (length + 1) * sizeof(VexoChar);
    const size_t padded = (bytes + kInternGrain - 1) & ~(kInternGrain - 1);
    auto *copy = static_cast<VexoChar *>(allocate(table->allocator, padded));
    if (copy == nullptr)
        return nullptr;
    std::memcpy(copy, text, bytes);
    std::memset(reinterpret_cast<unsigned char *>(copy) + bytes, 0, padded - bytes);
    table->internSlots[at] = {copy, hash, 0};
    table->internTags[at] = tagOf(hash);
    ++table->internCount;
    *found = &table->internSlots[at];
    *added = true;
    return copy;
}

}  // namespace

const VexoChar *intern(StringTable *table, const VexoChar *text)
{
    if (text == table->lastInterned && text != nullptr)
        return text;
    StringTable::InternSlot *slot = nullptr;
    bool added = false;
    const VexoChar *copy = internSlot(table, text, &slot, &added);
    return copy != nullptr ? table->lastInterned = copy : nullptr;
}

const VexoChar *internTallied(StringTable *table, const VexoChar *text, uint32_t **tally, bool *added)
{
    StringTable::InternSlot *slot = nullptr;
    const VexoChar *copy = internSlot(table, text, &slot, added);
    if (copy == nullptr)
        return nullptr;
    *tally = &slot->tally;
    return table->lastInterned = copy;
}

bool reserveInterned(StringTable *table, uint32_t count)
{
    uint32_t capacity = std::max<uint32_t>(table->internCapacity, 1024);
    while (capacity / 2 < table->internCount + count) {
        if (capacity > UINT32_MAX / 2)
            return false;
        capacity *= 2;
    }
    return capacity == table->internCapacity || growInterned(table, capacity);
}

void clearTallies(StringTable *table)
{
    for (uint32_t i = 0; i < table->internCapacity; ++i) {
        if (table->internTags[i] != 0)
            table->internSlots[i].tally = 0;
    }
}

bool agreeInterned(const VexoChar *a, const VexoChar *b, size_t units)
{
#if defined(__SSE2__)
    // Whole words first: the word that holds the end of b differs from a's, so no word
    // is read past the one where b ends.
    size_t i = 0;
    for (; i + 8 <= units; i += 8) {
        const __m128i wordA = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i));
        const __m128i wordB = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(wordA, wordB)) != 0xFFFF)
            return false;
    }
    if (i == units)
        return true;
    const __m128i wordA = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i));
    const __m128i wordB = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i));
    const unsigned wanted = (1u << ((units - i) * sizeof(VexoChar))) - 1;
    return (static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(wordA, wordB))) & wanted) == wanted;
#else
    for (size_t k = 0; k < units; ++k) {
        if (a[k] != b[k])
            return false;
    }
    return true;
#endif
}

const VexoChar *findInterned(const StringTable *table, const VexoChar *text)
{
    if (table->internCapacity == 0)
        return nullptr;
    size_t length = 0;
    const uint32_t at = probeInterned(table, text, hashUnits(text, &length));
    return table->internTags[at] != 0 ? table->internSlots[at].text : nullptr;
}

HRESULT createSlot(StringTable *table, uint32_t language, const VexoChar *interned, StringSlot **out)
{
    if (table == nullptr || table->magic != kStringsMagic || out == nullptr)
        return E_INVALIDARG;
    const int32_t index = languageIndexAdding(table, language);
    if (index < 0 || reserveOwnerless(table->allocator) != S_OK)
        return E_OUTOFMEMORY;
    auto *slot = static_cast<StringSlot *>(appendRecord(table->slotLayout, table->allocator, &table->slots));
    if (slot == nullptr)
        return E_OUTOFMEMORY;
    noteOwnerless(table->allocator, slot);
    slot->magic = kSlotMagic;
    slot->defaultIndex = -1;
    if (initList(table->alternativeLayout, table->allocator, &slot->alternatives) != S_OK)
        return E_OUTOFMEMORY;
    if (setAt(table->alternativeLayout, table->allocator, &slot->alternatives, static_cast<uint32_t>(index),
              const_cast<VexoChar *>(interned)) != S_OK)
        return E_OUTOFMEMORY;
    slot->defaultIndex = index;
    *out = slot;
    return S_OK;
}

HRESULT addAlternative(StringTable *table, StringSlot *slot, uint32_t language, const VexoChar *interned)
{
    if (table == nullptr || table->magic != kStringsMagic || slotAs(slot) == nullptr)
        return E_INVALIDARG;
    const int32_t index = languageIndexAdding(table, language);
    if (index < 0)
        return E_OUTOFMEMORY;
    return setAt(table->alternativeLayout, table->allocator, &slot->alternatives, static_cast<uint32_t>(index),
                 const_cast<VexoChar *>(interned));
}

HRESULT lookupSlot(StringTable *table, const StringSlot *slot, uint32_t language, uint32_t fallback,
                   const VexoChar **out)
{
    if (out == nullptr || table == nullptr || table->magic != kStringsMagic)
        return E_INVALIDARG;
    if (slot == nullptr) {
        *out = nullptr;
        return S_FALSE;
    }
    if (slot->magic != kSlotMagic)
        return E_UNEXPECTED;
    HRESULT hr = E_FAIL;
    int32_t index = languageIndex(table, &table->cacheA, language);
    if (index >= 0)
        hr = readEntry(slot, index, out);
    if (*out == nullptr || hr != S_OK) {
        index = languageIndex(table, &table->cacheB, fallback);
        if (index >= 0)
            hr = readEntry(slot, index, out);
    }
    if ((*out == nullptr || hr != S_OK) && slot->defaultIndex >= 0)
        hr = readEntry(slot, slot->defaultIndex, out);
    if (hr == S_OK && *out == nullptr)
        hr = S_FALSE;
    return hr;
}

HRESULT setSlotText(StringTable *table, StringSlot **field, uint32_t language, const VexoChar *text)
{
    if (field == nullptr)
        return E_INVALIDARG;
    if (text == nullptr || text[0] == 0)
        return S_OK;
    const VexoChar *interned = intern(table, text);
    if (interned == nullptr)
        return E_OUTOFMEMORY;
    if (*field == nullptr)
        return createSlot(table, language, interned, field);
    return addAlternative(table, *field, language, interned);
}

StringSlot *slotAs(const void *handle)
{
    if (handle == nullptr || firstWord(handle) != kSlotMagic)
        return nullptr;
    return static_cast<StringSlot *>(const_cast<void *>(handle));
}

}  // namespace vexo::core
