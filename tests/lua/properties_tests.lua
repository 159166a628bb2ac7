-- Node properties: names and order per class (attribs), what each reads, methods
-- winning over properties, and the list properties as iterators.
local Vexo = require "Vexo"
local check = require "check"
local W, U, eq = check.W, check.U, check.eq

local tests = {}
local function test(name, fn) tests[#tests + 1] = { name, fn } end

local two = "nodetype tag "
local five = two .. "eid group param "
local eight = five .. "shortname longname description "
local nine = eight .. "parent "
local ten = nine .. "reference "
local triggering = ten .. "children channel frame sourceEcu flags "

local expectedNames = {
    ElementReference = ten,
    Vexo = ten .. "collections",
    ElementGroup = ten .. "children",
    DatabaseCollections = ten .. "children identElements clusters ECUs PDUs frames signals codings views",
    Cluster = ten .. "children clusterType",
    AbsolutelyScheduledTriggering = triggering .. "slotId baseCycle repetition",
    IdentifierBasedTriggering = triggering .. "identifier",
    MaskedIdentifierTriggering = triggering .. "mask code",
    PDUTriggering = ten .. "children",
    SignalInstance = ten .. "signal byteOrder bitpos updateBitpos",
    Signal = eight .. "signalInstances flags defaultValue minValue maxValue coding",
    Coding = eight .. "unit bitlen encoding internalToPhysicalCompus physicalToInternalCompus",
    PDUInstance = ten .. "byteOrder bitpos updateBitpos",
    MultiplexedPart = ten .. "switchCode segments",
    Channel = nine .. "frameTriggerings PDUTriggerings PDUInstances",
    Frame = eight .. "length PDUInstances",
    UnitSpec = five .. "displayName",
    IdentityComputation = five .. "ranges",
    LinearComputation = five .. "ranges scale offset",
    MappedTextComputation = five .. "ranges textvalue",
    MappedValueComputation = five .. "ranges value",
    SignalPDU = eight .. "bitlen triggerings parents signalInstances",
    MultiplexedPDU = eight .. "bitlen triggerings parents switchByteOrder switchPosition switchLength "
        .. "defaultSwitchCode dynamicParts staticPart elsePart",
    EventControlledTiming = two .. "debounceTime",
    CyclicTiming = two .. "cycleTime",
    Segment = two .. "byteOrder bitpos bitlen",
    ValueRange = two .. "lowerLimit upperLimit flags",
}

-- One node of every class that can have instances, keyed by class name.
local function oneOfEach()
    local n = check.network()
    local db = n.db
    local nodes = {
        Vexo = db, DatabaseCollections = db.collections, Cluster = n.cluster, Channel = n.channel,
        IdentifierBasedTriggering = n.t1, MaskedIdentifierTriggering = n.t2, PDUTriggering = n.pt1,
        SignalInstance = n.siSpeed, Signal = n.speed, Coding = n.speedCoding, PDUInstance = n.pi1,
        MultiplexedPart = n.d1, Frame = n.f1, UnitSpec = n.unit, LinearComputation = n.linear,
        MappedTextComputation = n.park, SignalPDU = n.p1, MultiplexedPDU = n.m1, CyclicTiming = n.cyclic,
    }
    nodes.ElementReference = db:createElementReference(W "Ref", n.f1)
    nodes.ElementGroup = db:createElementGroup(W "View", nil, n.ecu)
    nodes.AbsolutelyScheduledTriggering =
        db:createAbsolutelyScheduledTriggering(W "AST", 11, 12, 13, 14, n.f1, n.ecu, n.channel)
    nodes.IdentityComputation = db:createIdentityComputation(W "Id")
    nodes.MappedValueComputation = db:createMappedValueComputation(W "MV", 7.25)
    nodes.EventControlledTiming = db:createEventControlledTiming(30, n.t1)
    nodes.Segment = n.d1:enumSegments()()
    nodes.ValueRange = n.linear:enumRanges()()
    return nodes, n
end

test("attribs lists every property of every class in order, values equal to indexing", function()
    local nodes = oneOfEach()
    local classes = 0
    for class, expected in pairs(expectedNames) do
        local node = nodes[class]
        check.truthy(node, "a node of class " .. class)
        eq(check.A(node.tag), class, "tag of the " .. class)
        local iterator, state, control = Vexo.attribs(node)
        eq(state, node, class .. ": second value is the node itself")
        eq(control, nil, class .. ": third value")
        local names = {}
        for name, value in iterator, state, control do
            names[#names + 1] = name
            if type(value) ~= "userdata" and type(value) ~= "function" then
                eq(value, node[name], class .. "." .. name)
            else
                eq(type(node[name]), type(value), class .. "." .. name .. " kind")
            end
        end
        eq(table.concat(names, " "), (expected:gsub(" $", "")), class)
        classes = classes + 1
    end
    eq(classes, 27, "classes with properties")
end)

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

test("link properties give node values or nil; slots without text look up nothing", function()
    local n = check.network()
    eq(n.channel.parent, nil, "a channel's parent before setParent")
    n.channel:setParent(n.cluster)
    check.truthy(check.same(n.channel.parent, n.cluster), "the same node after setParent")
    eq(getmetatable(n.f1.description), "StringSlot", "description slot without text")
    eq(check.pack(n.db:stringLookup(n.f1.description, 9, 9)).n, 0, "a slot without text looks up nothing")
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

return tests
