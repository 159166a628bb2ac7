-- The XML formats are read by libxml2 and libxslt: a style sheet per format (vexo/xsl/)
-- turns the document into records, one per line, fields separated by tabs, which the
-- format's importer turns into the model. Tabs and line ends inside texts arrive as the
-- private-use characters U+E000 to U+E002.
local Vexo = require "Vexo"
local text = require "vexo.text"

local W = text.W

local xml = {}

-- The folder of the style sheets: vexo/xsl/ beside this module.
local here = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") or "."
xml.folder = here .. "/xsl"

-- Runs a style sheet on a file and returns the records as arrays of fields (strings),
-- in output order. Raises the parser's message (name, line and column) for a file that
-- is no well-formed XML and the style sheet's message for a document it refuses.
function xml.records(sheet, path)
    local out, code, message = Vexo.XSLtransform(W(xml.folder .. "/" .. sheet), W(path))
    if out == nil then
        message = tostring(message or code):gsub("\n$", "")
        error(message, 0)
    end
    local records, n = {}, 0
    local find, sub = string.find, string.sub
    local position, length = 1, #out
    while position <= length do
        local lineEnd = find(out, "\n", position, true) or length + 1
        local fields, f = {}, 0
        local start = position
        while true do
            local tab = find(out, "\t", start, true)
            if tab == nil or tab > lineEnd then
                f = f + 1
                fields[f] = sub(out, start, lineEnd - 1)
                break
            end
            f = f + 1
            fields[f] = sub(out, start, tab - 1)
            start = tab + 1
        end
        n = n + 1
        records[n] = fields
        position = lineEnd + 1
    end
    return records
end

-- The frames, signals and ECUs among the records: kinds maps a record kind (its first
-- field) to "frames", "signals" or "ecus".
function xml.count(records, kinds)
    local counts = { frames = 0, signals = 0, ecus = 0 }
    for _, r in ipairs(records) do
        local what = kinds[r[1]]
        if what then counts[what] = counts[what] + 1 end
    end
    return counts.frames, counts.signals, counts.ecus
end

-- A text field with its tabs and line ends back.
local ESCAPED = { ["\238\128\128"] = "\t", ["\238\128\129"] = "\n", ["\238\128\130"] = "\r" }
function xml.text(s)
    if s == nil or s == "" then return nil end
    if s:find("\238\128", 1, true) then s = s:gsub("\238\128[\128-\130]", ESCAPED) end
    return s
end

-- A number field: decimal, or "0x" hexadecimal; nil for an empty field or no number.
function xml.number(s)
    if s == nil or s == "" then return nil end
    return tonumber(s)
end

return xml
