// The Lua module "Vexo": its metatables, module functions and published constants.
// Everything lives in the Lua state (registry and module table); the binding keeps no
// state of its own, so any number of states may open the module.
#include "vexo/lua_module.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "binding.h"
#include "vexo/constants.h"
#include "vexo/io.h"

namespace vexo::lua {

namespace {

int value_toStringUnsigned(lua_State *L)
{
    uint64_t value = 0;
    std::memcpy(&value, checkUserdata(L, 1, kUnsignedValueType), sizeof value);
    char text[24];
    std::snprintf(text, sizeof text, "%" PRIu64, value);
    lua_pushstring(L, text);
    return 1;
}

int value_toStringSigned(lua_State *L)
{
    int64_t value = 0;
    std::memcpy(&value, checkUserdata(L, 1, kSignedValueType), sizeof value);
    char text[24];
    std::snprintf(text, sizeof text, "%" PRId64, value);
    lua_pushstring(L, text);
    return 1;
}

int module_version(lua_State *L)
{
    lua_pushstring(L, "Vexo version 1.0");
    return 1;
}

int module_createDb(lua_State *L)
{
    const VexoChar *id = lua_isstring(L, 1) ? toWideArgument(L, 1) : nullptr;
    VexoNode *database = nullptr;
    const HRESULT result = Vexo_create(id, &database);
    if (result != S_OK) {
        lua_pushnil(L);
        pushCode(L, result);
        return 2;
    }
    pushDatabase(L, database, true);
    return 1;
}

// The reading flags of the optional options table of importDBC and importLDF: absent
// or nil for none; a table whose only known key is tolerant (any true value sets it).
// Other keys and other values are argument errors, so that a misspelt option is not
// silently read strictly.
uint32_t toReadFlags(lua_State *L, int index)
{
    if (lua_isnoneornil(L, index))
        return 0;
    luaL_checktype(L, index, LUA_TTABLE);
    uint32_t flags = 0;
    lua_pushnil(L);
    while (lua_next(L, index) != 0) {
        if (lua_type(L, -2) != LUA_TSTRING)
            luaL_argerror(L, index, "options are named, as in {tolerant = true}");
        const char *key = lua_tostring(L, -2);
        if (std::strcmp(key, "tolerant") != 0)
            luaL_argerror(L, index, lua_pushfstring(L, "unknown option '%s'", key));
        if (lua_toboolean(L, -1))
            flags |= VEXO_IMPORT_TOLERANT;
        lua_pop(L, 1);
    }
    return flags;
}

int module_importDBC(lua_State *L)
{
    const VexoChar *path = toWideArgument(L, 1);
    return Vexo_importRawDBCEx(L, path, toReadFlags(L, 2));
}

int module_importLDF(lua_State *L)
{
    const VexoChar *path = toWideArgument(L, 1);
    return Vexo_importRawLDFEx(L, path, toReadFlags(L, 2));
}

int module_XSLtransform(lua_State *L)
{
    const VexoChar *styleSheet = toWideArgument(L, 1);
    const VexoChar *document = toWideArgument(L, 2);
    return Vexo_xslTransform(L, styleSheet, document);
}

const luaL_Reg kModuleFunctions[] = {
    {"version", module_version},
    {"createDb", module_createDb},
    {"importDBC", module_importDBC},
    {"importLDF", module_importLDF},
    {"XSLtransform", module_XSLtransform},
    {"attribs", module_attribs},
    {nullptr, nullptr},
};

struct NumericConstant {
    const char *name;
    uint32_t value;
};

#define VEXO_CONSTANT(name) {#name, static_cast<uint32_t>(name)}

// ORDER NODE_CLASS
const NumericConstant kNumericConstants[] = {
    VEXO_CONSTANT(Q3_NODETYPE_DatabaseCollections),
    VEXO_CONSTANT(Q3_NODETYPE_IdentifierBasedTriggering),
    VEXO_CONSTANT(Q3_NODETYPE_MaskedIdentifierTriggering),
    VEXO_CONSTANT(Q3_NODETYPE_UnitSpec),
    VEXO_CONSTANT(Q3_NODETYPE_Coding),
    VEXO_CONSTANT(Q3_NODETYPE_LinearComputation),
    VEXO_CONSTANT(Q3_NODETYPE_PDUTriggering),
    VEXO_CONSTANT(Q3_NODETYPE_Channel),
    VEXO_CONSTANT(Q3_NODETYPE_Vexo),
    VEXO_CONSTANT(Q3_NODETYPE_Frame),
    VEXO_CONSTANT(Q3_NODETYPE_Signal),
    VEXO_CONSTANT(Q3_NODETYPE_IdentityComputation),
    VEXO_CONSTANT(Q3_NODETYPE_MappedTextComputation),
    VEXO_CONSTANT(Q3_NODETYPE_EventControlledTiming),
    VEXO_CONSTANT(Q3_NODETYPE_Segment),
    VEXO_CONSTANT(Q3_NODETYPE_ElementReference),
    VEXO_CONSTANT(Q3_NODETYPE_ValueRange),
    VEXO_CONSTANT(Q3_NODETYPE_ElementGroup),
    VEXO_CONSTANT(Q3_NODETYPE_MultiplexedPDU),
    VEXO_CONSTANT(Q3_NODETYPE_CyclicTiming),
    VEXO_CONSTANT(Q3_NODETYPE_AbsolutelyScheduledTriggering),
    VEXO_CONSTANT(Q3_NODETYPE_SignalPDU),
    VEXO_CONSTANT(Q3_NODETYPE_Cluster),
    VEXO_CONSTANT(Q3_NODETYPE_PDUInstance),
    VEXO_CONSTANT(Q3_NODETYPE_MappedValueComputation),
    VEXO_CONSTANT(Q3_NODETYPE_SignalInstance),
    VEXO_CONSTANT(Q3_NODETYPE_MultiplexedPart),
    VEXO_CONSTANT(Q3_NODETYPE_InvalidNode),
    VEXO_CONSTANT(Q3_BYTEORDER_LITTLEENDIAN),
    VEXO_CONSTANT(Q3_BYTEORDER_BIGENDIAN),
    VEXO_CONSTANT(Q3_FLAG_VALID),
    VEXO_CONSTANT(Q3_FLAG_LOWERLIMIT_CLOSED),
    VEXO_CONSTANT(Q3_FLAG_UPPERLIMIT_CLOSED),
    VEXO_CONSTANT(Q3_FLAG_CONSTRAINT_VALID),
    VEXO_CONSTANT(Q3_FLAG_INTERNALVALUES),
    VEXO_CONSTANT(Q3_FLAG_SIGNALDEFAULT),
    VEXO_CONSTANT(Q3_FLAG_CANSTANDARD),
    VEXO_CONSTANT(Q3_FLAG_CANEXTENDED),
    VEXO_CONSTANT(Q3_FLAG_CANSTD_OR_EXT),
    VEXO_CONSTANT(Q3_FLAGMASK_CAN_FRAMETYPE),
    VEXO_CONSTANT(Q3_FLAG_CANFD_EXTDATALEN),
    VEXO_CONSTANT(Q3_FLAG_CANFD_FASTDATA),
    VEXO_CONSTANT(Q3_FLAG_CANFD_ERRORSTATEIND),
    VEXO_CONSTANT(Q3_FLAG_LIN_ENH_CHECKSUM),
    VEXO_CONSTANT(Q3_ENCODING_INVALID),
    VEXO_CONSTANT(Q3_ENCODING_DIRECT),
    VEXO_CONSTANT(Q3_ENCODING_1COMPL),
    VEXO_CONSTANT(Q3_ENCODING_2COMPL),
    VEXO_CONSTANT(Q3_ENCODING_IEEE),
    VEXO_CONSTANT(Q3_ENCODING_UNPACKED_BCD),
    VEXO_CONSTANT(Q3_ENCODING_PACKED_BCD),
    VEXO_CONSTANT(Q3_ENCODING_ASCII),
    VEXO_CONSTANT(Q3_ENCODING_TYPEMASK),
    VEXO_CONSTANT(Q3_ENCODING_SIGNED),
    VEXO_CONSTANT(Q3_ENCODING_SIGNMASK),
    VEXO_CONSTANT(Q3_VALUETYPE_DOUBLE),
    VEXO_CONSTANT(Q3_VALUETYPE_UINT64),
    VEXO_CONSTANT(Q3_VALUETYPE_INT64),
    VEXO_CONSTANT(Q3_INCOMPATIBLEVALUETYPE),
    VEXO_CONSTANT(Q3_VALUEINRANGE),
    VEXO_CONSTANT(Q3_VALUEBELOWRANGE),
    VEXO_CONSTANT(Q3_VALUEABOVERANGE),
    VEXO_CONSTANT(Q3_CLUSTERTYPE_INVALID),
    VEXO_CONSTANT(Q3_CLUSTERTYPE_CAN),
    VEXO_CONSTANT(Q3_CLUSTERTYPE_FLEXRAY),
    VEXO_CONSTANT(Q3_CLUSTERTYPE_LIN),
    VEXO_CONSTANT(Q3_CLUSTERTYPE_MAX),
    VEXO_CONSTANT(Q3_ENC_MODE_OFF),
    VEXO_CONSTANT(Q3_ENC_MODE_ONCE),
    VEXO_CONSTANT(Q3_ENC_MODE_PERIODIC),
    VEXO_CONSTANT(Q3_NUMERICSIGNAL),
    VEXO_CONSTANT(Q3_ASCIISIGNAL),
    VEXO_CONSTANT(Q3_ENTITYCLASS_CLUSTER),
    VEXO_CONSTANT(Q3_ENTITYCLASS_CHANNEL),
    VEXO_CONSTANT(Q3_ENTITYCLASS_ECU),
    VEXO_CONSTANT(Q3_ENTITYCLASS_FRAME),
    VEXO_CONSTANT(Q3_ENTITYCLASS_SIGNAL),
    VEXO_CONSTANT(Q3_ENTITYCLASS_MUXPDU),
    VEXO_CONSTANT(Q3_ENTITYCLASS_MUXPART),
    VEXO_CONSTANT(Q3_ENTITYCLASS_ELSEPART),
    VEXO_CONSTANT(Q3_ENTITYCLASS_SIGNALPDU),
    VEXO_CONSTANT(Q3_ENTITYCLASS_GLOBALS),
    {"", 0},
};

struct TextConstant {
    const char *name;
    const VexoChar *text;
};

const TextConstant kTextConstants[] = {
    {"Q3_GROUPNAME_CLUSTERS", Q3_GROUPNAME_CLUSTERS},
    {"Q3_GROUPNAME_ECUS", Q3_GROUPNAME_ECUS},
    {"Q3_GROUPNAME_PDUS", Q3_GROUPNAME_PDUS},
    {"Q3_GROUPNAME_FRAMES", Q3_GROUPNAME_FRAMES},
    {"Q3_GROUPNAME_SIGNALS", Q3_GROUPNAME_SIGNALS},
    {"Q3_GROUPNAME_CODINGS", Q3_GROUPNAME_CODINGS},
    {"Q3_GROUPNAME_VIEWS", Q3_GROUPNAME_VIEWS},
    {"Q3_VIEWNAME_ECUVIEW", Q3_VIEWNAME_ECUVIEW},
    {"", nullptr},
};

}  // namespace

}  // namespace vexo::lua

using namespace vexo::lua;

VEXO_API int luaopen_Vexo(lua_State *L)
{
    luaL_newmetatable(L, kUnsignedValueType);
    fileMetatable(L, kUnsignedValueType);
    lua_pushcfunction(L, value_toStringUnsigned);
    lua_setfield(L, -2, "__tostring");
    lua_pop(L, 1);

    luaL_newmetatable(L, kSignedValueType);
    fileMetatable(L, kSignedValueType);
    lua_pushcfunction(L, value_toStringSigned);
    lua_setfield(L, -2, "__tostring");
    lua_pop(L, 1);

    luaL_newmetatable(L, kStringSlotType);
    fileMetatable(L, kStringSlotType);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    lua_pushstring(L, "StringSlot");
    lua_setfield(L, -2, "__metatable");
    lua_pop(L, 1);

    luaL_newmetatable(L, kNodeType);
    fileMetatable(L, kNodeType);
    luaL_register(L, nullptr, kNodeMethods);
    lua_pushcfunction(L, indexProperty);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);

    // Database values: the node methods and their own.
    luaL_newmetatable(L, kDatabaseType);
    fileMetatable(L, kDatabaseType);
    luaL_register(L, nullptr, kNodeMethods);
    luaL_register(L, nullptr, kDatabaseMethods);
    lua_pushcfunction(L, indexProperty);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);

    luaL_newmetatable(L, kEncoderType);
    fileMetatable(L, kEncoderType);
    luaL_register(L, nullptr, kEncoderMethods);
    lua_pushvalue(L, -1);
    lua_setfield(L, -2, "__index");
    lua_pop(L, 1);

    luaL_register(L, "Vexo", kModuleFunctions);
    for (const NumericConstant *constant = kNumericConstants; constant->name[0] != '\0'; ++constant) {
        lua_pushnumber(L, static_cast<lua_Number>(constant->value));
        lua_setfield(L, -2, constant->name);
    }
    for (const TextConstant *constant = kTextConstants; constant->name[0] != '\0'; ++constant) {
        pushWideStringZ(L, constant->text);
        lua_setfield(L, -2, constant->name);
    }
    return 1;
}
