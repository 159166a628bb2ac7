-- Lua fuzz script for value lifetimes: builds random models in pairs of databases, hands nodes and slots of one
-- database to the other's methods, and runs iterator loops (enumerations, list properties, attribs, decodeMessage, the
-- encoder) that drop their database values at random points and collect garbage meanwhile. Run by scripts/fuzz.sh in
-- the sanitized test host: a value that outlives its database shows as a use after free there. Arguments: seconds to
-- run, seed. Ends with one line of statistics.
local Vexo = require "Vexo"

-- The test host passes its arguments in the global arg only, not as the chunk's varargs.
local seconds, seed = tonumber(arg[1]) or 10, tonumber(arg[2]) or os.time()
math.randomseed(seed)
local random = math.random

local stats = { models = 0, loops = 0, drops = 0, collections = 0, reads = 0, signals = 0, frames = 0,
                foreign = 0 }

local function W(text) return (text:gsub(".", "%0\0")) .. "\0\0" end
local function A(text) return text and (text:gsub("(.)%z", "%1")) end

local function maybeCollect() if random(4) == 1 then collectgarbage(); stats.collections = stats.collections + 1 end end
local function isNode(value) return type(value) == "userdata" and pcall(function() return value:getNodeType() end) end

-- Reads every property of a node, following list properties one level down. Identifiers
-- of a database's own elements all begin with its prefix.
local function read(node, prefix, depth)
    stats.reads = stats.reads + 1
    for name, value in Vexo.attribs(node) do
        local text = name == "eid" and value ~= nil and prefix ~= nil and A(value) or ""
        if text ~= "" and text:sub(1, 1) ~= prefix and text:sub(1, 1) ~= "@" then
            error(string.format("seed %d: element %q reached from a database with prefix %s", seed, text, prefix))
        end
        if type(value) == "function" and depth > 0 then
            for entry in value do maybeCollect(); if isNode(entry) then read(entry, prefix, depth - 1) end end
        end
    end
end

-- A random model; the database value is returned in a holder table, so that loops can drop the only reference to it.
local function build(prefix)
    local db = Vexo.createDb(W(prefix .. "db"))
    local n = { db = db, prefix = prefix, all = {}, slots = {}, triggerings = {}, signals = {} }
    local function keep(node) n.all[#n.all + 1] = node; return node end
    local function id() return W(prefix .. random(0, 30)) end
    local function pick() return #n.all > 0 and n.all[random(#n.all)] or nil end
    n.cluster = keep(db:createCluster(id(), Vexo.Q3_CLUSTERTYPE_CAN))
    n.channel = keep(db:createChannel(id(), n.cluster))
    for _ = 1, random(1, 4) do
        local length = random(1, 8)
        local frame = keep(db:createFrame(id(), length))
        local triggering = keep(db:createIdentifierBasedTriggering(id(), random(0, 7), 2, frame, nil, n.channel))
        n.triggerings[#n.triggerings + 1] = triggering
        local pdu, holds
        if random(3) == 1 then
            pdu = keep(db:createMultiplexedPDU(id(), 8 * length, 0, random(0, 8), random(0, 4), 0, nil))
            local part = keep(db:createMultiplexedPart(id(), random(0, 3), pdu))
            pdu:addDynamicParts(part)
            if random(2) == 1 then pdu:setStaticPart(part) end
            part:addSegment(0, random(0, 16), random(0, 32))
            holds = keep(db:createSignalPDU(id(), 32, part))
            n.inner = holds
        else
            pdu = keep(db:createSignalPDU(id(), 8 * length, nil))
            holds = pdu
        end
        keep(db:createPDUInstance(id(), 0, 0, -1, pdu, frame))
        local pduTriggering = keep(db:createPDUTriggering(id(), pdu, n.channel))
        if random(2) == 1 then keep(db:createCyclicTiming(random(1, 100), pduTriggering)) end
        local coding = keep(db:createCoding(id(), random(1, 16), random(1, 7), nil))
        local computation = keep(db:createLinearComputation(id(), 0.5, random(0, 10)))
        computation:addRange(-1e9, 1e9, 3)
        coding:addInternalToPhysicalComputations(computation)
        coding:addPhysicalToInternalComputations(computation)
        local slot = db:stringCreateSlot(random(0, 3), W "text")
        n.slots[#n.slots + 1] = slot
        coding:addInternalToPhysicalComputations(keep(db:createMappedTextComputation(id(), slot)))
        local signal = keep(db:createSignal(id(), 0, random(0, 9), 0, 100, coding))
        n.signals[#n.signals + 1] = signal
        keep(db:createSignalInstance(id(), random(0, 1), random(0, 8 * length), -1, signal,
            n.inner ~= nil and random(2) == 1 and n.inner or holds))
    end
    local ok, made = pcall(db.createElementGroup, db, id(), nil, pick())
    local group = keep(ok and made or db:createElementGroup(id(), nil, nil))
    n.group = group
    for _ = 1, random(0, 5) do
        local node = pick()
        if node ~= nil then (random(2) == 1 and group.insertChildren or group.appendChildren)(group, node) end
    end
    pcall(db.setLongName, db, pick() or group, random(0, 3), W "long")
    return n
end

-- Hands another database's nodes and slots to a model's methods: each is refused.
local function crossLinks(a, b)
    local function other() return b.all[random(#b.all)] end
    local calls = {
        function() a.group:insertChildren(other()) end, function() a.group:appendChildren(other()) end,
        function() a.db:createElementGroup(W(a.prefix .. "x"), b.group, nil) end,
        function() a.db:createElementGroup(W(a.prefix .. "y"), nil, other()) end,
        function() a.db:createMappedTextComputation(W(a.prefix .. "m"), b.slots[1]) end,
        function() a.db:stringAddAlternative(b.slots[1], 5, W "fremd") end,
        function() a.db:createCyclicTiming(5, b.group) end, function() a.db:addFrames(other()) end,
        function() a.channel:addFrameTriggerings(b.triggerings[1]) end,
        function() a.signals[1]:addSignalInstances(other()) end,
    }
    for _ = 1, random(1, 6) do pcall(calls[random(#calls)]); stats.foreign = stats.foreign + 1 end
end

-- Loops that drop every other reference to their model (the database value, its nodes and slots) part way, so that the
-- iterator (or the value read last) is all that holds the database.
local function loops(holder)
    local n = holder.model
    local prefix, dropped = n.prefix, false
    local function drop()
        if not dropped and random(3) == 1 then
            holder.model = nil
            for key in pairs(n) do n[key] = nil end
            dropped = true
            stats.drops = stats.drops + 1
        end
        maybeCollect()
    end
    local kinds = {
        function()
            for frame in n.db:enumFrames() do drop(); read(frame, prefix, 1); stats.frames = stats.frames + 1 end
        end,
        function() for member in n.group.children do drop(); read(member, prefix, 1) end end,
        function()
            for _, value in Vexo.attribs(n.all[random(#n.all)]) do
                drop(); if isNode(value) then read(value, prefix, 0) end
            end
        end,
        function()
            -- Mostly a frame that a triggering matches.
            local triggering = n.triggerings[random(#n.triggerings)]
            local length, identifier = triggering.frame.length, triggering.identifier
            if random(4) == 1 then length, identifier = random(0, 8), random(0, 7) end
            local data = ""
            for _ = 1, length do data = data .. string.char(random(0, 255)) end
            for signal, kind, value, _, instance in n.channel:decodeMessage(identifier, 0, data) do
                drop()
                read(signal, prefix, 0)
                if instance ~= nil then read(instance, prefix, 0) end
                stats.signals = stats.signals + 1
                signal:internalToPhysical(kind == 0 and value or 0)
            end
        end,
        function()
            local encoder = n.db:createEncoder(random(2) == 1 and n.channel or nil)
            if encoder == nil then return end
            local triggerings, signals = n.triggerings, n.signals
            drop()
            local app = encoder:registerApp()
            encoder:setSendMode(app, 2)
            for _, triggering in ipairs(triggerings) do encoder:insertNode(app, triggering) end
            triggerings = nil
            maybeCollect()
            for _, signal in ipairs(signals) do encoder:changeSignal(app, signal, random(0, 255)) end
            signals = nil
            encoder:trigger(random(1, 1000))
            repeat
                maybeCollect()
                local frame = encoder:getNextFrame()
                if frame ~= nil then read(frame.frame, prefix, 0) end
            until frame == nil
        end,
    }
    for _ = 1, random(1, 4) do
        if dropped then break end
        kinds[random(#kinds)](); stats.loops = stats.loops + 1
    end
end

local started, prefixes = os.time(), { "A", "B", "C", "D", "E", "F", "G", "H" }
while os.time() - started < seconds do
    local a, b = build(prefixes[random(#prefixes)]), build(prefixes[random(#prefixes)])
    if a.prefix ~= b.prefix then crossLinks(a, b) end
    stats.models = stats.models + 2
    -- Either database may go first; the survivor is read whole.
    if random(2) == 1 then a, b = b, a end
    b = nil
    collectgarbage()
    local holder = { model = a }
    a = nil
    loops(holder)
    if holder.model ~= nil then
        for entry in holder.model.db:enumIdentElements() do read(entry, holder.model.prefix, 1) end
    end
    holder = nil
    collectgarbage()
end

print(string.format("lua_lifetime: seed %d, %d s, %d models, %d loops, %d database values dropped in loops, "
    .. "%d collections, %d nodes read, %d signals decoded, %d frames enumerated, %d cross-database calls",
    seed, os.time() - started, stats.models, stats.loops, stats.drops, stats.collections, stats.reads,
    stats.signals, stats.frames, stats.foreign))
return 0
