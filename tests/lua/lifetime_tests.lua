-- Lifetimes: a database made by createDb lives as long as anything made from it is
-- reachable (node values, iterator closures of its lists, the decode iterator, attribs),
-- even when the database value itself is dropped in the middle of a loop.
local Vexo, check = require "Vexo", require "check"
local W, A, eq, test = check.W, check.A, check.eq, check.test

-- A database nobody holds but what is made from it.
local function loadDb(frames)
    local db = Vexo.createDb(W "DB")
    for i = 1, frames do db:createFrame(W(string.format("F%03d", i)), 8) end
    return db
end

test("a loop over a database that only its iterator holds", function()
    local seen = 0
    for frame in loadDb(40):enumFrames() do
        check.gc()
        seen = seen + 1
        eq(A(frame:getElementId()), string.format("F%03d", seen), "frame in identifier order")
    end
    eq(seen, 40, "every frame")
end)

test("node values, list properties and attribs keep their database", function()
    local frame = loadDb(3):findByElementId(W "F002")
    check.gc()
    eq(A(frame:getElementId()), "F002", "a node value alone")
    local group = frame.group
    check.gc()
    local names = {}
    for member in group.children do
        check.gc()
        names[#names + 1] = A(member.eid)
    end
    eq(table.concat(names, ","), "F001,F002,F003", "the list of a property")
    local count = 0
    for name, value in Vexo.attribs(loadDb(1):findByElementId(W "F001")) do
        check.gc()
        count = count + 1
        if name == "eid" then eq(A(value), "F001", "eid through attribs") end
    end
    check.truthy(count > 5, "every property")
end)

test("the decode iterator keeps the channel's database", function()
    local data, names = string.char(0x20, 0x03, 0x05, 0xFE, 0x41, 0x42, 0x43, 0x44), {}
    for signal, _, _, triggering, instance in check.network().channel:decodeMessage(0x123, 0, data) do
        check.gc()
        names[#names + 1] = A(signal:getElementId())
        eq(A(triggering:getElementId()), "T1", "triggering")
        check.truthy(instance:getElementId() ~= nil, "instance")
    end
    eq(table.concat(names, ","), "Speed,Gear,Temp,Name", "every signal")
end)

test("a node of another database is not taken, so it may go", function()
    local group, other = Vexo.createDb(W "A"):createElementGroup(W "G", nil, nil), loadDb(1)
    local foreign = other:findByElementId(W "F001")
    group:insertChildren(foreign)
    group:appendChildren(foreign)
    other, foreign = nil, nil
    check.gc()
    eq(#check.collect(group:enumChildren()), 0, "no member from the other database")
end)
