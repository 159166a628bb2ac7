// Encoder values: createEncoder (a database method) and the methods that drive an
// encoder from Lua. Failures come back as result codes; only wrong Lua arguments raise.
#include <cstring>

#include "binding.h"
#include "methods.h"
#include "node_classes.h"
#include "vexo/encode.h"

namespace vexo::lua {

using namespace core;

namespace {

VexoEncoder **checkEncoderSlot(lua_State *L)
{
    return static_cast<VexoEncoder **>(checkUserdata(L, 1, kEncoderType));
}

VexoEncoder *checkEncoder(lua_State *L)
{
    return *checkEncoderSlot(L);
}

int enc_registerApp(lua_State *L)
{
    VexoEncoder *encoder = checkEncoder(L);
    uint32_t application = 0;
    const HRESULT result = Vexo_EncoderRegister(encoder, &application);
    lua_pushinteger(L, result == S_OK ? static_cast<lua_Integer>(application) : 0);
    pushCode(L, result);
    return 2;
}

int enc_deregisterApp(lua_State *L)
{
    VexoEncoder *encoder = checkEncoder(L);
    const uint32_t application = toUnsigned32(L, 2);
    return pushResult(L, Vexo_EncoderDeregister(encoder, application));
}

int enc_getSendMode(lua_State *L)
{
    VexoEncoder *encoder = checkEncoder(L);
    const uint32_t application = toUnsigned32(L, 2);
    uint32_t mode = 0;
    const HRESULT result = Vexo_EncoderGetSendMode(encoder, application, &mode);
    lua_pushinteger(L, result == S_OK ? static_cast<lua_Integer>(mode) : 0);
    pushCode(L, result);
    return 2;
}

int enc_setSendMode(lua_State *L)
{
    VexoEncoder *encoder = checkEncoder(L);
    const uint32_t application = toUnsigned32(L, 2);
    const uint32_t mode = toUnsigned32(L, 3);
    return pushResult(L, Vexo_EncoderSetSendMode(encoder, application, mode));
}

int enc_isSignalCyclic(lua_State *L)
{
    VexoEncoder *encoder = checkEncoder(L);
    VexoNode *signal = checkNode(L, 2, ElementId::kCode);
    return pushResult(L, Vexo_EncoderIsSignalCyclic(encoder, signal));
}

int enc_insertNode(lua_State *L)
{
    VexoEncoder *encoder = checkEncoder(L);
    const uint32_t application = toUnsigned32(L, 2);
    VexoNode *node = checkNode(L, 3, ElementId::kCode);
    return pushResult(L, Vexo_EncoderInsert(encoder, application, node));
}

int enc_deleteNode(lua_State *L)
{
    VexoEncoder *encoder = checkEncoder(L);
    const uint32_t application = toUnsigned32(L, 2);
    VexoNode *node = checkNode(L, 3, ElementId::kCode);
    return pushResult(L, Vexo_EncoderDelete(encoder, application, node));
}

int enc_changeSignal(lua_State *L)
{
    VexoEncoder *encoder = checkEncoder(L);
    const uint32_t application = toUnsigned32(L, 2);
    VexoNode *signal = checkNode(L, 3, Signal::kCode);
    const uint64_t value = toInternalValue(L, 4);
    return pushResult(L, Vexo_EncoderChangeSignal(encoder, application, signal, value));
}

int enc_trigger(lua_State *L)
{
    VexoEncoder *encoder = checkEncoder(L);
    const uint64_t now = toInternalValue(L, 2);
    return pushResult(L, Vexo_EncoderTrigger(encoder, static_cast<uint32_t>(now), static_cast<uint32_t>(now >> 32)));
}

int enc_getNextFrame(lua_State *L)
{
    VexoEncoder *encoder = checkEncoder(L);
    VexoChangedFrame changed;
    std::memset(&changed, 0, sizeof changed);
    const HRESULT result = Vexo_EncoderGetChangedFrame(encoder, &changed);
    if (result != S_OK)
        return pushFailure(L, result);
    lua_newtable(L);
    lua_pushlstring(L, reinterpret_cast<const char *>(changed.data), changed.data != nullptr ? changed.length : 0);
    lua_setfield(L, -2, "data");
    pushNode(L, changed.frame);
    lua_setfield(L, -2, "frame");
    return 1;
}

int enc_gc(lua_State *L)
{
    VexoEncoder **slot = checkEncoderSlot(L);
    if (*slot != nullptr) {
        Vexo_DestroyEncoder(*slot);
        *slot = nullptr;
    }
    return 0;
}

}  // namespace

int db_createEncoder(lua_State *L)
{
    VexoNode *database = checkDatabase(L, 1);
    VexoNode *node = checkNode(L, 2, ElementId::kCode);
    VexoEncoder *encoder = nullptr;
    const HRESULT result = Vexo_CreateEncoder(database, node, &encoder);
    if (result != S_OK) {
        Vexo_DestroyEncoder(encoder);
        return pushFailure(L, result);
    }
    auto **slot = static_cast<VexoEncoder **>(lua_newuserdata(L, sizeof(VexoEncoder *)));
    *slot = encoder;
    pushMetatable(L, kEncoderType);
    lua_setmetatable(L, -2);
    // The encoder reads the database's nodes until it is destroyed; its environment
    // holds the database value so that the database cannot be collected first.
    lua_createtable(L, 1, 0);
    lua_pushvalue(L, 1);
    lua_rawseti(L, -2, 1);
    lua_setfenv(L, -2);
    return 1;
}

const luaL_Reg kEncoderMethods[] = {
    {"registerApp", enc_registerApp},
    {"deregisterApp", enc_deregisterApp},
    {"getSendMode", enc_getSendMode},
    {"setSendMode", enc_setSendMode},
    {"isSignalCyclic", enc_isSignalCyclic},
    {"insertNode", enc_insertNode},
    {"deleteNode", enc_deleteNode},
    {"changeSignal", enc_changeSignal},
    {"trigger", enc_trigger},
    {"getNextFrame", enc_getNextFrame},
    {"__gc", enc_gc},
    {nullptr, nullptr},
};

}  // namespace vexo::lua
