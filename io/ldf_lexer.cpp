// The LDF tokenizer's token loop, comment skipping and keyword table. Tokenizing
// never fails on content: malformed numbers, unterminated strings and comments, and
// stray bytes all become tokens or end of input, and the reader decides what is an error.
#include "ldf_lexer.h"

namespace vexo::io {

namespace {

#define VEXO_LDF_KEYWORD(word) {#word, ldf::TOK_##word}
// ORDER LDF_KEYWORD
constexpr Keyword kKeywords[] = {
    VEXO_LDF_KEYWORD(LIN_description_file), VEXO_LDF_KEYWORD(LIN_protocol_version),
    VEXO_LDF_KEYWORD(LIN_language_version), VEXO_LDF_KEYWORD(LIN_speed),
    VEXO_LDF_KEYWORD(kbps), VEXO_LDF_KEYWORD(Channel_name),
    VEXO_LDF_KEYWORD(ms), VEXO_LDF_KEYWORD(Nodes),
    VEXO_LDF_KEYWORD(Diagnostic_addresses), VEXO_LDF_KEYWORD(Master),
    VEXO_LDF_KEYWORD(Slaves), VEXO_LDF_KEYWORD(composite),
    VEXO_LDF_KEYWORD(configuration), VEXO_LDF_KEYWORD(Signals),
    VEXO_LDF_KEYWORD(Diagnostic_signals), VEXO_LDF_KEYWORD(Frames),
    VEXO_LDF_KEYWORD(Sporadic_frames), VEXO_LDF_KEYWORD(Event_triggered_frames),
    VEXO_LDF_KEYWORD(Diagnostic_frames), VEXO_LDF_KEYWORD(Node_attributes),
    VEXO_LDF_KEYWORD(LIN_protocol), VEXO_LDF_KEYWORD(configured_NAD),
    VEXO_LDF_KEYWORD(initial_NAD), VEXO_LDF_KEYWORD(product_id),
    VEXO_LDF_KEYWORD(response_error), VEXO_LDF_KEYWORD(fault_state_signals),
    VEXO_LDF_KEYWORD(P2_min), VEXO_LDF_KEYWORD(ST_min),
    VEXO_LDF_KEYWORD(N_As_timeout), VEXO_LDF_KEYWORD(N_Cr_timeout),
    VEXO_LDF_KEYWORD(configurable_frames), VEXO_LDF_KEYWORD(Schedule_tables),
    VEXO_LDF_KEYWORD(delay), VEXO_LDF_KEYWORD(Signal_groups),
    VEXO_LDF_KEYWORD(Signal_encoding_types), VEXO_LDF_KEYWORD(Signal_representation),
    VEXO_LDF_KEYWORD(AssignNAD), VEXO_LDF_KEYWORD(ConditionalChangeNAD),
    VEXO_LDF_KEYWORD(DataDump), VEXO_LDF_KEYWORD(SaveConfiguration),
    VEXO_LDF_KEYWORD(AssignFrameIdRange), VEXO_LDF_KEYWORD(FreeFormat),
    VEXO_LDF_KEYWORD(AssignFrameId), VEXO_LDF_KEYWORD(logical_value),
    VEXO_LDF_KEYWORD(physical_value), VEXO_LDF_KEYWORD(bcd_value),
    VEXO_LDF_KEYWORD(ascii_value),
};
#undef VEXO_LDF_KEYWORD
constexpr KeywordTable kKeywordTable(kKeywords);

// Skips a comment whose "//" or "/*" has been read; returns the character after it.
// A line comment ends with its line end, a block comment with the first "*/" whose
// '*' is not the opening one.
int skipComment(LexerCore *core, bool block)
{
    int c = readChar(core);
    if (!block) {
        while (c != '\n' && c != kEndOfInput)
            c = readChar(core);
        return c;  // the line end is white space to the caller
    }
    int previous = kNoChar;
    while (c != kEndOfInput && !(previous == '*' && c == '/')) {
        previous = c;
        c = readChar(core);
    }
    if (c == kEndOfInput) {
        core->tokenUnclosed = true;
        return c;
    }
    return readChar(core);
}

}  // namespace

int32_t findLdfKeyword(const char *word, size_t length)
{
    return kKeywordTable.find(word, length, ldf::TOK_IDENTIFIER);
}

int32_t nextToken(LdfLexer *lexer)
{
    LexerCore *core = &lexer->core;
    core->tokenUnclosed = false;
    int c = takeChar(core);
    for (;;) {
        while (hasClass(c, kClassBlank) || c == '\n') {
            if (c == '\n')
                core->atLineStart = true;
            c = readChar(core);
        }
        core->tokenLine = core->line;
        // End of input is no character: report it just past the last one read.
        core->tokenColumn = c == kEndOfInput ? core->column + 1 : core->column;
        if (c != '/')
            break;
        const int after = readChar(core);
        if (after != '/' && after != '*') {
            core->lookahead = after;
            break;
        }
        c = skipComment(core, after == '*');
    }

    core->tokenStartsLine = core->atLineStart;
    core->atLineStart = false;

    if (c == '/') {  // a slash that starts no comment: a token without text
        clearText(core);
        return core->tokenCode = '/';
    }
    return scanToken<findLdfKeyword>(core, c);
}

}  // namespace vexo::io
