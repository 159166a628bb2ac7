// Decoding and value conversion from Lua: the decodeMessage iterator, which walks a
// received frame signal by signal, internalToPhysical and checkValueInMinMax.
#include <cstring>

#include "binding.h"
#include "methods.h"
#include "node_classes.h"
#include "vexo/constants.h"
#include "vexo/convert.h"
#include "vexo/decode.h"

namespace vexo::lua {

using namespace core;

namespace {

constexpr uint32_t kTextCapacity = 2048;

// Upvalue 1: the decode state (a Lua-owned block); upvalue 2: the frame bytes, kept
// alive because the state points into them; upvalue 3: the channel value, which keeps
// the channel's database alive while the state walks its lists.
int iterateDecodedSignals(lua_State *L)
{
    auto *state = static_cast<VexoDecodeState *>(lua_touserdata(L, lua_upvalueindex(1)));
    char text[kTextCapacity];
    VexoDecodedSignal record;
    HRESULT result;
    for (;;) {
        std::memset(&record, 0, sizeof record);
        record.textCapacity = kTextCapacity;
        record.text = text;
        result = Vexo_decodeNextSignal(state, nullptr, &record);
        if (result >= 0)
            break;
        // Only the end of a frame moves on to the next triggering; any other failure
        // would come back on every call, so it ends the walk instead of looping.
        if (result != VEXO_E_NOMOREITEMS)
            return pushFailure(L, result);
        result = Vexo_decodeNextFrametriggering(state, nullptr);
        if (result < 0) {
            lua_pushnil(L);
            lua_pushnumber(L, result);
            return 2;
        }
    }
    const int channel = lua_upvalueindex(3);
    pushNode(L, record.signal, channel);
    lua_pushnumber(L, result);
    if (result == Q3_ASCIISIGNAL)
        lua_pushlstring(L, text, record.textLength < kTextCapacity ? record.textLength : kTextCapacity);
    else
        pushUnsignedValue(L, record.rawValue);
    pushNode(L, record.frameTriggering, channel);
    pushNode(L, record.signalInstance, channel);
    return 5;
}

}  // namespace

int node_decodeMessage(lua_State *L)
{
    VexoNode *channel = checkNode(L, 1, Channel::kCode);
    const uint32_t identifier = toInteger32(L, 2);
    const uint32_t flags = toInteger32(L, 3);
    lua_settop(L, 4);
    size_t length = 0;
    const char *bytes = lua_tolstring(L, 4, &length);
    if (bytes == nullptr) {
        lua_pushliteral(L, "");
        lua_replace(L, 4);
        bytes = lua_tolstring(L, 4, &length);
    }
    void *block = lua_newuserdata(L, Vexo_getDecodeStateSize());
    std::memset(block, 0, Vexo_getDecodeStateSize());
    auto *state = static_cast<VexoDecodeState *>(block);
    const HRESULT result = Vexo_decodeMessage(channel, identifier, flags, static_cast<uint32_t>(length),
                                              reinterpret_cast<const uint8_t *>(bytes), &state);
    if (result == S_OK)
        Vexo_decodeNextFrametriggering(state, nullptr);
    lua_pushvalue(L, 4);
    lua_pushvalue(L, 1);
    lua_pushcclosure(L, iterateDecodedSignals, 3);
    return 1;
}

int node_internalToPhysical(lua_State *L)
{
    VexoNode *signal = checkNode(L, 1, Signal::kCode);
    const uint64_t internal = toInternalValue(L, 2);
    SignalValue value;
    std::memset(&value, 0, sizeof value);
    const HRESULT result = Vexo_internalToPhysical(signal, internal, &value);
    switch (value.valueType) {
    case Q3_VALUETYPE_DOUBLE:
        lua_pushnumber(L, value.value.f64);
        break;
    case Q3_VALUETYPE_UINT64:
        pushUnsignedValue(L, value.value.u64);
        break;
    case Q3_VALUETYPE_INT64:
        pushSignedValue(L, value.value.i64);
        break;
    default:
        return luaL_error(L, "internal error: unknown valuetype: %d", static_cast<int>(value.valueType));
    }
    if (value.text != nullptr)
        pushStringSlot(L, value.text);
    else
        lua_pushnil(L);
    pushCode(L, result);
    return 3;
}

int node_checkValueInMinMax(lua_State *L)
{
    VexoNode *signal = checkNode(L, 1, Signal::kCode);
    SignalValue value;
    std::memset(&value, 0, sizeof value);
    value.valueType = Q3_VALUETYPE_DOUBLE;
    value.value.f64 = luaL_checknumber(L, 2);
    lua_pushinteger(L, Vexo_checkValueInMinMax(signal, &value));
    return 1;
}

}  // namespace vexo::lua
