-- Text helpers shared by the import and export scripts. The model's texts are UTF-16;
-- in Lua they travel as strings of UTF-16LE code units, arguments with a terminating
-- zero unit and getter results without one. File contents and messages are UTF-8.
local text = {}

local native = require "Vexo.native"

-- UTF-16 text (without terminator) of UTF-8 text. A byte that does not start a valid
-- UTF-8 sequence becomes the character of the same value (so Windows-1252 bytes survive).
function text.widen(s) return native.utf16(s, false) end

-- A UTF-16 argument (with its zero unit) for UTF-8 text.
--
-- Nothing here keeps UTF-16 strings: Lua 5.1 hashes a long string from every n-th
-- byte, and for many lengths those bytes of UTF-16 text of ASCII are all zero, so
-- such strings of one length share one hash chain. Kept in bulk, every new one walks
-- the whole chain; made, passed on and dropped, they cost little. (An argument of 32
-- bytes or more carries a hash of its text after its zero unit for that reason.)
text.W = native.utf16

-- UTF-8 of UTF-16 text (up to its first zero unit, if any); nil for nil.
function text.U(w)
    if w == nil then return nil end
    return native.utf8(w)
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
    -- Read in one piece where the size is known: reading "*a" grows a buffer by
    -- doubling and leaves about three times the file's size behind for the collector.
    local size = file:seek("end")
    local content
    if size and size > 0 and file:seek("set") then content = file:read(size) end
    if content == nil or #content ~= size then
        file:seek("set")
        content = file:read("*a")
    end
    file:close()
    return content
end

return text
