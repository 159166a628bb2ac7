-- Wrong argument types never crash: every method of every metatable and every module function is called with each kind
-- of wrong value in each argument position, under pcall. Any answer is fine (a Lua error or a result); the process must
-- survive, and the model must stay usable afterwards.
local Vexo, check = require "Vexo", require "check"
local W, eq, test = check.W, check.eq, check.test

local function wrongValues(n)
    local other = Vexo.createDb()
    return {
        { "nil", nil }, { "true", true }, { "table", {} }, { "function", print }, { "odd string", "abc" },
        { "even string", "ab" }, { "empty UTF-16 text", W "" }, { "number", 3.5 }, { "negative number", -1 },
        { "huge number", 2 ^ 70 }, { "NaN", 0 / 0 }, { "coroutine", coroutine.create(function() end) },
        { "file", io.stdout }, { "proxy with metatable", newproxy(true) },
        { "proxy without metatable", newproxy(false) }, { "string slot", n.parkText },
        { "internal value", n.cyclic.cycleTime }, { "encoder", n.db:createEncoder(nil) }, { "database", n.db },
        { "other database", other }, { "node of another database", other:createFrame(W "O", 8) },
        { "segment record", n.d1:enumSegments()() }, { "range record", n.linear:enumRanges()() }, { "frame", n.f1 },
        { "signal", n.speed }, { "channel", n.channel }, { "timing", n.cyclic },
    }
end

-- Methods that would end the test's own objects are exercised elsewhere.
local skipped = { __gc = true, __index = true }

local function methodsOf(metatable)
    local names = {}
    for name, value in pairs(metatable) do
        if type(value) == "function" and not skipped[name] then names[#names + 1] = name end
    end
    table.sort(names)
    return names
end

local function hammer(fn, self, positions, values)
    for position = 1, positions do
        for _, wrong in ipairs(values) do
            local args = { self }
            args[position] = wrong[2]
            pcall(fn, unpack(args, 1, 10))
        end
    end
    return positions * #values
end

test("every node, database and encoder method survives wrong values in every position", function()
    local n = check.network()
    local values, registry = wrongValues(n), debug.getregistry()
    local selves = {
        { registry["C8EE4A54E4E54077A9FBCD72A8814DD5"], n.f1 }, { registry["30B3E33A77D34390911057D0D6931EE1"], n.db },
        { registry["EFEF191813484c23AB61C23F7950931D"], n.db:createEncoder(n.channel) },
    }
    local calls, methods = 0, 0
    for _, entry in ipairs(selves) do
        for _, name in ipairs(methodsOf(entry[1])) do
            calls = calls + hammer(entry[1][name], entry[2], 10, values)
            methods = methods + 1
        end
    end
    check.truthy(methods > 120 and calls > 30000, "methods exercised: " .. methods .. ", calls made: " .. calls)
    eq(check.A(n.db:findByElementId(W "Speed").eid), "Speed", "the model still answers")
end)

test("module functions and property access survive wrong values", function()
    local n = check.network()
    local values = wrongValues(n)
    for _, name in ipairs { "createDb", "importDBC", "importLDF", "XSLtransform", "attribs", "version" } do
        hammer(Vexo[name], nil, 3, values)
    end
    local index = getmetatable(n.f1).__index
    for _, wrong in ipairs(values) do
        pcall(index, wrong[2], "eid")
        pcall(index, n.f1, wrong[2])
        local ok, iterator = pcall(Vexo.attribs, wrong[2])
        if ok and type(iterator) == "function" then
            for _, other in ipairs(values) do pcall(iterator, other[2]) end
        end
    end
    local tostringUnsigned = getmetatable(n.cyclic.cycleTime).__tostring
    for _, wrong in ipairs(values) do pcall(tostringUnsigned, wrong[2]) end
end)

test("a wrong node class names both classes; wrong kinds name the expected kind", function()
    local n = check.network()
    local rows = {
        { "Frame expected, got Channel", n.db.createIdentifierBasedTriggering, n.db, W "T", 1, 0, n.channel },
        { "Cluster expected, got Frame", n.db.createChannel, n.db, W "C", n.f1 },
        { "ElementGroup expected, got Signal", n.db.createElementGroup, n.db, W "G", n.speed },
        { "ElementChild expected, got Frame", n.f1.getParent, n.f1 },
        { "Q3Node expected, got string", n.f1.getParent, "frame" },
        { "Q3Node expected, got userdata", n.f1.getNodeType, io.stdout },
        { "Q3Node expected, got userdata", n.f1.getNodeType, newproxy(false) },
    }
    for _, row in ipairs(rows) do
        local message = check.raises(row[1], row[2], unpack(row, 3))
        check.truthy(message:find("bad argument", 1, true), row[1] .. ": framed as an argument error")
    end
end)
