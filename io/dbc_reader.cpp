// The DBC reader: a recursive-descent parser over DbcLexer tokens that builds the
// database table directly on the Lua stack, or the import's records (dbc_records.h) in a
// userdata. Syntax errors are raised as Lua errors, or, reading tolerantly, jump back to
// the statement (or signal) being read; both are longjmps, so no frame between lua_pcall
// and the parser may own a C++ object with a destructor: the parser's state is plain
// data, and the records' C++ containers live in the userdata, changed only in guarded
// calls that turn a failed allocation into Lua's memory error once they have returned.
#include "dbc_reader.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <new>
#include <string>
#include <string_view>
#include <strings.h>
#include <unordered_map>
#include <utility>
#include <vector>

#include "dbc_records.h"
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

struct RecordSink;

struct Parser : ParseState<DbcLexer> {
    bool frameSkipped;  // tolerant: the BO_ statement these SG_ lines belong to was skipped
    RecordSink *sink;   // reading into records; null: into the table
};

// ---- Records ----------------------------------------------------------------------
// Read into records, each element the table would get is gathered field by field under
// the table's keys, with the Lua type the field would have, and becomes records where
// the table would take it, converted as the builder read them from the table.

struct Field {
    int type;  // LUA_TNIL (0), LUA_TBOOLEAN, LUA_TNUMBER, LUA_TSTRING, LUA_TTABLE (the list)
    double number;
    std::string text;
};

struct Element {
    int tag;
    uint64_t set;  // a bit per name whose field was set
    Field fields[kNameCount];
    std::vector<std::string> list;                      // receivers, ENUM entries
    std::vector<std::pair<double, std::string>> pairs;  // value descriptions, each value once
};
static_assert(kNameCount <= 64, "a bit per name");

struct PendingValue {
    KeptAttribute which;
    double frame;
    std::string object, id;
    Value raw;
};

struct RecordSink {
    DbcRecords records;
    Element elements[2];  // a frame and its signal, or a statement
    int open;             // elements open
    std::vector<RawSignal> signals;  // of the open frame
    std::unordered_map<double, size_t> pairIndex;
    std::vector<size_t> order;
    // Values of kept attributes, read through the definitions once all are known.
    std::vector<PendingValue> pending;
};

// Runs body, which changes the records; a failed allocation becomes Lua's memory error
// after body's objects are gone.
template <class Body>
void guarded(Parser *p, const Body &body)
{
    bool failed = false;
    try {
        body();
    } catch (const std::bad_alloc &) {
        failed = true;
    }
    if (failed)
        raiseNoMemory(p->L);
}

Element &openElement(Parser *p)
{
    return p->sink->elements[p->sink->open - 1];
}

Field &field(Parser *p, int key)
{
    Element &e = openElement(p);
    e.set |= uint64_t{1} << key;
    return e.fields[key];
}

// The current token's text, as pushTokenText makes it.
void assignTokenText(Parser *p, std::string &out)
{
    if (p->token == TOK_STRING)
        out.assign(p->core->text);
    else
        out.assign(p->core->text, p->core->textLength);
}

// Lua's tonumber() of a text (Lua 5.1's conversion: strtod, a hexadecimal integer after
// "0x", blanks after the number).
bool readsAsNumber(const std::string &text, double *out)
{
    const char *s = text.c_str();
    char *end = nullptr;
    *out = std::strtod(s, &end);
    if (end == s)
        return false;
    if (*end == 'x' || *end == 'X')
        *out = static_cast<double>(std::strtoul(s, &end, 16));
    while (*end == ' ' || (*end >= '\t' && *end <= '\r'))
        ++end;
    return *end == '\0';
}

bool textOf(const Element &e, int key, std::string &out)
{
    const Field &f = e.fields[key];
    if (f.type != LUA_TSTRING)
        return false;
    out = f.text;
    return true;
}

// lua_tonumber of a field.
double numberOf(const Element &e, int key)
{
    const Field &f = e.fields[key];
    double value = 0;
    if (f.type == LUA_TNUMBER)
        return f.number;
    if (f.type == LUA_TSTRING && readsAsNumber(f.text, &value))
        return value;
    return 0;
}

Value textValue(const std::string &text)
{
    Value v;
    v.kind = Value::kText;
    v.reads = readsAsNumber(text, &v.number);
    if (!v.reads)
        v.number = 0;
    v.text = text;
    return v;
}

Value valueOf(const Field &f)
{
    if (f.type == LUA_TSTRING)
        return textValue(f.text);
    Value v;
    if (f.type == LUA_TNUMBER) {
        v.kind = Value::kNumber;
        v.reads = true;
        v.number = f.number;
    }
    return v;
}

void readSignal(Element &e, RawSignal &s)
{
    textOf(e, kId, s.name);
    std::string mode;
    if (textOf(e, kMode, mode) && mode.size() == 1)
        s.mode = mode[0];
    s.modeValue = numberOf(e, kModeValue);
    s.startBit = numberOf(e, kStartBit);
    s.bitLength = numberOf(e, kBitLen);
    s.bigEndian = e.fields[kBigEndian].type != LUA_TNIL;
    s.isSigned = e.fields[kSigned].type != LUA_TNIL;
    s.scale = numberOf(e, kScale);
    s.offset = numberOf(e, kOffset);
    s.min = numberOf(e, kMin);
    s.max = numberOf(e, kMax);
    textOf(e, kUnit, s.unit);
    if (e.fields[kReceivers].type == LUA_TTABLE)
        s.receivers = std::move(e.list);
}

void readComment(DbcRecords &r, const Element &e)
{
    std::string kind, text;
    textOf(e, kNtyp, kind);
    textOf(e, kText, text);
    if (kind == "BO_") {
        FrameNotes &notes = r.frameNotes[numberOf(e, kFrame)];
        notes.comment = std::move(text);
        notes.hasComment = true;
    } else if (kind == "SG_") {
        std::string signal;
        textOf(e, kSignal, signal);
        SignalNotes &notes = r.frameNotes[numberOf(e, kFrame)].signals[signal];
        notes.comment = std::move(text);
        notes.hasComment = true;
    } else if (kind == "BU_") {
        std::string node;
        textOf(e, kRefId, node);
        NodeNotes &notes = r.nodeNotes[node];
        notes.comment = std::move(text);
        notes.hasComment = true;
    } else if (kind == "EV_") {
        std::string variable;
        textOf(e, kRefId, variable);
        r.notices.push_back("comment of environment variable " + variable + " not kept");
    } else {
        r.databaseComment = std::move(text);
        r.hasDatabaseComment = true;
    }
}

void readValues(DbcRecords &r, Element &e)
{
    std::string variable;
    if (textOf(e, kEnvVar, variable)) {
        r.notices.push_back("value descriptions of environment variable " + variable + " not kept");
        return;
    }
    if (e.fields[kValues].type != LUA_TTABLE)
        return;
    std::string signal;
    textOf(e, kSignal, signal);
    SignalNotes &notes = r.frameNotes[numberOf(e, kFrame)].signals[signal];
    notes.values = std::move(e.pairs);
    notes.hasValues = true;
}

void readDefinition(DbcRecords &r, const Element &e)
{
    AttributeDefinition &d = r.definitions.emplace_back();
    textOf(e, kId, d.id);
    textOf(e, kNtyp, d.kind);
    // Kept values are read through the last definition of their name, whatever its kind.
    if (keptAttribute("BO_", d.id) == kNotKept && keptAttribute("SG_", d.id) == kNotKept &&
        keptAttribute("BU_", d.id) == kNotKept)
        return;
    Enumeration &en = r.keptDefinitions[d.id];
    en.isEnum = false;
    en.entries.clear();
    std::string type;
    if (!textOf(e, kTyp, type) || type != "ENUM")
        return;
    if (e.fields[kValues].type == LUA_TTABLE) {
        en.isEnum = true;
        for (const std::string &entry : e.list)
            en.entries.push_back(textValue(entry));
    }
}

void readAttribute(RecordSink *s, const Element &e)
{
    std::string kind, id;
    textOf(e, kNtyp, kind);
    textOf(e, kId, id);
    const KeptAttribute which = keptAttribute(kind, id);
    DbcRecords &r = s->records;
    if (which == kNotKept) {
        const auto found = r.droppedIndex.try_emplace(id, r.dropped.size());
        if (found.second)
            r.dropped.emplace_back(id, 0);
        r.dropped[found.first->second].second += 1;
        return;
    }
    PendingValue &v = s->pending.emplace_back();
    v.which = which;
    v.id = std::move(id);
    v.frame = which == kNodeLongSymbol ? 0 : numberOf(e, kFrame);
    if (which == kNodeLongSymbol)
        textOf(e, kRefId, v.object);
    else if (which == kStartValue || which == kSignalLongSymbol)
        textOf(e, kSignal, v.object);
    v.raw = valueOf(e.fields[kValue]);
}

// The open element goes where the table would take it: a signal to its frame, a
// statement into the records.
void commit(RecordSink *s)
{
    Element &e = s->elements[s->open - 1];
    DbcRecords &r = s->records;
    switch (e.tag) {
    case kSignal:
        readSignal(e, s->signals.emplace_back());
        break;
    case kFrame: {
        RawFrame &frame = r.frames.emplace_back();
        frame.ident = numberOf(e, kFrameId);
        frame.dlc = numberOf(e, kDlc);
        textOf(e, kId, frame.name);
        textOf(e, kSender, frame.sender);
        // Moved into a vector of their number; the sink's keeps its room for the next frame.
        frame.signals.reserve(s->signals.size());
        std::move(s->signals.begin(), s->signals.end(), std::back_inserter(frame.signals));
        s->signals.clear();
        break;
    }
    case kEcu:
        textOf(e, kId, r.ecuNames.emplace_back());
        break;
    case kComment:
        readComment(r, e);
        break;
    case kValue:
        readValues(r, e);
        break;
    case kAttrDef:
        readDefinition(r, e);
        break;
    case kAttrDefault: {
        std::string id;
        textOf(e, kId, id);
        if (id == "GenSigStartValue" || id == "GenMsgCycleTime" || id == "VFrameFormat" || id == "CANFD_BRS")
            r.defaults[id] = valueOf(e.fields[kValue]);
        break;
    }
    case kAttr:
        readAttribute(s, e);
        break;
    default:
        break;
    }
}

// Value descriptions where two may name one raw value of their signal (one is negative,
// see makeSignal in the builder): put in the order of Lua's traversal of the table that
// the same values make, which decides the one that stays.
void orderAsTable(Parser *p)
{
    lua_State *L = p->L;
    RecordSink *s = p->sink;
    Element &e = openElement(p);
    guarded(p, [s, &e] {
        s->order.clear();
        s->order.reserve(e.pairs.size());
    });
    lua_newtable(L);
    for (size_t i = 0; i < e.pairs.size(); ++i) {
        lua_pushnumber(L, e.pairs[i].first);
        lua_pushnumber(L, static_cast<double>(i));
        lua_rawset(L, -3);
    }
    lua_pushnil(L);
    while (lua_next(L, -2) != 0) {
        s->order.push_back(static_cast<size_t>(lua_tonumber(L, -1)));
        lua_pop(L, 1);
    }
    lua_pop(L, 1);
    guarded(p, [s, &e] {
        std::vector<std::pair<double, std::string>> ordered;
        ordered.reserve(e.pairs.size());
        for (size_t i : s->order)
            ordered.push_back(std::move(e.pairs[i]));
        e.pairs = std::move(ordered);
    });
}

// ---- Output -----------------------------------------------------------------------
// The parser's steps, to the table on the Lua stack or to the records.

void putName(Parser *p, int key, int value)
{
    if (p->sink == nullptr) {
        setName(p, key, value);
        return;
    }
    guarded(p, [p, key, value] {
        Field &f = field(p, key);
        f.type = LUA_TSTRING;
        f.text.assign(kNameTexts[value]);
    });
}

void putNumber(Parser *p, int key, double value)
{
    if (p->sink == nullptr) {
        setNumber(p, key, value);
        return;
    }
    Field &f = field(p, key);
    f.type = LUA_TNUMBER;
    f.number = value;
}

void putTrue(Parser *p, int key)
{
    if (p->sink == nullptr) {
        lua_pushvalue(p->L, key);
        lua_pushboolean(p->L, 1);
        lua_rawset(p->L, -3);
        return;
    }
    field(p, key).type = LUA_TBOOLEAN;
}

void putText(Parser *p, int key)
{
    if (p->sink == nullptr) {
        setTokenText(p, key);
        return;
    }
    guarded(p, [p, key] {
        Field &f = field(p, key);
        f.type = LUA_TSTRING;
        assignTokenText(p, f.text);
    });
}

void putString(Parser *p, int key, const char *text)
{
    if (p->sink == nullptr) {
        lua_pushvalue(p->L, key);
        lua_pushstring(p->L, text);
        lua_rawset(p->L, -3);
        return;
    }
    guarded(p, [p, key, text] {
        Field &f = field(p, key);
        f.type = LUA_TSTRING;
        f.text.assign(text);
    });
}

// A new element {tag = tag}.
void begin(Parser *p, int tag, int hashSize)
{
    RecordSink *s = p->sink;
    if (s == nullptr) {
        newElement(p, tag, hashSize);
        return;
    }
    Element &e = s->elements[s->open++];
    for (uint64_t set = e.set; set != 0; set &= set - 1)
        e.fields[__builtin_ctzll(set)].type = LUA_TNIL;
    e.set = 0;
    e.tag = tag;
    e.list.clear();
    e.pairs.clear();
    if (tag == kFrame)
        s->signals.clear();
}

// The element's list (receivers, ENUM entries, value descriptions), stored under key by
// endList.
void beginList(Parser *p, int arraySize)
{
    if (p->sink == nullptr)
        lua_createtable(p->L, arraySize, 0);
    else
        p->sink->pairIndex.clear();
}

// The current token's text as entry index of the list.
void listText(Parser *p, int index)
{
    if (p->sink == nullptr) {
        pushTokenText(p);
        lua_rawseti(p->L, -2, index);
        return;
    }
    guarded(p, [p] { assignTokenText(p, openElement(p).list.emplace_back()); });
}

// The current token's text under the number value in the list; a value met again
// keeps its place and takes the new text, as in a table.
void listPair(Parser *p, double value)
{
    RecordSink *s = p->sink;
    if (s == nullptr) {
        lua_pushnumber(p->L, value);
        pushTokenText(p);
        lua_rawset(p->L, -3);
        return;
    }
    guarded(p, [p, s, value] {
        std::vector<std::pair<double, std::string>> &pairs = openElement(p).pairs;
        const auto found = s->pairIndex.try_emplace(value, pairs.size());
        if (found.second)
            pairs.emplace_back(value, std::string());
        assignTokenText(p, pairs[found.first->second].second);
    });
}

void endList(Parser *p, int key)
{
    if (p->sink == nullptr) {
        setTable(p, key);
        return;
    }
    field(p, key).type = LUA_TTABLE;
}

// Appends the element to the one below (the database, or a frame).
void append(Parser *p, int *count)
{
    RecordSink *s = p->sink;
    if (s == nullptr) {
        appendTo(p, count);
        return;
    }
    ++*count;
    Element &e = openElement(p);
    if (e.tag == kValue) {
        bool negative = false;
        for (const auto &pair : e.pairs)
            negative = negative || std::signbit(pair.first);
        if (negative)
            orderAsTable(p);
    }
    guarded(p, [s] { commit(s); });
    --s->open;
}

// A place among the elements being made: the table's stack index, or the number of
// elements open in records. mark gives the current one; dropTo drops what was made
// above it (a failed statement or signal).
int mark(Parser *p)
{
    return p->sink == nullptr ? lua_gettop(p->L) : p->sink->open;
}

void dropTo(Parser *p, int place)
{
    if (p->sink == nullptr)
        lua_settop(p->L, place);
    else
        p->sink->open = place;
}

// The quoted string field key of the element at a place (mark's value while it was the
// newest), as quoteField gives it: an empty text where the field is no string.
Quoted quoteAt(Parser *p, int place, int key)
{
    if (p->sink == nullptr)
        return quoteField(p->L, place, key);
    Quoted q;
    q.text[0] = '\0';
    if (place >= 1 && place <= p->sink->open) {
        const Field &f = p->sink->elements[place - 1].fields[key];
        if (f.type == LUA_TSTRING)
            q = quote(f.text.data(), f.text.size());
    }
    return q;
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
    putNumber(p, key, p->core->tokenValue.u);
}

void expectIdentifier(Parser *p, Name key)
{
    if (next(p) != TOK_IDENTIFIER && !acceptAsName(p))
        fail(p, "identifier");
    putText(p, key);
}

void expectNumber(Parser *p, Name key)
{
    if (!isNumberToken(next(p)) && !acceptPointNumber(p))
        fail(p, "number");
    putNumber(p, key, numberValue(p->core));
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
    putText(p, kValue);
}

// The multiplexer indicator: m<digits> (multiplexed signal) or M (switch).
void setModeFlag(Parser *p)
{
    const char *text = p->core->text;
    if (text[0] == 'm') {
        double value = 0;
        for (const char *d = text + 1; *d >= '0' && *d <= '9'; ++d)
            value = value * 10 + (*d - '0');
        putName(p, kMode, kModeLower);
        putNumber(p, kModeValue, value);
    } else if (text[0] == 'M') {
        putName(p, kMode, kModeUpper);
    } else {
        fail(p, "m or M (mode flag)");
    }
}

// After SG_: leaves the signal table on the stack and the token after it current.
void parseSignal(Parser *p)
{
    begin(p, kSignal, 16);
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
        putTrue(p, kBigEndian);
    next(p);
    if (p->token == '-')
        putTrue(p, kSigned);
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
    putText(p, kUnit);

    beginList(p, 1);
    int receivers = 0;
    setNewlineMode(p->lexer, true);
    next(p);
    while (p->token == TOK_IDENTIFIER) {
        listText(p, ++receivers);
        if (next(p) == ',')
            next(p);
    }
    setNewlineMode(p->lexer, false);  // the token that ended the list (the line end) is dropped
    if (p->tol.on && p->token != '\n' && p->token != TOK_EOF) {
        const Quoted signal = p->sink == nullptr ? quoteField(p->L, -2, kId) : quoteAt(p, p->sink->open, kId);
        note(p, "ignored %s after the receivers of signal %s", quoteToken(p->core).text, signal.text);
    }
    endList(p, kReceivers);
    next(p);
}

// ---- Signal lines read in one go ---------------------------------------------------
// Most SG_ lines hold one signal in the plain form: names that are no keywords, decimal
// numbers, a unit without escapes, receivers, the line end. Such a line, when it lies
// in the input's buffer, is read straight from there into the records: what the tokens
// would give, with the line and column accounting of reading them one by one. Any other
// line is left to the parser (all of it, nothing read).

// The bytes of one SG_ line after its keyword, and a place in them.
struct LineScan {
    const uint8_t *at, *end;
    int tokens = 0;  // the tokens the parser would have read

    bool blank() const { return at < end && (*at == ' ' || *at == '\t'); }
    void skipBlanks()
    {
        while (blank())
            ++at;
    }
    bool take(char c)
    {
        skipBlanks();
        if (at == end || *at != static_cast<uint8_t>(c))
            return false;
        ++at;
        ++tokens;
        return true;
    }
    // A name: a word that starts with a letter or '_' and is no keyword.
    bool name(std::string_view *out)
    {
        skipBlanks();
        const uint8_t *start = at;
        if (at == end || !hasClass(*at, kClassWordStart))
            return false;
        while (at < end && hasClass(*at, kClassWord))
            ++at;
        const auto *text = reinterpret_cast<const char *>(start);
        const auto length = static_cast<size_t>(at - start);
        if (findDbcKeyword(text, length) != dbc::TOK_IDENTIFIER)
            return false;
        *out = std::string_view(text, length);
        ++tokens;
        return true;
    }
    // A decimal number token as the tokenizer reads it, and its value as the parser
    // takes it (floats as they are, integers as 32-bit values); false for octal,
    // hexadecimal and malformed numbers and for a word run into the number.
    bool number(double *value, bool unsignedOnly = false)
    {
        skipBlanks();
        const uint8_t *start = at;
        if (at < end && (*at == '+' || *at == '-') && !unsignedOnly)
            ++at;
        const uint8_t *digits = at;
        if (at == end || !hasClass(*at, kClassDigit) || (*at == '0' && at + 1 < end && hasClass(at[1], kClassWord)))
            return false;
        bool point = false, exponent = false;
        while (at < end) {
            if (hasClass(*at, kClassDigit)) {
                ++at;
            } else if (*at == '.' && !point && !exponent) {
                point = true;
                ++at;
            } else if ((*at == 'e' || *at == 'E') && !exponent) {
                exponent = true;
                ++at;
                if (at < end && (*at == '+' || *at == '-'))
                    ++at;
            } else {
                break;
            }
        }
        if (at < end && (hasClass(*at, kClassWord) || *at == '.'))
            return false;
        const auto length = static_cast<uint32_t>(at - start);
        if (point || exponent) {
            if (unsignedOnly)
                return false;
            *value = decimalToDouble(reinterpret_cast<const char *>(start), length);
        } else {
            // An integer: signed when written with '-' (-0 is 0), else unsigned.
            uint64_t magnitude = 0;
            for (const uint8_t *d = digits; d < at; ++d)
                magnitude = withDigit(magnitude, 10, *d - '0');
            *value = *start == '-' ? double(signedValue(true, magnitude)) : double(unsignedValue(magnitude));
        }
        ++tokens;
        return true;
    }
};

// Reads the SG_ line whose keyword is the current token into the records, as parseSignal
// and append read it, and the token after its line end. False, having read nothing, for
// a line it does not take.
bool readPlainSignal(Parser *p, int *signals)
{
    LexerCore *core = p->core;
    LexInput *in = core->input;
    RecordSink *s = p->sink;
    if (s == nullptr || in->pushedBack != kNoChar || (core->lookahead != ' ' && core->lookahead != '\t'))
        return false;
    const auto *feed = static_cast<const uint8_t *>(std::memchr(in->position, '\n', size_t(in->end - in->position)));
    if (feed == nullptr)
        return false;
    size_t length = static_cast<size_t>(feed - in->position);
    if (length > 0 && in->position[length - 1] == '\r')
        --length;  // a CR LF line end
    if (std::memchr(in->position, '\r', length) != nullptr)
        return false;
    const uint8_t *lineEnd = in->position + length;
    LineScan line{in->position, lineEnd};
    std::string_view name, mode, unit;
    double numbers[8] = {};  // start bit, length, byte order, scale, offset, min, max, mode value
    if (!line.name(&name))
        return false;
    line.skipBlanks();
    if (line.at < line.end && *line.at != ':') {
        if (!line.name(&mode) || (mode[0] != 'm' && mode[0] != 'M'))
            return false;
        for (size_t k = 1; mode[0] == 'm' && k < mode.size() && mode[k] >= '0' && mode[k] <= '9'; ++k)
            numbers[7] = numbers[7] * 10 + (mode[k] - '0');
    }
    if (!line.take(':') || !line.number(&numbers[0], true) || !line.take('|') || !line.number(&numbers[1], true)
        || !line.take('@') || !line.number(&numbers[2], true))
        return false;
    line.skipBlanks();
    if (line.at == line.end || (*line.at != '+' && *line.at != '-'))
        return false;
    const bool isSigned = *line.at++ == '-';
    ++line.tokens;
    if (line.at < line.end && !line.blank() && *line.at != '(')
        return false;  // a sign that begins a number
    if (!line.take('(') || !line.number(&numbers[3]) || !line.take(',') || !line.number(&numbers[4])
        || !line.take(')') || !line.take('[') || !line.number(&numbers[5]) || !line.take('|')
        || !line.number(&numbers[6]) || !line.take(']') || !line.take('"'))
        return false;
    const uint8_t *unitStart = line.at;
    while (line.at < line.end && *line.at != '"' && *line.at != '\\' && *line.at != 0)
        ++line.at;
    if (line.at == line.end || *line.at != '"')
        return false;
    unit = std::string_view(reinterpret_cast<const char *>(unitStart), size_t(line.at - unitStart));
    ++line.at;
    // Receivers: names, each perhaps followed by a comma, up to the line end.
    std::string_view receivers[16];
    size_t count = 0;
    for (;;) {
        line.skipBlanks();
        if (line.at == line.end)
            break;
        if (count == 16 || !line.name(&receivers[count++]))
            return false;
        line.skipBlanks();
        if (line.at < line.end && *line.at == ',') {
            ++line.at;
            ++line.tokens;
        }
    }
    guarded(p, [&] {
        RawSignal &r = s->signals.emplace_back();
        r.name.assign(name);
        if (!mode.empty())
            r.mode = mode[0];
        r.modeValue = mode.empty() || mode[0] != 'm' ? 0 : numbers[7];
        r.startBit = numbers[0];
        r.bitLength = numbers[1];
        r.bigEndian = numbers[2] == 0;
        r.isSigned = isSigned;
        r.scale = numbers[3];
        r.offset = numbers[4];
        r.min = numbers[5];
        r.max = numbers[6];
        r.unit.assign(unit);
        r.receivers.reserve(count);
        for (size_t k = 0; k < count; ++k)
            r.receivers.emplace_back(receivers[k]);
    });
    ++*signals;
    // The line as read: each byte a column, then the line end as the tokenizer takes it
    // in newline mode, and the token after it.
    core->column += static_cast<uint32_t>(line.at - in->position);
    in->position = lineEnd;
    core->lookahead = kNoChar;
    readChar(core);
    core->atLineStart = true;
    p->tol.tokens += static_cast<uint64_t>(line.tokens) + 1;
    next(p);
    return true;
}

// A failed signal of a frame is named and skipped; its frame goes on.
void readSignalRecovering(Parser *p, int *signals);

// After BO_: appends the frame with its signals; the token after them is current.
void parseFrame(Parser *p, int *count)
{
    begin(p, kFrame, 8);
    expectUnsigned(p, kFrameId, "constant");
    expectIdentifier(p, kId);
    expect(p, ':', ":");
    expectUnsigned(p, kDlc, "constant");
    expectIdentifier(p, kSender);
    int signals = 0;
    next(p);
    while (p->token == TOK_SG_) {
        if (readPlainSignal(p, &signals))
            continue;
        if (p->tol.on) {
            readSignalRecovering(p, &signals);
            continue;
        }
        parseSignal(p);
        append(p, &signals);
    }
    append(p, count);
}

// The optional object designator of CM_ and BA_; leaves the token after it current.
void parseDesignator(Parser *p, bool comment)
{
    switch (next(p)) {
    case TOK_BO_:
    case TOK_SG_: {
        const bool isSignal = p->token == TOK_SG_;
        putName(p, kNtyp, isSignal ? kSG : kBO);
        expectUnsigned(p, kFrame, "message id");
        if (isSignal) {
            const double frame = p->core->tokenValue.u;
            if (next(p) == TOK_STRING && comment && p->tol.on) {
                depart(p, "read comment of SG_ %f without a signal name as a comment of frame %f", frame, frame);
                putName(p, kNtyp, kBO);
                return;
            }
            if (p->token != TOK_IDENTIFIER && !acceptAsName(p))
                fail(p, "identifier");
            putText(p, kSignal);
        }
        next(p);
        break;
    }
    case TOK_BU_:
    case TOK_EV_:
        putName(p, kNtyp, p->token == TOK_BU_ ? kBU : kEV);
        expectIdentifier(p, kRefId);
        next(p);
        break;
    default:
        break;
    }
}

void parseComment(Parser *p, int *count)
{
    begin(p, kComment, 8);
    parseDesignator(p, true);
    if (p->token != TOK_STRING) {
        if (!p->tol.on || p->token != TOK_UNSIGNED_INT)
            fail(p, "string constant");
        const double frame = p->core->tokenValue.u;
        depart(p, "read comment with frame id %f but without BO_ as a comment of frame %f", frame, frame);
        putName(p, kNtyp, kBO);
        putNumber(p, kFrame, frame);
        if (next(p) != TOK_STRING)
            fail(p, "string constant");
    }
    putText(p, kText);
    append(p, count);
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
    begin(p, kValue, 4);
    next(p);
    if (p->token == TOK_UNSIGNED_INT) {
        putNumber(p, kFrame, p->core->tokenValue.u);
        expectIdentifier(p, kSignal);
    } else if (p->token == TOK_IDENTIFIER || acceptAsName(p)) {
        putText(p, kEnvVar);
    } else {
        fail(p, "message id or environment variable identifier");
    }
    next(p);
    if (isDescribedValue(p)) {
        beginList(p, 0);
        do {
            const double value = numberValue(p->core);
            expect(p, TOK_STRING, "string constant");
            listPair(p, value);
            next(p);
        } while (isDescribedValue(p));
        endList(p, kValues);
    }
    const bool closed = closeStatement(p, "VAL_");
    append(p, count);
    return closed;
}

// A bound of an INT, HEX or FLOAT definition: any token is consumed, numbers are kept.
void readBound(Parser *p, Name key)
{
    if (isNumberToken(next(p)))
        putNumber(p, key, numberValue(p->core));
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
        putString(p, kTyp, u.type);
        return u.code;
    }
    return 0;
}

void parseAttributeDefinition(Parser *p, int *count)
{
    begin(p, kAttrDef, 8);
    switch (next(p)) {
    case TOK_BO_:
    case TOK_SG_:
    case TOK_BU_:
    case TOK_EV_:
        putText(p, kNtyp);
        next(p);
        break;
    default:
        break;
    }
    if (p->token != TOK_STRING)
        fail(p, "attribute name");
    putText(p, kId);
    int32_t type = next(p);
    const bool usual = type >= TOK_INT && type <= TOK_ENUM;
    if (usual)
        putText(p, kTyp);
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
        beginList(p, 0);
        int values = 0;
        next(p);
        if (usual) {
            while (p->token == TOK_STRING) {
                listText(p, ++values);
                if (next(p) == ';')
                    break;
                next(p);  // the separator, whatever it is
            }
        } else {
            // BOOL False True: plain words and numbers as values, commas optional.
            while (isConstantValue(p->token) || p->token == TOK_IDENTIFIER) {
                listText(p, ++values);
                if (next(p) == ',')
                    next(p);
            }
        }
        endList(p, kValues);
        break;
    }
    }
    const bool closed = closeStatement(p, "BA_DEF_");
    append(p, count);
    if (closed)
        next(p);
}

void parseAttributeDefault(Parser *p, int *count)
{
    begin(p, kAttrDefault, 4);
    expect(p, TOK_STRING, "identifier");
    putText(p, kId);
    next(p);
    readAttributeValue(p);
    append(p, count);
}

void parseAttribute(Parser *p, int *count)
{
    begin(p, kAttr, 8);
    expect(p, TOK_STRING, "attribute name");
    putText(p, kId);
    parseDesignator(p, false);
    readAttributeValue(p);
    next(p);
    const bool closed = closeStatement(p, "BA_");
    append(p, count);
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
            begin(p, kEcu, 2);
            putText(p, kId);
            append(p, count);
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
// the partial table at place (see quoteAt), else its identifier, else nothing.
Quoted nameOfSkippedFrame(Parser *p, int place)
{
    if (mark(p) < place)
        return Quoted{};
    Quoted out = quoteAt(p, place, kId);
    if (out.text[0] != '\0')
        return out;
    if (p->sink != nullptr) {
        const Field &f = p->sink->elements[place - 1].fields[kFrameId];
        if (f.type == LUA_TNUMBER)
            std::snprintf(out.text, sizeof out.text, "%.0f", f.number);
        return out;
    }
    lua_pushvalue(p->L, kFrameId);
    lua_rawget(p->L, place);
    if (lua_type(p->L, -1) == LUA_TNUMBER)
        std::snprintf(out.text, sizeof out.text, "%.0f", lua_tonumber(p->L, -1));
    lua_pop(p->L, 1);
    return out;
}

void readSignalRecovering(Parser *p, int *signals)
{
    lua_State *L = p->L;
    const int top = mark(p);  // the frame
    const uint64_t start = p->tol.tokens;
    const uint32_t signalLine = p->core->tokenLine;
    if (attempt(&p->tol, [p] { parseSignal(p); })) {
        append(p, signals);
        return;
    }
    const Quoted found = quoteToken(p->core);
    const Quoted frame = quoteAt(p, top, kId);
    const Quoted signal = quoteAt(p, top + 1, kId);
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
    dropTo(p, top);
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
        const int top = mark(p);  // the database table
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
        dropTo(p, top);
        resync(p, start);
    }
    if (p->core->input->readError)
        raiseReadError(L, p->prefix);
    finishWarnings(L, &p->tol, p->core->tokenLine, p->core->tokenColumn);
}

// ---- Records: the end of a read -------------------------------------------------

// The tolerant reader's warnings as the builder reports them: "text (column n)" at
// their line.
void takeWarnings(Parser *p)
{
    lua_State *L = p->L;
    DbcRecords &r = p->sink->records;
    for (int i = 1;; ++i) {
        lua_rawgeti(L, kWarnings, i);
        if (lua_isnil(L, -1)) {
            lua_pop(L, 1);
            break;
        }
        if (lua_type(L, -1) == LUA_TTABLE) {
            guarded(p, [L, &r] {
                std::string text;
                double line = 0;
                lua_pushvalue(L, kText);
                lua_rawget(L, -2);
                if (lua_type(L, -1) == LUA_TSTRING) {
                    size_t length = 0;
                    const char *s = lua_tolstring(L, -1, &length);
                    text.assign(s, length);
                }
                lua_pushvalue(L, kLine);
                lua_rawget(L, -3);
                line = lua_tonumber(L, -1);
                lua_pushvalue(L, kColumn);
                lua_rawget(L, -4);
                if (lua_toboolean(L, -1))
                    text += " (column " + std::to_string(truncated(lua_tonumber(L, -1))) + ")";
                lua_pop(L, 3);
                r.warnings.emplace_back(line, std::move(text));
            });
        }
        lua_pop(L, 1);
    }
}

// The values of kept attributes through their definitions, then the warnings; the
// parser's scratch is let go.
void finishRecords(Parser *p)
{
    RecordSink *s = p->sink;
    guarded(p, [s] {
        DbcRecords &r = s->records;
        for (PendingValue &v : s->pending) {
            Value value = attributeValue(r.keptDefinitions, v.id, v.raw);
            switch (v.which) {
            case kCycleTime: r.frameNotes[v.frame].cycle = std::move(value); break;
            case kFrameFormat: r.frameNotes[v.frame].format = std::move(value); break;
            case kBitRateSwitch: r.frameNotes[v.frame].brs = std::move(value); break;
            case kFrameLongSymbol: r.frameNotes[v.frame].longSymbol = std::move(value); break;
            case kStartValue: r.frameNotes[v.frame].signals[v.object].start = std::move(value); break;
            case kSignalLongSymbol: r.frameNotes[v.frame].signals[v.object].longSymbol = std::move(value); break;
            case kNodeLongSymbol: r.nodeNotes[v.object].longSymbol = std::move(value); break;
            case kNotKept: break;
            }
        }
        s->pending = {};
        s->signals = {};
        s->pairIndex = {};
        s->order = {};
        for (Element &e : s->elements) {
            e.list = {};
            e.pairs = {};
        }
    });
    if (p->tol.on)
        takeWarnings(p);
}

constexpr char kRecordsType[] = "vexo.DbcRecords";

int records_gc(lua_State *L)
{
    static_cast<RecordSink *>(luaL_checkudata(L, 1, kRecordsType))->~RecordSink();
    return 0;
}

// The records' userdata on top of the stack. Their construction allocates nothing, so
// nothing is lost where making the metatable raises.
RecordSink *pushRecordSink(lua_State *L)
{
    auto *sink = new (lua_newuserdata(L, sizeof(RecordSink))) RecordSink();
    if (luaL_newmetatable(L, kRecordsType) != 0) {
        lua_pushcfunction(L, records_gc);
        lua_setfield(L, -2, "__gc");
    }
    lua_setmetatable(L, -2);
    return sink;
}

// The parse function of a read into records: the records' userdata, above the names
// and the (unused) database table.
int parseDbcRecords(lua_State *L)
{
    Parser p{};
    startParse(&p, L, "DBC-Import", kNames, 8, 0);
    p.sink = pushRecordSink(L);
    if (p.tol.on)
        parseStatementsTolerant(&p);
    else
        parseStatements(&p);
    finishRecords(&p);
    lua_settop(L, kNameCount + 1);
    return 1;
}

}  // namespace

KeptAttribute keptAttribute(const std::string &kind, const std::string &id)
{
    if (kind == "BO_") {
        if (id == "GenMsgCycleTime") return kCycleTime;
        if (id == "VFrameFormat") return kFrameFormat;
        if (id == "CANFD_BRS") return kBitRateSwitch;
        if (id == "SystemMessageLongSymbol") return kFrameLongSymbol;
    } else if (kind == "SG_") {
        if (id == "GenSigStartValue") return kStartValue;
        if (id == "SystemSignalLongSymbol") return kSignalLongSymbol;
    } else if (kind == "BU_" && id == "SystemNodeLongSymbol") {
        return kNodeLongSymbol;
    }
    return kNotKept;
}

Value attributeValue(const std::unordered_map<std::string, Enumeration> &keptDefinitions, const std::string &id,
                     const Value &raw)
{
    const auto definition = keptDefinitions.find(id);
    if (definition != keptDefinitions.end() && definition->second.isEnum) {
        const std::vector<Value> &entries = definition->second.entries;
        const double index = raw.number + 1;
        if (raw.reads && index >= 1 && index <= static_cast<double>(entries.size()) && index == std::floor(index))
            return entries[static_cast<size_t>(index) - 1];
        return raw;
    }
    if (!raw.reads)
        return raw;
    Value v;
    v.kind = Value::kNumber;
    v.reads = true;
    v.number = raw.number;
    return v;
}

int readDbcRecords(lua_State *L, const VexoChar *path, uint32_t flags)
{
    return readPath<DbcLexer>(L, parseDbcRecords, path, flags);
}

int readDbcRecordsStream(lua_State *L, FILE *stream, uint32_t flags)
{
    return readStream<DbcLexer>(L, parseDbcRecords, stream, flags);
}

DbcRecords *toDbcRecords(lua_State *L, int index)
{
    auto *sink = static_cast<RecordSink *>(lua_touserdata(L, index));
    if (sink == nullptr || !lua_getmetatable(L, index))
        return nullptr;
    luaL_getmetatable(L, kRecordsType);
    const bool records = lua_rawequal(L, -1, -2) != 0;
    lua_pop(L, 2);
    return records ? &sink->records : nullptr;
}

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
