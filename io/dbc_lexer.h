// The DBC tokenizer: a pull tokenizer over the shared input and rules with the DBC
// keyword table, a newline mode for receiver lists and a skip-rest-of-line operation
// for the statements the reader passes over.
#pragma once

#include <cstddef>
#include <cstdint>

#include "lex_rules.h"

namespace vexo::io {

namespace dbc {
// Keyword codes; 400 to 413 inclusive (VERSION to VAL_TABLE_ and TOK_IDENTIFIER) are
// the name-like range that the NS_ statement skips.
constexpr int32_t TOK_VERSION = 400;
constexpr int32_t TOK_NS_ = 401;
constexpr int32_t TOK_BO_ = 402;
constexpr int32_t TOK_SG_ = 403;
constexpr int32_t TOK_CM_ = 404;
constexpr int32_t TOK_VAL_ = 405;
constexpr int32_t TOK_BA_ = 406;
constexpr int32_t TOK_BA_DEF_DEF_ = 407;
constexpr int32_t TOK_BA_DEF_ = 408;
constexpr int32_t TOK_CAT_DEF_ = 409;
constexpr int32_t TOK_CAT_ = 410;
constexpr int32_t TOK_BU_ = 411;
constexpr int32_t TOK_VAL_TABLE_ = 412;
constexpr int32_t TOK_IDENTIFIER = 413;
constexpr int32_t TOK_BS_ = 414;
constexpr int32_t TOK_EV_ = 415;
constexpr int32_t TOK_INT = 416;
constexpr int32_t TOK_HEX = 417;
constexpr int32_t TOK_FLOAT_TYPE = 418;  // the keyword FLOAT; TOK_FLOAT is a float number
constexpr int32_t TOK_STRING_TYPE = 419; // the keyword STRING; TOK_STRING is a string constant
constexpr int32_t TOK_ENUM = 420;
}  // namespace dbc

struct DbcLexer {
    static constexpr int32_t kIdentifier = dbc::TOK_IDENTIFIER;
    static constexpr bool kNestsBraces = false;  // tolerant reading counts no brace depth
    LexerCore core;
    bool newlineMode = false;  // a line end is a token (code 10) instead of white space
};

// Reads the next token; its code is returned and left in core.tokenCode with its
// text, value, line and column.
int32_t nextToken(DbcLexer *lexer);

inline void setNewlineMode(DbcLexer *lexer, bool on)
{
    lexer->newlineMode = on;
}

// Skips everything up to and including the next line end.
void skipRestOfLine(DbcLexer *lexer);

// Reads the word (letters, digits and '_') that follows on the current line after
// blanks into the token text, which is empty when none does; never reads past the
// line end, so a skipRestOfLine after it skips what it would have skipped alone. The
// token code stays. Names statements that are skipped line by line.
void scanWordOnLine(DbcLexer *lexer);

// The keyword code of a word, or dbc::TOK_IDENTIFIER (exact, case-sensitive).
int32_t findDbcKeyword(const char *word, size_t length);

}  // namespace vexo::io
