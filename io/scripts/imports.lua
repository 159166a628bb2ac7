-- Import script run by the library for Vexo_importGetAvailableFilters,
-- Vexo_importDetect, Vexo_importGetDbId, Vexo_importGetInfo and Vexo_importFile.
-- It reads DBC, LDF and SYM files with the library's readers and ARXML, KCD and FIBEX
-- files through style sheets (vexo/xsl/), and builds the model through the database
-- and node methods (see docs/import-mapping.md for what becomes what).
-- Messages go to the reporter as (line, severity, text): line 0 when no line applies,
-- severity 0 error, 1 warning, 2 information.
local Vexo = require "Vexo"
local text = require "vexo.text"

local W, U = text.W, text.U
local INFO = 2  -- the severity of information (the importers' modules load only when needed)

-- The importer modules by format, loaded when a file of theirs comes: compiling all
-- of them would take longer than reading a small file.
local IMPORTER_MODULES = {
    DBC = "vexo.dbc_import", LDF = "vexo.ldf_import", SYM = "vexo.sym_import",
    ARXML = "vexo.arxml_import", KCD = "vexo.kcd_import", FIBEX = "vexo.fibex_import",
}
local importers = setmetatable({}, { __index = function(_, format) return require(IMPORTER_MODULES[format]) end })

-- Filter list: description|pattern pairs separated by '|'; patterns separated by ';'.
local FILTERS = "DBC files (*.dbc)|*.dbc|LDF files (*.ldf)|*.ldf|ARXML files (*.arxml)|*.arxml|"
    .. "KCD files (*.kcd)|*.kcd|SYM files (*.sym)|*.sym|FIBEX files (*.xml)|*.xml|"
    .. "All supported files (*.dbc;*.ldf;*.arxml;*.kcd;*.sym;*.xml)|*.dbc;*.ldf;*.arxml;*.kcd;*.sym;*.xml"

-- The XML formats by their root element: an AUTOSAR document (or any root in an
-- AUTOSAR namespace, so that a wrong root is reported by the ARXML reader), a KCD
-- network definition, a FIBEX document (with any namespace prefix).
local function detectXml(head)
    local body = head:gsub("<%?.-%?>", ""):gsub("<!%-%-.-%-%->", ""):gsub("<!DOCTYPE[^>]*>", "")
    local root, attributes = body:match("^%s*<([%w_:%.%-]+)([^>]*)>")
    if root == nil then return nil end
    local localName = root:match(":([%w_%.%-]+)$") or root
    if localName == "AUTOSAR" or attributes:find("http://autosar.org/", 1, true) then return "ARXML" end
    if localName == "NetworkDefinition" then return "KCD" end
    if localName == "FIBEX" then return "FIBEX" end
    return nil
end

-- Where the first statement of a text starts: after blanks and // or /* */ comments.
local function firstStatement(s)
    local pos = 1
    while true do
        pos = s:match("^%s*()", pos)
        local two = s:sub(pos, pos + 1)
        local stop
        if two == "//" then
            stop = s:find("\n", pos, true)
        elseif two == "/*" then
            stop = select(2, s:find("*/", pos + 2, true))
        else
            return pos
        end
        if not stop then return #s + 1 end
        pos = stop + 1
    end
end

-- The format of a file by its content: "LDF" when the header keyword comes first,
-- "DBC" when DBC statements start its lines; nil otherwise.
local function detect(path)
    local file = io.open(path, "rb")
    if not file then return nil end
    local head = file:read(16384) or ""
    file:close()
    head = head:gsub("^\239\187\191", "")
    if head:find("^%s*<") then return detectXml(head) end
    local first = firstStatement(head)
    if head:find("^LIN_description_file", first) then return "LDF" end
    if head:find("^FormatVersion%s*=", first) then return "SYM" end
    local lines = "\n" .. head
    if lines:find("\n%s*VERSION%s+\"") or lines:find("\n%s*NS_%s*:") or lines:find("\n%s*BU_%s*:")
        or lines:find("\n%s*BO_%s+%d+%s+[^%s:]+%s*:") then
        return "DBC"
    end
    return nil
end

-- The format names a filter may give, by the word that names them ("xml" alone, for
-- FIBEX files, is checked apart so that "arxml" does not count).
local FORMAT_WORDS = { dbc = "DBC", ldf = "LDF", arxml = "ARXML", kcd = "KCD", sym = "SYM", fibex = "FIBEX" }

-- Reads the filter argument: an optional format name ("DBC", "*.ldf", a line of the
-- filter list ...) and the option word "tolerant", in any order and case. A filter
-- that names several formats (the "All supported files" line) names none.
local function readFilter(filter)
    local words = filter:lower()
    local format, named = nil, 0
    local found = {}
    for word, name in pairs(FORMAT_WORDS) do
        if words:find(word, 1, true) then found[name] = true end
    end
    if words:gsub("arxml", ""):find("xml", 1, true) then found.FIBEX = true end
    for name in pairs(found) do
        format, named = name, named + 1
    end
    if named ~= 1 then format = nil end
    return format, { tolerant = words:find("tolerant", 1, true) ~= nil }
end

local function formatOf(path, filter)
    local format, options = readFilter(filter)
    format = format or detect(path)
    if format == nil then
        if not io.open(path, "rb") then error("cannot open file " .. path, 0) end
        error(path .. " is no DBC, LDF, ARXML, KCD, SYM or FIBEX file", 0)
    end
    return format, options
end

-- A message goes out with exactly one terminating zero unit (W may add more).
local function messenger(reporter)
    return function(line, severity, message) reporter(line, severity, text.widen(message) .. "\0\0") end
end

function getImportFilters()
    return text.widen(FILTERS)
end

function detectfile(fileName)
    return detect(U(fileName))
end

function getdatabaseid(fileName)
    return text.widen(text.baseName(U(fileName)))
end

function getImportInfo(database, fileName, reporter)
    local path = U(fileName)
    local format, options = formatOf(path, "")
    local importer = importers[format]
    local frames, signals, ecus = importer.count(importer.read(path, options))
    messenger(reporter)(0, INFO, string.format("%s file %s: %d frames, %d signals, %d ECUs", format,
        text.baseName(path), frames, signals, ecus))
    return 0
end

function doimport(database, node, fileName, filter, reporter)
    local path, report = U(fileName), messenger(reporter)
    if path == "" then error("no file name given", 0) end
    if database:getNodeType() ~= Vexo.Q3_NODETYPE_Vexo then error("no database to import into", 0) end
    local format, options = formatOf(path, U(filter))
    local name = text.baseName(path)
    local importer = importers[format]
    local made = false
    local ok, frames, signals, ecus = pcall(function()
        local raw, content, warnings = importer.read(path, options)
        made = true
        return importer.build(database, name, report, raw, content, warnings)
    end)
    if not ok then
        if not made then error(frames, 0) end
        error(string.format("import of %s stopped: %s; the database keeps the elements made before", path,
            tostring(frames)), 0)
    end
    report(0, INFO, string.format("imported %s: %d frames, %d signals, %d ECUs", name, frames, signals, ecus))
    return 0
end
