// The LDF reader: a fixed sequence of section parsers over LdfLexer tokens that builds
// the database table directly on the Lua stack. Syntax errors are raised as Lua errors,
// or, reading tolerantly, jump back to the entry or section being read; both are
// longjmps, so no frame between lua_pcall and the parser may own a C++ object with a
// destructor: everything here is plain data, released by the caller after the call.
#include "ldf_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include <lua.hpp>

#include "reader_toolkit.h"

namespace vexo::io {

namespace {

using namespace ldf;

// The keys and constant values of the table, in their stack slots (reader_toolkit.h).
#define VEXO_LDF_NAMES(NAME, SLOT)                                                                              \
    NAME(kTag, "tag") NAME(kName, "name") NAME(kProtocolVersion, "LIN_protocol_version")                         \
    NAME(kLanguageVersion, "LIN_language_version") NAME(kSpeed, "LIN_speed") NAME(kChannelName, "Channel_name")  \
    NAME(kMaster, "Master") NAME(kSlaves, "Slaves") NAME(kTimebase, "timebase") NAME(kJitter, "jitter")         \
    NAME(kSize, "size") NAME(kInitValue, "initvalue") NAME(kPublishedBy, "publishedby")                         \
    NAME(kSubscribedBy, "subscribedby") NAME(kIdent, "ident") NAME(kOffset, "offset")                           \
    NAME(kCollisionTable, "collisionresolvingscheduletable") NAME(kLinProtocol, "LIN_protocol")                 \
    NAME(kConfiguredNad, "configured_NAD") NAME(kDiagAddress, "diagaddress") NAME(kProductId, "productid")      \
    NAME(kSupplierId, "supplierid") NAME(kFunctionId, "functionid") NAME(kVariant, "variant")                   \
    NAME(kResponseError, "responseerror") NAME(kFaultStateSignals, "faultstatesignals")                         \
    NAME(kP2Min, "P2_min") NAME(kStMin, "ST_min") NAME(kNAs, "N_as") NAME(kNCrTimeout, "N_CR_timeout")           \
    NAME(kConfigurableFrames, "configurableframes") NAME(kTime, "time") NAME(kFrame, "frame")                   \
    NAME(kNode, "node") NAME(kNad, "NAD") NAME(kId, "id") NAME(kByte, "byte") NAME(kMask, "mask")              \
    NAME(kInv, "inv") NAME(kNewNad, "new_NAD") NAME(kData, "data") NAME(kFrameIndex, "frameindex")              \
    NAME(kFramePids, "framePIDs") NAME(kIntValue, "intvalue") NAME(kTextValue, "textvalue")                     \
    NAME(kMinValue, "minvalue") NAME(kMaxValue, "maxvalue") NAME(kScale, "scale") NAME(kValue, "value")         \
    NAME(kDb, "db") NAME(kGlobal, "global") NAME(kNodes, "nodes")                                                \
    NAME(kDiagnosticAddresses, "diagnosticaddresses") NAME(kComposite, "composite")                             \
    NAME(kConfiguration, "configuration") NAME(kCompositeNode, "compositenode") NAME(kSignals, "signals")       \
    NAME(kSignal, "signal") NAME(kDiagnosticSignals, "diagnosticsignals") NAME(kFrames, "frames")               \
    NAME(kSignalInst, "signalinst") NAME(kSporadicFrames, "sporadicframes")                                     \
    NAME(kEventTriggeredFrames, "eventtriggeredframes") NAME(kDiagnosticFrames, "diagnosticframes")             \
    NAME(kNodeAttributes, "nodeattributes") NAME(kScheduleTables, "scheduletables")                             \
    NAME(kScheduleTable, "scheduletable") NAME(kIdentifier, "identifier") NAME(kAssignNad, "assignNAD")        \
    NAME(kSaveConfiguration, "saveconfiguration") NAME(kConditionalChangeNad, "conditionalChangeNAD")           \
    NAME(kDataDump, "datadump") NAME(kAssignFrameIdRange, "assignframeidrange") NAME(kFreeFormat, "freeformat") \
    NAME(kAssignFrameId, "assignframeid") NAME(kSignalGroups, "signalgroups") NAME(kSignalGroup, "signalgroup") \
    NAME(kSignalEncodingTypes, "signalencodingtypes") NAME(kSignalEncoding, "signalencoding")                   \
    NAME(kLogicalValue, "logicalvalue") NAME(kPhysicalValue, "physicalvalue") NAME(kBcdValue, "bcdvalue")       \
    NAME(kAsciiValue, "asciivalue") NAME(kSignalRepresentations, "signalrepresentations")                       \
    NAME(kSignalRepresentation, "signalrepresentation") NAME(kLine, "line") NAME(kColumn, "column")             \
    NAME(kText, "text")                                                                                          \
    SLOT(kWarnings) /* the warning list of a tolerant read (nil otherwise) */                                    \
    SLOT(kSections) /* tolerant: the sections read, under their place in the section order (nil otherwise) */   \
    SLOT(kLeftOut)  /* tolerant: what the warnings past the list's limit skip (nil otherwise) */

VEXO_READER_NAMES(VEXO_LDF_NAMES);

struct Parser : ParseState<LdfLexer> {
    double version;   // language version: Diagnostic_addresses below 2.0, Node_attributes from 2.0
    int elements;     // elements in the database table so far
    int section;      // tolerant: the section slot a finished section goes to; 0 keeps it on the stack
    const void *dropping;  // tolerant: the entry list of a section read only to name its entries
};

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
    if (!isWord(next(p)) && !acceptDigitName(p))
        fail(p, "identifier");
}

void expectPlainName(Parser *p)
{
    if (next(p) != TOK_IDENTIFIER && !acceptDigitName(p))
        fail(p, "identifier");
}

void appendTokenText(Parser *p, int *count)
{
    pushTokenText(p);
    appendTo(p, count);
}

// The section order of a file and of the table. ORDER SECTION
enum Section : int {
    kHeaderSection = 1, kNodesSection, kDiagnosticAddressesSection, kCompositeSection, kSignalsSection,
    kDiagnosticSignalsSection, kFramesSection, kSporadicFramesSection, kEventTriggeredFramesSection,
    kDiagnosticFramesSection, kNodeAttributesSection, kScheduleTablesSection, kSignalGroupsSection,
    kSignalEncodingTypesSection, kSignalRepresentationSection,
    kSectionEnd
};

struct SectionWord {
    int32_t keyword;
    const char *text;
};
// ORDER SECTION
constexpr SectionWord kSectionWords[kSectionEnd] = {
    {0, nullptr}, {0, "header"}, {TOK_Nodes, "Nodes"}, {TOK_Diagnostic_addresses, "Diagnostic_addresses"},
    {TOK_composite, "composite"}, {TOK_Signals, "Signals"}, {TOK_Diagnostic_signals, "Diagnostic_signals"},
    {TOK_Frames, "Frames"}, {TOK_Sporadic_frames, "Sporadic_frames"},
    {TOK_Event_triggered_frames, "Event_triggered_frames"}, {TOK_Diagnostic_frames, "Diagnostic_frames"},
    {TOK_Node_attributes, "Node_attributes"}, {TOK_Schedule_tables, "Schedule_tables"},
    {TOK_Signal_groups, "Signal_groups"}, {TOK_Signal_encoding_types, "Signal_encoding_types"},
    {TOK_Signal_representation, "Signal_representation"},
};

// A strict read appends each section as it finishes; a tolerant one keeps it under its
// place in the section order, or, for a section being dropped, on the stack.
void appendElement(Parser *p)
{
    if (!p->tol.on)
        lua_rawseti(p->L, kNameCount, ++p->elements);
    else if (p->section > 0)
        lua_rawseti(p->L, kSections, p->section);
}

// A new entry table named by the current token.
void newNamedEntry(Parser *p, Name tag, int hashSize)
{
    newElement(p, tag, hashSize);
    setTokenText(p, kName);
}

// ---- Tolerant reading: where entries and sections end ---------------------------
// Every acceptance below is reached only where a strict read raises its syntax error,
// so a file the strict reader accepts reads to the same table either way.

// The section a token opens: a section keyword, or (aliases) a multi-word section
// keyword with or without a plural "s" (Signal_representations). 0 for any other token.
int sectionOf(const Parser *p, bool *alias)
{
    if (alias != nullptr)
        *alias = false;
    for (int s = kNodesSection; s < kSectionEnd; ++s) {
        if (p->token == kSectionWords[s].keyword)
            return s;
    }
    if (p->token != TOK_IDENTIFIER || !p->tol.on)
        return 0;
    const char *text = p->core->text;
    const size_t length = p->core->textLength;
    for (int s = kNodesSection; s < kSectionEnd; ++s) {
        const char *word = kSectionWords[s].text;
        const size_t n = std::strlen(word);
        if (std::strchr(word, '_') == nullptr || std::memcmp(text, word, std::min(n, length)) != 0)
            continue;
        const bool plural = length == n + 1 && text[n] == 's';
        const bool singular = length + 1 == n && word[length] == 's';
        if (plural || singular) {
            if (alias != nullptr)
                *alias = true;
            return s;
        }
    }
    return 0;
}

// A section keyword that starts a line: taken for the next section wherever it stands.
// Not a misspelt one (Event_triggered_frame): that is a name a strict read takes in a
// list, and inside a section the tolerant read must read what a strict one accepts
// alike; between sections it is still taken for its section.
bool atSectionStart(const Parser *p)
{
    bool alias = false;
    return p->core->tokenStartsLine && sectionOf(p, &alias) != 0 && !alias;
}

// Whether the current token can start an entry of a list: a plain identifier or,
// tolerant, a name strict reading rejects there (digits run into letters, a keyword
// that does not start a section).
bool startsEntry(Parser *p)
{
    if (p->token == TOK_IDENTIFIER)
        return true;
    if (!p->tol.on)
        return false;
    if (!isWord(p->token))
        return acceptDigitName(p);
    if (atSectionStart(p))
        return false;
    takeKeywordAsName(p);
    return true;
}

// How an entry ends: with a ';' on its own level (a signal), with the '}' of a block it
// opened (a frame), or either way (a node attribute, which may be configurable_frames {...}).
enum class EntryEnd { kSemicolon, kBlock, kEither };

// Skips the rest of an entry that starts on brace level `level`: through its end, or
// up to (not including) the '}' that closes the enclosing list, a section keyword that
// starts a line, or a word that starts a line on the entry's level (the next entry).
// An entry that ends with ';' never holds a line of its own, so a brace it left open
// does not swallow the entries after it: its ';' and the next line's word count on any
// deeper level too. With force the current token is skipped whatever it is, so that a
// recovery that read nothing still moves on.
void skipEntry(Parser *p, int level, EntryEnd end, bool force)
{
    const bool flat = end != EntryEnd::kBlock;
    for (bool first = true;; first = false) {
        const int32_t t = p->token;
        const int d = p->depth;
        if (t == TOK_EOF)
            return;
        if (!(first && force)) {
            if ((t == '}' && d <= level) || atSectionStart(p))
                return;
            if ((flat ? d >= level : d == level) && p->core->tokenStartsLine && isWord(t))
                return;
        }
        next(p);
        if (t == ';' && flat && d >= level)
            return;
        if (t == '}' && d == level + 1 && end != EntryEnd::kSemicolon)
            return;
    }
}

// What an entry list holds, for the warnings about it.
struct EntryList {
    void (*read)(Parser *);  // one entry, from its name to the token after it
    const char *what;     // an entry: "signal", "frame" ...
    const char *section;  // the section keyword when the list is a section's own
    const char *parent;   // else what holds it ("frame"), named by its "name" field
    EntryEnd end;
    bool append;          // each entry leaves a table to append to the list's table
};

constexpr size_t kWhereSize = kQuotedLength + 48;

// Entries while the current token starts one; what each leaves on the stack is appended. Tolerant, an entry
// that fails is named in a warning and skipped, and so is text that starts no entry,
// up to the '}' that closes the list, a section keyword that starts a line, or the end.
void readEntries(Parser *p, const EntryList &list)
{
    lua_State *L = p->L;
    int count = 0;
    if (!p->tol.on) {
        while (p->token == TOK_IDENTIFIER) {
            list.read(p);
            if (list.append)
                appendTo(p, &count);
        }
        return;
    }
    const int container = lua_gettop(L);
    char where[kWhereSize];
    if (list.section != nullptr) {
        std::snprintf(where, sizeof where, "the %s section", list.section);
    } else {
        // The entry holding the list: the list's own table, or the one it goes into.
        Quoted parent = quoteField(L, container, kName);
        if (parent.text[0] == '\0')
            parent = quoteField(L, container - 1, kName);
        std::snprintf(where, sizeof where, "%s %s", list.parent, parent.text);
    }
    const int level = p->depth;
    while (p->token != '}' && p->token != TOK_EOF && !atSectionStart(p)) {
        if (!startsEntry(p)) {
            depart(p, "skipped text in %s: expected \"identifier\" but found %s", where, quoteToken(p->core).text);
            skipEntry(p, level, EntryEnd::kEither, true);
            continue;
        }
        const Quoted name = quoteToken(p->core);
        const bool dropping = p->dropping == &list;
        if (dropping)
            addLoss(L, &p->tol, false, {list.what, name.text}, p->core->tokenLine, p->core->tokenColumn,
                    "ignored %s %s of the ignored %s section", list.what, name.text, list.section);
        const uint64_t start = p->tol.tokens;
        if (attempt(&p->tol, [p, &list] { list.read(p); })) {
            if (list.append)
                appendTo(p, &count);
            continue;
        }
        if (dropping)
            depart(p, "skipped the rest of the ignored %s %s in %s: expected \"%s\" but found %s", list.what,
                   name.text, where, p->tol.expected, quoteToken(p->core).text);
        else
            addLoss(L, &p->tol, true, {list.what, name.text}, p->core->tokenLine, p->core->tokenColumn,
                    "skipped %s %s in %s: expected \"%s\" but found %s", list.what, name.text, where,
                    p->tol.expected, quoteToken(p->core).text);
        lua_settop(L, container);
        skipEntry(p, level, list.end, p->tol.tokens == start);
    }
}

// The '}' (current) that closes the block of the entry at stack index entry. Tolerant,
// a block cut short by the end of the file or a new section is taken as closed and
// false returned, the token staying current; else the caller reads on past the '}'.
bool closeBlock(Parser *p, const char *what, int entry)
{
    if (p->token == '}')
        return true;
    if (!p->tol.on || !(p->token == TOK_EOF || atSectionStart(p)))
        fail(p, "}");
    depart(p, "read %s %s without its closing \"}\"", what, quoteField(p->L, entry, kName).text);
    return false;
}

// The '{' after a section keyword (current); leaves the token after it current.
// Tolerant, a missing '{' is taken as there.
void openBrace(Parser *p, const char *section)
{
    if (next(p) == '{') {
        next(p);
        return;
    }
    if (!p->tol.on)
        fail(p, "{");
    depart(p, "read %s section without its \"{\"", section);
    ++p->depth;
}

// A section that opens with its keyword (already current) and '{', and whose
// entries each start with a plain identifier. Leaves the section element on the stack
// and the first entry's name (or whatever ends the list) current.
void openSection(Parser *p, Name tag, const char *section)
{
    newElement(p, tag, 1);
    openBrace(p, section);
}

// The '}' after a section's entries, then the section element is appended and the
// next token read. Tolerant, a section cut short by the end of the file or the next
// section is taken as closed there.
void closeSection(Parser *p, const char *section)
{
    if (p->token != '}') {
        if (!p->tol.on || !(p->token == TOK_EOF || atSectionStart(p)))
            fail(p, "}");
        depart(p, "read %s section without its closing \"}\"", section);
        appendElement(p);
        return;
    }
    appendElement(p);
    next(p);
}

// ---- Header and Nodes ----------------------------------------------------------

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

// LIN_speed (current) '=' speed kbps ';'. Tolerant, an integer speed is taken too.
void readSpeed(Parser *p)
{
    check(p, TOK_LIN_speed, "LIN_speed");
    expect(p, '=', "=");
    if (next(p) == TOK_FLOAT) {
        setNumber(p, kSpeed, p->core->tokenValue.d);
    } else if (p->tol.on && isInteger(p->token)) {
        depart(p, "read LIN_speed %s written without a point", quoteToken(p->core).text);
        setNumber(p, kSpeed, numberValue(p->core));
    } else {
        fail(p, "floating point constant");
    }
    expect(p, TOK_kbps, "kbps");
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
    next(p);
    readSpeed(p);
    if (next(p) == TOK_Channel_name) {
        readStringAssignment(p, TOK_Channel_name, "Channel_name", kChannelName);
        next(p);
    }
    appendElement(p);
}

// The header statements in the order strict reading wants them.
constexpr int32_t kHeaderKeywords[] = {TOK_LIN_description_file, TOK_LIN_protocol_version,
                                       TOK_LIN_language_version, TOK_LIN_speed, TOK_Channel_name};
constexpr const char *kHeaderTexts[] = {"LIN_description_file", "LIN_protocol_version", "LIN_language_version",
                                        "LIN_speed", "Channel_name"};
constexpr int kHeaderStatements = 5;

// One header statement (its keyword current) through the token after its ';'.
void readHeaderStatement(Parser *p, int which)
{
    switch (which) {
    case 0:
        expect(p, ';', ";");
        break;
    case 1:
        readStringAssignment(p, TOK_LIN_protocol_version, "LIN_protocol_version", kProtocolVersion);
        break;
    case 2:
        readStringAssignment(p, TOK_LIN_language_version, "LIN_language_version", kLanguageVersion, &p->version);
        break;
    case 3:
        readSpeed(p);
        break;
    default:
        readStringAssignment(p, TOK_Channel_name, "Channel_name", kChannelName);
        break;
    }
    next(p);
}

// Tolerant: the header statements in any order up to the first section; others are
// skipped with a warning, and the required ones that are missing named.
void readHeaderTolerant(Parser *p)
{
    lua_State *L = p->L;
    p->section = kHeaderSection;
    newElement(p, kGlobal, 5);
    const int header = lua_gettop(L);
    bool seen[kHeaderStatements] = {};
    int last = -1;
    while (p->token != TOK_EOF && sectionOf(p, nullptr) == 0) {
        const int which = static_cast<int>(std::find(std::begin(kHeaderKeywords), std::end(kHeaderKeywords), p->token) -
                                           std::begin(kHeaderKeywords));
        const Quoted first = quoteToken(p->core);
        if (which == kHeaderStatements) {
            depart(p, isWord(p->token) ? "skipped header statement %s" : "skipped text in the header from %s",
                   first.text);
            skipEntry(p, 0, EntryEnd::kEither, true);
            continue;
        }
        if (which <= last)
            depart(p, seen[which] ? "read header statement %s again; the last one counts"
                                  : "read header statement %s out of the usual order",
                   first.text);
        const uint64_t start = p->tol.tokens;
        if (attempt(&p->tol, [p, which] { readHeaderStatement(p, which); })) {
            seen[which] = true;
            last = std::max(last, which);
            continue;
        }
        depart(p, "skipped header statement %s: expected \"%s\" but found %s", first.text, p->tol.expected,
               quoteToken(p->core).text);
        lua_settop(L, header);
        skipEntry(p, 0, EntryEnd::kSemicolon, p->tol.tokens == start);
    }
    for (int i = 0; i < kHeaderStatements - 1; ++i) {
        if (!seen[i])
            depart(p, "the header has no %s statement", kHeaderTexts[i]);
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
    newElement(p, kNodes, 3);
    openBrace(p, "Nodes");
    check(p, TOK_Master, "Master");
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
    if (next(p) == ',' && p->tol.on) {
        // J2602 master lines go on with the bit length and the tolerance.
        depart(p, "ignored the fields after the jitter of master %s", quoteField(L, -1, kName).text);
        while (p->token != ';' && p->token != '}' && p->token != TOK_EOF && !atSectionStart(p))
            next(p);
    }
    check(p, ';', ";");
    setTable(p, kMaster);
    if (next(p) == '}' && p->tol.on) {
        depart(p, "read Nodes section without a Slaves line");
        lua_newtable(L);
        setTable(p, kSlaves);
        closeSection(p, "Nodes");
        return;
    }
    check(p, TOK_Slaves, "Slaves");
    expect(p, ':', ":");
    lua_newtable(L);
    next(p);
    readNameList(p, false);
    check(p, ';', ";");
    setTable(p, kSlaves);
    next(p);
    closeSection(p, "Nodes");
}

// ---- Diagnostic addresses, composite nodes, signals ------------------------------

void readAddress(Parser *p)
{
    pushTokenText(p);
    expect(p, ':', ":");
    next(p);  // the address, whatever token it is
    pushTokenText(p);
    lua_rawset(p->L, -3);
    if (next(p) == ';')
        next(p);
}

constexpr EntryList kAddressList = {readAddress, "address", "Diagnostic_addresses", nullptr, EntryEnd::kSemicolon, false};


void parseComposite(Parser *p)
{
    openSection(p, kComposite, "composite");
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
    closeSection(p, "composite");
}

void readSignal(Parser *p)
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
    next(p);
}

constexpr EntryList kSignalList = {readSignal, "signal", "Signals", nullptr, EntryEnd::kSemicolon, true};


void readDiagnosticSignal(Parser *p)
{
    newNamedEntry(p, kSignal, 3);
    expect(p, ':', ":");
    setNumber(p, kSize, expectInteger(p));
    expect(p, ',', ",");
    setNumber(p, kInitValue, expectInteger(p));
    expect(p, ';', ";");
    next(p);
}

constexpr EntryList kDiagnosticSignalList = {readDiagnosticSignal, "diagnostic signal", "Diagnostic_signals", nullptr,
                                             EntryEnd::kSemicolon, true};


// ---- Frames ----------------------------------------------------------------------

void readSignalInstance(Parser *p)
{
    newNamedEntry(p, kSignalInst, 2);
    expect(p, ',', ",");
    setNumber(p, kOffset, expectInteger(p));
    expect(p, ';', ";");
    next(p);
}

constexpr EntryList kInstanceList = {readSignalInstance, "signal", nullptr, "frame", EntryEnd::kSemicolon, true};

// After the '{' of a frame (current): "name, offset;" lines and the '}', appended to
// the frame table on top of the stack. Leaves the token after the '}' current.
void readSignalInstances(Parser *p)
{
    next(p);
    readEntries(p, kInstanceList);
    if (closeBlock(p, "frame", -1))
        next(p);
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

void readFrame(Parser *p)
{
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
}

constexpr EntryList kFrameList = {readFrame, "frame", "Frames", nullptr, EntryEnd::kBlock, true};


void readSporadicFrame(Parser *p)
{
    newNamedEntry(p, kFrame, 2);
    expect(p, ':', ":");
    int frames = 0;
    do {
        expectName(p);
        appendTokenText(p, &frames);
    } while (next(p) == ',');
    check(p, ';', ";");
    next(p);
}

constexpr EntryList kSporadicList = {readSporadicFrame, "sporadic frame", "Sporadic_frames", nullptr, EntryEnd::kSemicolon, true};


void readEventTriggeredFrame(Parser *p)
{
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
    next(p);
}

constexpr EntryList kEventTriggeredList = {readEventTriggeredFrame, "event-triggered frame", "Event_triggered_frames", nullptr,
                                           EntryEnd::kSemicolon, true};


void readDiagnosticFrame(Parser *p)
{
    newNamedEntry(p, kFrame, 3);
    expect(p, ':', ":");
    setNumber(p, kIdent, expectInteger(p));
    expect(p, '{', "{");
    readSignalInstances(p);
}

constexpr EntryList kDiagnosticFrameList = {readDiagnosticFrame, "diagnostic frame", "Diagnostic_frames", nullptr, EntryEnd::kBlock,
                                            true};


// ---- Node attributes ---------------------------------------------------------------

// The attributes of a node in the order a strict read wants them. ORDER NODE_ATTRIBUTE
enum NodeAttribute : int {
    kAttrProtocol, kAttrConfiguredNad, kAttrInitialNad, kAttrProductId, kAttrResponseError,
    kAttrFaultStateSignals, kAttrP2Min, kAttrStMin, kAttrNAs, kAttrNCr, kAttrConfigurableFrames,
    kNodeAttributeCount
};
struct NodeAttributeInfo {
    int32_t keyword;
    const char *text;
    Name key;
};
// ORDER NODE_ATTRIBUTE
constexpr NodeAttributeInfo kNodeAttributeInfo[kNodeAttributeCount] = {
    {TOK_LIN_protocol, "LIN_protocol", kLinProtocol},
    {TOK_configured_NAD, "configured_NAD", kConfiguredNad},
    {TOK_initial_NAD, "initial_NAD", kDiagAddress},
    {TOK_product_id, "product_id", kProductId},
    {TOK_response_error, "response_error", kResponseError},
    {TOK_fault_state_signals, "fault_state_signals", kFaultStateSignals},
    {TOK_P2_min, "P2_min", kP2Min},
    {TOK_ST_min, "ST_min", kStMin},
    {TOK_N_As_timeout, "N_As_timeout", kNAs},
    {TOK_N_Cr_timeout, "N_Cr_timeout", kNCrTimeout},
    {TOK_configurable_frames, "configurable_frames", kConfigurableFrames},
};

void readConfigurableFrame(Parser *p)
{
    newNamedEntry(p, kFrame, 3);
    if (next(p) == '=') {
        setNumber(p, kIdent, expectInteger(p));
        next(p);
    }
    check(p, ';', ";");
    next(p);
}

constexpr EntryList kConfigurableList = {readConfigurableFrame, "configurable frame", nullptr, "node", EntryEnd::kSemicolon, true};

// One attribute from its keyword (current) to its last token (';', or the '}' of
// configurable_frames).
void readNodeAttribute(Parser *p, int which)
{
    lua_State *L = p->L;
    const Name key = kNodeAttributeInfo[which].key;
    switch (which) {
    case kAttrProtocol:
        expect(p, '=', "=");
        if (next(p) != TOK_STRING && p->token != TOK_FLOAT)
            fail(p, "constant");
        setTokenText(p, key);
        expect(p, ';', ";");
        break;
    case kAttrConfiguredNad:
    case kAttrInitialNad:
        expect(p, '=', "=");
        setNumber(p, key, expectInteger(p));
        expect(p, ';', ";");
        break;
    case kAttrProductId:
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
        setTable(p, key);
        break;
    case kAttrResponseError:
        expect(p, '=', "=");
        expectName(p);
        setTokenText(p, key);
        expect(p, ';', ";");
        break;
    case kAttrFaultStateSignals: {
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
        setTable(p, key);
        break;
    }
    case kAttrConfigurableFrames:
        expect(p, '{', "{");
        lua_newtable(L);
        next(p);
        readEntries(p, kConfigurableList);
        check(p, '}', "}");
        setTable(p, key);
        break;
    default:  // the four timings
        expect(p, '=', "=");
        setNumber(p, key, expectNumber(p));
        expect(p, TOK_ms, "ms");
        expect(p, ';', ";");
        break;
    }
}

// The fixed sequence: LIN_protocol, configured_NAD, optionally initial_NAD, then
// optionally product_id with response_error, optional fault_state_signals and
// timings in their order, and configurable_frames.
void readNodeStrict(Parser *p)
{
    newNamedEntry(p, kNode, 6);
    expect(p, '{', "{");
    expect(p, TOK_LIN_protocol, "LIN_protocol");
    readNodeAttribute(p, kAttrProtocol);
    expect(p, TOK_configured_NAD, "configured_NAD");
    readNodeAttribute(p, kAttrConfiguredNad);
    if (next(p) == TOK_initial_NAD) {
        readNodeAttribute(p, kAttrInitialNad);
        next(p);
    }
    if (p->token == TOK_product_id) {
        readNodeAttribute(p, kAttrProductId);
        expect(p, TOK_response_error, "response_error");
        readNodeAttribute(p, kAttrResponseError);
        for (int which = kAttrFaultStateSignals; which < kAttrConfigurableFrames; ++which) {
            if (which == kAttrFaultStateSignals ? next(p) != TOK_fault_state_signals
                                                : p->token != kNodeAttributeInfo[which].keyword)
                continue;
            readNodeAttribute(p, which);
            next(p);
        }
        check(p, TOK_configurable_frames, "configurable_frames");
        readNodeAttribute(p, kAttrConfigurableFrames);
        next(p);
    }
    check(p, '}', "}");
    next(p);
}

// Tolerant: the attributes in any order; unknown ones (response_tolerance ...) and
// broken ones are skipped, and what a strict read would miss is named.
void readNodeTolerant(Parser *p)
{
    lua_State *L = p->L;
    newNamedEntry(p, kNode, 6);
    const int node = lua_gettop(L);
    const Quoted name = quoteToken(p->core);
    expect(p, '{', "{");
    next(p);
    const int level = p->depth;
    bool seen[kNodeAttributeCount] = {};
    int last = -1;
    while (p->token != '}' && p->token != TOK_EOF && !atSectionStart(p)) {
        const NodeAttributeInfo *info = std::find_if(std::begin(kNodeAttributeInfo), std::end(kNodeAttributeInfo),
                                                     [p](const NodeAttributeInfo &a) { return a.keyword == p->token; });
        const int which = static_cast<int>(info - std::begin(kNodeAttributeInfo));
        const Quoted first = quoteToken(p->core);
        if (which == kNodeAttributeCount) {
            depart(p, isWord(p->token) ? "skipped attribute %s of node %s" : "skipped text %s in node %s", first.text,
                   name.text);
            skipEntry(p, level, EntryEnd::kEither, true);
            continue;
        }
        if (seen[which])
            depart(p, "read attribute %s of node %s again; the last one counts", first.text, name.text);
        else if (which < last)
            depart(p, "read attribute %s of node %s out of the usual order", first.text, name.text);
        const uint64_t start = p->tol.tokens;
        if (attempt(&p->tol, [p, which] {
                readNodeAttribute(p, which);
                next(p);
            })) {
            seen[which] = true;
            last = std::max(last, which);
            continue;
        }
        depart(p, "skipped attribute %s of node %s: expected \"%s\" but found %s", first.text, name.text,
               p->tol.expected, quoteToken(p->core).text);
        lua_settop(L, node);
        if (!seen[which]) {  // a value stored before the failure goes with the attribute
            lua_pushvalue(L, info->key);
            lua_pushnil(L);
            lua_rawset(L, node);
        }
        skipEntry(p, level, EntryEnd::kEither, p->tol.tokens == start);
    }
    if (closeBlock(p, "node", node))
        next(p);
    for (int which : {kAttrProtocol, kAttrConfiguredNad}) {
        if (!seen[which])
            depart(p, "node %s has no %s", name.text, kNodeAttributeInfo[which].text);
    }
    if (seen[kAttrProductId]) {
        for (int which : {kAttrResponseError, kAttrConfigurableFrames}) {
            if (!seen[which])
                depart(p, "node %s has product_id but no %s", name.text, kNodeAttributeInfo[which].text);
        }
        return;
    }
    for (int which = kAttrResponseError; which < kNodeAttributeCount; ++which) {
        if (seen[which]) {
            depart(p, "node %s has %s but no product_id", name.text, kNodeAttributeInfo[which].text);
            break;
        }
    }
}

void readNode(Parser *p)
{
    if (p->tol.on)
        readNodeTolerant(p);
    else
        readNodeStrict(p);
}

constexpr EntryList kNodeList = {readNode, "node", "Node_attributes", nullptr, EntryEnd::kBlock, true};


// ---- Schedule tables, signal groups, encodings, representations ---------------------

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

// After a block's '{' (current): entries read by parseEntry, each from its first token
// to its ';', up to the block's '}'; leaves the token after that current. Tolerant, an
// entry that fails is named and skipped up to its ';'.
void readCommands(Parser *p, void (*parseEntry)(Parser *), const char *what)
{
    lua_State *L = p->L;
    int entries = 0;
    if (!p->tol.on) {
        while (next(p) != '}') {
            parseEntry(p);
            appendTo(p, &entries);
        }
        next(p);
        return;
    }
    const int block = lua_gettop(L);
    next(p);
    const int level = p->depth;
    while (p->token != '}' && p->token != TOK_EOF && !atSectionStart(p)) {
        const Quoted first = quoteToken(p->core);
        const uint64_t start = p->tol.tokens;
        if (attempt(&p->tol, [p, parseEntry] { parseEntry(p); })) {
            appendTo(p, &entries);
            next(p);
            continue;
        }
        depart(p, "skipped entry %s in %s %s: expected \"%s\" but found %s", first.text, what,
               quoteField(L, block, kName).text, p->tol.expected, quoteToken(p->core).text);
        lua_settop(L, block);
        skipEntry(p, level, EntryEnd::kSemicolon, p->tol.tokens == start);
    }
    if (closeBlock(p, what, block))
        next(p);
}

void readScheduleTable(Parser *p)
{
    newNamedEntry(p, kScheduleTable, 2);
    expect(p, '{', "{");
    readCommands(p, parseScheduleEntry, "schedule table");
}

constexpr EntryList kScheduleTableList = {readScheduleTable, "schedule table", "Schedule_tables", nullptr, EntryEnd::kBlock, true};


void readGroupMember(Parser *p)
{
    newNamedEntry(p, kSignal, 3);
    expect(p, ',', ",");
    setNumber(p, kOffset, expectInteger(p));
    expect(p, ';', ";");
    next(p);
}

constexpr EntryList kMemberList = {readGroupMember, "signal", nullptr, "signal group", EntryEnd::kSemicolon, true};

void readSignalGroup(Parser *p)
{
    newNamedEntry(p, kSignalGroup, 3);
    expect(p, ':', ":");
    setNumber(p, kSize, expectInteger(p));
    expect(p, '{', "{");
    next(p);
    readEntries(p, kMemberList);
    if (closeBlock(p, "signal group", -1))
        next(p);
}

constexpr EntryList kSignalGroupList = {readSignalGroup, "signal group", "Signal_groups", nullptr, EntryEnd::kBlock, true};


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
    case TOK_ascii_value: {
        const bool bcd = p->token == TOK_bcd_value;
        newElement(p, bcd ? kBcdValue : kAsciiValue, 2);
        if (next(p) == ';' && p->tol.on) {
            // As the LIN 2.x grammar writes them: no number.
            depart(p, "read %s without a number", bcd ? "bcd_value" : "ascii_value");
            break;
        }
        if (!isNumberToken(p->token))
            fail(p, "number");
        setTokenText(p, kValue);
        expect(p, ';', ";");
        break;
    }
    default:
        fail(p, "value type");
    }
}

void readEncodingType(Parser *p)
{
    newNamedEntry(p, kSignalEncoding, 2);
    expect(p, '{', "{");
    readCommands(p, parseEncodingEntry, "encoding type");
}

constexpr EntryList kEncodingTypeList = {readEncodingType, "encoding type", "Signal_encoding_types", nullptr, EntryEnd::kBlock,
                                         true};


void readRepresentation(Parser *p)
{
    newNamedEntry(p, kSignalRepresentation, 2);
    expect(p, ':', ":");
    next(p);
    readNameList(p, true);
    check(p, ';', ";");
    next(p);
}

constexpr EntryList kRepresentationList = {readRepresentation, "representation", "Signal_representation", nullptr,
                                           EntryEnd::kSemicolon, true};


// ---- The sections ------------------------------------------------------------------

struct SectionInfo {
    Name tag;
    void (*read)(Parser *);  // from the keyword (current) to the token after the '}'; null for a list
    const EntryList *list;   // the section's entries
};
// ORDER SECTION
const SectionInfo kSectionInfo[kSectionEnd] = {
    {kDb, nullptr, nullptr},
    {kGlobal, nullptr, nullptr},
    {kNodes, parseNodes, nullptr},
    {kDiagnosticAddresses, nullptr, &kAddressList},
    {kComposite, parseComposite, nullptr},
    {kSignals, nullptr, &kSignalList},
    {kDiagnosticSignals, nullptr, &kDiagnosticSignalList},
    {kFrames, nullptr, &kFrameList},
    {kSporadicFrames, nullptr, &kSporadicList},
    {kEventTriggeredFrames, nullptr, &kEventTriggeredList},
    {kDiagnosticFrames, nullptr, &kDiagnosticFrameList},
    {kNodeAttributes, nullptr, &kNodeList},
    {kScheduleTables, nullptr, &kScheduleTableList},
    {kSignalGroups, nullptr, &kSignalGroupList},
    {kSignalEncodingTypes, nullptr, &kEncodingTypeList},
    {kSignalRepresentations, nullptr, &kRepresentationList},
};

// A section from its keyword (current) to the token after its '}'.
void readSectionBody(Parser *p, int section)
{
    const SectionInfo &info = kSectionInfo[section];
    if (info.read != nullptr) {
        info.read(p);
        return;
    }
    const char *text = kSectionWords[section].text;
    openSection(p, info.tag, text);
    readEntries(p, *info.list);
    closeSection(p, text);
}

bool appliesToVersion(int section, double version)
{
    if (section == kDiagnosticAddressesSection)
        return version < 2.0;
    if (section == kNodeAttributesSection)
        return version >= 2.0;
    return true;
}

bool isRequired(int section, double version)
{
    switch (section) {
    case kNodesSection:
    case kSignalsSection:
    case kFramesSection:
    case kScheduleTablesSection:
        return true;
    case kNodeAttributesSection:
        return version >= 2.0;
    default:
        return false;
    }
}

// The header, then each section of the fixed order that the language version has:
// a required one must stand next, an optional one is read where it does.
void parseSections(Parser *p)
{
    next(p);
    parseHeader(p);
    for (int s = kNodesSection; s < kSectionEnd; ++s) {
        if (!appliesToVersion(s, p->version))
            continue;
        if (p->token == kSectionWords[s].keyword)
            readSectionBody(p, s);
        else if (isRequired(s, p->version))
            fail(p, kSectionWords[s].text);
    }
    // Whatever follows is not read; a read error that cut the file short before the
    // last section shows as an end of input the parser may have accepted.
    if (p->core->input->readError)
        raiseReadError(p->L, p->prefix);
}

// ---- Tolerant section loop -------------------------------------------------------

// What a strict read does at the current token when `from` is the first section it may
// still read: the section it reads, kSectionEnd when it reads nothing more, or 0 when it
// fails there (a required section is missing).
int strictStep(const Parser *p, int from, int found, bool alias)
{
    for (int s = from; s < kSectionEnd; ++s) {
        if (!appliesToVersion(s, p->version))
            continue;
        if (s == found && !alias)
            return s;
        if (isRequired(s, p->version))
            return 0;
    }
    return kSectionEnd;
}

// The section whose keyword (or alias) is current, under its own recovery point; its
// element goes to its section slot, or with keep false stays on the stack. False when
// the section had to be skipped.
bool readSection(Parser *p, int section, bool keep)
{
    lua_State *L = p->L;
    const int top = lua_gettop(L);
    const uint64_t start = p->tol.tokens;
    p->section = keep ? section : 0;
    p->depth = 0;
    if (attempt(&p->tol, [p, section] { readSectionBody(p, section); }))
        return true;
    depart(p, "skipped %s section: expected \"%s\" but found %s", kSectionWords[section].text, p->tol.expected,
           quoteToken(p->core).text);
    lua_settop(L, top);
    skipEntry(p, 0, EntryEnd::kBlock, p->tol.tokens == start);
    return false;
}

// A section that is read but not kept (it repeats an earlier one, or follows the last
// section a strict read reads); each frame and signal it held is named where it stands.
void dropSection(Parser *p, int section)
{
    p->dropping = kSectionInfo[section].list;
    const bool read = readSection(p, section, false);
    p->dropping = nullptr;
    if (read)
        lua_pop(p->L, 1);
}

// Skips text between sections: the current token and all up to the next section
// keyword outside braces (or starting a line), or the end.
void skipToSection(Parser *p)
{
    do
        next(p);
    while (p->token != TOK_EOF && !(sectionOf(p, nullptr) != 0 && (p->depth == 0 || p->core->tokenStartsLine)));
    p->depth = 0;
}

// The current section keyword, or an alias of it, made the keyword's token.
void takeSectionKeyword(Parser *p, int section, bool alias)
{
    if (alias)
        depart(p, "read %s as %s", quoteToken(p->core).text, kSectionWords[section].text);
    p->token = p->core->tokenCode = kSectionWords[section].keyword;
}

// A section read although the language version says the file has none.
void warnVersion(Parser *p, int section)
{
    lua_State *L = p->L;
    lua_rawgeti(L, kSections, kHeaderSection);
    const Quoted version = quoteField(L, -1, kLanguageVersion);
    lua_pop(L, 1);
    depart(p, section == kNodeAttributesSection ? "read %s section although the language version %s is below 2.0"
                                                : "read %s section although the language version %s is 2.0 or above",
           kSectionWords[section].text, version.text[0] != '\0' ? version.text : "(none)");
}

// After the last section a strict read reads, nothing more goes into the table, as in a
// strict read; what is there is named instead.
void ignoreRest(Parser *p)
{
    while (p->token != TOK_EOF) {
        bool alias = false;
        const int found = sectionOf(p, &alias);
        if (found == 0) {
            note(p, "ignored text from %s after the last section read", quoteToken(p->core).text);
            skipToSection(p);
            continue;
        }
        note(p, "ignored %s section after the last section read", kSectionWords[found].text);
        takeSectionKeyword(p, found, alias);
        dropSection(p, found);
    }
}

// Tolerant: sections in file order, each read where it stands. As long as the file
// follows the fixed order (and nothing else was read differently) this is a strict
// read; from the first place a strict read would fail, any section is read wherever it
// stands, and text that is no section is skipped. The sections go into the table in
// the fixed order; required sections the file lacks are given as empty ones.
void parseSectionsTolerant(Parser *p)
{
    lua_State *L = p->L;
    bool read[kSectionEnd] = {};
    next(p);
    readHeaderTolerant(p);
    read[kHeaderSection] = true;
    int from = kNodesSection;   // the first section a strict read may still read
    int previous = kHeaderSection;
    bool diverged = false;
    while (p->token != TOK_EOF) {
        bool alias = false;
        const int found = sectionOf(p, &alias);
        diverged = diverged || p->tol.departed;
        if (!diverged) {
            const int step = strictStep(p, from, found, alias);
            if (step == kSectionEnd) {
                ignoreRest(p);
                break;
            }
            if (step != 0) {
                read[step] = readSection(p, step, true);
                from = step + 1;
                previous = step;
                continue;
            }
            diverged = true;
        }
        if (found == 0) {
            depart(p, "skipped text from %s: expected a section", quoteToken(p->core).text);
            skipToSection(p);
            continue;
        }
        const char *text = kSectionWords[found].text;
        takeSectionKeyword(p, found, alias);
        if (read[found]) {
            depart(p, "ignored %s section: it repeats an earlier one", text);
            dropSection(p, found);
            continue;
        }
        if (found < previous)
            depart(p, "read %s section after the %s section, out of the usual order", text,
                   kSectionWords[previous].text);
        if (!appliesToVersion(found, p->version))
            warnVersion(p, found);
        read[found] = readSection(p, found, true);
        previous = found;
    }
    if (p->core->input->readError)
        raiseReadError(L, p->prefix);
    for (int s = kNodesSection; s < kSectionEnd; ++s) {
        if (read[s] || !isRequired(s, p->version))
            continue;
        if (s == kNodesSection) {
            depart(p, "the file has no readable Nodes section");
            continue;
        }
        depart(p, "the file has no readable %s section; it is given as an empty one", kSectionWords[s].text);
        newElement(p, kSectionInfo[s].tag, 1);
        lua_rawseti(L, kSections, s);
    }
    for (int s = kHeaderSection; s < kSectionEnd; ++s) {
        lua_rawgeti(L, kSections, s);
        if (lua_isnil(L, -1))
            lua_pop(L, 1);
        else
            lua_rawseti(L, kNameCount, ++p->elements);
    }
    finishWarnings(L, &p->tol, p->core->tokenLine, p->core->tokenColumn);
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
    Parser p{};
    startParse(&p, L, "LDF-Import", kNames, 16, 16);
    if (p.tol.on)
        parseSectionsTolerant(&p);
    else
        parseSections(&p);
    return finishParse(L, p.tol.on, kNames);
}

int importLdfStream(lua_State *L, FILE *stream, uint32_t flags)
{
    return readStream<LdfLexer>(L, parseLdf, stream, flags);
}

}  // namespace vexo::io

using namespace vexo::io;

int Vexo_importRawLDF(lua_State *L, const VexoChar *path)
{
    return L == nullptr ? 0 : readPath<LdfLexer>(L, parseLdf, path, 0);
}

int Vexo_importRawLDFEx(lua_State *L, const VexoChar *path, uint32_t flags)
{
    return L == nullptr ? 0 : readPath<LdfLexer>(L, parseLdf, path, flags);
}
