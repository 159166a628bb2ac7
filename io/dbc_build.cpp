// The DBC model builder: the reader's records and the file text into one CAN cluster and
// channel, frames with their triggerings, PDUs and signals, shared codings. It runs once
// per import over files of thousands of signals; the records are taken over from the
// reader's userdata as they are.
#include "dbc_build.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "database.h"
#include "dbc_records.h"
#include "text.h"
#include "vexo/constants.h"
#include "vexo/model.h"

namespace vexo::io {

namespace {

// ---- Stack layout --------------------------------------------------------------------
// The arguments, the two entries of the input table and the reporter's protected caller.
enum Slot : int { kName = 2, kReport, kInput, kRecords, kContent, kReportCall, kLastSlot };

constexpr uint32_t kWarning = 1;
constexpr uint32_t kInfo = 2;
constexpr uint32_t kClosed = Q3_FLAG_LOWERLIMIT_CLOSED | Q3_FLAG_UPPERLIMIT_CLOSED;
constexpr double kExtendedBit = 2147483648.0;
constexpr int kMaxNesting = 4096;

// ---- Failures ------------------------------------------------------------------------
// Thrown inside the builder and turned into the error value once every C++ object is
// gone. A Lua error of a protected call is already on top of the stack.
struct LuaRaised {};
struct Failure {
    std::string message;
};

// ---- Lua's own conversions -------------------------------------------------------------
// The import script this replaces handed numbers to the module's methods and to
// string.format; these give the same results.

uint32_t integer32(double value) { return static_cast<uint32_t>(truncated(value)); }

// The number a run of decimal digits writes.
double digitsNumber(const char *digits, size_t length)
{
    return std::strtod(std::string(digits, length).c_str(), nullptr);
}

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The statements the reader passes over that start a line: those read here, and those
// the model cannot hold, reported one by one with what they are.
struct ScannedKeyword {
    const char *word;
    const char *what;  // null: read here
};
// The first three are read here, at these places.
enum : size_t { kValueTypes, kMultiplexing, kDefinition };
const ScannedKeyword kScanned[] = {
    {"SIG_VALTYPE_", nullptr}, {"SG_MUL_VAL_", nullptr}, {"BA_DEF_", nullptr},
    {"BO_TX_BU_", "additional senders of a message"}, {"EV_", "environment variable"},
    {"ENVVAR_DATA_", "environment variable data"}, {"VAL_TABLE_", "value table"}, {"SIG_GROUP_", "signal group"},
    {"SGTYPE_", "signal type"}, {"SIG_TYPE_REF_", "signal type reference"}, {"BA_DEF_REL_", "relation attribute"},
    {"BA_REL_", "relation attribute value"}, {"BA_DEF_DEF_REL_", "relation attribute default"},
    {"BA_DEF_SGTYPE_", "signal type attribute"}, {"BA_SGTYPE_", "signal type attribute value"},
    {"CAT_DEF_", "category"}, {"CAT_", "category"}, {"FILTER", "filter"}, {"BU_SG_REL_", "node relation"},
    {"BU_EV_REL_", "node relation"}, {"BU_BO_REL_", "node relation"},
};
constexpr size_t kScannedCount = sizeof kScanned / sizeof kScanned[0];

// ---- Protected Lua calls -----------------------------------------------------------------

struct ReportArguments {
    double line;
    uint32_t severity;
    const std::string *message;
};

// Upvalue 1: the reporter. Argument 1: the ReportArguments.
int callReport(lua_State *L)
{
    const auto *a = static_cast<const ReportArguments *>(lua_touserdata(L, 1));
    lua_pushvalue(L, lua_upvalueindex(1));
    lua_pushnumber(L, a->line);
    lua_pushinteger(L, a->severity);
    lua_pushlstring(L, a->message->data(), a->message->size());
    lua_call(L, 3, 0);
    return 0;
}

// ---- Element id paths ----------------------------------------------------------------------

// How often each element id path was met: open-addressing tables of 16-byte slots over
// blocks of path bytes, for the ten thousand and more paths of a large file. Tables and
// blocks stay small (64 tables, chosen by the hash's top bits; 4 KiB blocks), so that
// they fit into memory the heap already holds rather than adding to the import's peak.
class PathCounts {
public:
    // The count of a path, made 0 when the path is new (*added says so).
    uint32_t &count(std::string_view path, bool *added)
    {
        const size_t h = std::hash<std::string_view>()(path);
        const auto hash = static_cast<uint32_t>(h ^ (h >> 32));
        Table &table = tables_[hash >> 26];
        if (4 * (table.used + 1) > 3 * table.slots.size())
            grow(table);
        const size_t mask = table.slots.size() - 1;
        for (size_t at = hash & mask;; at = (at + 1) & mask) {
            Slot &slot = table.slots[at];
            if (slot.length == kFree) {
                if (path.size() >= kFree)
                    throw std::bad_alloc();
                slot = {hash, static_cast<uint32_t>(path.size()), 0, keep(path)};
                ++table.used;
                *added = true;
                return slot.count;
            }
            if (slot.hash == hash && slot.length == path.size()
                && std::memcmp(textOf(slot.place), path.data(), path.size()) == 0) {
                *added = false;
                return slot.count;
            }
        }
    }

private:
    static constexpr uint32_t kFree = UINT32_MAX;
    static constexpr unsigned kOffsetBits = 12;
    static constexpr size_t kBlockBytes = size_t{1} << kOffsetBits;
    struct Slot {
        uint32_t hash, length, count;
        uint32_t place;  // block index above the offset bits, offset below
    };
    struct Table {
        std::vector<Slot> slots;
        size_t used = 0;
    };

    const char *textOf(uint32_t place) const
    {
        return blocks_[place >> kOffsetBits].get() + (place & (kBlockBytes - 1));
    }
    // A lasting copy of a path's bytes; a path longer than a block gets one of its own.
    uint32_t keep(std::string_view path)
    {
        if (blocks_.size() >= (size_t{1} << (32 - kOffsetBits)) - 1)
            throw std::bad_alloc();
        if (path.size() > kBlockBytes) {
            blocks_.emplace_back(new char[path.size()]);
            std::memcpy(blocks_.back().get(), path.data(), path.size());
            blockUsed_ = kBlockBytes;  // the next path starts a block
            return static_cast<uint32_t>(blocks_.size() - 1) << kOffsetBits;
        }
        if (blocks_.empty() || path.size() > kBlockBytes - blockUsed_) {
            blocks_.emplace_back(new char[kBlockBytes]);
            blockUsed_ = 0;
        }
        std::memcpy(blocks_.back().get() + blockUsed_, path.data(), path.size());
        const auto place = static_cast<uint32_t>(((blocks_.size() - 1) << kOffsetBits) | blockUsed_);
        blockUsed_ += path.size();
        return place;
    }
    static void grow(Table &table)
    {
        std::vector<Slot> old(table.slots.empty() ? 64 : 2 * table.slots.size(), Slot{0, kFree, 0, 0});
        old.swap(table.slots);
        const size_t mask = table.slots.size() - 1;
        for (const Slot &slot : old) {
            if (slot.length == kFree)
                continue;
            size_t at = slot.hash & mask;
            while (table.slots[at].length != kFree)
                at = (at + 1) & mask;
            table.slots[at] = slot;
        }
    }

    Table tables_[64];
    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t blockUsed_ = 0;
};

// UTF-16 text made in place: the buffer grows without being filled first, since the units
// are written right after, and the text ends with a zero unit when it is handed out.
class WideText {
public:
    size_t size() const { return size_; }
    void truncate(size_t units) { size_ = units; }
    // Room for n units after the text; extend(k) then takes the k of them written.
    char16_t *room(size_t n)
    {
        if (size_ + n + 1 > capacity_) {
            const size_t capacity = std::max({size_ + n + 1, 2 * capacity_, size_t{256}});
            std::unique_ptr<char16_t[]> grown(new char16_t[capacity]);
            if (size_ != 0)
                std::memcpy(grown.get(), units_.get(), size_ * sizeof(char16_t));
            units_ = std::move(grown);
            capacity_ = capacity;
        }
        return units_.get() + size_;
    }
    void extend(size_t k) { size_ += k; }
    const char16_t *terminated()
    {
        *room(0) = 0;
        return units_.get();
    }

private:
    std::unique_ptr<char16_t[]> units_;
    size_t size_ = 0, capacity_ = 0;
};

// ---- The builder -----------------------------------------------------------------------

class DbcBuilder {
public:
    DbcBuilder(lua_State *L, VexoNode *db, core::Vexo *batch) : L(L), db_(db), batch_(batch) {}

    void run(DbcRecords &records, double counts[3]);

private:
    // The reader's records.
    void take(DbcRecords &records);
    Value defaultValue(const char *id) const;

    // Statements read from the text.
    void scanStatements();
    // The file text: a string, or a userdata of its bytes and a zero byte (readText).
    const char *contentText(size_t *length) const
    {
        if (lua_type(L, kContent) == LUA_TUSERDATA) {
            const size_t size = lua_objlen(L, kContent);
            *length = size > 0 ? size - 1 : 0;
            return size > 0 ? static_cast<const char *>(lua_touserdata(L, kContent)) : "";
        }
        return lua_tolstring(L, kContent, length);
    }
    void readStatement(size_t keyword, size_t start, size_t stop, double line);

    // Messages.
    void report(double line, uint32_t severity, const std::string &message);
    void reportDefinitions();
    void release();

    // Building.
    const VexoChar *id(std::string &path, bool *repeated = nullptr, bool fresh = false);
    const VexoChar *widen(const std::string &path, bool *ascii);
    const VexoChar *interned(const VexoChar *text, uint32_t **tally, bool *added);
    const VexoChar *wide(const std::string &text);
    template <class T>
    void check(HRESULT result, T *const *made);
    void name(VexoNode *node, const std::string &text);
    void describe(VexoNode *node, const std::string &text);
    VexoNode *ecu(const std::string &nodeName, const Value *longSymbol);
    VexoNode *unit(const std::string &text);
    VexoNode *linearCoding(double bitLength, uint32_t encoding, const std::string &unitText, double lo, double hi,
                           double scale, double offset, const std::vector<std::pair<double, std::string>> *values,
                           bool negativeFirst);
    void buildNetwork();
    void orderFrames(std::vector<size_t> &ordered);
    void buildFrame(RawFrame &frame);

    // One frame's layout.
    struct Part {
        std::vector<int> members, switches;
    };
    struct ByValue {
        std::vector<double> order;
        std::unordered_map<double, int> parts;
    };
    // A signal PDU (the part whose members it holds), or a multiplexed PDU: its switch,
    // the plan of its static part and those of its dynamic parts by switch value.
    struct PlanNode {
        int members = -1;
        int switchSignal = -1;
        int staticNode = -1;
        std::vector<std::pair<double, int>> parts;
    };
    struct Layout {
        RawFrame *frame;
        const FrameNotes *notes;
        std::string path;
        std::vector<Part> parts;  // [0]: the top level
        std::unordered_map<std::string, ByValue> bySwitch;
        std::unordered_set<std::string> active;
        int depth = 0;  // of plan's recursion
        std::vector<PlanNode> nodes;
        std::vector<int> made;  // per signal: 0 not yet, 1 made, -1 dropped
        std::vector<VexoNode *> signalNodes;
    };
    void layOut(Layout &layout);
    int plan(Layout &layout, int members, std::vector<int> switches);
    void orderPlan(Layout &layout, int root);
    VexoNode *buildPdu(Layout &layout, int node, const std::string &path, uint32_t bits, VexoNode *referrer);
    void place(Layout &layout, int signal, VexoNode *pdu);
    VexoNode *makeSignal(Layout &layout, const RawSignal &s, std::string &signalPath);

    lua_State *L;
    VexoNode *db_;
    core::Vexo *batch_;  // the database when its element ids are listed a frame at a time
    std::string name_;

    // The reader's records, taken over.
    DbcRecords records_;
    std::unordered_map<std::string, double> definitionLines_;

    // Building state.
    WideText idBuffer_, textBuffer_;
    std::string scratchPath_, scratchKey_;  // kept for their capacity
    std::vector<std::string> signalPaths_;  // the frame's being built, by signal (their room kept)
    size_t prefixUnits_ = 0;
    bool prefixEnds_ = false;  // the name held a zero byte: every id ends with it
    PathCounts ids_;
    core::StringTable *strings_ = nullptr;  // the database's, where ids are interned and tallied
    struct Ecu {
        VexoNode *node;
        std::string displayName;
    };
    std::unordered_map<std::string, Ecu> ecus_;
    std::unordered_map<std::string, VexoNode *> units_;
    std::unordered_map<std::string, VexoNode *> codings_;
    uint32_t codingCount_ = 0;
    VexoNode *channel_ = nullptr;
    double startDefault_ = 0, cycleDefault_ = 0;
    Value formatDefault_, brsDefault_;
    double frameCount_ = 0, signalCount_ = 0, ecuCount_ = 0;
};

// ---- The reader's records -----------------------------------------------------------

void DbcBuilder::take(DbcRecords &records)
{
    records_ = std::move(records);
    records.taken = true;
}

Value DbcBuilder::defaultValue(const char *id) const
{
    const auto found = records_.defaults.find(id);
    return found != records_.defaults.end() ? attributeValue(records_.keptDefinitions, id, found->second) : Value{};
}

// ---- Statements read from the text -------------------------------------------------------

// Every statement of a kind in kScanned that starts a line (after blanks) and is followed
// by a blank, from its keyword to its ';' (or the end of the text), in file order. A
// statement's text is not searched for further statements of its own kind.
void DbcBuilder::scanStatements()
{
    size_t length = 0;
    const char *text = contentText(&length);
    size_t lastStop[kScannedCount];
    bool stopped[kScannedCount] = {};
    size_t keywordLength[kScannedCount];
    static_assert(kScannedCount <= 32, "keywords are sets of 32 bits");
    uint32_t startingWith[256] = {};  // by first letter, the keywords that start with it
    for (size_t k = 0; k < kScannedCount; ++k) {
        keywordLength[k] = std::strlen(kScanned[k].word);
        startingWith[static_cast<unsigned char>(kScanned[k].word[0])] |= uint32_t{1} << k;
    }
    size_t lines = 1;    // the line number at `counted`
    size_t counted = 0;  // newlines counted up to here
    for (size_t lineStart = 0; lineStart < length;) {
        size_t s = lineStart;
        while (s < length && (text[s] == ' ' || text[s] == '\t'))
            ++s;
        // The keywords that start with the line's first letter, in their order; they
        // differ within a few letters, compared in line.
        for (uint32_t set = s < length ? startingWith[static_cast<unsigned char>(text[s])] : 0; set != 0;
             set &= set - 1) {
            const auto k = static_cast<size_t>(__builtin_ctz(set));
            const size_t n = keywordLength[k];
            if (s + n >= length)
                continue;
            const char *word = kScanned[k].word;
            size_t i = 0;
            while (i < n && text[s + i] == word[i])
                ++i;
            if (i < n || (text[s + n] != ' ' && text[s + n] != '\t') || (stopped[k] && s <= lastStop[k]))
                continue;
            const void *semicolon = std::memchr(text + s + n, ';', length - s - n);
            const size_t stop =
                semicolon ? static_cast<size_t>(static_cast<const char *>(semicolon) - text) : length - 1;
            lastStop[k] = stop;
            stopped[k] = true;
            while (const void *feed = std::memchr(text + counted, '\n', s - counted)) {
                counted = static_cast<size_t>(static_cast<const char *>(feed) - text) + 1;
                ++lines;
            }
            counted = s;
            readStatement(k, s, stop, static_cast<double>(lines));
            break;
        }
        // The next line starts after a line feed or a carriage return.
        const char *rest = text + s;
        const auto *feed = static_cast<const char *>(std::memchr(rest, '\n', length - s));
        const size_t span = feed != nullptr ? static_cast<size_t>(feed - rest) : length - s;
        const auto *ret = static_cast<const char *>(std::memchr(rest, '\r', span));
        lineStart = s + (ret != nullptr ? static_cast<size_t>(ret - rest) : span) + 1;
    }
}

void DbcBuilder::readStatement(size_t keyword, size_t start, size_t stop, double line)
{
    size_t length = 0;
    const char *text = contentText(&length);
    const char *body = text + start;
    const size_t end = stop - start + 1;  // the body is body[0, end)
    size_t p = std::strlen(kScanned[keyword].word);
    auto skipBlanks = [&](size_t &at) {
        while (at < end && isBlank(body[at]))
            ++at;
    };
    auto skipDigits = [&](size_t &at) {
        while (at < end && isDigit(body[at]))
            ++at;
    };
    auto skipWord = [&](size_t &at) {
        while (at < end && !isBlank(body[at]))
            ++at;
    };
    auto number = [&](size_t from, size_t to) { return digitsNumber(body + from, to - from); };
    // The frame number after the keyword: its digits [frameStart, frameEnd), then q after
    // the blanks that follow.
    size_t q = p, frameStart = 0, frameEnd = 0;
    auto readFrameNumber = [&]() {
        skipBlanks(q);
        frameStart = q;
        skipDigits(q);
        frameEnd = q;
        skipBlanks(q);
    };

    if (keyword == kDefinition) {  // BA_DEF_: the line of an attribute's first definition
        skipBlanks(p);
        while (p < end && ((body[p] >= 'A' && body[p] <= 'Z') || body[p] == '_'))
            ++p;
        skipBlanks(p);
        if (p >= end || body[p] != '"')
            return;
        const void *close = std::memchr(body + p + 1, '"', end - p - 1);
        if (close != nullptr)
            definitionLines_.try_emplace(std::string(body + p + 1, static_cast<const char *>(close) - body - p - 1),
                                         line);
        return;
    }
    if (keyword == kValueTypes) {  // SIG_VALTYPE_ frame signal [:] type
        readFrameNumber();
        const size_t nameStart = q;
        while (q < end && !isBlank(body[q]) && body[q] != ':')
            ++q;
        bool matched = false;
        if (frameStart > p && frameEnd > frameStart && nameStart > frameEnd) {
            // The name gives back characters until a type digit follows.
            for (size_t nameEnd = q; nameEnd > nameStart && !matched; --nameEnd) {
                size_t r = nameEnd;
                skipBlanks(r);
                if (r < end && body[r] == ':')
                    ++r;
                skipBlanks(r);
                if (r < end && isDigit(body[r])) {
                    const std::string signal(body + nameStart, nameEnd - nameStart);
                    records_.frameNotes[number(frameStart, frameEnd)].signals[signal].valueType = body[r] - '0';
                    matched = true;
                }
            }
        }
        if (!matched)
            report(line, kWarning, "value type statement not understood: " + std::string(body, end));
        return;
    }
    if (keyword == kMultiplexing) {  // SG_MUL_VAL_ frame signal switch ranges ;
        readFrameNumber();
        const size_t signalStart = q;
        skipWord(q);
        const size_t signalEnd = q;
        skipBlanks(q);
        const size_t switchStart = q;
        skipWord(q);
        const size_t switchEnd = q;
        skipBlanks(q);
        const bool matched = frameStart > p && frameEnd > frameStart && signalStart > frameEnd &&
                             signalEnd > signalStart && switchStart > signalEnd && switchEnd > switchStart &&
                             q > switchEnd && body[end - 1] == ';';
        if (!matched) {
            report(line, kWarning, "multiplexing statement not understood: " + std::string(body, end));
            return;
        }
        size_t listEnd = end - 1;
        while (listEnd > q && isBlank(body[listEnd - 1]))
            --listEnd;
        MuxEntry entry;
        entry.switchName.assign(body + switchStart, switchEnd - switchStart);
        entry.line = line;
        // Each "from - to" pair of digits, searched from every position in turn.
        for (size_t at = q; at < listEnd;) {
            size_t r = at;
            skipDigits(r);
            const size_t fromEnd = r;
            if (fromEnd > at && r < listEnd) {
                while (r < listEnd && isBlank(body[r]))
                    ++r;
                if (r < listEnd && body[r] == '-') {
                    ++r;
                    while (r < listEnd && isBlank(body[r]))
                        ++r;
                    const size_t toStart = r;
                    while (r < listEnd && isDigit(body[r]))
                        ++r;
                    if (r > toStart) {
                        entry.ranges.emplace_back(number(at, fromEnd), number(toStart, r));
                        at = r;
                        continue;
                    }
                }
            }
            ++at;
        }
        FrameNotes &notes = records_.frameNotes[number(frameStart, frameEnd)];
        notes.mux[std::string(body + signalStart, signalEnd - signalStart)] = std::move(entry);
        notes.hasMux = true;
        return;
    }
    // A statement the model cannot hold: its kind and the word after the keyword.
    std::string subject;
    skipBlanks(q);
    const size_t subjectStart = q;
    skipWord(q);
    if (q > subjectStart) {
        subject.assign(body + subjectStart, q - subjectStart);
        if (subject.back() == ';' || subject.back() == ':')
            subject.pop_back();
        // string.format wrote a short text up to a zero byte, so the message went on.
        if (subject.size() < 100)
            subject.resize(std::strlen(subject.c_str()));
    }
    report(line, kWarning, std::string(kScanned[keyword].what) + " " + subject + " not kept");
}

// ---- Messages ----------------------------------------------------------------------------

void DbcBuilder::report(double line, uint32_t severity, const std::string &message)
{
    // The message's receiver may look into the model: every element made so far is listed,
    // and what it makes itself is listed at once.
    core::IdBatch *aside = nullptr;
    if (batch_ != nullptr && core::setIdBatchAside(batch_, &aside) == E_OUTOFMEMORY)
        throw std::bad_alloc();
    ReportArguments arguments{line, severity, &message};
    lua_pushvalue(L, kReportCall);
    lua_pushlightuserdata(L, &arguments);
    const int failed = lua_pcall(L, 1, 0, 0);
    if (batch_ != nullptr)
        core::restoreIdBatch(batch_, aside);
    if (failed != 0)
        throw LuaRaised{};
}

// Attribute definitions the model has no place for, each at its line with the values it
// lost, then the values of attributes defined nowhere or of another object kind.
void DbcBuilder::reportDefinitions()
{
    for (const AttributeDefinition &d : records_.definitions) {
        if (keptAttribute(d.kind, d.id) != kNotKept)
            continue;
        long count = 0;
        const auto found = records_.droppedIndex.find(d.id);
        if (found != records_.droppedIndex.end()) {
            count = std::max(0L, records_.dropped[found->second].second);
            records_.dropped[found->second].second = -1;
        }
        const auto at = definitionLines_.find(d.id);
        std::string message = "attribute \"" + d.id + "\"";
        if (!d.kind.empty())
            message += " of " + d.kind;
        message += " not kept";
        if (count > 0)
            message += " (" + std::to_string(count) + " values dropped)";
        report(at != definitionLines_.end() ? at->second : 0, kWarning, message);
    }
    for (const auto &[attribute, count] : records_.dropped) {
        if (count >= 0)
            report(0, kWarning, "attribute \"" + attribute + "\" is not defined or not kept: " +
                                    std::to_string(count) + " values dropped");
    }
    records_.dropped = {};
    records_.droppedIndex = {};
    records_.definitions = {};
    definitionLines_ = {};
}

// ---- Model calls ---------------------------------------------------------------------------

#if defined(__SSE2__)
// Sixteen bytes of ASCII without a zero byte as sixteen units, each byte interleaved with a
// zero byte; false, writing nothing, for any other bytes.
bool widenAscii16(const unsigned char *from, char16_t *to)
{
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from));
    const __m128i zero = _mm_setzero_si128();
    if ((_mm_movemask_epi8(bytes) | _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, zero))) != 0)
        return false;
    _mm_storeu_si128(reinterpret_cast<__m128i *>(to), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 8), _mm_unpackhi_epi8(bytes, zero));
    return true;
}
#endif

// Appends the UTF-16 units of UTF-8 text up to its first zero byte; false when it met one.
// A byte that does not start a valid sequence becomes the unit of its value. *ascii (when
// given) tells whether every byte was ASCII and none was zero.
bool appendWide(WideText &out, const std::string &text, bool *ascii = nullptr)
{
    const auto *s = reinterpret_cast<const unsigned char *>(text.c_str());
    const size_t n = text.size();
    char16_t *const first = out.room(n);  // a byte gives one unit at most
    char16_t *o = first;
    bool whole = true, plain = true;
    for (size_t i = 0; i < n;) {
#if defined(__SSE2__)
        // Runs of ASCII without a zero byte sixteen bytes at a time; at the end of a text
        // of sixteen bytes or more, each byte so far one unit, its last sixteen bytes (some
        // of them a second time).
        if (i + 16 <= n && widenAscii16(s + i, o)) {
            o += 16;
            i += 16;
            continue;
        }
        if (plain && n >= 16 && i + 16 > n && widenAscii16(s + n - 16, first + n - 16)) {
            o = first + n;
            i = n;
            continue;
        }
#endif
        // The same eight bytes at a time.
        uint64_t word = 0;
        if (i + 8 <= n && (std::memcpy(&word, s + i, 8), (word & 0x8080808080808080u) == 0) &&
            ((word - 0x0101010101010101u) & ~word & 0x8080808080808080u) == 0) {
            for (int k = 0; k < 8; ++k)
                o[k] = s[i + k];
            o += 8;
            i += 8;
            continue;
        }
        if (s[i] < 0x80) {
            if (s[i] == 0) {
                whole = false;
                break;
            }
            *o++ = s[i++];
            continue;
        }
        size_t length = 0;
        o += core::encodeUtf16(core::nextCodePoint(s + i, &length), o);
        i += length;
        plain = false;
    }
    out.extend(static_cast<size_t>(o - first));
    if (ascii != nullptr)
        *ascii = plain && whole;
    return whole;
}

// The element id for a path below the database name. A path met before gets "#2", "#3"
// ... (the path is changed to the one used) so that every element stays findable.
// fresh: a path that cannot have been met (the numbered codings), which is not kept.
//
// Paths of ASCII without a zero byte give ids as distinct as they are (the name's prefix
// is the same for all), so they are counted on the id's interned copy, which the element
// takes anyway (its tally); the others by their bytes.
const VexoChar *DbcBuilder::id(std::string &path, bool *repeated, bool fresh)
{
    bool ascii = false;
    const VexoChar *text = widen(path, &ascii);
    bool again = false;
    if (!fresh) {
        bool added = false;
        const auto numbered = [&](uint32_t n) {
            path += '#';
            path += std::to_string(n);
            again = true;
            return widen(path, &ascii);
        };
        if (ascii && strings_ != nullptr) {
            uint32_t *tally = nullptr;
            text = interned(text, &tally, &added);
            const uint32_t n = added ? 1 : *tally + 1;
            *tally = n;
            if (n > 1) {
                text = interned(numbered(n), &tally, &added);
                *tally = 1;
            }
        } else {
            const uint32_t n = ++ids_.count(path, &added);
            if (!added) {
                text = numbered(n);
                ids_.count(path, &added) = 1;
            }
        }
    }
    if (repeated != nullptr)
        *repeated = again;
    return text;
}

// The id of a path: the name's prefix and the path in UTF-16.
const VexoChar *DbcBuilder::widen(const std::string &path, bool *ascii)
{
    idBuffer_.truncate(prefixUnits_);
    *ascii = false;
    if (!prefixEnds_)
        appendWide(idBuffer_, path, ascii);
    return idBuffer_.terminated();
}

const VexoChar *DbcBuilder::interned(const VexoChar *text, uint32_t **tally, bool *added)
{
    const VexoChar *kept = core::internTallied(strings_, text, tally, added);
    if (kept == nullptr)
        throw std::bad_alloc();
    return kept;
}

const VexoChar *DbcBuilder::wide(const std::string &text)
{
    textBuffer_.truncate(0);
    appendWide(textBuffer_, text);
    return textBuffer_.terminated();
}

// A creation's result: running out of memory ends the build, as does a node not made.
// (made is read after the call that fills it.)
template <class T>
void DbcBuilder::check(HRESULT result, T *const *made)
{
    if (result == E_OUTOFMEMORY)
        throw std::bad_alloc();
    if (*made == nullptr) {
        char text[64];
        std::snprintf(text, sizeof text, "a model element could not be made (0x%08X)", static_cast<unsigned>(result));
        throw Failure{text};
    }
}

void linked(HRESULT result)
{
    if (result == E_OUTOFMEMORY)
        throw std::bad_alloc();
}

void textSet(HRESULT result)
{
    if (result == E_OUTOFMEMORY)
        throw std::bad_alloc();
    if (result != S_OK) {
        char text[64];
        std::snprintf(text, sizeof text, "the texts of an element could not be set (0x%08X)",
                      static_cast<unsigned>(result));
        throw Failure{text};
    }
}

void DbcBuilder::name(VexoNode *node, const std::string &text)
{
    textSet(Vexo_setShortName(db_, node, wide(text)));
}

void DbcBuilder::describe(VexoNode *node, const std::string &text)
{
    if (!text.empty() && text[0] != '\0')
        textSet(Vexo_setDescription(db_, node, 0, wide(text)));
}

// The ECU of a name as the file refers to it, made on first use; its id and short name
// are the long symbol when one is given.
VexoNode *DbcBuilder::ecu(const std::string &nodeName, const Value *longSymbol)
{
    const auto found = ecus_.find(nodeName);
    if (found != ecus_.end())
        return found->second.node;
    std::string display = longSymbol != nullptr && longSymbol->present() ? longSymbol->display() : nodeName;
    std::string path = "ecu/" + display;
    VexoNode *node = nullptr;
    check(Vexo_createECU(db_, id(path), &node), &node);
    name(node, display);
    ecus_.emplace(nodeName, Ecu{node, std::move(display)});
    return node;
}

VexoNode *DbcBuilder::unit(const std::string &text)
{
    if (text.empty())
        return nullptr;
    const auto found = units_.find(text);
    if (found != units_.end())
        return found->second;
    std::string path = "unit/" + text;
    const VexoChar *unitId = id(path);
    VexoNode *node = nullptr;
    check(Vexo_createUnitSpec(db_, unitId, 0, wide(text), &node), &node);
    units_.emplace(text, node);
    return node;
}

// A coding's sharing key: the numbers' bytes (-0 and 0 as one), a flag byte, and the
// texts, whose lengths are among the numbers.
void codingKey(std::string &key, std::initializer_list<double> numbers, char flag, const std::string &first,
               const std::string &second)
{
    key.resize(numbers.size() * sizeof(double) + 1 + first.size() + second.size());
    char *out = &key[0];
    for (double value : numbers) {
        if (value == 0)
            value = 0;
        std::memcpy(out, &value, sizeof value);
        out += sizeof value;
    }
    *out++ = flag;
    std::memcpy(out, first.data(), first.size());
    std::memcpy(out + first.size(), second.data(), second.size());
}

// Physical-to-internal computations for one linear piece (raw lo..hi, physical = scale *
// raw + offset) of an integer coding: { scale, offset, lower, upper, flags }. The
// conversion truncates toward zero, so the inverse adds +0.5 where raw values are not
// negative and -0.5 where they are; each range is the part of the physical axis that
// rounds into lo..hi.
struct Piece {
    double scale, offset, lower, upper;
    uint32_t flags;
};

size_t inversePieces(double lo, double hi, double scale, double offset, Piece pieces[2])
{
    size_t count = 0;
    auto piece = [&](double xLow, double xHigh, bool lowClosed, bool highClosed, double bias) {
        double a = offset + scale * xLow;
        double b = offset + scale * xHigh;
        uint32_t flags = (lowClosed ? 1 : 0) + (highClosed ? 2 : 0);
        if (scale < 0) {
            std::swap(a, b);
            flags = (highClosed ? 1 : 0) + (lowClosed ? 2 : 0);
        }
        pieces[count++] = Piece{1 / scale, -offset / scale + bias, a, b, flags};
    };
    if (hi >= 0)
        piece((0 > lo ? 0 : lo) - 0.5, hi + 0.5, true, false, 0.5);
    if (lo < 0)
        piece(lo - 0.5, (-1 < hi ? -1 : hi) + 0.5, false, false, -0.5);
    return count;
}

// The coding of a signal with one linear rule over its raw range lo..hi, shared by every
// signal of the same content; its value descriptions are matched before the rule.
VexoNode *DbcBuilder::linearCoding(double bitLength, uint32_t encoding, const std::string &unitText, double lo,
                                   double hi, double scale, double offset,
                                   const std::vector<std::pair<double, std::string>> *values, bool negativeFirst)
{
    // The values' part of the key is the text "raw=description" pairs joined by \1 that
    // the sharing has always used, so that the same signals share a coding.
    std::string valuesKey;
    if (values != nullptr) {
        char raw[40];
        for (size_t i = 0; i < values->size(); ++i) {
            if (i > 0)
                valuesKey += '\1';
            std::snprintf(raw, sizeof raw, "%.17g=", (*values)[i].first);
            valuesKey += raw;
            valuesKey += (*values)[i].second;
        }
    }
    std::string &key = scratchKey_;
    codingKey(key,
              {bitLength, static_cast<double>(encoding), lo, hi, scale, offset, static_cast<double>(unitText.size()),
               static_cast<double>(valuesKey.size())},
              negativeFirst ? '\1' : '\0', unitText, valuesKey);
    const auto found = codings_.find(key);
    if (found != codings_.end())
        return found->second;

    const std::string base = "coding/" + std::to_string(++codingCount_);
    VexoNode *unitNode = unit(unitText);
    std::string path = base;
    VexoNode *coding = nullptr;
    check(Vexo_createCoding(db_, id(path, nullptr, true), integer32(bitLength), encoding, unitNode, &coding), &coding);
    std::vector<VexoNode *> forward, inverse;
    if (values != nullptr) {
        for (size_t i = 0; i < values->size(); ++i) {
            VexoStringSlot *slot = nullptr;
            check(Vexo_stringCreateSlot(db_, 0, wide((*values)[i].second), &slot), &slot);
            path = base + "/text/" + std::to_string(i + 1);
            VexoNode *c = nullptr;
            check(Vexo_createMappedTextComputation(db_, id(path, nullptr, true), slot, &c), &c);
            const double raw = (*values)[i].first;
            linked(Vexo_addRange(c, raw, raw, kClosed));
            forward.push_back(c);
        }
    }
    path = base + "/physical/1";
    VexoNode *c = nullptr;
    check(Vexo_createLinearComputation(db_, id(path, nullptr, true), scale, offset, &c), &c);
    linked(Vexo_addRange(c, lo, hi, kClosed));
    forward.push_back(c);
    if (encoding == Q3_ENCODING_IEEE) {
        path = base + "/internal/1";
        VexoNode *back = nullptr;
        if (scale == 1 && offset == 0)
            check(Vexo_createIdentityComputation(db_, id(path, nullptr, true), &back), &back);
        else
            check(Vexo_createLinearComputation(db_, id(path, nullptr, true), 1 / scale, -offset / scale, &back),
                  &back);
        linked(Vexo_addRange(back, -HUGE_VAL, HUGE_VAL, kClosed));
        inverse.push_back(back);
    } else if (scale != 0) {
        Piece pieces[2];
        const size_t count = inversePieces(lo, hi, scale, offset, pieces);
        // The encoder converts a signal's default value with the first piece.
        if (negativeFirst && count == 2)
            std::swap(pieces[0], pieces[1]);
        for (size_t k = 0; k < count; ++k) {
            path = base + "/internal/1." + std::to_string(k + 1);
            VexoNode *back = nullptr;
            check(Vexo_createLinearComputation(db_, id(path, nullptr, true), pieces[k].scale, pieces[k].offset,
                                               &back),
                  &back);
            linked(Vexo_addRange(back, pieces[k].lower, pieces[k].upper, pieces[k].flags));
            inverse.push_back(back);
        }
    }
    linked(Vexo_addInternalToPhysicalComputations(coding, static_cast<uint32_t>(forward.size()), forward.data()));
    if (!inverse.empty())
        linked(Vexo_addPhysicalToInternalComputations(coding, static_cast<uint32_t>(inverse.size()), inverse.data()));
    codings_.emplace(key, coding);
    return coding;
}

// ---- Frames ------------------------------------------------------------------------------

// The CAN identifier of a message and whether it is extended; false when the number is no
// CAN identifier. Identifiers above 11 bits without the extended flag are taken as
// extended ones (flagMissing).
bool canIdentifier(double ident, uint32_t *canId, bool *extended, bool *flagMissing)
{
    *flagMissing = false;
    if (ident >= kExtendedBit) {
        const double id = ident - kExtendedBit;
        if (id > 0x1FFFFFFF)
            return false;
        *canId = integer32(id);
        *extended = true;
        return true;
    }
    if (ident <= 0x7FF) {
        *canId = integer32(ident);
        *extended = false;
        return true;
    }
    if (ident <= 0x1FFFFFFF) {
        *canId = integer32(ident);
        *extended = true;
        *flagMissing = true;
        return true;
    }
    return false;
}

const FrameNotes kNoFrameNotes{};

// Lua 5.1's table.sort (its quicksort with the median of three, not stable), so that
// frames whose names compare equal keep the order they always had.
template <class Less>
void luaSort(std::vector<size_t> &a, int l, int u, const Less &less)
{
    auto at = [&a](int i) -> size_t & { return a[static_cast<size_t>(i - 1)]; };
    while (l < u) {
        if (less(at(u), at(l)))
            std::swap(at(l), at(u));
        if (u - l == 1)
            break;
        int i = (l + u) / 2;
        if (less(at(i), at(l))) {
            std::swap(at(i), at(l));
        } else if (less(at(u), at(i))) {
            std::swap(at(i), at(u));
        }
        if (u - l == 2)
            break;
        const size_t pivot = at(i);
        std::swap(at(i), at(u - 1));
        i = l;
        int j = u - 1;
        for (;;) {
            while (less(at(++i), pivot)) {
                if (i > u)
                    throw Failure{"invalid order function for sorting"};
            }
            while (less(pivot, at(--j))) {
                if (j < l)
                    throw Failure{"invalid order function for sorting"};
            }
            if (j < i)
                break;
            std::swap(at(i), at(j));
        }
        std::swap(at(u - 1), at(i));
        if (i - l < u - i) {
            j = l;
            i = i - 1;
            l = i + 2;
        } else {
            j = i + 1;
            i = u;
            u = j - 2;
        }
        luaSort(a, j, i, less);
    }
}

// Messages on the bus first, in file order, then those whose identifier is no CAN
// identifier (the pseudo-message that holds signals of no message) by name: an exported
// file lists them in this order too.
void DbcBuilder::orderFrames(std::vector<size_t> &ordered)
{
    std::vector<size_t> unplaced;
    for (size_t i = 0; i < records_.frames.size(); ++i) {
        uint32_t canId = 0;
        bool extended = false, flagMissing = false;
        (canIdentifier(records_.frames[i].ident, &canId, &extended, &flagMissing) ? ordered : unplaced).push_back(i);
    }
    // A long symbol that reads as a number compares as one, and not with a name.
    std::vector<Value> keys(records_.frames.size());
    for (size_t i : unplaced) {
        const auto notes = records_.frameNotes.find(records_.frames[i].ident);
        if (notes != records_.frameNotes.end() && notes->second.longSymbol.present()) {
            keys[i] = notes->second.longSymbol;
        } else {
            keys[i].kind = Value::kText;
            keys[i].text = records_.frames[i].name;
        }
    }
    luaSort(unplaced, 1, static_cast<int>(unplaced.size()), [&keys](size_t x, size_t y) {
        const Value &a = keys[x], &b = keys[y];
        if (a.kind != b.kind)
            throw Failure{a.kind == Value::kNumber ? "attempt to compare number with string"
                                                   : "attempt to compare string with number"};
        if (a.kind == Value::kNumber)
            return a.number < b.number;
        return std::strcoll(a.text.c_str(), b.text.c_str()) < 0;
    });
    ordered.insert(ordered.end(), unplaced.begin(), unplaced.end());
}

// The ids a frame and its signals make, at the least.
uint32_t expectedIds(const DbcRecords &records)
{
    size_t ids = 16;
    for (const RawFrame &frame : records.frames)
        ids += 6 + 3 * frame.signals.size();
    return static_cast<uint32_t>(std::min<size_t>(ids, UINT32_MAX / 4));
}

void DbcBuilder::buildNetwork()
{
    std::string path = "cluster";
    VexoNode *cluster = nullptr;
    check(Vexo_createCluster(db_, id(path), Q3_CLUSTERTYPE_CAN, &cluster), &cluster);
    name(cluster, name_);
    if (records_.hasDatabaseComment)
        describe(cluster, records_.databaseComment);
    path = "channel";
    check(Vexo_createChannel(db_, id(path), cluster, &channel_), &channel_);
    name(channel_, name_);

    for (const std::string &nodeName : records_.ecuNames) {
        if (isPlaceholderNode(nodeName) || ecus_.count(nodeName) != 0)
            continue;
        const auto notes = records_.nodeNotes.find(nodeName);
        VexoNode *node = ecu(nodeName, notes != records_.nodeNotes.end() ? &notes->second.longSymbol : nullptr);
        if (notes != records_.nodeNotes.end() && notes->second.hasComment)
            describe(node, notes->second.comment);
        ecuCount_ += 1;
    }
    records_.ecuNames = {};
    records_.nodeNotes = {};

    if (!defaultValue("GenSigStartValue").toNumber(&startDefault_))
        startDefault_ = 0;
    if (!defaultValue("GenMsgCycleTime").toNumber(&cycleDefault_))
        cycleDefault_ = 0;
    formatDefault_ = defaultValue("VFrameFormat");
    brsDefault_ = defaultValue("CANFD_BRS");

    std::vector<size_t> ordered;
    orderFrames(ordered);
    for (size_t k : ordered) {
        buildFrame(records_.frames[k]);
        records_.frames[k] = RawFrame{};  // its memory goes to the model's next elements
    }
}

void DbcBuilder::buildFrame(RawFrame &frame)
{
    uint32_t canId = 0;
    bool extended = false, flagMissing = false;
    const bool triggered = canIdentifier(frame.ident, &canId, &extended, &flagMissing);
    if (flagMissing) {
        char hex[24];
        std::snprintf(hex, sizeof hex, "%llX", static_cast<unsigned long long>(truncated(frame.ident)));
        report(0, kWarning, "message " + frame.name + ": identifier 0x" + hex +
                                " has more than 11 bits but no extended flag; taken as an extended identifier");
    }
    const auto notesAt = records_.frameNotes.find(frame.ident);
    const FrameNotes &notes = notesAt != records_.frameNotes.end() ? notesAt->second : kNoFrameNotes;
    const std::string display = notes.longSymbol.present() ? notes.longSymbol.display() : frame.name;
    Layout layout;
    layout.frame = &frame;
    layout.notes = &notes;
    layout.path = "frame/" + display;
    bool repeated = false;
    const VexoChar *frameId = id(layout.path, &repeated);
    if (repeated)
        report(0, kWarning, "message name " + display + " appears twice; the second one has an id ending in #2");
    VexoNode *frameNode = nullptr;
    check(Vexo_createFrame(db_, frameId, integer32(frame.dlc), &frameNode), &frameNode);
    name(frameNode, display);
    if (notes.hasComment)
        describe(frameNode, notes.comment);

    const Value &format = notes.format.present() ? notes.format : formatDefault_;
    const bool fd = frame.dlc > 8 || (format.kind == Value::kText && format.text.size() >= 3 &&
                                      format.text.compare(format.text.size() - 3, 3, "_FD") == 0);
    uint32_t flags = extended ? Q3_FLAG_CANEXTENDED : Q3_FLAG_CANSTANDARD;
    if (fd) {
        flags += Q3_FLAG_CANFD_EXTDATALEN;
        const Value &brs = notes.brs.present() ? notes.brs : brsDefault_;
        double on = 0;
        if (brs.toNumber(&on) && on == 1)
            flags += Q3_FLAG_CANFD_FASTDATA;
    }
    VexoNode *sender = isPlaceholderNode(frame.sender) ? nullptr : ecu(frame.sender, nullptr);
    if (triggered) {
        std::string path = layout.path + "/triggering";
        VexoNode *triggering = nullptr;
        check(Vexo_createIdentifierBasedTriggering(db_, id(path), canId, flags, frameNode, sender, channel_,
                                                   &triggering),
              &triggering);
    } else {
        report(0, kInfo, "message " + frame.name + ": identifier " + std::to_string(truncated(frame.ident)) +
                             " is no CAN identifier; its signals are kept, the message is not placed on the bus");
    }

    const size_t count = frame.signals.size();
    layout.made.assign(count, 0);
    layout.signalNodes.assign(count, nullptr);
    signalPaths_.resize(std::max(signalPaths_.size(), count));
    for (size_t i = 0; i < count; ++i)
        signalPaths_[i].clear();
    layOut(layout);
    const int root = plan(layout, 0, layout.parts[0].switches);
    orderPlan(layout, root);
    VexoNode *pdu = buildPdu(layout, root, layout.path + "/pdu", integer32(frame.dlc * 8), nullptr);
    std::string path = layout.path + "/pdu-instance";
    VexoNode *instance = nullptr;
    check(Vexo_createPDUInstance(db_, id(path), Q3_BYTEORDER_LITTLEENDIAN, 0, UINT32_MAX, pdu, frameNode, &instance),
          &instance);
    if (triggered) {
        path = layout.path + "/pdu-triggering";
        VexoNode *pduTriggering = nullptr;
        check(Vexo_createPDUTriggering(db_, id(path), pdu, channel_, &pduTriggering), &pduTriggering);
        double cycle = 0;
        if (!notes.cycle.toNumber(&cycle))
            cycle = cycleDefault_;
        if (cycle > 0) {
            VexoNode *timing = nullptr;
            check(Vexo_createCyclicTiming(db_, static_cast<uint64_t>(truncated(cycle)), pduTriggering, &timing),
                  &timing);
        }
    }
    frameCount_ += 1;
}

// Which signals each switch selects, by value (parts[1...]), and the top-level signals
// with the switches among them (parts[0]).
void DbcBuilder::layOut(Layout &layout)
{
    const std::vector<RawSignal> &signals = layout.frame->signals;
    const std::string &frameName = layout.frame->name;
    const std::unordered_map<std::string, MuxEntry> *extended = layout.notes->hasMux ? &layout.notes->mux : nullptr;
    std::unordered_set<std::string> isSwitch;
    for (const RawSignal &s : signals) {
        if (s.mode == 'M')
            isSwitch.insert(s.name);
    }
    if (extended != nullptr) {
        for (const auto &entry : *extended)
            isSwitch.insert(entry.second.switchName);
    }
    layout.parts.emplace_back();
    auto add = [&](const std::string &switchName, double value, int s) {
        ByValue &byValue = layout.bySwitch[switchName];
        const auto found = byValue.parts.try_emplace(value, static_cast<int>(layout.parts.size()));
        if (found.second) {
            layout.parts.emplace_back();
            byValue.order.push_back(value);
        }
        Part &part = layout.parts[static_cast<size_t>(found.first->second)];
        part.members.push_back(s);
        if (isSwitch.count(signals[static_cast<size_t>(s)].name) != 0)
            part.switches.push_back(s);
    };
    const std::string *firstSwitch = nullptr;
    for (const RawSignal &s : signals) {
        if (firstSwitch == nullptr && s.mode == 'M' && !(extended != nullptr && extended->count(s.name) != 0))
            firstSwitch = &s.name;
    }
    double total = 0;
    for (size_t i = 0; i < signals.size(); ++i) {
        const RawSignal &s = signals[i];
        const int index = static_cast<int>(i);
        const auto entry =
            extended != nullptr ? extended->find(s.name) : std::unordered_map<std::string, MuxEntry>::const_iterator();
        if (extended != nullptr && entry != extended->end()) {
            for (const auto &[from, to] : entry->second.ranges) {
                if (to - from > 4095 - total)
                    report(entry->second.line, kWarning,
                           "signal " + s.name + " of message " + frameName + ": multiplexer values " +
                               std::to_string(truncated(from)) + "-" + std::to_string(truncated(to)) +
                               " not all kept (at most 4096 parts per message)");
                const double limit = std::min(to, from + 4095 - total);
                for (double v = from; v <= limit && v + 1 != v; v += 1) {
                    add(entry->second.switchName, v, index);
                    total += 1;
                }
            }
        } else if (s.mode == 'm' && firstSwitch != nullptr) {
            add(*firstSwitch, s.modeValue, index);
        } else {
            if (s.mode == 'm')
                report(0, kWarning, "signal " + s.name + " of message " + frameName +
                                        " is multiplexed but the message has no multiplexer switch; kept as a "
                                        "plain signal");
            layout.parts[0].members.push_back(index);
            if (isSwitch.count(s.name) != 0)
                layout.parts[0].switches.push_back(index);
        }
    }
    for (auto &entry : layout.bySwitch)
        std::sort(entry.second.order.begin(), entry.second.order.end());
    if (layout.parts[0].switches.size() > 1 && extended == nullptr)
        report(0, kWarning, "message " + frameName + " has " + std::to_string(layout.parts[0].switches.size()) +
                                " multiplexer switches; the signals marked m follow " +
                                (firstSwitch != nullptr ? *firstSwitch : std::string()));
}

// The layout of a PDU as a plan: a signal PDU of a part's members, or a multiplexed PDU
// whose static part holds this level's signals (the switch included) and whose dynamic
// parts hold what each switch value selects.
int DbcBuilder::plan(Layout &layout, int members, std::vector<int> switches)
{
    const std::vector<RawSignal> &signals = layout.frame->signals;
    // A switch already selecting the parts around this one would loop: it is placed as
    // a plain signal here.
    std::vector<int> pending;
    for (int sw : switches) {
        const std::string &switchName = signals[static_cast<size_t>(sw)].name;
        if (layout.active.count(switchName) != 0)
            report(0, kWarning,
                   "multiplexer " + switchName + " selects a part that contains itself; kept as a plain signal there");
        else
            pending.push_back(sw);
    }
    if (pending.empty()) {
        layout.nodes.emplace_back().members = members;
        return static_cast<int>(layout.nodes.size() - 1);
    }
    // Each level is a call here and in buildPdu; a file could nest them without end.
    if (layout.depth == kMaxNesting)
        throw Failure{"message " + layout.frame->name + ": multiplexers nested more than " +
                      std::to_string(kMaxNesting) + " deep"};
    struct Level {
        int &depth;
        explicit Level(int &d) : depth(++d) {}
        ~Level() { --depth; }
    } level(layout.depth);
    const int sw = pending.front();
    pending.erase(pending.begin());
    const int staticNode = plan(layout, members, std::move(pending));
    const int node = static_cast<int>(layout.nodes.size());
    layout.nodes.emplace_back();
    layout.nodes[static_cast<size_t>(node)].switchSignal = sw;
    layout.nodes[static_cast<size_t>(node)].staticNode = staticNode;
    const std::string &switchName = signals[static_cast<size_t>(sw)].name;
    const auto byValue = layout.bySwitch.find(switchName);
    layout.active.insert(switchName);
    if (byValue != layout.bySwitch.end()) {
        for (double value : byValue->second.order) {
            const int inPart = byValue->second.parts.at(value);
            const int child = plan(layout, inPart, layout.parts[static_cast<size_t>(inPart)].switches);
            layout.nodes[static_cast<size_t>(node)].parts.emplace_back(value, child);
        }
    }
    layout.active.erase(switchName);
    return node;
}

// Orders the signals of every signal PDU by the first PDU (static parts first, then
// parts by value) that holds them, then by their place in the file. An exported file
// lists signals in that order, so its import orders them alike.
void DbcBuilder::orderPlan(Layout &layout, int root)
{
    std::vector<size_t> first(layout.frame->signals.size(), 0);
    std::vector<int> leaves;
    std::vector<int> stack{root};
    // Depth first, static part before the dynamic ones.
    while (!stack.empty()) {
        const PlanNode &node = layout.nodes[static_cast<size_t>(stack.back())];
        stack.pop_back();
        if (node.members >= 0) {
            leaves.push_back(node.members);
            for (int s : layout.parts[static_cast<size_t>(node.members)].members) {
                if (first[static_cast<size_t>(s)] == 0)
                    first[static_cast<size_t>(s)] = leaves.size();
            }
            continue;
        }
        for (auto part = node.parts.rbegin(); part != node.parts.rend(); ++part)
            stack.push_back(part->second);
        stack.push_back(node.staticNode);
    }
    auto before = [&first](int x, int y) {
        const size_t fx = first[static_cast<size_t>(x)], fy = first[static_cast<size_t>(y)];
        return fx != fy ? fx < fy : x < y;
    };
    for (int leaf : leaves) {
        std::vector<int> &members = layout.parts[static_cast<size_t>(leaf)].members;
        // Most lists are in order already (a message without multiplexing).
        if (!std::is_sorted(members.begin(), members.end(), before))
            std::sort(members.begin(), members.end(), before);
    }
}

// Makes the PDUs of a plan node; referrer: the PDU instance or part that places it.
VexoNode *DbcBuilder::buildPdu(Layout &layout, int index, const std::string &path, uint32_t bits, VexoNode *referrer)
{
    const PlanNode &node = layout.nodes[static_cast<size_t>(index)];
    std::string used = path;
    if (node.members >= 0) {
        VexoNode *pdu = nullptr;
        check(Vexo_createSignalPDU(db_, id(used), bits, referrer, &pdu), &pdu);
        for (int s : layout.parts[static_cast<size_t>(node.members)].members)
            place(layout, s, pdu);
        return pdu;
    }
    const RawSignal &sw = layout.frame->signals[static_cast<size_t>(node.switchSignal)];
    VexoNode *mux = nullptr;
    check(Vexo_createMultiplexedPDU(db_, id(used), bits, sw.bigEndian ? 1 : 0, integer32(sw.startBit),
                                    integer32(sw.bitLength), 0, referrer, &mux),
          &mux);
    used = path + "/static";
    VexoNode *staticPart = nullptr;
    check(Vexo_createMultiplexedPart(db_, id(used), 0, mux, &staticPart), &staticPart);
    buildPdu(layout, node.staticNode, path + "/static/pdu", bits, staticPart);
    linked(Vexo_setStaticPart(mux, staticPart));
    for (const auto &[value, child] : node.parts) {
        const std::string partPath = path + "/mux/" + numberText(value);
        used = partPath;
        VexoNode *part = nullptr;
        check(Vexo_createMultiplexedPart(db_, id(used), integer32(value), mux, &part), &part);
        buildPdu(layout, child, partPath + "/pdu", bits, part);
        linked(Vexo_addDynamicParts(mux, 1, &part));
    }
    return mux;
}

// An instance of a signal in a PDU; the signal is made with its first instance.
void DbcBuilder::place(Layout &layout, int s, VexoNode *pdu)
{
    const size_t i = static_cast<size_t>(s);
    const RawSignal &signal = layout.frame->signals[i];
    if (layout.made[i] == 0) {
        layout.signalNodes[i] = makeSignal(layout, signal, signalPaths_[i]);
        layout.made[i] = layout.signalNodes[i] != nullptr ? 1 : -1;
    }
    if (layout.made[i] < 0)
        return;
    std::string &path = scratchPath_.assign(signalPaths_[i]).append("/instance");
    VexoNode *instance = nullptr;
    check(Vexo_createSignalInstance(db_, id(path), signal.bigEndian ? 1 : 0, integer32(signal.startBit), UINT32_MAX,
                                    layout.signalNodes[i], pdu, &instance),
          &instance);
}

// One signal of a message: its coding, the signal and its receivers; null (with a
// warning) for a length the model cannot hold.
VexoNode *DbcBuilder::makeSignal(Layout &layout, const RawSignal &s, std::string &signalPath)
{
    const std::string &frameName = layout.frame->name;
    const double bitLength = s.bitLength;
    if (bitLength < 1 || bitLength > 64) {
        report(0, kWarning,
               "signal " + s.name + " of message " + frameName + ": a length of " +
                   std::to_string(truncated(bitLength)) + " bits cannot be held (1 to 64); signal dropped");
        return nullptr;
    }
    const auto notesAt = layout.notes->signals.find(s.name);
    const SignalNotes *notes = notesAt != layout.notes->signals.end() ? &notesAt->second : nullptr;
    const int valueType = notes != nullptr ? notes->valueType : -1;
    uint32_t encoding = 0;
    double lo = 0, hi = 0;
    if ((valueType == 1 && bitLength == 32) || (valueType == 2 && bitLength == 64)) {
        encoding = Q3_ENCODING_IEEE;
        lo = -HUGE_VAL;
        hi = HUGE_VAL;
    } else {
        if (valueType == 1 || valueType == 2)
            report(0, kWarning, "signal " + s.name + " of message " + frameName + ": a floating-point value needs " +
                                    (valueType == 1 ? "32" : "64") + " bits; read as an integer");
        encoding = s.isSigned ? Q3_ENCODING_2COMPL : Q3_ENCODING_DIRECT;
        const double span = std::ldexp(1.0, static_cast<int>(bitLength));
        if (s.isSigned) {
            const double half = std::ldexp(1.0, static_cast<int>(bitLength) - 1);
            lo = -half;
            hi = half - 1;
        } else {
            lo = 0;
            hi = span - 1;
        }
    }
    // A description written for the other reading of the bits is meant for the value the
    // signal has: 255 for -1 of a signed 8-bit signal, -1 for 255 of an unsigned one. Two
    // that meet on one value: the later in the values' order (see SignalNotes) stays.
    std::vector<std::pair<double, std::string>> values;
    const bool hasValues = notes != nullptr && notes->hasValues;
    if (hasValues) {
        std::map<double, const std::string *> matching;
        const double span = std::ldexp(1.0, static_cast<int>(bitLength));
        for (const auto &[value, text] : notes->values) {
            double raw = value;
            if (encoding != Q3_ENCODING_IEEE) {
                if (raw > hi && raw < span)
                    raw = raw - span;
                if (raw < lo && raw >= -span)
                    raw = raw + span;
            }
            matching[raw] = &text;
        }
        values.reserve(matching.size());
        for (const auto &[raw, text] : matching)
            values.emplace_back(raw, *text);
    }
    double start = 0;
    if (notes == nullptr || !notes->start.toNumber(&start))
        start = startDefault_;
    VexoNode *coding = linearCoding(bitLength, encoding, s.unit, lo, hi, s.scale, s.offset,
                                    hasValues ? &values : nullptr, start < 0);
    const uint32_t flags = (s.min != 0 || s.max != 0) ? (kClosed | Q3_FLAG_VALID) : kClosed;
    const bool longName = notes != nullptr && notes->longSymbol.present();
    const std::string longSymbol = longName ? notes->longSymbol.display() : std::string();
    const std::string &display = longName ? longSymbol : s.name;
    signalPath.assign(layout.path).append("/signal/").append(display);
    bool repeated = false;
    const VexoChar *signalId = id(signalPath, &repeated);
    if (repeated)
        report(0, kWarning, "signal " + display + " of message " + frameName +
                                " appears twice; the second one has an id ending in #2");
    VexoNode *signal = nullptr;
    check(Vexo_createSignal(db_, signalId, flags, start * s.scale + s.offset, s.min, s.max, coding, &signal), &signal);
    name(signal, display);
    if (notes != nullptr && notes->hasComment)
        describe(signal, notes->comment);
    for (const std::string &receiver : s.receivers) {
        if (isPlaceholderNode(receiver))
            continue;
        VexoNode *node = ecu(receiver, nullptr);
        std::string &path = scratchPath_.assign(signalPath).append("/receiver/").append(ecus_.at(receiver).displayName);
        VexoNode *reference = nullptr;
        check(Vexo_createElementReference(db_, id(path), signal, &reference), &reference);
        linked(Vexo_appendChildren(node, 1, &reference));
    }
    signalCount_ += 1;
    return signal;
}

// ---- The run -------------------------------------------------------------------------------

int collectGarbage(lua_State *L)
{
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}

// Lets the records' userdata and the file text go (the caller keeps no reference to
// them) and collects Lua's garbage, which holds the text and what reading it left
// behind, so that the model reuses that memory.
void DbcBuilder::release()
{
    for (int i = 1; i <= 2; ++i) {
        lua_pushnil(L);
        lua_rawseti(L, kInput, i);
    }
    for (int slot : {kRecords, kContent}) {
        lua_pushnil(L);
        lua_replace(L, slot);
    }
    if (lua_cpcall(L, collectGarbage, nullptr) != 0)
        throw LuaRaised{};
}

void DbcBuilder::run(DbcRecords &records, double counts[3])
{
    size_t length = 0;
    const char *text = lua_tolstring(L, kName, &length);
    name_.assign(text, length);
    prefixEnds_ = !appendWide(idBuffer_, name_ + "/");
    prefixUnits_ = idBuffer_.size();
    if (core::Vexo *database = core::databaseAs(db_))
        strings_ = database->strings;  // its tallies cleared (runBuilder)
    take(records);
    for (const auto &[line, message] : records_.warnings)
        report(line, kWarning, message);
    for (const std::string &message : records_.notices)
        report(0, kWarning, message);
    records_.warnings = {};
    records_.notices = {};
    scanStatements();
    release();
    reportDefinitions();
    buildNetwork();
    counts[0] = frameCount_;
    counts[1] = signalCount_;
    counts[2] = ecuCount_;
}

enum class Outcome { kDone, kLuaError, kNoMemory, kFailure };

// Runs the builder; every C++ object is gone when it returns.
Outcome buildWith(lua_State *L, VexoNode *database, core::Vexo *batch, DbcRecords &records, double counts[3],
                  char *message, size_t size) noexcept
{
    try {
        DbcBuilder builder(L, database, batch);
        builder.run(records, counts);
        return Outcome::kDone;
    } catch (const LuaRaised &) {
        return Outcome::kLuaError;
    } catch (const std::bad_alloc &) {
        return Outcome::kNoMemory;
    } catch (const Failure &failure) {
        std::snprintf(message, size, "%s", failure.message.c_str());
        return Outcome::kFailure;
    }
}

// Builds with the element ids listed in the root and default groups at the end, or
// before a message (see openIdBatch): nothing reads the groups meanwhile.
Outcome runBuilder(lua_State *L, VexoNode *database, DbcRecords &records, double counts[3], char *message,
                   size_t size) noexcept
{
    core::Vexo *owner = core::databaseAs(database);
    core::Vexo *batch = owner != nullptr && core::openIdBatch(owner) == S_OK ? owner : nullptr;
    // The ids' counts start afresh (cleared while the table is small), and there is room
    // for the ids at once: neither the interned texts' table nor the batch grows step by
    // step meanwhile.
    const uint32_t expected = expectedIds(records);
    core::StringTable *strings = owner != nullptr ? owner->strings : nullptr;
    if (strings != nullptr)
        core::clearTallies(strings);
    if ((strings != nullptr && !core::reserveInterned(strings, expected))
        || (batch != nullptr && !core::reserveIdBatch(batch, expected))) {
        if (batch != nullptr)
            core::closeIdBatch(batch);
        return Outcome::kNoMemory;
    }
    const Outcome outcome = buildWith(L, database, batch, records, counts, message, size);
    // Whatever the outcome, every element made is listed.
    if (batch != nullptr && core::closeIdBatch(batch) == E_OUTOFMEMORY && outcome == Outcome::kDone)
        return Outcome::kNoMemory;
    return outcome;
}

}  // namespace

int buildDbcModel(lua_State *L, VexoNode *database)
{
    luaL_checkstring(L, kName);
    luaL_checktype(L, kReport, LUA_TFUNCTION);
    luaL_checktype(L, kInput, LUA_TTABLE);
    lua_settop(L, kInput);
    for (int i = 1; i <= 2; ++i)
        lua_rawgeti(L, kInput, i);
    DbcRecords *records = toDbcRecords(L, kRecords);
    luaL_argcheck(L, records != nullptr, kInput, "the reader's records expected at [1]");
    luaL_argcheck(L, !records->taken, kInput, "the records at [1] were built already");
    luaL_argcheck(L, lua_type(L, kContent) == LUA_TSTRING || lua_type(L, kContent) == LUA_TUSERDATA, kInput,
                  "the file text expected at [2]");
    luaL_checkstack(L, kLastSlot + 32, "DBC model");
    lua_pushvalue(L, kReport);
    lua_pushcclosure(L, callReport, 1);
    double counts[3] = {};
    char message[128] = "";
    switch (runBuilder(L, database, *records, counts, message, sizeof message)) {
    case Outcome::kDone:
        break;
    case Outcome::kLuaError:
        return -1;
    case Outcome::kNoMemory:
        lua_pushliteral(L, "not enough memory");
        return -1;
    case Outcome::kFailure:
        lua_pushstring(L, message);
        return -1;
    }
    lua_settop(L, kInput);
    for (double count : counts)
        lua_pushnumber(L, count);
    return 3;
}

}  // namespace vexo::io
