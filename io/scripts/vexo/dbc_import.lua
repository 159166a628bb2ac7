-- DBC files into the model: one CAN cluster and channel per file, a frame with its
-- identifier triggering, PDU, PDU instance and PDU triggering per message, a signal
-- with its instance and a (shared) coding per signal, multiplexing as multiplexed
-- PDUs. The reader's table carries most of the file; the few statements it skips
-- that matter (value types, extended multiplexing, extra senders, environment
-- variables ...) are read here from the text, which also gives reported lines.
local Vexo = require "Vexo"
local text = require "vexo.text"
local builder = require "vexo.builder"

local W = text.W
local WARNING, INFO = builder.WARNING, builder.INFO
local format, huge = string.format, math.huge

-- Pieces of element ids.
local FRAME, TRIGGERING, PDU = "frame/", "/triggering", "/pdu"
local PDU_INSTANCE, PDU_TRIGGERING = "/pdu-instance", "/pdu-triggering"
local SIGNAL, INSTANCE, RECEIVER = "/signal/", "/instance", "/receiver/"
local STATIC, STATIC_PDU = "/static", "/static/pdu"

local dbc = {}

local EXTENDED_BIT = 2 ^ 31
local CLOSED = Vexo.Q3_FLAG_LOWERLIMIT_CLOSED + Vexo.Q3_FLAG_UPPERLIMIT_CLOSED
local RANGE_FLAGS, VALID_FLAGS = tostring(CLOSED), format("%.0f", CLOSED + Vexo.Q3_FLAG_VALID)
local FD_FLAGS = Vexo.Q3_FLAG_CANFD_EXTDATALEN
local BRS_FLAG = Vexo.Q3_FLAG_CANFD_FASTDATA

-- Attributes whose values become part of the model, by object kind ("" = database).
local KEPT_ATTRIBUTES = {
    BO_ = { GenMsgCycleTime = true, VFrameFormat = true, CANFD_BRS = true, SystemMessageLongSymbol = true },
    SG_ = { GenSigStartValue = true, SystemSignalLongSymbol = true },
    BU_ = { SystemNodeLongSymbol = true },
    [""] = {},
}

-- Statements the reader passes over. Those marked true are read here; the others
-- cannot be held by the model and are reported one by one.
local SCANNED = {
    SIG_VALTYPE_ = true, SG_MUL_VAL_ = true, BA_DEF_ = true, BO_TX_BU_ = false, EV_ = false, ENVVAR_DATA_ = false,
    VAL_TABLE_ = false, SIG_GROUP_ = false, SGTYPE_ = false, SIG_TYPE_REF_ = false, BA_DEF_REL_ = false,
    BA_REL_ = false, BA_DEF_DEF_REL_ = false, BA_DEF_SGTYPE_ = false, BA_SGTYPE_ = false, CAT_DEF_ = false,
    CAT_ = false, FILTER = false, BU_SG_REL_ = false, BU_EV_REL_ = false, BU_BO_REL_ = false,
}

local WHAT = {
    BO_TX_BU_ = "additional senders of a message", EV_ = "environment variable",
    ENVVAR_DATA_ = "environment variable data", VAL_TABLE_ = "value table", SIG_GROUP_ = "signal group",
    SGTYPE_ = "signal type", SIG_TYPE_REF_ = "signal type reference", BA_DEF_REL_ = "relation attribute",
    BA_REL_ = "relation attribute value", BA_DEF_DEF_REL_ = "relation attribute default",
    BA_DEF_SGTYPE_ = "signal type attribute", BA_SGTYPE_ = "signal type attribute value",
    CAT_DEF_ = "category", CAT_ = "category", FILTER = "filter", BU_SG_REL_ = "node relation",
    BU_EV_REL_ = "node relation", BU_BO_REL_ = "node relation",
}

-- Node names that DBC writers put where a message has no sender or a signal no
-- receiver; they name no ECU.
local function isPlaceholderNode(name)
    return name == nil or name == "" or name:find("__XXX$") ~= nil
end

-- Every statement of the kinds in SCANNED that starts a line: { keyword, position,
-- statement text up to its ';' }, in file order.
local function scanStatements(content)
    local found = {}
    local byte = string.byte
    for keyword in pairs(SCANNED) do
        local init = 1
        while true do
            local s, e = content:find(keyword, init, true)
            if not s then break end
            init = e + 1
            local after = byte(content, e + 1)
            if after == 32 or after == 9 then
                local b = s - 1
                while b >= 1 and (byte(content, b) == 32 or byte(content, b) == 9) do b = b - 1 end
                if b == 0 or byte(content, b) == 10 or byte(content, b) == 13 then
                    local stop = content:find(";", e, true) or #content
                    found[#found + 1] = { keyword, s, content:sub(s, stop) }
                    init = stop + 1
                end
            end
        end
    end
    table.sort(found, function(a, b) return a[2] < b[2] end)
    return found
end

-- The numeric value of an attribute value text; ENUM values written as an index
-- become the enumeration's text.
local function attributeValue(definition, value)
    if definition and definition.typ == "ENUM" and definition.values then
        local index = tonumber(value)
        if index and definition.values[index + 1] then return definition.values[index + 1] end
        return value
    end
    return tonumber(value) or value
end

-- Reads the file's table and text. Returns the reader's table, the file text and the
-- reader's warnings; raises the reader's message for a file it rejects.
function dbc.read(path, options)
    local raw, problem = Vexo.importDBC(W(path), options.tolerant and { tolerant = true } or nil)
    if raw == nil then
        if type(problem) == "number" then
            error(format("cannot read DBC file %s (error 0x%08X)", path, problem % 2 ^ 32), 0)
        end
        error(tostring(problem), 0)
    end
    return raw, text.readFile(path) or "", problem
end

-- Counts for getImportInfo: frames, signals and ECUs of the reader's table.
function dbc.count(raw)
    local frames, signals, ecus = 0, 0, 0
    for i = 1, #raw do
        local e = raw[i]
        if e.tag == "frame" then
            frames = frames + 1
            signals = signals + #e
        elseif e.tag == "ecu" and not isPlaceholderNode(e.id) then
            ecus = ecus + 1
        end
    end
    return frames, signals, ecus
end

-- Builds the model of a DBC file read by dbc.read into db. name: the database name
-- used in element ids; report(line, severity, message). Returns the counts of
-- frames, signals and ECUs made.
function dbc.build(db, name, report, raw, content, warnings)
    -- The tolerant reader's warnings: what it accepted differently or skipped.
    for _, w in ipairs(type(warnings) == "table" and warnings or {}) do
        report(w.line or 0, WARNING, w.column and format("%s (column %d)", w.text, w.column) or w.text)
    end
    local lineOf = text.lineIndex(content)
    local b = builder.new(db, name, report)

    -- Tables keyed by frame identifier, then signal name.
    local perSignal = builder.tableAt
    local NONE = {}

    -- Sort the reader's elements by kind.
    local frames, ecuNames = {}, {}
    local definitions, defaults, attributes = {}, {}, {}
    local frameComment, signalComment, nodeComment = {}, {}, {}
    local valueTables = {}
    local databaseComment
    for i = 1, #raw do
        local e = raw[i]
        local tag = e.tag
        if tag == "frame" then
            frames[#frames + 1] = e
        elseif tag == "ecu" then
            ecuNames[#ecuNames + 1] = e.id
        elseif tag == "comment" then
            if e.ntyp == "BO_" then
                frameComment[e.frame] = e.text
            elseif e.ntyp == "SG_" then
                perSignal(signalComment, e.frame)[e.signal] = e.text
            elseif e.ntyp == "BU_" then
                nodeComment[e.refid] = e.text
            elseif e.ntyp == "EV_" then
                report(0, WARNING, format("comment of environment variable %s not kept", e.refid))
            else
                databaseComment = e.text
            end
        elseif tag == "value" then
            if e.envvar then
                report(0, WARNING, format("value descriptions of environment variable %s not kept", e.envvar))
            elseif e.values then
                perSignal(valueTables, e.frame)[e.signal] = e.values
            end
        elseif tag == "attrdef" then
            definitions[e.id] = e
            definitions[#definitions + 1] = e
        elseif tag == "attrdefault" then
            defaults[e.id] = e.value
        elseif tag == "attr" then
            attributes[#attributes + 1] = e
        end
    end
    -- From here on the reader's tables are let go as soon as they are used, so that the
    -- collector can reuse their memory for the model (the file's table is the larger
    -- part of an import's peak).
    for i = #raw, 1, -1 do raw[i] = nil end

    -- Attribute values by object; each definition counts the values it had.
    local frameAttributes, signalAttributes, nodeAttributes, dropped = {}, {}, {}, {}
    for _, a in ipairs(attributes) do
        local kind = a.ntyp or ""
        local definition = definitions[a.id]
        local value = attributeValue(definition, a.value)
        local target
        if kind == "BO_" then
            target = frameAttributes[a.frame] or {}
            frameAttributes[a.frame] = target
        elseif kind == "SG_" then
            local frameTable = perSignal(signalAttributes, a.frame)
            target = frameTable[a.signal] or {}
            frameTable[a.signal] = target
        elseif kind == "BU_" then
            target = nodeAttributes[a.refid] or {}
            nodeAttributes[a.refid] = target
        end
        if target and KEPT_ATTRIBUTES[kind][a.id] then
            target[a.id] = value
        else
            dropped[a.id] = (dropped[a.id] or 0) + 1
        end
    end
    attributes = nil
    local function default(attribute)
        local value = defaults[attribute]
        if value == nil then return nil end
        return attributeValue(definitions[attribute], value)
    end
    local function numberOf(value) return tonumber(value) end

    -- Statements read from the text.
    local valueTypes, multiplexing, definitionLines = {}, {}, {}
    for _, statement in ipairs(scanStatements(content)) do
        local keyword, position, body = statement[1], statement[2], statement[3]
        if keyword == "BA_DEF_" then
            local attribute = body:match('^BA_DEF_%s+[%u_]*%s*"([^"]*)"')
            if attribute then definitionLines[attribute] = definitionLines[attribute] or lineOf(position) end
        elseif keyword == "SIG_VALTYPE_" then
            local frame, signal, kind = body:match("^SIG_VALTYPE_%s+(%d+)%s+([^%s:]+)%s*:?%s*(%d)")
            if frame then
                perSignal(valueTypes, tonumber(frame))[signal] = tonumber(kind)
            else
                report(lineOf(position), WARNING, "value type statement not understood: " .. body)
            end
        elseif keyword == "SG_MUL_VAL_" then
            local frame, signal, switch, list = body:match("^SG_MUL_VAL_%s+(%d+)%s+(%S+)%s+(%S+)%s+(.-)%s*;")
            if frame then
                local ranges = {}
                for from, to in list:gmatch("(%d+)%s*%-%s*(%d+)") do
                    ranges[#ranges + 1] = { tonumber(from), tonumber(to) }
                end
                local entries = multiplexing[tonumber(frame)] or {}
                multiplexing[tonumber(frame)] = entries
                entries[signal] = { switch = switch, ranges = ranges, line = lineOf(position) }
            else
                report(lineOf(position), WARNING, "multiplexing statement not understood: " .. body)
            end
        else
            local subject = body:match("^[%u_]+%s+(%S+)") or ""
            report(lineOf(position), WARNING, format("%s %s not kept", WHAT[keyword], subject:gsub("[;:]$", "")))
        end
    end

    content, lineOf = nil, nil

    -- Attribute definitions the model has no place for, each reported at its line.
    for _, d in ipairs(definitions) do
        local kind = d.ntyp or ""
        if not (KEPT_ATTRIBUTES[kind] and KEPT_ATTRIBUTES[kind][d.id]) then
            local count = dropped[d.id] or 0
            report(definitionLines[d.id] or 0, WARNING, format('attribute "%s"%s not kept%s', d.id,
                kind ~= "" and " of " .. kind or "", count > 0 and format(" (%d values dropped)", count) or ""))
            dropped[d.id] = nil
        end
    end
    for attribute, count in pairs(dropped) do
        report(0, WARNING, format('attribute "%s" is not defined or not kept: %d values dropped', attribute, count))
    end

    -- The network.
    local cluster = db:createCluster(b:id("cluster"), Vexo.Q3_CLUSTERTYPE_CAN)
    b:name(cluster, name)
    b:describe(cluster, databaseComment)
    local channel = db:createChannel(b:id("channel"), cluster)
    b:name(channel, name)

    local ecuCount = 0
    for _, node in ipairs(ecuNames) do
        if not isPlaceholderNode(node) and not b.ecus[node] then
            local attrs = nodeAttributes[node] or {}
            local ecu = b:ecu(node, attrs.SystemNodeLongSymbol)
            b:describe(ecu, nodeComment[node])
            ecuCount = ecuCount + 1
        end
    end

    local startDefault = numberOf(default("GenSigStartValue")) or 0
    local cycleDefault = numberOf(default("GenMsgCycleTime")) or 0
    local formatDefault = default("VFrameFormat")
    local brsDefault = default("CANFD_BRS")
    local signalCount = 0

    -- One signal of a message: its coding, the signal and its receivers. Its
    -- instances are made by the caller in each PDU that holds it. signals: the
    -- message's per-signal tables; path: the frame's id path (UTF-16).
    local function makeSignal(frameName, path, ident, s)
        local name = s.id
        local bitlen = s.bitlen
        if bitlen < 1 or bitlen > 64 then
            report(0, WARNING, format("signal %s of message %s: a length of %d bits cannot be held (1 to 64); " ..
                "signal dropped", name, frameName, bitlen))
            return nil
        end
        local valueType = (valueTypes[ident] or NONE)[name]
        local encoding, lo, hi
        if (valueType == 1 and bitlen == 32) or (valueType == 2 and bitlen == 64) then
            encoding, lo, hi = Vexo.Q3_ENCODING_IEEE, -huge, huge
        else
            if valueType == 1 or valueType == 2 then
                report(0, WARNING, format("signal %s of message %s: a floating-point value needs %d bits; read " ..
                    "as an integer", name, frameName, valueType == 1 and 32 or 64))
            end
            encoding = s.signed and Vexo.Q3_ENCODING_2COMPL or Vexo.Q3_ENCODING_DIRECT
            lo, hi = builder.rawDomain(bitlen, s.signed)
        end
        local values = (valueTables[ident] or NONE)[name]
        if values and encoding ~= Vexo.Q3_ENCODING_IEEE then
            -- A description written for the other reading of the bits is meant for the
            -- value the signal has: 255 for -1 of a signed 8-bit signal, -1 for 255 of an
            -- unsigned one.
            local matching = {}
            for raw, description in pairs(values) do
                if raw > hi and raw < 2 ^ bitlen then raw = raw - 2 ^ bitlen end
                if raw < lo and raw >= -2 ^ bitlen then raw = raw + 2 ^ bitlen end
                matching[raw] = description
            end
            values = matching
        end
        local attrs = (signalAttributes[ident] or NONE)[name] or NONE
        local start = numberOf(attrs.GenSigStartValue) or startDefault
        local coding = b:linearCoding(bitlen, encoding, s.unit, lo, hi, s.scale, s.offset, values, start < 0)
        -- Flags go to the binding as text: it reads every flag argument through its text.
        local flags = (s.min ~= 0 or s.max ~= 0) and VALID_FLAGS or RANGE_FLAGS
        local displayName = attrs.SystemSignalLongSymbol or name
        local id, repeated, signalPath = b:id(path .. SIGNAL .. displayName)
        if repeated then
            report(0, WARNING, format("signal %s of message %s appears twice; the second one has an id ending " ..
                "in #2", displayName, frameName))
        end
        local signal = db:createSignal(id, flags, start * s.scale + s.offset, s.min, s.max, coding)
        b:name(signal, displayName)
        b:describe(signal, (signalComment[ident] or NONE)[name])
        for _, receiver in ipairs(s.receivers) do
            if not isPlaceholderNode(receiver) then
                local ecu = b:ecu(receiver)
                local ref = db:createElementReference(b:id(signalPath .. RECEIVER .. b.ecuNames[receiver]),
                    signal)
                ecu:appendChildren(ref)
            end
        end
        signalCount = signalCount + 1
        return signal, signalPath
    end

    -- The layout of a message's PDU as a plan: { members = signals } for a signal PDU,
    -- or { switch = signal, static = plan, parts = { { value, plan } ... } } for a
    -- multiplexed PDU whose static part holds this level's signals (the switch
    -- included) and whose dynamic parts hold what each switch value selects.
    local function plan(members, switches, children, active)
        -- A switch already selecting the parts around this one would loop: it is
        -- placed as a plain signal here.
        local pending = {}
        for _, sw in ipairs(switches) do
            if active[sw.id] then
                report(0, WARNING, format("multiplexer %s selects a part that contains itself; kept as a plain " ..
                    "signal there", sw.id))
            else
                pending[#pending + 1] = sw
            end
        end
        if #pending == 0 then return { members = members } end
        local switch = table.remove(pending, 1)
        local node = { switch = switch, static = plan(members, pending, children, active), parts = {} }
        local byValue = children[switch.id] or {}
        active[switch.id] = true
        for _, value in ipairs(byValue.order or {}) do
            local inPart = byValue[value]
            node.parts[#node.parts + 1] = { value, plan(inPart, inPart.switches, children, active) }
        end
        active[switch.id] = nil
        return node
    end

    -- Orders the signals of every signal PDU by the first PDU (static parts first,
    -- then parts by value) that holds them, then by their place in the file. An
    -- exported file lists signals in that order, so its import orders them alike.
    local function orderPlan(root, fileIndex)
        local first, leaves = {}, {}
        local function walk(node)
            if node.members then
                leaves[#leaves + 1] = node.members
                for _, s in ipairs(node.members) do first[s] = first[s] or #leaves end
            else
                walk(node.static)
                for _, part in ipairs(node.parts) do walk(part[2]) end
            end
        end
        walk(root)
        local function before(x, y)
            if first[x] ~= first[y] then return first[x] < first[y] end
            return fileIndex[x] < fileIndex[y]
        end
        -- Most lists are in order already (a message without multiplexing): only the
        -- others are sorted.
        for _, members in ipairs(leaves) do
            for i = 2, #members do
                if before(members[i], members[i - 1]) then
                    table.sort(members, before)
                    break
                end
            end
        end
    end

    -- Makes the PDUs of a plan; place(signal, pdu) makes a signal instance.
    local function build(node, path, bits, place, referrer)
        if node.members then
            local pdu = db:createSignalPDU((b:id(path)), bits, referrer)
            for _, s in ipairs(node.members) do place(s, pdu) end
            return pdu
        end
        local switch = node.switch
        local mux = db:createMultiplexedPDU((b:id(path)), bits, switch.bigendian and 1 or 0, switch.startbit,
            switch.bitlen, 0, referrer)
        local static = db:createMultiplexedPart((b:id(path .. STATIC)), 0, mux)
        build(node.static, path .. STATIC_PDU, bits, place, static)
        mux:setStaticPart(static)
        for _, part in ipairs(node.parts) do
            local value = part[1]
            local partPath = path .. "/mux/" .. value
            local made = db:createMultiplexedPart((b:id(partPath)), value, mux)
            build(part[2], partPath .. PDU, bits, place, made)
            mux:addDynamicParts(made)
        end
        return mux
    end

    -- Which signals each switch selects, by value: { [switch] = { order = {values},
    -- [value] = { signals..., switches = {...} } } }, and the top-level signals.
    local function layOut(frameName, ident, signals)
        local bySwitch = {}
        local top, topSwitches = {}, {}
        local isSwitch = {}
        local extended = multiplexing[ident]
        for _, s in ipairs(signals) do
            if s.mode == "M" then isSwitch[s.id] = true end
        end
        if extended then
            for _, entry in pairs(extended) do isSwitch[entry.switch] = true end
        end
        local function add(switch, value, s)
            local byValue = bySwitch[switch]
            if byValue == nil then
                byValue = { order = {} }
                bySwitch[switch] = byValue
            end
            local list = byValue[value]
            if list == nil then
                list = { switches = {} }
                byValue[value] = list
                byValue.order[#byValue.order + 1] = value
            end
            list[#list + 1] = s
            if isSwitch[s.id] then list.switches[#list.switches + 1] = s end
        end
        local firstSwitch
        for _, s in ipairs(signals) do
            if s.mode == "M" and not (extended and extended[s.id]) then
                firstSwitch = firstSwitch or s.id
            end
        end
        local total = 0
        for _, s in ipairs(signals) do
            local entry = extended and extended[s.id]
            if entry then
                for _, r in ipairs(entry.ranges) do
                    if r[2] - r[1] > 4095 - total then
                        report(entry.line, WARNING, format("signal %s of message %s: multiplexer values %d-%d " ..
                            "not all kept (at most 4096 parts per message)", s.id, frameName, r[1], r[2]))
                    end
                    for v = r[1], math.min(r[2], r[1] + 4095 - total) do
                        add(entry.switch, v, s)
                        total = total + 1
                    end
                end
            elseif s.mode == "m" and firstSwitch then
                add(firstSwitch, s.modevalue, s)
            else
                if s.mode == "m" then
                    report(0, WARNING, format("signal %s of message %s is multiplexed but the message has no " ..
                        "multiplexer switch; kept as a plain signal", s.id, frameName))
                end
                top[#top + 1] = s
                if isSwitch[s.id] then topSwitches[#topSwitches + 1] = s end
            end
        end
        for _, byValue in pairs(bySwitch) do table.sort(byValue.order) end
        if #topSwitches > 1 and not extended then
            report(0, WARNING, format("message %s has %d multiplexer switches; the signals marked m follow %s",
                frameName, #topSwitches, firstSwitch))
        end
        return top, topSwitches, bySwitch
    end

    -- The CAN identifier of a message and whether it is extended; nil when the number
    -- is no CAN identifier. Identifiers above 11 bits without the extended flag are
    -- taken as extended ones.
    local function canIdentifier(ident)
        if ident >= EXTENDED_BIT then
            local canId = ident - EXTENDED_BIT
            if canId <= 0x1FFFFFFF then return canId, true end
            return nil
        end
        if ident <= 0x7FF then return ident, false end
        if ident <= 0x1FFFFFFF then return ident, true, true end
        return nil
    end

    -- Messages on the bus first, in file order, then those whose identifier is no CAN
    -- identifier (the pseudo-message that holds signals of no message) by name: an
    -- exported file lists them in this order too.
    local ordered, unplaced = {}, {}
    for _, e in ipairs(frames) do
        if canIdentifier(e.frameid) then ordered[#ordered + 1] = e else unplaced[#unplaced + 1] = e end
    end
    frames = nil
    table.sort(unplaced, function(x, y)
        local a = (frameAttributes[x.frameid] or NONE).SystemMessageLongSymbol or x.id
        local c = (frameAttributes[y.frameid] or NONE).SystemMessageLongSymbol or y.id
        return a < c
    end)
    for _, e in ipairs(unplaced) do ordered[#ordered + 1] = e end
    unplaced = nil

    local frameCount = 0
    for k = 1, #ordered do
        local e = ordered[k]
        ordered[k] = false
        local ident, frameName, dlc = e.frameid, e.id, e.dlc
        local canId, extended, flagMissing = canIdentifier(ident)
        if flagMissing then
            report(0, WARNING, format("message %s: identifier 0x%X has more than 11 bits but no extended flag; " ..
                "taken as an extended identifier", frameName, ident))
        end
        local attrs = frameAttributes[ident] or {}
        local displayName = attrs.SystemMessageLongSymbol or frameName
        local id, repeated, path = b:id(FRAME .. displayName)
        if repeated then
            report(0, WARNING, format("message name %s appears twice; the second one has an id ending in #2",
                displayName))
        end
        local frame = db:createFrame(id, dlc)
        b:name(frame, displayName)
        b:describe(frame, frameComment[ident])

        local frameFormat = attrs.VFrameFormat or formatDefault
        local fd = dlc > 8 or (type(frameFormat) == "string" and frameFormat:find("_FD$") ~= nil)
        local flags = extended and Vexo.Q3_FLAG_CANEXTENDED or Vexo.Q3_FLAG_CANSTANDARD
        if fd then
            flags = flags + FD_FLAGS
            local brs = attrs.CANFD_BRS or brsDefault
            if brs ~= nil and tonumber(brs) == 1 then flags = flags + BRS_FLAG end
        end
        local sender = not isPlaceholderNode(e.sender) and b:ecu(e.sender) or nil
        local triggered = canId ~= nil
        if triggered then
            db:createIdentifierBasedTriggering((b:id(path .. TRIGGERING)), canId, flags, frame, sender, channel)
        else
            report(0, INFO, format("message %s: identifier %d is no CAN identifier; its signals are kept, " ..
                "the message is not placed on the bus", frameName, ident))
        end

        local made, signalPaths = {}, {}
        local function place(s, pdu)
            local signal = made[s]
            if signal == nil then
                local signalPath
                signal, signalPath = makeSignal(frameName, path, ident, s)
                signal = signal or false
                made[s], signalPaths[s] = signal, signalPath
            end
            if signal then
                db:createSignalInstance((b:id(signalPaths[s] .. INSTANCE)), s.bigendian and 1 or 0, s.startbit, -1,
                    signal, pdu)
            end
        end
        local signals, fileIndex = {}, {}
        for i = 1, #e do signals[i], fileIndex[e[i]] = e[i], i end
        local top, topSwitches, bySwitch = layOut(frameName, ident, signals)
        local layout = plan(top, topSwitches, bySwitch, {})
        orderPlan(layout, fileIndex)
        local pdu = build(layout, path .. PDU, dlc * 8, place)
        db:createPDUInstance((b:id(path .. PDU_INSTANCE)), Vexo.Q3_BYTEORDER_LITTLEENDIAN, 0, -1, pdu, frame)
        if triggered then
            local pduTriggering = db:createPDUTriggering((b:id(path .. PDU_TRIGGERING)), pdu, channel)
            local cycle = numberOf(attrs.GenMsgCycleTime) or cycleDefault
            if cycle > 0 then db:createCyclicTiming(cycle, pduTriggering) end
        end
        frameCount = frameCount + 1
    end
    return frameCount, signalCount, ecuCount
end

return dbc
