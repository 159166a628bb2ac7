// libFuzzer target for the LDF tokenizer and reader. Each input is tokenized to its
// end, checking that positions never run backwards and that the token stream ends,
// then read into a Lua table, checking the stack results and the table's shape.
#include "reader_checks.h"

#include "ldf_lexer.h"
#include "ldf_reader.h"

namespace {

using namespace vexo::io;

// Every element of the database table is a table with a string tag.
void checkElements(lua_State *L)
{
    for (int i = 1; lua_rawgeti(L, -1, i), !lua_isnil(L, -1); ++i) {
        failIf(!lua_istable(L, -1), "element is no table");
        lua_getfield(L, -1, "tag");
        failIf(lua_type(L, -1) != LUA_TSTRING, "element without tag");
        lua_pop(L, 2);
        failIf(i > 15, "more elements than sections");
    }
    lua_pop(L, 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    tokenizeAll<LdfLexer>(data, size, [](LdfLexer *) {}, [](const LexerCore &core, int32_t code) {
        failIf(code == '/' && core.textLength != 0, "slash token with text");
        failIf(code == '\n' || (code >= 8 && code <= 13) || code == ' ', "white space as a token");
    });

    bool table = false;
    lua_State *L = readStrictly(data, size, [](lua_State *S, FILE *f) { return importLdfStream(S, f); }, &table);
    failIf(!table && std::strncmp(lua_tostring(L, -1), "LDF-Import: ", 12) != 0, "error message prefix");
    if (table) {
        failIf(!fieldIs(L, -1, "tag", "db"), "database tag");
        checkElements(L);
    }
    lua_close(L);
    return 0;
}
