// Node classes: plain records whose first 32-bit word is their class code. The code
// holds the class's pre-order index, the last index of its subtree and a two-letter
// tag, so "is a kind of" is two byte comparisons; there are no virtual functions.
// The structs, codes, names and field tables all come from node_classes.def.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "allocator.h"
#include "node_list.h"
#include "vexo/types.h"

namespace vexo::core {

struct StringTable;
struct StringSlot;
struct DerivedBlock;
struct IdBatch;

constexpr uint32_t classCode(uint32_t index, uint32_t subtreeEnd, uint32_t tag)
{
    return (index << 24) | (subtreeEnd << 16) | tag;
}
constexpr uint32_t classIndex(uint32_t code) { return code >> 24; }
constexpr uint32_t subtreeEnd(uint32_t code) { return (code >> 16) & 0xFF; }
constexpr uint32_t classTag(uint32_t code) { return code & 0xFFFF; }

constexpr uint32_t kClassCount = 37;

// A node of class `code` is a kind of class `klass`.
constexpr bool derivesFrom(uint32_t code, uint32_t klass)
{
    return classIndex(code) >= classIndex(klass) && subtreeEnd(code) <= subtreeEnd(klass);
}

enum class ClassKind : uint8_t { Abstract, Created, Database, Record };

struct NodeRoot {};

#define VEXO_CLASS(Name, Parent, index, end, tag, kind) struct Name;
#define VEXO_FIELD(Class, Type, name)
#define VEXO_END(Name)
#include "node_classes.def"
#undef VEXO_CLASS
#undef VEXO_FIELD
#undef VEXO_END

#define VEXO_CLASS(Name, Parent, index, end, tag, kind)                 \
    struct Name : Parent {                                              \
        static constexpr uint32_t kCode = classCode(index, end, tag);   \
        static constexpr ClassKind kKind = ClassKind::kind;
#define VEXO_FIELD(Class, Type, name) Type name;
#define VEXO_END(Name) };
#include "node_classes.def"
#undef VEXO_CLASS
#undef VEXO_FIELD
#undef VEXO_END

static_assert(sizeof(Segment) == 16, "segment records keep their 16-byte size");
static_assert(sizeof(ValueRange) == 32, "value range records keep their 32-byte size");
static_assert(offsetof(ObjectBase, nodetype) == 0, "the class code is a node's first word");

// How deep multiplexed parts may nest below the PDU a frame places (a part whose PDU is
// multiplexed again is one level deeper): the decoder's level stack holds that PDU and
// this many parts, and the encoder's walks and image levels reach at least as deep, so
// every signal the decoder reads can be encoded.
inline constexpr uint32_t kMaxPartNesting = 63;

// Record lists of the model: segments of multiplexed parts and value ranges.
inline constexpr ChunkLayout kSegmentLayout = recordListLayout(16, 3, sizeof(Segment));
inline constexpr ChunkLayout kRangeLayout = recordListLayout(32, 3, sizeof(ValueRange));

struct ClassInfo {
    uint32_t code;              // 0 for an unused index
    const char *name;           // null where the class has no published name
    const VexoChar *wideName;
    uint32_t size;              // bytes of a node of this class
    ClassKind kind;
};

// Indexed by class index; entry 0 and entries above kClassCount are empty.
extern const ClassInfo kClassTable[256];

inline uint32_t codeOf(const void *node) { return firstWord(node); }

// True when the word is the code of one of the 37 classes, exactly.
inline bool isGenuineCode(uint32_t code) { return kClassTable[classIndex(code)].code == code && code != 0; }

// Handle of a node as the C interface passes it.
inline VexoNode *handleOf(const void *node) { return static_cast<VexoNode *>(const_cast<void *>(node)); }

// The node viewed as class T, or null when it is null, foreign or of another class.
// Field access goes only through this test, so forged words never reach a field.
template <class T>
T *nodeAs(const void *node)
{
    if (node == nullptr)
        return nullptr;
    const uint32_t code = codeOf(node);
    if (!isGenuineCode(code) || !derivesFrom(code, T::kCode))
        return nullptr;
    return static_cast<T *>(const_cast<void *>(node));
}

// The node when its class is exactly T.
template <class T>
T *nodeExactly(const void *node)
{
    if (node == nullptr || codeOf(node) != T::kCode)
        return nullptr;
    return static_cast<T *>(const_cast<void *>(node));
}

// Class code of a two-letter tag (tag 0 is ObjectBase); 0 for an unknown tag.
uint32_t codeOfTag(uint32_t tag);

const char *className(uint32_t code);
const VexoChar *classNameWide(uint32_t code);

// The database that owns a node, or null for timings, records and foreign memory.
Vexo *databaseOf(const void *node);

// The one ownership test behind every refusal of a link between databases: true when
// the item is a node of the database (by its database field), or a timing, a record or a
// string slot that the database made (by its allocator's list of such items). False for
// null, for items of other databases and for memory no database made.
bool ownedBy(const void *item, const Vexo *database);

// Allocates a zero-filled node of a concrete class from a database's allocator,
// with its class code and (for database residents) its database set.
ObjectBase *allocateNode(Vexo *database, uint32_t code);

template <class T>
T *allocateNode(Vexo *database)
{
    return static_cast<T *>(allocateNode(database, T::kCode));
}

}  // namespace vexo::core
