// The DBC import's records: what the DBC reader parses a file into for the model
// builder (io/dbc_build.cpp), without a Lua table between them. The reader fills them in
// a Lua userdata, so that a syntax error (a longjmp) leaves nothing to leak.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include <lua.hpp>

#include "vexo/types.h"

namespace vexo::io {

// A number as Lua 5.1 writes it ("%.14g").
inline std::string numberText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.14g", value);
    return text;
}

// The processor's conversion to a 64-bit integer (out of range and NaN: INT64_MIN),
// which Lua's integer conversion and string.format's %d use.
inline int64_t truncated(double value)
{
    if (!(value >= -9223372036854775808.0 && value < 9223372036854775808.0))
        return INT64_MIN;
    return static_cast<int64_t>(value);
}

// Node names that DBC writers put where a message has no sender or a signal no
// receiver; they name no ECU.
inline bool isPlaceholderNode(const std::string &name)
{
    return name.empty() || (name.size() >= 5 && name.compare(name.size() - 5, 5, "__XXX") == 0);
}

// An attribute value (or an enumeration entry) as the import reads it: a number where
// its text reads as one, else the text; an ENUM value that indexes an entry is that
// entry's text. reads: what Lua's tonumber() makes of it (number) is a number.
struct Value {
    enum Kind : uint8_t { kNone, kNumber, kText } kind = kNone;
    bool reads = false;
    double number = 0;
    std::string text;

    bool present() const { return kind != kNone; }
    bool toNumber(double *out) const
    {
        if (reads)
            *out = number;
        return reads;
    }
    // The value where it names something: text as it is, a number as Lua writes it.
    std::string display() const { return kind == kNumber ? numberText(number) : text; }
};

struct RawSignal {
    std::string name, unit;
    std::vector<std::string> receivers;
    double startBit = 0, bitLength = 0, scale = 0, offset = 0, min = 0, max = 0, modeValue = 0;
    char mode = 0;  // 'M' switch, 'm' multiplexed, 0 plain
    bool bigEndian = false, isSigned = false;
};

struct RawFrame {
    double ident = 0, dlc = 0;
    std::string name, sender;
    std::vector<RawSignal> signals;
};

// What other statements say about one signal or one frame (keyed by frame identifier).
struct SignalNotes {
    std::string comment;
    bool hasComment = false;
    bool hasValues = false;
    int valueType = -1;
    // Each value once (met again, it takes the later text), in file order; where one is
    // negative, so that two may name one raw value of the signal and the later one
    // stays, in the order of Lua's traversal of the table the reader makes of them.
    std::vector<std::pair<double, std::string>> values;
    Value start, longSymbol;
};

struct MuxEntry {
    std::string switchName;
    std::vector<std::pair<double, double>> ranges;
    double line = 0;
};

struct FrameNotes {
    std::string comment;
    bool hasComment = false;
    Value cycle, format, brs, longSymbol;
    std::unordered_map<std::string, SignalNotes> signals;
    std::unordered_map<std::string, MuxEntry> mux;  // extended multiplexing by signal
    bool hasMux = false;
};

struct NodeNotes {
    std::string comment;
    bool hasComment = false;
    Value longSymbol;
};

// Attributes whose values become part of the model, by object kind.
enum KeptAttribute : uint8_t {
    kNotKept, kCycleTime, kFrameFormat, kBitRateSwitch, kFrameLongSymbol, kStartValue, kSignalLongSymbol,
    kNodeLongSymbol,
};

KeptAttribute keptAttribute(const std::string &kind, const std::string &id);

struct AttributeDefinition {
    std::string id, kind;
};

// The last definition of a kept attribute: its enumeration entries (ENUM only).
struct Enumeration {
    bool isEnum = false;
    std::vector<Value> entries;
};

struct DbcRecords {
    // The tolerant reader's warnings (line, text), then what the records could not keep
    // (reported without a line), in the order they were met.
    std::vector<std::pair<double, std::string>> warnings;
    std::vector<std::string> notices;
    std::vector<RawFrame> frames;
    std::vector<std::string> ecuNames;  // of BU_, as listed
    std::unordered_map<double, FrameNotes> frameNotes;
    std::unordered_map<std::string, NodeNotes> nodeNotes;
    std::string databaseComment;
    bool hasDatabaseComment = false;
    std::vector<AttributeDefinition> definitions;
    std::unordered_map<std::string, Enumeration> keptDefinitions;
    std::unordered_map<std::string, Value> defaults;  // of kept attributes, as written
    // Values dropped by attribute, in first-seen order.
    std::vector<std::pair<std::string, long>> dropped;
    std::unordered_map<std::string, size_t> droppedIndex;
    bool taken = false;  // handed to a builder, which emptied them
};

// The value of an attribute: the entry an ENUM value indexes (else the value as
// written), a number where the value reads as one, else the text.
Value attributeValue(const std::unordered_map<std::string, Enumeration> &keptDefinitions, const std::string &id,
                     const Value &raw);

// Reads the DBC file at path (flags: VEXO_IMPORT_TOLERANT or 0) into records and pushes
// their userdata; returns 1. A file that cannot be read pushes nil and the result code, a
// rejected one nil and the reader's message (the same as Vexo_importRawDBCEx's); returns 2.
int readDbcRecords(lua_State *L, const VexoChar *path, uint32_t flags);
// The same from an open stream (the fuzzer's memory stream); it is always closed.
int readDbcRecordsStream(lua_State *L, FILE *stream, uint32_t flags);

// The records of the userdata at index; null for another value.
DbcRecords *toDbcRecords(lua_State *L, int index);

}  // namespace vexo::io
