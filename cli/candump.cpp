// The candump line parser: log-file lines (candump -l) and screen lines (candump),
// checked strictly enough that a line which only looks like a frame is not taken for one.
#include "candump.h"

namespace vexo::cli {

namespace {

// Bits above the 29-bit identifier that candump writes for error frames (and would
// write for remote ones).
constexpr uint32_t kErrorFlag = 0x20000000;

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

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
    // A run of printable characters up to a blank (or to `stop`).
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

// A timestamp: digits with an optional fraction (candump writes seconds.micros).
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
bool readIdentifier(std::string_view text, CanFrame &frame)
{
    if (text.size() != 3 && text.size() != 8)
        return false;
    uint32_t value = 0;
    for (const char c : text) {
        const int d = hexDigit(c);
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
bool readPackedBytes(std::string_view text, CanFrame &frame, size_t maxLength)
{
    size_t n = 0;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '.') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || n == maxLength)
            return false;
        const int high = hexDigit(text[i]), low = hexDigit(text[i + 1]);
        if (high < 0 || low < 0)
            return false;
        frame.data[n++] = static_cast<uint8_t>(high << 4 | low);
        i += 2;
    }
    frame.length = static_cast<uint8_t>(n);
    return true;
}

// "ID#DATA", "ID##FDATA", "ID#R[len]".
LineKind readLogFrame(std::string_view text, CanFrame &frame)
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
        if (body.size() == 1 || (body.size() == 2 && hexDigit(body[1]) >= 0 && hexDigit(body[1]) <= 8))
            return LineKind::Remote;
        return LineKind::Garbage;
    }
    if (!body.empty() && body[0] == '#') {
        if (body.size() < 2 || hexDigit(body[1]) < 0)
            return LineKind::Garbage;
        frame.fd = true;
        frame.fdFlags = static_cast<uint8_t>(hexDigit(body[1]));
        return readPackedBytes(body.substr(2), frame, 64) ? LineKind::Frame : LineKind::Garbage;
    }
    // A classic frame may end in "_L", the data length code of a frame longer than its data.
    const size_t underscore = body.find('_');
    if (underscore != std::string_view::npos) {
        const std::string_view code = body.substr(underscore + 1);
        if (code.size() != 1 || hexDigit(code[0]) < 9)
            return LineKind::Garbage;
        body = body.substr(0, underscore);
    }
    return readPackedBytes(body, frame, 8) ? LineKind::Frame : LineKind::Garbage;
}

// "ID  [N]  B0 B1 ..." or "ID  [N]  remote request", after the interface name.
LineKind readScreenFrame(Cursor &c, CanFrame &frame)
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
    frame.fd = length > 8 || digits == 2;
    for (unsigned i = 0; i < length; ++i) {
        const std::string_view byte = c.word();
        if (byte.size() != 2 || hexDigit(byte[0]) < 0 || hexDigit(byte[1]) < 0)
            return LineKind::Garbage;
        frame.data[i] = static_cast<uint8_t>(hexDigit(byte[0]) << 4 | hexDigit(byte[1]));
        c.skipBlanks();
    }
    frame.length = static_cast<uint8_t>(length);
    // candump -a adds the bytes as ASCII in quotes.
    if (!c.done() && c.peek() != '\'')
        return LineKind::Garbage;
    return LineKind::Frame;
}

}  // namespace

LineKind parseCandumpLine(std::string_view line, CanFrame &frame)
{
    frame.timestamp = {};
    frame.fd = false;
    frame.fdFlags = 0;
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
        c.skipBlanks();
    }
    frame.bus = c.word();
    if (!isInterfaceName(frame.bus))
        return LineKind::Garbage;
    c.skipBlanks();
    const std::string_view rest = c.rest();
    if (rest.find('#') != std::string_view::npos) {
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

}  // namespace vexo::cli
