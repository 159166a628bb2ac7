// The candump log parser behind Vexo_parseCandump: blocks of log text read line by line
// into frames for the batch decoder, checked strictly enough that a line which only
// looks like a frame is not taken for one. No allocation: a log of millions of lines
// goes through in blocks the caller owns.
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>

#include "vexo/candump.h"
#include "vexo/constants.h"

#include "lex_rules.h"

namespace vexo::io {

namespace {

// Bits above the 29-bit identifier that candump writes for error frames.
constexpr uint32_t kErrorFlag = 0x20000000;

enum class LineKind { Frame, Remote, Error, Blank, Garbage };

struct ParsedLine {
    std::string_view timestamp;
    double seconds = 0;  // the timestamp read; NaN without one
    std::string_view bus;
    uint32_t identifier = 0;
    bool extended = false;
    uint32_t flags = 0;
    uint32_t length = 0;
    uint8_t data[64] = {};
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}
    bool done() const { return at_ >= text_.size(); }
    char peek() const { return done() ? '\0' : text_[at_]; }
    void skipBlanks()
    {
        while (!done() && isBlank(text_[at_]))
            ++at_;
    }
    // A run of characters up to a blank (or to `stop`).
    std::string_view word(char stop = ' ')
    {
        const size_t start = at_;
        while (!done() && !isBlank(text_[at_]) && text_[at_] != stop)
            ++at_;
        return text_.substr(start, at_ - start);
    }
    bool take(char c)
    {
        if (peek() != c)
            return false;
        ++at_;
        return true;
    }
    bool take(std::string_view s)
    {
        if (text_.substr(at_, s.size()) != s)
            return false;
        at_ += s.size();
        return true;
    }
    std::string_view rest() const { return text_.substr(at_ < text_.size() ? at_ : text_.size()); }

private:
    std::string_view text_;
    size_t at_ = 0;
};

// Digits with an optional fraction (candump writes seconds.micros).
bool isTimestamp(std::string_view text)
{
    size_t i = 0, digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i, ++digits;
    }
    return digits > 0 && i == text.size();
}

// The seconds of a timestamp (digits with an optional fraction), correctly rounded, from
// its digits read as one integer (count of them, the last `fraction` after the point).
// When that integer is at most 2^53, a double holds it exactly, as it does the power of
// ten, and one division rounds the quotient correctly: candump's "seconds.micros" takes
// this way. Other stamps go through from_chars (NaN when it finds them out of range).
double secondsFrom(uint64_t digits, size_t count, size_t fraction, std::string_view text)
{
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                         1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
    if (count <= 19 && digits <= uint64_t(1) << 53)
        return static_cast<double>(digits) / kPowers[fraction];
    double seconds = std::numeric_limits<double>::quiet_NaN();
    std::from_chars(text.data(), text.data() + text.size(), seconds);
    return seconds;
}

double secondsOf(std::string_view text)
{
    uint64_t digits = 0;
    size_t count = 0, fraction = 0;
    for (const char c : text) {
        if (c == '.') {
            fraction = text.size() - count - 1;
            continue;
        }
        digits = digits * 10 + static_cast<uint64_t>(c - '0');
        ++count;
    }
    return secondsFrom(digits, count, fraction, text);
}

bool isInterfaceName(std::string_view name)
{
    if (name.empty() || name.size() > 32)
        return false;
    for (const char c : name) {
        if (c <= ' ' || c > '~')
            return false;
    }
    return true;
}

// An identifier of 3 (standard) or 8 (extended) hex digits.
bool readIdentifier(std::string_view text, ParsedLine &frame)
{
    if (text.size() != 3 && text.size() != 8)
        return false;
    uint32_t value = 0;
    for (const char c : text) {
        const int d = hexDigitValue(c);
        if (d < 0)
            return false;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    if (text.size() == 3 && value > 0x7FF)
        return false;
    frame.identifier = value;
    frame.extended = text.size() == 8;
    return true;
}

// Data bytes as pairs of hex digits, optionally separated by '.'.
bool readPackedBytes(std::string_view text, ParsedLine &frame, size_t maxLength)
{
    // Pairs without dots (what candump writes) in one plain loop; anything else, again
    // from the start, in the loop that takes dots.
    const size_t pairs = text.size() / 2;
    if (text.size() % 2 == 0 && pairs <= maxLength) {
        size_t n = 0;
        for (int high, low; n < pairs && (high = hexDigitValue(text[2 * n])) >= 0
                            && (low = hexDigitValue(text[2 * n + 1])) >= 0; ++n)
            frame.data[n] = static_cast<uint8_t>(high << 4 | low);
        if (n == pairs) {
            frame.length = static_cast<uint32_t>(n);
            return true;
        }
    }
    size_t n = 0;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '.') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || n == maxLength)
            return false;
        const int high = hexDigitValue(text[i]), low = hexDigitValue(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        frame.data[n++] = static_cast<uint8_t>(high << 4 | low);
        i += 2;
    }
    frame.length = static_cast<uint32_t>(n);
    return true;
}

// "ID#DATA", "ID##FDATA", "ID#R[len]".
LineKind readLogFrame(std::string_view text, ParsedLine &frame)
{
    const size_t hash = text.find('#');
    if (hash == std::string_view::npos || !readIdentifier(text.substr(0, hash), frame))
        return LineKind::Garbage;
    std::string_view body = text.substr(hash + 1);
    if (frame.extended && (frame.identifier & kErrorFlag) != 0)
        return LineKind::Error;
    if (frame.identifier > 0x1FFFFFFF)
        return LineKind::Garbage;
    if (!body.empty() && (body[0] == 'R' || body[0] == 'r')) {
        if (body.size() == 1 || (body.size() == 2 && hexDigitValue(body[1]) >= 0 && hexDigitValue(body[1]) <= 8))
            return LineKind::Remote;
        return LineKind::Garbage;
    }
    if (!body.empty() && body[0] == '#') {
        if (body.size() < 2 || hexDigitValue(body[1]) < 0)
            return LineKind::Garbage;
        const auto fdFlags = static_cast<uint32_t>(hexDigitValue(body[1]));
        frame.flags = VEXO_LOG_FD | ((fdFlags & 1) != 0 ? VEXO_LOG_BRS : 0) | ((fdFlags & 2) != 0 ? VEXO_LOG_ESI : 0);
        return readPackedBytes(body.substr(2), frame, 64) ? LineKind::Frame : LineKind::Garbage;
    }
    // A classic frame may end in "_L", the data length code of a frame longer than its data.
    const size_t underscore = body.find('_');
    if (underscore != std::string_view::npos) {
        const std::string_view code = body.substr(underscore + 1);
        if (code.size() != 1 || hexDigitValue(code[0]) < 9)
            return LineKind::Garbage;
        body = body.substr(0, underscore);
    }
    return readPackedBytes(body, frame, 8) ? LineKind::Frame : LineKind::Garbage;
}

// "ID  [N]  B0 B1 ..." or "ID  [N]  remote request", after the interface name.
LineKind readScreenFrame(Cursor &c, ParsedLine &frame)
{
    if (!readIdentifier(c.word(), frame))
        return LineKind::Garbage;
    if (frame.extended && (frame.identifier & kErrorFlag) != 0)
        return LineKind::Error;
    if (frame.identifier > 0x1FFFFFFF)
        return LineKind::Garbage;
    c.skipBlanks();
    if (!c.take('['))
        return LineKind::Garbage;
    unsigned length = 0;
    int digits = 0;
    while (c.peek() >= '0' && c.peek() <= '9' && digits < 3) {
        length = length * 10 + static_cast<unsigned>(c.peek() - '0');
        c.take(c.peek());
        ++digits;
    }
    if (digits == 0 || !c.take(']') || length > 64)
        return LineKind::Garbage;
    c.skipBlanks();
    if (c.take("remote request"))
        return LineKind::Remote;
    // Two-digit lengths ("[12]", "[08]") are what candump shows for CAN FD frames.
    if (length > 8 || digits == 2)
        frame.flags = VEXO_LOG_FD;
    for (unsigned i = 0; i < length; ++i) {
        const std::string_view byte = c.word();
        if (byte.size() != 2 || hexDigitValue(byte[0]) < 0 || hexDigitValue(byte[1]) < 0)
            return LineKind::Garbage;
        frame.data[i] = static_cast<uint8_t>(hexDigitValue(byte[0]) << 4 | hexDigitValue(byte[1]));
        c.skipBlanks();
    }
    frame.length = length;
    // candump -a adds the bytes as ASCII in quotes.
    if (!c.done() && c.peek() != '\'')
        return LineKind::Garbage;
    return LineKind::Frame;
}

// The commonest line, "(SECONDS) BUS ID#DATA" with single spaces and a classic frame, in
// one pass; false for anything else (also for what it leaves to the general reading,
// such as error frames and remote frames), which parseLine then reads.
bool readPlainLogLine(std::string_view line, ParsedLine &frame)
{
    const char *at = line.data(), *const end = at + line.size();
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (at == end || *at++ != '(')
        return false;
    const char *const stamp = at;
    uint64_t value = 0;
    while (at != end && isDigit(*at))
        value = value * 10 + static_cast<uint64_t>(*at++ - '0');
    const char *const point = at;
    if (at != end && *at == '.') {
        ++at;
        while (at != end && isDigit(*at))
            value = value * 10 + static_cast<uint64_t>(*at++ - '0');
    }
    const auto count = static_cast<size_t>(at - stamp) - (point != at ? 1 : 0);
    if (at == end || *at != ')' || count == 0)
        return false;
    frame.timestamp = std::string_view(stamp, static_cast<size_t>(at - stamp));
    frame.seconds = secondsFrom(value, count, point != at ? static_cast<size_t>(at - point - 1) : 0, frame.timestamp);
    if (++at == end || *at++ != ' ')
        return false;
    const char *const bus = at;
    while (at != end && *at > ' ' && *at <= '~' && *at != '#')
        ++at;
    if (at == bus || at - bus > 32 || at == end || *at != ' ')
        return false;
    frame.bus = std::string_view(bus, static_cast<size_t>(at - bus));
    // "ID#DATA" to the line's end, through the general reading's own parts.
    const std::string_view body(at + 1, static_cast<size_t>(end - at - 1));
    // An identifier has 3 or 8 digits, so its '#' can only stand there (one earlier is no digit).
    const size_t hash = body.size() > 3 && body[3] == '#' ? 3 : body.size() > 8 && body[8] == '#' ? 8 : body.size();
    if (hash == body.size() || !readIdentifier(body.substr(0, hash), frame) || frame.identifier > 0x1FFFFFFF
        || (frame.extended && (frame.identifier & kErrorFlag) != 0))
        return false;
    return readPackedBytes(body.substr(hash + 1), frame, 8);
}

// Any line, the plain log line included.
LineKind readAnyLine(std::string_view line, ParsedLine &frame)
{
    frame.timestamp = {};
    frame.seconds = std::numeric_limits<double>::quiet_NaN();
    frame.flags = 0;
    frame.length = 0;
    Cursor c(line);
    c.skipBlanks();
    if (c.done())
        return LineKind::Blank;
    if (c.take('(')) {
        const std::string_view stamp = c.word(')');
        if (!c.take(')') || !isTimestamp(stamp))
            return LineKind::Garbage;
        frame.timestamp = stamp;
        frame.seconds = secondsOf(stamp);
        c.skipBlanks();
    }
    frame.bus = c.word();
    if (!isInterfaceName(frame.bus))
        return LineKind::Garbage;
    c.skipBlanks();
    if (c.rest().find('#') != std::string_view::npos) {
        const std::string_view body = c.word();
        c.skipBlanks();
        // candump -l may append a direction ("R", "T") after the frame.
        const std::string_view tail = c.word();
        c.skipBlanks();
        if (!c.done() || (!tail.empty() && tail != "R" && tail != "T"))
            return LineKind::Garbage;
        return readLogFrame(body, frame);
    }
    return readScreenFrame(c, frame);
}

LineKind parseLine(std::string_view line, ParsedLine &frame)
{
    frame.flags = 0;
    return readPlainLogLine(line, frame) ? LineKind::Frame : readAnyLine(line, frame);
}

uint32_t busIndex(VexoLogBuses *buses, std::string_view name)
{
    if (buses == nullptr)
        return 0xFFFFFFFFu;
    const uint32_t count = buses->count < VEXO_LOG_MAX_BUSES ? buses->count : VEXO_LOG_MAX_BUSES;
    for (uint32_t i = 0; i < count; ++i) {
        if (std::strncmp(buses->names[i], name.data(), name.size()) == 0 && buses->names[i][name.size()] == '\0')
            return i;
    }
    if (count == VEXO_LOG_MAX_BUSES)
        return 0xFFFFFFFFu;
    std::memcpy(buses->names[count], name.data(), name.size());  // at most 32 characters
    buses->names[count][name.size()] = '\0';
    buses->count = count + 1;
    return count;
}

}  // namespace

}  // namespace vexo::io

using namespace vexo::io;

VEXO_API HRESULT Vexo_parseCandump(const char *text, uint64_t length, uint32_t flags, VexoFrame *frames,
                                   uint32_t capacity, VexoLogLine *lines, uint8_t *data, uint32_t dataCapacity,
                                   VexoLogBuses *buses, VexoLogCount *done)
{
    if (done == nullptr || (text == nullptr && length > 0) || (frames == nullptr && capacity > 0)
        || (data == nullptr && dataCapacity > 0) || length > 0xFFFFFFFFu)
        return E_INVALIDARG;
    static const uint8_t kNoData[1] = {0};
    VexoLogCount count{};
    count.firstGarbage = 0xFFFFFFFFu;
    ParsedLine parsed;
    size_t at = 0;
    HRESULT result = S_OK;
    while (at < length) {
        const void *end = std::memchr(text + at, '\n', length - at);
        size_t next;
        std::string_view line;
        if (end != nullptr) {
            const size_t stop = static_cast<size_t>(static_cast<const char *>(end) - text);
            line = std::string_view(text + at, stop - at);
            next = stop + 1;
        } else {
            if ((flags & VEXO_LOG_FINAL) == 0)
                break;
            line = std::string_view(text + at, length - at);
            next = length;
        }
        const LineKind kind = parseLine(line, parsed);
        if (kind == LineKind::Frame) {
            if (count.frames == capacity || dataCapacity - count.dataBytes < parsed.length) {
                result = S_FALSE;
                break;
            }
            VexoFrame &frame = frames[count.frames];
            frame.identifier = parsed.identifier;
            frame.flags = parsed.extended ? Q3_FLAG_CANEXTENDED : 0;
            frame.length = parsed.length;
            frame.reserved = 0;
            if (parsed.length > 0) {
                std::memcpy(data + count.dataBytes, parsed.data, parsed.length);
                frame.data = data + count.dataBytes;
            } else {
                frame.data = data != nullptr ? data + count.dataBytes : kNoData;
            }
            count.dataBytes += parsed.length;
            if (lines != nullptr) {
                VexoLogLine &where = lines[count.frames];
                where.timestamp = parsed.seconds;
                where.line = count.lines;
                where.flags = parsed.flags;
                where.stampOffset = static_cast<uint32_t>(parsed.timestamp.empty() ? 0 : parsed.timestamp.data() - text);
                where.stampLength = static_cast<uint32_t>(parsed.timestamp.size());
                where.busOffset = static_cast<uint32_t>(parsed.bus.data() - text);
                where.busLength = static_cast<uint32_t>(parsed.bus.size());
                where.bus = busIndex(buses, parsed.bus);
                where.reserved = 0;
            }
            ++count.frames;
        } else if (kind == LineKind::Remote) {
            ++count.remote;
        } else if (kind == LineKind::Error) {
            ++count.errors;
        } else if (kind == LineKind::Blank) {
            ++count.blank;
        } else {
            if (count.garbage++ == 0)
                count.firstGarbage = count.lines;
        }
        ++count.lines;
        at = next;
    }
    count.bytes = static_cast<uint32_t>(at);
    *done = count;
    return result;
}
