// Helpers for the reader tests: temporary fixture files, a canonical one-line rendering of Lua values (so whole tables
// compare as compact strings) and a one-call import that yields either the rendered table or the error.
#pragma once

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <lua.hpp>

#include "lex_rules.h"
#include "vexo/io.h"

namespace vexo::io::test {

// Test paths are ASCII or UTF-8 of up to three bytes per character.
inline std::u16string toU16(const std::string &utf8)
{
    std::u16string out;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        const int more = lead < 0x80 ? 0 : lead < 0xE0 ? 1 : 2;  // bytes after the lead byte
        auto c = static_cast<char16_t>(lead & (0xFF >> (more == 0 ? 1 : more + 2)));
        for (int k = 0; k < more; ++k)
            c = static_cast<char16_t>(c << 6 | (utf8[++i] & 0x3F));
        out += c;
    }
    return out;
}

// A table row: what it shows, its input and the result wanted; checkRows compares f(input) with prefix + want for each.
struct Row { const char *what; std::string input, want; };

template <class F>
void checkRows(F f, const std::vector<Row> &rows, const std::string &prefix = "")
{
    for (const Row &r : rows)
        EXPECT_EQ(f(r.input), prefix + r.want) << r.what;
}

// Rows of an input and the result wanted after prefix, for rows whose result says
// what they are about (an error message, a token list).
template <class F>
void checkPairs(F f, const std::vector<std::pair<std::string, std::string>> &rows, const std::string &prefix = "")
{
    for (const auto &[input, want] : rows)
        EXPECT_EQ(f(input), prefix + want) << input;
}

// A file with the given bytes in the temporary directory, removed on destruction.
class TempFile {
public:
    explicit TempFile(const std::string &bytes, const std::string &suffix = ".dbc")
    {
        const char *dir = std::getenv("TMPDIR");
        path_ = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/vexo_io_XXXXXX" + suffix;
        const int fd = mkstemps(path_.data(), static_cast<int>(suffix.size()));
        FILE *f = fd < 0 ? nullptr : fdopen(fd, "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
            std::abort();
    }
    ~TempFile() { std::remove(path_.c_str()); }
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    const std::string &path() const { return path_; }
    std::u16string path16() const { return toU16(path_); }
private:
    std::string path_;
};

// Shortest text that reads back as the same double; integers without a point.
inline std::string formatNumber(double v)
{
    if (std::isnan(v) || std::isinf(v))
        return std::isnan(v) ? "nan" : v < 0 ? "-inf" : "inf";
    char buf[40];
    if (v == std::floor(v) && std::fabs(v) < 1e17)
        return (std::snprintf(buf, sizeof buf, "%.0f", v), buf);
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, v);
        if (std::strtod(buf, nullptr) == v)
            break;
    }
    return buf;
}

inline std::string quote(const std::string &s)
{
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        char buf[8];
        if (c == '"' || c == '\\')
            out += std::string("\\") + ch;
        else if (c == '\n')
            out += "\\n";
        else if (c < 0x20 || c >= 0x7F)
            out += (std::snprintf(buf, sizeof buf, "\\x%02X", c), buf);
        else
            out += ch;
    }
    return out + "\"";
}

inline std::string luaString(lua_State *L, int idx)
{
    size_t length = 0;
    const char *s = lua_tolstring(L, idx, &length);
    return std::string(s, length);
}

inline bool isName(const std::string &s)
{
    const auto word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; };
    return !s.empty() && !std::isdigit(static_cast<unsigned char>(s[0])) && std::all_of(s.begin(), s.end(), word);
}

// Renders the value at idx canonically: tables as {...} with the sequence 1..n positional when the table has no other
// number keys, other number keys as [k]= in numeric order, then string keys in byte order as name= or ["key"]=.
inline std::string renderLua(lua_State *L, int idx)
{
    idx = idx < 0 ? lua_gettop(L) + idx + 1 : idx;
    switch (lua_type(L, idx)) {
    case LUA_TNIL: return "nil";
    case LUA_TBOOLEAN: return lua_toboolean(L, idx) ? "true" : "false";
    case LUA_TNUMBER: return formatNumber(lua_tonumber(L, idx));
    case LUA_TSTRING: return quote(luaString(L, idx));
    case LUA_TTABLE: break;
    default: return lua_typename(L, lua_type(L, idx));
    }
    std::vector<std::pair<double, std::string>> numbered;
    std::vector<std::pair<std::string, std::string>> named;
    lua_pushnil(L);
    for (; lua_next(L, idx) != 0; lua_pop(L, 1)) {
        std::string value = renderLua(L, -1);
        if (lua_type(L, -2) == LUA_TNUMBER)
            numbered.emplace_back(lua_tonumber(L, -2), std::move(value));
        else if (lua_type(L, -2) == LUA_TSTRING)
            named.emplace_back(luaString(L, -2), std::move(value));
        else
            named.emplace_back(std::string("<") + luaL_typename(L, -2) + ">", std::move(value));
    }
    std::sort(numbered.begin(), numbered.end());
    std::sort(named.begin(), named.end());
    bool sequence = true;
    for (size_t i = 0; i < numbered.size(); ++i)
        sequence = sequence && numbered[i].first == static_cast<double>(i + 1);
    std::string out;
    for (const auto &[key, value] : numbered)
        out += "," + (sequence ? std::string() : "[" + formatNumber(key) + "]=") + value;
    for (const auto &[key, value] : named)
        out += "," + (isName(key) ? key : "[" + quote(key) + "]") + "=" + value;
    return "{" + (out.empty() ? out : out.substr(1)) + "}";
}

// What one call of a raw reader left: the rendered table, "error: <message>"
// or "code: <number>", or a description of an unexpected stack shape.
inline std::string describeResults(lua_State *L, int count)
{
    const int top = lua_gettop(L);
    const bool failed = count == 2 && lua_isnil(L, -2);
    const std::string out = count == 1 && lua_istable(L, -1) ? renderLua(L, -1)
        : failed && lua_type(L, -1) == LUA_TSTRING ? std::string("error: ") + lua_tostring(L, -1)
        : failed && lua_type(L, -1) == LUA_TNUMBER ? "code: " + formatNumber(lua_tonumber(L, -1))
        : "unexpected results: " + std::to_string(count) + " of " + std::to_string(top);
    lua_settop(L, 0);
    return out;
}

// A tokenizer over a fixture file, owning both.
template <class Lexer>
class Tokenizer {
public:
    explicit Tokenizer(const std::string &text) : file_(text)
    {
        if (createLexer(file_.path16().c_str(), &lexer_) != S_OK)
            std::abort();
    }
    ~Tokenizer() { destroyLexer(lexer_); }
    Tokenizer(const Tokenizer &) = delete;
    Tokenizer &operator=(const Tokenizer &) = delete;

    Lexer *get() const { return lexer_; }
    const LexerCore &core() const { return lexer_->core; }
    int32_t next() { return nextToken(lexer_); }
    std::string text() const { return std::string(core().text, core().textLength); }
    std::string position() const { return std::to_string(core().tokenLine) + ":" + std::to_string(core().tokenColumn); }

    // The current token as kind(text)=value: eof, nul, str("..."), int/uint/float(text)=value,
    // bad(text), id(text), kw(text), ':' for a character token whose text is itself, else char(code).
    std::string describe() const
    {
        const int32_t code = core().tokenCode;
        const std::string t = text(), value = formatNumber(numberValue(&core()));
        switch (code) {
        case TOK_EOF: return "eof";
        case TOK_NUL: return "nul" + (t.empty() ? std::string() : "(" + t + ")");
        case TOK_STRING: return "str(" + quote(t) + ")";
        case TOK_SIGNED_INT: return "int(" + t + ")=" + value;
        case TOK_UNSIGNED_INT: return "uint(" + t + ")=" + value;
        case TOK_FLOAT: return "float(" + t + ")=" + value;
        case TOK_BAD_NUMBER: return "bad(" + t + ")";
        default: break;
        }
        if (code == Lexer::kIdentifier)
            return "id(" + t + ")";
        if (code >= 400)
            return "kw(" + t + ")";
        if (code >= 0x21 && code < 0x7F && t == std::string(1, static_cast<char>(code)))
            return "'" + t + "'";
        return "char(" + std::to_string(code) + ")";
    }

private:
    TempFile file_;
    Lexer *lexer_ = nullptr;
};

// Every token of input up to the end, separated by blanks; with positions, as describe@line:column and the end too.
template <class Lexer>
std::string lexTokens(const std::string &input, bool positions = false, void (*setup)(Lexer *) = nullptr)
{
    Tokenizer<Lexer> lx(input);
    if (setup != nullptr)
        setup(lx.get());
    std::string out;
    bool end = false;
    for (int n = 0; !end && n < 1000; ++n) {
        end = lx.next() == TOK_EOF;
        if (!end || positions)
            out += (out.empty() ? "" : " ") + lx.describe() + (positions ? "@" + lx.position() : "");
    }
    return out;
}

enum class Format { kDbc, kLdf, kSym };

inline const char *suffixOf(Format format)
{
    return format == Format::kDbc ? ".dbc" : format == Format::kLdf ? ".ldf" : ".sym";
}

// A read through the entry with flags (SYM has none).
inline int importRaw(lua_State *L, Format format, const VexoChar *path, uint32_t flags = 0)
{
    return format == Format::kDbc ? Vexo_importRawDBCEx(L, path, flags)
           : format == Format::kLdf ? Vexo_importRawLDFEx(L, path, flags) : Vexo_importRawSYM(L, path);
}

// A strict read of a file, or of text in one, as describeResults renders it.
inline std::string importFile(Format format, const std::u16string &path)
{
    lua_State *L = luaL_newstate();
    const std::string out = describeResults(L, importRaw(L, format, path.c_str()));
    lua_close(L);
    return out;
}

inline std::string importText(Format format, const std::string &text)
{
    return importFile(format, TempFile(text, suffixOf(format)).path16());
}

// What one tolerant read left: the rendered table and the warnings as "line:column text", or, when it did not give a
// table and a list, describeResults' rendering in table and no warnings.
struct TolerantRead { std::string table; std::vector<std::string> warnings; };

inline TolerantRead describeTolerant(lua_State *L, int count)
{
    if (count != 2 || !lua_istable(L, -2) || !lua_istable(L, -1))
        return {describeResults(L, count), {}};
    TolerantRead out{renderLua(L, -2), {}};
    for (int i = 1; i <= static_cast<int>(lua_objlen(L, -1)); ++i) {
        lua_rawgeti(L, -1, i);
        lua_getfield(L, -1, "line");
        lua_getfield(L, -2, "column");
        lua_getfield(L, -3, "text");
        out.warnings.push_back(formatNumber(lua_tonumber(L, -3)) + ":" + formatNumber(lua_tonumber(L, -2)) + " " +
                               (lua_isstring(L, -1) ? lua_tostring(L, -1) : "(no text)"));
        lua_pop(L, 4);
    }
    lua_settop(L, 0);
    return out;
}

}  // namespace vexo::io::test
