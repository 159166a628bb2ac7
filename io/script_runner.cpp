// Import and export through the scripts "imports.lua" and "exports.lua" that lie
// beside libvexo.so. Each call builds a private Lua state, runs the script from disk,
// calls one global function and closes the state, so calls never share Lua data and
// an edited script takes effect on the next call. (The scripts and the modules they
// require from beside the library are compiled once per process and file version.)
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <lua.hpp>

#include "allocator.h"
#include "binding.h"
#include "script_cache.h"
#include "text.h"
#include "vexo/core.h"
#include "vexo/io.h"
#include "vexo/lua_module.h"

namespace vexo::io {

namespace {

constexpr char kImportScript[] = "imports.lua";
constexpr char kExportScript[] = "exports.lua";
constexpr char kNoModuleName[] = "error: unable to get module file name";
// Longest failure text stored by the filter-list queries, in UTF-16 units.
constexpr size_t kFilterMessageUnits = 1023;
const VexoChar kEmptyText[] = {0};

// The folder that holds this library's file (its path cut at the last '/'). The loader
// names the library by the path it was opened by, which may be a symbolic link in another
// folder (Vexo.so in Lua's module folder, libvexo.so.0 beside libvexo.so.0.1.0); the
// link is followed, so the scripts are always the ones installed beside the file itself.
bool moduleDirectory(std::string &directory)
{
    Dl_info info{};
    if (dladdr(reinterpret_cast<void *>(&moduleDirectory), &info) == 0 || info.dli_fname == nullptr)
        return false;
    std::string path = info.dli_fname;
    if (char *resolved = realpath(info.dli_fname, nullptr)) {
        path = resolved;
        std::free(resolved);
    }
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return false;
    directory.assign(path, 0, slash);
    return true;
}

// Prepends "DIR/pattern;" to package[field]. The text is joined on the Lua stack: a Lua
// error (running out of memory) jumps over C++ destructors, so no std::string may live
// across a call that can raise.
void prependSearchPath(lua_State *L, const std::string &directory, const char *field, const char *pattern)
{
    lua_getglobal(L, "package");
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return;
    }
    lua_pushlstring(L, directory.data(), directory.size());
    lua_pushstring(L, pattern);
    lua_getfield(L, -3, field);
    if (!lua_isstring(L, -1)) {
        lua_pop(L, 1);
        lua_pushliteral(L, "");
    }
    lua_concat(L, 3);
    lua_setfield(L, -2, field);
    lua_pop(L, 1);
}

// The Lua library's allocation rule (realloc and free), asking the allocation-failure
// hook of the tests before memory grows.
void *allocateFailably(void *, void *block, size_t oldSize, size_t newSize)
{
    if (newSize == 0) {
        std::free(block);
        return nullptr;
    }
    if (newSize > oldSize && core::allocationFails())
        return nullptr;
    return std::realloc(block, newSize);
}

struct ScriptSetup {
    const char *script;
    const std::string *directory;
};

// Opens the libraries and the module, sets the search paths and runs the script;
// inside a protected call, so running out of memory is an error like any other.
int prepareState(lua_State *L)
{
    const auto *setup = static_cast<const ScriptSetup *>(lua_touserdata(L, 1));
    lua_gc(L, LUA_GCSTOP, 0);
    luaL_openlibs(L);
    lua_gc(L, LUA_GCRESTART, 0);
    // A test that fails the n-th allocation counts the script state's from here on.
    // (Not while the standard libraries open: Lua 5.1's io library, short of memory
    // half way, can leave its standard output file to be closed when the state goes.)
    if (core::allocationFailureArmed())
        lua_setallocf(L, allocateFailably, nullptr);
    // Scripts and the values handed to them need the module's metatables; opening it
    // here also makes require "Vexo" answer this very library.
    lua_pushcfunction(L, luaopen_Vexo);
    lua_call(L, 0, 0);
    lua_getglobal(L, "package");
    lua_getfield(L, -1, "preload");
    lua_pushcfunction(L, luaopen_Vexo_native);
    lua_setfield(L, -2, "Vexo.native");
    lua_pop(L, 2);
    const std::string &directory = *setup->directory;
    lua_pushlstring(L, directory.data(), directory.size());
    lua_setglobal(L, "ModuleFilePath");
    prependSearchPath(L, directory, "path", "/?.lua;");
    prependSearchPath(L, directory, "cpath", "/?.so;");
    searchScriptsFirst(L, directory.c_str());
    // The script's file name is made on the Lua stack too (see prependSearchPath): a
    // script that cannot be loaded raises here.
    lua_pushlstring(L, directory.data(), directory.size());
    lua_pushliteral(L, "/");
    lua_pushstring(L, setup->script);
    lua_concat(L, 3);
    if (loadScriptFile(L, lua_tostring(L, -1)) != 0)
        return lua_error(L);
    lua_remove(L, -2);
    lua_call(L, 0, 0);
    return 0;
}

constexpr char kResultKey[] = "vexo.scriptResult";

// What a protected script call needs: the function's name and a pusher of its
// arguments that returns their count.
struct ScriptCall {
    const char *function;
    int (*pushArguments)(lua_State *L, const void *data);
    const void *data;
};

int callInState(lua_State *L)
{
    const auto *call = static_cast<const ScriptCall *>(lua_touserdata(L, 1));
    lua_getglobal(L, call->function);
    const int count = call->pushArguments != nullptr ? call->pushArguments(L, call->data) : 0;
    lua_call(L, count, 1);
    lua_setfield(L, LUA_REGISTRYINDEX, kResultKey);
    return 0;
}

// Calls a global function of the script in protected mode. S_OK leaves its one
// result on top of the stack; E_FAIL leaves the error message there.
HRESULT callScriptFunction(lua_State *L, const ScriptCall &call)
{
    if (lua_cpcall(L, callInState, const_cast<ScriptCall *>(&call)) != 0)
        return E_FAIL;
    // The key is still interned (the registry holds it), so this allocates nothing.
    lua_getfield(L, LUA_REGISTRYINDEX, kResultKey);
    return S_OK;
}

void pushText(lua_State *L, const VexoChar *text)
{
    lua::pushWideStringZ(L, text != nullptr ? text : kEmptyText);
}

// The text of the value on top of the stack (an error message, or a number in its
// decimal form) as UTF-16; other values give a short description.
std::u16string topMessage(lua_State *L)
{
    const char *text = lua_tostring(L, -1);
    if (text == nullptr)
        text = lua_isnil(L, -1) ? "(no error message)" : "(error object is not a string)";
    VexoChar *wide = core::widenText(text);
    if (wide == nullptr)
        throw std::bad_alloc();
    std::u16string result(wide);
    std::free(wide);
    return result;
}

int32_t deliver(VexoMessageCallback callback, void *context, int32_t first, int32_t second, const VexoChar *text)
{
    if (callback == nullptr)
        return 0;
    const VexoMessage message = {first, second, text};
    return callback(context, &message);
}

// The reporter handed to the scripts: reporter(first, second, text). Its upvalues
// are the caller's context and callback. Scripts pass UTF-16 text with its zero
// unit; a text without one is copied and terminated, so the callback never reads
// past the string.
int reportMessage(lua_State *L)
{
    const auto first = static_cast<int32_t>(luaL_checkinteger(L, 1));
    const auto second = static_cast<int32_t>(luaL_checkinteger(L, 2));
    size_t bytes = 0;
    const char *text = luaL_checklstring(L, 3, &bytes);
    void *context = lua_touserdata(L, lua_upvalueindex(1));
    auto callback = reinterpret_cast<VexoMessageCallback>(lua_touserdata(L, lua_upvalueindex(2)));
    const size_t units = bytes / 2;
    const auto *wide = reinterpret_cast<const VexoChar *>(text);
    if (units == 0 || wide[units - 1] != 0) {
        auto *copy = static_cast<VexoChar *>(lua_newuserdata(L, (units + 1) * sizeof(VexoChar)));
        std::memcpy(copy, text, units * sizeof(VexoChar));
        copy[units] = 0;
        wide = copy;
    }
    lua_pushinteger(L, deliver(callback, context, first, second, wide));
    return 1;
}

// Owns a script state for the length of one exported call.
class ScriptState {
public:
    ScriptState(const ScriptState &) = delete;
    ScriptState &operator=(const ScriptState &) = delete;
    explicit ScriptState(const char *script) : outcome_(open(script)) {}
    ~ScriptState()
    {
        if (L_ != nullptr)
            lua_close(L_);
    }
    lua_State *L() const { return L_; }
    // S_OK: ready; E_OUTOFMEMORY: no state; E_FAIL: the message is on top.
    HRESULT outcome() const { return outcome_; }

private:
    HRESULT open(const char *script)
    {
        L_ = luaL_newstate();
        if (L_ == nullptr)
            return E_OUTOFMEMORY;
        std::string directory;
        if (!moduleDirectory(directory)) {
            lua_pushstring(L_, kNoModuleName);
            return E_FAIL;
        }
        ScriptSetup setup = {script, &directory};
        return lua_cpcall(L_, prepareState, &setup) == 0 ? S_OK : E_FAIL;
    }

    lua_State *L_ = nullptr;
    HRESULT outcome_;
};

// The arguments of one script call, as the exported function received them.
struct Arguments {
    VexoNode *database;
    VexoNode *node;
    const VexoChar *fileName;
    const VexoChar *filter;
    void *context;
    VexoMessageCallback callback;
};

int pushFileName(lua_State *L, const void *data)
{
    pushText(L, static_cast<const Arguments *>(data)->fileName);
    return 1;
}

void pushReporter(lua_State *L, const Arguments &a)
{
    lua_pushlightuserdata(L, a.context);
    lua_pushlightuserdata(L, reinterpret_cast<void *>(a.callback));
    lua_pushcclosure(L, reportMessage, 2);
}

// getImportInfo(database, file name, reporter)
int pushInfoArguments(lua_State *L, const void *data)
{
    const auto &a = *static_cast<const Arguments *>(data);
    lua::pushDatabase(L, a.database, false);
    pushText(L, a.fileName);
    pushReporter(L, a);
    return 3;
}

// doimport(database, node or nil, file name, filter, reporter)
int pushImportArguments(lua_State *L, const void *data)
{
    const auto &a = *static_cast<const Arguments *>(data);
    lua::pushDatabase(L, a.database, false);
    lua::pushNode(L, a.node);
    pushText(L, a.fileName);
    pushText(L, a.filter);
    pushReporter(L, a);
    return 5;
}

// doexport(database, node or nil, file name, filter): no reporter
int pushExportArguments(lua_State *L, const void *data)
{
    const auto &a = *static_cast<const Arguments *>(data);
    lua::pushDatabase(L, a.database, false);
    lua::pushNode(L, a.node);
    pushText(L, a.fileName);
    pushText(L, a.filter);
    return 4;
}

// What Vexo_importGetInfo, Vexo_importFile and Vexo_exportFile share: run the script
// function, read its result as an integer, and hand a failure's message (the error,
// or the decimal text of a returned E_FAIL) to the callback.
HRESULT runWithMessages(const char *script, const ScriptCall &call, const Arguments &a)
{
    ScriptState state(script);
    HRESULT outcome = state.outcome();
    if (outcome == E_OUTOFMEMORY) {
        deliver(a.callback, a.context, 0, 0, u"Out of memory");
        return E_OUTOFMEMORY;
    }
    if (outcome == S_OK) {
        outcome = callScriptFunction(state.L(), call);
        if (outcome == S_OK)
            outcome = static_cast<HRESULT>(lua_tointeger(state.L(), -1));
    }
    if (outcome == E_FAIL) {
        const std::u16string message = topMessage(state.L());
        deliver(a.callback, a.context, 0, 0, message.c_str());
    }
    return outcome;
}

HRESULT queryFilters(const char *script, const char *function, VexoString *filters)
{
    if (filters == nullptr)
        return E_INVALIDARG;
    ScriptState state(script);
    HRESULT outcome = state.outcome();
    if (outcome == E_OUTOFMEMORY) {
        VexoString text = Vexo_allocString(u"error: Out of memory.");
        if (text == nullptr)
            return E_OUTOFMEMORY;
        *filters = text;
        return E_OUTOFMEMORY;
    }
    if (outcome == S_OK)
        outcome = callScriptFunction(state.L(), ScriptCall{function, nullptr, nullptr});
    lua_State *L = state.L();
    VexoString text;
    if (outcome == S_OK) {
        size_t bytes = 0;
        const int type = lua_type(L, -1);
        const char *result = type == LUA_TSTRING || type == LUA_TNUMBER ? lua_tolstring(L, -1, &bytes) : "";
        text = Vexo_allocStringLen(reinterpret_cast<const VexoChar *>(result), static_cast<uint32_t>(bytes / 2));
    } else {
        std::u16string message = topMessage(L);
        if (message.size() > kFilterMessageUnits)
            message.resize(kFilterMessageUnits);
        const std::string printed = core::narrowText(message.data(), message.size());
        std::printf("%s\n", printed.c_str());
        std::fflush(stdout);
        text = Vexo_allocStringLen(message.data(), static_cast<uint32_t>(message.size()));
    }
    if (text == nullptr)
        return E_OUTOFMEMORY;
    *filters = text;
    return outcome;
}

template <class Body>
HRESULT guardedCall(Body &&body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
}

}  // namespace

}  // namespace vexo::io

using namespace vexo::io;

VEXO_API HRESULT Vexo_importGetAvailableFilters(VexoString *filters)
{
    return guardedCall([&] { return queryFilters(kImportScript, "getImportFilters", filters); });
}

VEXO_API HRESULT Vexo_exportGetAvailableFilters(VexoString *filters)
{
    return guardedCall([&] { return queryFilters(kExportScript, "getExportFilters", filters); });
}

VEXO_API HRESULT Vexo_importDetect(const VexoChar *fileName)
{
    return guardedCall([&] {
        ScriptState state(kImportScript);
        HRESULT outcome = state.outcome();
        const Arguments a = {nullptr, nullptr, fileName, nullptr, nullptr, nullptr};
        if (outcome == S_OK)
            outcome = callScriptFunction(state.L(), ScriptCall{"detectfile", pushFileName, &a});
        if (outcome == S_OK)
            outcome = lua_isnil(state.L(), -1) ? S_FALSE : S_OK;
        return outcome;
    });
}

VEXO_API HRESULT Vexo_importGetDbId(const VexoChar *fileName, VexoString *dbId)
{
    if (fileName == nullptr || dbId == nullptr)
        return E_INVALIDARG;
    return guardedCall([&] {
        ScriptState state(kImportScript);
        HRESULT outcome = state.outcome();
        const Arguments a = {nullptr, nullptr, fileName, nullptr, nullptr, nullptr};
        if (outcome == S_OK)
            outcome = callScriptFunction(state.L(), ScriptCall{"getdatabaseid", pushFileName, &a});
        if (outcome != S_OK)
            return outcome;
        if (lua_type(state.L(), -1) != LUA_TSTRING)
            return E_FAIL;
        size_t bytes = 0;
        const char *text = lua_tolstring(state.L(), -1, &bytes);
        VexoString result =
            Vexo_allocStringLen(reinterpret_cast<const VexoChar *>(text), static_cast<uint32_t>(bytes / 2));
        if (result == nullptr)
            return E_OUTOFMEMORY;
        *dbId = result;
        return S_OK;
    });
}

VEXO_API HRESULT Vexo_importGetInfo(VexoNode *database, const VexoChar *fileName, void *context,
                                    VexoMessageCallback callback)
{
    const Arguments a = {database, nullptr, fileName, nullptr, context, callback};
    return guardedCall([&] { return runWithMessages(kImportScript, {"getImportInfo", pushInfoArguments, &a}, a); });
}

VEXO_API HRESULT Vexo_importFile(VexoNode *database, VexoNode *node, const VexoChar *fileName,
                                 const VexoChar *filter, void *context, VexoMessageCallback callback)
{
    const Arguments a = {database, node, fileName, filter, context, callback};
    return guardedCall([&] { return runWithMessages(kImportScript, {"doimport", pushImportArguments, &a}, a); });
}

VEXO_API HRESULT Vexo_exportFile(VexoNode *database, VexoNode *node, const VexoChar *fileName,
                                 const VexoChar *filter, void *context, VexoMessageCallback callback)
{
    const Arguments a = {database, node, fileName, filter, context, callback};
    return guardedCall([&] { return runWithMessages(kExportScript, {"doexport", pushExportArguments, &a}, a); });
}
