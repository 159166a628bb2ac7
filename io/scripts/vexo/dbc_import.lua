-- DBC files into the model: one CAN cluster and channel per file, a frame with its
-- identifier triggering, PDU, PDU instance and PDU triggering per message, a signal
-- with its instance and a (shared) coding per signal, multiplexing as multiplexed
-- PDUs. The reader's records (native.readDBC) carry most of the file; the few
-- statements it skips that matter (value types, extended multiplexing, extra senders,
-- environment variables ...) are read from the text, which also gives reported lines.
-- The model is built natively (native.buildDBC, io/dbc_build.cpp).
local native = require "Vexo.native"
local text = require "vexo.text"

local W = text.W
local format = string.format

local dbc = {}

-- Reads the file's records and text. Returns the reader's records (a userdata) and the
-- file text (a userdata of its bytes, or a string where it cannot be read in one piece);
-- raises the reader's message for a file it rejects.
function dbc.read(path, options)
    local records, problem = native.readDBC(W(path), options.tolerant)
    if records == nil then
        if type(problem) == "number" then
            error(format("cannot read DBC file %s (error 0x%08X)", path, problem % 2 ^ 32), 0)
        end
        error(tostring(problem), 0)
    end
    return records, native.readText(path) or text.readFile(path) or ""
end

-- Counts for getImportInfo: frames, signals and ECUs of the reader's records.
function dbc.count(records)
    return native.countDBC(records)
end

-- Builds the model of a DBC file read by dbc.read into db. name: the database name
-- used in element ids; report(line, severity, message). Returns the counts of frames,
-- signals and ECUs made. The records build once; they and the text are handed over in a
-- table that the builder empties, so that (when the caller keeps no reference either)
-- the text's memory can go.
function dbc.build(db, name, report, records, content)
    local input = { records, content }
    records, content = nil, nil
    return native.buildDBC(db, name, report, input)
end

return dbc
