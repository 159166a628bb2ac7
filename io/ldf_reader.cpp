// The LDF reader: a fixed sequence of section parsers over LdfLexer tokens that builds
// the database table directly on the Lua stack. Syntax errors are raised as Lua errors
// (longjmp), so no frame between lua_pcall and the parser may own a C++ object with a
// destructor: everything here is plain data, released by the caller after the call.
#include "ldf_reader.h"

#include <charconv>
#include <iterator>
#include <cstdlib>

#include <lua.hpp>

#include "reader_entry.h"
#include "vexo/io.h"

namespace vexo::io {

namespace {

using namespace ldf;

struct Parser {
    lua_State *L;
    LdfLexer *lexer;
    LexerCore *core;
    int32_t token;    // code of the current token
    double version;   // language version: Diagnostic_addresses below 2.0, Node_attributes from 2.0
    int elements;     // elements in the database table so far
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
    lua_pushliteral(L, "LDF-Import: the file could not be read to its end");
    raise(L);
}

[[noreturn]] void fail(Parser *p, const char *expected)
{
    if (p->core->input->readError)
        raiseReadError(p->L);
    lua_pushfstring(p->L, "LDF-Import: (%d, %d): '%s' expected but found '%s'", static_cast<int>(p->core->tokenLine),
                    static_cast<int>(p->core->tokenColumn), expected, p->core->text);
    raise(p->L);
}

int32_t next(Parser *p)
{
    p->token = nextLdfToken(p->lexer);
    return p->token;
}

// The current token must be code.
void check(Parser *p, int32_t code, const char *expected)
{
    if (p->token != code)
        fail(p, expected);
}

// The next token must be code.
void expect(Parser *p, int32_t code, const char *expected)
{
    next(p);
    check(p, code, expected);
}

bool isInteger(int32_t code)
{
    return code == TOK_SIGNED_INT || code == TOK_UNSIGNED_INT;
}

// An integer token's value as a signed 32-bit number (0xFFFFFFFF is -1).
int32_t integerValue(const Parser *p)
{
    const TokenValue &v = p->core->tokenValue;
    return p->token == TOK_SIGNED_INT ? v.i : static_cast<int32_t>(v.u);
}

int32_t expectInteger(Parser *p)
{
    if (!isInteger(next(p)))
        fail(p, "integer");
    return integerValue(p);
}

double expectNumber(Parser *p)
{
    if (!isNumberToken(next(p)))
        fail(p, "number");
    return numberValue(p->core);
}

// A name: a plain identifier or a keyword.
void expectName(Parser *p)
{
    if (!isWord(next(p)))
        fail(p, "identifier");
}

void expectPlainName(Parser *p)
{
    expect(p, TOK_IDENTIFIER, "identifier");
}

// The keys and constant values of the table, interned once per read and kept in
// the lowest stack slots (slot = enum value), so that storing a field costs a stack
// copy instead of hashing and looking up the key text again.
// ORDER NAME
enum Name : int {
    kTag = 1, kName, kProtocolVersion, kLanguageVersion, kSpeed, kChannelName, kMaster, kSlaves, kTimebase,
    kJitter, kSize, kInitValue, kPublishedBy, kSubscribedBy, kIdent, kOffset, kCollisionTable, kLinProtocol,
    kConfiguredNad, kDiagAddress, kProductId, kSupplierId, kFunctionId, kVariant, kResponseError,
    kFaultStateSignals, kP2Min, kStMin, kNAs, kNCrTimeout, kConfigurableFrames, kTime, kFrame, kNode, kNad, kId,
    kByte, kMask, kInv, kNewNad, kData, kFrameIndex, kFramePids, kIntValue, kTextValue, kMinValue, kMaxValue,
    kScale, kValue,
    kDb, kGlobal, kNodes, kDiagnosticAddresses, kComposite, kConfiguration, kCompositeNode, kSignals, kSignal,
    kDiagnosticSignals, kFrames, kSignalInst, kSporadicFrames, kEventTriggeredFrames, kDiagnosticFrames,
    kNodeAttributes, kScheduleTables, kScheduleTable, kIdentifier, kAssignNad, kSaveConfiguration,
    kConditionalChangeNad, kDataDump, kAssignFrameIdRange, kFreeFormat, kAssignFrameId, kSignalGroups,
    kSignalGroup, kSignalEncodingTypes, kSignalEncoding, kLogicalValue, kPhysicalValue, kBcdValue, kAsciiValue,
    kSignalRepresentations, kSignalRepresentation,
    kNameCount  // also the stack slot of the database table
};
// ORDER NAME
const char *const kNameTexts[] = {
    nullptr, "tag", "name", "LIN_protocol_version", "LIN_language_version", "LIN_speed", "Channel_name", "Master",
    "Slaves", "timebase", "jitter", "size", "initvalue", "publishedby", "subscribedby", "ident", "offset",
    "collisionresolvingscheduletable", "LIN_protocol", "configured_NAD", "diagaddress", "productid", "supplierid",
    "functionid", "variant", "responseerror", "faultstatesignals", "P2_min", "ST_min", "N_as", "N_CR_timeout",
    "configurableframes", "time", "frame", "node", "NAD", "id", "byte", "mask", "inv", "new_NAD", "data",
    "frameindex", "framePIDs", "intvalue", "textvalue", "minvalue", "maxvalue", "scale", "value",
    "db", "global", "nodes", "diagnosticaddresses", "composite", "configuration", "compositenode", "signals",
    "signal", "diagnosticsignals", "frames", "signalinst", "sporadicframes", "eventtriggeredframes",
    "diagnosticframes", "nodeattributes", "scheduletables", "scheduletable", "identifier", "assignNAD",
    "saveconfiguration", "conditionalChangeNAD", "datadump", "assignframeidrange", "freeformat", "assignframeid",
    "signalgroups", "signalgroup", "signalencodingtypes", "signalencoding", "logicalvalue", "physicalvalue",
    "bcdvalue", "asciivalue", "signalrepresentations", "signalrepresentation",
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

// Appends the value on top of the stack to the table below it under the next key.
void appendTo(Parser *p, int *count)
{
    lua_rawseti(p->L, -2, ++*count);
}

void appendTokenText(Parser *p, int *count)
{
    pushTokenText(p);
    appendTo(p, count);
}

void appendElement(Parser *p)
{
    lua_rawseti(p->L, kNameCount, ++p->elements);
}

void newElement(Parser *p, Name tag, int hashSize)
{
    lua_createtable(p->L, 0, hashSize);
    setName(p, kTag, tag);
}

// A new entry table named by the current token.
void newNamedEntry(Parser *p, Name tag, int hashSize)
{
    newElement(p, tag, hashSize);
    setTokenText(p, kName);
}

// A section that opens with its keyword (already current) and '{', and whose
// entries each start with a plain identifier. Leaves the section element on the stack
// and the first entry's name (or whatever ends the list) current.
void openSection(Parser *p, Name tag)
{
    newElement(p, tag, 1);
    expect(p, '{', "{");
    next(p);
}

// The '}' after a section's entries, then the section element is appended and the
// next token read.
void closeSection(Parser *p)
{
    check(p, '}', "}");
    appendElement(p);
    next(p);
}

// Keyword (current), '=', string constant, ';'; the string is stored under key and,
// when version is given, its leading number there.
void readStringAssignment(Parser *p, int32_t keyword, const char *keywordText, Name key, double *version = nullptr)
{
    check(p, keyword, keywordText);
    expect(p, '=', "=");
    expect(p, TOK_STRING, "string constant");
    setTokenText(p, key);
    if (version != nullptr)
        *version = leadingVersionNumber(p->core->text);
    expect(p, ';', ";");
}

void parseHeader(Parser *p)
{
    newElement(p, kGlobal, 5);
    check(p, TOK_LIN_description_file, "LIN_description_file");
    expect(p, ';', ";");
    next(p);
    readStringAssignment(p, TOK_LIN_protocol_version, "LIN_protocol_version", kProtocolVersion);
    next(p);
    readStringAssignment(p, TOK_LIN_language_version, "LIN_language_version", kLanguageVersion, &p->version);
    expect(p, TOK_LIN_speed, "LIN_speed");
    expect(p, '=', "=");
    expect(p, TOK_FLOAT, "floating point constant");
    setNumber(p, kSpeed, p->core->tokenValue.d);
    expect(p, TOK_kbps, "kbps");
    expect(p, ';', ";");
    if (next(p) == TOK_Channel_name) {
        readStringAssignment(p, TOK_Channel_name, "Channel_name", kChannelName);
        next(p);
    }
    appendElement(p);
}

// Names while the current token is a name (plain names only when plainOnly), one ','
// after each being skipped, appended to the table on top of the stack.
void readNameList(Parser *p, bool plainOnly)
{
    int count = 0;
    while (plainOnly ? p->token == TOK_IDENTIFIER : isWord(p->token)) {
        appendTokenText(p, &count);
        if (next(p) == ',')
            next(p);
    }
}

void parseNodes(Parser *p)
{
    lua_State *L = p->L;
    check(p, TOK_Nodes, "Nodes");
    newElement(p, kNodes, 3);
    expect(p, '{', "{");
    expect(p, TOK_Master, "Master");
    expect(p, ':', ":");
    lua_createtable(L, 0, 3);
    expectName(p);
    setTokenText(p, kName);
    expect(p, ',', ",");
    setNumber(p, kTimebase, expectNumber(p));
    expect(p, TOK_ms, "ms");
    expect(p, ',', ",");
    setNumber(p, kJitter, expectNumber(p));
    expect(p, TOK_ms, "ms");
    expect(p, ';', ";");
    setTable(p, kMaster);
    expect(p, TOK_Slaves, "Slaves");
    expect(p, ':', ":");
    lua_newtable(L);
    next(p);
    readNameList(p, false);
    check(p, ';', ";");
    setTable(p, kSlaves);
    expect(p, '}', "}");
    appendElement(p);
    next(p);
}

void parseDiagnosticAddresses(Parser *p)
{
    if (p->token != TOK_Diagnostic_addresses)
        return;
    openSection(p, kDiagnosticAddresses);
    while (p->token == TOK_IDENTIFIER) {
        pushTokenText(p);
        expect(p, ':', ":");
        next(p);  // the address, whatever token it is
        pushTokenText(p);
        lua_rawset(p->L, -3);
        if (next(p) == ';')
            next(p);
    }
    closeSection(p);
}

void parseComposite(Parser *p)
{
    if (p->token != TOK_composite)
        return;
    openSection(p, kComposite);
    int configurations = 0;
    while (p->token == TOK_configuration) {
        newElement(p, kConfiguration, 2);
        expectName(p);
        setTokenText(p, kName);
        expect(p, '{', "{");
        int nodes = 0;
        next(p);
        while (p->token == TOK_IDENTIFIER) {
            newNamedEntry(p, kCompositeNode, 2);
            expect(p, '{', "{");
            next(p);
            readNameList(p, true);
            check(p, ';', ";");
            expect(p, '}', "}");
            appendTo(p, &nodes);
            next(p);
        }
        check(p, '}', "}");
        appendTo(p, &configurations);
        next(p);
    }
    closeSection(p);
}

void parseSignal(Parser *p)
{
    lua_State *L = p->L;
    newNamedEntry(p, kSignal, 6);
    expect(p, ':', ":");
    setNumber(p, kSize, expectInteger(p));
    expect(p, ',', ",");
    next(p);
    if (isInteger(p->token)) {
        setNumber(p, kInitValue, integerValue(p));
    } else if (p->token == '{') {
        lua_newtable(L);
        int values = 0;
        expectInteger(p);
        appendTokenText(p, &values);
        while (next(p) == ',') {
            expectInteger(p);
            appendTokenText(p, &values);
        }
        check(p, '}', "}");
        setTable(p, kInitValue);
    } else {
        fail(p, "integer (scalar initvalue) or array ('{') expected ");
    }
    expect(p, ',', ",");
    expectName(p);
    setTokenText(p, kPublishedBy);
    lua_newtable(L);
    int subscribers = 0;
    while (next(p) == ',') {
        expectName(p);
        appendTokenText(p, &subscribers);
    }
    check(p, ';', ";");
    setTable(p, kSubscribedBy);
}

void parseSignals(Parser *p)
{
    check(p, TOK_Signals, "Signals");
    openSection(p, kSignals);
    int count = 0;
    while (p->token == TOK_IDENTIFIER) {
        parseSignal(p);
        appendTo(p, &count);
        next(p);
    }
    closeSection(p);
}

void parseDiagnosticSignals(Parser *p)
{
    if (p->token != TOK_Diagnostic_signals)
        return;
    openSection(p, kDiagnosticSignals);
    int count = 0;
    while (p->token == TOK_IDENTIFIER) {
        newNamedEntry(p, kSignal, 3);
        expect(p, ':', ":");
        setNumber(p, kSize, expectInteger(p));
        expect(p, ',', ",");
        setNumber(p, kInitValue, expectInteger(p));
        expect(p, ';', ";");
        appendTo(p, &count);
        next(p);
    }
    closeSection(p);
}

// After the '{' of a frame: "name, offset;" lines up to the '}', appended to the
// frame table on top of the stack. Leaves the '}' current.
void readSignalInstances(Parser *p)
{
    int count = 0;
    next(p);
    while (p->token == TOK_IDENTIFIER) {
        newNamedEntry(p, kSignalInst, 2);
        expect(p, ',', ",");
        setNumber(p, kOffset, expectInteger(p));
        expect(p, ';', ";");
        appendTo(p, &count);
        next(p);
    }
    check(p, '}', "}");
}

// The length in bytes that a frame identifier implies when the file gives none.
int32_t defaultFrameSize(int32_t ident)
{
    if (ident >= 32 && ident <= 47)
        return 4;
    if (ident >= 48 && ident <= 63)
        return 8;
    return 2;
}

void parseFrames(Parser *p)
{
    check(p, TOK_Frames, "Frames");
    openSection(p, kFrames);
    int count = 0;
    while (p->token == TOK_IDENTIFIER) {
        newNamedEntry(p, kFrame, 5);
        expect(p, ':', ":");
        const int32_t ident = expectInteger(p);
        setNumber(p, kIdent, ident);
        expect(p, ',', ",");
        expectName(p);
        setTokenText(p, kPublishedBy);
        int32_t size = defaultFrameSize(ident);
        if (next(p) == ',') {
            size = expectInteger(p);
            next(p);
        }
        setNumber(p, kSize, size);
        check(p, '{', "{");
        readSignalInstances(p);
        appendTo(p, &count);
        next(p);
    }
    closeSection(p);
}

void parseSporadicFrames(Parser *p)
{
    if (p->token != TOK_Sporadic_frames)
        return;
    openSection(p, kSporadicFrames);
    int count = 0;
    while (p->token == TOK_IDENTIFIER) {
        newNamedEntry(p, kFrame, 2);
        expect(p, ':', ":");
        int frames = 0;
        do {
            expectName(p);
            appendTokenText(p, &frames);
        } while (next(p) == ',');
        check(p, ';', ";");
        appendTo(p, &count);
        next(p);
    }
    closeSection(p);
}

void parseEventTriggeredFrames(Parser *p)
{
    if (p->token != TOK_Event_triggered_frames)
        return;
    openSection(p, kEventTriggeredFrames);
    int count = 0;
    while (p->token == TOK_IDENTIFIER) {
        newNamedEntry(p, kFrame, 4);
        expect(p, ':', ":");
        if (next(p) == TOK_IDENTIFIER) {
            setTokenText(p, kCollisionTable);
            expect(p, ',', ",");
            next(p);
        }
        if (!isInteger(p->token))
            fail(p, "integer");
        setNumber(p, kIdent, integerValue(p));
        expect(p, ',', ",");
        next(p);
        readNameList(p, true);
        check(p, ';', ";");
        appendTo(p, &count);
        next(p);
    }
    closeSection(p);
}

void parseDiagnosticFrames(Parser *p)
{
    if (p->token != TOK_Diagnostic_frames)
        return;
    openSection(p, kDiagnosticFrames);
    int count = 0;
    while (p->token == TOK_IDENTIFIER) {
        newNamedEntry(p, kFrame, 3);
        expect(p, ':', ":");
        setNumber(p, kIdent, expectInteger(p));
        expect(p, '{', "{");
        readSignalInstances(p);
        appendTo(p, &count);
        next(p);
    }
    closeSection(p);
}

// The optional timing attributes of a node, in this order and each at most once.
struct Timing {
    int32_t keyword;
    Name key;
};
constexpr Timing kTimings[] = {
    {TOK_P2_min, kP2Min}, {TOK_ST_min, kStMin}, {TOK_N_As_timeout, kNAs}, {TOK_N_Cr_timeout, kNCrTimeout},
};

// From product_id (current) to the configurable frames' '}'.
void readProductAttributes(Parser *p)
{
    lua_State *L = p->L;
    lua_createtable(L, 0, 3);
    expect(p, '=', "=");
    setNumber(p, kSupplierId, expectInteger(p));
    expect(p, ',', ",");
    setNumber(p, kFunctionId, expectInteger(p));
    if (next(p) == ',') {
        setNumber(p, kVariant, expectInteger(p));
        next(p);
    }
    check(p, ';', ";");
    setTable(p, kProductId);

    expect(p, TOK_response_error, "response_error");
    expect(p, '=', "=");
    expectName(p);
    setTokenText(p, kResponseError);
    expect(p, ';', ";");

    if (next(p) == TOK_fault_state_signals) {
        expect(p, '=', "=");
        lua_newtable(L);
        int signals = 0;
        expectName(p);
        appendTokenText(p, &signals);
        while (next(p) == ',' || p->token == TOK_IDENTIFIER) {
            if (p->token == ',')
                expectPlainName(p);
            appendTokenText(p, &signals);
        }
        check(p, ';', ";");
        setTable(p, kFaultStateSignals);
        next(p);
    }

    for (const Timing &t : kTimings) {
        if (p->token != t.keyword)
            continue;
        expect(p, '=', "=");
        setNumber(p, t.key, expectNumber(p));
        expect(p, TOK_ms, "ms");
        expect(p, ';', ";");
        next(p);
    }

    check(p, TOK_configurable_frames, "configurable_frames");
    expect(p, '{', "{");
    lua_newtable(L);
    int frames = 0;
    next(p);
    while (p->token == TOK_IDENTIFIER) {
        newNamedEntry(p, kFrame, 3);
        if (next(p) == '=') {
            setNumber(p, kIdent, expectInteger(p));
            next(p);
        }
        check(p, ';', ";");
        appendTo(p, &frames);
        next(p);
    }
    check(p, '}', "}");
    setTable(p, kConfigurableFrames);
}

void parseNodeAttribute(Parser *p)
{
    newNamedEntry(p, kNode, 6);
    expect(p, '{', "{");
    expect(p, TOK_LIN_protocol, "LIN_protocol");
    expect(p, '=', "=");
    if (next(p) != TOK_STRING && p->token != TOK_FLOAT)
        fail(p, "constant");
    setTokenText(p, kLinProtocol);
    expect(p, ';', ";");
    expect(p, TOK_configured_NAD, "configured_NAD");
    expect(p, '=', "=");
    setNumber(p, kConfiguredNad, expectInteger(p));
    expect(p, ';', ";");
    if (next(p) == TOK_initial_NAD) {
        expect(p, '=', "=");
        setNumber(p, kDiagAddress, expectInteger(p));
        expect(p, ';', ";");
        next(p);
    }
    if (p->token == TOK_product_id) {
        readProductAttributes(p);
        next(p);
    }
    check(p, '}', "}");
}

void parseNodeAttributes(Parser *p)
{
    check(p, TOK_Node_attributes, "Node_attributes");
    openSection(p, kNodeAttributes);
    int count = 0;
    while (p->token == TOK_IDENTIFIER) {
        parseNodeAttribute(p);
        appendTo(p, &count);
        next(p);
    }
    closeSection(p);
}

// count integers separated by ',' (and preceded by one when leadingComma) into a new
// table left on top of the stack.
void readIntegers(Parser *p, int count, bool leadingComma)
{
    lua_createtable(p->L, count, 0);
    for (int i = 1; i <= count; ++i) {
        if (i > 1 || leadingComma)
            expect(p, ',', ",");
        lua_pushnumber(p->L, expectInteger(p));
        lua_rawseti(p->L, -2, i);
    }
}

// '{', a node name stored under key, and nothing more of the command yet.
void openNodeCommand(Parser *p, Name tag, Name key)
{
    newElement(p, tag, 3);
    expect(p, '{', "{");
    expectName(p);
    setTokenText(p, key);
}

// One schedule entry: the command (current) and its delay.
void parseScheduleEntry(Parser *p)
{
    static const Name kChangeNadKeys[] = {kNad, kId, kByte, kMask, kInv, kNewNad};
    switch (p->token) {
    case TOK_IDENTIFIER:
        newElement(p, kIdentifier, 3);
        setTokenText(p, kFrame);
        break;
    case TOK_AssignNAD:
    case TOK_SaveConfiguration:
        openNodeCommand(p, p->token == TOK_AssignNAD ? kAssignNad : kSaveConfiguration, kNode);
        expect(p, '}', "}");
        break;
    case TOK_ConditionalChangeNAD:
        newElement(p, kConditionalChangeNad, 8);
        expect(p, '{', "{");
        for (size_t i = 0; i < std::size(kChangeNadKeys); ++i) {
            if (i > 0)
                expect(p, ',', ",");
            setNumber(p, kChangeNadKeys[i], expectInteger(p));
        }
        expect(p, '}', "}");
        break;
    case TOK_DataDump:
        openNodeCommand(p, kDataDump, kName);
        readIntegers(p, 5, true);
        setTable(p, kData);
        expect(p, '}', "}");
        break;
    case TOK_AssignFrameIdRange:
        openNodeCommand(p, kAssignFrameIdRange, kNode);
        expect(p, ',', ",");
        setNumber(p, kFrameIndex, expectInteger(p));
        if (next(p) == ',') {
            readIntegers(p, 4, false);
            setTable(p, kFramePids);
            next(p);
        }
        check(p, '}', "}");
        break;
    case TOK_FreeFormat:
        newElement(p, kFreeFormat, 3);
        expect(p, '{', "{");
        readIntegers(p, 8, false);
        setTable(p, kData);
        expect(p, '}', "}");
        break;
    case TOK_AssignFrameId:
        openNodeCommand(p, kAssignFrameId, kNode);
        expect(p, ',', ",");
        expectName(p);
        setTokenText(p, kFrame);
        expect(p, '}', "}");
        break;
    default:
        fail(p, "frame_name or command type");
    }
    expect(p, TOK_delay, "delay");
    setNumber(p, kTime, expectNumber(p));
    expect(p, TOK_ms, "ms");
    expect(p, ';', ";");
}

// The body shared by schedule tables and signal encoding types: named blocks, each a
// '{' ... '}' list of entries read by parseEntry from its first token to its ';'.
void parseNamedBlocks(Parser *p, Name sectionKey, Name blockKey, void (*parseEntry)(Parser *))
{
    openSection(p, sectionKey);
    int blocks = 0;
    while (p->token == TOK_IDENTIFIER) {
        newNamedEntry(p, blockKey, 2);
        expect(p, '{', "{");
        int entries = 0;
        while (next(p) != '}') {
            parseEntry(p);
            appendTo(p, &entries);
        }
        appendTo(p, &blocks);
        next(p);
    }
    closeSection(p);
}

void parseScheduleTables(Parser *p)
{
    check(p, TOK_Schedule_tables, "Schedule_tables");
    parseNamedBlocks(p, kScheduleTables, kScheduleTable, parseScheduleEntry);
}

void parseSignalGroups(Parser *p)
{
    if (p->token != TOK_Signal_groups)
        return;
    openSection(p, kSignalGroups);
    int groups = 0;
    while (p->token == TOK_IDENTIFIER) {
        newNamedEntry(p, kSignalGroup, 3);
        expect(p, ':', ":");
        setNumber(p, kSize, expectInteger(p));
        expect(p, '{', "{");
        int members = 0;
        next(p);
        while (p->token == TOK_IDENTIFIER) {
            newNamedEntry(p, kSignal, 3);
            expect(p, ',', ",");
            setNumber(p, kOffset, expectInteger(p));
            expect(p, ';', ";");
            appendTo(p, &members);
            next(p);
        }
        check(p, '}', "}");
        appendTo(p, &groups);
        next(p);
    }
    closeSection(p);
}

// An optional ", "text"" before the ';' of a logical or physical value.
void readOptionalText(Parser *p)
{
    if (next(p) == ',') {
        expect(p, TOK_STRING, "string constant");
        setTokenText(p, kTextValue);
        next(p);
    }
    check(p, ';', ";");
}

// One encoding entry (its keyword current), up to its ';'.
void parseEncodingEntry(Parser *p)
{
    switch (p->token) {
    case TOK_logical_value:
        newElement(p, kLogicalValue, 3);
        expect(p, ',', ",");
        setNumber(p, kIntValue, expectInteger(p));
        readOptionalText(p);
        break;
    case TOK_physical_value:
        newElement(p, kPhysicalValue, 6);
        expect(p, ',', ",");
        setNumber(p, kMinValue, expectInteger(p));
        expect(p, ',', ",");
        setNumber(p, kMaxValue, expectInteger(p));
        expect(p, ',', ",");
        setNumber(p, kScale, expectNumber(p));
        expect(p, ',', ",");
        setNumber(p, kOffset, expectNumber(p));
        readOptionalText(p);
        break;
    case TOK_bcd_value:
    case TOK_ascii_value:
        newElement(p, p->token == TOK_bcd_value ? kBcdValue : kAsciiValue, 2);
        expectNumber(p);
        setTokenText(p, kValue);
        expect(p, ';', ";");
        break;
    default:
        fail(p, "value type");
    }
}

void parseSignalEncodingTypes(Parser *p)
{
    if (p->token == TOK_Signal_encoding_types)
        parseNamedBlocks(p, kSignalEncodingTypes, kSignalEncoding, parseEncodingEntry);
}

void parseSignalRepresentation(Parser *p)
{
    if (p->token != TOK_Signal_representation)
        return;
    openSection(p, kSignalRepresentations);
    int count = 0;
    while (p->token == TOK_IDENTIFIER) {
        newNamedEntry(p, kSignalRepresentation, 2);
        expect(p, ':', ":");
        next(p);
        readNameList(p, true);
        check(p, ';', ";");
        appendTo(p, &count);
        next(p);
    }
    closeSection(p);
}

void parseSections(Parser *p)
{
    next(p);
    parseHeader(p);
    parseNodes(p);
    if (p->version < 2.0)
        parseDiagnosticAddresses(p);
    parseComposite(p);
    parseSignals(p);
    parseDiagnosticSignals(p);
    parseFrames(p);
    parseSporadicFrames(p);
    parseEventTriggeredFrames(p);
    parseDiagnosticFrames(p);
    if (p->version >= 2.0)
        parseNodeAttributes(p);
    parseScheduleTables(p);
    parseSignalGroups(p);
    parseSignalEncodingTypes(p);
    parseSignalRepresentation(p);
    // Whatever follows is not read; a read error that cut the file short before the
    // last section shows as an end of input the parser may have accepted.
    if (p->core->input->readError)
        raiseReadError(p->L);
}


}  // namespace

double leadingVersionNumber(const char *text)
{
    const char *end = text;
    while (*end >= '0' && *end <= '9')
        ++end;
    if (end == text)
        return 0;
    if (*end == '.') {
        ++end;
        while (*end >= '0' && *end <= '9')
            ++end;
    }
    double value = 0;
    std::from_chars(text, end, value);
    return value;
}

int parseLdf(lua_State *L)
{
    auto *parser = static_cast<LdfParser *>(lua_touserdata(L, lua_upvalueindex(1)));
    if (parser == nullptr || parser->lexer == nullptr) {
        lua_pushliteral(L, "invalid parser instance");
        raise(L);
    }
    Parser p{L, parser->lexer, &parser->lexer->core, TOK_EOF, 0, 0};
    p.core->onNoMemory = raiseNoMemory;
    p.core->noMemoryContext = L;
    if (!lua_checkstack(L, kNameCount + 16))
        raiseNoMemory(L);
    for (int name = 1; name < kNameCount; ++name)
        lua_pushstring(L, kNameTexts[name]);
    lua_createtable(L, 16, 1);
    setName(&p, kTag, kDb);
    parseSections(&p);
    lua_settop(L, kNameCount);
    return 1;
}

namespace {

const ReaderFormat<LdfLexer> kLdfFormat = {parseLdf, createLdfLexerOnInput, createLdfLexer, destroyLdfLexer};

}  // namespace

int importLdfStream(lua_State *L, FILE *stream)
{
    return readStream<LdfParser>(L, kLdfFormat, stream);
}

}  // namespace vexo::io

using namespace vexo::io;

int Vexo_importRawLDF(lua_State *L, const VexoChar *path)
{
    if (L == nullptr)
        return 0;
    return readPath<LdfParser>(L, kLdfFormat, path);
}
