// The rules the tokenizers share: token codes, the line and column accounting of every
// character, the text buffer, the string, number and word scanners, keyword tables, and
// the creation and release of a tokenizer. Each tokenizer adds only its white space,
// keyword list and extras.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "lex_input.h"

namespace vexo::io {

// Token codes common to both tokenizers. A single-character token's code is the
// character's byte value; keyword and identifier codes belong to each tokenizer.
constexpr int32_t TOK_EOF = -1;
constexpr int32_t TOK_NUL = 1;
constexpr int32_t TOK_STRING = 300;
constexpr int32_t TOK_SIGNED_INT = 301;
constexpr int32_t TOK_UNSIGNED_INT = 302;
constexpr int32_t TOK_FLOAT = 303;
constexpr int32_t TOK_BAD_NUMBER = 350;

constexpr uint32_t kInitialTextCapacity = 64;

// The value of a hexadecimal digit (0-9, a-f, A-F), or -1 for any other character.
inline int hexDigitValue(char c)
{
    // One table lookup: log parsing reads two digits per data byte.
    struct Table {
        int8_t value[256];
        constexpr Table() : value()
        {
            for (int i = 0; i < 256; ++i)
                value[i] = int8_t(i >= '0' && i <= '9' ? i - '0'
                                  : i >= 'a' && i <= 'f' ? i - 'a' + 10
                                  : i >= 'A' && i <= 'F' ? i - 'A' + 10
                                                         : -1);
        }
    };
    static constexpr Table kTable;
    return kTable.value[static_cast<unsigned char>(c)];
}

// Called when the text buffer cannot grow; must not return (the readers raise a Lua
// memory error). Without a handler std::bad_alloc is thrown.
using NoMemoryHandler = void (*)(void *context);

union TokenValue {
    int32_t i;   // TOK_SIGNED_INT
    uint32_t u;  // TOK_UNSIGNED_INT
    double d;    // TOK_FLOAT
};

// Tokenizer state shared by both formats.
struct LexerCore {
    LexInput *input;         // owned
    int32_t lookahead;       // character read past the previous token, or kNoChar
    uint32_t line;           // current line, the first is 1
    uint32_t column;         // characters read on the current line
    uint32_t textCapacity;   // the buffer holds textCapacity + 1 bytes
    uint32_t textLength;
    char *text;              // zero-terminated text of the current token
    uint32_t tokenLine;
    uint32_t tokenColumn;    // the first column is 1
    int32_t tokenCode;
    TokenValue tokenValue;
    NoMemoryHandler onNoMemory;
    void *noMemoryContext;
    bool atLineStart;        // no token read on the current line yet
    bool tokenStartsLine;    // the current token is the first on its line
    bool tokenUnclosed;      // the current token is a string, or follows a comment, that the end closed
};

// Sets up the state over an input (which it then owns). Returns false, leaving the
// input to the caller, when the text buffer cannot be allocated.
bool initLexerCore(LexerCore *core, LexInput *input);

// Closes the input and releases the text buffer.
void freeLexerCore(LexerCore *core);

// A tokenizer is a struct whose first member is its LexerCore; its other members start
// with the values of their default initializers.
// Creates a tokenizer over an open input, which it owns from then on (also when the
// state cannot be allocated: the input is closed and E_INVALIDARG returned).
template <class Lexer>
HRESULT createLexerOnInput(LexInput *input, Lexer **lexer)
{
    if (input == nullptr || lexer == nullptr) {
        closeLexInput(input);
        return E_INVALIDARG;
    }
    void *block = std::malloc(sizeof(Lexer));
    Lexer *lx = block != nullptr ? new (block) Lexer{} : nullptr;
    if (lx == nullptr || !initLexerCore(&lx->core, input)) {
        std::free(block);
        closeLexInput(input);
        return E_INVALIDARG;
    }
    *lexer = lx;
    return S_OK;
}

// Opens the file and creates a tokenizer over it. Returns S_OK and the tokenizer; the
// input's E_INVALIDARG, E_FAIL or E_OUTOFMEMORY unchanged; E_INVALIDARG when the
// tokenizer state cannot be allocated (or the out pointer is null).
template <class Lexer>
HRESULT createLexer(const VexoChar *path, Lexer **lexer)
{
    if (lexer == nullptr)
        return E_INVALIDARG;
    LexInput *input = nullptr;
    const HRESULT hr = openLexInput(path, &input);
    if (hr != S_OK)
        return hr;
    return createLexerOnInput(input, lexer);
}

// Closes the input and releases the state; null is ignored.
template <class Lexer>
void destroyLexer(Lexer *lexer)
{
    if (lexer == nullptr)
        return;
    freeLexerCore(&lexer->core);
    std::free(lexer);
}

// Moves the text to a buffer of capacity 2 * capacity + 10.
void growText(LexerCore *core);

inline void clearText(LexerCore *core)
{
    core->textLength = 0;
    core->text[0] = '\0';
}

inline void appendText(LexerCore *core, int c)
{
    if (core->textLength == core->textCapacity)
        growText(core);
    core->text[core->textLength++] = static_cast<char>(c);
    core->text[core->textLength] = '\0';
}

// Appends n bytes, growing the buffer by the same rule as one byte at a time.
inline void appendBytes(LexerCore *core, const uint8_t *bytes, size_t n)
{
    while (core->textLength + n > core->textCapacity)
        growText(core);
    std::memcpy(core->text + core->textLength, bytes, n);
    core->textLength += static_cast<uint32_t>(n);
    core->text[core->textLength] = '\0';
}

// Reads one character by the line rule: CR, LF, CR LF and LF CR each count as one
// line end and come back as LF; every other character advances the column by one.
// End of input moves nothing.
inline int readChar(LexerCore *core)
{
    const int c = getLexByte(core->input);
    if (c > '\r') {
        ++core->column;
        return c;
    }
    if (c == '\r' || c == '\n') {
        ++core->line;
        core->column = 0;
        const int pair = c == '\r' ? '\n' : '\r';
        if (peekLexByte(core->input) == pair)
            core->input->pushedBack = kNoChar;
        return '\n';
    }
    if (c != kEndOfInput)
        ++core->column;
    return c;
}

// The lookahead if there is one (clearing it), else the next character.
inline int takeChar(LexerCore *core)
{
    const int c = core->lookahead;
    if (c != kNoChar) {
        core->lookahead = kNoChar;
        return c;
    }
    return readChar(core);
}

// Character classes of bytes 0-255.
enum : uint8_t {
    kClassBlank = 1,      // 8, 9, 11, 12, 13, 32
    kClassDigit = 2,
    kClassHex = 4,
    kClassWordStart = 8,  // letters and '_'
    kClassWord = 16,      // letters, digits and '_'
};
extern const uint8_t kCharClass[256];

inline bool hasClass(int c, uint8_t mask)
{
    return c >= 0 && (kCharClass[c] & mask) != 0;
}

// A keyword list made a hash table when compiled (one table per tokenizer): a word's
// bucket comes from its length and its first and last characters, and each bucket
// chains its keywords, so a lookup costs a few operations and, for a word of a
// keyword's length and bucket, one comparison. Words longer than the longest keyword
// are answered at once.
struct Keyword {
    const char *text;
    int32_t code;
};

template <size_t N>
class KeywordTable {
public:
    constexpr explicit KeywordTable(const Keyword (&keywords)[N])
    {
        static_assert(N < 256, "entries are numbered in a byte");
        for (size_t i = 0; i < N; ++i) {
            Entry &e = entries_[i];
            e.text = keywords[i].text;
            e.code = keywords[i].code;
            while (e.text[e.length] != '\0')
                ++e.length;
            longest_ = e.length > longest_ ? e.length : longest_;
            const size_t b = bucket(e.text, e.length);
            e.next = head_[b];
            head_[b] = static_cast<uint8_t>(i + 1);
        }
    }

    // The code of a word (exact, case-sensitive), or otherwise when it is no keyword.
    int32_t find(const char *word, size_t length, int32_t otherwise) const
    {
        if (length == 0 || length > longest_)
            return otherwise;
        for (uint8_t i = head_[bucket(word, length)]; i != 0;) {
            const Entry &e = entries_[i - 1];
            if (e.length == length && sameText(e.text, word, length))
                return e.code;
            i = e.next;
        }
        return otherwise;
    }

private:
    static constexpr size_t kBuckets = 128;

    struct Entry {
        const char *text = nullptr;
        int32_t code = 0;
        uint8_t length = 0;
        uint8_t next = 0;  // the entry after this one in its bucket, numbered from 1; 0 for none
    };

    static constexpr size_t bucket(const char *word, size_t length)
    {
        return (length * 7 + static_cast<unsigned char>(word[0]) * 3 +
                static_cast<unsigned char>(word[length - 1])) & (kBuckets - 1);
    }

    // Keywords are short: a few loads of fixed size, the first and the last bytes
    // overlapping, beat a call of memcmp (a fixed-size memcpy is one load).
    template <class Word>
    static bool sameAt(const char *a, const char *b, size_t at)
    {
        Word x, y;
        std::memcpy(&x, a + at, sizeof x);
        std::memcpy(&y, b + at, sizeof y);
        return x == y;
    }

    static bool sameText(const char *a, const char *b, size_t length)
    {
        if (length >= 8) {
            for (size_t i = 0; i + 8 < length; i += 8) {
                if (!sameAt<uint64_t>(a, b, i))
                    return false;
            }
            return sameAt<uint64_t>(a, b, length - 8);
        }
        if (length >= 4)
            return sameAt<uint32_t>(a, b, 0) && sameAt<uint32_t>(a, b, length - 4);
        if (length >= 2)
            return sameAt<uint16_t>(a, b, 0) && sameAt<uint16_t>(a, b, length - 2);
        return length == 0 || a[0] == b[0];
    }

    Entry entries_[N] = {};
    uint8_t head_[kBuckets] = {};  // the first entry of each bucket, numbered from 1; 0 for none
    size_t longest_ = 0;
};

// Scanners; each starts on the token's first character (already taken) and leaves
// the text, the lookahead and, for numbers, the value set.
// A string: reads through the closing quote (or end of input); escapes resolved.
int32_t scanString(LexerCore *core);
// A number starting with '+', '-' or a digit; returns its code (a sign with nothing
// numeric after it gives the sign's own code).
int32_t scanNumber(LexerCore *core, int first);
// The longest run of letters, digits and '_' starting with first.
void scanWord(LexerCore *core, int first);

// The token that starts with c (already taken) under the rules the DBC and LDF
// tokenizers share: end of input and a zero byte (TOK_NUL) without text, a string, a
// number, a word (findKeyword gives a keyword's code, else the identifier's), or else
// the character itself, with itself as its text. Sets and returns the token code.
// Always inlined: it is the tokenizers' innermost step.
template <int32_t (*findKeyword)(const char *, size_t)>
[[gnu::always_inline]] inline int32_t scanToken(LexerCore *core, int c)
{
    int32_t code;
    if (c == kEndOfInput || c == 0) {
        clearText(core);
        code = c == 0 ? TOK_NUL : TOK_EOF;
    } else if (c == '"') {
        code = scanString(core);
    } else if (c == '+' || c == '-' || hasClass(c, kClassDigit)) {
        code = scanNumber(core, c);
    } else if (hasClass(c, kClassWordStart)) {
        scanWord(core, c);
        code = findKeyword(core->text, core->textLength);
    } else {
        clearText(core);
        appendText(core, c);
        code = c;
    }
    core->tokenCode = code;
    return code;
}

// An integer token's value: its digits' magnitude, saturating just above the 32-bit range
// as the digits come, then clamped to the token's 32-bit type.
constexpr uint64_t kMagnitudeCap = uint64_t{1} << 33;
inline uint64_t withDigit(uint64_t magnitude, unsigned radix, unsigned digit)
{
    const uint64_t value = magnitude * radix + digit;
    return value > kMagnitudeCap ? kMagnitudeCap : value;
}
inline uint32_t unsignedValue(uint64_t magnitude)
{
    return magnitude > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(magnitude);
}
inline int32_t signedValue(bool negative, uint64_t magnitude)
{
    if (negative)
        return magnitude >= uint64_t{1} << 31 ? INT32_MIN : -static_cast<int32_t>(magnitude);
    return magnitude > INT32_MAX ? INT32_MAX : static_cast<int32_t>(magnitude);
}

// Decimal text to double as strtod reads it in the C locale: the longest valid prefix,
// 0 when there is none, +-HUGE_VAL or 0 beyond the double range.
double decimalToDouble(const char *text, uint32_t length);

// A number token's value as a Lua number: floats as they are, signed values
// signed, unsigned values as unsigned 32-bit. Other tokens give 0.
double numberValue(const LexerCore *core);

inline bool isNumberToken(int32_t code)
{
    return code == TOK_FLOAT || code == TOK_SIGNED_INT || code == TOK_UNSIGNED_INT;
}

// Tolerant reading only, where a reader would otherwise reject the current token.
// Turns a number token into the word the file meant when it names something with
// leading digits (64_BIT_LE, 2017_5, 1BitDig): its text is decimal digits, perhaps
// ending in an exponent letter, and a letter or '_' follows right after it. The rest
// of the word is read; the caller gives the token its word code. False, changing
// nothing, in every other case.
bool extendNumberToWord(LexerCore *core);

// Tolerant reading only: turns the single-character token '.' into a number when a
// digit follows right after it (a scale written .25). Returns the new code
// (TOK_FLOAT, or TOK_BAD_NUMBER for .2.5), or 0, changing nothing, when no digit follows.
int32_t extendPointToNumber(LexerCore *core);

}  // namespace vexo::io
