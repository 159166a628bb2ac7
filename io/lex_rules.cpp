// String, number and word scanning and the token text buffer of both tokenizers.
// Integers are C-style (0x hexadecimal, a leading 0 octal) and saturate at the 32-bit
// limits; floats are decimal and converted independently of the C locale.
#include "lex_rules.h"

#include <charconv>
#include <cstdlib>
#include <locale.h>
#include <new>

namespace vexo::io {

// clang-format off
const uint8_t kCharClass[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0,   // 8, 9, 11, 12, 13 blank; 10 is LF
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,   // space
    22, 22, 22, 22, 22, 22, 22, 22, 22, 22, 0, 0, 0, 0, 0, 0,   // 0-9
    0, 28, 28, 28, 28, 28, 28, 24, 24, 24, 24, 24, 24, 24, 24, 24,   // A-O
    24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 0, 0, 0, 0, 24,      // P-Z, _
    0, 28, 28, 28, 28, 28, 28, 24, 24, 24, 24, 24, 24, 24, 24, 24,   // a-o
    24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 24, 0, 0, 0, 0, 0,       // p-z
};
// clang-format on

bool initLexerCore(LexerCore *core, LexInput *input)
{
    core->text = static_cast<char *>(std::malloc(kInitialTextCapacity + 1));
    if (core->text == nullptr)
        return false;
    core->input = input;
    core->lookahead = kNoChar;
    core->line = 1;
    core->column = 0;
    core->textCapacity = kInitialTextCapacity;
    core->textLength = 0;
    core->text[0] = '\0';
    core->tokenLine = 1;
    core->tokenColumn = 0;
    core->tokenCode = TOK_EOF;
    core->tokenValue.d = 0;
    core->onNoMemory = nullptr;
    core->noMemoryContext = nullptr;
    core->atLineStart = true;
    core->tokenStartsLine = true;
    core->tokenUnclosed = false;
    return true;
}

void freeLexerCore(LexerCore *core)
{
    closeLexInput(core->input);
    core->input = nullptr;
    std::free(core->text);
    core->text = nullptr;
}

void growText(LexerCore *core)
{
    const uint64_t capacity = 2 * static_cast<uint64_t>(core->textCapacity) + 10;
    char *text = capacity < UINT32_MAX ? static_cast<char *>(std::realloc(core->text, capacity + 1)) : nullptr;
    if (text == nullptr) {
        if (core->onNoMemory != nullptr)
            core->onNoMemory(core->noMemoryContext);
        throw std::bad_alloc();
    }
    core->text = text;
    core->textCapacity = static_cast<uint32_t>(capacity);
}

namespace {

// Copies the run of bytes whose table entry has a bit of mask set straight from the
// input's buffer into the text. Callers pass sets without CR and LF, so each byte
// counts one column. Stops at the end of the buffered block; the caller goes on
// character by character from there.
void copyRun(LexerCore *core, const uint8_t *table, uint8_t mask)
{
    LexInput *in = core->input;
    if (in->pushedBack != kNoChar)
        return;
    const uint8_t *start = in->position;
    const uint8_t *q = start;
    while (q < in->end && (table[*q] & mask) != 0)
        ++q;
    if (q == start)
        return;
    appendBytes(core, start, static_cast<size_t>(q - start));
    core->column += static_cast<uint32_t>(q - start);
    in->position = q;
}

struct ByteSet {
    uint8_t member[256];
};

// Bytes that a string constant takes as they are: all but the quote, the backslash
// and the line-end characters.
constexpr ByteSet makeStringPlain()
{
    ByteSet set{};
    for (int i = 0; i < 256; ++i)
        set.member[i] = (i == '"' || i == '\\' || i == '\r' || i == '\n') ? 0 : 1;
    return set;
}
constexpr ByteSet kStringPlain = makeStringPlain();

}  // namespace

int32_t scanString(LexerCore *core)
{
    clearText(core);
    for (;;) {
        copyRun(core, kStringPlain.member, 1);
        int c = readChar(core);
        if (c == '"')
            break;
        if (c == kEndOfInput) {
            core->tokenUnclosed = true;
            break;
        }
        if (c == '\\') {
            c = readChar(core);
            if (c == kEndOfInput) {
                core->tokenUnclosed = true;
                break;
            }
            if (c == 'n')
                c = '\n';
            else if (c == 'r')
                c = '\r';
            else if (c == 't')
                c = '\t';
        }
        appendText(core, c);
    }
    core->lookahead = kNoChar;
    return TOK_STRING;
}

namespace {

// Magnitude of the digits at text in a radix, stopping at the first character that
// cannot continue the number and saturating just above the 32-bit range.
uint64_t readMagnitude(const char *text, int radix)
{
    uint64_t value = 0;
    for (; *text != '\0'; ++text) {
        const int d = hexDigitValue(*text);
        if (d < 0 || d >= radix)
            break;
        value = withDigit(value, static_cast<unsigned>(radix), static_cast<unsigned>(d));
    }
    return value;
}

const char *skipRadixPrefix(const char *text, int radix)
{
    if (radix == 16 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return text + 2;
    return text;
}

uint32_t toUnsigned32(const char *text, int radix)
{
    if (*text == '+')
        ++text;
    return unsignedValue(readMagnitude(skipRadixPrefix(text, radix), radix));
}

int32_t toSigned32(const char *text, int radix)
{
    const bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    return signedValue(negative, readMagnitude(text, radix));
}

}  // namespace

double decimalToDouble(const char *text, uint32_t length)
{
    const char *first = text;
    if (*first == '+')
        ++first;
    double value = 0;
    const auto result = std::from_chars(first, text + length, value);
    if (result.ec == std::errc())
        return value;
    if (result.ec == std::errc::invalid_argument)
        return 0;
    // Out of range: rare, so the slower locale-pinned strtod decides overflow or underflow.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return strtod_l(text, nullptr, cLocale);
}

namespace {

// A decimal integer that starts with c (1 to 9) and whose digits lie in the input's buffer
// up to a character that cannot continue a number: read from the buffer in one go, as
// the loop below would read it. False, having read nothing, for any other number.
bool scanPlainInteger(LexerCore *core, int c)
{
    LexInput *in = core->input;
    if (c < '1' || c > '9' || in->pushedBack != kNoChar)
        return false;
    uint64_t value = static_cast<uint64_t>(c - '0');
    const uint8_t *p = in->position;
    for (; p < in->end && *p >= '0' && *p <= '9'; ++p)
        value = withDigit(value, 10, *p - '0');
    if (p == in->end || *p == '.' || *p == 'e' || *p == 'E')
        return false;
    core->text[0] = static_cast<char>(c);
    core->textLength = 1;
    appendBytes(core, in->position, static_cast<size_t>(p - in->position));
    core->column += static_cast<uint32_t>(p - in->position);
    in->position = p;
    core->lookahead = readChar(core);
    core->tokenValue.u = unsignedValue(value);
    return true;
}

}  // namespace

int32_t scanNumber(LexerCore *core, int c)
{
    if (scanPlainInteger(core, c))
        return TOK_UNSIGNED_INT;
    clearText(core);
    int radix = 10;
    int state = 0;  // 1 after a sign, 2 after '.', 3 after an exponent letter
    if (c == '+' || c == '-') {
        appendText(core, c);
        c = readChar(core);
        state = 1;
    }
    int32_t code;
    if (hasClass(c, kClassDigit))
        code = core->text[0] == '-' ? TOK_SIGNED_INT : TOK_UNSIGNED_INT;
    else
        code = static_cast<unsigned char>(core->text[0]);
    if (c == '0') {
        appendText(core, c);
        c = readChar(core);
        if (c == 'x' || c == 'X') {
            appendText(core, c);
            if (state == 1) {
                core->lookahead = kNoChar;
                return TOK_BAD_NUMBER;
            }
            c = readChar(core);
            while (hasClass(c, kClassHex)) {
                appendText(core, c);
                c = readChar(core);
            }
            core->lookahead = c;
            core->tokenValue.u = toUnsigned32(core->text, 16);
            return TOK_UNSIGNED_INT;
        }
        if (hasClass(c, kClassDigit))
            radix = 8;
    }
    for (;;) {
        if (hasClass(c, kClassDigit)) {
            appendText(core, c);
            c = readChar(core);
        } else if (c == '.') {
            if (state >= 2) {
                code = TOK_BAD_NUMBER;
                break;
            }
            state = 2;
            code = TOK_FLOAT;
            appendText(core, c);
            c = readChar(core);
        } else if (c == 'E' || c == 'e') {
            if (state == 3) {
                code = TOK_BAD_NUMBER;
                break;
            }
            appendText(core, c);
            state = 3;
            code = TOK_FLOAT;
            c = readChar(core);
            if (c == '+' || c == '-') {
                appendText(core, c);
                c = readChar(core);
            }
        } else {
            break;
        }
    }
    core->lookahead = c;
    if (code == TOK_FLOAT)
        core->tokenValue.d = decimalToDouble(core->text, core->textLength);
    else if (code == TOK_SIGNED_INT)
        core->tokenValue.i = toSigned32(core->text, radix);
    else if (code == TOK_UNSIGNED_INT)
        core->tokenValue.u = toUnsigned32(core->text, radix);
    return code;
}

namespace {

// Appends the word characters from c on to the text; the first other one becomes the
// lookahead.
void appendWord(LexerCore *core, int c)
{
    do {
        appendText(core, c);
        copyRun(core, kCharClass, kClassWord);
        c = readChar(core);
    } while (hasClass(c, kClassWord));
    core->lookahead = c;
}

}  // namespace

void scanWord(LexerCore *core, int c)
{
    clearText(core);
    appendWord(core, c);
}

bool extendNumberToWord(LexerCore *core)
{
    if (core->tokenCode != TOK_UNSIGNED_INT && core->tokenCode != TOK_FLOAT)
        return false;
    const char *text = core->text;
    uint32_t digits = 0;
    while (digits < core->textLength && hasClass(text[digits], kClassDigit))
        ++digits;
    const bool exponentLetter =
        digits + 1 == core->textLength && (text[digits] == 'e' || text[digits] == 'E');
    if (digits == 0 || (digits != core->textLength && !exponentLetter))
        return false;
    int c = core->lookahead;
    if (!hasClass(c, kClassWordStart))
        return false;
    appendWord(core, c);
    return true;
}

int32_t extendPointToNumber(LexerCore *core)
{
    if (core->tokenCode != '.' || core->lookahead != kNoChar || !hasClass(peekLexByte(core->input), kClassDigit))
        return 0;
    core->tokenCode = scanNumber(core, '.');
    return core->tokenCode;
}

double numberValue(const LexerCore *core)
{
    switch (core->tokenCode) {
    case TOK_FLOAT:
        return core->tokenValue.d;
    case TOK_SIGNED_INT:
        return core->tokenValue.i;
    case TOK_UNSIGNED_INT:
        return core->tokenValue.u;
    default:
        return 0;
    }
}

}  // namespace vexo::io
