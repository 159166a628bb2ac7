-- LDF files into the model: one LIN cluster and channel per file, the master and
-- slaves as ECUs, unconditional, event-triggered and diagnostic frames with their
-- identifier triggerings and PDUs, signals with codings built from the signal
-- encoding types, cycle times and slots from the schedule tables.
local Vexo = require "Vexo"
local text = require "vexo.text"
local builder = require "vexo.builder"

local W = text.W
local WARNING = builder.WARNING
local format, floor = string.format, math.floor

local ldf = {}

local VALID = Vexo.Q3_FLAG_VALID
local CLOSED = Vexo.Q3_FLAG_LOWERLIMIT_CLOSED + Vexo.Q3_FLAG_UPPERLIMIT_CLOSED

function ldf.read(path, options)
    local raw, problem = Vexo.importLDF(W(path), options.tolerant and { tolerant = true } or nil)
    if raw == nil then
        if type(problem) == "number" then
            error(format("cannot read LDF file %s (error 0x%08X)", path, problem % 2 ^ 32), 0)
        end
        error(tostring(problem), 0)
    end
    return raw, text.readFile(path) or "", problem
end

-- The reader's sections by tag.
local function sectionsOf(raw)
    local sections = {}
    for i = 1, #raw do sections[raw[i].tag] = raw[i] end
    return sections
end

function ldf.count(raw)
    local s = sectionsOf(raw)
    local function n(tag) return s[tag] and #s[tag] or 0 end
    local ecus = 0
    if s.nodes then ecus = (s.nodes.Master and 1 or 0) + #(s.nodes.Slaves or {}) end
    return n("frames") + n("eventtriggeredframes") + n("diagnosticframes"), n("signals") + n("diagnosticsignals"), ecus
end

-- The protected identifier of a frame identifier: six bits and two parity bits.
local function protectedId(ident)
    local id = ident % 64
    local function bit(k) return floor(id / 2 ^ k) % 2 end
    local p0 = (bit(0) + bit(1) + bit(2) + bit(4)) % 2
    local p1 = 1 - (bit(1) + bit(3) + bit(4) + bit(5)) % 2
    return id + p0 * 64 + p1 * 128
end
ldf.protectedId = protectedId

-- An array initial value (byte texts) as one number, first byte lowest.
local function initialRaw(initvalue)
    if type(initvalue) ~= "table" then return tonumber(initvalue) or 0 end
    local value = 0
    for i = #initvalue, 1, -1 do value = value * 256 + (tonumber(initvalue[i]) or 0) end
    return value
end

function ldf.build(db, name, report, raw, content, warnings)
    -- The tolerant reader's warnings: what it accepted differently or skipped.
    for _, w in ipairs(type(warnings) == "table" and warnings or {}) do
        report(w.line or 0, WARNING, w.column and format("%s (column %d)", w.text, w.column) or w.text)
    end
    local lineOf = text.lineIndex(content)
    local b = builder.new(db, name, report)
    local s = sectionsOf(raw)
    local global = s.global or {}

    -- The line of the first match of pattern after the section keyword, or 0.
    local function lineIn(section, pattern)
        local start = content:find(section, 1, true)
        local at = start and content:find(pattern, start)
        return at and lineOf(at) or 0
    end
    local function nameAt(section, item)
        return lineIn(section, "%f[%w_]" .. text.escapePattern(item) .. "%f[^%w_]")
    end

    local version = tonumber((global.LIN_protocol_version or ""):match("^%s*(%d+%.?%d*)")) or 0
    local cluster = db:createCluster(b:id("cluster"), Vexo.Q3_CLUSTERTYPE_LIN)
    b:name(cluster, name)
    local channel = db:createChannel(b:id("channel"), cluster)
    b:name(channel, global.Channel_name or name)
    if global.LIN_speed then
        report(lineIn("LIN_speed", "LIN_speed"), WARNING, format("bus speed %s kbit/s not kept", global.LIN_speed))
    end

    -- ECUs.
    local ecuCount = 0
    local nodes = s.nodes or {}
    if nodes.Master then
        b:ecu(nodes.Master.name)
        ecuCount = ecuCount + 1
        report(nameAt("Nodes", "Master"), WARNING, format("time base %s ms and jitter %s ms of master %s not kept",
            nodes.Master.timebase, nodes.Master.jitter, nodes.Master.name))
    end
    for _, slave in ipairs(nodes.Slaves or {}) do
        if not b.ecus[slave] then
            b:ecu(slave)
            ecuCount = ecuCount + 1
        end
    end

    -- Signal encodings: logical values become value descriptions, physical ranges
    -- linear rules, BCD and ASCII values the coding's encoding.
    local encodings = {}
    for _, e in ipairs(s.signalencodingtypes or {}) do
        local encoding = { logical = nil, physical = {}, name = e.name }
        for _, entry in ipairs(e) do
            if entry.tag == "logicalvalue" then
                encoding.logical = encoding.logical or {}
                encoding.logical[entry.intvalue] = entry.textvalue or tostring(entry.intvalue)
            elseif entry.tag == "physicalvalue" then
                encoding.physical[#encoding.physical + 1] = entry
            elseif entry.tag == "bcdvalue" then
                encoding.bcd = true
            elseif entry.tag == "asciivalue" then
                encoding.ascii = true
            end
        end
        encodings[e.name] = encoding
    end
    local encodingOf = {}
    for _, r in ipairs(s.signalrepresentations or {}) do
        if not encodings[r.name] then
            report(nameAt("Signal_representation", r.name), WARNING,
                format("signal representation names the unknown encoding type %s", r.name))
        end
        for _, signalName in ipairs(r) do encodingOf[signalName] = encodings[r.name] end
    end

    -- Signals.
    local signals, signalCount = {}, 0
    local function makeSignal(entry, where)
        local size = entry.size
        if size < 1 or size > 64 then
            report(nameAt(where, entry.name), WARNING,
                format("signal %s: a size of %d bits cannot be held (1 to 64); signal dropped", entry.name, size))
            return
        end
        local encoding = encodingOf[entry.name]
        local spec = { bitlen = size, encoding = Vexo.Q3_ENCODING_DIRECT }
        local init = initialRaw(entry.initvalue)
        local default, minimum, maximum, flags = init, 0, 0, CLOSED
        if encoding then
            spec.values = encoding.logical
            if encoding.ascii then
                spec.encoding = Vexo.Q3_ENCODING_ASCII
            elseif encoding.bcd then
                spec.encoding = Vexo.Q3_ENCODING_PACKED_BCD
            end
            local linear = {}
            for _, p in ipairs(encoding.physical) do
                linear[#linear + 1] = { p.minvalue, p.maxvalue, p.scale, p.offset }
                spec.unit = spec.unit or p.textvalue
                local a, c = p.scale * p.minvalue + p.offset, p.scale * p.maxvalue + p.offset
                if a > c then a, c = c, a end
                if flags == CLOSED then
                    minimum, maximum, flags = a, c, CLOSED + VALID
                else
                    minimum, maximum = math.min(minimum, a), math.max(maximum, c)
                end
                if init >= p.minvalue and init <= p.maxvalue and default == init then
                    default = p.scale * init + p.offset
                end
            end
            spec.linear = linear
            if #linear == 0 and spec.encoding == Vexo.Q3_ENCODING_DIRECT and not spec.values then
                spec.identity = true
            end
        elseif spec.encoding == Vexo.Q3_ENCODING_DIRECT then
            spec.identity = true
        end
        local coding = b:coding(spec)
        local signal = db:createSignal(b:id("signal/" .. entry.name), flags, default, minimum, maximum, coding)
        b:name(signal, entry.name)
        for _, subscriber in ipairs(entry.subscribedby or {}) do
            local ref = db:createElementReference(b:id("signal/" .. entry.name .. "/receiver/" .. subscriber), signal)
            b:ecu(subscriber):appendChildren(ref)
        end
        signals[entry.name] = signal
        signalCount = signalCount + 1
    end
    for _, entry in ipairs(s.signals or {}) do makeSignal(entry, "Signals") end
    for _, entry in ipairs(s.diagnosticsignals or {}) do makeSignal(entry, "Diagnostic_signals") end

    -- Schedule tables: cycle times come from the first table that holds a frame.
    local cycleOf = {}
    for _, t in ipairs(s.scheduletables or {}) do
        local total, count = 0, {}
        for _, slot in ipairs(t) do
            total = total + (slot.time or 0)
            if slot.tag == "identifier" then count[slot.frame] = (count[slot.frame] or 0) + 1 end
        end
        for frameName, n in pairs(count) do
            if cycleOf[frameName] == nil and total > 0 then cycleOf[frameName] = builder.round(total / n) end
        end
    end

    -- Frames.
    local frames, pdus, identOf, frameCount = {}, {}, {}, 0
    local function makeFrame(entry, size, ident, sender, enhanced, where)
        local id, repeated, path = b:id("frame/" .. entry.name)
        if repeated then report(nameAt(where, entry.name), WARNING, "frame name " .. entry.name .. " appears twice") end
        local frame = db:createFrame(id, size)
        b:name(frame, entry.name)
        local flags = enhanced and Vexo.Q3_FLAG_LIN_ENH_CHECKSUM or 0
        db:createIdentifierBasedTriggering(b:id(path .. "/triggering"), ident, flags, frame,
            sender and b:ecu(sender) or nil, channel)
        frames[entry.name] = frame
        identOf[entry.name] = ident
        frameCount = frameCount + 1
        return frame, path
    end
    local function finishFrame(frame, path, pdu, frameName)
        db:createPDUInstance(b:id(path .. "/pdu-instance"), Vexo.Q3_BYTEORDER_LITTLEENDIAN, 0, -1, pdu, frame)
        local pduTriggering = db:createPDUTriggering(b:id(path .. "/pdu-triggering"), pdu, channel)
        if cycleOf[frameName] and cycleOf[frameName] > 0 then db:createCyclicTiming(cycleOf[frameName], pduTriggering) end
    end
    local function signalFrame(entry, size, sender, enhanced, where)
        local frame, path = makeFrame(entry, size, entry.ident, sender, enhanced, where)
        local pdu = db:createSignalPDU(b:id(path .. "/pdu"), size * 8, nil)
        for _, instance in ipairs(entry) do
            local signal = signals[instance.name]
            if signal then
                db:createSignalInstance(b:id(path .. "/signal/" .. instance.name), Vexo.Q3_BYTEORDER_LITTLEENDIAN,
                    instance.offset, -1, signal, pdu)
            else
                report(nameAt(where, instance.name), WARNING,
                    format("frame %s carries the unknown signal %s; left out", entry.name, instance.name))
            end
        end
        pdus[entry.name] = pdu
        finishFrame(frame, path, pdu, entry.name)
    end
    local enhanced = version >= 2
    for _, entry in ipairs(s.frames or {}) do
        signalFrame(entry, entry.size, entry.publishedby, enhanced, "Frames")
    end
    for _, entry in ipairs(s.diagnosticframes or {}) do
        -- Diagnostic frames always use the classic checksum.
        signalFrame(entry, 8, nil, false, "Diagnostic_frames")
    end
    -- An event-triggered frame carries one of its associated frames, whose first
    -- byte holds its protected identifier: a multiplexed PDU switching on that byte.
    for _, entry in ipairs(s.eventtriggeredframes or {}) do
        local size = 1
        for _, associated in ipairs(entry) do
            local frame = frames[associated]
            if frame and frame.length > size then size = frame.length end
        end
        local frame, path = makeFrame(entry, size, entry.ident, nil, enhanced, "Event_triggered_frames")
        local mux = db:createMultiplexedPDU(b:id(path .. "/pdu"), size * 8, Vexo.Q3_BYTEORDER_LITTLEENDIAN, 0, 8, 0, nil)
        local parts = {}
        for _, associated in ipairs(entry) do
            local pdu = pdus[associated]
            if pdu then
                local part = db:createMultiplexedPart(b:id(path .. "/" .. associated), protectedId(identOf[associated]),
                    mux)
                part:setReference(pdu)
                pdu:addParents(part)
                parts[#parts + 1] = part
            else
                report(nameAt("Event_triggered_frames", entry.name), WARNING,
                    format("event-triggered frame %s names the unknown frame %s", entry.name, associated))
            end
        end
        if #parts > 0 then mux:addDynamicParts(unpack(parts)) end
        if entry.collisionresolvingscheduletable then
            report(nameAt("Event_triggered_frames", entry.name), WARNING, format(
                "collision resolving schedule table %s of %s not kept", entry.collisionresolvingscheduletable,
                entry.name))
        end
        finishFrame(frame, path, mux, entry.name)
    end
    for _, entry in ipairs(s.sporadicframes or {}) do
        report(nameAt("Sporadic_frames", entry.name), WARNING,
            format("sporadic frame %s not kept (its frames are)", entry.name))
    end

    -- Schedule tables as groups of absolutely scheduled triggerings: slot id = the
    -- entry's position, base cycle = its start in µs, repetition = the table's length
    -- in µs. Commands other than frame slots are reported.
    for _, t in ipairs(s.scheduletables or {}) do
        local group = db:createElementGroup(b:id("schedule/" .. t.name), nil, nil)
        b:name(group, t.name)
        local total = 0
        for _, slot in ipairs(t) do total = total + (slot.time or 0) end
        local start, commands = 0, 0
        for i, slot in ipairs(t) do
            if slot.tag == "identifier" and frames[slot.frame] then
                local trigger = db:createAbsolutelyScheduledTriggering(b:id("schedule/" .. t.name .. "/" .. i), i,
                    builder.round(start * 1000), builder.round(total * 1000), 0, frames[slot.frame], nil, channel)
                group:appendChildren(trigger)
            elseif slot.tag == "identifier" then
                report(nameAt("Schedule_tables", t.name), WARNING,
                    format("schedule table %s names the unknown frame %s", t.name, slot.frame))
            else
                commands = commands + 1
            end
            start = start + (slot.time or 0)
        end
        if commands > 0 then
            report(nameAt("Schedule_tables", t.name), WARNING,
                format("schedule table %s: %d command slots not kept", t.name, commands))
        end
    end

    for _, node in ipairs(s.nodeattributes or {}) do
        report(nameAt("Node_attributes", node.name), WARNING,
            format("node attributes of %s (NAD, product id, configuration) not kept", node.name))
    end
    for _, group in ipairs(s.signalgroups or {}) do
        report(nameAt("Signal_groups", group.name), WARNING, format("signal group %s not kept", group.name))
    end
    if s.composite then report(lineIn("composite", "composite"), WARNING, "composite node configurations not kept") end
    if s.diagnosticaddresses then
        report(lineIn("Diagnostic_addresses", "Diagnostic_addresses"), WARNING, "diagnostic addresses not kept")
    end
    return frameCount, signalCount, ecuCount
end

return ldf
