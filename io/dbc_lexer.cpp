// The DBC tokenizer's token loop and keyword lookup. Tokenizing never fails on
// content: malformed numbers, unterminated strings and stray bytes all become tokens
// and the reader decides what is an error.
#include "dbc_lexer.h"

#include <cstdlib>
#include <cstring>

namespace vexo::io {

namespace {

bool equals(const char *word, const char *keyword, size_t length)
{
    return std::memcmp(word, keyword, length) == 0;
}

}  // namespace

int32_t findDbcKeyword(const char *w, size_t length)
{
    using namespace dbc;
    switch (length) {
    case 3:
        if (w[2] == '_') {
            if (equals(w, "BO_", 3)) return TOK_BO_;
            if (equals(w, "SG_", 3)) return TOK_SG_;
            if (equals(w, "BA_", 3)) return TOK_BA_;
            if (equals(w, "CM_", 3)) return TOK_CM_;
            if (equals(w, "BU_", 3)) return TOK_BU_;
            if (equals(w, "NS_", 3)) return TOK_NS_;
            if (equals(w, "BS_", 3)) return TOK_BS_;
            if (equals(w, "EV_", 3)) return TOK_EV_;
        } else {
            if (equals(w, "INT", 3)) return TOK_INT;
            if (equals(w, "HEX", 3)) return TOK_HEX;
        }
        break;
    case 4:
        if (equals(w, "VAL_", 4)) return TOK_VAL_;
        if (equals(w, "CAT_", 4)) return TOK_CAT_;
        if (equals(w, "ENUM", 4)) return TOK_ENUM;
        break;
    case 5:
        if (equals(w, "FLOAT", 5)) return TOK_FLOAT_TYPE;
        break;
    case 6:
        if (equals(w, "STRING", 6)) return TOK_STRING_TYPE;
        break;
    case 7:
        if (equals(w, "BA_DEF_", 7)) return TOK_BA_DEF_;
        if (equals(w, "VERSION", 7)) return TOK_VERSION;
        break;
    case 8:
        if (equals(w, "CAT_DEF_", 8)) return TOK_CAT_DEF_;
        break;
    case 10:
        if (equals(w, "VAL_TABLE_", 10)) return TOK_VAL_TABLE_;
        break;
    case 11:
        if (equals(w, "BA_DEF_DEF_", 11)) return TOK_BA_DEF_DEF_;
        break;
    default:
        break;
    }
    return TOK_IDENTIFIER;
}

HRESULT createDbcLexerOnInput(LexInput *input, DbcLexer **lexer)
{
    if (input == nullptr || lexer == nullptr) {
        closeLexInput(input);
        return E_INVALIDARG;
    }
    auto *lx = static_cast<DbcLexer *>(std::malloc(sizeof(DbcLexer)));
    if (lx == nullptr || !initLexerCore(&lx->core, input)) {
        std::free(lx);
        closeLexInput(input);
        return E_INVALIDARG;
    }
    lx->newlineMode = false;
    *lexer = lx;
    return S_OK;
}

HRESULT createDbcLexer(const VexoChar *path, DbcLexer **lexer)
{
    if (lexer == nullptr)
        return E_INVALIDARG;
    LexInput *input = nullptr;
    const HRESULT hr = openLexInput(path, &input);
    if (hr != S_OK)
        return hr;
    return createDbcLexerOnInput(input, lexer);
}

void destroyDbcLexer(DbcLexer *lexer)
{
    if (lexer == nullptr)
        return;
    freeLexerCore(&lexer->core);
    std::free(lexer);
}

int32_t nextDbcToken(DbcLexer *lexer)
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
        code = findDbcKeyword(core->text, core->textLength);
    } else {
        clearText(core);
        appendText(core, c);
        code = c;
    }
    core->tokenCode = code;
    return code;
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
