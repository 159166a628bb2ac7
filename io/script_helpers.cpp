// Helpers for the import and export scripts that plain Lua does slowly or cannot do:
// text conversion between UTF-8 and the UTF-16 strings the module's methods take, the
// texts of elements set from UTF-8, the readers the module table does not offer (SYM)
// and the DBC model builder. A script gets them with require "Vexo.native" (Lua finds luaopen_Vexo_native in
// Vexo.so; the library's own script states have it preloaded).
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <unistd.h>

#include <lua.hpp>

#include "binding.h"
#include "dbc_build.h"
#include "dbc_records.h"
#include "lex_input.h"
#include "node_classes.h"
#include "text.h"
#include "vexo/io.h"
#include "vexo/lua_module.h"
#include "vexo/model.h"

namespace vexo::io {

namespace {

// The functions keep their work in Lua's memory or on the C stack: they may raise Lua's
// memory error at any push, and nothing of theirs must be left behind when they do.
// Lua 5.1 hashes a string of 32 bytes or more from every n-th byte only (n = length / 32
// + 1), counting back from its last byte. UTF-16 text sampled that way shows only some
// of its characters (or only its zero high bytes), so many texts that differ elsewhere
// would share one hash chain, which every new string walks. A terminated text of 32
// bytes or more therefore gets a tail after its terminating unit: four bytes of a hash
// of the whole text at the places Lua samples, then a final zero unit (the module's
// methods read up to the first zero unit and want the last unit to be zero). Equal
// texts get equal tails.
uint32_t textHash(const unsigned char *bytes, size_t length)
{
    uint64_t hash = 0x9E3779B97F4A7C15u ^ length;
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, bytes + i, 8);
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDu;
        hash ^= hash >> 29;
    }
    uint64_t last = 0;
    std::memcpy(&last, bytes + i, length - i);
    hash = (hash ^ last) * 0xFF51AFD7ED558CCDu;
    return static_cast<uint32_t>(hash ^ (hash >> 32));
}

// The length of a terminated text of the given bytes with its tail (none below 32): the
// smallest length, in whole units, with room for the terminating unit, the four hash
// bytes step = length / 32 + 1 apart and a final zero unit. (No shorter length than
// the first guess can do, as the step only grows with the length.)
size_t terminatedLength(size_t bytes)
{
    const size_t unit = sizeof(VexoChar);
    size_t length = bytes + unit;
    if (length < 32)
        return length;
    const size_t least = bytes + unit + 1 + 4 * ((length >> 5) + 1);
    length += unit * ((least - length + unit - 1) / unit);
    while (length < bytes + unit + 1 + 4 * ((length >> 5) + 1))
        length += unit;
    return length;
}

// utf16(text [, terminated]): the UTF-16LE units of UTF-8 text, with a terminating zero
// unit unless terminated is false. A byte that does not start a valid UTF-8 sequence
// becomes the unit of the same value; the text ends at its first zero byte. A terminated
// text (an argument for the module's methods, which read up to the first zero unit) of
// 32 bytes or more carries a tail after that unit (see textHash).
int native_utf16(lua_State *L)
{
    size_t inBytes = 0;
    const auto *text = reinterpret_cast<const unsigned char *>(luaL_checklstring(L, 1, &inBytes));
    const bool terminated = lua_isnone(L, 2) || lua_toboolean(L, 2);
    inBytes = strnlen(reinterpret_cast<const char *>(text), inBytes);
    // Room for every byte as one unit, the terminator and the longest tail. Short texts
    // are widened on the C stack; longer ones in a Lua userdata, which Lua frees.
    // (Each byte gives at most one unit, and terminatedLength grows with its argument.)
    const size_t capacity = terminatedLength(2 * inBytes);
    unsigned char local[1024];
    unsigned char *out = capacity <= sizeof local ? local : static_cast<unsigned char *>(lua_newuserdata(L, capacity));
    size_t n = 0;
    auto put = [&out, &n](uint32_t unit) {
        out[n++] = static_cast<unsigned char>(unit & 0xFF);
        out[n++] = static_cast<unsigned char>(unit >> 8);
    };
    for (size_t i = 0; i < inBytes;) {
        // Runs of ASCII eight bytes at a time.
        uint64_t word;
        if (i + 8 <= inBytes && (std::memcpy(&word, text + i, 8), (word & 0x8080808080808080u) == 0)) {
            for (int k = 0; k < 8; ++k) {
                out[n + 2 * k] = text[i + k];
                out[n + 2 * k + 1] = 0;
            }
            n += 16;
            i += 8;
            continue;
        }
        if (text[i] < 0x80) {
            put(text[i++]);
            continue;
        }
        size_t length = 0;
        VexoChar units[2];
        const size_t count = core::encodeUtf16(core::nextCodePoint(text + i, &length), units);
        i += length;
        for (size_t k = 0; k < count; ++k)
            put(units[k]);
    }
    if (terminated) {
        // The zero unit, then (from 32 bytes on) zeros with the four hash bytes at the
        // places Lua samples: 1 to 4 steps back from the last byte.
        const size_t size = n;
        const size_t length = terminatedLength(size);
        std::memset(out + size, 0, length - size);
        if (length > size + sizeof(VexoChar)) {
            const size_t step = (length >> 5) + 1;
            uint32_t hash = textHash(out, size);
            for (size_t back = 4 * step; back >= step; back -= step) {
                out[length - 1 - back] = static_cast<unsigned char>(hash & 0xFF);
                hash >>= 8;
            }
        }
        n = length;
    }
    lua_pushlstring(L, reinterpret_cast<const char *>(out), n);
    return 1;
}

// utf8(text): UTF-8 of UTF-16LE text, which ends at its first zero unit if it has one
// (so a terminated argument from utf16 gives its text back); an unpaired surrogate is
// written as its three-byte form.
int native_utf8(lua_State *L)
{
    size_t bytes = 0;
    const auto *text = reinterpret_cast<const unsigned char *>(luaL_checklstring(L, 1, &bytes));
    const size_t units = bytes / 2;
    auto unitAt = [text](size_t i) { return static_cast<uint32_t>(text[2 * i] | (text[2 * i + 1] << 8)); };
    luaL_Buffer buffer;
    luaL_buffinit(L, &buffer);
    for (size_t i = 0; i < units && unitAt(i) != 0; ++i) {
        uint32_t cp = unitAt(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units && unitAt(i + 1) >= 0xDC00 && unitAt(i + 1) <= 0xDFFF)
            cp = 0x10000 + ((cp - 0xD800) << 10) + (unitAt(++i) - 0xDC00);
        char utf8[4];
        luaL_addlstring(&buffer, utf8, core::encodeUtf8(cp, utf8));
    }
    luaL_pushresult(&buffer);
    return 1;
}

// importSYM(path): the SYM reader (Vexo_importRawSYM) on a UTF-8 path: the table, or
// nil and the reader's message or result code.
int native_importSYM(lua_State *L)
{
    const char *path = luaL_checkstring(L, 1);
    VexoChar *wide = core::widenText(path);
    if (wide == nullptr)
        return luaL_error(L, "not enough memory");
    // The reader's results may raise a memory error: the path lives on in a Lua string.
    lua_pushlstring(L, reinterpret_cast<const char *>(wide), (core::unitLength(wide) + 1) * sizeof(VexoChar));
    std::free(wide);
    const auto *name = reinterpret_cast<const VexoChar *>(lua_tostring(L, -1));
    const int top = lua_gettop(L);
    const int results = Vexo_importRawSYM(L, name);
    lua_remove(L, top);
    return results;
}

// label(db, node, shortName [, description [, longName]]): the element's texts from UTF-8
// (language 0), set through the C interface. The module's setters give each text back
// as a new Lua string, and Lua 5.1 interns every string: many UTF-16 texts of one
// length share a hash chain, which each new one walks. nil leaves a text as it is, and
// so does "" for the description and the long name. Raises "not enough memory" and, for
// another failure, its result code.
int native_label(lua_State *L)
{
    VexoNode *database = lua::checkDatabase(L, 1);
    VexoNode *node = lua::checkNode(L, 2, core::ElementDetail::kCode);
    for (int index = 3; index <= 5; ++index) {
        if (lua_isnoneornil(L, index))
            continue;
        const char *text = luaL_checkstring(L, index);
        if (index > 3 && *text == '\0')
            continue;
        VexoChar *wide = core::widenText(text);
        if (wide == nullptr)
            return luaL_error(L, "not enough memory");
        const HRESULT result = index == 3   ? Vexo_setShortName(database, node, wide)
                               : index == 4 ? Vexo_setDescription(database, node, 0, wide)
                                            : Vexo_setLongName(database, node, 0, wide);
        std::free(wide);
        if (result == E_OUTOFMEMORY)
            return luaL_error(L, "not enough memory");
        if (result != S_OK)
            return luaL_error(L, "the texts of an element could not be set (0x%08X)", static_cast<unsigned>(result));
    }
    return 0;
}

// readDBC(path, tolerant): the DBC reader's records of the file at a UTF-16 path, read
// tolerantly when asked; or nil and the reader's message or result code, as
// Vexo.importDBC gives them.
int native_readDBC(lua_State *L)
{
    const VexoChar *path = lua::toWideArgument(L, 1);
    return readDbcRecords(L, path, lua_toboolean(L, 2) ? VEXO_IMPORT_TOLERANT : 0);
}

// readText(path): the whole file at a UTF-8 path as a userdata of its bytes and a zero
// byte after them (as a Lua string has), read in one piece; nil for a file whose size is
// not known beforehand (a pipe, a device, an empty file), one that changed size while
// read, or one that cannot be read (the caller then reads it as a string). Reading it as
// a Lua string ("*a", or a count) builds the string from pieces and leaves garbage of
// several times its size behind.
int native_readText(lua_State *L)
{
    const char *path = luaL_checkstring(L, 1);
    struct stat status {};
    if (stat(path, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0
        || static_cast<uint64_t>(status.st_size) >= SIZE_MAX)
        return 0;
    const auto size = static_cast<size_t>(status.st_size);
    auto *bytes = static_cast<char *>(lua_newuserdata(L, size + 1));  // before the file opens: it may raise
    bytes[size] = '\0';
    // Read only while it is still that regular file (not a FIFO put in its place
    // meanwhile), of the size found.
    struct stat opened {};
    const int file = openRegularFile(path, &opened);
    if (file < 0)
        return 0;
    bool whole = opened.st_size == status.st_size;
    size_t got = 0;
    while (whole && got < size) {
        const ssize_t n = read(file, bytes + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        whole = n > 0;
        got += whole ? static_cast<size_t>(n) : 0;
    }
    char more = 0;
    whole = whole && read(file, &more, 1) == 0;  // and nothing after
    close(file);
    return whole ? 1 : 0;
}

// countDBC(records): the frames, signals and ECUs (those BU_ lists, placeholders left
// out) that the records hold.
int native_countDBC(lua_State *L)
{
    const DbcRecords *records = toDbcRecords(L, 1);
    luaL_argcheck(L, records != nullptr, 1, "the reader's records expected");
    double signals = 0, ecus = 0;
    for (const RawFrame &frame : records->frames)
        signals += static_cast<double>(frame.signals.size());
    for (const std::string &name : records->ecuNames)
        ecus += isPlaceholderNode(name) ? 0 : 1;
    lua_pushnumber(L, static_cast<double>(records->frames.size()));
    lua_pushnumber(L, signals);
    lua_pushnumber(L, ecus);
    return 3;
}

// buildDBC(db, name, report, { records, content }): the model of a DBC file from the
// reader's records (readDBC; emptied) and the file text (the input table is emptied
// too); the counts of frames, signals and ECUs made. Raises the reporter's error, "not
// enough memory" or what failed.
int native_buildDBC(lua_State *L)
{
    VexoNode *database = lua::checkDatabase(L, 1);
    if (database == nullptr)
        return luaL_argerror(L, 1, "the database is gone");
    const int results = buildDbcModel(L, database);
    return results < 0 ? lua_error(L) : results;
}

const luaL_Reg kNativeFunctions[] = {
    {"utf16", native_utf16},
    {"utf8", native_utf8},
    {"importSYM", native_importSYM},
    {"label", native_label},
    {"readDBC", native_readDBC},
    {"readText", native_readText},
    {"countDBC", native_countDBC},
    {"buildDBC", native_buildDBC},
    {nullptr, nullptr},
};

}  // namespace

}  // namespace vexo::io

VEXO_API int luaopen_Vexo_native(lua_State *L)
{
    lua_newtable(L);
    luaL_register(L, nullptr, vexo::io::kNativeFunctions);
    return 1;
}
