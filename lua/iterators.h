// Iterator closures for generic for loops: over the model's lists (through an enumerator
// kept inside a Lua userdata, so Lua's collector releases it) and over decoded frames.
#pragma once

#include <cstdint>

#include <lua.hpp>

#include "node_list.h"
#include "vexo/enumerate.h"

namespace vexo::lua {

// An enumerator as the model keeps one: its magic word, then its cursor. Storage of
// this shape that already carries a magic word is re-aimed in place by the enumeration
// functions, which then allocate nothing.
struct EnumeratorStorage {
    uint32_t magic;
    core::ListCursor cursor;
};

inline constexpr uint32_t kNodeEnumeratorMagic = 0x696C5065;    // "ePli"
inline constexpr uint32_t kRecordEnumeratorMagic = 0x73694C65;  // "eLis"

using EnumerateFunction = HRESULT (*)(VexoNode *owner, VexoEnumerator **enumerator);

// Aims a fresh enumerator in Lua-owned storage with enumerate and pushes the iterator
// closure over it. Returns the enumeration function's result; storage that it did not
// aim yields nothing. The value at stack index 1 (the database or node value owner came
// from) is kept by the closure and shared by the nodes it yields.
HRESULT pushEnumeration(lua_State *L, EnumerateFunction enumerate, VexoNode *owner);

// Pushes an iterator closure over a node list or a record list of the node whose value
// is at stack index 1 (kept as for pushEnumeration).
void pushNodeListIterator(lua_State *L, const core::NodeList &list, const core::ChunkLayout &layout);
void pushRecordListIterator(lua_State *L, const core::RecordList &list, const core::ChunkLayout &layout);

}  // namespace vexo::lua
