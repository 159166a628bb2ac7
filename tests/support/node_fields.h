// The node classes' fields as a table, for tests that check layouts and visit every list of a node: the class that
// declares each field, its name, what kind of value it holds (told from its type) and its offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "node_classes.h"

namespace vexo::core {

enum class FieldKind : uint8_t { U32, U64, F64, Link, Text, Slot, Nodes, Records, Handle };

template <class T>
constexpr FieldKind fieldKindOf()
{
    if constexpr (std::is_same_v<T, uint32_t>)
        return FieldKind::U32;
    else if constexpr (std::is_same_v<T, uint64_t>)
        return FieldKind::U64;
    else if constexpr (std::is_same_v<T, double>)
        return FieldKind::F64;
    else if constexpr (std::is_same_v<T, NodeList>)
        return FieldKind::Nodes;
    else if constexpr (std::is_same_v<T, RecordList>)
        return FieldKind::Records;
    else if constexpr (std::is_same_v<T, const VexoChar *>)
        return FieldKind::Text;
    else if constexpr (std::is_same_v<T, StringSlot *>)
        return FieldKind::Slot;
    else if constexpr (std::is_same_v<T, Allocator *> || std::is_same_v<T, StringTable *> ||
                       std::is_same_v<T, DerivedBlock *>)
        return FieldKind::Handle;
    else {
        static_assert(std::is_pointer_v<T>, "a field of a kind the table does not know");
        return FieldKind::Link;  // a pointer to a node
    }
}

struct FieldInfo {
    uint32_t classCode;  // the class that declares the field
    const char *name;
    FieldKind kind;
    uint32_t offset;  // bytes from the start of the node
};

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
inline const FieldInfo kFieldTable[] = {
#define VEXO_CLASS(Name, Parent, index, end, tag, kind)
#define VEXO_FIELD(Class, Type, name) \
    {Class::kCode, #name, fieldKindOf<Type>(), static_cast<uint32_t>(offsetof(Class, name))},
#define VEXO_END(Name)
#include "node_classes.def"
#undef VEXO_CLASS
#undef VEXO_FIELD
#undef VEXO_END
};
#pragma GCC diagnostic pop

inline constexpr uint32_t kFieldCount = sizeof kFieldTable / sizeof kFieldTable[0];

}  // namespace vexo::core
