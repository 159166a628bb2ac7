-- The model as DBC text: the frames of CAN channels with their identifiers, lengths,
-- CAN FD flags, senders and cycle times; their signals with layout, coding, factor and
-- offset, range, unit, receivers, value descriptions, start values and comments;
-- multiplexing (extended multiplexing where parts nest or share signals); names that
-- are no DBC identifier of at most 32 characters are shortened, the full name going
-- into the long-name attributes. Importing the text gives an equal model.
local Vexo = require "Vexo"
local text = require "vexo.text"

local U = text.U
local format, concat, floor = string.format, table.concat, math.floor

local dbc = {}

local LANGUAGE = 0
local NT = {
    IdentifierBasedTriggering = Vexo.Q3_NODETYPE_IdentifierBasedTriggering,
    SignalPDU = Vexo.Q3_NODETYPE_SignalPDU,
    MultiplexedPDU = Vexo.Q3_NODETYPE_MultiplexedPDU,
    LinearComputation = Vexo.Q3_NODETYPE_LinearComputation,
    IdentityComputation = Vexo.Q3_NODETYPE_IdentityComputation,
    MappedTextComputation = Vexo.Q3_NODETYPE_MappedTextComputation,
    CyclicTiming = Vexo.Q3_NODETYPE_CyclicTiming,
    ElementReference = Vexo.Q3_NODETYPE_ElementReference,
    Signal = Vexo.Q3_NODETYPE_Signal,
    Channel = Vexo.Q3_NODETYPE_Channel,
    Cluster = Vexo.Q3_NODETYPE_Cluster,
}

-- Real numbers as DBC writes them: integers of 32 bits plainly (the reader takes
-- larger integer tokens as 32-bit ones), others with the fewest digits that read back
-- as the same double.
local function num(x)
    if x == math.huge then return "1.7976931348623157E+308" end
    if x == -math.huge then return "-1.7976931348623157E+308" end
    if x == floor(x) and x >= -2 ^ 31 and x < 2 ^ 31 then return format("%d", x) end
    for digits = 15, 17 do
        local s = format("%." .. digits .. "g", x)
        if tonumber(s) == x then
            if not s:find("[.e]") then s = s .. ".0" end
            return s
        end
    end
    return format("%.17g", x)
end

-- Identifiers, lengths, bit positions and raw values: unsigned 32-bit integers.
local function int(x) return format("%.0f", x) end
dbc.number = num

local function quote(s)
    return '"' .. s:gsub('[\\"]', "\\%0") .. '"'
end

local function isIdentifier(name)
    return name ~= nil and #name <= 32 and name:find("^[%a_][%w_]*$") ~= nil
end

-- A DBC identifier for a name: invalid characters become '_', and a name longer
-- than 32 characters keeps 27 of them and a 4-digit hash of the whole.
local function shorten(name)
    local s = name:gsub("[^%w_]", "_")
    if s == "" or s:find("^%d") then s = "_" .. s end
    if #s > 32 then
        local h = 0
        for i = 1, #name do h = (h * 31 + name:byte(i)) % 65536 end
        s = s:sub(1, 27) .. format("_%04X", h)
    end
    return s
end

-- Names unique within one scope (the file's messages, a message's signals, ECUs).
local function namer()
    local used = {}
    return function(preferred)
        local name = preferred
        local n = 1
        while used[name] do
            n = n + 1
            local suffix = "_" .. n
            name = preferred:sub(1, 32 - #suffix) .. suffix
        end
        used[name] = true
        return name
    end
end

local function eid(node) return node.eid and U(node.eid) or nil end

-- The DBC name of an element and its full name: the name the importer took from the
-- file when the id still shows it, else the short name made into an identifier.
local function names(db, node, kind)
    local full = U(db:getShortName(node) or "") or ""
    local id = eid(node) or ""
    local fromId = id:match("/" .. kind .. "/([^/#]+)$")
    if isIdentifier(fromId) then return fromId, full end
    if isIdentifier(full) then return full, full end
    return shorten(full ~= "" and full or (id ~= "" and id or kind)), full
end

local function description(db, node)
    local d = db:getDescription(node, LANGUAGE, LANGUAGE)
    return d and U(d) or nil
end

-- The coding's factor and offset (its first linear rule), value descriptions (mapped
-- texts of one raw value each) and unit.
local function codingInfo(db, coding)
    local info = { scale = 1, offset = 0, values = {}, unit = "" }
    if coding == nil then return info end
    info.bitlen = coding.bitlen
    info.encoding = coding.encoding
    local linearSeen = false
    for c in coding.internalToPhysicalCompus do
        local kind = c.nodetype
        if kind == NT.LinearComputation and not linearSeen then
            info.scale, info.offset, linearSeen = c.scale, c.offset, true
        elseif kind == NT.MappedTextComputation then
            for r in c.ranges do
                if r.lowerLimit == r.upperLimit then
                    local t = db:stringLookup(c.textvalue, LANGUAGE, LANGUAGE)
                    info.values[#info.values + 1] = { r.lowerLimit, t and U(t) or "" }
                end
                break
            end
        end
    end
    local unit = coding.unit
    if unit then
        local name = db:getDisplayName(unit, LANGUAGE, LANGUAGE)
        info.unit = name and U(name) or ""
    end
    return info
end

-- Walks a PDU: calls visit(instance, context) for each signal instance, where context
-- is nil at the top level or { switch = switch key, value = v, parent = context }.
-- Returns the list of switches met: { key, pdu, context }.
local function walkPdu(pdu, context, visit, switches, depth)
    if pdu == nil or depth > 32 then return end
    local kind = pdu.nodetype
    if kind == NT.SignalPDU then
        for instance in pdu.signalInstances do visit(instance, context) end
    elseif kind == NT.MultiplexedPDU then
        local switch = { pdu = pdu, context = context, key = #switches + 1 }
        switches[#switches + 1] = switch
        local static = pdu.staticPart
        if static then walkPdu(static.reference, context, visit, switches, depth + 1) end
        for part in pdu.dynamicParts do
            walkPdu(part.reference, { switch = switch, value = part.switchCode, parent = context }, visit, switches,
                depth + 1)
        end
    end
end

function dbc.export(db, node, path)
    local channels = {}
    if node ~= nil then
        local kind = node.nodetype
        if kind == NT.Channel then
            channels[1] = node
        elseif kind == NT.Cluster then
            for child in node.children do
                if child.nodetype == NT.Channel then channels[#channels + 1] = child end
            end
        else
            error("DBC export takes a channel, a cluster or the whole database", 0)
        end
    else
        for cluster in db:enumClusters() do
            if cluster.clusterType == Vexo.Q3_CLUSTERTYPE_CAN then
                for child in cluster.children do
                    if child.nodetype == NT.Channel then channels[#channels + 1] = child end
                end
            end
        end
    end

    -- ECUs and the signals each receives.
    local ecuName, receiversOf, ecus = {}, {}, {}
    local ecuNamer = namer()
    for ecu in db:enumECUs() do
        local name, full = names(db, ecu, "ecu")
        name = ecuNamer(name)
        local key = eid(ecu)
        ecuName[key] = name
        ecus[#ecus + 1] = { node = ecu, name = name, full = full }
        for child in ecu.children do
            if child.nodetype == NT.ElementReference then
                local target = child.reference
                if target and target.nodetype == NT.Signal and target.eid then
                    local list = receiversOf[target.eid] or {}
                    receiversOf[target.eid] = list
                    list[#list + 1] = name
                end
            end
        end
    end

    -- Messages: the identifier triggerings of the channels, in their order, then
    -- frames no channel places (written with the identifier DBC uses for them).
    local messages, seenFrames = {}, {}
    for _, channel in ipairs(channels) do
        for t in channel.frameTriggerings do
            if t.nodetype == NT.IdentifierBasedTriggering and t.frame then
                messages[#messages + 1] = { frame = t.frame, triggering = t }
                if t.frame.eid then seenFrames[t.frame.eid] = true end
            end
        end
    end
    if node == nil then
        for frame in db:enumFrames() do
            if frame.eid and not seenFrames[frame.eid] then messages[#messages + 1] = { frame = frame } end
        end
    end

    local out = {}
    local function w(...) out[#out + 1] = concat({ ... }) end
    local comments, attributes, valueLines, valueTypes, muxLines = {}, {}, {}, {}, {}
    local anyFd, anyBrs = false, false
    local frameNamer = namer()
    local usedIds = {}

    w('VERSION ""\n\n\nNS_ :\n\tNS_DESC_\n\tCM_\n\tBA_DEF_\n\tBA_\n\tVAL_\n\tCAT_DEF_\n\tCAT_\n\tFILTER\n',
        '\tBA_DEF_DEF_\n\tEV_DATA_\n\tENVVAR_DATA_\n\tSGTYPE_\n\tSGTYPE_VAL_\n\tBA_DEF_SGTYPE_\n\tBA_SGTYPE_\n',
        '\tSIG_TYPE_REF_\n\tVAL_TABLE_\n\tSIG_GROUP_\n\tSIG_VALTYPE_\n\tSIGTYPE_VALTYPE_\n\tBO_TX_BU_\n',
        '\tBA_DEF_REL_\n\tBA_REL_\n\tBA_DEF_DEF_REL_\n\tBU_SG_REL_\n\tBU_EV_REL_\n\tBU_BO_REL_\n\tSG_MUL_VAL_\n\nBS_:\n\n')
    local names_ = {}
    for _, e in ipairs(ecus) do names_[#names_ + 1] = e.name end
    w("BU_: ", concat(names_, " "), "\n\n\n")

    local databaseComment
    for _, channel in ipairs(channels) do
        local cluster = channel.group
        if cluster and not databaseComment then databaseComment = description(db, cluster) end
    end

    for _, m in ipairs(messages) do
        local frame, t = m.frame, m.triggering
        local name, full = names(db, frame, "frame")
        name = frameNamer(name)
        local ident
        if t then
            ident = t.identifier % 2 ^ 32
            if t.flags % 2 == 1 then ident = ident + 2 ^ 31 end
        else
            ident = 0xC0000000
        end
        while usedIds[ident] and not t do ident = ident + 1 end
        usedIds[ident] = true
        local sender = t and t.sourceEcu and ecuName[eid(t.sourceEcu)] or "Vector__XXX"
        local dlc = frame.length
        w("BO_ ", int(ident), " ", name, ": ", int(dlc), " ", sender, "\n")
        if full ~= name and full ~= "" then
            attributes[#attributes + 1] = format('BA_ "SystemMessageLongSymbol" BO_ %s %s;', int(ident), quote(full))
        end
        local comment = description(db, frame)
        if comment then comments[#comments + 1] = format("CM_ BO_ %s %s;", int(ident), quote(comment)) end
        if t then
            local flags = t.flags
            if floor(flags / 4) % 2 == 1 then
                anyFd = true
                attributes[#attributes + 1] = format('BA_ "VFrameFormat" BO_ %s %d;', int(ident),
                    flags % 2 == 1 and 3 or 2)
                if floor(flags / 8) % 2 == 1 then
                    anyBrs = true
                    attributes[#attributes + 1] = format('BA_ "CANFD_BRS" BO_ %s 1;', int(ident))
                end
            end
        end

        -- The PDUs of the frame, their cycle times and signals.
        local occurrences, order, switches = {}, {}, {}
        local cycle
        for instance in frame.PDUInstances do
            local pdu = instance.reference
            if pdu then
                for trig in pdu.triggerings do
                    for child in trig.children do
                        if child.nodetype == NT.CyclicTiming and cycle == nil then
                            cycle = tonumber(tostring(child.cycleTime))
                        end
                    end
                end
                walkPdu(pdu, nil, function(si, context)
                    local signal = si.signal
                    if signal == nil then return end
                    local key = signal.eid or si
                    local o = occurrences[key]
                    if o == nil then
                        o = { signal = signal, instance = si, contexts = {} }
                        occurrences[key] = o
                        order[#order + 1] = o
                    end
                    o.contexts[#o.contexts + 1] = context or false
                end, switches, 0)
            end
        end
        if cycle and cycle > 0 then
            attributes[#attributes + 1] = format('BA_ "GenMsgCycleTime" BO_ %s %s;', int(ident), num(cycle))
        end

        -- Each switch is the signal placed exactly where the multiplexed PDU reads it.
        local switchSignal = {}
        for _, o in ipairs(order) do
            local si = o.instance
            local bitlen = o.signal.coding and o.signal.coding.bitlen
            for _, sw in ipairs(switches) do
                local pdu = sw.pdu
                if switchSignal[sw.key] == nil and si.bitpos == pdu.switchPosition and bitlen == pdu.switchLength
                    and (si.byteOrder == 1) == (pdu.switchByteOrder == 1) and o.contexts[1] == (sw.context or false) then
                    switchSignal[sw.key] = o
                    o.switchOf = sw
                end
            end
        end
        -- Switches without such a signal get one, so that the file can say what selects.
        local synthetic = {}
        for _, sw in ipairs(switches) do
            if switchSignal[sw.key] == nil then
                local o = { synthetic = true, pdu = sw.pdu, contexts = { sw.context or false }, switchOf = sw }
                switchSignal[sw.key] = o
                synthetic[#synthetic + 1] = o
            end
        end
        for _, o in ipairs(synthetic) do order[#order + 1] = o end

        -- Simple multiplexing when there is one switch, at the top, and each signal
        -- sits in one place; extended multiplexing otherwise.
        local simple = #switches <= 1 and (#switches == 0 or switches[1].context == nil)
        for _, o in ipairs(order) do
            if #o.contexts > 1 then simple = false end
        end

        local signalNamer = namer()
        for _, o in ipairs(order) do
            local signalName, signalFull
            local info, bitpos, byteOrder, minimum, maximum, default
            if o.synthetic then
                signalName = signalNamer("MUX_" .. o.switchOf.key)
                signalFull = signalName
                info = { scale = 1, offset = 0, values = {}, unit = "", bitlen = o.pdu.switchLength,
                    encoding = Vexo.Q3_ENCODING_DIRECT }
                bitpos, byteOrder, minimum, maximum, default = o.pdu.switchPosition, o.pdu.switchByteOrder, 0, 0, 0
            else
                local signal = o.signal
                signalName, signalFull = names(db, signal, "signal")
                signalName = signalNamer(signalName)
                info = codingInfo(db, signal.coding)
                bitpos, byteOrder = o.instance.bitpos, o.instance.byteOrder
                minimum, maximum, default = signal.minValue, signal.maxValue, signal.defaultValue
            end
            o.name = signalName
            local encodingType = (info.encoding or 1) % 65536
            local signed = encodingType == Vexo.Q3_ENCODING_2COMPL or encodingType == Vexo.Q3_ENCODING_1COMPL
            local bitlen = info.bitlen or 1

            -- Mode: M for a switch at the top; m<v> for a signal in a part (the value of
            -- its first place; extended multiplexing lists them all).
            local mode = ""
            local first = o.contexts[1]
            if first then mode = "m" .. int(first.value) end
            if o.switchOf then mode = mode .. "M" end
            if mode ~= "" then mode = mode .. " " end

            w(" SG_ ", signalName, " ", mode, ": ", int(bitpos), "|", int(bitlen), "@", byteOrder == 1 and "0" or "1",
                signed and "-" or "+", " (", num(info.scale), ",", num(info.offset), ") [", num(minimum), "|",
                num(maximum), "] ", quote(info.unit), " ")
            local receivers = (not o.synthetic and o.signal.eid and receiversOf[o.signal.eid]) or {}
            w(#receivers > 0 and concat(receivers, ",") or "Vector__XXX", "\n")

            if not o.synthetic then
                if signalFull ~= signalName and signalFull ~= "" then
                    attributes[#attributes + 1] = format('BA_ "SystemSignalLongSymbol" SG_ %s %s %s;', int(ident),
                        signalName, quote(signalFull))
                end
                local comment = description(db, o.signal)
                if comment then
                    comments[#comments + 1] = format("CM_ SG_ %s %s %s;", int(ident), signalName, quote(comment))
                end
                if info.scale ~= 0 then
                    local raw = (default - info.offset) / info.scale
                    raw = raw >= 0 and floor(raw + 0.5) or -floor(-raw + 0.5)
                    if raw ~= 0 then
                        attributes[#attributes + 1] = format('BA_ "GenSigStartValue" SG_ %s %s %s;', int(ident),
                            signalName, num(raw))
                    end
                end
                if encodingType == Vexo.Q3_ENCODING_IEEE then
                    valueTypes[#valueTypes + 1] = format("SIG_VALTYPE_ %s %s : %d;", int(ident), signalName,
                        bitlen == 64 and 2 or 1)
                end
                if #info.values > 0 then
                    local pairs_ = {}
                    for _, v in ipairs(info.values) do
                        -- Value descriptions take unsigned 32-bit numbers: a value is written
                        -- as its bit pattern when that fits, else as the negative number
                        -- of the same bits (which tolerant readers take).
                        local raw = v[1]
                        if raw < 0 and raw + 2 ^ bitlen < 2 ^ 32 then raw = raw + 2 ^ bitlen end
                        if raw >= 2 ^ 32 then raw = raw - 2 ^ bitlen end
                        if raw >= -2 ^ 31 then pairs_[#pairs_ + 1] = int(raw) .. " " .. quote(v[2]) end
                    end
                    valueLines[#valueLines + 1] = format("VAL_ %s %s %s ;", int(ident), signalName,
                        concat(pairs_, " "))
                end
            end
        end
        w("\n")

        if not simple then
            for _, o in ipairs(order) do
                -- Values by switch: the switch of each place the signal sits in.
                local bySwitch, switchOrder = {}, {}
                for _, context in ipairs(o.contexts) do
                    if context then
                        local sw = switchSignal[context.switch.key]
                        if bySwitch[sw] == nil then
                            bySwitch[sw] = {}
                            switchOrder[#switchOrder + 1] = sw
                        end
                        table.insert(bySwitch[sw], context.value)
                    end
                end
                for _, sw in ipairs(switchOrder) do
                    local values = bySwitch[sw]
                    table.sort(values)
                    local ranges, i = {}, 1
                    while i <= #values do
                        local j = i
                        while j < #values and values[j + 1] <= values[j] + 1 do j = j + 1 end
                        ranges[#ranges + 1] = int(values[i]) .. "-" .. int(values[j])
                        i = j + 1
                    end
                    muxLines[#muxLines + 1] = format("SG_MUL_VAL_ %s %s %s %s;", int(ident), o.name, sw.name,
                        concat(ranges, ", "))
                end
            end
        end
    end

    w("\n")
    if databaseComment then w("CM_ ", quote(databaseComment), ";\n") end
    for _, e in ipairs(ecus) do
        local comment = description(db, e.node)
        if comment then w("CM_ BU_ ", e.name, " ", quote(comment), ";\n") end
    end
    for _, line in ipairs(comments) do w(line, "\n") end
    w('BA_DEF_ BO_ "GenMsgCycleTime" INT 0 2147483647;\n')
    w('BA_DEF_ SG_ "GenSigStartValue" FLOAT -1.7976931348623157E+308 1.7976931348623157E+308;\n')
    w('BA_DEF_ BO_ "SystemMessageLongSymbol" STRING ;\n')
    w('BA_DEF_ SG_ "SystemSignalLongSymbol" STRING ;\n')
    w('BA_DEF_ BU_ "SystemNodeLongSymbol" STRING ;\n')
    if anyFd then
        w('BA_DEF_ BO_ "VFrameFormat" ENUM "StandardCAN","ExtendedCAN","StandardCAN_FD","ExtendedCAN_FD";\n')
    end
    if anyBrs then w('BA_DEF_ BO_ "CANFD_BRS" ENUM "0","1";\n') end
    w('BA_DEF_DEF_ "GenMsgCycleTime" 0;\n')
    w('BA_DEF_DEF_ "GenSigStartValue" 0;\n')
    w('BA_DEF_DEF_ "SystemMessageLongSymbol" "";\n')
    w('BA_DEF_DEF_ "SystemSignalLongSymbol" "";\n')
    w('BA_DEF_DEF_ "SystemNodeLongSymbol" "";\n')
    if anyFd then w('BA_DEF_DEF_ "VFrameFormat" "StandardCAN";\n') end
    if anyBrs then w('BA_DEF_DEF_ "CANFD_BRS" "0";\n') end
    for _, e in ipairs(ecus) do
        if e.full ~= e.name and e.full ~= "" then
            w('BA_ "SystemNodeLongSymbol" BU_ ', e.name, " ", quote(e.full), ";\n")
        end
    end
    for _, line in ipairs(attributes) do w(line, "\n") end
    for _, line in ipairs(valueLines) do w(line, "\n") end
    w("\n")
    for _, line in ipairs(valueTypes) do w(line, "\n") end
    for _, line in ipairs(muxLines) do w(line, "\n") end

    local file, message = io.open(path, "wb")
    if not file then error("cannot write " .. path .. ": " .. tostring(message), 0) end
    local ok, problem = file:write(concat(out))
    local closed, closeProblem = file:close()
    if not ok or not closed then
        error("cannot write " .. path .. ": " .. tostring(problem or closeProblem), 0)
    end
    return #messages
end

return dbc
