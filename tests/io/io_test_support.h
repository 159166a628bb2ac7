// Helpers for the reader tests: temporary fixture files, a canonical one-line
// rendering of Lua values (so whole tables compare as compact strings) and a
// one-call import that yields either the rendered table or the error.
#pragma once

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

#include <lua.hpp>

#include "lex_rules.h"
#include "vexo/io.h"

namespace vexo::io::test {

inline std::u16string toU16(const std::string &utf8)
{
    // Test paths are ASCII or simple UTF-8 (up to three bytes per character).
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto b = static_cast<unsigned char>(utf8[i]);
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            i += 1;
        } else if ((b & 0xE0) == 0xC0) {
            out += static_cast<char16_t>(((b & 0x1F) << 6) | (utf8[i + 1] & 0x3F));
            i += 2;
        } else {
            out += static_cast<char16_t>(((b & 0x0F) << 12) | ((utf8[i + 1] & 0x3F) << 6) | (utf8[i + 2] & 0x3F));
            i += 3;
        }
    }
    return out;
}

// A file with the given bytes in the temporary directory, removed on destruction.
class TempFile {
public:
    explicit TempFile(const std::string &bytes, const std::string &suffix = ".dbc")
    {
        const char *dir = std::getenv("TMPDIR");
        std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/vexo_io_XXXXXX" + suffix;
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        const int fd = mkstemps(name.data(), static_cast<int>(suffix.size()));
        if (fd < 0)
            std::abort();
        path_ = name.data();
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                std::abort();
            done += static_cast<size_t>(n);
        }
        ::close(fd);
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
    if (std::isnan(v))
        return "nan";
    if (std::isinf(v))
        return v < 0 ? "-inf" : "inf";
    char buf[40];
    if (v == std::floor(v) && std::fabs(v) < 1e17) {
        std::snprintf(buf, sizeof buf, "%.0f", v);
        return buf;
    }
    for (int precision = 1; precision <= 17; ++precision) {
        std::snprintf(buf, sizeof buf, "%.*g", precision, v);
        if (std::strtod(buf, nullptr) == v)
            break;
    }
    return buf;
}

inline std::string quote(const char *s, size_t length)
{
    std::string out = "\"";
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

inline bool isName(const std::string &s)
{
    if (s.empty() || !(std::isalpha(static_cast<unsigned char>(s[0])) || s[0] == '_'))
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

// Renders the value at idx canonically: tables as {...} with the sequence 1..n
// positional when the table has no other number keys, other number keys as [k]=
// in numeric order, then string keys in byte order as name= or ["key"]=.
inline std::string renderLua(lua_State *L, int idx)
{
    idx = idx < 0 ? lua_gettop(L) + idx + 1 : idx;
    switch (lua_type(L, idx)) {
    case LUA_TNIL:
        return "nil";
    case LUA_TBOOLEAN:
        return lua_toboolean(L, idx) ? "true" : "false";
    case LUA_TNUMBER:
        return formatNumber(lua_tonumber(L, idx));
    case LUA_TSTRING: {
        size_t length = 0;
        const char *s = lua_tolstring(L, idx, &length);
        return quote(s, length);
    }
    case LUA_TTABLE:
        break;
    default:
        return lua_typename(L, lua_type(L, idx));
    }
    std::vector<std::pair<double, std::string>> numbered;
    std::vector<std::pair<std::string, std::string>> named;
    lua_pushnil(L);
    while (lua_next(L, idx) != 0) {
        std::string value = renderLua(L, -1);
        if (lua_type(L, -2) == LUA_TNUMBER) {
            numbered.emplace_back(lua_tonumber(L, -2), std::move(value));
        } else if (lua_type(L, -2) == LUA_TSTRING) {
            size_t length = 0;
            const char *k = lua_tolstring(L, -2, &length);
            named.emplace_back(std::string(k, length), std::move(value));
        } else {
            named.emplace_back(std::string("<") + luaL_typename(L, -2) + ">", std::move(value));
        }
        lua_pop(L, 1);
    }
    std::sort(numbered.begin(), numbered.end());
    std::sort(named.begin(), named.end());
    bool sequence = true;
    for (size_t i = 0; i < numbered.size(); ++i)
        sequence = sequence && numbered[i].first == static_cast<double>(i + 1);
    std::string out = "{";
    auto separate = [&out] {
        if (out.size() > 1)
            out += ',';
    };
    for (const auto &[key, value] : numbered) {
        separate();
        if (!sequence)
            out += "[" + formatNumber(key) + "]=";
        out += value;
    }
    for (const auto &[key, value] : named) {
        separate();
        out += isName(key) ? key + "=" : "[" + quote(key.data(), key.size()) + "]=";
        out += value;
    }
    return out + "}";
}

// What one call of a raw reader left: the rendered table, "error: <message>"
// or "code: <number>", or a description of an unexpected stack shape.
inline std::string describeResults(lua_State *L, int count)
{
    const int top = lua_gettop(L);
    std::string out;
    if (count == 1 && lua_istable(L, -1))
        out = renderLua(L, -1);
    else if (count == 2 && lua_isnil(L, -2) && lua_type(L, -1) == LUA_TSTRING)
        out = std::string("error: ") + lua_tostring(L, -1);
    else if (count == 2 && lua_isnil(L, -2) && lua_type(L, -1) == LUA_TNUMBER)
        out = "code: " + formatNumber(lua_tonumber(L, -1));
    else
        out = "unexpected results: " + std::to_string(count) + " of " + std::to_string(top);
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
        const std::string t = text();
        const std::string value = formatNumber(numberValue(&core()));
        switch (code) {
        case TOK_EOF: return "eof";
        case TOK_NUL: return "nul" + (t.empty() ? std::string() : "(" + t + ")");
        case TOK_STRING: return "str(" + quote(t.data(), t.size()) + ")";
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

// Every token of input up to the end, separated by blanks; with positions, as
// describe@line:column and the end too.
template <class Lexer>
std::string lexTokens(const std::string &input, bool positions = false, void (*setup)(Lexer *) = nullptr)
{
    Tokenizer<Lexer> lx(input);
    if (setup != nullptr)
        setup(lx.get());
    std::string out;
    for (int guard = 0; guard < 1000; ++guard) {
        const int32_t code = lx.next();
        if (code == TOK_EOF && !positions)
            break;
        out += (out.empty() ? "" : " ") + lx.describe() + (positions ? "@" + lx.position() : "");
        if (code == TOK_EOF)
            break;
    }
    return out;
}

enum class Format { kDbc, kLdf, kSym };

// A read through the entry with flags (SYM has none), of a file or of text in one.
inline int importRaw(lua_State *L, Format format, const VexoChar *path, uint32_t flags = 0)
{
    if (format == Format::kDbc)
        return Vexo_importRawDBCEx(L, path, flags);
    if (format == Format::kLdf)
        return Vexo_importRawLDFEx(L, path, flags);
    return Vexo_importRawSYM(L, path);
}

inline std::string importFile(Format format, const std::u16string &path)
{
    lua_State *L = luaL_newstate();
    std::string out = describeResults(L, importRaw(L, format, path.c_str()));
    lua_close(L);
    return out;
}

inline const char *suffixOf(Format format)
{
    return format == Format::kDbc ? ".dbc" : format == Format::kLdf ? ".ldf" : ".sym";
}

inline std::string importText(Format format, const std::string &text)
{
    TempFile file(text, suffixOf(format));
    return importFile(format, file.path16());
}

// What one tolerant read left: the rendered table and the warnings as "line:column
// text", or, when it did not give a table and a list, describeResults' rendering in
// table and no warnings.
struct TolerantRead {
    std::string table;
    std::vector<std::string> warnings;
};

inline TolerantRead describeTolerant(lua_State *L, int count)
{
    TolerantRead out;
    if (count != 2 || !lua_istable(L, -2) || !lua_istable(L, -1)) {
        out.table = describeResults(L, count);
        return out;
    }
    out.table = renderLua(L, -2);
    const int n = static_cast<int>(lua_objlen(L, -1));
    for (int i = 1; i <= n; ++i) {
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

inline TolerantRead importTolerantText(const std::string &text, bool ldf)
{
    const Format format = ldf ? Format::kLdf : Format::kDbc;
    TempFile file(text, suffixOf(format));
    lua_State *L = luaL_newstate();
    TolerantRead out = describeTolerant(L, importRaw(L, format, file.path16().c_str(), VEXO_IMPORT_TOLERANT));
    lua_close(L);
    return out;
}

}  // namespace vexo::io::test
