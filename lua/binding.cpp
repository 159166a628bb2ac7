// Conversions between Lua values and model values, and the argument checks every
// wrapper shares. Wrong Lua arguments raise Lua errors here; nothing else does.
#include "binding.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "node_classes.h"
#include "text.h"

namespace vexo::lua {

namespace {

const VexoChar kEmptyText[1] = {0};

const char *nameOf(uint32_t code)
{
    const char *name = core::className(code);
    return name != nullptr ? name : "?";
}

VexoNode *readHandle(const void *payload)
{
    VexoNode *handle = nullptr;
    std::memcpy(&handle, payload, sizeof handle);
    return handle;
}

}  // namespace

void pushMetatable(lua_State *L, const char *name)
{
    lua_pushlightuserdata(L, const_cast<char *>(name));
    lua_rawget(L, LUA_REGISTRYINDEX);
    if (lua_isnil(L, -1)) {  // filed by a module opener that did not file by address
        lua_pop(L, 1);
        lua_getfield(L, LUA_REGISTRYINDEX, name);
    }
}

void fileMetatable(lua_State *L, const char *name)
{
    lua_pushlightuserdata(L, const_cast<char *>(name));
    lua_pushvalue(L, -2);
    lua_rawset(L, LUA_REGISTRYINDEX);
}

bool hasMetatable(lua_State *L, int index, const char *name)
{
    if (!lua_getmetatable(L, index))
        return false;
    pushMetatable(L, name);
    const bool same = lua_rawequal(L, -1, -2) != 0;
    lua_pop(L, 2);
    return same;
}

void *checkUserdata(lua_State *L, int index, const char *name)
{
    void *payload = lua_touserdata(L, index);
    if (payload == nullptr || lua_type(L, index) != LUA_TUSERDATA || !hasMetatable(L, index, name))
        luaL_typerror(L, index, name);
    return payload;
}

VexoNode *handleAt(lua_State *L, int index)
{
    if (lua_type(L, index) != LUA_TUSERDATA)
        return nullptr;
    if (!hasMetatable(L, index, kNodeType) && !hasMetatable(L, index, kDatabaseType))
        return nullptr;
    return readHandle(lua_touserdata(L, index));
}

VexoNode *checkNode(lua_State *L, int index, uint32_t klass)
{
    const int type = lua_type(L, index);
    if (type == LUA_TNONE || type == LUA_TNIL)
        return nullptr;
    if (type != LUA_TUSERDATA && type != LUA_TLIGHTUSERDATA)
        luaL_typerror(L, index, "Q3Node");
    const void *payload = lua_touserdata(L, index);
    if (!lua_getmetatable(L, index)) {
        // A bare userdata carries a handle that cannot be checked; it has to be big
        // enough to hold one at least.
        if (payload == nullptr || (type == LUA_TUSERDATA && lua_objlen(L, index) < sizeof(VexoNode *)))
            luaL_typerror(L, index, "Q3Node");
        return readHandle(payload);
    }
    lua_pop(L, 1);
    if (!hasMetatable(L, index, kNodeType) && !hasMetatable(L, index, kDatabaseType))
        luaL_typerror(L, index, "Q3Node");
    VexoNode *handle = readHandle(payload);
    if (handle == nullptr)
        return nullptr;
    const uint32_t code = core::codeOf(handle);
    if (!core::isGenuineCode(code) || !core::derivesFrom(code, klass))
        luaL_argerror(L, index, lua_pushfstring(L, "%s expected, got %s", nameOf(klass), nameOf(code)));
    return handle;
}

VexoNode *checkEitherNode(lua_State *L, int index, uint32_t first, uint32_t second, const char *names)
{
    VexoNode *handle = checkNode(L, index, core::ObjectBase::kCode);
    if (handle == nullptr)
        return nullptr;
    const uint32_t code = core::codeOf(handle);
    if (code != first && code != second)
        luaL_typerror(L, index, names);
    return handle;
}

VexoNode *checkDatabase(lua_State *L, int index)
{
    return static_cast<DatabaseValue *>(checkUserdata(L, index, kDatabaseType))->handle;
}

VexoStringSlot *checkStringSlot(lua_State *L, int index)
{
    VexoStringSlot *slot = nullptr;
    std::memcpy(&slot, checkUserdata(L, index, kStringSlotType), sizeof slot);
    return slot;
}

const VexoChar *toWideArgument(lua_State *L, int index)
{
    size_t length = 0;
    const char *bytes = lua_tolstring(L, index, &length);
    if (bytes == nullptr)
        length = 0;
    if (length % 2 != 0)
        luaL_argerror(L, index, "invalid length of UCS-2 string");
    if (length == 0)
        return kEmptyText;
    if (bytes[length - 1] != 0 || bytes[length - 2] != 0)
        luaL_argerror(L, index, "invalid termination character in UCS-2 string");
    return reinterpret_cast<const VexoChar *>(bytes);
}

uint64_t parseUnsigned(const char *text, uint64_t max)
{
    const char *p = text;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // strtoull would accept a second sign or more blanks; the one sign is taken here.
    if (*p == '+' || *p == '-' || std::isspace(static_cast<unsigned char>(*p)))
        return 0;
    errno = 0;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(p, &end, 0);
    if (end == p)
        return 0;
    if (errno == ERANGE || value > max)
        return max;
    return negative ? (0 - static_cast<uint64_t>(value)) & max : static_cast<uint64_t>(value);
}

int64_t truncateToInt64(double value)
{
    if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0))
        return INT64_MIN;
    return static_cast<int64_t>(value);
}

uint32_t toUnsigned32(lua_State *L, int index)
{
    if (lua_isstring(L, index)) {
        // A copy, so that a number argument is not turned into a string in place.
        lua_pushvalue(L, index);
        const uint64_t value = parseUnsigned(lua_tostring(L, -1), UINT32_MAX);
        lua_pop(L, 1);
        return static_cast<uint32_t>(value);
    }
    return static_cast<uint32_t>(truncateToInt64(lua_tonumber(L, index)));
}

uint64_t toInternalValue(lua_State *L, int index)
{
    switch (lua_type(L, index)) {
    case LUA_TNUMBER:
        return static_cast<uint64_t>(truncateToInt64(lua_tonumber(L, index)));
    case LUA_TSTRING:
        return parseUnsigned(lua_tostring(L, index), UINT64_MAX);
    case LUA_TUSERDATA:
        if (hasMetatable(L, index, kUnsignedValueType) || hasMetatable(L, index, kSignedValueType)) {
            uint64_t value = 0;
            std::memcpy(&value, lua_touserdata(L, index), sizeof value);
            return value;
        }
        return 0;
    default:
        luaL_typerror(L, index, "number, string or InternalValue");
        return 0;
    }
}

uint32_t toInteger32(lua_State *L, int index)
{
    return static_cast<uint32_t>(lua_tointeger(L, index));
}

uint32_t toLanguage(lua_State *L, int index)
{
    return static_cast<uint32_t>(lua_tointeger(L, index)) & 0xFFFFu;
}

namespace {

void pushUserValue(lua_State *L, const void *bytes, size_t size, const char *type)
{
    void *payload = lua_newuserdata(L, size);
    std::memcpy(payload, bytes, size);
    pushMetatable(L, type);
    lua_setmetatable(L, -2);
}

// Gives the new value on top the environment of the value at source, when that has one
// (only userdata and functions do; a plain value leaves the default).
void shareEnvironment(lua_State *L, int source)
{
    lua_getfenv(L, source);
    if (lua_istable(L, -1))
        lua_setfenv(L, -2);
    else
        lua_pop(L, 1);
}

}  // namespace

void pushNode(lua_State *L, const void *handle, int source)
{
    if (handle == nullptr) {
        lua_pushnil(L);
        return;
    }
    pushUserValue(L, &handle, sizeof handle, kNodeType);
    shareEnvironment(L, source);
}

void pushDatabase(lua_State *L, VexoNode *database, bool owned)
{
    auto *value = static_cast<DatabaseValue *>(lua_newuserdata(L, sizeof(DatabaseValue)));
    value->handle = database;
    value->owned = owned ? 1 : 0;
    pushMetatable(L, kDatabaseType);
    lua_setmetatable(L, -2);
    lua_createtable(L, 1, 0);
    lua_pushvalue(L, -2);
    lua_rawseti(L, -2, 1);
    lua_setfenv(L, -2);
}

void pushWideString(lua_State *L, const VexoChar *text)
{
    if (text == nullptr) {
        lua_pushnil(L);
        return;
    }
    lua_pushlstring(L, reinterpret_cast<const char *>(text), core::unitLength(text) * sizeof(VexoChar));
}

void pushWideStringZ(lua_State *L, const VexoChar *text)
{
    if (text == nullptr)
        text = kEmptyText;
    lua_pushlstring(L, reinterpret_cast<const char *>(text), (core::unitLength(text) + 1) * sizeof(VexoChar));
}

void pushStringSlot(lua_State *L, const VexoStringSlot *slot, int source)
{
    pushUserValue(L, &slot, sizeof slot, kStringSlotType);
    shareEnvironment(L, source);
}

void pushUnsignedValue(lua_State *L, uint64_t value)
{
    pushUserValue(L, &value, sizeof value, kUnsignedValueType);
}

void pushSignedValue(lua_State *L, int64_t value)
{
    pushUserValue(L, &value, sizeof value, kSignedValueType);
}

}  // namespace vexo::lua
