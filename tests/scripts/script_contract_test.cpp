// The import and export functions as a host sees them: each test writes its own imports.lua / exports.lua into a
// temporary library folder beside a copy of libvexo.so, loads that copy and calls it, so the scripts decide every
// answer. The program does not link libvexo.so itself (the copy's calls stay within the copy), and it interposes
// luaL_newstate to provoke the out-of-memory paths.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "test_text.h"
#include "vexo/vexo.h"

namespace fs = std::filesystem;

static std::atomic<bool> failNewState{false};

// Scripts state creation in the library resolves here first (the program exports it).
extern "C" __attribute__((visibility("default"))) lua_State *luaL_newstate(void)
{
    using NewState = lua_State *(*)();
    // The Lua library comes with the copy of libvexo.so, outside the global scope.
    static const auto real = reinterpret_cast<NewState>(
        dlsym(dlopen("liblua5.1.so.0", RTLD_NOW | RTLD_LOCAL), "luaL_newstate"));
    return failNewState ? nullptr : real();
}

namespace {

// Collects each message as "first,second: text".
int32_t collect(void *context, const VexoMessage *message)
{
    static_cast<std::vector<std::string> *>(context)->push_back(
        std::to_string(message->first) + "," + std::to_string(message->second) + ": " + ascii(message->text));
    return 77;
}

// The functions the tests call in the copy: (member, exported name).
#define VEXO_SCRIPT_FUNCTIONS(X)                                                                      \
    X(create, Vexo_create) X(destroy, Vexo_destroy) X(createFrame, Vexo_createFrame)                 \
    X(freeString, Vexo_freeString) X(getStringLength, Vexo_getStringLength)                           \
    X(importFilters, Vexo_importGetAvailableFilters) X(exportFilters, Vexo_exportGetAvailableFilters) \
    X(detect, Vexo_importDetect) X(getDbId, Vexo_importGetDbId) X(getInfo, Vexo_importGetInfo)        \
    X(importFile, Vexo_importFile) X(exportFile, Vexo_exportFile)

// A copy of libvexo.so in a folder of its own, with the scripts a test writes there.
class ScriptFolder : public testing::Test {
protected:
    void SetUp() override
    {
        folder_ = fs::temp_directory_path() / ("vexo-scripts-" + std::to_string(getpid()) + "-" +
                                               testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
        fs::copy_file(fs::path(VEXO_BINARY_DIR) / "libvexo.so", folder_ / "libvexo.so",
                      fs::copy_options::overwrite_existing);
        library_ = dlopen((folder_ / "libvexo.so").c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        ASSERT_NE(library_, nullptr) << dlerror();
#define VEXO_LOAD(member, name) load(member, #name);
        VEXO_SCRIPT_FUNCTIONS(VEXO_LOAD)
#undef VEXO_LOAD
        ASSERT_EQ(create(u"DB", &db_), S_OK);
    }

    void TearDown() override
    {
        failNewState = false;
        if (db_ != nullptr)
            destroy(db_);
        if (library_ != nullptr)
            dlclose(library_);
        fs::remove_all(folder_);
    }

    template <class F>
    void load(F &function, const char *name)
    {
        function = reinterpret_cast<F>(dlsym(library_, name));
        ASSERT_NE(function, nullptr) << name;
    }

    void write(const char *name, const std::string &text) { std::ofstream(folder_ / name) << text; }

    // The text of a caller-owned string, which is then released.
    std::u16string take(VexoString s)
    {
        std::u16string text;
        if (s != nullptr)
            text.assign(s, s + getStringLength(s));
        freeString(s);
        return text;
    }

    fs::path folder_;
    void *library_ = nullptr;
    VexoNode *db_ = nullptr;
#define VEXO_DECLARE(member, name) decltype(&name) member = nullptr;
    VEXO_SCRIPT_FUNCTIONS(VEXO_DECLARE)
#undef VEXO_DECLARE
};

// UTF-16 text of a Lua string literal, for scripts: W"abc" in Lua.
constexpr char kHelpers[] = R"(
local function W(s) return (s:gsub(".", "%0\0")) .. "\0\0" end
local function A(w) return (w:gsub("(.)%z", "%1")) end
)";

TEST_F(ScriptFolder, MissingScriptFailsEveryCall)
{
    VexoString filters = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(importFilters(&filters), E_FAIL);
    const std::string printed = testing::internal::GetCapturedStdout();
    const std::u16string message = take(filters);
    EXPECT_NE(message.find(u"imports.lua"), std::u16string::npos) << ascii(message.c_str());
    EXPECT_NE(printed.find("imports.lua"), std::string::npos) << printed;
    EXPECT_EQ(detect(u"x.dbc"), E_FAIL);

    std::vector<std::string> messages;
    EXPECT_EQ(importFile(db_, nullptr, u"x.dbc", nullptr, &messages, collect), E_FAIL);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("0,0: ", 0), 0u) << messages[0];
    EXPECT_NE(messages[0].find("imports.lua"), std::string::npos) << messages[0];
    EXPECT_EQ(exportFile(db_, nullptr, u"x.dbc", nullptr, nullptr, nullptr), E_FAIL);
}

TEST_F(ScriptFolder, ScriptFailuresReachTheCallback)
{
    struct Case { const char *what, *script, *expected; };
    const Case cases[] = {
        {"script raises while it runs", "error('broken script', 0)", "broken script"},
        {"script does not compile", "function (", "imports.lua"}, {"function missing", "x = 1", "attempt to call"},
        {"function raises", "function doimport() error('no luck', 0) end", "no luck"},
        {"function returns E_FAIL", "function doimport() return 0x80004005 end", "2147500037"},
        {"reporter with a text argument missing", "function doimport(db, n, f, t, r) r(1, 2) end", "bad argument #3"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        write("imports.lua", c.script);
        std::vector<std::string> messages;
        EXPECT_EQ(importFile(db_, nullptr, u"x.dbc", u"", &messages, collect), E_FAIL);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].rfind("0,", 0), 0u) << messages[0];
        EXPECT_NE(messages[0].find(c.expected), std::string::npos) << messages[0];
        // Without a callback the failure is still reported by the result.
        EXPECT_EQ(importFile(db_, nullptr, u"x.dbc", u"", nullptr, nullptr), E_FAIL);
    }
}

TEST_F(ScriptFolder, ArgumentsReachTheScriptAsDocumented)
{
    write("imports.lua", std::string(kHelpers) + R"(
function doimport(db, node, file, filter, reporter)
    assert(select("#", db, node, file, filter, reporter) == 5)
    assert(node == nil, "a null node arrives as nil")
    assert(file == W "in.dbc" and filter == "\0\0", "texts with terminator; null as the empty text")
    assert(db:getNodeType() == Vexo.Q3_NODETYPE_Vexo)
    assert(ModuleFilePath and package.path:sub(1, #ModuleFilePath + 7) == ModuleFilePath .. "/?.lua;")
    assert(package.cpath:sub(1, #ModuleFilePath + 6) == ModuleFilePath .. "/?.so;")
    assert(require("Vexo") == Vexo)
    return reporter(12, 34, W "hello") + 1
end
function getImportInfo(db, file, reporter)
    return select("#", db, file, reporter) * 10 + reporter(1, 1, W "info")
end
)");
    std::vector<std::string> messages;
    EXPECT_EQ(importFile(db_, nullptr, u"in.dbc", nullptr, &messages, collect), 78);
    EXPECT_EQ(messages, std::vector<std::string>{"12,34: hello"});
    EXPECT_EQ(importFile(db_, nullptr, u"in.dbc", nullptr, nullptr, nullptr), 1) << "null callback: reporter gives 0";
    EXPECT_EQ(getInfo(db_, u"in.dbc", &messages, collect), 30 + 77);

    write("exports.lua", std::string(kHelpers) + R"(
function doexport(...)
    local db, node, file, filter = ...
    return select("#", ...) * 100 + (node and node:getNodeType() == Vexo.Q3_NODETYPE_Frame and 1 or 0)
end
)");
    VexoNode *frame = nullptr;
    ASSERT_EQ(createFrame(db_, u"F", 8, &frame), S_OK);
    EXPECT_EQ(exportFile(db_, frame, u"out.dbc", u"", nullptr, nullptr), 401) << "four arguments, the node";
    EXPECT_EQ(exportFile(db_, nullptr, u"out.dbc", u"", nullptr, nullptr), 400);
}

TEST_F(ScriptFolder, QueriesReadTheResultAsDocumented)
{
    write("imports.lua", std::string(kHelpers) + R"(
function getImportFilters() return W "A|*.a" end
function detectfile(file)
    local name = A(file)
    if name:find("false") then return false end
    if name:find("nothing") then return end
    if name:find("raise") then error("x") end
    return "yes"
end
function getdatabaseid(file)
    local name = A(file)
    if name:find("number") then return 42 end
    return W(name:match("(%w+)%.") or "")
end
)");
    write("exports.lua", "function getExportFilters() return {} end");
    VexoString filters = nullptr;
    ASSERT_EQ(importFilters(&filters), S_OK);
    EXPECT_EQ(take(filters), std::u16string(u"A|*.a\0", 6)) << "the bytes as returned, terminator included";
    ASSERT_EQ(exportFilters(&filters), S_OK);
    EXPECT_EQ(take(filters), u"") << "neither string nor number";
    EXPECT_EQ(importFilters(nullptr), E_INVALIDARG);

    struct Case { const char16_t *file; HRESULT expected; };
    const Case cases[] = {{u"a.dbc", S_OK}, {u"false.dbc", S_OK}, {u"nothing.dbc", S_FALSE}, {u"raise", E_FAIL}};
    for (const Case &c : cases)
        EXPECT_EQ(detect(c.file), c.expected) << ascii(c.file);

    VexoString id = nullptr;
    ASSERT_EQ(getDbId(u"/x/Body.dbc", &id), S_OK);
    EXPECT_EQ(take(id), std::u16string(u"Body\0", 5));
    EXPECT_EQ(getDbId(u"number", &id), E_FAIL) << "a number is no string";
    EXPECT_EQ(getDbId(nullptr, &id), E_INVALIDARG);
    EXPECT_EQ(getDbId(u"x", nullptr), E_INVALIDARG);
}

TEST_F(ScriptFolder, LongFailureTextIsCutForTheFilterList)
{
    write("imports.lua", "error(string.rep('x', 5000), 0)");
    VexoString filters = nullptr;
    testing::internal::CaptureStdout();
    EXPECT_EQ(importFilters(&filters), E_FAIL);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(take(filters), std::u16string(1023, u'x'));
}

TEST_F(ScriptFolder, NoLuaStateMeansOutOfMemory)
{
    write("imports.lua", "function doimport() return 0 end function detectfile() return 1 end");
    failNewState = true;
    VexoString filters = nullptr;
    EXPECT_EQ(importFilters(&filters), E_OUTOFMEMORY);
    EXPECT_EQ(take(filters), u"error: Out of memory.");
    std::vector<std::string> messages;
    EXPECT_EQ(importFile(db_, nullptr, u"x", nullptr, &messages, collect), E_OUTOFMEMORY);
    EXPECT_EQ(messages, std::vector<std::string>{"0,0: Out of memory"});
    EXPECT_EQ(detect(u"x"), E_OUTOFMEMORY);
    EXPECT_EQ(exportFile(db_, nullptr, u"x", nullptr, nullptr, nullptr), E_OUTOFMEMORY);
}

}  // namespace
