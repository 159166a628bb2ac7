// Iterators over the model's lists. The enumerator lives in a Lua userdata without
// metatable that is the closure's only upvalue, so a loop abandoned half way leaks
// nothing and no destroy call is ever needed.
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
    pushNode(L, entry);
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
    lua_pushcclosure(L, iterateEntries, 1);
    return result;
}

void pushNodeListIterator(lua_State *L, const core::NodeList &list, const core::ChunkLayout &layout)
{
    EnumeratorStorage *storage = newStorage(L, kNodeEnumeratorMagic);
    core::cursorInit(&storage->cursor, &layout, &list);
    lua_pushcclosure(L, iterateEntries, 1);
}

void pushRecordListIterator(lua_State *L, const core::RecordList &list, const core::ChunkLayout &layout)
{
    EnumeratorStorage *storage = newStorage(L, kRecordEnumeratorMagic);
    core::cursorInit(&storage->cursor, &layout, &list);
    lua_pushcclosure(L, iterateEntries, 1);
}

}  // namespace vexo::lua
