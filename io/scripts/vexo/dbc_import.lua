-- DBC files into the model: one CAN cluster and channel per file, a frame with its
-- identifier triggering, PDU, PDU instance and PDU triggering per message, a signal
-- with its instance and a (shared) coding per signal, multiplexing as multiplexed
-- PDUs. The reader's table carries most of the file; the few statements it skips
-- that matter (value types, extended multiplexing, extra senders, environment
-- variables ...) are read from the text, which also gives reported lines. The model is
-- built natively (native.buildDBC, io/dbc_build.cpp).
local Vexo = require "Vexo"
local native = require "Vexo.native"
local text = require "vexo.text"

local W = text.W
local format = string.format

local dbc = {}

-- Node names that DBC writers put where a message has no sender or a signal no
-- receiver; they name no ECU.
local function isPlaceholderNode(name)
    return name == nil or name == "" or name:find("__XXX$") ~= nil
end

-- Reads the file's table and text. Returns the reader's table, the file text and the
-- reader's warnings; raises the reader's message for a file it rejects.
function dbc.read(path, options)
    local raw, problem = Vexo.importDBC(W(path), options.tolerant and { tolerant = true } or nil)
    if raw == nil then
        if type(problem) == "number" then
            error(format("cannot read DBC file %s (error 0x%08X)", path, problem % 2 ^ 32), 0)
        end
        error(tostring(problem), 0)
    end
    return raw, text.readFile(path) or "", problem
end

-- Counts for getImportInfo: frames, signals and ECUs of the reader's table.
function dbc.count(raw)
    local frames, signals, ecus = 0, 0, 0
    for i = 1, #raw do
        local e = raw[i]
        if e.tag == "frame" then
            frames = frames + 1
            signals = signals + #e
        elseif e.tag == "ecu" and not isPlaceholderNode(e.id) then
            ecus = ecus + 1
        end
    end
    return frames, signals, ecus
end

-- Builds the model of a DBC file read by dbc.read into db. name: the database name
-- used in element ids; report(line, severity, message). Returns the counts of frames,
-- signals and ECUs made. The reader's table is emptied on the way; the table and the
-- text are handed over in a table that the builder empties, so that (when the caller
-- keeps no reference either) their memory goes to the model.
function dbc.build(db, name, report, raw, content, warnings)
    local input = { raw, content, warnings }
    raw, content, warnings = nil, nil, nil
    return native.buildDBC(db, name, report, input)
end

return dbc
