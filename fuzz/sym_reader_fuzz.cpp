// libFuzzer target for the SYM reader. Each input is read into a Lua table, checking
// the stack results, the table's shape (every element tagged, lines in file order and
// inside the input) and that an error names a position inside the input.
#include "reader_checks.h"

#include "sym_reader.h"

namespace {

using namespace vexo::io;

// Line ends the reader counts: CR LF and LF CR are one each.
double countLines(const uint8_t *data, size_t size)
{
    double lines = 1;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\r' || data[i] == '\n') {
            ++lines;
            if (i + 1 < size && (data[i + 1] == '\r' || data[i + 1] == '\n') && data[i + 1] != data[i])
                ++i;
        }
    }
    return lines;
}

double fieldNumber(lua_State *L, int table, const char *key)
{
    lua_getfield(L, table, key);
    const double value = lua_type(L, -1) == LUA_TNUMBER ? lua_tonumber(L, -1) : -1;
    lua_pop(L, 1);
    return value;
}

void checkTable(lua_State *L, int result, double lines)
{
    failIf(!fieldIs(L, result, "tag", "sym"), "result tag");
    double previous = 0;
    const int count = static_cast<int>(lua_objlen(L, result));
    for (int i = 1; i <= count; ++i) {
        lua_rawgeti(L, result, i);
        const int e = lua_gettop(L);
        failIf(!lua_istable(L, e), "element is no table");
        const double line = fieldNumber(L, e, "line");
        failIf(line < previous || line > lines, "element line");
        previous = line;
        const bool message = fieldIs(L, e, "tag", "message");
        failIf(!message && !fieldIs(L, e, "tag", "header") && !fieldIs(L, e, "tag", "enum") &&
                   !fieldIs(L, e, "tag", "signal"), "element tag");
        const int entries = static_cast<int>(lua_objlen(L, e));
        for (int k = 1; k <= entries; ++k) {
            lua_rawgeti(L, e, k);
            failIf(!lua_istable(L, -1), "entry is no table");
            failIf(message && !fieldIs(L, -1, "tag", "var") && !fieldIs(L, -1, "tag", "sig"), "message entry tag");
            failIf(fieldNumber(L, lua_gettop(L), "line") < line, "entry line before its element");
            lua_pop(L, 1);
        }
        lua_pop(L, 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    bool table = false;
    lua_State *L = readStrictly(data, size, importSymStream, &table);
    const double lines = countLines(data, size);
    if (!table) {
        int line = 0, column = 0;
        failIf(std::sscanf(lua_tostring(L, -1), "SYM-Import: (%d, %d): ", &line, &column) != 2, "error message prefix");
        failIf(line < 1 || line > lines || column < 1 || static_cast<size_t>(column) > size + 1, "error position");
    } else {
        checkTable(L, lua_gettop(L), lines);
    }
    lua_close(L);
    return 0;
}
