// libFuzzer target for the DBC tokenizer and reader. Each input is tokenized to its
// end with and without newline mode, checking that positions never run backwards and
// that the token stream ends, then read into a Lua table, checking the stack results,
// and into the import's records: strictly they come where the table comes (with its
// frames and their signals) or fail with its message, tolerantly they always come.
#include <initializer_list>

#include "reader_checks.h"

#include "dbc_lexer.h"
#include "dbc_reader.h"
#include "dbc_records.h"

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
    for (const uint32_t flags : {0u, 1u}) {
        const int count = readDbcRecordsStream(L, openMemory(data, size), flags);
        const DbcRecords *records = count == 1 ? toDbcRecords(L, -1) : nullptr;
        failIf(flags == 0 ? (records != nullptr) != table : records == nullptr, "records' read");
        failIf(flags == 0 && !table && !lua_rawequal(L, -1, 3), "records' error message");
        size_t frames = 0;
        for (size_t i = 1; flags == 0 && table && i <= lua_objlen(L, 2); ++i) {
            lua_rawgeti(L, 2, static_cast<int>(i));
            if (fieldIs(L, -1, "tag", "frame")) {
                // The signals a frame's table lists (the parser's) and its records (most
                // lines read in one go).
                failIf(frames >= records->frames.size() || records->frames[frames].signals.size() != lua_objlen(L, -1),
                       "records' signals");
                ++frames;
            }
            lua_pop(L, 1);
        }
        failIf(flags == 0 && table && records->frames.size() != frames, "records' frames");
        lua_pop(L, count);
    }
    lua_close(L);
    return 0;
}
