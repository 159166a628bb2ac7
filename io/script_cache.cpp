// Lua script files compiled once per process: the bytecode of each file by its path,
// with the file's identity, size and modification time when it was compiled.
#include "script_cache.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <unordered_map>

namespace vexo::io {

namespace {

struct Compiled {
    struct stat file;
    std::string code;
};

std::mutex &cacheLock()
{
    static std::mutex lock;
    return lock;
}

// Never destroyed: threads may still load scripts while the process exits.
std::unordered_map<std::string, std::shared_ptr<const Compiled>> &cache()
{
    static auto *kept = new std::unordered_map<std::string, std::shared_ptr<const Compiled>>;
    return *kept;
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
           && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// Loads the kept bytecode of an unchanged file: the load's status, or -1 when there is
// none. (No Lua call here raises, so the C++ objects are always destroyed.)
int loadKept(lua_State *L, const char *path, const struct stat &file)
{
    std::shared_ptr<const Compiled> kept;
    try {
        const std::lock_guard<std::mutex> hold(cacheLock());
        const auto found = cache().find(path);
        if (found == cache().end() || !sameFile(found->second->file, file))
            return -1;
        kept = found->second;
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return luaL_loadbuffer(L, kept->code.data(), kept->code.size(), path);
}

int appendCode(lua_State *, const void *bytes, size_t size, void *code)
{
    try {
        static_cast<std::string *>(code)->append(static_cast<const char *>(bytes), size);
        return 0;
    } catch (const std::bad_alloc &) {
        return 1;
    }
}

// Keeps the bytecode of the function on top of the stack (nothing when memory is short).
void keep(lua_State *L, const char *path, const struct stat &file)
{
    try {
        auto compiled = std::make_shared<Compiled>();
        compiled->file = file;
        compiled->code.reserve(static_cast<size_t>(file.st_size) * 2);
        if (lua_dump(L, appendCode, &compiled->code) != 0)
            return;
        compiled->code.shrink_to_fit();
        const std::lock_guard<std::mutex> hold(cacheLock());
        cache()[path] = std::move(compiled);
    } catch (const std::bad_alloc &) {
    }
}

// package.loaders entry; upvalue 1: the folder. As Lua's searcher for Lua files with
// the one template "folder/?.lua".
int searchScripts(lua_State *L)
{
    const char *name = luaL_checkstring(L, 1);
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_pushliteral(L, "/");
    luaL_gsub(L, name, ".", "/");
    lua_pushliteral(L, ".lua");
    lua_concat(L, 4);
    const char *file = lua_tostring(L, -1);
    FILE *readable = std::fopen(file, "r");
    if (readable == nullptr)
        return 0;  // the other searchers look, and say where
    std::fclose(readable);
    if (loadScriptFile(L, file) != 0)
        luaL_error(L, "error loading module " LUA_QS " from file " LUA_QS ":\n\t%s", lua_tostring(L, 1), file,
                   lua_tostring(L, -1));
    return 1;
}

}  // namespace

int loadScriptFile(lua_State *L, const char *path)
{
    struct stat file {};
    const bool known = ::stat(path, &file) == 0 && S_ISREG(file.st_mode);
    if (known) {
        const int status = loadKept(L, path, file);
        if (status >= 0)
            return status;
    }
    const int status = luaL_loadfile(L, path);
    if (status == 0 && known)
        keep(L, path, file);
    return status;
}

void searchScriptsFirst(lua_State *L, const char *directory)
{
    lua_getglobal(L, "package");
    if (!lua_istable(L, -1)) {
        lua_pop(L, 1);
        return;
    }
    lua_getfield(L, -1, "loaders");
    if (!lua_istable(L, -1)) {
        lua_pop(L, 2);
        return;
    }
    for (int i = static_cast<int>(lua_objlen(L, -1)); i >= 2; --i) {
        lua_rawgeti(L, -1, i);
        lua_rawseti(L, -2, i + 1);
    }
    lua_pushstring(L, directory);
    lua_pushcclosure(L, searchScripts, 1);
    lua_rawseti(L, -2, 2);
    lua_pop(L, 2);
}

}  // namespace vexo::io
