-- KCD files (network definitions in XML) into the model: a CAN cluster with one channel
-- per bus, the nodes as ECUs, each message a frame with its identifier triggering and
-- PDU, multiplexers as multiplexed PDUs (several in one message are chained), labels
-- as value descriptions. vexo/xsl/kcd.xsl reads the XML; built through vexo.network.
local Vexo = require "Vexo"
local builder = require "vexo.builder"
local network = require "vexo.network"
local xml = require "vexo.xml"

local WARNING = builder.WARNING
local format, huge, floor = string.format, math.huge, math.floor
local number, textOf = xml.number, xml.text

local kcd = {}

function kcd.read(path)
    return xml.records("kcd.xsl", path)
end

local KINDS = { M = "frames", S = "signals", X = "signals", N = "ecus" }
function kcd.count(records)
    return xml.count(records, KINDS)
end

-- The last byte a field touches (0-based); big-endian fields start at their most
-- significant bit and run on into the following bytes.
local function lastByte(start, length, bigEndian)
    if not bigEndian then return floor((start + length - 1) / 8) end
    local inFirst = start % 8 + 1
    if length <= inFirst then return floor(start / 8) end
    return floor(start / 8) + floor((length - inFirst + 7) / 8)
end

function kcd.build(db, name, report, records)
    local net = { ecus = {}, frames = {}, clusters = {} }
    local nodeName = {}
    local unknown = {}
    local channel, frame, message, signal, busName
    local mux, group  -- the multiplexer being read and its current group

    -- S and X records: name offset length endianess notes type slope intercept unit min max.
    local function readSignal(r, where)
        local signalName = textOf(r[2]) or ""
        local length = number(r[4]) or 1
        local bigEndian = r[5] == "big"
        local offset = number(r[3]) or 0
        local s = { name = signalName, path = message.path .. "/signal/" .. signalName, desc = textOf(r[6]),
            where = format("%s/%s[@name='%s']", where, r[1] == "X" and "Multiplex" or "Signal", signalName),
            receivers = {}, values = {}, ranges = {}, offset = offset, length = length, bigendian = bigEndian }
        s.instancePath = s.path .. "/instance"
        s.bitpos = bigEndian and network.msbFirstToStart(offset) or offset
        message.lastByte = math.max(message.lastByte, lastByte(s.bitpos, length, bigEndian))
        local kind = r[7] ~= "" and r[7] or "unsigned"
        local slope, intercept = number(r[8]) or 1, number(r[9]) or 0
        s.unit = textOf(r[10])
        s.min, s.max = number(r[11]), number(r[12])
        if length < 1 or length > 64 then
            report(0, WARNING, format("%s: a signal of %d bits cannot be held (1 to 64); left out", s.where, length))
            return s
        end
        local spec = { bitlen = length, unit = s.unit }
        local lo, hi
        if (kind == "single" and length == 32) or (kind == "double" and length == 64) then
            spec.encoding = Vexo.Q3_ENCODING_IEEE
            spec.linear = { { -huge, huge, slope, intercept } }
        else
            if kind ~= "signed" and kind ~= "unsigned" then
                report(0, WARNING, format("%s: value type %s of %d bits; read as unsigned", s.where, kind, length))
                kind = "unsigned"
            end
            lo, hi = network.rawDomain(length, kind == "signed")
            spec.encoding = kind == "signed" and Vexo.Q3_ENCODING_2COMPL or Vexo.Q3_ENCODING_DIRECT
            spec.linear = { { lo, hi, slope, intercept } }
        end
        if s.min or s.max then
            if lo ~= nil then
                local a, c = lo * slope + intercept, hi * slope + intercept
                if a > c then a, c = c, a end
                s.min, s.max = s.min or a, s.max or c
            else
                s.min, s.max = s.min or -huge, s.max or huge
            end
        end
        s.coding = spec
        s.signed = kind == "signed"
        return s
    end

    -- Labels become value descriptions once the signal's records are all read.
    local function finishSignal(s)
        if s == nil or s.coding == nil then return end
        local spec = s.coding
        if next(s.values) then spec.values = s.signed and network.signedValues(s.values, spec.bitlen) or s.values end
        if #s.ranges > 0 then spec.ranges = s.ranges end
    end

    local function place(s, members)
        if s.coding then
            members[#members + 1] = { signal = s, bitpos = s.bitpos, bigendian = s.bigendian, path = s.instancePath }
        end
    end

    -- The message's PDU: a signal PDU, or the chain of its multiplexers.
    local function finishMessage()
        if message == nil then return end
        finishSignal(signal)
        signal = nil
        local m = message
        local length = m.length
        if length == nil then
            length = m.lastByte + 1
            if m.lengthText ~= "" and m.lengthText ~= "auto" then
                report(0, WARNING, format("%s: length %s not understood; %d bytes from its signals", m.where,
                    m.lengthText, length))
            end
        end
        frame.length = length
        local bits = length * 8
        local static = {}
        for _, s in ipairs(m.plain) do place(s, static) end
        local function chain(i, path)
            local x = m.muxes[i]
            if x == nil then return { path = path, bits = bits, signals = static } end
            local pdu = { kind = "mux", path = path, bits = bits, parts = {},
                switch = { bitpos = x.switch.bitpos, length = x.switch.length, bigendian = x.switch.bigendian } }
            if x.switch.coding then place(x.switch, static) end
            pdu.static = { path = path .. "/static", pdu = chain(i + 1, path .. "/static/pdu") }
            table.sort(x.groups, function(a, b) return a.code < b.code end)
            local seen = {}
            for _, g in ipairs(x.groups) do
                if seen[g.code] then
                    report(0, WARNING, format("%s: two groups for %d; the second left out", x.switch.where, g.code))
                else
                    seen[g.code] = true
                    local members = {}
                    for _, s in ipairs(g.signals) do place(s, members) end
                    local partPath = path .. "/mux/" .. g.code
                    pdu.parts[#pdu.parts + 1] = { path = partPath, code = g.code,
                        pdu = { path = partPath .. "/pdu", bits = bits, signals = members } }
                end
            end
            return pdu
        end
        local pdu = chain(1, m.path .. "/pdu")
        frame.pdus[1] = { pdu = pdu, bitpos = 0, path = m.path .. "/pdu-instance" }
        if m.triggering then
            if length > 8 then m.triggering.flags = m.triggering.flags + Vexo.Q3_FLAG_CANFD_EXTDATALEN end
            channel.pduTriggerings[#channel.pduTriggerings + 1] = { path = m.path .. "/pdu-triggering", pdu = pdu,
                cycle = m.interval, debounce = m.triggered and 0 or nil }
        end
        message = nil
    end

    local documentSeen = false
    for _, r in ipairs(records) do
        local kind = r[1]
        if kind == "S" or kind == "X" or kind == "XE" or kind == "G" or kind == "M" or kind == "B" then
            finishSignal(signal)
            signal = nil
        end
        if kind == "D" then
            documentSeen = true
            if (r[2] or "") ~= "" or textOf(r[3]) then
                report(0, WARNING, "document information (name, version, author, company, date, text) not kept")
            end
        elseif kind == "N" then
            local key, ecuName = r[2], textOf(r[3]) or r[2]
            nodeName[key] = ecuName
            net.ecus[#net.ecus + 1] = { key = key, name = ecuName }
        elseif kind == "B" then
            finishMessage()
            busName = textOf(r[2]) or name
            local path = "cluster/" .. busName
            channel = { path = path .. "/channel", name = busName, triggerings = {}, pduTriggerings = {} }
            net.clusters[#net.clusters + 1] = { path = path, name = busName, kind = Vexo.Q3_CLUSTERTYPE_CAN,
                channels = { channel } }
            if (r[3] or "") ~= "" then
                report(0, WARNING, format("Bus[@name='%s']: baud rate %s not kept", busName, r[3]))
            end
        elseif kind == "M" then
            finishMessage()
            local frameName = textOf(r[3]) or ""
            local path = "frame/" .. frameName
            local identifier = number(r[2])
            local lengthText = r[4] or ""
            message = { name = frameName, path = path, plain = {}, muxes = {}, lastByte = -1,
                length = lengthText ~= "auto" and number(lengthText) or nil, lengthText = lengthText,
                interval = number(r[6]), triggered = r[7] == "true",
                where = format("Bus[@name='%s']/Message[@name='%s']", busName, frameName) }
            frame = { path = path, name = frameName, desc = textOf(r[9]), pdus = {}, where = message.where }
            net.frames[#net.frames + 1] = frame
            local extended = r[5] == "extended"
            if identifier == nil then
                report(0, WARNING, format("%s: identifier %s not understood; it is not placed on the bus",
                    message.where, r[2]))
            else
                if not extended and identifier > 0x7FF then
                    report(0, WARNING, format("%s: identifier 0x%X has more than 11 bits but no extended format; " ..
                        "taken as an extended identifier", message.where, identifier))
                    extended = true
                end
                message.triggering = { path = path .. "/triggering", kind = "id", identifier = identifier,
                    frame = frame, flags = extended and Vexo.Q3_FLAG_CANEXTENDED or Vexo.Q3_FLAG_CANSTANDARD }
                channel.triggerings[#channel.triggerings + 1] = message.triggering
            end
            if r[8] == "true" then
                report(0, WARNING, format("%s: remote frame marker not kept", message.where))
            end
        elseif kind == "P" then
            if nodeName[r[2]] == nil then
                report(0, WARNING, format("%s: producer %s is no node of the file", message.where, r[2]))
            elseif message.triggering and message.triggering.sender == nil then
                message.triggering.sender = r[2]
            else
                report(0, WARNING, format("%s: producer %s beyond the first not kept", message.where,
                    nodeName[r[2]] or r[2]))
            end
        elseif kind == "X" then
            local x = { switch = readSignal(r, message.where), groups = {} }
            message.muxes[#message.muxes + 1] = x
            mux, signal = x, x.switch
        elseif kind == "G" then
            group = { code = number(r[2]) or 0, signals = {} }
            mux.groups[#mux.groups + 1] = group
        elseif kind == "XE" then
            mux, group = nil, nil
        elseif kind == "S" then
            signal = readSignal(r, group and format("%s/MuxGroup[@count='%d']", mux.switch.where, group.code)
                or message.where)
            local list = group and group.signals or message.plain
            list[#list + 1] = signal
        elseif kind == "C" then
            if nodeName[r[2]] == nil then
                report(0, WARNING, format("%s: consumer %s is no node of the file", signal.where, r[2]))
            else
                signal.receivers[#signal.receivers + 1] = r[2]
            end
        elseif kind == "L" or kind == "LG" then
            local labelType = kind == "L" and r[4] or r[5]
            if labelType ~= nil and labelType ~= "" and labelType ~= "value" then
                report(0, WARNING, format("%s: label type %s not kept", signal.where, labelType))
            end
            if kind == "L" then
                local value = number(r[2])
                if value then signal.values[value] = textOf(r[3]) or "" end
            else
                local from, to = number(r[2]), number(r[3])
                if from and to then signal.ranges[#signal.ranges + 1] = { from, to, textOf(r[4]) or "" } end
            end
        elseif kind == "U" then
            local what = textOf(r[2]) or "?"
            if not unknown[what] then
                unknown[what] = true
                report(0, WARNING, format("element %s not kept", what))
            end
        end
    end
    finishMessage()
    if not documentSeen and #records == 0 then
        report(0, builder.INFO, "the network definition is empty")
    end
    return network.build(db, name, report, net)
end

return kcd
