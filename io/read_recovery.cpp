// Recovery jumps and the warning list of tolerant reading.
#include "read_recovery.h"

#include <cstdarg>
#include <cstring>

namespace vexo::io {

void jumpToRecovery(Tolerance *t, const char *expected)
{
    t->expected = expected;
    t->departed = true;
    std::longjmp(t->innermost->jump, 1);
}

namespace {

// The warning {line =, column =, text =} with the text on top of the stack, which it takes.
void appendWarning(lua_State *L, Tolerance *t, uint32_t line, uint32_t column)
{
    lua_createtable(L, 0, 3);
    lua_pushvalue(L, t->lineKey);
    lua_pushnumber(L, line);
    lua_rawset(L, -3);
    lua_pushvalue(L, t->columnKey);
    lua_pushnumber(L, column);
    lua_rawset(L, -3);
    lua_pushvalue(L, t->textKey);
    lua_pushvalue(L, -3);
    lua_rawset(L, -3);
    lua_rawseti(L, t->listSlot, ++t->count);
    lua_pop(L, 1);
}

void addFormatted(lua_State *L, Tolerance *t, bool departure, const Loss *loss, uint32_t line, uint32_t column,
                  const char *format, va_list args)
{
    t->departed = t->departed || departure;
    if (t->count < kListedWarnings) {
        lua_pushvfstring(L, format, args);
        appendWarning(L, t, line, column);
        return;
    }
    t->leftOut += 1;
    if (loss != nullptr) {
        lua_pushfstring(L, "%s %s", loss->what, loss->name);
        lua_rawseti(L, t->leftOutSlot, ++t->losses);
    }
}

}  // namespace

void addWarning(lua_State *L, Tolerance *t, uint32_t line, uint32_t column, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    addFormatted(L, t, false, nullptr, line, column, format, args);
    va_end(args);
}

void addDeparture(lua_State *L, Tolerance *t, uint32_t line, uint32_t column, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    addFormatted(L, t, true, nullptr, line, column, format, args);
    va_end(args);
}

void addLoss(lua_State *L, Tolerance *t, bool departure, Loss loss, uint32_t line, uint32_t column,
             const char *format, ...)
{
    va_list args;
    va_start(args, format);
    addFormatted(L, t, departure, &loss, line, column, format, args);
    va_end(args);
}

void finishWarnings(lua_State *L, Tolerance *t, uint32_t line, uint32_t column)
{
    if (t->leftOut == 0)
        return;
    luaL_Buffer b;
    luaL_buffinit(L, &b);
    lua_pushfstring(L, "left out %f more warnings", t->leftOut);
    luaL_addvalue(&b);
    for (int i = 1; i <= t->losses; ++i) {
        luaL_addstring(&b, i == 1 ? "; they skip " : ", ");
        lua_rawgeti(L, t->leftOutSlot, i);
        luaL_addvalue(&b);
    }
    luaL_pushresult(&b);
    appendWarning(L, t, line, column);
}

Quoted quote(const char *text, size_t length)
{
    Quoted q;
    size_t n = length;
    const bool cut = n > kQuotedLength;
    if (cut) {
        n = kQuotedLength;
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;  // do not split a UTF-8 character
    }
    size_t out = 0;
    q.text[out++] = '"';
    for (size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        q.text[out++] = c < 0x20 || c == 0x7F ? ' ' : static_cast<char>(c);
    }
    if (cut) {
        std::memcpy(q.text + out, "...", 3);
        out += 3;
    }
    q.text[out++] = '"';
    q.text[out] = '\0';
    return q;
}

Quoted quoteToken(const LexerCore *core)
{
    if (core->tokenCode == TOK_EOF) {
        Quoted q;
        std::memcpy(q.text, "end of file", sizeof "end of file");
        return q;
    }
    // A string constant's text ends at a zero byte, as the string stored from it does.
    const size_t length = core->tokenCode == TOK_STRING ? std::strlen(core->text) : core->textLength;
    return quote(core->text, length);
}

Quoted quoteField(lua_State *L, int idx, int key)
{
    lua_pushvalue(L, key);
    lua_rawget(L, idx < 0 ? idx - 1 : idx);
    Quoted q;
    q.text[0] = '\0';
    if (lua_type(L, -1) == LUA_TSTRING) {
        size_t length = 0;
        const char *text = lua_tolstring(L, -1, &length);
        q = quote(text, length);
    }
    lua_pop(L, 1);
    return q;
}

}  // namespace vexo::io
