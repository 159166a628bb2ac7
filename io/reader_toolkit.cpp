// The error funnel and the name slots of the readers' toolkit.
#include "reader_toolkit.h"

#include <cstdlib>

namespace vexo::io {

void raiseError(lua_State *L)
{
    lua_error(L);
    std::abort();  // lua_error does not return
}

void raiseNoMemory(void *context)
{
    auto *L = static_cast<lua_State *>(context);
    lua_pushliteral(L, "not enough memory");
    raiseError(L);
}

void raiseReadError(lua_State *L, const char *prefix)
{
    lua_pushfstring(L, "%s: the file could not be read to its end", prefix);
    raiseError(L);
}

void raiseSyntaxError(lua_State *L, const LexInput *input, const char *prefix, uint32_t line, uint32_t column,
                      const char *expected, const char *found)
{
    if (input->readError)
        raiseReadError(L, prefix);
    lua_pushfstring(L, "%s: (%d, %d): '%s' expected but found '%s'", prefix, static_cast<int>(line),
                    static_cast<int>(column), expected, found);
    raiseError(L);
}

void pushNames(lua_State *L, const NameList &names, bool tolerant, int extra)
{
    if (!lua_checkstack(L, names.count + extra))
        raiseNoMemory(L);
    for (int name = 1; name < names.count; ++name) {
        if (names.texts[name] != nullptr)
            lua_pushstring(L, names.texts[name]);
        else if (tolerant)
            lua_newtable(L);
        else
            lua_pushnil(L);
    }
}

}  // namespace vexo::io
