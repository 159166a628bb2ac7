// libFuzzer target for the DBC tokenizer and reader. Each input is tokenized to its
// end with and without newline mode, checking that positions never run backwards and
// that the token stream ends, then read into a Lua table, checking the stack results.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <lua.hpp>

#include "fuzz_support.h"

#include "dbc_lexer.h"
#include "dbc_reader.h"

namespace {

using namespace vexo::io;

void tokenizeAll(const uint8_t *data, size_t size, bool newlineMode)
{
    LexInput *input = nullptr;
    DbcLexer *lexer = nullptr;
    if (openLexInputStream(openMemory(data, size), &input) != S_OK || createDbcLexerOnInput(input, &lexer) != S_OK)
        failCheck("open");
    setNewlineMode(lexer, newlineMode);
    uint32_t line = 0;
    uint32_t column = 0;
    size_t tokens = 0;
    for (;;) {
        const int32_t code = nextDbcToken(lexer);
        const LexerCore &core = lexer->core;
        if (core.tokenLine < line || (core.tokenLine == line && core.tokenColumn < column))
            failCheck("token position ran backwards");
        if (core.text[core.textLength] != '\0' || core.textLength > size)
            failCheck("token text");
        // Code 1 is both a zero byte (no text) and the byte 1 as a single character.
        if ((code == TOK_EOF && core.textLength != 0) || (code == TOK_NUL && core.textLength > 1))
            failCheck("end or zero token with text");
        line = core.tokenLine;
        column = core.tokenColumn;
        if (code == TOK_EOF)
            break;
        if (++tokens > size)
            failCheck("more tokens than bytes");
    }
    if (nextDbcToken(lexer) != TOK_EOF)
        failCheck("end of input did not repeat");
    destroyDbcLexer(lexer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    tokenizeAll(data, size, false);
    tokenizeAll(data, size, true);

    lua_State *L = luaL_newstate();
    if (L == nullptr)
        failCheck("lua state");
    lua_pushliteral(L, "sentinel");
    const int count = importDbcStream(L, openMemory(data, size));
    const bool table = count == 1 && lua_istable(L, -1);
    const bool error = count == 2 && lua_isnil(L, -2) && lua_type(L, -1) == LUA_TSTRING;
    if (!table && !error)
        failCheck("stack results");
    if (lua_gettop(L) != 1 + count || lua_type(L, 1) != LUA_TSTRING)
        failCheck("stack below the results");
    if (error && std::strncmp(lua_tostring(L, -1), "DBC-Import: ", 12) != 0)
        failCheck("error message prefix");
    if (table) {
        lua_getfield(L, -1, "tag");
        if (lua_type(L, -1) != LUA_TSTRING || std::strcmp(lua_tostring(L, -1), "db") != 0)
            failCheck("database tag");
    }
    lua_close(L);
    return 0;
}
