-- Node properties: the attribs iterator, methods winning over properties, and the list properties as iterators.
local Vexo, check = require "Vexo", require "check"
local W, U, eq, test = check.W, check.U, check.eq, check.test

test("the iterator of attribs ends for good and refuses another class's node", function()
    local db = Vexo.createDb()
    local frame = db:createFrame(W "F", 8)
    local iterator = Vexo.attribs(frame)
    for _ = 1, 12 do iterator(frame) end
    eq(check.pack(iterator(frame)).n, 0, "after the last entry nothing is returned")
    local fresh = Vexo.attribs(frame)
    check.raises("node of another class", fresh, db:createCluster(W "C", 1))
    eq(check.pack(fresh(nil)).n, 0, "nil as the node ends the walk")
end)

test("methods win over properties; properties read fields, not getters", function()
    local db = Vexo.createDb(W "DB")
    local frame = db:createFrame(W "F1", 8)
    check.rows {
        { type(frame.getShortName), "function", "a method name gives the method" },
        { frame.shortname, nil, "shortname property without a short name" },
        { db:getShortName(frame), U "F1", "the getter falls back to the identifier" },
        { db:setShortName(frame, W "short") and frame.shortname, U "short", "shortname property" },
        { frame.nosuchproperty, nil, "unknown property" }, { frame[{}], nil, "table key" },
        { frame[true], nil, "boolean key" }, { frame[1], nil, "number key" },
        { frame.__gc, nil, "node values have no __gc" }, { type(db.__gc), "function", "database values have one" },
    }
end)

test("ranges visit every value range in insertion order; none runs zero times", function()
    local computation = Vexo.createDb():createIdentityComputation(W "I")
    eq(#check.collect(computation.ranges), 0, "no ranges")
    for i = 1, 40 do computation:addRange(i, i + 0.5, i % 4) end
    local lower = {}
    for range in computation.ranges do lower[#lower + 1] = range.lowerLimit end
    eq(#lower, 40, "every range")
    for i = 1, 40 do eq(lower[i], i, "range " .. i) end
end)
