-- The module table, its constants and metatables, and the userdata kinds.
local Vexo, check = require "Vexo", require "check"
local W, U, eq, test = check.W, check.U, check.eq, check.test

test("require gives the module table, also registered as the global Vexo", function()
    eq(package.loaded.Vexo, Vexo, "package.loaded.Vexo")
    eq(rawget(_G, "Vexo"), Vexo, "global Vexo")
    eq(Vexo.version(), "Vexo version 1.0", "version")
end)

-- The public header beside the suite: include/vexo/constants.h.
local header = debug.getinfo(1, "S").source:match("^@(.*)/[^/]*$") .. "/../../include/vexo/constants.h"

test("numeric constants carry the header's values, unsigned; class codes stay unpublished", function()
    local file = assert(io.open(header, "rb"))
    local defined, published = 0, 0
    for name, value in file:read("*a"):gmatch("#define (Q3_[%w_]+)%s+%(?(%-?%w+)") do
        if name:find("^Q3_CLASS_") then
            eq(Vexo[name], nil, name)
        else
            local number = assert(tonumber((value:gsub("u$", ""))), name .. " " .. value)
            eq(Vexo[name], number < 0 and number + 2 ^ 32 or number, name)
            defined = defined + 1
        end
    end
    file:close()
    for _, value in pairs(Vexo) do published = published + (type(value) == "number" and 1 or 0) end
    eq(published, defined, "number of numeric constants")
    check.truthy(defined > 80, "constants read from " .. header)
end)

test("group-name constants are UTF-16 with the terminator, usable as arguments", function()
    local names = {
        Q3_GROUPNAME_CLUSTERS = "@clusters", Q3_GROUPNAME_ECUS = "@ECUs", Q3_GROUPNAME_PDUS = "@PDUs",
        Q3_GROUPNAME_FRAMES = "@frames", Q3_GROUPNAME_SIGNALS = "@signals",
        Q3_GROUPNAME_CODINGS = "@codings", Q3_GROUPNAME_VIEWS = "@views", Q3_VIEWNAME_ECUVIEW = "ECUView",
    }
    for name, text in pairs(names) do eq(Vexo[name], W(text), name) end
    eq(Vexo.createDb():findByElementId(Vexo.Q3_GROUPNAME_FRAMES).eid, U "@frames", "default group found by it")
end)

test("the six metatables sit in the registry under their names; string slots are opaque", function()
    local registry, db = debug.getregistry(), Vexo.createDb()
    local slot = db:stringCreateSlot(1, W "x")
    check.rows {
        { getmetatable(db), registry["30B3E33A77D34390911057D0D6931EE1"], "database" },
        { getmetatable(db:createFrame(W "F", 8)), registry["C8EE4A54E4E54077A9FBCD72A8814DD5"], "node" },
        { getmetatable(db:createCyclicTiming("0xFFFFFFFFFFFFFFFF", nil).cycleTime),
            registry["65F32C4A50A54dc9A77731C64763A804"], "unsigned value" },
        { getmetatable(db:createEncoder(nil)), registry["EFEF191813484c23AB61C23F7950931D"], "encoder" },
        { getmetatable(slot), "StringSlot", "string slot (protected)" }, { slot.text, nil, "any other key" },
        { slot[1], nil, "number key" }, { type(slot.__index), "table", "__index is the metatable itself" },
        { slot.__metatable, "StringSlot", "__metatable" },
        { type(registry["E1932F8FA81D4e22B366464122243EAF"]), "table", "string slot metatable" },
        { pcall(setmetatable, slot, {}), false, "the metatable is protected" },
    }
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

test("createDb: identifier only from strings and numbers, owned database", function()
    check.rows {
        { Vexo.createDb(W "Body").eid, U "Body", "identifier" }, { Vexo.createDb().eid, nil, "no identifier" },
        { Vexo.createDb({}).eid, nil, "a table gives no identifier" },
    }
    check.raises("invalid termination character in UCS-2 string", Vexo.createDb, 12)
end)

test("a database value collected twice destroys its database once", function()
    local db = Vexo.createDb(W "Once")
    local gc = getmetatable(db).__gc
    gc(db)
    gc(db)
    check.rows {
        { check.pack(db:createFrame(W "F", 8)).n, 1, "creator on a cleared value gives one result" },
        { db:createFrame(W "F", 8), nil, "and it is nil" },
        { #check.collect(db:enumClusters()), 0, "enumeration of a cleared value" },
        { db.eid, nil, "properties of a cleared value" },
    }
end)

test("importDBC and importLDF read a file into a table, take {tolerant = true} and give nil and E_FAIL for a missing "
    .. "file", function()
    local dbc = check.write("lua_suite_tolerant.dbc", 'BU_: A\nVAL_ 1 S -1 "err";\n')
    local ldf = check.write("lua_suite_tolerant.ldf", 'LIN_description_file;\nLIN_protocol_version = "2.1";\n',
        'LIN_language_version = "2.1";\nLIN_speed = 19.2 kbps;\nNodes { Master: M, 5 ms, 0.1 ms; }\n')
    local db, warnings = Vexo.importDBC(W(dbc), { tolerant = true })
    local lin, linWarnings = Vexo.importLDF(W(ldf), { tolerant = true })
    check.rows {
        { check.pack(Vexo.importDBC(W(dbc))).n, 2, "strict: nil and the message" },
        { check.pack(Vexo.importDBC(W(dbc), { tolerant = false })).n, 2, "tolerant = false is strict" },
        { db.tag, "db", "the table" }, { db[2].values[-1], "err", "negative value read" },
        { #warnings, 1, "one warning" }, { warnings[1].line, 2, "line" }, { warnings[1].column, 10, "column" },
        { warnings[1].text, 'read negative value "-1" in a value description list', "text" },
        { lin.tag, "db", "LDF table" }, { lin[2].tag, "nodes", "nodes read" },
        { #linWarnings, 5, "no Slaves, and no Signals, Frames, Node_attributes, Schedule_tables" },
    }
    for _, read in ipairs { Vexo.importDBC, Vexo.importLDF } do
        local missing = check.pack(read(W(check.tmp .. "/no_such_file"), { tolerant = true }))
        check.truthy(missing.n == 2 and missing[1] == nil and missing[2] == check.E_FAIL, "missing: nil, E_FAIL")
    end
    check.raises("unknown option 'tolerent'", Vexo.importDBC, W(dbc), { tolerent = true })
    check.raises("options are named", Vexo.importLDF, W(ldf), { true })
    check.raises("table expected", Vexo.importDBC, W(dbc), "tolerant")
end)
