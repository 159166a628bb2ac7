-- The import and export scripts over the real-world corpus: every DBC and LDF file the reader accepts imports (the
-- others fail with the reader's message); every DBC that imports exports to a file that imports back into an equal
-- model (compared node by node); and the corpus CAN logs decode through the model to the values computed here,
-- independently, from the reader's table (bit by bit, scale, offset, sign, byte order, multiplexer, value
-- descriptions), before and after the round trip. Environment: VEXO_SCRIPT_DIR (folder of imports.lua),
-- VEXO_CORPUS_DIR, VEXO_TEST_TMP, VEXO_CORPUS_STRIDE (test every n-th file; default 1).
local Vexo = require "Vexo"
local check = dofile((arg and arg[0] or ""):match("^(.*)/[^/]*$") .. "/check.lua")

local W, A, eq = check.W, check.A, check.eq
local stride = tonumber(os.getenv("VEXO_CORPUS_STRIDE") or "1")
local corpus, import = check.loadScripts(), check.import
if not corpus then
    if VEXO_TEST_HOST then return 0 end
    os.exit(0)
end

-- Model comparison: walks both models from their collections node in step, property
-- by property (attribs), through every link and list.
local function compareModels(dbA, dbB)
    local seen = {}
    local function same(a, b, where)
        local ta = type(a)
        if a == nil or b == nil or ta ~= type(b) then
            if a ~= b then error(string.format("%s: %s against %s", where, tostring(a), tostring(b))) end
        elseif ta == "number" then
            if a ~= b and not (a ~= a and b ~= b) then error(string.format("%s: %.17g against %.17g", where, a, b)) end
        elseif ta == "string" or ta == "boolean" then
            if a ~= b then error(string.format("%s: %q against %q", where, A(a), A(b))) end
        elseif ta == "function" then
            local listA, listB = check.collect(a), check.collect(b)
            if #listA ~= #listB then error(string.format("%s: %d entries against %d", where, #listA, #listB)) end
            for i = 1, #listA do same(listA[i], listB[i], where .. "[" .. i .. "]") end
        elseif getmetatable(a) == "StringSlot" then
            same(dbA:stringLookup(a, 0, 0), dbB:stringLookup(b, 0, 0), where .. " (text)")
        elseif not pcall(function() return a.nodetype end) or a.nodetype == nil then
            if tostring(a) ~= tostring(b) then error(string.format("%s: %s against %s", where, tostring(a), tostring(b))) end
        elseif not (a.eid and seen[a.eid]) then
            local id = a.eid
            if id then seen[id] = true end
            for name in Vexo.attribs(a) do
                same(a[name], b[name], where .. "." .. name .. (id and "{" .. A(id) .. "}" or ""))
            end
        end
    end
    same(dbA.collections, dbB.collections, "collections")
end

-- Independent decoding of a CAN frame from the reader's table.

-- The bits of a field, most significant first.
local function fieldBits(bytes, start, length, bigEndian)
    local bits = {}
    for i, n in ipairs(check.fieldPositions(start, length, bigEndian)) do
        bits[i] = math.floor((bytes:byte(math.floor(n / 8) + 1) or 0) / 2 ^ (n % 8)) % 2
    end
    return bits
end

-- The field as a double, rounded once as a 64-bit integer would be converted; signed fields in two's complement.
local function fieldValue(bits, signed)
    local length, negative, high, low = #bits, signed and bits[1] == 1, 0, 0
    for i = 1, length do
        local bit = negative and 1 - bits[i] or bits[i]
        if length - i >= 32 then high = high * 2 + bit else low = low * 2 + bit end
    end
    local value = high * 2 ^ 32 + low
    return negative and -(value + 1) or value
end

local function readLog(path)
    local frames = {}
    for line in io.lines(path) do
        local id, fd, data = line:match("^%(%d+%.%d+%) %S+ (%x+)#(#?)%x?(%x*)$")
        if id then
            local bytes = data:gsub("%x%x", function(h) return string.char(tonumber(h, 16)) end)
            frames[#frames + 1] = { id = tonumber(id, 16), extended = #id == 8, bytes = bytes }
        end
    end
    return frames
end

-- What the reader's table says a frame holds: { [signal name] = { physical, text } }.
local function expectedValues(message, valueTables, frame)
    local result = {}
    local switch
    for _, s in ipairs(message) do
        if s.mode == "M" then switch = fieldValue(fieldBits(frame.bytes, s.startbit, s.bitlen, s.bigendian), false) end
    end
    for _, s in ipairs(message) do
        if s.mode ~= "m" or s.modevalue == switch then
            local raw = fieldValue(fieldBits(frame.bytes, s.startbit, s.bitlen, s.bigendian), s.signed)
            local descriptions = valueTables[s.id]
            local description = descriptions and (descriptions[raw] or (s.signed and descriptions[raw + 2 ^ s.bitlen]))
            result[s.id] = { raw * s.scale + s.offset, description }
        end
    end
    return result
end

-- UTF-16LE of file text: UTF-8 sequences as their code points, other bytes as themselves.
local function utf16(s)
    local out, i = {}, 1
    local function unit(u) out[#out + 1] = string.char(u % 256, math.floor(u / 256)) end
    while i <= #s do
        local c = s:byte(i)
        local n = (c >= 0xC2 and c <= 0xDF) and 2 or (c >= 0xE0 and c <= 0xEF) and 3 or (c >= 0xF0 and c <= 0xF4) and 4 or 1
        local cp = n == 2 and c % 32 or n == 3 and c % 16 or n == 4 and c % 8 or c
        for k = 1, n - 1 do
            local b = s:byte(i + k)
            if not b or b < 0x80 or b > 0xBF then n, cp = 1, c break end
            cp = cp * 64 + b % 64
        end
        if n > 1 and cp < ({ 0, 0x80, 0x800, 0x10000 })[n] then n, cp = 1, c end
        if cp >= 0x10000 then
            unit(0xD800 + math.floor((cp - 0x10000) / 1024))
            unit(0xDC00 + (cp - 0x10000) % 1024)
        else
            unit(cp)
        end
        i = i + n
    end
    return table.concat(out)
end

-- Decodes every frame of a log through the model and compares with the reader's table.
local function checkLog(db, raw, logPath)
    local messages, valueTables = {}, {}
    for i = 1, #raw do
        local e = raw[i]
        if e.tag == "frame" then messages[e.frameid] = e end
        if e.tag == "value" and e.values and e.frame then
            valueTables[e.frame] = valueTables[e.frame] or {}
            valueTables[e.frame][e.signal] = e.values
        end
    end
    local channel
    for cluster in db:enumClusters() do
        for child in cluster.children do channel = child end
    end
    local decodedSignals, frames = 0, readLog(logPath)
    for n, frame in ipairs(frames) do
        local message = messages[frame.extended and frame.id + 2 ^ 31 or frame.id] or messages[frame.id]
        local want, got = expectedValues(message, valueTables[message.frameid] or {}, frame), {}
        for signal, kind, value in channel:decodeMessage(frame.id, frame.extended and 1 or 0, frame.bytes) do
            local physical, slot = signal:internalToPhysical(value)
            local name = A(signal.eid):match("/signal/([^/]+)$")
            got[name] = { type(physical) == "number" and physical or tonumber(tostring(physical)),
                slot and db:stringLookup(slot, 0, 0) }
            decodedSignals = decodedSignals + 1
        end
        for name, w in pairs(want) do
            local g = got[name]
            local where = string.format("%s frame %d (0x%X) signal %s", logPath:match("[^/]*$"), n, frame.id, name)
            check.truthy(g, where .. " decoded")
            eq(g[1], w[1], where .. " physical value")
            eq(g[2], w[2] and utf16(w[2]) or nil, where .. " value description")
        end
        for name in pairs(got) do check.truthy(want[name], "signal " .. name .. " decoded but not expected") end
    end
    return #frames, decodedSignals
end

-- Runs fn(path) on every stride-th file of a corpus folder whose name matches pattern.
local function eachFile(folder, pattern, fn)
    for index, path in ipairs(check.listFiles(corpus .. "/" .. folder, pattern)) do
        if (index - 1) % stride == 0 then check.run(path, function() fn(path) end) end
    end
end

-- Imports a file as its reader reads it: a file the reader accepts imports; one it rejects
-- fails with the reader's message and imports, with warnings, when read tolerantly. Gives
-- the database, the reader's table and the filter the import took (nil or the tolerant one).
local function importAsRead(path, read, tolerantFilter)
    local raw, message = read(W(path))
    local db, problem = import(path)
    if raw ~= nil then
        check.truthy(db, "import of a file the reader accepts: " .. tostring(problem))
        return db, raw
    end
    check.truthy(db == nil and problem == message, "the import fails with the reader's message")
    local messages
    db, messages = import(path, tolerantFilter)
    check.truthy(db and messages.warnings > 0, "tolerant import warns: " .. tostring(messages))
    return db, read(W(path), { tolerant = true }), tolerantFilter
end

local tmp = check.tmp .. "/roundtrip"
os.execute('mkdir -p "' .. tmp .. '"')
local imported, rejected, exported = 0, 0, 0
eachFile("dbc", "%.dbc$", function(path)
    -- What made a file need tolerant reading may be in its export too.
    local db, raw, tolerant = importAsRead(path, Vexo.importDBC, "tolerant")
    imported, rejected = imported + 1, rejected + (tolerant and 1 or 0)
    -- Round trip: the same base name, so that element ids stay the same.
    local copy = tmp .. "/" .. path:match("[^/]*$")
    doexport(db, nil, W(copy), W "")
    local again, againProblem = import(copy, tolerant)
    check.truthy(again, "the exported file imports: " .. tostring(againProblem))
    compareModels(db, again)
    exported = exported + 1
    local log = corpus .. "/logs/" .. path:match("([^/]*)%.[dD][bB][cC]$") .. ".log"
    if io.open(log) then
        local frames, signals = checkLog(db, raw, log)
        checkLog(again, raw, log)
        print(string.format("%s: %d frames, %d signal values agree", log:match("[^/]*$"), frames, signals))
    end
end)
print(string.format("DBC: %d imported (%d of them only when read tolerantly), round trip equal for %d", imported,
    rejected, exported))

local ldfRead, ldfRejected = 0, 0
eachFile("ldf", "%.ldf$", function(path)
    local tolerant = select(3, importAsRead(path, Vexo.importLDF, "LDF tolerant"))
    ldfRead, ldfRejected = ldfRead + 1, ldfRejected + (tolerant and 1 or 0)
end)
print(string.format("LDF: %d imported strictly, %d only when read tolerantly", ldfRead - ldfRejected, ldfRejected))
os.execute('rm -rf "' .. tmp .. '"')

return check.finish()
