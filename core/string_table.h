// A database's string table: interned UTF-16 strings (one copy per content, compared by
// pointer) and string slots holding one text per language. Everything it stores lives in
// the database's allocator; only the table object itself comes from the heap.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "allocator.h"
#include "node_list.h"
#include "vexo/types.h"

namespace vexo::core {

constexpr uint32_t kStringsMagic = 0x53525453;  // "STRS"
constexpr uint32_t kSlotMagic = 0x544F4C53;     // "SLOT"
constexpr size_t kInternGrain = 16;             // interned copies are zero-padded to whole 16-byte words

// One text per language index; entry i of alternatives is the text for index i.
struct StringSlot {
    uint32_t magic;
    int32_t defaultIndex;  // language the slot was created with
    NodeList alternatives;
};

struct LanguageCache {
    uint16_t language;
    int32_t index;  // -1: empty
};

struct StringTable {
    uint32_t magic;
    Allocator *allocator;
    // Interned strings in an open-addressing hash set (linear probing, power-of-two
    // capacity, at most half full); the slot and tag arrays come from the heap and go
    // with the table, the strings themselves live in the allocator.
    struct InternSlot {
        const VexoChar *text;
        uint32_t hash;
        uint32_t tally;  // see internTallied
    } *internSlots;      // valid where the tag is set
    uint8_t *internTags;  // by slot: 0 free, else seven bits of the hash and a set high bit
    uint32_t internCapacity;
    uint32_t internCount;
    const VexoChar *lastInterned;  // the copy the last intern gave: given again at once
    ChunkLayout alternativeLayout;
    ChunkLayout languageLayout;
    RecordList languages;  // 32-bit records, language identifier zero-extended
    ChunkLayout slotLayout;
    RecordList slots;
    LanguageCache cacheA;  // requested language, and every language added
    LanguageCache cacheB;  // fallback language
};

// Ordinal comparison of UTF-16 code units; a prefix orders first.
int compareUnits(const VexoChar *a, const VexoChar *b);

HRESULT createStringTable(Allocator *allocator, StringTable **out);
HRESULT destroyStringTable(StringTable *table);

// The interned copy of a text, or null when memory runs out. Interned copies are
// zero-padded to whole 16-byte words.
const VexoChar *intern(StringTable *table, const VexoChar *text);

// intern for one who counts the texts it meets (a builder numbering repeated ids): also
// gives the copy's tally, which only this call and clearTallies change, for the caller to
// read and write until its next call on the table, and whether the copy is new (its tally
// then 0: better written without being read, while its memory may still be on its way).
const VexoChar *internTallied(StringTable *table, const VexoChar *text, uint32_t **tally, bool *added);
// Makes room for count more copies at once, so that the slots are not moved several
// times over as they come; false when memory runs out (nothing changes).
bool reserveInterned(StringTable *table, uint32_t count);
// Sets every tally to zero: a counter starts afresh.
void clearTallies(StringTable *table);

// The interned copy of a text if there is one, else null (nothing is added).
const VexoChar *findInterned(const StringTable *table, const VexoChar *text);


// compareInterned for two interned strings that agree on their first `from` units (none
// of them the terminator), read from there on; *common receives the count of units they
// agree on (those before the first unit that differs or ends a). Inline: sorts and
// searches of ids call it in their innermost loops.
inline int compareInternedFrom(const VexoChar *a, const VexoChar *b, size_t from, size_t *common)
{
#if defined(__SSE2__)
    // Eight units at a time from the word that holds unit `from` (both strings reach
    // past it, padded to whole words): stop at the first unit that differs or ends a.
    constexpr size_t kWord = kInternGrain / sizeof(VexoChar);
    for (size_t i = from & ~(kWord - 1);; i += kWord) {
        const __m128i wordA = _mm_loadu_si128(reinterpret_cast<const __m128i *>(a + i));
        const __m128i wordB = _mm_loadu_si128(reinterpret_cast<const __m128i *>(b + i));
        const unsigned differs = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(wordA, wordB))) & 0xFFFFu;
        const unsigned ends = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(wordA, _mm_setzero_si128())));
        if ((differs | ends) != 0) {
            const size_t k = i + static_cast<size_t>(__builtin_ctz(differs | ends)) / sizeof(VexoChar);
            *common = k;
            return a[k] == b[k] ? 0 : (a[k] < b[k] ? -1 : 1);
        }
    }
#else
    for (size_t k = from;; ++k) {
        if (a[k] != b[k] || a[k] == 0) {
            *common = k;
            return a[k] == b[k] ? 0 : (a[k] < b[k] ? -1 : 1);
        }
    }
#endif
}

// compareUnits for two interned strings, eight units at a time.
inline int compareInterned(const VexoChar *a, const VexoChar *b)
{
    size_t common = 0;
    return a == b ? 0 : compareInternedFrom(a, b, 0, &common);
}

// Whether two interned strings agree on their first `units` units, none of which is a's
// terminator (b may end sooner).
bool agreeInterned(const VexoChar *a, const VexoChar *b, size_t units);

// Creates a slot with one (already interned) text.
HRESULT createSlot(StringTable *table, uint32_t language, const VexoChar *interned, StringSlot **out);

// Sets the (already interned) text of a slot for a language.
HRESULT addAlternative(StringTable *table, StringSlot *slot, uint32_t language, const VexoChar *interned);

// Looks a text up by language, fallback language and creation language.
HRESULT lookupSlot(StringTable *table, const StringSlot *slot, uint32_t language, uint32_t fallback,
                   const VexoChar **out);

// Sets the text of a slot field of a node for one language, creating the slot on first
// use. A null or empty text changes nothing.
HRESULT setSlotText(StringTable *table, StringSlot **field, uint32_t language, const VexoChar *text);

// The slot behind a handle, or null when the handle is null or has no "SLOT" magic.
StringSlot *slotAs(const void *handle);

}  // namespace vexo::core
