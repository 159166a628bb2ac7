-- Helpers of the Lua suite: UTF-16 texts, assertions that name what they compared, and
-- a small network built through the module (two frames on a CAN channel, signals of
-- several encodings, a multiplexed PDU, computations with ranges, timings).
local Vexo, check = require "Vexo", {}

check.tmp = os.getenv("VEXO_TEST_TMP") or "/tmp"
local created = {}

-- UTF-16LE text of an ASCII string, with the terminating zero unit (an argument) or without (what getters return).
function check.W(text) return (text:gsub(".", "%0\0")) .. "\0\0" end
function check.U(text) return (text:gsub(".", "%0\0")) end

-- ASCII of UTF-16LE text (for messages), nil for nil.
function check.A(text) return text and (text:gsub("(.)%z", "%1")) end

local function show(value)
    if type(value) == "string" then return string.format("%q", value) end
    return tostring(value)
end

function check.eq(actual, expected, what)
    if actual ~= expected then
        error(string.format("%s: got %s, want %s", what or "value", show(actual), show(expected)), 2)
    end
end

-- Rows of { actual, expected, what }, checked in order.
function check.rows(rows)
    for _, row in ipairs(rows) do check.eq(row[1], row[2], row[3]) end
end

function check.truthy(value, what)
    if not value then error((what or "condition") .. " does not hold", 2) end
end

-- Calls fn under pcall and requires an error whose message contains text (plain).
function check.raises(text, fn, ...)
    local ok, message = pcall(fn, ...)
    if ok then error("no error raised, want one containing " .. show(text), 2) end
    if not tostring(message):find(text, 1, true) then
        error(string.format("error %s does not contain %s", show(message), show(text)), 2)
    end
    return message
end

-- test(name, fn) adds a test to the list of the file being loaded (run.lua empties it).
check.tests = {}
function check.test(name, fn) check.tests[#check.tests + 1] = { name, fn } end

-- Two collections: the first runs the finalisers, the second frees what they let go.
function check.gc() for _ = 1, 2 do collectgarbage() end end

function check.pack(...) return { n = select("#", ...), ... } end

-- Everything an iterator yields (its first value), in order.
function check.collect(iterator, state, control)
    local items = {}
    for item in iterator, state, control do items[#items + 1] = item end
    return items
end

-- Element identifiers (ASCII) of a list of nodes, joined by commas.
function check.ids(nodes)
    local names = {}
    for i, node in ipairs(nodes) do names[i] = check.A(node.eid) or "?" end
    return table.concat(names, ",")
end

-- Whether two node values hold the same node: both values see a change of the param.
function check.same(a, b)
    if a == nil or b == nil then return a == nil and b == nil end
    local old = a.param
    a:setParam(old + 4242)
    local same = b.param == old + 4242
    a:setParam(old)
    return same
end

-- Runs fn under xpcall for the corpus scripts, which keep going after a failure;
-- check.finish prints the tally and gives it to the test host or ends the process.
check.checked, check.failures = 0, 0
function check.run(what, fn)
    local ok, problem = xpcall(fn, debug.traceback)
    check.checked = check.checked + 1
    if not ok then
        check.failures = check.failures + 1
        print("FAILED " .. what .. "\n" .. tostring(problem))
    end
end

function check.finish()
    print(string.format("%d checks, %d failed", check.checked, check.failures))
    if VEXO_TEST_HOST then return check.failures end
    os.exit(check.failures == 0 and 0 or 1)
end

-- Writes a file in the temporary folder (removed by cleanup); gives its path.
function check.write(name, ...)
    local path = check.tmpfile(name)
    local file = assert(io.open(path, "wb"))
    file:write(...)
    file:close()
    return path
end

function check.tmpfile(name)
    local path = check.tmp .. "/" .. name
    created[#created + 1] = path
    return path
end

function check.cleanup()
    for _, path in ipairs(created) do os.remove(path) end
end

-- Bit positions of a frame field, most significant bit first: little-endian fields run upwards from start, big-endian
-- ones from start (their most significant bit) down to bit 0 of a byte and on at bit 7 of the next.
function check.fieldPositions(start, length, bigEndian)
    local positions, n = {}, start
    for i = 1, length do
        positions[i] = bigEndian and n or start + length - i
        n = n % 8 == 0 and n + 15 or n - 1
    end
    return positions
end

-- For the corpus scripts: loads the shipped import and export scripts and gives the
-- corpus folder, or nil (after saying so) when there is none.
function check.loadScripts()
    local scriptDir = assert(os.getenv("VEXO_SCRIPT_DIR"), "VEXO_SCRIPT_DIR not set")
    package.path = scriptDir .. "/?.lua;" .. package.path
    dofile(scriptDir .. "/imports.lua")
    dofile(scriptDir .. "/exports.lua")
    local corpus = os.getenv("VEXO_CORPUS_DIR") or ""
    if io.open(corpus .. "/README.md") then return corpus end
    print("corpus not found at '" .. corpus .. "': its files are skipped")
end

-- The files of a folder whose lower-case name matches pattern, with the folder.
function check.listFiles(folder, pattern)
    local files, pipe = {}, io.popen('ls "' .. folder .. '" 2>/dev/null')
    for name in pipe:lines() do
        if name:lower():find(pattern) then files[#files + 1] = folder .. "/" .. name end
    end
    pipe:close()
    return files
end

-- Imports a file through the import script into a new database: the database and the messages ("line n: text", with the
-- count of warnings as messages.warnings), or nil and the error.
function check.import(path, filter)
    local db, messages = Vexo.createDb(check.W "import"), { warnings = 0 }
    local ok, problem = pcall(doimport, db, nil, check.W(path), check.W(filter or ""), function(line, severity, text)
        messages[#messages + 1] = (line > 0 and "line " .. line .. ": " or "") .. check.A(text):gsub("%z+$", "")
        if severity == 1 then messages.warnings = messages.warnings + 1 end
        return 0
    end)
    if not ok then return nil, problem end
    return db, messages
end

check.S_FALSE, check.E_INVALIDARG, check.E_FAIL, check.E_UNEXPECTED = 1, -2147024809, -2147467259, -2147418113

-- The test network. Frame "F1" (8 bytes, identifier 0x123) carries signal PDU "P1": "Speed" (16 bits little-endian at
-- bit 0, linear 0.5 x + 10), "Gear" (4 bits at 16, mapped to texts), "Temp" (8-bit two's complement at 24), "Name"
-- (ASCII, 32 bits at 32). Frame "F2" (4 bytes, masked 0x200/0x700) carries multiplexed PDU "M1" with a 4-bit switch at
-- bit 0, dynamic part "D1" (code 1) holding signal PDU "P2" ("Level", 8 bits at 8 of the frame).
function check.network()
    local W, n = check.W, {}
    local db = Vexo.createDb(W "Net")
    n.db = db
    n.cluster = db:createCluster(W "CAN1", Vexo.Q3_CLUSTERTYPE_CAN)
    n.channel = db:createChannel(W "CH1", n.cluster)
    n.ecu = db:createECU(W "Engine")
    n.f1 = db:createFrame(W "F1", 8)
    n.f2 = db:createFrame(W "F2", 4)
    n.t1 = db:createIdentifierBasedTriggering(W "T1", 0x123, 0, n.f1, n.ecu, n.channel)
    n.t2 = db:createMaskedIdentifierTriggering(W "T2", 0x700, 0x200, 0, n.f2, nil, n.channel)
    n.unit = db:createUnitSpec(W "kmh", 9, W "km/h")

    n.speedCoding = db:createCoding(W "SpeedCoding", 16, Vexo.Q3_ENCODING_DIRECT, n.unit)
    n.linear = db:createLinearComputation(W "Lin", 0.5, 10)
    n.linear:addRange(0, 65535, Vexo.Q3_FLAG_LOWERLIMIT_CLOSED + Vexo.Q3_FLAG_UPPERLIMIT_CLOSED)
    n.speedCoding:addInternalToPhysicalComputations(n.linear)
    n.toInternal = db:createLinearComputation(W "LinBack", 2, -20)
    n.toInternal:addRange(-1e9, 1e9, 3)
    n.speedCoding:addPhysicalToInternalComputations(n.toInternal)

    n.gearCoding = db:createCoding(W "GearCoding", 4, Vexo.Q3_ENCODING_DIRECT, nil)
    n.parkText = db:stringCreateSlot(9, W "Park")
    n.park = db:createMappedTextComputation(W "ParkText", n.parkText)
    n.park:addRange(0, 0, 3)
    n.gearCoding:addInternalToPhysicalComputations(n.park)

    n.tempCoding = db:createCoding(W "TempCoding", 8, Vexo.Q3_ENCODING_2COMPL, nil)
    n.nameCoding = db:createCoding(W "NameCoding", 32, Vexo.Q3_ENCODING_ASCII, nil)

    n.speed = db:createSignal(W "Speed", 0, 20, 0, 300, n.speedCoding)
    n.gear = db:createSignal(W "Gear", 0, 0, 0, 15, n.gearCoding)
    n.temp = db:createSignal(W "Temp", 0, 0, -40, 120, n.tempCoding)
    n.name = db:createSignal(W "Name", 0, 0, 0, 0, n.nameCoding)

    n.p1 = db:createSignalPDU(W "P1", 64, nil)
    -- Update bit position -1 (0xFFFFFFFF): the instances have no update bit.
    n.pi1 = db:createPDUInstance(W "PI1", 0, 0, -1, n.p1, n.f1)
    n.siSpeed = db:createSignalInstance(W "SI_Speed", 0, 0, -1, n.speed, n.p1)
    n.siGear = db:createSignalInstance(W "SI_Gear", 0, 16, -1, n.gear, n.p1)
    n.siTemp = db:createSignalInstance(W "SI_Temp", 0, 24, -1, n.temp, n.p1)
    n.siName = db:createSignalInstance(W "SI_Name", 0, 32, -1, n.name, n.p1)
    n.pt1 = db:createPDUTriggering(W "PT1", n.p1, n.channel)
    n.cyclic = db:createCyclicTiming(100, n.pt1)

    n.levelCoding = db:createCoding(W "LevelCoding", 8, Vexo.Q3_ENCODING_DIRECT, nil)
    n.level = db:createSignal(W "Level", 0, 0, 0, 255, n.levelCoding)
    n.m1 = db:createMultiplexedPDU(W "M1", 32, 0, 0, 4, 0, nil)
    n.pi2 = db:createPDUInstance(W "PI2", 0, 0, -1, n.m1, n.f2)
    n.d1 = db:createMultiplexedPart(W "D1", 1, n.m1)
    n.m1:addDynamicParts(n.d1)
    n.p2 = db:createSignalPDU(W "P2", 24, n.d1)
    n.d1:addSegment(0, 0, 32)
    n.siLevel = db:createSignalInstance(W "SI_Level", 0, 8, -1, n.level, n.p2)
    return n
end

return check
