-- Database and node methods: the result shapes, the add loops and their quirks, the
-- enumerators, names and texts, string slots, qualified identifiers and the DOT dump.
local Vexo, check = require "Vexo", require "check"
local W, U, eq, pack, test = check.W, check.U, check.eq, check.pack, check.test

test("Made gives the created node; Lookup and Text give zero results unless the operation answered 0", function()
    local db = Vexo.createDb(W "DB")
    local frame = db:createFrame(W "F1", 8)
    eq(frame:getNodeType(), Vexo.Q3_NODETYPE_Frame, "a frame")
    -- A later step fails (a Frame is no cluster group): the node is still returned.
    eq(pack(db:createChannel(W "C", nil)).n, 1, "one result")
    eq(pack(db:findByElementId(W "nothing")).n, 0, "not found gives no result, as a failure does")
    local parent = pack(db:createChannel(W "CH", nil):getParent())
    check.rows {
        { parent.n, 1, "a null link found gives one result" }, { parent[1], nil, "nil" },
        { frame:getElementId(), U "F1", "Text" },
        { pack(db:getLongName(frame, 9, 9)).n, 0, "no long name: S_FALSE gives no result, as a failure does" },
    }
end)

test("Echo, Code and Pair shapes", function()
    local db = Vexo.createDb()
    local frame, channel = db:createFrame(W "F1", 8), db:createChannel(W "CH", nil)
    local failure = pack(Vexo.createDb().getParam(nil))
    check.rows {
        { db:setShortName(frame, W "Short"), U "Short", "Echo returns the text without terminator" },
        { pack(db:setShortName(nil, W "Short")).n, 0, "Echo failure gives no result" },
        { db:setLongName(frame, 9, W "Long"), U "Long", "setLongName echoes" },
        { db:setDescription(frame, 9, W "Desc"), U "Desc", "setDescription echoes" },
        { (db:getElementDetail(frame, 9, 9)), U "Long", "getElementDetail long name" },
        { select(2, db:getElementDetail(frame, 9, 9)), U "Desc", "getElementDetail description" },
        { db:setElementDetail(frame, 10, W "L10", W "D10"), 0, "setElementDetail code" },
        { db:getDescription(frame, 10, 9), U "D10", "description in language 10" },
        { frame:setParam(17), true, "setParam success" }, { frame:getParam(), 17, "getParam" },
        { failure.n, 2, "Pair failure: two results" }, { failure[1], nil, "nil" },
        { failure[2], check.E_INVALIDARG, "code" },
        { select(2, frame.setParam(nil, 1)), check.E_INVALIDARG, "setParam failure code" },
        { channel:setParent(frame), 0, "Code success" },
        { channel:setParent(nil), check.E_INVALIDARG, "Code failure is negative" },
    }
    check.truthy(check.same(db:getCollections(), db.collections), "getCollections")
    check.truthy(check.same(db.collections:getCollections(), db.collections), "on the collections node")
end)

test("add loops: argument 2 is skipped except by addClusters", function()
    local db = Vexo.createDb()
    local frame, other = db:createFrame(W "Late", 8), Vexo.createDb()
    local lonely, cluster0 = other:createFrame(W "Lonely", 8), db:createCluster(W "C0", 1)
    -- A frame of another database is skipped by the operation: nothing is added.
    check.rows {
        { db:addFrames(cluster0), 0, "argument 2 is not even checked" },
        { db:addFrames(lonely), 0, "one frame as argument 2 is not read" },
        { db:addFrames(nil, lonely), 0, "argument 3 is read, the foreign frame skipped" },
        { check.ids(check.collect(db:enumFrames())), "Late", "frames" },
        { other:addClusters(other:createCluster(W "C2", 1)), 0, "addClusters reads argument 2" },
        { other:addClusters(), 0, "no element arguments" },
        { db.collections:addFrames(nil, frame, frame), 0, "on the collections node" },
    }
    check.raises("Frame expected, got Cluster", db.addFrames, db, nil, cluster0)
    check.raises("Vexo or DatabaseCollections expected", frame.addFrames, frame, nil, frame)
end)

test("add loops stop at the first failure; addSignalInstances goes on", function()
    local db = Vexo.createDb()
    local pdu, instance = db:createSignalPDU(W "P", 8, nil), db:createSignalInstance(W "SI", 0, 0, 0, nil, nil)
    local part = db:createMultiplexedPart(W "Part", 1, nil)
    -- With a null owner every call fails: a stopping loop never reads the later
    -- arguments, the continuing one checks them all.
    eq(pdu.addDynamicParts(nil, part, "not a node"), check.E_INVALIDARG, "stops at the first failure")
    check.raises("Q3Node expected", pdu.addSignalInstances, nil, instance, "not a node")
    eq(pdu:addSignalInstances(instance, instance), 0, "all added")
    eq(#check.collect(pdu:enumSignalInstances()), 2, "listed twice")
end)

test("an add loop with a wrongly classed node raises after adding the earlier ones", function()
    local db = Vexo.createDb()
    local group, coding = db:createElementGroup(W "G", nil, nil), db:createCoding(W "K", 8, 1, nil)
    local signal, a = db:createSignal(W "S", 0, 0, 0, 0, nil), db:createIdentityComputation(W "A")
    local message = check.raises("Computation expected, got Signal",
        coding.addInternalToPhysicalComputations, coding, a, signal, a)
    check.truthy(message:find("#3", 1, true) or message:find("#2", 1, true), "names the argument")
    eq(check.ids(check.collect(coding:enumInternalToPhysicalComputations())), "A", "the first was added")
    eq(group:appendChildren(signal, coding, a), 0, "any node goes into a group")
    eq(check.ids(check.collect(group:enumChildren())), "S,K,A", "appended in order")
    eq(group:insertChildren(a), 0, "insertChildren")
end)

test("enumerators: empty, cleared database, nil owner, wrong class", function()
    local db = Vexo.createDb()
    eq(#check.collect(db:enumClusters()), 0, "an empty database runs zero times")
    local cluster = db:createCluster(W "B", 1)
    db:createCluster(W "A", 1)
    local failed = pack(cluster.enumChildren(nil))
    check.rows {
        { check.ids(check.collect(db:enumClusters())), "A,B", "by identifier" },
        { check.ids(check.collect(db.collections:enumClusters())), "A,B", "from the collections node" },
        { failed.n, 2, "enumChildren without a group" }, { failed[2], check.E_INVALIDARG, "its code" },
        { #check.collect(cluster.enumFrameTriggerings(nil)), 0, "other enumerators just yield nothing" },
    }
    check.raises("Channel expected, got Cluster", cluster.enumFrameTriggerings, cluster)
end)

test("every enumeration method walks its list", function()
    local n = check.network()
    local db, identified = n.db, {}
    for node in db:enumIdentElements() do identified[check.A(node.eid)] = true end
    for _, id in ipairs { "CAN1", "CH1", "T2", "kmh", "ParkText", "SI_Level", "PT1", "D1", "P2" } do
        check.truthy(identified[id], "enumIdentElements lists " .. id)
    end
    local cases = {
        { "enumClusters", db, "CAN1" }, { "enumECUs", db, "Engine" }, { "enumFrames", db, "F1,F2" },
        { "enumCodings", db, "GearCoding,LevelCoding,NameCoding,SpeedCoding,TempCoding" },
        { "enumPDUs", db, "M1,P1,P2" }, { "enumSignals", db, "Gear,Level,Name,Speed,Temp" }, { "enumViews", db, "" },
        { "enumChildren", n.cluster, "CH1" }, { "enumParents", n.p1, "PI1" },
        { "enumSignalInstances", n.p1, "SI_Speed,SI_Gear,SI_Temp,SI_Name" }, { "enumDynamicParts", n.m1, "D1" },
        { "enumFrameTriggerings", n.channel, "T1,T2" }, { "enumPDUTriggerings", n.channel, "PT1" },
        { "enumPDUInstances", n.f2, "PI2" }, { "enumInternalToPhysicalComputations", n.speedCoding, "Lin" },
        { "enumPhysicalToInternalComputations", n.speedCoding, "LinBack" },
    }
    for _, case in ipairs(cases) do eq(check.ids(check.collect(case[2][case[1]](case[2]))), case[3], case[1]) end
    local segments, ranges = check.collect(n.d1:enumSegments()), check.collect(n.linear:enumRanges())
    check.truthy(#segments == 1 and segments[1].bitlen == 32, "enumSegments: the one segment record")
    check.truthy(#ranges == 1 and ranges[1].upperLimit == 65535, "enumRanges: the one range record")
end)

test("links: parts, frames, channels, sources, signals, units", function()
    local n = check.network()
    local db = n.db
    local part, ref = db:createMultiplexedPart(W "S", 0, n.m1), db:createElementReference(W "R", nil)
    local function linked(rows)  -- { node, getter, node expected }
        for _, row in ipairs(rows) do check.truthy(check.same(row[1][row[2]](row[1]), row[3]), row[2]) end
    end
    linked { { n.t1, "getFrame", n.f1 }, { n.t1, "getChannel", n.channel }, { n.t1, "getSourceECU", n.ecu },
        { n.speed, "getUnit", n.unit }, { n.speedCoding, "getReference", n.unit },
        { n.speed, "getGroup", db.collections.signals } }
    -- { node, setter, argument }: each answers 0.
    local sets = {
        { n.m1, "setStaticPart", part }, { n.m1, "setElsePart", part }, { n.t1, "setFrame", n.f2 },
        { n.t1, "setSourceECU", nil }, { n.t1, "setChannel", n.channel }, { n.siTemp, "setSignal", n.gear },
        { ref, "setReference", n.f1 }, { n.p2, "addParents", n.pi1 }, { n.channel, "addPDUTriggerings", n.pt1 },
        { n.f1, "addPDUInstances", n.pi2 }, { n.channel, "addFrameTriggerings", n.t2 },
    }
    for _, row in ipairs(sets) do eq(row[1][row[2]](row[1], row[3]), 0, row[2]) end
    linked { { n.m1, "getStaticPart", part }, { n.m1, "getElsePart", part }, { ref, "getReference", n.f1 } }
    check.truthy(check.same(n.t1.frame, n.f2), "frame changed")
    eq(n.t1.sourceEcu, nil, "no source")
    check.truthy(check.same(n.siTemp.signal, n.gear), "signal changed")
    check.truthy(check.same(n.cluster:findChildByElementId(W "CH1"), n.channel), "findChildByElementId")
    check.raises("MultiplexedPDU expected, got Signal", n.speed.getStaticPart, n.speed)
    eq(n.d1:addSegment(1, 7, 4), 0, "addSegment")
    eq(#check.collect(n.d1:enumSegments()), 2, "segments after addSegment")
end)

test("creators take their arguments in order and check classes", function()
    local n = check.network()
    local db = n.db
    local pi = db:createPDUInstance(W "PIc", 1, 5, 6, n.p1, n.channel)
    check.truthy(pi.byteOrder == 1 and pi.updateBitpos == 6, "byte order and update bit position in order")
    check.truthy(check.same(pi.parent, n.channel), "a channel may own a PDU instance")
    check.raises("Channel or Frame expected", db.createPDUInstance, db, W "X", 0, 0, 0, n.p1, n.cluster)
    check.raises("PDUTriggering or IdentifierBasedTriggering expected",
        db.createEventControlledTiming, db, 5, n.t2)
    -- The encoding is checked after the unit argument.
    check.raises("UnitSpec expected, got Frame", db.createCoding, db, W "K", 8, 0, n.f1)
    check.raises("invalid encoding constant", db.createCoding, db, W "K", 8, 0, n.unit)
    check.raises("E1932F8FA81D4e22B366464122243EAF", db.createMappedTextComputation, db, W "T", nil)
    local mux = db:createMultiplexedPDU(W "MX", 16, 1, 2, 3, "0x80000000", nil)
    local unit, group = db:createUnitSpec(W "U", 7, W "m"), db:createElementGroup(W "Sub", n.cluster, n.f1)
    check.rows {
        { mux.defaultSwitchCode, 2147483648, "default switch code" }, { mux.switchByteOrder, 1, "switch byte order" },
        { db:getDisplayName(unit, 7, 7), U "m", "display name" },
        { db:setDisplayName(unit, 8, W "metre"), U "metre", "setDisplayName echoes" },
        { check.same(group.reference, n.f1), true, "group reference" },
        { db:createMappedValueComputation(W "MV", 3.5).value, 3.5, "mapped value" },
        { db:addECUs(nil, db:createECU(W "Gateway")), 0, "addECUs" }, { db:addViews(nil, group), 0, "addViews" },
        { check.ids(check.collect(db:enumViews())), "Sub", "views" }, { db:addPDUs(nil, n.p1), 0, "addPDUs" },
        { db:addSignals(nil, n.speed), 0, "addSignals" }, { db:addCodings(nil, n.tempCoding), 0, "addCodings" },
    }
    check.raises("30B3E33A77D34390911057D0D6931EE1", db.createFrame, db.collections, W "F", 8)
end)

test("string slots: create, alternatives, lookup", function()
    local db = Vexo.createDb()
    local slot, code = db:stringCreateSlot(7, W "seven")
    local slotA, codeA = db:stringCreateSlotA(7, "eight-bit")
    local none, failed = db:stringCreateSlotA(7, nil)
    check.rows {
        { code, 0, "stringCreateSlot code" }, { getmetatable(slot), "StringSlot", "slot value" },
        { codeA, 0, "stringCreateSlotA code" }, { db:stringLookup(slotA, 7, 7), U "eight-bit", "8-bit text widened" },
        { db:stringAddAlternative(slot, 8, W "acht"), 0, "stringAddAlternative" },
        { db:stringAddAlternativeA(slot, 9, "neuf"), 0, "stringAddAlternativeA" },
        { db:stringLookup(slot, 9, 7), U "neuf", "language 9" },
        { getmetatable(none), "StringSlot", "a slot value even when none was made" },
        { failed, check.E_INVALIDARG, "and the failure code" },
        { pack(db:stringLookup(none, 7, 7)).n, 0, "looking up the empty slot" },
    }
    check.raises("E1932F8FA81D4e22B366464122243EAF", db.stringLookup, db, db, 7, 7)
end)

test("qualified identifiers", function()
    local db = Vexo.createDb(W "Car")
    local frame, failure = db:createFrame(W "Door", 8), pack(db:getQualifiedId(nil))
    local dbId, elementId = db.splitQualifiedId(W "Car::Door")
    local onlyDb, onlyElement = db.splitQualifiedId(W "Door")
    local colon, empty = pack(db:splitQualifiedId()), pack(db.splitQualifiedId(""))
    check.rows {
        { db:getQualifiedId(frame), U "Car::Door", "getQualifiedId" }, { failure[1], nil, "failure nil" },
        { failure[2], check.E_INVALIDARG, "failure code" }, { dbId, U "Car", "database part" },
        { elementId, U "Door", "element part" }, { onlyDb, "", "an unwritten output is the empty string" },
        { onlyElement, U "Door", "element alone" },
        { colon.n, empty.n, "the colon syntax reads the database value as the empty text" },
        { colon[1], empty[1], "same first result" }, { colon[2], empty[2], "same second result" },
    }
end)

test("dumpDot writes a DOT file of the database", function()
    local n, path = check.network(), check.tmpfile("lua_suite_dump.dot")
    eq(n.db:dumpDot(W(path), 9, 9), 0, "dumpDot")
    check.truthy(assert(io.open(path, "rb")):read("*a"):find("digraph", 1, true), "a digraph")
end)
