// libFuzzer target for the DBC tokenizer and reader. Each input is tokenized to its
// end with and without newline mode, checking that positions never run backwards and
// that the token stream ends, then read into a Lua table, checking the stack results.
#include <initializer_list>

#include "reader_checks.h"

#include "dbc_lexer.h"
#include "dbc_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace vexo::io;
    for (const bool newlineMode : {false, true})
        tokenizeAll<DbcLexer>(
            data, size, [newlineMode](DbcLexer *lexer) { setNewlineMode(lexer, newlineMode); },
            [](const LexerCore &, int32_t) {});

    bool table = false;
    lua_State *L = readStrictly(data, size, [](lua_State *S, FILE *f) { return importDbcStream(S, f); }, &table);
    failIf(!table && std::strncmp(lua_tostring(L, -1), "DBC-Import: ", 12) != 0, "error message prefix");
    failIf(table && !fieldIs(L, -1, "tag", "db"), "database tag");
    lua_close(L);
    return 0;
}
