// The DBC reader: a recursive-descent parser over DbcLexer tokens that builds the
// database table directly on the Lua stack. Syntax errors are raised as Lua errors, or,
// reading tolerantly, jump back to the statement (or signal) being read; both are
// longjmps, so no frame between lua_pcall and the parser may own a C++ object with a
// destructor: everything here is plain data, released by the caller after the call.
#include "dbc_reader.h"

#include <cstdio>
#include <strings.h>

#include "reader_toolkit.h"

namespace vexo::io {

namespace {

using namespace dbc;

// The keys and constant values of the table, in their stack slots (reader_toolkit.h).
#define VEXO_DBC_NAMES(NAME, SLOT)                                                                       \
    NAME(kTag, "tag") NAME(kId, "id") NAME(kFrameId, "frameid") NAME(kDlc, "dlc") NAME(kSender, "sender") \
    NAME(kMode, "mode") NAME(kModeValue, "modevalue") NAME(kStartBit, "startbit") NAME(kBitLen, "bitlen")  \
    NAME(kBigEndian, "bigendian") NAME(kSigned, "signed") NAME(kScale, "scale") NAME(kOffset, "offset")  \
    NAME(kMin, "min") NAME(kMax, "max") NAME(kUnit, "unit") NAME(kReceivers, "receivers")                 \
    NAME(kNtyp, "ntyp") NAME(kRefId, "refid") NAME(kFrame, "frame") NAME(kSignal, "signal")               \
    NAME(kText, "text") NAME(kEnvVar, "envvar") NAME(kValues, "values") NAME(kTyp, "typ")                 \
    NAME(kValue, "value") NAME(kLine, "line") NAME(kColumn, "column") NAME(kDb, "db") NAME(kEcu, "ecu")  \
    NAME(kComment, "comment") NAME(kAttrDef, "attrdef") NAME(kAttrDefault, "attrdefault")                 \
    NAME(kAttr, "attr") NAME(kBO, "BO_") NAME(kSG, "SG_") NAME(kBU, "BU_") NAME(kEV, "EV_")               \
    NAME(kModeLower, "m") NAME(kModeUpper, "M") NAME(kEnumType, "ENUM")                                   \
    SLOT(kWarnings) /* the warning list of a tolerant read (nil otherwise) */                             \
    SLOT(kLeftOut)  /* tolerant: what the warnings past the list's limit skip (nil otherwise) */

VEXO_READER_NAMES(VEXO_DBC_NAMES);

struct Parser : ParseState<DbcLexer> {
    bool frameSkipped;  // tolerant: the BO_ statement these SG_ lines belong to was skipped
};

void setTrue(Parser *p, Name key)
{
    lua_pushvalue(p->L, key);
    lua_pushboolean(p->L, 1);
    lua_rawset(p->L, -3);
}

// ---- Tolerant reading ---------------------------------------------------------
// Each acceptance here is reached only where a strict read raises its syntax error,
// so a file the strict reader accepts reads to the same table either way.

// A name where the file has digits run into letters (2017_5, 64_BIT_LE) or, within a
// line, a keyword (a signal called VERSION): the token becomes an identifier. A token
// that starts a line is left alone: it starts the next statement.
bool acceptAsName(Parser *p)
{
    if (!p->tol.on || p->core->tokenStartsLine)
        return false;
    if (!(p->token >= TOK_VERSION && p->token <= TOK_ENUM))
        return acceptDigitName(p);
    takeKeywordAsName(p);
    return true;
}

// A number written without a digit before its point (.25).
bool acceptPointNumber(Parser *p)
{
    if (!p->tol.on || p->token != '.' || extendPointToNumber(p->core) == 0)
        return false;
    p->token = p->core->tokenCode;
    if (p->token != TOK_FLOAT)
        return false;
    depart(p, "read number %s without a digit before the point", quoteToken(p->core).text);
    return true;
}

// The ';' that closes a statement. Tolerant, a statement whose line (or the file) ends
// without it is taken as closed there: false is returned and the current token starts
// the next statement.
bool closeStatement(Parser *p, const char *keyword)
{
    if (p->token == ';')
        return true;
    if (!p->tol.on || !(p->token == TOK_EOF || p->core->tokenStartsLine))
        fail(p, ";");
    depart(p, "read %s statement without its closing \";\"", keyword);
    return false;
}

// Reads the next token as an unsigned integer into a number field.
void expectUnsigned(Parser *p, Name key, const char *expected)
{
    expect(p, TOK_UNSIGNED_INT, expected);
    setNumber(p, key, p->core->tokenValue.u);
}

void expectIdentifier(Parser *p, Name key)
{
    if (next(p) != TOK_IDENTIFIER && !acceptAsName(p))
        fail(p, "identifier");
    setTokenText(p, key);
}

void expectNumber(Parser *p, Name key)
{
    if (!isNumberToken(next(p)) && !acceptPointNumber(p))
        fail(p, "number");
    setNumber(p, key, numberValue(p->core));
}

bool isConstantValue(int32_t code)
{
    return isNumberToken(code) || code == TOK_STRING;
}

// The value of an attribute default or value (current). Tolerant, a word is taken as
// the text it spells (BOOL attributes set to True or False).
void readAttributeValue(Parser *p)
{
    if (!isConstantValue(p->token)) {
        if (!p->tol.on || p->token != TOK_IDENTIFIER)
            fail(p, "constant value");
        depart(p, "read attribute value %s written without quotes", quoteToken(p->core).text);
    }
    setTokenText(p, kValue);
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
    if (p->tol.on && p->token != '\n' && p->token != TOK_EOF)
        note(p, "ignored %s after the receivers of signal %s", quoteToken(p->core).text, quoteField(L, -2, kId).text);
    setTable(p, kReceivers);
    next(p);
}

// A failed signal of a frame is named and skipped; its frame goes on.
void readSignalRecovering(Parser *p, int *signals);

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
        if (p->tol.on) {
            readSignalRecovering(p, &signals);
            continue;
        }
        parseSignal(p);
        appendTo(p, &signals);
    }
    appendTo(p, count);
}

// The optional object designator of CM_ and BA_; leaves the token after it current.
void parseDesignator(Parser *p, bool comment)
{
    switch (next(p)) {
    case TOK_BO_:
    case TOK_SG_: {
        const bool isSignal = p->token == TOK_SG_;
        setName(p, kNtyp, isSignal ? kSG : kBO);
        expectUnsigned(p, kFrame, "message id");
        if (isSignal) {
            const double frame = p->core->tokenValue.u;
            if (next(p) == TOK_STRING && comment && p->tol.on) {
                depart(p, "read comment of SG_ %f without a signal name as a comment of frame %f", frame, frame);
                setName(p, kNtyp, kBO);
                return;
            }
            if (p->token != TOK_IDENTIFIER && !acceptAsName(p))
                fail(p, "identifier");
            setTokenText(p, kSignal);
        }
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
    parseDesignator(p, true);
    if (p->token != TOK_STRING) {
        if (!p->tol.on || p->token != TOK_UNSIGNED_INT)
            fail(p, "string constant");
        const double frame = p->core->tokenValue.u;
        depart(p, "read comment with frame id %f but without BO_ as a comment of frame %f", frame, frame);
        setName(p, kNtyp, kBO);
        setNumber(p, kFrame, frame);
        if (next(p) != TOK_STRING)
            fail(p, "string constant");
    }
    setTokenText(p, kText);
    appendTo(p, count);
}

// A value of a value description list: unsigned or, tolerant, negative.
bool isDescribedValue(Parser *p)
{
    if (p->token == TOK_UNSIGNED_INT)
        return true;
    if (!p->tol.on || p->token != TOK_SIGNED_INT)
        return false;
    depart(p, "read negative value %s in a value description list", quoteToken(p->core).text);
    return true;
}

// Returns false when the statement had no closing ';' (tolerant only): the current
// token then starts the next statement, instead of lying on the statement's line.
bool parseValueDescriptions(Parser *p, int *count)
{
    lua_State *L = p->L;
    newElement(p, kValue, 4);
    next(p);
    if (p->token == TOK_UNSIGNED_INT) {
        setNumber(p, kFrame, p->core->tokenValue.u);
        expectIdentifier(p, kSignal);
    } else if (p->token == TOK_IDENTIFIER || acceptAsName(p)) {
        setTokenText(p, kEnvVar);
    } else {
        fail(p, "message id or environment variable identifier");
    }
    next(p);
    if (isDescribedValue(p)) {
        lua_newtable(L);
        do {
            lua_pushnumber(L, numberValue(p->core));
            expect(p, TOK_STRING, "string constant");
            pushTokenText(p);
            lua_rawset(L, -3);
            next(p);
        } while (isDescribedValue(p));
        setTable(p, kValues);
    }
    const bool closed = closeStatement(p, "VAL_");
    appendTo(p, count);
    return closed;
}

// A bound of an INT, HEX or FLOAT definition: any token is consumed, numbers are kept.
void readBound(Parser *p, Name key)
{
    if (isNumberToken(next(p)))
        setNumber(p, key, numberValue(p->core));
}

// An attribute type the grammar lacks, read as the type it stands for: BOOL and ENU
// as ENUM, STR as STRING, the five types in other letter cases as themselves. Stores
// "typ" and returns the type's keyword code, or 0 when the word is none of these.
int32_t readUnusualType(Parser *p)
{
    struct Unusual { const char *word; const char *type; int32_t code; };
    static const Unusual kUnusual[] = {
        {"INT", "INT", TOK_INT}, {"HEX", "HEX", TOK_HEX}, {"FLOAT", "FLOAT", TOK_FLOAT_TYPE},
        {"STRING", "STRING", TOK_STRING_TYPE}, {"STR", "STRING", TOK_STRING_TYPE}, {"ENUM", "ENUM", TOK_ENUM},
        {"ENU", "ENUM", TOK_ENUM}, {"BOOL", "ENUM", TOK_ENUM},
    };
    if (!p->tol.on || p->token != TOK_IDENTIFIER)
        return 0;
    for (const Unusual &u : kUnusual) {
        if (strcasecmp(p->core->text, u.word) != 0)
            continue;
        depart(p, "read attribute type %s as %s", quoteToken(p->core).text, u.type);
        lua_pushvalue(p->L, kTyp);
        lua_pushstring(p->L, u.type);
        lua_rawset(p->L, -3);
        return u.code;
    }
    return 0;
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
    int32_t type = next(p);
    const bool usual = type >= TOK_INT && type <= TOK_ENUM;
    if (usual)
        setTokenText(p, kTyp);
    else if ((type = readUnusualType(p)) == 0)
        fail(p, "INT, HEX, FLOAT, STRING or ENUM");
    switch (type) {
    case TOK_INT:
    case TOK_HEX:
    case TOK_FLOAT_TYPE:
        readBound(p, kMin);
        readBound(p, kMax);
        next(p);
        break;
    case TOK_STRING_TYPE:
        next(p);
        break;
    default: {  // TOK_ENUM
        lua_newtable(L);
        int values = 0;
        next(p);
        if (usual) {
            while (p->token == TOK_STRING) {
                pushTokenText(p);
                lua_rawseti(L, -2, ++values);
                if (next(p) == ';')
                    break;
                next(p);  // the separator, whatever it is
            }
        } else {
            // BOOL False True: plain words and numbers as values, commas optional.
            while (isConstantValue(p->token) || p->token == TOK_IDENTIFIER) {
                pushTokenText(p);
                lua_rawseti(L, -2, ++values);
                if (next(p) == ',')
                    next(p);
            }
        }
        setTable(p, kValues);
        break;
    }
    }
    const bool closed = closeStatement(p, "BA_DEF_");
    appendTo(p, count);
    if (closed)
        next(p);
}

void parseAttributeDefault(Parser *p, int *count)
{
    newElement(p, kAttrDefault, 4);
    expect(p, TOK_STRING, "identifier");
    setTokenText(p, kId);
    next(p);
    readAttributeValue(p);
    appendTo(p, count);
}

void parseAttribute(Parser *p, int *count)
{
    newElement(p, kAttr, 8);
    expect(p, TOK_STRING, "attribute name");
    setTokenText(p, kId);
    parseDesignator(p, false);
    readAttributeValue(p);
    next(p);
    const bool closed = closeStatement(p, "BA_");
    appendTo(p, count);
    if (closed)
        next(p);
}

void skipLineAndNext(Parser *p)
{
    skipRestOfLine(p->lexer);
    next(p);
}

// Tolerant: an SG_ line outside a frame is named before it is skipped.
void skipOrphanSignal(Parser *p)
{
    const uint32_t line = p->core->tokenLine;
    const uint32_t column = p->core->tokenColumn;
    scanWordOnLine(p->lexer);
    const char *why = p->frameSkipped ? "its BO_ statement was skipped" : "it is not part of a frame";
    if (p->core->textLength == 0) {
        char at[32];
        std::snprintf(at, sizeof at, "at line %u", line);
        addLoss(p->L, &p->tol, false, {"signal", at}, line, column, "skipped SG_ statement: %s", why);
    } else {
        const Quoted name = quote(p->core->text, p->core->textLength);
        addLoss(p->L, &p->tol, false, {"signal", name.text}, line, column, "skipped SG_ statement of signal %s: %s",
                name.text, why);
    }
    skipLineAndNext(p);
}

// Tolerant: a line skipped as an unknown statement is worth a warning when it is the
// rest of a statement's line (other than after a ';') or starts with no word and no
// comment mark ('/' of "//", '*' of the lines of a block comment).
void noteSkippedLine(Parser *p)
{
    const int32_t t = p->token;
    if (!p->core->tokenStartsLine) {
        if (t != ';')
            note(p, "skipped the rest of the line from %s", quoteToken(p->core).text);
    } else if (!(t >= TOK_VERSION && t <= TOK_ENUM) && t != '/' && t != '*') {
        note(p, "skipped the line starting with %s", quoteToken(p->core).text);
    }
}

// One statement from its first token (current) to the first token of the next.
void parseStatement(Parser *p, int *count)
{
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
            appendTo(p, count);
        }
        break;
    case TOK_BO_:
        parseFrame(p, count);
        break;
    case TOK_CM_:
        parseComment(p, count);
        skipLineAndNext(p);
        break;
    case TOK_VAL_:
        if (parseValueDescriptions(p, count))
            skipLineAndNext(p);
        break;
    case TOK_BA_DEF_:
        parseAttributeDefinition(p, count);
        break;
    case TOK_BA_DEF_DEF_:
        parseAttributeDefault(p, count);
        skipLineAndNext(p);
        break;
    case TOK_BA_:
        parseAttribute(p, count);
        break;
    case TOK_CAT_DEF_:
    case TOK_CAT_:
    case TOK_VAL_TABLE_:
    case TOK_EV_:
        // Up to the ';', which then counts as an unknown statement start.
        while (next(p) != ';' && p->token != TOK_EOF) {
        }
        break;
    case TOK_SG_:
        if (p->tol.on) {
            skipOrphanSignal(p);
            break;
        }
        skipLineAndNext(p);
        break;
    default:
        if (p->tol.on)
            noteSkippedLine(p);
        skipLineAndNext(p);
        break;
    }
}

void parseStatements(Parser *p)
{
    int count = 0;
    next(p);
    while (p->token != TOK_EOF)
        parseStatement(p, &count);
    if (p->core->input->readError)
        raiseReadError(p->L, p->prefix);
}

// ---- Tolerant statement loop ---------------------------------------------------

const char *statementName(int32_t statement)
{
    switch (statement) {
    case TOK_NS_: return "NS_";
    case TOK_BU_: return "BU_";
    case TOK_BO_: return "BO_";
    case TOK_CM_: return "CM_";
    case TOK_VAL_: return "VAL_";
    case TOK_BA_DEF_: return "BA_DEF_";
    case TOK_BA_DEF_DEF_: return "BA_DEF_DEF_";
    case TOK_BA_: return "BA_";
    default: return "unknown";
    }
}

// After a failed statement or signal: the failing token when it starts a line (the
// statement ended early and the next one begins there), else the token after the end
// of its line. A failure on the statement's first token skips that token's line.
void resync(Parser *p, uint64_t start)
{
    setNewlineMode(p->lexer, false);
    if (p->token == TOK_EOF || (p->core->tokenStartsLine && p->tol.tokens != start))
        return;
    skipLineAndNext(p);
}

// What names a frame skipped before its table had all its fields: the quoted name of
// the partial table at idx, else its identifier, else nothing.
Quoted nameOfSkippedFrame(Parser *p, int idx)
{
    if (lua_gettop(p->L) < idx)
        return Quoted{};
    Quoted out = quoteField(p->L, idx, kId);
    if (out.text[0] != '\0')
        return out;
    lua_pushvalue(p->L, kFrameId);
    lua_rawget(p->L, idx);
    if (lua_type(p->L, -1) == LUA_TNUMBER)
        std::snprintf(out.text, sizeof out.text, "%.0f", lua_tonumber(p->L, -1));
    lua_pop(p->L, 1);
    return out;
}

void readSignalRecovering(Parser *p, int *signals)
{
    lua_State *L = p->L;
    const int top = lua_gettop(L);  // the frame
    const uint64_t start = p->tol.tokens;
    const uint32_t signalLine = p->core->tokenLine;
    if (attempt(&p->tol, [p] { parseSignal(p); })) {
        appendTo(p, signals);
        return;
    }
    const Quoted found = quoteToken(p->core);
    const Quoted frame = quoteField(L, top, kId);
    const Quoted signal = quoteField(L, top + 1, kId);
    const uint32_t line = p->core->tokenLine;
    const uint32_t column = p->core->tokenColumn;
    if (signal.text[0] != '\0') {
        addLoss(L, &p->tol, true, {"signal", signal.text}, line, column,
                "skipped SG_ statement of signal %s in frame %s: expected \"%s\" but found %s", signal.text,
                frame.text, p->tol.expected, found.text);
    } else {
        char at[32];
        std::snprintf(at, sizeof at, "at line %u", signalLine);
        addLoss(L, &p->tol, true, {"signal", at}, line, column,
                "skipped SG_ statement in frame %s: expected \"%s\" but found %s", frame.text, p->tol.expected,
                found.text);
    }
    lua_settop(L, top);
    resync(p, start);
}

void parseStatementsTolerant(Parser *p)
{
    lua_State *L = p->L;
    int count = 0;
    next(p);
    while (p->token != TOK_EOF) {
        const int32_t statement = p->token;
        if (statement != TOK_SG_)
            p->frameSkipped = false;
        const int top = lua_gettop(L);  // the database table
        const uint64_t start = p->tol.tokens;
        const uint32_t statementLine = p->core->tokenLine;
        if (attempt(&p->tol, [p, &count] { parseStatement(p, &count); }))
            continue;
        const Quoted found = quoteToken(p->core);
        if (statement == TOK_BO_) {
            p->frameSkipped = true;
            const Quoted frame = nameOfSkippedFrame(p, top + 1);
            char at[32];
            std::snprintf(at, sizeof at, "at line %u", statementLine);
            if (frame.text[0] != '\0')
                addLoss(L, &p->tol, true, {"frame", frame.text}, p->core->tokenLine, p->core->tokenColumn,
                        "skipped BO_ statement of frame %s: expected \"%s\" but found %s", frame.text,
                        p->tol.expected, found.text);
            else
                addLoss(L, &p->tol, true, {"frame", at}, p->core->tokenLine, p->core->tokenColumn,
                        "skipped BO_ statement: expected \"%s\" but found %s", p->tol.expected, found.text);
        } else {
            depart(p, "skipped %s statement: expected \"%s\" but found %s", statementName(statement),
                   p->tol.expected, found.text);
        }
        lua_settop(L, top);
        resync(p, start);
    }
    if (p->core->input->readError)
        raiseReadError(L, p->prefix);
    finishWarnings(L, &p->tol, p->core->tokenLine, p->core->tokenColumn);
}

}  // namespace

int parseDbc(lua_State *L)
{
    Parser p{};
    startParse(&p, L, "DBC-Import", kNames, 8, 0);
    if (p.tol.on)
        parseStatementsTolerant(&p);
    else
        parseStatements(&p);
    return finishParse(L, p.tol.on, kNames);
}

int importDbcStream(lua_State *L, FILE *stream, uint32_t flags)
{
    return readStream<DbcLexer>(L, parseDbc, stream, flags);
}

}  // namespace vexo::io

using namespace vexo::io;

int Vexo_importRawDBC(lua_State *L, const VexoChar *path)
{
    return L == nullptr ? 0 : readPath<DbcLexer>(L, parseDbc, path, 0);
}

int Vexo_importRawDBCEx(lua_State *L, const VexoChar *path, uint32_t flags)
{
    return L == nullptr ? 0 : readPath<DbcLexer>(L, parseDbc, path, flags);
}
