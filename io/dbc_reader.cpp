// The DBC reader: a recursive-descent parser over DbcLexer tokens that builds the
// database table directly on the Lua stack. Syntax errors are raised as Lua errors
// (longjmp), so no frame between lua_pcall and the parser may own a C++ object with a
// destructor: everything here is plain data, released by the caller after the call.
#include "dbc_reader.h"

#include <cstdlib>

#include <lua.hpp>

#include "reader_entry.h"
#include "vexo/io.h"

namespace vexo::io {

namespace {

using namespace dbc;

struct Parser {
    lua_State *L;
    DbcLexer *lexer;
    LexerCore *core;
    int32_t token;  // code of the current token
};

[[noreturn]] void raise(lua_State *L)
{
    lua_error(L);
    std::abort();  // lua_error does not return
}

[[noreturn]] void raiseNoMemory(void *context)
{
    auto *L = static_cast<lua_State *>(context);
    lua_pushliteral(L, "not enough memory");
    raise(L);
}

[[noreturn]] void raiseReadError(lua_State *L)
{
    lua_pushliteral(L, "DBC-Import: the file could not be read to its end");
    raise(L);
}

[[noreturn]] void fail(Parser *p, const char *expected)
{
    if (p->core->input->readError)
        raiseReadError(p->L);
    lua_pushfstring(p->L, "DBC-Import: (%d, %d): '%s' expected but found '%s'", static_cast<int>(p->core->tokenLine),
                    static_cast<int>(p->core->tokenColumn), expected, p->core->text);
    raise(p->L);
}

int32_t next(Parser *p)
{
    p->token = nextDbcToken(p->lexer);
    return p->token;
}

void expect(Parser *p, int32_t code, const char *expected)
{
    if (next(p) != code)
        fail(p, expected);
}

// The keys and constant values of the table, interned once per read and kept in
// the lowest stack slots (slot = enum value), so that storing a field costs a stack
// copy instead of hashing and looking up the key text again.
// ORDER NAME
enum Name : int {
    kTag = 1, kId, kFrameId, kDlc, kSender, kMode, kModeValue, kStartBit, kBitLen, kBigEndian, kSigned,
    kScale, kOffset, kMin, kMax, kUnit, kReceivers, kNtyp, kRefId, kFrame, kSignal, kText, kEnvVar,
    kValues, kTyp, kValue,
    kDb, kEcu, kComment, kAttrDef, kAttrDefault, kAttr,
    kBO, kSG, kBU, kEV, kModeLower, kModeUpper,
    kNameCount  // also the stack slot of the database table
};
// ORDER NAME
const char *const kNameTexts[] = {
    nullptr, "tag", "id", "frameid", "dlc", "sender", "mode", "modevalue", "startbit", "bitlen", "bigendian", "signed",
    "scale", "offset", "min", "max", "unit", "receivers", "ntyp", "refid", "frame", "signal", "text", "envvar",
    "values", "typ", "value",
    "db", "ecu", "comment", "attrdef", "attrdefault", "attr",
    "BO_", "SG_", "BU_", "EV_", "m", "M",
};
static_assert(sizeof kNameTexts / sizeof kNameTexts[0] == kNameCount, "one text per name");

// Field setters for the table on top of the stack.
void setName(Parser *p, Name key, Name value)
{
    lua_pushvalue(p->L, key);
    lua_pushvalue(p->L, value);
    lua_rawset(p->L, -3);
}

void setNumber(Parser *p, Name key, double value)
{
    lua_pushvalue(p->L, key);
    lua_pushnumber(p->L, value);
    lua_rawset(p->L, -3);
}

void setTrue(Parser *p, Name key)
{
    lua_pushvalue(p->L, key);
    lua_pushboolean(p->L, 1);
    lua_rawset(p->L, -3);
}

// The current token's text; Lua strings end at a zero byte, which only string
// constants can contain.
void pushTokenText(Parser *p)
{
    if (p->token == TOK_STRING)
        lua_pushstring(p->L, p->core->text);
    else
        lua_pushlstring(p->L, p->core->text, p->core->textLength);
}

void setTokenText(Parser *p, Name key)
{
    lua_pushvalue(p->L, key);
    pushTokenText(p);
    lua_rawset(p->L, -3);
}

// Stores the table on top of the stack under key in the table below it.
void setTable(Parser *p, Name key)
{
    lua_pushvalue(p->L, key);
    lua_insert(p->L, -2);
    lua_rawset(p->L, -3);
}

// Reads the next token as an unsigned integer into a number field.
void expectUnsigned(Parser *p, Name key, const char *expected)
{
    expect(p, TOK_UNSIGNED_INT, expected);
    setNumber(p, key, p->core->tokenValue.u);
}

void expectIdentifier(Parser *p, Name key)
{
    expect(p, TOK_IDENTIFIER, "identifier");
    setTokenText(p, key);
}

void expectNumber(Parser *p, Name key)
{
    if (!isNumberToken(next(p)))
        fail(p, "number");
    setNumber(p, key, numberValue(p->core));
}

bool isConstantValue(int32_t code)
{
    return isNumberToken(code) || code == TOK_STRING;
}

// Appends the table on top of the stack to the table below it under the next key.
void appendTo(Parser *p, int *count)
{
    lua_rawseti(p->L, -2, ++*count);
}

void newElement(Parser *p, Name tag, int hashSize)
{
    lua_createtable(p->L, 0, hashSize);
    setName(p, kTag, tag);
}

// The multiplexer indicator: m<digits> (multiplexed signal) or M (switch).
void setModeFlag(Parser *p)
{
    const char *text = p->core->text;
    if (text[0] == 'm') {
        double value = 0;
        for (const char *d = text + 1; *d >= '0' && *d <= '9'; ++d)
            value = value * 10 + (*d - '0');
        setName(p, kMode, kModeLower);
        setNumber(p, kModeValue, value);
    } else if (text[0] == 'M') {
        setName(p, kMode, kModeUpper);
    } else {
        fail(p, "m or M (mode flag)");
    }
}

// After SG_: leaves the signal table on the stack and the token after it current.
void parseSignal(Parser *p)
{
    lua_State *L = p->L;
    newElement(p, kSignal, 16);
    expectIdentifier(p, kId);
    if (next(p) == TOK_IDENTIFIER) {
        setModeFlag(p);
        next(p);
    }
    if (p->token != ':')
        fail(p, ":");
    expectUnsigned(p, kStartBit, "constant");
    expect(p, '|', "|");
    expectUnsigned(p, kBitLen, "constant");
    expect(p, '@', "@");
    expect(p, TOK_UNSIGNED_INT, "constant");
    if (p->core->tokenValue.u == 0)
        setTrue(p, kBigEndian);
    next(p);
    if (p->token == '-')
        setTrue(p, kSigned);
    else if (p->token != '+')
        fail(p, "+ or -");
    expect(p, '(', "(");
    expectNumber(p, kScale);
    expect(p, ',', ",");
    expectNumber(p, kOffset);
    expect(p, ')', ")");
    expect(p, '[', "[");
    expectNumber(p, kMin);
    expect(p, '|', "|");
    expectNumber(p, kMax);
    expect(p, ']', "]");
    expect(p, TOK_STRING, "string constant");
    setTokenText(p, kUnit);

    lua_createtable(L, 1, 0);
    int receivers = 0;
    setNewlineMode(p->lexer, true);
    next(p);
    while (p->token == TOK_IDENTIFIER) {
        pushTokenText(p);
        lua_rawseti(L, -2, ++receivers);
        if (next(p) == ',')
            next(p);
    }
    setNewlineMode(p->lexer, false);  // the token that ended the list (the line end) is dropped
    setTable(p, kReceivers);
    next(p);
}

// After BO_: appends the frame with its signals; the token after them is current.
void parseFrame(Parser *p, int *count)
{
    newElement(p, kFrame, 8);
    expectUnsigned(p, kFrameId, "constant");
    expectIdentifier(p, kId);
    expect(p, ':', ":");
    expectUnsigned(p, kDlc, "constant");
    expectIdentifier(p, kSender);
    int signals = 0;
    next(p);
    while (p->token == TOK_SG_) {
        parseSignal(p);
        appendTo(p, &signals);
    }
    appendTo(p, count);
}

// The optional object designator of CM_ and BA_; leaves the token after it current.
void parseDesignator(Parser *p)
{
    switch (next(p)) {
    case TOK_BO_:
    case TOK_SG_: {
        const bool isSignal = p->token == TOK_SG_;
        setName(p, kNtyp, isSignal ? kSG : kBO);
        expectUnsigned(p, kFrame, "message id");
        if (isSignal)
            expectIdentifier(p, kSignal);
        next(p);
        break;
    }
    case TOK_BU_:
    case TOK_EV_:
        setName(p, kNtyp, p->token == TOK_BU_ ? kBU : kEV);
        expectIdentifier(p, kRefId);
        next(p);
        break;
    default:
        break;
    }
}

void parseComment(Parser *p, int *count)
{
    newElement(p, kComment, 8);
    parseDesignator(p);
    if (p->token != TOK_STRING)
        fail(p, "string constant");
    setTokenText(p, kText);
    appendTo(p, count);
}

void parseValueDescriptions(Parser *p, int *count)
{
    lua_State *L = p->L;
    newElement(p, kValue, 4);
    next(p);
    if (p->token == TOK_UNSIGNED_INT) {
        setNumber(p, kFrame, p->core->tokenValue.u);
        expectIdentifier(p, kSignal);
    } else if (p->token == TOK_IDENTIFIER) {
        setTokenText(p, kEnvVar);
    } else {
        fail(p, "message id or environment variable identifier");
    }
    if (next(p) == TOK_UNSIGNED_INT) {
        lua_newtable(L);
        do {
            lua_pushnumber(L, p->core->tokenValue.u);
            expect(p, TOK_STRING, "string constant");
            pushTokenText(p);
            lua_rawset(L, -3);
        } while (next(p) == TOK_UNSIGNED_INT);
        setTable(p, kValues);
    }
    if (p->token != ';')
        fail(p, ";");
    appendTo(p, count);
}

// A bound of an INT, HEX or FLOAT definition: any token is consumed, numbers are kept.
void readBound(Parser *p, Name key)
{
    if (isNumberToken(next(p)))
        setNumber(p, key, numberValue(p->core));
}

void parseAttributeDefinition(Parser *p, int *count)
{
    lua_State *L = p->L;
    newElement(p, kAttrDef, 8);
    switch (next(p)) {
    case TOK_BO_:
    case TOK_SG_:
    case TOK_BU_:
    case TOK_EV_:
        setTokenText(p, kNtyp);
        next(p);
        break;
    default:
        break;
    }
    if (p->token != TOK_STRING)
        fail(p, "attribute name");
    setTokenText(p, kId);
    switch (next(p)) {
    case TOK_INT:
    case TOK_HEX:
    case TOK_FLOAT_TYPE:
        setTokenText(p, kTyp);
        readBound(p, kMin);
        readBound(p, kMax);
        next(p);
        break;
    case TOK_STRING_TYPE:
        setTokenText(p, kTyp);
        next(p);
        break;
    case TOK_ENUM: {
        setTokenText(p, kTyp);
        lua_newtable(L);
        int values = 0;
        next(p);
        while (p->token == TOK_STRING) {
            pushTokenText(p);
            lua_rawseti(L, -2, ++values);
            if (next(p) == ';')
                break;
            next(p);  // the separator, whatever it is
        }
        setTable(p, kValues);
        break;
    }
    default:
        fail(p, "INT, HEX, FLOAT, STRING or ENUM");
    }
    if (p->token != ';')
        fail(p, ";");
    appendTo(p, count);
    next(p);
}

void parseAttributeDefault(Parser *p, int *count)
{
    newElement(p, kAttrDefault, 4);
    expect(p, TOK_STRING, "identifier");
    setTokenText(p, kId);
    if (!isConstantValue(next(p)))
        fail(p, "constant value");
    setTokenText(p, kValue);
    appendTo(p, count);
}

void parseAttribute(Parser *p, int *count)
{
    newElement(p, kAttr, 8);
    expect(p, TOK_STRING, "attribute name");
    setTokenText(p, kId);
    parseDesignator(p);
    if (!isConstantValue(p->token))
        fail(p, "constant value");
    setTokenText(p, kValue);
    expect(p, ';', ";");
    appendTo(p, count);
    next(p);
}

void skipLineAndNext(Parser *p)
{
    skipRestOfLine(p->lexer);
    next(p);
}

void parseStatements(Parser *p)
{
    lua_State *L = p->L;
    int count = 0;
    next(p);
    while (p->token != TOK_EOF) {
        switch (p->token) {
        case TOK_NS_:
            expect(p, ':', ":");
            while (next(p) >= TOK_VERSION && p->token <= TOK_IDENTIFIER) {
            }
            break;
        case TOK_BU_:
            expect(p, ':', ":");
            while (next(p) == TOK_IDENTIFIER) {
                newElement(p, kEcu, 2);
                setTokenText(p, kId);
                appendTo(p, &count);
            }
            break;
        case TOK_BO_:
            parseFrame(p, &count);
            break;
        case TOK_CM_:
            parseComment(p, &count);
            skipLineAndNext(p);
            break;
        case TOK_VAL_:
            parseValueDescriptions(p, &count);
            skipLineAndNext(p);
            break;
        case TOK_BA_DEF_:
            parseAttributeDefinition(p, &count);
            break;
        case TOK_BA_DEF_DEF_:
            parseAttributeDefault(p, &count);
            skipLineAndNext(p);
            break;
        case TOK_BA_:
            parseAttribute(p, &count);
            break;
        case TOK_CAT_DEF_:
        case TOK_CAT_:
        case TOK_VAL_TABLE_:
        case TOK_EV_:
            // Up to the ';', which then counts as an unknown statement start.
            while (next(p) != ';' && p->token != TOK_EOF) {
            }
            break;
        default:
            skipLineAndNext(p);
            break;
        }
    }
    if (p->core->input->readError)
        raiseReadError(L);
}


}  // namespace

int parseDbc(lua_State *L)
{
    auto *parser = static_cast<DbcParser *>(lua_touserdata(L, lua_upvalueindex(1)));
    if (parser == nullptr || parser->lexer == nullptr) {
        lua_pushliteral(L, "invalid parser instance");
        raise(L);
    }
    Parser p{L, parser->lexer, &parser->lexer->core, TOK_EOF};
    p.core->onNoMemory = raiseNoMemory;
    p.core->noMemoryContext = L;
    if (!lua_checkstack(L, kNameCount + 8))
        raiseNoMemory(L);
    for (int name = 1; name < kNameCount; ++name)
        lua_pushstring(L, kNameTexts[name]);
    lua_createtable(L, 0, 1);
    setName(&p, kTag, kDb);
    parseStatements(&p);
    return 1;
}

namespace {

const ReaderFormat<DbcLexer> kDbcFormat = {parseDbc, createDbcLexerOnInput, createDbcLexer, destroyDbcLexer};

}  // namespace

int importDbcStream(lua_State *L, FILE *stream)
{
    return readStream<DbcParser>(L, kDbcFormat, stream);
}

}  // namespace vexo::io

using namespace vexo::io;

int Vexo_importRawDBC(lua_State *L, const VexoChar *path)
{
    if (L == nullptr)
        return 0;
    return readPath<DbcParser>(L, kDbcFormat, path);
}
