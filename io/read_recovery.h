// Tolerant reading, shared by the DBC and LDF readers: recovery points that a syntax
// error jumps back to instead of ending the read, and the warning list that says what
// was read differently or skipped. The jump is a longjmp, as Lua's own errors are, so
// every frame between a recovery point and the failure holds plain data only.
// Lua 5.1 hashes a long string from 32 of its characters, so warnings that differ
// in a name alone tend to share a hash chain, and interning n of them costs n^2: the
// list therefore stops at kListedWarnings, and one closing warning counts the rest and
// names every frame, signal or entry they skip (short texts, hashed whole).
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>

#include <lua.hpp>

#include "lex_rules.h"

namespace vexo::io {

struct RecoveryPoint {
    std::jmp_buf jump;
};

struct Tolerance {
    bool on;                     // tolerant mode; everything below is unused without it
    bool departed;               // something strict reading rejects has been met
    RecoveryPoint *innermost;    // where a syntax error goes; null: it ends the read
    const char *expected;        // expectation text of the syntax error that jumped
    uint64_t tokens;             // tokens read so far, to see that a recovery moves on
    int listSlot;                // stack slots of the warning list and its three keys
    int lineKey;
    int columnKey;
    int textKey;
    int leftOutSlot;             // stack slot of the names skipped by warnings left out
    int count;                   // warnings in the list
    int losses;                  // names in the left-out table
    double leftOut;              // warnings past the limit
};

constexpr int kListedWarnings = 1000;

// Hands a syntax error to the innermost recovery point.
[[noreturn]] void jumpToRecovery(Tolerance *t, const char *expected);

// Runs body() under a new recovery point. Returns true when body returned, false when a
// syntax error jumped out of it; the Lua stack is then as the failure left it, for the
// caller to read the partial element from and trim.
template <class Body>
bool attempt(Tolerance *t, Body &&body)
{
    RecoveryPoint here;
    RecoveryPoint *const outer = t->innermost;
    t->innermost = &here;
    if (setjmp(here.jump) != 0) {
        t->innermost = outer;
        return false;
    }
    body();
    t->innermost = outer;
    return true;
}

// Appends the warning {line =, column =, text =} to the list; the text is formatted as
// by lua_pushfstring. A departure also marks the read as one strict reading rejects.
void addWarning(lua_State *L, Tolerance *t, uint32_t line, uint32_t column, const char *format, ...);
void addDeparture(lua_State *L, Tolerance *t, uint32_t line, uint32_t column, const char *format, ...);

// The same for a warning about something skipped: what it is ("frame") and its name
// (quoted), kept for the closing warning when the list is full.
struct Loss {
    const char *what;
    const char *name;
};
void addLoss(lua_State *L, Tolerance *t, bool departure, Loss loss, uint32_t line, uint32_t column,
             const char *format, ...);

// Ends the list at the given position (the end of the file): when warnings were left
// out, one more says how many and names what they skipped.
void finishWarnings(lua_State *L, Tolerance *t, uint32_t line, uint32_t column);

// A text for a warning: quoted, cut to kQuotedLength bytes (on a UTF-8 character
// boundary) with "..." after it, control characters shown as blanks.
constexpr size_t kQuotedLength = 60;
struct Quoted {
    char text[kQuotedLength + 8];
};
Quoted quote(const char *text, size_t length);
// The current token: its quoted text, or the words end of file.
Quoted quoteToken(const LexerCore *core);

// The quoted text of the string field key (a stack slot holding the key) of the table
// at idx; an empty text (not even quotes) when the field is no string.
Quoted quoteField(lua_State *L, int idx, int key);

}  // namespace vexo::io
