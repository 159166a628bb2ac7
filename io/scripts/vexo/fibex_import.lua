-- FIBEX files into the model: CAN, FlexRay and LIN clusters with their channels, frame
-- triggerings by identifier (CAN, LIN) or as absolutely scheduled triggerings (FlexRay
-- slots and cycles), frames with their PDU instances, PDUs with their signal instances
-- and multiplexers (switch, static and dynamic parts with their segments), signals with
-- the codings made from their coded types and compu methods, ECUs with the frames they
-- send and receive. vexo/xsl/fibex.xsl reads the XML into records (listed below); the
-- references (ID-REF) are resolved here; built through vexo.network. Messages name the
-- element as FIBEX does: its kind and ID.
--
-- Records (fields after the kind):
--   V version      CL id name protocol speed desc      CC cluster channel      CH id name desc
--   FT channel id frame identifier extendedAddressing      FTS triggering slot base repetition
--   FTC triggering timingKind period      FR id name length desc      FI frame pdu bitpos highLow
--   FS frame signal bitpos highLow id      PD id name length desc type
--   PS pdu signal bitpos highLow id updateBit      PX pdu switchBitpos switchLength highLow
--   PXS pdu staticPdu segmentBitpos segmentLength highLow
--   PXD pdu switchedPdu code segmentBitpos segmentLength highLow
--   SI id name coding desc      EC id name desc      EP ecu portKind frameTriggering
--   EF ecu function      FN function portKind signal      UN id name displayName
--   CD id name bitLength encoding baseDataType category desc      PC coding lower upper kind
--   CM coding name category unit
--   CS coding lower lowerType upper upperType numerator denominator vt v vtCount
--   X kind id
-- Bit positions are those of a field's least significant bit, for either byte order.
local Vexo = require "Vexo"
local builder = require "vexo.builder"
local network = require "vexo.network"
local compu = require "vexo.compu"
local xml = require "vexo.xml"

local WARNING, INFO = builder.WARNING, builder.INFO
local format, huge = string.format, math.huge
local textOf = xml.text

local fibex = {}

function fibex.read(path)
    return xml.records("fibex.xsl", path)
end

local KINDS = { FR = "frames", SI = "signals", EC = "ecus" }
function fibex.count(records)
    return xml.count(records, KINDS)
end

local function number(s)
    if s == nil or s == "" then return nil end
    if s == "true" then return 1 end
    if s == "false" then return 0 end
    return tonumber(s)
end

-- An xs:duration ("PT0.1S", "P0DT0H1M0S") in seconds; nil when it is none.
local function seconds(s)
    if s == nil or s == "" then return nil end
    local negative, days, time = s:match("^(%-?)P([%d.]*D?)T?(.*)$")
    if negative == nil then return tonumber(s) end
    local total = tonumber(days:match("^([%d.]+)D$") or 0) * 86400
    local rest = time
    for amount, unit in time:gmatch("([%d.]+)([HMS])") do
        total = total + tonumber(amount) * (unit == "H" and 3600 or unit == "M" and 60 or 1)
        rest = rest:gsub(amount .. unit, "", 1)
    end
    if rest ~= "" or (days ~= "" and not days:find("D$")) then return nil end
    return negative == "-" and -total or total
end
fibex.seconds = seconds

-- Coded-type encodings: by the ENCODING attribute, else by the base data type.
local ENCODINGS = {
    UNSIGNED = Vexo.Q3_ENCODING_DIRECT, SIGNED = Vexo.Q3_ENCODING_2COMPL, TWOC = Vexo.Q3_ENCODING_2COMPL,
    ["TWOS-COMPLEMENT"] = Vexo.Q3_ENCODING_2COMPL, ONEC = Vexo.Q3_ENCODING_1COMPL,
    ["ONES-COMPLEMENT"] = Vexo.Q3_ENCODING_1COMPL, ["IEEE-FLOATING-TYPE"] = Vexo.Q3_ENCODING_IEEE,
    ["BCD-P"] = Vexo.Q3_ENCODING_PACKED_BCD, ["BCD-UP"] = Vexo.Q3_ENCODING_UNPACKED_BCD,
    ["UTF-8"] = Vexo.Q3_ENCODING_ASCII, ["ISO-8859-1"] = Vexo.Q3_ENCODING_ASCII, ["ISO-8859-2"] = Vexo.Q3_ENCODING_ASCII,
    ["WINDOWS-1252"] = Vexo.Q3_ENCODING_ASCII, [""] = nil,
}
local function baseEncoding(baseType)
    if baseType:find("^A_UINT") or baseType:find("^A_BYTEFIELD") or baseType == "A_BOOLEAN" then
        return Vexo.Q3_ENCODING_DIRECT
    elseif baseType:find("^A_INT") then
        return Vexo.Q3_ENCODING_2COMPL
    elseif baseType:find("^A_FLOAT") then
        return Vexo.Q3_ENCODING_IEEE
    elseif baseType:find("STRING$") then
        return Vexo.Q3_ENCODING_ASCII
    end
    return nil
end

function fibex.build(db, name, report, records)
    local function warn(where, message, ...)
        report(0, WARNING, format("%s: " .. message, where, ...))
    end
    local function at(kind, id) return format("%s[@ID='%s']", kind, id or "") end

    local clusters, clusterOrder, channels, channelOrder, channelOf = {}, {}, {}, {}, {}
    local frames, frameOrder, pdus, pduOrder, signals, signalOrder = {}, {}, {}, {}, {}, {}
    local codings, units, ecus, ecuOrder, functions = {}, {}, {}, {}, {}
    local triggerings, lastChannel = {}, nil
    local others, otherOrder = {}, {}

    for _, r in ipairs(records) do
        local kind = r[1]
        if kind == "PS" or kind == "FS" then
            local owner = kind == "PS" and pdus[r[2]] or frames[r[2]]
            owner.instances[#owner.instances + 1] = { signal = r[3], bitpos = number(r[4]), bigEndian = r[5] == "true",
                id = r[6], update = number(r[7]) }
        elseif kind == "SI" then
            signals[r[2]] = { id = r[2], name = r[3], coding = r[4], desc = textOf(r[5]), receivers = {} }
            signalOrder[#signalOrder + 1] = r[2]
        elseif kind == "PD" then
            pdus[r[2]] = { id = r[2], name = r[3], length = number(r[4]), desc = textOf(r[5]), type = r[6],
                instances = {}, dynamic = {} }
            pduOrder[#pduOrder + 1] = r[2]
        elseif kind == "PX" then
            pdus[r[2]].switch = { bitpos = number(r[3]), length = number(r[4]), bigEndian = r[5] == "true" }
        elseif kind == "PXS" or kind == "PXD" then
            local p = pdus[r[2]]
            local k = kind == "PXS" and 3 or 4
            local part = { pdu = r[3], code = kind == "PXD" and number(r[4]) or 0,
                segment = { bitpos = number(r[k + 1]), bitlen = number(r[k + 2]), bigEndian = r[k + 3] == "true" } }
            if kind == "PXS" then
                if p.static then warn(at("PDU", p.id), "a second static PDU (%s) left out", r[3]) end
                p.static = p.static or part
            else
                p.dynamic[#p.dynamic + 1] = part
            end
        elseif kind == "FR" then
            frames[r[2]] = { id = r[2], name = r[3], length = number(r[4]), desc = textOf(r[5]), pdus = {}, instances = {} }
            frameOrder[#frameOrder + 1] = r[2]
        elseif kind == "FI" then
            local f = frames[r[2]]
            f.pdus[#f.pdus + 1] = { pdu = r[3], bitpos = number(r[4]) }
        elseif kind == "FT" then
            local t = { channel = r[2], id = r[3], frame = r[4], identifier = number(r[5]),
                extended = r[6] == "true", slots = {}, senders = {}, receivers = {} }
            triggerings[r[3]] = t
            -- A channel's triggerings follow it (its ID may be missing).
            local c = lastChannel
            c.triggerings[#c.triggerings + 1] = t
        elseif kind == "FTS" then
            local t = triggerings[r[2]]
            t.slots[#t.slots + 1] = { slot = number(r[3]), base = number(r[4]) or 0, repetition = number(r[5]) or 1 }
        elseif kind == "FTC" then
            local t = triggerings[r[2]]
            if r[3] == "CYCLIC-TIMING" then
                t.cycle = seconds(r[4])
                if t.cycle == nil then warn(at("FRAME-TRIGGERING", r[2]), "cycle time %s not understood", r[4]) end
            elseif r[3] == "EVENT-CONTROLLED-TIMING" then
                t.event = true
            else
                warn(at("FRAME-TRIGGERING", r[2]), "timing %s not kept", r[3])
            end
        elseif kind == "CH" then
            local id = r[2]
            if id == "" then
                id = r[3]
                warn(at("CHANNEL", ""), "channel %s has no ID; clusters find it by its short name", r[3])
            end
            lastChannel = { id = id, name = r[3], desc = textOf(r[4]), triggerings = {} }
            channels[id] = lastChannel
            channelOrder[#channelOrder + 1] = id
        elseif kind == "CL" then
            clusters[r[2]] = { id = r[2], name = r[3], protocol = r[4], speed = r[5], desc = textOf(r[6]), channels = {} }
            clusterOrder[#clusterOrder + 1] = r[2]
        elseif kind == "CC" then
            local c = clusters[r[2]]
            c.channels[#c.channels + 1] = r[3]
        elseif kind == "CD" then
            codings[r[2]] = { id = r[2], name = r[3], bitlen = number(r[4]), encoding = r[5], baseType = r[6],
                category = r[7], desc = textOf(r[8]), methods = {} }
        elseif kind == "PC" then
            local c = codings[r[2]]
            c.lower, c.upper, c.constraintKind = number(r[3]), number(r[4]), r[5]
        elseif kind == "CM" then
            local c = codings[r[2]]
            c.methods[#c.methods + 1] = { path = at("CODING", r[2]) .. "/COMPU-METHOD " .. r[3],
                category = (r[4] or ""):upper():gsub("-", "_"), unit = r[5], scales = {} }
        elseif kind == "CS" then
            local c = codings[r[2]]
            local m = c.methods[#c.methods]
            m.scales[#m.scales + 1] = { lower = number(r[3]), lowerOpen = r[4] == "OPEN", upper = number(r[5]),
                upperOpen = r[6] == "OPEN", numerator = compu.coefficients(r[7], number),
                denominator = compu.coefficients(r[8], number),
                vt = (tonumber(r[11]) or 0) > 0 and (textOf(r[9]) or "") or nil, v = number(r[10]) }
        elseif kind == "UN" then
            units[r[2]] = textOf(r[4]) or r[3]
        elseif kind == "EC" then
            ecus[r[2]] = { key = r[2], name = r[3], desc = textOf(r[4]), functions = {} }
            ecuOrder[#ecuOrder + 1] = r[2]
        elseif kind == "EP" then
            local t = triggerings[r[4]]
            if t == nil then
                warn(at("ECU", r[2]), "frame triggering %s not found", r[4])
            elseif r[3] == "OUTPUT-PORT" then
                t.senders[#t.senders + 1] = r[2]
            else
                t.receivers[#t.receivers + 1] = r[2]
            end
        elseif kind == "EF" then
            local e = ecus[r[2]]
            e.functions[#e.functions + 1] = r[3]
        elseif kind == "FN" then
            local list = functions[r[2]] or {}
            functions[r[2]] = list
            list[#list + 1] = { kind = r[3], signal = r[4] }
        elseif kind == "X" then
            local list = others[r[2]]
            if list == nil then
                list = {}
                others[r[2]] = list
                otherOrder[#otherOrder + 1] = r[2]
            end
            list[#list + 1] = r[3]
        end
    end
    for _, kind in ipairs(otherOrder) do
        local list = others[kind]
        report(0, WARNING, format("%d %s element%s not imported (the model holds no such element): %s%s", #list, kind,
            #list > 1 and "s" or "", at(kind, list[1]), #list > 1 and ", ..." or ""))
    end

    local net = { ecus = {}, signals = {}, pdus = {}, frames = {}, clusters = {} }
    for _, id in ipairs(ecuOrder) do net.ecus[#net.ecus + 1] = ecus[id] end

    -- Signal receivers: the ECUs whose functions take the signal in.
    for _, id in ipairs(ecuOrder) do
        for _, f in ipairs(ecus[id].functions) do
            local ports = functions[f]
            if ports == nil then warn(at("ECU", id), "function %s not found", f) end
            for _, port in ipairs(ports or {}) do
                local s = signals[port.signal]
                if s == nil then
                    warn(at("FUNCTION", f), "signal %s not found", port.signal)
                elseif port.kind == "INPUT-PORT" then
                    s.receivers[#s.receivers + 1] = id
                end
            end
        end
    end

    -- Signals and their codings.
    local signalOf = {}
    for _, id in ipairs(signalOrder) do
        local s = signals[id]
        local where = at("SIGNAL", id)
        local c = codings[s.coding]
        if c == nil then
            warn(where, "coding %s not found; the signal is left out", s.coding)
        elseif c.bitlen == nil then
            warn(where, "coding %s gives no bit length; the signal is left out", s.coding)
        else
            local encoding = ENCODINGS[c.encoding] or baseEncoding(c.baseType)
            if encoding == nil then
                if c.encoding ~= "" then
                    warn(at("CODING", c.id), "encoding %s cannot be held; read as unsigned", c.encoding)
                end
                encoding = Vexo.Q3_ENCODING_DIRECT
            end
            if encoding == Vexo.Q3_ENCODING_IEEE and c.bitlen ~= 32 and c.bitlen ~= 64 then
                warn(at("CODING", c.id), "a floating-point value of %d bits; read as unsigned", c.bitlen)
                encoding = Vexo.Q3_ENCODING_DIRECT
            end
            if c.category ~= "" and c.category ~= "STANDARD-LENGTH-TYPE" then
                warn(at("CODING", c.id), "coded type category %s: read as a field of %d bits", c.category, c.bitlen)
            end
            local ascii = encoding == Vexo.Q3_ENCODING_ASCII
            if c.bitlen < 1 or (c.bitlen > 64 and not ascii) then
                warn(where, "a length of %d bits cannot be held (1 to 64); left out", c.bitlen)
            else
                local spec = { bitlen = c.bitlen, encoding = encoding }
                local content = { path = "signal/" .. s.name, name = s.name, desc = s.desc, where = where, coding = spec,
                    receivers = s.receivers, ascii = ascii, bitlen = c.bitlen }
                if not ascii then
                    local float = encoding == Vexo.Q3_ENCODING_IEEE
                    local signed = encoding == Vexo.Q3_ENCODING_2COMPL or encoding == Vexo.Q3_ENCODING_1COMPL
                    local lo, hi = -huge, huge
                    if not float then lo, hi = network.rawDomain(c.bitlen, signed) end
                    local method = c.methods[1]
                    if #c.methods > 1 then warn(at("CODING", c.id), "%d compu methods; the first is kept", #c.methods) end
                    local linear, values, ranges, constants
                    if method then
                        linear, values, ranges, constants = compu.rules(method, lo, hi, float, warn)
                        if method.unit ~= "" then
                            spec.unit = units[method.unit]
                            if spec.unit == nil then warn(at("CODING", c.id), "unit %s not found", method.unit) end
                        end
                    else
                        linear = { { lo, hi, 1, 0 } }
                    end
                    spec.linear, spec.ranges, spec.constants = linear, ranges, constants
                    spec.values = values and signed and network.signedValues(values, c.bitlen) or values
                    if c.lower and c.upper then
                        if c.constraintKind == "INTERNAL-CONSTRS" then
                            local a = compu.physical(linear, c.lower)
                            local b = compu.physical(linear, c.upper)
                            content.min, content.max = math.min(a, b), math.max(a, b)
                        else
                            content.min, content.max = c.lower, c.upper
                        end
                    else
                        content.min, content.max = compu.span(linear, lo, hi)
                    end
                end
                signalOf[id] = content
                net.signals[#net.signals + 1] = content
            end
        end
    end

    -- Signal instances of a PDU (or a frame) at their bit positions.
    local function instances(list, path, where)
        local placed = {}
        for _, i in ipairs(list) do
            local s = signalOf[i.signal]
            if s == nil then
                if signals[i.signal] == nil then
                    warn(where, "signal instance %s refers to %s, which is no signal of the file; left out", i.id,
                        i.signal)
                end
            elseif i.bitpos == nil then
                warn(where, "signal instance %s has no bit position; left out", i.id)
            else
                local bigEndian = i.bigEndian and not s.ascii
                placed[#placed + 1] = { signal = s, bitpos = bigEndian and network.lsbToStart(i.bitpos, s.bitlen)
                    or i.bitpos, bigendian = bigEndian, updatebit = i.update, path = path .. "/signal/" .. s.name }
            end
        end
        return placed
    end

    -- PDUs.
    local pduOf = {}
    local makePdu
    makePdu = function(id, where)
        local made = pduOf[id]
        if made ~= nil then return made or nil end
        local p = pdus[id]
        if p == nil then
            warn(where, "PDU %s not found", id)
            pduOf[id] = false
            return nil
        end
        pduOf[id] = false
        local path = "pdu/" .. p.name
        local pdu = { path = path, name = p.name, desc = p.desc, bits = (p.length or 0) * 8, where = at("PDU", id) }
        if p.switch then
            local sw = p.switch
            pdu.kind = "mux"
            pdu.switch = { bitpos = sw.bigEndian and network.lsbToStart(sw.bitpos or 0, sw.length or 0) or sw.bitpos or 0,
                length = sw.length or 0, bigendian = sw.bigEndian }
            local function part(x, partPath)
                local inner = makePdu(x.pdu, pdu.where)
                if inner == nil then return nil end
                local g = x.segment
                local segments
                if g.bitpos and g.bitlen then
                    segments = { { bitpos = g.bigEndian and network.lsbToStart(g.bitpos, g.bitlen) or g.bitpos,
                        bitlen = g.bitlen, bigendian = g.bigEndian } }
                end
                return { path = partPath, code = x.code, pdu = inner, segments = segments }
            end
            if p.static then pdu.static = part(p.static, path .. "/static") end
            pdu.parts = {}
            for _, d in ipairs(p.dynamic) do
                if d.code == nil then
                    warn(pdu.where, "switched PDU %s has no switch code; left out", d.pdu)
                else
                    pdu.parts[#pdu.parts + 1] = part(d, path .. "/mux/" .. d.code)
                end
            end
            table.sort(pdu.parts, function(a, b) return a.code < b.code end)
            if #p.instances > 0 then
                warn(pdu.where, "%d signal instances beside a multiplexer left out", #p.instances)
            end
        else
            pdu.signals = instances(p.instances, path, pdu.where)
        end
        pduOf[id] = pdu
        net.pdus[#net.pdus + 1] = pdu
        return pdu
    end
    for _, id in ipairs(pduOrder) do makePdu(id, at("PDU", id)) end

    -- Frames.
    local frameOf = {}
    for _, id in ipairs(frameOrder) do
        local f = frames[id]
        local where = at("FRAME", id)
        local frame = { path = "frame/" .. f.name, name = f.name, desc = f.desc, length = f.length or 0, pdus = {},
            receivers = {}, where = where }
        if f.length == nil then warn(where, "the frame has no byte length; taken as 0") end
        for i, instance in ipairs(f.pdus) do
            local pdu = makePdu(instance.pdu, where)
            if pdu then
                frame.pdus[#frame.pdus + 1] = { pdu = pdu, bitpos = instance.bitpos or 0,
                    path = frame.path .. "/pdu-instance" .. (i > 1 and "/" .. i or "") }
            end
        end
        if #f.instances > 0 then
            -- Signals placed in the frame itself: a PDU of the frame's own.
            local pdu = { path = frame.path .. "/pdu", bits = frame.length * 8,
                signals = instances(f.instances, frame.path .. "/pdu", where) }
            frame.pdus[#frame.pdus + 1] = { pdu = pdu, bitpos = 0, path = frame.path .. "/pdu-instance" ..
                (#frame.pdus > 0 and "/" .. #frame.pdus + 1 or "") }
        end
        frameOf[id] = frame
        net.frames[#net.frames + 1] = frame
    end

    -- Clusters, their channels and the triggerings.
    local KINDS = { can = Vexo.Q3_CLUSTERTYPE_CAN, flexray = Vexo.Q3_CLUSTERTYPE_FLEXRAY, lin = Vexo.Q3_CLUSTERTYPE_LIN }
    for _, id in ipairs(clusterOrder) do
        local c = clusters[id]
        local where = at("CLUSTER", id)
        local protocol = c.protocol:lower()
        local kind = KINDS[protocol:match("^(%a+)")] or KINDS[protocol:match("(%a+):protocol%-type") or ""]
        if kind == nil then
            warn(where, "protocol %s is not imported (CAN, FlexRay and LIN are read); the cluster is left out",
                c.protocol ~= "" and c.protocol or "(none)")
        else
            local cluster = { path = "cluster/" .. c.name, name = c.name, desc = c.desc, kind = kind, channels = {} }
            net.clusters[#net.clusters + 1] = cluster
            if c.speed ~= "" then warn(where, "speed %s not kept", c.speed) end
            if kind == Vexo.Q3_CLUSTERTYPE_FLEXRAY then
                warn(where, "FlexRay cluster parameters (cycle, slots, macroticks ...) not kept")
            end
            for _, channelId in ipairs(c.channels) do
                local ch = channels[channelId]
                if ch == nil then
                    warn(where, "channel %s not found", channelId)
                elseif channelOf[channelId] then
                    warn(where, "channel %s belongs to another cluster already; left out here", channelId)
                else
                    channelOf[channelId] = cluster
                    local channel = { path = cluster.path .. "/channel/" .. ch.name, name = ch.name, desc = ch.desc,
                        triggerings = {}, pduTriggerings = {} }
                    cluster.channels[#cluster.channels + 1] = channel
                    for _, t in ipairs(ch.triggerings) do
                        local frame = frameOf[t.frame]
                        local tWhere = at("FRAME-TRIGGERING", t.id)
                        if frame == nil then
                            warn(tWhere, "frame %s not found; the triggering is left out", t.frame)
                        else
                            if #t.senders > 1 then warn(tWhere, "senders beyond the first not kept") end
                            for _, r in ipairs(t.receivers) do frame.receivers[#frame.receivers + 1] = r end
                            local made = false
                            for _, slot in ipairs(t.slots) do
                                if slot.slot == nil then
                                    warn(tWhere, "an absolutely scheduled timing without slot left out")
                                else
                                    channel.triggerings[#channel.triggerings + 1] = { path = frame.path .. "/triggering",
                                        kind = "slot", slot = slot.slot, base = slot.base, repetition = slot.repetition,
                                        frame = frame, sender = t.senders[1], flags = 0 }
                                    made = true
                                end
                            end
                            if t.identifier then
                                local extended = t.extended
                                if kind == Vexo.Q3_CLUSTERTYPE_CAN and not extended and t.identifier > 0x7FF then
                                    warn(tWhere, "identifier 0x%X has more than 11 bits; taken as an extended identifier",
                                        t.identifier)
                                    extended = true
                                end
                                local flags = extended and Vexo.Q3_FLAG_CANEXTENDED or Vexo.Q3_FLAG_CANSTANDARD
                                if kind == Vexo.Q3_CLUSTERTYPE_CAN and frame.length > 8 then
                                    flags = flags + Vexo.Q3_FLAG_CANFD_EXTDATALEN
                                end
                                channel.triggerings[#channel.triggerings + 1] = { path = frame.path .. "/triggering",
                                    kind = "id", identifier = t.identifier, frame = frame, sender = t.senders[1],
                                    flags = flags }
                                made = true
                            end
                            if not made then
                                warn(tWhere, "neither an identifier nor a slot; the triggering is left out")
                            end
                            for _, instance in ipairs(frame.pdus) do
                                channel.pduTriggerings[#channel.pduTriggerings + 1] = {
                                    path = instance.pdu.path .. "/triggering", pdu = instance.pdu,
                                    cycle = t.cycle and t.cycle > 0 and builder.round(t.cycle * 1000) or nil,
                                    debounce = t.event and 0 or nil }
                            end
                        end
                    end
                end
            end
        end
    end
    for _, id in ipairs(channelOrder) do
        if not channelOf[id] then
            warn(at("CHANNEL", id), "the channel belongs to no cluster; left out with its %d frame triggerings",
                #channels[id].triggerings)
        end
    end
    if #net.clusters == 0 then report(0, INFO, "the file describes no CAN, FlexRay or LIN cluster") end
    return network.build(db, name, report, net)
end

return fibex
