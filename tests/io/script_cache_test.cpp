// Script files compiled once: a file loads as luaL_loadfile loads it, also after it was
// edited (in size, or only in its time), with the same messages for files that cannot
// be loaded; modules beside the scripts are found by require through the same cache.
#include "script_cache.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

struct Folder {
    std::string path;
    Folder()
    {
        char name[] = "/tmp/vexo-scripts-XXXXXX";
        path = mkdtemp(name) != nullptr ? name : "";
    }
    ~Folder() { std::system(("rm -rf '" + path + "'").c_str()); }
    std::string write(const std::string &file, const std::string &text, long seconds) const
    {
        const std::string at = path + "/" + file;
        std::ofstream(at) << text;
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        EXPECT_EQ(utimensat(AT_FDCWD, at.c_str(), times, 0), 0);
        return at;
    }
};

// What loading a file and calling its chunk gives: the status and the result or message.
std::string outcome(int (*load)(lua_State *, const char *), const std::string &file)
{
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    const int status = load(L, file.c_str());
    if (status == 0 && lua_pcall(L, 0, 1, 0) != 0)
        lua_pushfstring(L, "raised: %s", lua_tostring(L, -1));
    const std::string text = std::to_string(status) + " " + luaL_optstring(L, -1, "nil");
    lua_close(L);
    return text;
}

}  // namespace

TEST(ScriptCache, LoadsWhatTheFileSaysNowWithTheSameMessages)
{
    Folder folder;
    ASSERT_FALSE(folder.path.empty());
    struct Step {
        const char *text;  // null: no file
        long seconds;
        const char *result;
    } steps[] = {
        {"return 'one'", 100, "0 one"},
        {"return 'one'", 100, "0 one"},                    // from the kept bytecode
        {"return 'two!'", 100, "0 two!"},                  // another size, the same time
        {"return 'six!'", 200, "0 six!"},                  // the same size, another time
        {"error('at line one')", 300, nullptr},            // a message naming the file
        {"return = 1", 400, nullptr},                      // cannot be compiled
        {nullptr, 0, nullptr},                             // cannot be opened
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.text != nullptr ? step.text : "no file");
        const std::string file =
            step.text != nullptr ? folder.write("s.lua", step.text, step.seconds) : folder.path + "/none.lua";
        const std::string cached = outcome(vexo::io::loadScriptFile, file);
        EXPECT_EQ(cached, outcome(vexo::io::loadScriptFile, file)) << "loaded again";
        EXPECT_EQ(cached, outcome(luaL_loadfile, file));
        if (step.result != nullptr) {
            EXPECT_EQ(cached, step.result);
        }
    }

    // require finds modules in the folder (module names with dots in subfolders); a module
    // that is not there fails with the message Lua's own searchers give.
    ASSERT_EQ(mkdir((folder.path + "/sub").c_str(), 0755), 0);
    folder.write("sub/mod.lua", "return { answer = 42 }", 500);
    const auto requireIn = [&](bool searcher, const char *name) {
        lua_State *L = luaL_newstate();
        luaL_openlibs(L);
        lua_getglobal(L, "package");
        lua_pushstring(L, (folder.path + "/?.lua").c_str());
        lua_setfield(L, -2, "path");
        lua_pop(L, 1);
        if (searcher)
            vexo::io::searchScriptsFirst(L, folder.path.c_str());
        lua_getglobal(L, "require");
        lua_pushstring(L, name);
        std::string text = lua_pcall(L, 1, 1, 0) == 0 ? "answer " : "";
        if (!text.empty())
            lua_getfield(L, -1, "answer");
        text += luaL_optstring(L, -1, "nil");
        lua_close(L);
        return text;
    };
    for (int pass = 0; pass < 2; ++pass)
        EXPECT_EQ(requireIn(true, "sub.mod"), "answer 42");
    EXPECT_EQ(requireIn(true, "sub.none"), requireIn(false, "sub.none"));
    folder.write("sub/bad.lua", "return = 1", 600);
    EXPECT_EQ(requireIn(true, "sub.bad"), requireIn(false, "sub.bad"));
}
