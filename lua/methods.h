// What the method files share: the result shapes every wrapper ends with, the add loop,
// and the few entry points that both the node list and the database list register.
#pragma once

#include <cstdint>

#include <lua.hpp>

#include "vexo/types.h"

namespace vexo::lua {

// Made: the node the operation left in its output (nil when none); the code is dropped.
int pushMade(lua_State *L, const VexoNode *made);

// Lookup: nothing unless the code is S_OK, then the node (nil for null).
int pushLookup(lua_State *L, HRESULT result, const VexoNode *found);

// Text: nothing unless the code is S_OK, then the text without terminator ("" for null).
int pushText(lua_State *L, HRESULT result, const VexoChar *text);

// Echo: nothing unless the code is S_OK, then the text argument without terminator.
int pushEcho(lua_State *L, HRESULT result, const VexoChar *argument);

// Code: the result code as an integer.
int pushResult(lua_State *L, HRESULT result);

// Pair failure: nil and the code.
int pushFailure(lua_State *L, HRESULT result);

using AddFunction = HRESULT (*)(VexoNode *owner, uint32_t count, VexoNode *const *nodes);

// Calls add once per argument from start on, each checked against klass. Stops at the
// first non-zero result and returns it, unless continuing, which calls on for every
// argument and keeps the last result. With no arguments the result is 0.
int addLoop(lua_State *L, VexoNode *owner, int start, uint32_t klass, AddFunction add, bool continuing);

// The database or its collections node, for the database-level lists.
VexoNode *checkDatabaseOrCollections(lua_State *L, int index);

// Database-level methods that the node list registers too.
int db_addClusters(lua_State *L);
int db_addECUs(lua_State *L);
int db_addFrames(lua_State *L);
int db_addPDUs(lua_State *L);
int db_addSignals(lua_State *L);
int db_addCodings(lua_State *L);
int db_addViews(lua_State *L);
int db_enumIdentElements(lua_State *L);
int db_enumClusters(lua_State *L);
int db_enumECUs(lua_State *L);
int db_enumFrames(lua_State *L);
int db_enumCodings(lua_State *L);
int db_enumPDUs(lua_State *L);
int db_enumSignals(lua_State *L);
int db_enumViews(lua_State *L);
int db_getCollections(lua_State *L);
int db_dumpDot(lua_State *L);

// Registered for database values, defined with the encoder methods.
int db_createEncoder(lua_State *L);

// Node methods that the database list registers too.
int node_decodeMessage(lua_State *L);
int node_internalToPhysical(lua_State *L);
int node_checkValueInMinMax(lua_State *L);

}  // namespace vexo::lua
