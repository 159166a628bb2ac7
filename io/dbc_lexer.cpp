// The DBC tokenizer's token loop and keyword table. Tokenizing never fails on
// content: malformed numbers, unterminated strings and stray bytes all become tokens
// and the reader decides what is an error.
#include "dbc_lexer.h"

namespace vexo::io {

namespace {

#define VEXO_DBC_KEYWORD(word) {#word, dbc::TOK_##word}
constexpr Keyword kKeywords[] = {
    VEXO_DBC_KEYWORD(VERSION), VEXO_DBC_KEYWORD(NS_), VEXO_DBC_KEYWORD(BO_), VEXO_DBC_KEYWORD(SG_),
    VEXO_DBC_KEYWORD(CM_), VEXO_DBC_KEYWORD(VAL_), VEXO_DBC_KEYWORD(BA_), VEXO_DBC_KEYWORD(BA_DEF_DEF_),
    VEXO_DBC_KEYWORD(BA_DEF_), VEXO_DBC_KEYWORD(CAT_DEF_), VEXO_DBC_KEYWORD(CAT_), VEXO_DBC_KEYWORD(BU_),
    VEXO_DBC_KEYWORD(VAL_TABLE_), VEXO_DBC_KEYWORD(BS_), VEXO_DBC_KEYWORD(EV_), VEXO_DBC_KEYWORD(INT),
    VEXO_DBC_KEYWORD(HEX), {"FLOAT", dbc::TOK_FLOAT_TYPE}, {"STRING", dbc::TOK_STRING_TYPE},
    VEXO_DBC_KEYWORD(ENUM),
};
#undef VEXO_DBC_KEYWORD
constexpr KeywordTable kKeywordTable(kKeywords);

}  // namespace

int32_t findDbcKeyword(const char *word, size_t length)
{
    return kKeywordTable.find(word, length, dbc::TOK_IDENTIFIER);
}

int32_t nextToken(DbcLexer *lexer)
{
    LexerCore *core = &lexer->core;
    core->tokenUnclosed = false;
    int c = takeChar(core);
    while (hasClass(c, kClassBlank) || (c == '\n' && !lexer->newlineMode)) {
        if (c == '\n')
            core->atLineStart = true;
        c = readChar(core);
    }
    core->tokenStartsLine = core->atLineStart;
    core->atLineStart = c == '\n';  // a line-end token (newline mode) ends its line

    core->tokenLine = core->line;
    // End of input is no character: report it just past the last one read.
    core->tokenColumn = c == kEndOfInput ? core->column + 1 : core->column;

    return scanToken<findDbcKeyword>(core, c);
}

void skipRestOfLine(DbcLexer *lexer)
{
    LexerCore *core = &lexer->core;
    int c = takeChar(core);
    while (c != '\n' && c != kEndOfInput)
        c = readChar(core);
    core->atLineStart = true;
}

void scanWordOnLine(DbcLexer *lexer)
{
    LexerCore *core = &lexer->core;
    int c = takeChar(core);
    while (hasClass(c, kClassBlank))
        c = readChar(core);
    if (hasClass(c, kClassWord)) {
        scanWord(core, c);
    } else {
        clearText(core);
        core->lookahead = c;
    }
}

}  // namespace vexo::io
