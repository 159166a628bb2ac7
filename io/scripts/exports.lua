-- Export script run by the library for Vexo_exportGetAvailableFilters and
-- Vexo_exportFile: writes a database (or one channel or cluster of it) as a DBC file
-- that imports back into an equal model.
local Vexo = require "Vexo"
local text = require "vexo.text"

local U = text.U

local exporters = {
    dbc = require "vexo.dbc_export",
}

-- Filter list: description|pattern pairs separated by '|'.
local FILTERS = "DBC files (*.dbc)|*.dbc"

function getExportFilters()
    return text.widen(FILTERS)
end

-- filter: empty to choose by the file name's extension, else a format name or a line
-- of the filter list ("DBC", "*.dbc", ...).
function doexport(database, node, fileName, filter)
    local path = U(fileName)
    if path == "" then error("no file name given", 0) end
    if database:getNodeType() ~= Vexo.Q3_NODETYPE_Vexo then error("no database to export", 0) end
    local wanted = U(filter):lower()
    local format = wanted:match("dbc") or (wanted == "" and text.extension(path)) or wanted
    local exporter = exporters[format]
    if exporter == nil then
        error(string.format("cannot write %s: no export to %s files (available: DBC)", path,
            format ~= "" and format:upper() or "extensionless"), 0)
    end
    exporter.export(database, node, path)
    return 0
end
