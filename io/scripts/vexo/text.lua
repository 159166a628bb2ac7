-- Text helpers shared by the import and export scripts. The model's texts are UTF-16;
-- in Lua they travel as strings of UTF-16LE code units, arguments with a terminating
-- zero unit and getter results without one. File contents and messages are UTF-8.
local text = {}

local byte, char, concat = string.byte, string.char, table.concat

-- Appends the UTF-16LE units of code point cp to out.
local function putUnit(out, unit)
    out[#out + 1] = char(unit % 256, math.floor(unit / 256))
end

local function putCodePoint(out, cp)
    if cp >= 0x10000 then
        cp = cp - 0x10000
        putUnit(out, 0xD800 + math.floor(cp / 1024))
        putUnit(out, 0xDC00 + cp % 1024)
    else
        putUnit(out, cp)
    end
end

-- Length and code point of the UTF-8 sequence at i, or nil when it is not valid.
local function decodeUtf8(s, i)
    local lead = byte(s, i)
    local length, cp, minimum
    if lead >= 0xC2 and lead <= 0xDF then
        length, cp, minimum = 2, lead % 0x20, 0x80
    elseif lead >= 0xE0 and lead <= 0xEF then
        length, cp, minimum = 3, lead % 0x10, 0x800
    elseif lead >= 0xF0 and lead <= 0xF4 then
        length, cp, minimum = 4, lead % 0x08, 0x10000
    else
        return nil
    end
    for k = 1, length - 1 do
        local b = byte(s, i + k)
        if b == nil or b < 0x80 or b > 0xBF then return nil end
        cp = cp * 64 + b % 64
    end
    if cp < minimum or cp > 0x10FFFF then return nil end
    return length, cp
end

-- UTF-16LE units of UTF-8 text, without terminator. A byte that does not start a
-- valid sequence becomes one unit of the same value (so Windows-1252 bytes survive).
local function widen(s)
    if not s:find("[\128-\255]") then
        return (s:gsub(".", "%0\0"))
    end
    local out, i, n = {}, 1, #s
    while i <= n do
        local b = byte(s, i)
        if b < 0x80 then
            putUnit(out, b)
            i = i + 1
        else
            local length, cp = decodeUtf8(s, i)
            if length then
                putCodePoint(out, cp)
                i = i + length
            else
                putUnit(out, b)
                i = i + 1
            end
        end
    end
    return concat(out)
end
text.widen = widen

-- UTF-16 text without terminator, and a UTF-16 argument (with its zero unit), for
-- UTF-8 text. Results are cached: names, units and path pieces repeat throughout an
-- import. (Lua 5.1 hashes strings of 32 to 63 bytes from every second byte, which in
-- UTF-16 of ASCII text are all zero: such strings all collide, so an import makes as
-- few of them as it can.)
local wideCache, argumentCache = {}, {}
function text.wide(s)
    local w = wideCache[s]
    if w == nil then
        w = widen(s)
        wideCache[s] = w
    end
    return w
end

function text.W(s)
    local w = argumentCache[s]
    if w == nil then
        if s:find("[\128-\255]") then
            w = widen(s) .. "\0\0"
        else
            w = (s .. "\0"):gsub(".", "%0\0")
        end
        argumentCache[s] = w
    end
    return w
end

-- UTF-8 of UTF-16LE text (a terminating zero unit, if any, is dropped); unpaired
-- surrogates become U+FFFD.
function text.U(w)
    if w == nil then return nil end
    local n = #w - #w % 2
    if n >= 2 and byte(w, n - 1) == 0 and byte(w, n) == 0 then n = n - 2 end
    local s = w:sub(1, n)
    local ascii = s:gsub("(.)%z", "%1")
    if #ascii * 2 == n and not ascii:find("[\128-\255]") then return ascii end
    local out, i = {}, 1
    while i < n do
        local unit = byte(w, i) + byte(w, i + 1) * 256
        i = i + 2
        if unit >= 0xD800 and unit <= 0xDBFF and i < n then
            local low = byte(w, i) + byte(w, i + 1) * 256
            if low >= 0xDC00 and low <= 0xDFFF then
                unit = 0x10000 + (unit - 0xD800) * 1024 + (low - 0xDC00)
                i = i + 2
            else
                unit = 0xFFFD
            end
        elseif unit >= 0xD800 and unit <= 0xDFFF then
            unit = 0xFFFD
        end
        if unit < 0x80 then
            out[#out + 1] = char(unit)
        elseif unit < 0x800 then
            out[#out + 1] = char(0xC0 + math.floor(unit / 64), 0x80 + unit % 64)
        elseif unit < 0x10000 then
            out[#out + 1] = char(0xE0 + math.floor(unit / 4096), 0x80 + math.floor(unit / 64) % 64, 0x80 + unit % 64)
        else
            out[#out + 1] = char(0xF0 + math.floor(unit / 262144), 0x80 + math.floor(unit / 4096) % 64,
                0x80 + math.floor(unit / 64) % 64, 0x80 + unit % 64)
        end
    end
    return concat(out)
end

-- The base name of a path without its last extension ("/a/b/Body.dbc" -> "Body").
function text.baseName(path)
    local name = path:match("([^/]*)$")
    return name:match("^(.+)%.[^.]*$") or name
end

-- The extension of a path in lower case, without the dot ("" when there is none).
function text.extension(path)
    local name = path:match("([^/]*)$")
    return (name:match("%.([^.]*)$") or ""):lower()
end

-- Finds the line of byte position pos in s; built once per text, then a binary search.
function text.lineIndex(s)
    local starts = nil
    return function(pos)
        if starts == nil then
            starts = { 1 }
            for p in s:gmatch("\n()") do starts[#starts + 1] = p end
        end
        local low, high = 1, #starts
        while low < high do
            local mid = math.floor((low + high + 1) / 2)
            if starts[mid] <= pos then low = mid else high = mid - 1 end
        end
        return low
    end
end

-- Escapes the magic characters of a Lua pattern.
function text.escapePattern(s)
    return (s:gsub("[%^%$%(%)%%%.%[%]%*%+%-%?]", "%%%0"))
end

-- Reads a whole file (binary), or nil and the system's message.
function text.readFile(path)
    local file, message = io.open(path, "rb")
    if not file then return nil, message end
    local content = file:read("*a")
    file:close()
    return content
end

return text
