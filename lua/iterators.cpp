// Iterators over the model's lists. The enumerator lives in a Lua userdata without
// metatable, the closure's first upvalue, so a loop abandoned half way leaks nothing and
// no destroy call is ever needed; the second upvalue is the value the list belongs to
// (a database or node value), so the list's database lives as long as the loop.
#include "iterators.h"

#include <cstring>

#include "binding.h"

namespace vexo::lua {

namespace {

int iterateEntries(lua_State *L)
{
    auto *storage = static_cast<VexoEnumerator *>(lua_touserdata(L, lua_upvalueindex(1)));
    VexoNode *entry = nullptr;
    if (Vexo_enumeratorNext(storage, 1, &entry, nullptr) != S_OK)
        return 0;
    pushNode(L, entry, lua_upvalueindex(2));
    return 1;
}

EnumeratorStorage *newStorage(lua_State *L, uint32_t magic)
{
    auto *storage = static_cast<EnumeratorStorage *>(lua_newuserdata(L, sizeof(EnumeratorStorage)));
    std::memset(storage, 0, sizeof *storage);
    storage->magic = magic;
    return storage;
}

}  // namespace

HRESULT pushEnumeration(lua_State *L, EnumerateFunction enumerate, VexoNode *owner)
{
    EnumeratorStorage *storage = newStorage(L, kNodeEnumeratorMagic);
    auto *handle = reinterpret_cast<VexoEnumerator *>(storage);
    const HRESULT result = enumerate(owner, &handle);
    lua_pushvalue(L, 1);
    lua_pushcclosure(L, iterateEntries, 2);
    return result;
}

void pushNodeListIterator(lua_State *L, const core::NodeList &list, const core::ChunkLayout &layout)
{
    EnumeratorStorage *storage = newStorage(L, kNodeEnumeratorMagic);
    core::cursorInit(&storage->cursor, &layout, &list);
    lua_pushvalue(L, 1);
    lua_pushcclosure(L, iterateEntries, 2);
}

void pushRecordListIterator(lua_State *L, const core::RecordList &list, const core::ChunkLayout &layout)
{
    EnumeratorStorage *storage = newStorage(L, kRecordEnumeratorMagic);
    core::cursorInit(&storage->cursor, &layout, &list);
    lua_pushvalue(L, 1);
    lua_pushcclosure(L, iterateEntries, 2);
}

}  // namespace vexo::lua
