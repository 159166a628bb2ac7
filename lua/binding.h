// The Lua module's shared pieces: the userdata kinds with their registry names, the
// conversions between Lua values and model values, and the argument checks. Every
// wrapper uses these, and io's script runner uses them to hand values to its scripts.
#pragma once

#include <cstdint>

#include <lua.hpp>

#include "vexo/core.h"
#include "vexo/types.h"

namespace vexo::lua {

// Registry names of the six metatables (matched exactly, letter case included).
inline constexpr char kDatabaseType[] = "30B3E33A77D34390911057D0D6931EE1";
inline constexpr char kNodeType[] = "C8EE4A54E4E54077A9FBCD72A8814DD5";
inline constexpr char kStringSlotType[] = "E1932F8FA81D4e22B366464122243EAF";
inline constexpr char kUnsignedValueType[] = "65F32C4A50A54dc9A77731C64763A804";
inline constexpr char kSignedValueType[] = "A0DB21FE8F4B4140A55D4298C005D5F5";
inline constexpr char kEncoderType[] = "EFEF191813484c23AB61C23F7950931D";

// Payload of a database value. A value made by createDb owns its database and
// destroys it when collected; one handed to a script by the library does not.
struct DatabaseValue {
    VexoNode *handle;
    int32_t owned;
};

// ---- Arguments --------------------------------------------------------------
// A node argument checked against a class (full class code; a node of a subclass
// passes). nil or a missing argument gives null without error; a value that is no
// userdata, or a userdata of another kind, raises the type error naming "Q3Node"; a
// node of the wrong class raises "<required> expected, got <actual>".
VexoNode *checkNode(lua_State *L, int index, uint32_t klass);

// A node argument of exactly one of two classes (nil passes as null); any other node
// raises the type error with names, e.g. "Channel or Frame".
VexoNode *checkEitherNode(lua_State *L, int index, uint32_t first, uint32_t second, const char *names);

// The database handle of a database value (null once its __gc has run); any other
// value raises the type error with the database registry name.
VexoNode *checkDatabase(lua_State *L, int index);

// The slot handle of a string slot value; any other value raises the type error with
// the string slot registry name.
VexoStringSlot *checkStringSlot(lua_State *L, int index);

// A UTF-16 argument: a Lua string of 2n+2 bytes ending in a zero unit. A value that
// converts to no string stands for the empty text; an odd length or a missing zero
// unit raises an argument error. The text lives as long as the argument is on the stack.
const VexoChar *toWideArgument(lua_State *L, int index);

// Identifiers, masks, codes, flags: strings and numbers go through their text, parsed
// with automatic base (0x.. hexadecimal, 0.. octal); a minus sign negates modulo 2^32,
// overflow gives 0xFFFFFFFF. Other values read as numbers (0).
uint32_t toUnsigned32(lua_State *L, int index);

// A 64-bit raw value from a number (truncated toward zero), a string (unsigned, with
// automatic base) or an InternalValue; other userdata give 0; anything else raises the
// type error naming "number, string or InternalValue".
uint64_t toInternalValue(lua_State *L, int index);

// The Lua integer conversion, low 32 bits.
uint32_t toInteger32(lua_State *L, int index);

// A language identifier: the Lua integer conversion, low 16 bits.
uint32_t toLanguage(lua_State *L, int index);

// A double truncated toward zero to a signed 64-bit integer; NaN and values outside
// the range give INT64_MIN, as the processor's conversion does.
int64_t truncateToInt64(double value);

// Parses text with automatic base as the C library's unsigned conversion does, with
// results limited to max (0xFFFFFFFF or UINT64_MAX): overflow gives max, a minus sign
// negates modulo max + 1, text without digits gives 0.
uint64_t parseUnsigned(const char *text, uint64_t max);

// ---- Results ----------------------------------------------------------------
// Lifetimes: a database value's environment is a table holding the value itself (its
// anchor). Every node, string slot and iterator made from a database or node value
// shares that environment or holds the value, so a database is not collected while
// anything made from it is reachable. source names the value a result is made from: a
// stack index (1, the object of a method, when not given) or an upvalue index.

// A new node value sharing the environment of the value at source, or nil for null.
void pushNode(lua_State *L, const void *handle, int source = 1);

// A new database value; owned says whether collecting it destroys the database. The
// module's metatables must exist (luaopen_Vexo has run on the state).
void pushDatabase(lua_State *L, VexoNode *database, bool owned);

// UTF-16 text without terminator (2n bytes); nil for null.
void pushWideString(lua_State *L, const VexoChar *text);

// UTF-16 text with its terminating zero unit (2n+2 bytes), so it can be passed back.
void pushWideStringZ(lua_State *L, const VexoChar *text);

// A string slot value (also for a null slot), sharing the environment of the value at
// source.
void pushStringSlot(lua_State *L, const VexoStringSlot *slot, int source = 1);

// InternalValue of the unsigned or the signed kind.
void pushUnsignedValue(lua_State *L, uint64_t value);
void pushSignedValue(lua_State *L, int64_t value);

// Result codes and signed fields keep their sign; unsigned fields read as unsigned.
inline void pushCode(lua_State *L, HRESULT code) { lua_pushinteger(L, static_cast<lua_Integer>(code)); }
inline void pushUnsigned32(lua_State *L, uint32_t value) { lua_pushnumber(L, static_cast<lua_Number>(value)); }

// The node handle held by a node or database value at index, without checks; null for
// anything else.
VexoNode *handleAt(lua_State *L, int index);

// True when the value at index has the metatable registered under name.
bool hasMetatable(lua_State *L, int index, const char *name);

// Pushes the metatable registered under one of the registry names above. luaopen_Vexo
// also files each under the address of its name, so that finding it needs no string.
void pushMetatable(lua_State *L, const char *name);

// Files the metatable on top of the stack under the address of its name as well.
void fileMetatable(lua_State *L, const char *name);

// The payload of a userdata with the metatable registered under name; raises the type
// error naming it otherwise (the Lua library's check-userdata facility, faster).
void *checkUserdata(lua_State *L, int index, const char *name);

// ---- Metatables and methods ------------------------------------------------
// The methods of node values (also registered for database values), those of database
// values alone and of encoder values; each list ends with a null entry.
extern const luaL_Reg kNodeMethods[];
extern const luaL_Reg kDatabaseMethods[];
extern const luaL_Reg kEncoderMethods[];

// __index of node and database values: metatable entries first, then the node's
// properties.
int indexProperty(lua_State *L);

// Module function attribs: a generic-for triple over a node's properties.
int module_attribs(lua_State *L);

}  // namespace vexo::lua
