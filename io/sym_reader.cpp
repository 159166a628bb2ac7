// The SYM reader: symbol files (format versions 5.0 and 6.0) into a Lua table built
// directly on the stack. The format is line-oriented and read by context (a unit runs to
// the next blank, "0Ah" is a number where a value is due), so the parser scans characters
// itself. Syntax errors are raised as Lua errors (longjmp): no frame between lua_pcall
// and the parser may own a C++ object with a destructor, so everything here is plain data.
#include "sym_reader.h"

#include <cstdlib>
#include <cstring>

#include <lua.hpp>

#include "reader_toolkit.h"

namespace vexo::io {

namespace {

// Fixed stack slots of the parse: the result table, the comment lines waiting for the
// next enumeration (a string or nil) and the message being read (a table or nil).
constexpr int kResult = 1;
constexpr int kPending = 2;
constexpr int kMessage = 3;

enum Section { kHeader, kEnums, kSignals, kMessages };

struct Parser {
    lua_State *L;
    SymLexer *lx;
    LexerCore *core;
    int section;
    const char *sectionName;  // SEND, RECEIVE or SENDRECEIVE while section is kMessages
    int elements;             // entries of the result table so far
};

int cur(const Parser *p)
{
    return p->lx->c;
}

// Consumes the current character; the next one becomes current with its position
// (a line end is placed one column past the last character of its line).
void advance(Parser *p)
{
    p->lx->line = p->core->line;
    p->lx->column = p->core->column + 1;
    p->lx->c = readChar(p->core);
}

int nextByte(const Parser *p)
{
    return peekLexByte(p->core->input);
}

bool isLineEnd(int c)
{
    return c == '\n' || c == kEndOfInput;
}

bool isBlank(int c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\b' || c == '\r';
}

bool isLetter(int c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

// Characters of an unquoted name: letters, digits, '_' and every byte above 127 (names
// in UTF-8 or a code page).
bool isNameChar(int c)
{
    return hasClass(c, kClassWord) || c >= 0x80;
}

// Characters of a numeric lexeme: what a number may hold, so that "1.2.3" or "12x" is
// read whole and refused whole.
bool isNumberChar(int c)
{
    return isNameChar(c) || c == '.' || c == '+' || c == '-';
}

bool isWordChar(int c)
{
    return !isBlank(c) && !isLineEnd(c);
}

bool atComment(const Parser *p)
{
    return cur(p) == '/' && nextByte(p) == '/';
}

void skipBlanks(Parser *p)
{
    while (isBlank(cur(p)))
        advance(p);
}

template <class Pred>
void collect(Parser *p, Pred pred)
{
    clearText(p->core);
    while (pred(cur(p))) {
        appendText(p->core, cur(p));
        advance(p);
    }
}

struct Position {
    uint32_t line;
    uint32_t column;
};

Position here(const Parser *p)
{
    return {p->lx->line, p->lx->column};
}

constexpr const char *kPrefix = "SYM-Import";

[[noreturn]] void failAt(Parser *p, Position at, const char *expected, const char *found)
{
    raiseSyntaxError(p->L, p->core->input, kPrefix, at.line, at.column, expected, found);
}

// Fails at the first character after blanks; what was found is its word (at most 40
// characters), or "end of line" or "end of file".
[[noreturn]] void fail(Parser *p, const char *expected)
{
    skipBlanks(p);
    const Position at = here(p);
    if (cur(p) == kEndOfInput)
        failAt(p, at, expected, "end of file");
    if (cur(p) == '\n')
        failAt(p, at, expected, "end of line");
    clearText(p->core);
    for (int n = 0; n < 40 && isWordChar(cur(p)); ++n) {
        appendText(p->core, cur(p));
        advance(p);
    }
    failAt(p, at, expected, p->core->text);
}

void expectChar(Parser *p, int c, const char *expected)
{
    if (cur(p) != c)
        fail(p, expected);
    advance(p);
}

void pushText(Parser *p)
{
    lua_pushlstring(p->L, p->core->text, p->core->textLength);
}

// A double-quoted text on one line (no escapes); the current character is the quote.
void pushQuoted(Parser *p)
{
    advance(p);
    collect(p, [](int c) { return c != '"' && !isLineEnd(c); });
    if (cur(p) != '"')
        fail(p, "\"");
    advance(p);
    pushText(p);
}

// A name: quoted, or a run of name characters. Neither may be empty.
void pushName(Parser *p, const char *expected)
{
    const Position at = here(p);
    if (cur(p) == '"') {
        pushQuoted(p);
        if (lua_objlen(p->L, -1) == 0)
            failAt(p, at, expected, "\"\"");
        return;
    }
    collect(p, isNameChar);
    if (p->core->textLength == 0)
        fail(p, expected);
    pushText(p);
}

// A run of characters up to the next blank or line end (units, raw values).
void pushWord(Parser *p)
{
    if (cur(p) == '"') {
        pushQuoted(p);
        return;
    }
    collect(p, isWordChar);
    pushText(p);
}

// The value of a decimal number text, or false when the text is no number:
// [+-] digits [. digits] [(e|E) [+-] digits], with at least one mantissa digit.
bool decimalValue(const char *text, uint32_t length, double *value)
{
    uint32_t i = 0;
    if (i < length && (text[i] == '+' || text[i] == '-'))
        ++i;
    uint32_t digits = 0;
    while (i < length && isDigit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < length && text[i] == '.') {
        ++i;
        while (i < length && isDigit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < length && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < length && (text[i] == '+' || text[i] == '-'))
            ++i;
        uint32_t exponent = 0;
        while (i < length && isDigit(text[i])) {
            ++i;
            ++exponent;
        }
        if (exponent == 0)
            return false;
    }
    if (i != length)
        return false;
    *value = decimalToDouble(text, length);
    return true;
}

// The value of an integer text, or false when the text is none: decimal digits, or
// hexadecimal digits with the suffix h or H ("620h", "DFh"), optionally after a minus
// sign. At most 13 significant digits, so that every value is exact as a double.
bool integerValue(const char *text, uint32_t length, bool allowSign, double *value)
{
    uint32_t i = 0;
    const bool negative = allowSign && length > 0 && text[0] == '-';
    if (negative)
        ++i;
    const bool hex = length > i + 1 && (text[length - 1] == 'h' || text[length - 1] == 'H');
    const uint32_t end = hex ? length - 1 : length;
    if (end == i)
        return false;
    const int radix = hex ? 16 : 10;
    while (i + 1 < end && text[i] == '0')
        ++i;
    if (end - i > 13)
        return false;
    double v = 0;
    for (; i < end; ++i) {
        const int d = hexDigitValue(text[i]);
        if (d < 0 || d >= radix)
            return false;
        v = v * radix + d;
    }
    *value = negative ? -v : v;
    return true;
}

double readNumber(Parser *p, const char *expected)
{
    const Position at = here(p);
    collect(p, isNumberChar);
    double value = 0;
    if (!decimalValue(p->core->text, p->core->textLength, &value)) {
        if (p->core->textLength == 0)
            fail(p, expected);
        failAt(p, at, expected, p->core->text);
    }
    return value;
}

double readInteger(Parser *p, const char *expected, bool allowSign)
{
    const Position at = here(p);
    clearText(p->core);
    if (allowSign && cur(p) == '-') {
        appendText(p->core, '-');
        advance(p);
    }
    while (isNameChar(cur(p))) {
        appendText(p->core, cur(p));
        advance(p);
    }
    double value = 0;
    if (!integerValue(p->core->text, p->core->textLength, allowSign, &value)) {
        if (p->core->textLength == 0)
            fail(p, expected);
        failAt(p, at, expected, p->core->text);
    }
    return value;
}

void setNumber(Parser *p, int table, const char *key, double value)
{
    lua_pushnumber(p->L, value);
    lua_setfield(p->L, table, key);
}

void setString(Parser *p, int table, const char *key, const char *value)
{
    lua_pushstring(p->L, value);
    lua_setfield(p->L, table, key);
}

// Moves the value on top of the stack into table[key].
void setTop(Parser *p, int table, const char *key)
{
    lua_setfield(p->L, table, key);
}

bool hasField(Parser *p, int table, const char *key)
{
    lua_getfield(p->L, table, key);
    const bool present = !lua_isnil(p->L, -1);
    lua_pop(p->L, 1);
    return present;
}

// A new table on top of the stack with its tag and line; returns its index.
int newElement(Parser *p, const char *tag, Position at)
{
    lua_createtable(p->L, 0, 8);
    const int t = lua_gettop(p->L);
    setString(p, t, "tag", tag);
    setNumber(p, t, "line", at.line);
    return t;
}

// Appends the table at index t to the result (it stays on the stack).
void appendElement(Parser *p, int t)
{
    lua_pushvalue(p->L, t);
    lua_rawseti(p->L, kResult, ++p->elements);
}

void appendTo(Parser *p, int list, int t)
{
    lua_pushvalue(p->L, t);
    lua_rawseti(p->L, list, static_cast<int>(lua_objlen(p->L, list)) + 1);
}

void clearPending(Parser *p)
{
    lua_pushnil(p->L);
    lua_replace(p->L, kPending);
}

// Reads a comment from its two-character opener to the line end into the text buffer;
// answers its length without trailing blanks.
uint32_t readCommentText(Parser *p)
{
    advance(p);
    advance(p);
    skipBlanks(p);
    collect(p, [](int c) { return !isLineEnd(c); });
    uint32_t n = p->core->textLength;
    while (n > 0 && isBlank(static_cast<unsigned char>(p->core->text[n - 1])))
        --n;
    return n;
}

// A trailing comment ("// text" up to the line end) into table[key] when table is not
// 0, then the line end. The comment text loses its blanks at both ends.
void endEntry(Parser *p, int table, const char *key = "comment")
{
    skipBlanks(p);
    if (atComment(p)) {
        const uint32_t n = readCommentText(p);
        if (table != 0) {
            lua_pushlstring(p->L, p->core->text, n);
            setTop(p, table, key);
        }
    }
    if (cur(p) == '\n')
        advance(p);
    else if (cur(p) != kEndOfInput)
        fail(p, "end of line");
}

// Flags ("-m", "-h" ...) and, where options is set, options ("/u:unit", "/f:1.5" ...) up
// to the end of the entry. Flag letters go to table[flagsKey] in the order given.
void readAttributes(Parser *p, int table, bool options, const char *flagsKey = "flags")
{
    char flags[33];
    size_t nflags = 0;
    for (;;) {
        skipBlanks(p);
        if (cur(p) == '-' && isLetter(nextByte(p))) {
            advance(p);
            while (isLetter(cur(p))) {
                if (nflags + 1 < sizeof flags)
                    flags[nflags++] = static_cast<char>(cur(p));
                advance(p);
            }
            continue;
        }
        if (!options || cur(p) != '/' || atComment(p))
            break;
        advance(p);
        const Position keyAt = here(p);
        collect(p, isLetter);
        if (p->core->textLength == 0)
            fail(p, "option name");
        char key[16];
        std::strncpy(key, p->core->text, sizeof key - 1);
        key[sizeof key - 1] = '\0';
        const bool longKey = p->core->textLength >= sizeof key;
        expectChar(p, ':', ":");
        if (longKey) {
            failAt(p, keyAt, "option name", key);
        } else if (std::strcmp(key, "u") == 0) {
            pushWord(p);
            setTop(p, table, "unit");
        } else if (std::strcmp(key, "f") == 0) {
            setNumber(p, table, "factor", readNumber(p, "number"));
        } else if (std::strcmp(key, "o") == 0) {
            setNumber(p, table, "offset", readNumber(p, "number"));
        } else if (std::strcmp(key, "min") == 0) {
            setNumber(p, table, "min", readNumber(p, "number"));
        } else if (std::strcmp(key, "max") == 0) {
            setNumber(p, table, "max", readNumber(p, "number"));
        } else if (std::strcmp(key, "d") == 0) {
            // A number, or a text (quoted, or raw as in "rAB" for raw bytes).
            pushWord(p);
            size_t length = 0;
            const char *text = lua_tolstring(p->L, -1, &length);
            double value = 0;
            if (decimalValue(text, static_cast<uint32_t>(length), &value)) {
                lua_pop(p->L, 1);
                setNumber(p, table, "default", value);
            } else {
                setTop(p, table, "defaulttext");
            }
        } else if (std::strcmp(key, "e") == 0) {
            pushName(p, "enumeration name");
            setTop(p, table, "enum");
        } else if (std::strcmp(key, "ln") == 0) {
            pushWord(p);
            setTop(p, table, "longname");
        } else if (std::strcmp(key, "p") == 0) {
            setNumber(p, table, "decimals", readInteger(p, "integer", false));
        } else if (std::strcmp(key, "spn") == 0) {
            setNumber(p, table, "spn", readInteger(p, "integer", false));
        } else {
            lua_getfield(p->L, table, "options");
            if (lua_isnil(p->L, -1)) {
                lua_pop(p->L, 1);
                lua_newtable(p->L);
                lua_pushvalue(p->L, -1);
                setTop(p, table, "options");
            }
            pushWord(p);
            lua_setfield(p->L, -2, key);
            lua_pop(p->L, 1);
        }
    }
    if (nflags > 0) {
        lua_getfield(p->L, table, flagsKey);
        if (lua_isstring(p->L, -1)) {
            lua_pushlstring(p->L, flags, nflags);
            lua_concat(p->L, 2);
        } else {
            lua_pop(p->L, 1);
            lua_pushlstring(p->L, flags, nflags);
        }
        setTop(p, table, flagsKey);
    }
}

// "Name(value="text", low..high="text", ...)" after "Enum=" or "enum ": one entry per
// value in file order; a comment after an entry belongs to it, and so does the comment
// after the closing parenthesis (to the last entry; to the enumeration when it is empty).
void parseEnum(Parser *p, Position at)
{
    lua_State *L = p->L;
    const int e = newElement(p, "enum", at);
    pushName(p, "enumeration name");
    setTop(p, e, "name");
    if (!lua_isnil(L, kPending)) {
        lua_pushvalue(L, kPending);
        setTop(p, e, "comment");
        clearPending(p);
    }
    skipBlanks(p);
    expectChar(p, '(', "(");
    int entries = 0;
    int last = 0;  // stack index of the last entry, 0 before the first
    for (;;) {
        skipBlanks(p);
        if (atComment(p) || cur(p) == '\n') {
            // A comment after "value=text," belongs to that entry; line ends are free.
            endEntry(p, last);
            continue;
        }
        if (cur(p) == ')')
            break;
        if (entries > 0) {
            if (cur(p) != ',')
                fail(p, ", or )");
            advance(p);
            skipBlanks(p);
            if (atComment(p) || cur(p) == '\n') {
                endEntry(p, last);
                skipBlanks(p);
                while (cur(p) == '\n' || atComment(p)) {
                    endEntry(p, 0);
                    skipBlanks(p);
                }
            }
        }
        if (last != 0)
            lua_settop(L, e);
        const Position valueAt = here(p);
        lua_createtable(L, 0, 4);
        last = lua_gettop(L);
        setNumber(p, last, "value", readInteger(p, "integer", true));
        setNumber(p, last, "line", valueAt.line);
        if (cur(p) == '.') {
            advance(p);
            expectChar(p, '.', "..");
            setNumber(p, last, "to", readInteger(p, "integer", true));
        }
        skipBlanks(p);
        expectChar(p, '=', "=");
        skipBlanks(p);
        if (cur(p) != '"')
            fail(p, "string constant");
        pushQuoted(p);
        setTop(p, last, "text");
        lua_pushvalue(L, last);
        lua_rawseti(L, e, ++entries);
    }
    advance(p);
    readAttributes(p, e, false);
    endEntry(p, last != 0 ? last : e);
    lua_settop(L, e);
    appendElement(p, e);
    lua_pop(L, 1);
}

// "Sig=Name type [length] attributes" in {SIGNALS}.
void parseSignalDefinition(Parser *p, Position at)
{
    const int s = newElement(p, "signal", at);
    pushName(p, "signal name");
    setTop(p, s, "name");
    if (!isBlank(cur(p)))
        fail(p, "blank");
    skipBlanks(p);
    pushName(p, "signal type");
    setTop(p, s, "type");
    skipBlanks(p);
    if (isDigit(cur(p)))
        setNumber(p, s, "length", readInteger(p, "integer", false));
    readAttributes(p, s, true);
    endEntry(p, s);
    appendElement(p, s);
    lua_pop(p->L, 1);
}

// "start,length" of a variable or multiplexer.
void readPlacement(Parser *p, int t)
{
    setNumber(p, t, "start", readInteger(p, "start bit", false));
    expectChar(p, ',', ",");
    setNumber(p, t, "length", readInteger(p, "bit length", false));
}

// Gives key a value once per message block: a second one is an error at the key.
void checkOnce(Parser *p, int message, const char *field, Position at, const char *key)
{
    if (hasField(p, message, field))
        failAt(p, at, "message entry not given before", key);
}

void parseMessageEntry(Parser *p, const char *key, Position at)
{
    lua_State *L = p->L;
    if (lua_isnil(L, kMessage))
        failAt(p, at, "message header [name]", key);
    const int m = kMessage;
    if (std::strcmp(key, "ID") == 0) {
        checkOnce(p, m, "id", at, key);
        setNumber(p, m, "id", readInteger(p, "identifier", false));
        if (cur(p) == '-') {
            advance(p);
            setNumber(p, m, "idend", readInteger(p, "identifier", false));
        }
        endEntry(p, m);
    } else if (std::strcmp(key, "Type") == 0) {
        checkOnce(p, m, "type", at, key);
        pushName(p, "frame type");
        setTop(p, m, "type");
        endEntry(p, m);
    } else if (std::strcmp(key, "Len") == 0 || std::strcmp(key, "DLC") == 0) {
        checkOnce(p, m, "length", at, key);
        setNumber(p, m, "length", readInteger(p, "length", false));
        endEntry(p, m);
    } else if (std::strcmp(key, "CycleTime") == 0 || std::strcmp(key, "Timeout") == 0 ||
               std::strcmp(key, "MinInterval") == 0 || std::strcmp(key, "Color") == 0) {
        char field[32];
        std::strcpy(field, key);
        for (char *c = field; *c != '\0'; ++c)
            *c = static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
        checkOnce(p, m, field, at, key);
        setNumber(p, m, field, readInteger(p, "integer", false));
        std::strcat(field, "flags");
        readAttributes(p, m, false, field);
        endEntry(p, m);
    } else if (std::strcmp(key, "BRS") == 0) {
        checkOnce(p, m, "brs", at, key);
        pushName(p, "True or False");
        setTop(p, m, "brs");
        endEntry(p, m);
    } else if (std::strcmp(key, "Mux") == 0) {
        checkOnce(p, m, "mux", at, key);
        const int x = newElement(p, "mux", at);
        pushName(p, "multiplexer name");
        setTop(p, x, "name");
        skipBlanks(p);
        readPlacement(p, x);
        skipBlanks(p);
        setNumber(p, x, "value", readInteger(p, "multiplexer value", false));
        readAttributes(p, x, true);
        endEntry(p, x);
        setTop(p, m, "mux");
    } else if (std::strcmp(key, "Var") == 0 || std::strcmp(key, "Sig") == 0) {
        const bool variable = key[0] == 'V';
        const int v = newElement(p, variable ? "var" : "sig", at);
        pushName(p, variable ? "variable name" : "signal name");
        setTop(p, v, "name");
        if (!isBlank(cur(p)))
            fail(p, "blank");
        skipBlanks(p);
        if (variable) {
            pushName(p, "variable type");
            setTop(p, v, "type");
            skipBlanks(p);
            readPlacement(p, v);
        } else {
            setNumber(p, v, "start", readInteger(p, "start bit", false));
        }
        readAttributes(p, v, true);
        endEntry(p, v);
        appendTo(p, m, v);
        lua_pop(L, 1);
    } else {
        failAt(p, at, "message entry (ID, Type, Len, DLC, CycleTime, Timeout, MinInterval, Color, BRS, Mux, Var "
                      "or Sig)", key);
    }
}

void parseSection(Parser *p)
{
    advance(p);
    const Position at = here(p);
    collect(p, isLetter);
    const char *names[] = {"ENUMS", "SIGNALS", "SEND", "RECEIVE", "SENDRECEIVE"};
    int found = -1;
    for (int i = 0; i < 5; ++i) {
        if (std::strcmp(p->core->text, names[i]) == 0)
            found = i;
    }
    if (found < 0) {
        if (p->core->textLength == 0)
            fail(p, "section name (ENUMS, SIGNALS, SEND, RECEIVE or SENDRECEIVE)");
        failAt(p, at, "section name (ENUMS, SIGNALS, SEND, RECEIVE or SENDRECEIVE)", p->core->text);
    }
    expectChar(p, '}', "}");
    endEntry(p, 0);
    p->section = found == 0 ? kEnums : found == 1 ? kSignals : kMessages;
    p->sectionName = names[found];
    lua_pushnil(p->L);
    lua_replace(p->L, kMessage);
}

void parseMessageHeader(Parser *p)
{
    lua_State *L = p->L;
    const Position at = here(p);
    advance(p);
    const int m = newElement(p, "message", at);
    setString(p, m, "section", p->sectionName);
    pushName(p, "message name");
    setTop(p, m, "name");
    expectChar(p, ']', "]");
    endEntry(p, m);
    appendElement(p, m);
    lua_replace(L, kMessage);
}

// "Key=value" before the first section: Title takes a quoted text, any other key the
// word that follows.
void parseHeaderEntry(Parser *p, const char *key, Position at)
{
    const int h = newElement(p, "header", at);
    setString(p, h, "key", key);
    if (std::strcmp(key, "Title") == 0) {
        if (cur(p) != '"')
            fail(p, "string constant");
        pushQuoted(p);
    } else {
        collect(p, isWordChar);
        if (p->core->textLength == 0)
            fail(p, "value");
        pushText(p);
    }
    setTop(p, h, "value");
    endEntry(p, h);
    appendElement(p, h);
    lua_pop(p->L, 1);
}

const char *expectedEntry(const Parser *p)
{
    switch (p->section) {
    case kEnums:
        return "enumeration (Enum=)";
    case kSignals:
        return "signal (Sig=)";
    case kMessages:
        return "message entry or [message name]";
    default:
        return "header entry (Key=value) or {section}";
    }
}

// A comment line of its own: kept for the enumeration that follows, if one does.
void readCommentLine(Parser *p)
{
    lua_State *L = p->L;
    const uint32_t n = readCommentText(p);
    if (lua_isnil(L, kPending)) {
        lua_pushlstring(L, p->core->text, n);
    } else {
        lua_pushvalue(L, kPending);
        lua_pushliteral(L, "\n");
        lua_pushlstring(L, p->core->text, n);
        lua_concat(L, 3);
    }
    lua_replace(L, kPending);
    if (cur(p) == '\n')
        advance(p);
}

void parseFile(Parser *p)
{
    char key[24];
    advance(p);
    for (;;) {
        skipBlanks(p);
        const int c = cur(p);
        if (c == kEndOfInput)
            break;
        if (c == '\n') {
            advance(p);
            continue;
        }
        if (atComment(p)) {
            readCommentLine(p);
            continue;
        }
        if (c == '{') {
            clearPending(p);
            parseSection(p);
            continue;
        }
        if (c == '[') {
            if (p->section != kMessages)
                fail(p, expectedEntry(p));
            clearPending(p);
            parseMessageHeader(p);
            continue;
        }
        const Position at = here(p);
        collect(p, isLetter);
        if (p->core->textLength == 0)
            fail(p, expectedEntry(p));
        if (p->core->textLength >= sizeof key)
            failAt(p, at, expectedEntry(p), p->core->text);
        std::memcpy(key, p->core->text, p->core->textLength + 1);
        if (p->section == kEnums && std::strcmp(key, "enum") == 0 && isBlank(cur(p))) {
            skipBlanks(p);
            parseEnum(p, at);
            continue;
        }
        skipBlanks(p);
        expectChar(p, '=', "=");
        skipBlanks(p);
        switch (p->section) {
        case kEnums:
            if (std::strcmp(key, "Enum") != 0)
                failAt(p, at, expectedEntry(p), key);
            parseEnum(p, at);
            break;
        case kSignals:
            if (std::strcmp(key, "Sig") != 0)
                failAt(p, at, expectedEntry(p), key);
            clearPending(p);
            parseSignalDefinition(p, at);
            break;
        case kMessages:
            clearPending(p);
            parseMessageEntry(p, key, at);
            break;
        default:
            clearPending(p);
            parseHeaderEntry(p, key, at);
            break;
        }
    }
    if (p->core->input->readError)
        raiseReadError(p->L, kPrefix);
}

}  // namespace

int parseSym(lua_State *L)
{
    SymLexer *lexer = parserInstance<SymLexer>(L)->lexer;
    Parser p{L, lexer, &lexer->core, kHeader, "", 0};
    p.core->onNoMemory = raiseNoMemory;
    p.core->noMemoryContext = L;
    lua_settop(L, 0);
    if (!lua_checkstack(L, 16))
        raiseNoMemory(L);
    lua_createtable(L, 0, 1);
    lua_pushliteral(L, "sym");
    lua_setfield(L, kResult, "tag");
    lua_pushnil(L);
    lua_pushnil(L);
    parseFile(&p);
    lua_settop(L, kResult);
    return 1;
}

int importSymStream(lua_State *L, FILE *stream)
{
    return readStream<SymLexer>(L, parseSym, stream, 0);
}

}  // namespace vexo::io

using namespace vexo::io;

int Vexo_importRawSYM(lua_State *L, const VexoChar *path)
{
    return L == nullptr ? 0 : readPath<SymLexer>(L, parseSym, path, 0);
}
