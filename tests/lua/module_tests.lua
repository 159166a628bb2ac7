-- The module table, its constants and metatables, and the userdata kinds.
local Vexo = require "Vexo"
local check = require "check"
local W, U, eq = check.W, check.U, check.eq

local tests = {}
local function test(name, fn) tests[#tests + 1] = { name, fn } end

test("require gives the module table, also registered as the global Vexo", function()
    eq(package.loaded.Vexo, Vexo, "package.loaded.Vexo")
    eq(rawget(_G, "Vexo"), Vexo, "global Vexo")
    eq(Vexo.version(), "Vexo version 1.0", "version")
    for _, name in ipairs { "createDb", "importDBC", "importLDF", "XSLtransform", "attribs" } do
        eq(type(Vexo[name]), "function", name)
    end
end)

test("numeric constants carry their published values, unsigned", function()
    local expected = {
        Q3_NODETYPE_DatabaseCollections = 0x6364, Q3_NODETYPE_IdentifierBasedTriggering = 0x6269,
        Q3_NODETYPE_MaskedIdentifierTriggering = 0x696D, Q3_NODETYPE_UnitSpec = 0x6E75,
        Q3_NODETYPE_Coding = 0x6763, Q3_NODETYPE_LinearComputation = 0x636C,
        Q3_NODETYPE_PDUTriggering = 0x7470, Q3_NODETYPE_Channel = 0x6863, Q3_NODETYPE_Vexo = 0x6264,
        Q3_NODETYPE_Frame = 0x7266, Q3_NODETYPE_Signal = 0x6773, Q3_NODETYPE_IdentityComputation = 0x6369,
        Q3_NODETYPE_MappedTextComputation = 0x746D, Q3_NODETYPE_EventControlledTiming = 0x7465,
        Q3_NODETYPE_Segment = 0x7473, Q3_NODETYPE_ElementReference = 0x7265, Q3_NODETYPE_ValueRange = 0x7276,
        Q3_NODETYPE_ElementGroup = 0x6765, Q3_NODETYPE_MultiplexedPDU = 0x7578,
        Q3_NODETYPE_CyclicTiming = 0x7463, Q3_NODETYPE_AbsolutelyScheduledTriggering = 0x7361,
        Q3_NODETYPE_SignalPDU = 0x7370, Q3_NODETYPE_Cluster = 0x6C63, Q3_NODETYPE_PDUInstance = 0x6970,
        Q3_NODETYPE_MappedValueComputation = 0x766D, Q3_NODETYPE_SignalInstance = 0x6973,
        Q3_NODETYPE_MultiplexedPart = 0x7478, Q3_NODETYPE_InvalidNode = 4294967295,
        Q3_BYTEORDER_LITTLEENDIAN = 0, Q3_BYTEORDER_BIGENDIAN = 1,
        Q3_FLAG_VALID = 2147483648, Q3_FLAG_LOWERLIMIT_CLOSED = 1, Q3_FLAG_UPPERLIMIT_CLOSED = 2,
        Q3_FLAG_CONSTRAINT_VALID = 2147483648, Q3_FLAG_INTERNALVALUES = 0x40000000,
        Q3_FLAG_SIGNALDEFAULT = 0x40000003, Q3_FLAG_CANSTANDARD = 0, Q3_FLAG_CANEXTENDED = 1,
        Q3_FLAG_CANSTD_OR_EXT = 2, Q3_FLAGMASK_CAN_FRAMETYPE = 3, Q3_FLAG_CANFD_EXTDATALEN = 4,
        Q3_FLAG_CANFD_FASTDATA = 8, Q3_FLAG_CANFD_ERRORSTATEIND = 0x10, Q3_FLAG_LIN_ENH_CHECKSUM = 0x20,
        Q3_ENCODING_INVALID = 0, Q3_ENCODING_DIRECT = 1, Q3_ENCODING_1COMPL = 2, Q3_ENCODING_2COMPL = 3,
        Q3_ENCODING_IEEE = 4, Q3_ENCODING_UNPACKED_BCD = 5, Q3_ENCODING_PACKED_BCD = 6,
        Q3_ENCODING_ASCII = 7, Q3_ENCODING_TYPEMASK = 0xFFFF, Q3_ENCODING_SIGNED = 0x10000000,
        Q3_ENCODING_SIGNMASK = 0x10000000,
        Q3_VALUETYPE_DOUBLE = 0, Q3_VALUETYPE_UINT64 = 1, Q3_VALUETYPE_INT64 = 2,
        Q3_INCOMPATIBLEVALUETYPE = 4294967295, Q3_VALUEINRANGE = 0, Q3_VALUEBELOWRANGE = 1,
        Q3_VALUEABOVERANGE = 2,
        Q3_CLUSTERTYPE_INVALID = 0, Q3_CLUSTERTYPE_CAN = 1, Q3_CLUSTERTYPE_FLEXRAY = 2,
        Q3_CLUSTERTYPE_LIN = 3, Q3_CLUSTERTYPE_MAX = 3,
        Q3_ENC_MODE_OFF = 0, Q3_ENC_MODE_ONCE = 1, Q3_ENC_MODE_PERIODIC = 2,
        Q3_NUMERICSIGNAL = 0, Q3_ASCIISIGNAL = 1,
        Q3_ENTITYCLASS_CLUSTER = 1, Q3_ENTITYCLASS_CHANNEL = 2, Q3_ENTITYCLASS_ECU = 3,
        Q3_ENTITYCLASS_FRAME = 4, Q3_ENTITYCLASS_SIGNAL = 5, Q3_ENTITYCLASS_MUXPDU = 6,
        Q3_ENTITYCLASS_MUXPART = 7, Q3_ENTITYCLASS_ELSEPART = 8, Q3_ENTITYCLASS_SIGNALPDU = 9,
        Q3_ENTITYCLASS_GLOBALS = 10,
    }
    local count = 0
    for name, value in pairs(expected) do
        eq(Vexo[name], value, name)
        count = count + 1
    end
    local published = 0
    for name, value in pairs(Vexo) do
        if type(value) == "number" then published = published + 1 end
    end
    eq(published, count, "number of numeric constants")
end)

test("group-name constants are UTF-16 with the terminator, usable as arguments", function()
    local names = {
        Q3_GROUPNAME_CLUSTERS = "@clusters", Q3_GROUPNAME_ECUS = "@ECUs", Q3_GROUPNAME_PDUS = "@PDUs",
        Q3_GROUPNAME_FRAMES = "@frames", Q3_GROUPNAME_SIGNALS = "@signals",
        Q3_GROUPNAME_CODINGS = "@codings", Q3_GROUPNAME_VIEWS = "@views", Q3_VIEWNAME_ECUVIEW = "ECUView",
    }
    for name, text in pairs(names) do eq(Vexo[name], W(text), name) end
    local db = Vexo.createDb()
    local frames = db:findByElementId(Vexo.Q3_GROUPNAME_FRAMES)
    eq(frames and frames.eid, U "@frames", "default group found by its constant")
end)

test("the six metatables sit in the registry under their names", function()
    local registry = debug.getregistry()
    local db = Vexo.createDb()
    local frame = db:createFrame(W "F", 8)
    local slot = db:stringCreateSlot(1, W "x")
    local timing = db:createCyclicTiming("0xFFFFFFFFFFFFFFFF", nil)
    local encoder = db:createEncoder(nil)
    eq(getmetatable(db), registry["30B3E33A77D34390911057D0D6931EE1"], "database")
    eq(getmetatable(frame), registry["C8EE4A54E4E54077A9FBCD72A8814DD5"], "node")
    eq(getmetatable(slot), "StringSlot", "string slot (protected)")
    eq(getmetatable(timing.cycleTime), registry["65F32C4A50A54dc9A77731C64763A804"], "unsigned value")
    eq(getmetatable(encoder), registry["EFEF191813484c23AB61C23F7950931D"], "encoder")
    check.truthy(registry["E1932F8FA81D4e22B366464122243EAF"], "string slot metatable")
    check.truthy(registry["A0DB21FE8F4B4140A55D4298C005D5F5"], "signed value metatable")
end)

test("opening the module again keeps the same metatables", function()
    local registry = debug.getregistry()
    local before = registry["C8EE4A54E4E54077A9FBCD72A8814DD5"]
    package.loaded.Vexo = nil
    local again = require "Vexo"
    package.loaded.Vexo = Vexo
    eq(registry["C8EE4A54E4E54077A9FBCD72A8814DD5"], before, "node metatable")
    eq(again.version(), "Vexo version 1.0", "reopened module")
end)

test("string slot values are opaque", function()
    local db = Vexo.createDb()
    local slot = db:stringCreateSlot(1, W "x")
    eq(getmetatable(slot), "StringSlot", "getmetatable")
    eq(slot.text, nil, "any other key")
    eq(slot[1], nil, "number key")
    eq(type(slot.__index), "table", "__index is the metatable itself")
    eq(slot.__metatable, "StringSlot", "__metatable")
    check.truthy(not pcall(setmetatable, slot, {}), "the metatable is protected")
end)

test("createDb: identifier only from strings and numbers, owned database", function()
    eq(Vexo.createDb(W "Body").eid, U "Body", "identifier")
    eq(Vexo.createDb().eid, nil, "no identifier")
    eq(Vexo.createDb({}).eid, nil, "a table gives no identifier")
    eq(Vexo.createDb(true).eid, nil, "a boolean gives no identifier")
    check.raises("invalid termination character in UCS-2 string", Vexo.createDb, 12)
    local db = Vexo.createDb(W "X")
    eq(db:getNodeType(), Vexo.Q3_NODETYPE_Vexo, "node type of the database value")
end)

test("a database value collected twice destroys its database once", function()
    local db = Vexo.createDb(W "Once")
    local gc = getmetatable(db).__gc
    gc(db)
    gc(db)
    eq(check.pack(db:createFrame(W "F", 8)).n, 1, "creator on a cleared value gives one result")
    eq(db:createFrame(W "F", 8), nil, "and it is nil")
    eq(#check.collect(db:enumClusters()), 0, "enumeration of a cleared value")
    eq(db.eid, nil, "properties of a cleared value")
end)

test("many databases created and dropped are collected without trouble", function()
    for i = 1, 200 do
        local db = Vexo.createDb(W("D" .. i))
        local cluster = db:createCluster(W "C", 1)
        db:createChannel(W "CH", cluster)
        if i % 50 == 0 then collectgarbage() end
    end
    collectgarbage()
    collectgarbage()
end)

test("importDBC reads a small file into a table; a missing file gives nil and E_FAIL", function()
    local path = check.tmpfile("lua_suite_small.dbc")
    local file = assert(io.open(path, "wb"))
    file:write('VERSION ""\n\nNS_ :\n\nBS_:\n\nBU_: ECU1\n\n',
        'BO_ 291 F1: 8 ECU1\n SG_ Speed : 0|16@1+ (0.5,10) [0|300] "km/h" Vector__XXX\n\n')
    file:close()
    local db = Vexo.importDBC(W(path))
    eq(type(db), "table", "table")
    eq(db.tag, "db", "tag")
    local missing = check.pack(Vexo.importDBC(W(check.tmp .. "/no_such_file.dbc")))
    eq(missing.n, 2, "results for a missing file")
    eq(missing[1], nil, "nil")
    eq(missing[2], check.E_FAIL, "E_FAIL")
end)

test("importLDF reads a small file into a table; a missing file gives nil and E_FAIL", function()
    local path = check.tmpfile("lua_suite_small.ldf")
    local file = assert(io.open(path, "wb"))
    file:write('LIN_description_file;\nLIN_protocol_version = "2.1";\nLIN_language_version = "2.1";\n',
        'LIN_speed = 19.2 kbps;\nNodes {\n  Master: M, 5 ms, 0.1 ms;\n  Slaves: S;\n}\n',
        'Signals { A: 8, 0, M, S; }\nFrames { F: 1, M { A, 0; } }\nNode_attributes { }\nSchedule_tables { }\n')
    file:close()
    local result = check.pack(Vexo.importLDF(W(path)))
    eq(type(result[1]), "table", "table (message: " .. tostring(result[2]) .. ")")
    eq(result[1].tag, "db", "tag")
    local missing = check.pack(Vexo.importLDF(W(check.tmp .. "/no_such_file.ldf")))
    eq(missing[1], nil, "nil")
    eq(missing[2], check.E_FAIL, "E_FAIL")
end)

test("importDBC and importLDF take {tolerant = true}: the table and a warning list", function()
    local path = check.tmpfile("lua_suite_tolerant.dbc")
    local file = assert(io.open(path, "wb"))
    file:write('BU_: A\nVAL_ 1 S -1 "err";\n')
    file:close()
    eq(check.pack(Vexo.importDBC(W(path))).n, 2, "strict: nil and the message")
    eq(check.pack(Vexo.importDBC(W(path), { tolerant = false })).n, 2, "tolerant = false is strict")
    local db, warnings = Vexo.importDBC(W(path), { tolerant = true })
    eq(type(db), "table", "table")
    eq(db[2].values[-1], "err", "negative value read")
    eq(#warnings, 1, "one warning")
    eq(warnings[1].line, 2, "line")
    eq(warnings[1].column, 10, "column")
    eq(warnings[1].text, 'read negative value "-1" in a value description list', "text")

    local ldf = check.tmpfile("lua_suite_tolerant.ldf")
    file = assert(io.open(ldf, "wb"))
    file:write('LIN_description_file;\nLIN_protocol_version = "2.1";\nLIN_language_version = "2.1";\n',
        'LIN_speed = 19.2 kbps;\nNodes { Master: M, 5 ms, 0.1 ms; }\n')
    file:close()
    local lin, linWarnings = Vexo.importLDF(W(ldf), { tolerant = true })
    eq(lin[2].tag, "nodes", "nodes read")
    eq(#linWarnings, 5, "no Slaves, and no Signals, Frames, Node_attributes, Schedule_tables")

    local missing = check.pack(Vexo.importLDF(W(check.tmp .. "/no_such_file.ldf"), { tolerant = true }))
    eq(missing[1], nil, "a missing file: nil")
    eq(missing[2], check.E_FAIL, "and E_FAIL")
    check.raises("unknown option 'tolerent'", Vexo.importDBC, W(path), { tolerent = true })
    check.raises("options are named", Vexo.importLDF, W(ldf), { true })
    check.raises("table expected", Vexo.importDBC, W(path), "tolerant")
end)

return tests
