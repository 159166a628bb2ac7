// The result shapes of the wrappers and the add loop: a failed operation comes back
// as a value (or as no value), never as a Lua error.
#include "methods.h"

#include "binding.h"
#include "node_classes.h"

namespace vexo::lua {

int pushMade(lua_State *L, const VexoNode *made)
{
    pushNode(L, made);
    return 1;
}

int pushLookup(lua_State *L, HRESULT result, const VexoNode *found)
{
    if (result != S_OK)
        return 0;
    pushNode(L, found);
    return 1;
}

int pushText(lua_State *L, HRESULT result, const VexoChar *text)
{
    if (result != S_OK)
        return 0;
    if (text == nullptr)
        lua_pushliteral(L, "");
    else
        pushWideString(L, text);
    return 1;
}

int pushEcho(lua_State *L, HRESULT result, const VexoChar *argument)
{
    if (result != S_OK)
        return 0;
    pushWideString(L, argument);
    return 1;
}

int pushResult(lua_State *L, HRESULT result)
{
    pushCode(L, result);
    return 1;
}

int pushFailure(lua_State *L, HRESULT result)
{
    lua_pushnil(L);
    pushCode(L, result);
    return 2;
}

int addLoop(lua_State *L, VexoNode *owner, int start, uint32_t klass, AddFunction add, bool continuing)
{
    HRESULT result = S_OK;
    const int top = lua_gettop(L);
    for (int index = start; index <= top; ++index) {
        VexoNode *node = checkNode(L, index, klass);
        result = add(owner, 1, &node);
        if (result != S_OK && !continuing)
            break;
    }
    return pushResult(L, result);
}

VexoNode *checkDatabaseOrCollections(lua_State *L, int index)
{
    return checkEitherNode(L, index, core::Vexo::kCode, core::DatabaseCollections::kCode,
                           "Vexo or DatabaseCollections");
}

}  // namespace vexo::lua
