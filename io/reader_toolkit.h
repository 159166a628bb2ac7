// The toolkit of the file readers' parsers: the one funnel every syntax error goes
// through, the parse state over a tokenizer with its token step and expectations, the
// interned names of a result table and the setters that build it on the Lua stack.
// Errors are Lua errors (longjmps), so no frame between lua_pcall and a parser may own
// a C++ object with a destructor: everything here is plain data.
#pragma once

#include <cstdint>

#include <lua.hpp>

#include "read_recovery.h"
#include "reader_entry.h"

namespace vexo::io {

// ---- Errors ------------------------------------------------------------------------

[[noreturn]] void raiseError(lua_State *L);  // the value on top of the stack
[[noreturn]] void raiseNoMemory(void *context);  // context: the lua_State
[[noreturn]] void raiseReadError(lua_State *L, const char *prefix);

// Every syntax error of every reader ends here: "PREFIX: (line, column): 'expected'
// expected but found 'found'", or the read error when the input could not be read to
// its end (what was found is then no text of the file).
[[noreturn]] void raiseSyntaxError(lua_State *L, const LexInput *input, const char *prefix, uint32_t line,
                                   uint32_t column, const char *expected, const char *found);

// The instance in the running parse function's upvalue; raises "invalid parser
// instance" when there is none.
template <class Lexer>
ParserInstance<Lexer> *parserInstance(lua_State *L)
{
    auto *parser = static_cast<ParserInstance<Lexer> *>(lua_touserdata(L, lua_upvalueindex(1)));
    if (parser == nullptr || parser->lexer == nullptr) {
        lua_pushliteral(L, "invalid parser instance");
        raiseError(L);
    }
    return parser;
}

// ---- The parse state over a tokenizer ----------------------------------------------------

// Each reader's Parser derives from it and adds what its grammar needs.
template <class Lexer>
struct ParseState {
    lua_State *L;
    Lexer *lexer;
    LexerCore *core;
    const char *prefix;  // of every message: "DBC-Import"
    int32_t token;       // code of the current token
    int depth;           // tolerant: '{' not yet closed before the current token
    Tolerance tol;
};

// The syntax error at the current token; reading tolerantly, it jumps to the innermost
// recovery point instead.
template <class Lexer>
[[noreturn]] void fail(ParseState<Lexer> *p, const char *expected)
{
    if (p->tol.innermost != nullptr && !p->core->input->readError)
        jumpToRecovery(&p->tol, expected);
    raiseSyntaxError(p->L, p->core->input, p->prefix, p->core->tokenLine, p->core->tokenColumn, expected,
                     p->core->text);
}

template <class Lexer, class... Args>
void depart(ParseState<Lexer> *p, const char *format, Args... args)
{
    addDeparture(p->L, &p->tol, p->core->tokenLine, p->core->tokenColumn, format, args...);
}

template <class Lexer, class... Args>
void note(ParseState<Lexer> *p, const char *format, Args... args)
{
    addWarning(p->L, &p->tol, p->core->tokenLine, p->core->tokenColumn, format, args...);
}

// next() reading tolerantly: the brace depth (in a format with nested braces) and the
// warning about text that the end of the file closes come along; kept out of line, so
// strict reading pays nothing.
template <class Lexer>
[[gnu::noinline]] int32_t nextTolerant(ParseState<Lexer> *p)
{
    if constexpr (Lexer::kNestsBraces) {
        if (p->token == '{')
            ++p->depth;
        else if (p->token == '}' && p->depth > 0)
            --p->depth;
    }
    p->token = nextToken(p->lexer);
    // A string constant or a comment that the end of the file closes holds all the
    // text after it.
    if (p->core->tokenUnclosed)
        note(p, p->token == TOK_STRING ? "read a string constant that runs to the end of the file"
                                       : "read a comment that runs to the end of the file");
    return p->token;
}

// Reads the next token and makes it current.
template <class Lexer>
int32_t next(ParseState<Lexer> *p)
{
    ++p->tol.tokens;
    if (p->tol.on)
        return nextTolerant(p);
    return p->token = nextToken(p->lexer);
}

// The current token must be code.
template <class Lexer>
void check(ParseState<Lexer> *p, int32_t code, const char *expected)
{
    if (p->token != code)
        fail(p, expected);
}

// The next token must be code.
template <class Lexer>
void expect(ParseState<Lexer> *p, int32_t code, const char *expected)
{
    if (next(p) != code)
        fail(p, expected);
}

// Tolerant reading, only where a strict read fails: the current token (a keyword, or
// digits that letters follow: 2017_5, 1BitDig) is taken as a name.
template <class Lexer>
void takeKeywordAsName(ParseState<Lexer> *p)
{
    depart(p, "read keyword %s as a name", quoteToken(p->core).text);
    p->token = p->core->tokenCode = Lexer::kIdentifier;
}

template <class Lexer>
bool acceptDigitName(ParseState<Lexer> *p)
{
    if (!p->tol.on || !extendNumberToWord(p->core))
        return false;
    depart(p, "read name %s, which begins with a digit", quoteToken(p->core).text);
    p->token = p->core->tokenCode = Lexer::kIdentifier;
    return true;
}

// ---- The result table ----------------------------------------------------------------
// Its keys and constant values are interned once per read and kept in the lowest stack
// slots (slot = the reader's name number), so that storing a field costs a stack copy
// instead of hashing and looking up the key text again. Each reader lists its names
// once, as VEXO_NAME(kId, "text"), and VEXO_SLOT(kId) for the slots of a tolerant read's
// lists; kNameCount, after the last, is the slot of the table itself. The first name
// of every reader is "tag". A reader's list is a macro of two macro arguments:
//   #define NAMES(NAME, SLOT) NAME(kTag, "tag") NAME(kId, "id") SLOT(kWarnings)
//   VEXO_READER_NAMES(NAMES);
// which defines enum Name, the texts and kNames (below); the list must hold kTag
// first and kLine, kColumn, kText, kDb, kWarnings and kLeftOut somewhere.
constexpr int kTagName = 1;
#define VEXO_NAME_ENUM(id, text) id,
#define VEXO_SLOT_ENUM(id) id,
#define VEXO_NAME_TEXT(id, text) text,
#define VEXO_SLOT_TEXT(id) nullptr,
#define VEXO_READER_NAMES(LIST)                                                                 \
    enum Name : int { kNoName, LIST(VEXO_NAME_ENUM, VEXO_SLOT_ENUM) kNameCount };                \
    const char *const kNameTexts[] = {nullptr, LIST(VEXO_NAME_TEXT, VEXO_SLOT_TEXT)};           \
    static_assert(kTag == kTagName, "the first name is the tag");                                \
    const NameList kNames = {kNameTexts, kNameCount, kWarnings, kLeftOut, kLine, kColumn, kText, kDb}

// A reader's names: their texts (null for the list slots), kNameCount, and the slots
// that tolerant reading and the database table use.
struct NameList {
    const char *const *texts;
    int count;          // kNameCount, also the slot of the database table
    int warnings;       // the warning list
    int leftOut;        // what the warnings past the list's limit skip
    int line, column, text;  // the keys of a warning
    int database;       // the tag value of the database table
};

// Pushes names 1 to count - 1: the texts, and for the list slots (no text) a new table
// when reading tolerantly, else nil. extra: stack room the parse needs beyond them.
void pushNames(lua_State *L, const NameList &names, bool tolerant, int extra);

// Starts a parse of the instance in the upvalue: the tokenizer's memory failures become
// Lua's memory error; tolerant reading is on when the flags ask for it (and then has
// 16 stack slots more); the names are pushed and the database table above them.
template <class Lexer>
void startParse(ParseState<Lexer> *p, lua_State *L, const char *prefix, const NameList &names, int extra,
                int arraySize)
{
    ParserInstance<Lexer> *parser = parserInstance<Lexer>(L);
    p->L = L;
    p->lexer = parser->lexer;
    p->core = &parser->lexer->core;
    p->prefix = prefix;
    p->token = TOK_EOF;
    p->tol.on = (parser->flags & VEXO_IMPORT_TOLERANT) != 0;
    p->tol.listSlot = names.warnings;
    p->tol.lineKey = names.line;
    p->tol.columnKey = names.column;
    p->tol.textKey = names.text;
    p->tol.leftOutSlot = names.leftOut;
    p->core->onNoMemory = raiseNoMemory;
    p->core->noMemoryContext = L;
    pushNames(L, names, p->tol.on, p->tol.on ? extra + 16 : extra);
    lua_createtable(L, arraySize, 1);
    lua_pushvalue(L, kTagName);
    lua_pushvalue(L, names.database);
    lua_rawset(L, -3);
}

// Ends a parse: returns the database table and, reading tolerantly, the warning list.
inline int finishParse(lua_State *L, bool tolerant, const NameList &names)
{
    lua_settop(L, names.count);
    if (!tolerant)
        return 1;
    lua_pushvalue(L, names.warnings);
    return 2;
}

// Field setters for the table on top of the stack; keys and values are name slots.
template <class Lexer>
void setName(ParseState<Lexer> *p, int key, int value)
{
    lua_pushvalue(p->L, key);
    lua_pushvalue(p->L, value);
    lua_rawset(p->L, -3);
}

template <class Lexer>
void setNumber(ParseState<Lexer> *p, int key, double value)
{
    lua_pushvalue(p->L, key);
    lua_pushnumber(p->L, value);
    lua_rawset(p->L, -3);
}

// The current token's text; Lua strings end at a zero byte, which only string
// constants can contain.
template <class Lexer>
void pushTokenText(ParseState<Lexer> *p)
{
    if (p->token == TOK_STRING)
        lua_pushstring(p->L, p->core->text);
    else
        lua_pushlstring(p->L, p->core->text, p->core->textLength);
}

template <class Lexer>
void setTokenText(ParseState<Lexer> *p, int key)
{
    lua_pushvalue(p->L, key);
    pushTokenText(p);
    lua_rawset(p->L, -3);
}

// Stores the value on top of the stack under key in the table below it.
template <class Lexer>
void setTable(ParseState<Lexer> *p, int key)
{
    lua_pushvalue(p->L, key);
    lua_insert(p->L, -2);
    lua_rawset(p->L, -3);
}

// Appends the value on top of the stack to the table below it under the next key.
template <class Lexer>
void appendTo(ParseState<Lexer> *p, int *count)
{
    lua_rawseti(p->L, -2, ++*count);
}

// A new element table {tag = tag} on top of the stack.
template <class Lexer>
void newElement(ParseState<Lexer> *p, int tag, int hashSize)
{
    lua_createtable(p->L, 0, hashSize);
    setName(p, kTagName, tag);
}

}  // namespace vexo::io
