-- Model building shared by the importers of formats that describe networks as
-- elements referring to each other (SYM, KCD, ARXML, FIBEX). Each importer reads its
-- file into one plain description (below) with the element id of every element
-- already chosen; this module makes the model from it through the builder, so the
-- model looks the same whatever the format.
--
-- The description ("net"):
--   ecus     = { { key, name, desc } }          made first, in this order
--   signals  = { signal }                       made next, in this order (signals
--                                               met only inside PDUs follow as met)
--   pdus     = { pdu }                          made next (PDUs met only in frames follow)
--   frames   = { frame }
--   clusters = { { path, name, kind, desc, channels = { channel } } }
--   signal   = { path, name, desc, longname, coding (a builder coding spec), min, max
--                (physical; Q3_FLAG_VALID when both are given), default (physical),
--                receivers = { ecu key } }
--   pdu      = { path, name, desc, bits, kind = "signal", signals = { { signal, bitpos,
--                bigendian, updatebit, path } } }
--            | { path, name, desc, bits, kind = "mux", switch = { bitpos, length,
--                bigendian, default }, static = part, parts = { part }, elsepart = part }
--   part     = { path, name, code, pdu, segments = { { bitpos, bitlen, bigendian } } }
--   frame    = { path, name, desc, length (bytes), pdus = { { pdu, bitpos, path } },
--                receivers = { ecu key } }
--   channel  = { path, name, desc, triggerings = { triggering },
--                pduTriggerings = { { path, pdu, cycle (ms), debounce (ms) } } }
--   triggering = { path, frame, sender (ecu key), flags, kind = "id", identifier }
--              | { ..., kind = "mask", mask, code } | { ..., kind = "slot", slot, base,
--                repetition }
-- A PDU placed at a bit position other than 0 sits in a multiplexed PDU of its own
-- (frame instance path .. "/placement") whose static part copies the PDU's bits from
-- that position (one segment), because the decoder reads a signal PDU's instances from
-- the start of the frame.
local Vexo = require "Vexo"
local native = require "Vexo.native"
local text = require "vexo.text"
local builder = require "vexo.builder"

local W = text.W
local WARNING = builder.WARNING
local format = string.format

local network = {}

local VALID = Vexo.Q3_FLAG_VALID
local CLOSED = Vexo.Q3_FLAG_LOWERLIMIT_CLOSED + Vexo.Q3_FLAG_UPPERLIMIT_CLOSED

-- Makes the model of net in db. name: the database name of the element ids;
-- report(line, severity, message). Returns the counts of frames, signals and ECUs.
function network.build(db, name, report, net)
    local b = builder.new(db, name, report)
    -- Short name, description and long name, where the description gives them
    -- (native.label sets them without making Lua strings of the texts).
    local function label(node, e)
        native.label(db, node, e.name, e.desc, e.longname)
    end
    local madeSignals, madePdus, madeFrames = {}, {}, {}
    local signalCount, frameCount, ecuCount = 0, 0, 0

    for _, e in ipairs(net.ecus or {}) do
        if not b.ecus[e.key] then
            local ecu = b:ecu(e.key, e.name)
            b:describe(ecu, e.desc)
            ecuCount = ecuCount + 1
        end
    end
    local function ecuOf(key)
        if key == nil then return nil end
        local ecu = b.ecus[key]
        if ecu == nil then
            ecu = b:ecu(key)
            ecuCount = ecuCount + 1
        end
        return ecu
    end
    -- An element reference to target among the children of each receiving ECU.
    local function addReceivers(target, path, receivers)
        for _, key in ipairs(receivers or {}) do
            local ecu = ecuOf(key)
            ecu:appendChildren(db:createElementReference(b:id(path .. "/receiver/" .. b.ecuNames[key]), target))
        end
    end

    local function makeSignal(s)
        local node = madeSignals[s]
        if node ~= nil then return node end
        local coding = b:coding(s.coding)
        local valid = s.min ~= nil and s.max ~= nil
        local flags = CLOSED + (valid and VALID or 0)
        local id, repeated, path = b:id(s.path)
        if repeated then report(s.line or 0, WARNING, format("%s: the id %s is taken; this one is %s", s.where or s.name,
            s.path, path)) end
        node = db:createSignal(id, flags, s.default or 0, s.min or 0, s.max or 0, coding)
        label(node, s)
        addReceivers(node, path, s.receivers)
        madeSignals[s] = node
        signalCount = signalCount + 1
        return node
    end

    local makePdu
    local function makePart(part, mux)
        local node = db:createMultiplexedPart((b:id(part.path)), part.code or 0, mux)
        label(node, part)
        for _, g in ipairs(part.segments or {}) do
            node:addSegment(g.bigendian and 1 or 0, g.bitpos, g.bitlen)
        end
        local inner = part.pdu and makePdu(part.pdu)
        if inner then
            node:setReference(inner)
            inner:addParents(node)
        end
        return node
    end
    makePdu = function(p)
        local node = madePdus[p]
        if node ~= nil then return node end
        if p.kind == "mux" then
            local sw = p.switch
            node = db:createMultiplexedPDU((b:id(p.path)), p.bits, sw.bigendian and 1 or 0, sw.bitpos, sw.length,
                sw.default or 0, nil)
            madePdus[p] = node
            label(node, p)
            if p.static then node:setStaticPart(makePart(p.static, node)) end
            if p.elsepart then node:setElsePart(makePart(p.elsepart, node)) end
            local codes = {}
            for _, part in ipairs(p.parts or {}) do
                if codes[part.code] then
                    report(0, WARNING, format("%s: two parts for the selector value %d; the second (%s) left out",
                        p.path, part.code, part.path))
                else
                    codes[part.code] = true
                    node:addDynamicParts(makePart(part, node))
                end
            end
        else
            node = db:createSignalPDU((b:id(p.path)), p.bits, nil)
            madePdus[p] = node
            label(node, p)
            for _, i in ipairs(p.signals or {}) do
                db:createSignalInstance((b:id(i.path)), i.bigendian and 1 or 0, i.bitpos, i.updatebit or -1,
                    makeSignal(i.signal), node)
            end
        end
        return node
    end

    for _, s in ipairs(net.signals or {}) do makeSignal(s) end
    for _, p in ipairs(net.pdus or {}) do makePdu(p) end

    local function makeFrame(f)
        local node = madeFrames[f]
        if node ~= nil then return node end
        local id, repeated, path = b:id(f.path)
        if repeated then report(f.line or 0, WARNING, format("%s: the id %s is taken; this one is %s", f.where or f.name,
            f.path, path)) end
        node = db:createFrame(id, f.length)
        label(node, f)
        for _, i in ipairs(f.pdus or {}) do
            local pdu = makePdu(i.pdu)
            local instancePath = i.path or (path .. "/pdu-instance")
            if (i.bitpos or 0) ~= 0 then
                local placementPath = instancePath .. "/placement"
                local wrapper = db:createMultiplexedPDU((b:id(placementPath)), i.pdu.bits, 0, 0, 0, 0, nil)
                local static = db:createMultiplexedPart((b:id(placementPath .. "/static")), 0, wrapper)
                static:addSegment(0, 0, i.pdu.bits)
                static:setReference(pdu)
                pdu:addParents(static)
                wrapper:setStaticPart(static)
                pdu = wrapper
            end
            db:createPDUInstance((b:id(instancePath)), Vexo.Q3_BYTEORDER_LITTLEENDIAN, i.bitpos or 0, -1, pdu, node)
        end
        addReceivers(node, path, f.receivers)
        madeFrames[f] = node
        frameCount = frameCount + 1
        return node
    end
    for _, f in ipairs(net.frames or {}) do makeFrame(f) end

    for _, c in ipairs(net.clusters or {}) do
        local cluster = db:createCluster((b:id(c.path)), c.kind)
        label(cluster, c)
        for _, ch in ipairs(c.channels or {}) do
            local channel = db:createChannel((b:id(ch.path)), cluster)
            label(channel, ch)
            for _, t in ipairs(ch.triggerings or {}) do
                local frame, sender = makeFrame(t.frame), ecuOf(t.sender)
                local id = b:id(t.path)
                if t.kind == "slot" then
                    db:createAbsolutelyScheduledTriggering(id, t.slot, t.base, t.repetition, t.flags or 0, frame, sender,
                        channel)
                elseif t.kind == "mask" then
                    db:createMaskedIdentifierTriggering(id, t.mask, t.code, t.flags or 0, frame, sender, channel)
                else
                    db:createIdentifierBasedTriggering(id, t.identifier, t.flags or 0, frame, sender, channel)
                end
            end
            for _, pt in ipairs(ch.pduTriggerings or {}) do
                local node = db:createPDUTriggering((b:id(pt.path)), makePdu(pt.pdu), channel)
                if pt.cycle and pt.cycle > 0 then db:createCyclicTiming(pt.cycle, node) end
                if pt.debounce then db:createEventControlledTiming(pt.debounce, node) end
            end
        end
    end
    return frameCount, signalCount, ecuCount
end

-- The raw values an integer field can hold.
network.rawDomain = builder.rawDomain

-- The big-endian start bit (most significant bit, as the decoder reads it) of a field
-- whose bits are numbered from the most significant bit of byte 0 on ("MSB first", as
-- SYM and KCD write it): the same bit in the other numbering.
function network.msbFirstToStart(position)
    return position - position % 8 + 7 - position % 8
end

-- The big-endian start bit of a field given by its least significant bit: from there
-- towards the most significant bit, a byte's bit 7 continues at bit 0 of the byte before.
function network.lsbToStart(lsb, length)
    local bit = lsb
    for _ = 2, length do
        if bit % 8 == 7 then bit = bit - 15 else bit = bit + 1 end
    end
    return bit
end

-- Mapped texts from value descriptions written for the bit pattern of a signed field
-- (255 for -1 in 8 bits) are meant for the signed value.
function network.signedValues(values, bitlen)
    local out = {}
    local _, hi = builder.rawDomain(bitlen, true)
    for raw, description in pairs(values) do
        if raw > hi and raw < 2 ^ bitlen then raw = raw - 2 ^ bitlen end
        out[raw] = description
    end
    return out
end

return network
