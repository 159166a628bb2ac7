-- SYM files (symbol files, format versions 5.0 and 6.0) into the model: one CAN
-- cluster and channel per file; the blocks of one message name make one frame, whose
-- Mux lines make a multiplexed PDU; enumerations become value descriptions; the
-- signals of {SIGNALS} are shared by the frames that place them (Sig=), variables
-- (Var=) belong to their frame. Built through vexo.network.
local Vexo = require "Vexo"
local native = require "Vexo.native"
local builder = require "vexo.builder"
local network = require "vexo.network"

local WARNING = builder.WARNING
local format, huge = string.format, math.huge

local sym = {}

-- Bits of the types that have a fixed length.
local FIXED = { bit = 1, char = 8, float = 32, double = 64 }
local FRAME_TYPES = {
    Standard = { false, false }, Extended = { true, false }, FDStandard = { false, true }, FDExtended = { true, true },
}
-- Header entries the model keeps (Title: the cluster's description; BRS: the default
-- bit rate switch of CAN FD frames) or that describe the file itself.
local HEADER = { FormatVersion = true, Title = true, BRS = true }
-- Flags and options that only say how a tool shows a value.
local DISPLAY_FLAGS = { h = "hexadecimal display", b = "binary display" }

function sym.read(path)
    local raw, problem = native.importSYM(path)
    if raw == nil then
        if type(problem) == "number" then
            error(format("cannot read SYM file %s (error 0x%08X)", path, problem % 2 ^ 32), 0)
        end
        error(tostring(problem), 0)
    end
    return raw
end

function sym.count(raw)
    local frames, signals, seen = 0, 0, {}
    for i = 1, #raw do
        local e = raw[i]
        if e.tag == "signal" then
            signals = signals + 1
        elseif e.tag == "message" then
            if not seen[e.name] then frames = frames + 1 end
            seen[e.name] = true
            for k = 1, #e do
                if e[k].tag == "var" then signals = signals + 1 end
            end
        end
    end
    return frames, signals, 0
end

-- Splits the identifiers first..last into blocks of 2^n identifiers starting at a
-- multiple of 2^n: each is one masked identifier triggering.
local function aligned(first, last)
    local blocks = {}
    while first <= last do
        local size = 1
        while first % (size * 2) == 0 and first + size * 2 - 1 <= last do size = size * 2 end
        blocks[#blocks + 1] = { first, size }
        first = first + size
    end
    return blocks
end

function sym.build(db, name, report, raw)
    local enums, definitions, messages, order = {}, {}, {}, {}
    local title, brsDefault
    local directions = {}
    for i = 1, #raw do
        local e = raw[i]
        if e.tag == "header" then
            if e.key == "Title" then
                title = e.value
            elseif e.key == "BRS" then
                brsDefault = e.value == "True"
            elseif e.key == "FormatVersion" then
                if e.value ~= "5.0" and e.value ~= "6.0" then
                    report(e.line, WARNING, format("format version %s; read as 6.0", e.value))
                end
            end
            if not HEADER[e.key] then
                report(e.line, WARNING, format("header entry %s=%s not kept", e.key, e.value))
            end
        elseif e.tag == "enum" then
            enums[e.name] = e
            local comments = 0
            for k = 1, #e do
                if e[k].comment then comments = comments + 1 end
            end
            if e.comment then report(e.line, WARNING, format("comment of enumeration %s not kept", e.name)) end
            if comments > 0 then
                report(e.line, WARNING, format("%d value comments of enumeration %s not kept", comments, e.name))
            end
            if e.flags then report(e.line, WARNING, format("flags -%s of enumeration %s not kept", e.flags, e.name)) end
        elseif e.tag == "signal" then
            definitions[e.name] = definitions[e.name] or e
            definitions[#definitions + 1] = e
        elseif e.tag == "message" then
            local blocks = messages[e.name]
            if blocks == nil then
                blocks = {}
                messages[e.name] = blocks
                order[#order + 1] = e.name
            end
            blocks[#blocks + 1] = e
            if e.section ~= "SENDRECEIVE" and #blocks == 1 then directions[e.section] = (directions[e.section] or 0) + 1 end
        end
    end
    for _, section in ipairs({ "SEND", "RECEIVE" }) do
        if directions[section] then
            report(0, WARNING, format("%d messages of the {%s} section: the direction is not kept (a symbol file " ..
                "names no ECU)", directions[section], section))
        end
    end

    -- The coding, limits and default of a signal definition or variable; nil when the
    -- model cannot hold it (reported).
    local function describe(e, what)
        local kind, length = e.type, FIXED[e.type] or e.length
        local enum
        if length == nil then
            report(e.line, WARNING, format("%s %s of type %s has no length; left out", what, e.name, kind))
            return nil
        end
        if not (kind == "unsigned" or kind == "signed" or kind == "raw" or kind == "string" or FIXED[kind]) then
            enum = enums[kind]
            if enum == nil then
                report(e.line, WARNING, format("%s %s: type %s is no enumeration of the file; read as unsigned",
                    what, e.name, kind))
            end
            kind = "unsigned"
        end
        if e.enum then
            enum = enums[e.enum]
            if enum == nil then
                report(e.line, WARNING, format("%s %s: enumeration %s not found; values kept without texts", what,
                    e.name, e.enum))
            end
        end
        local ascii = kind == "char" or kind == "string"
        if length < 1 or (length > 64 and not ascii) then
            report(e.line, WARNING, format("%s %s: a length of %d bits cannot be held (1 to 64); left out", what,
                e.name, length))
            return nil
        end
        if (kind == "float" and length ~= 32) or (kind == "double" and length ~= 64) then
            report(e.line, WARNING, format("%s %s: a %s of %d bits; read as unsigned", what, e.name, kind, length))
            kind = "unsigned"
        end
        local factor, offset = e.factor or 1, e.offset or 0
        local spec = { bitlen = length, unit = e.unit }
        local lo, hi
        if ascii then
            spec.encoding = Vexo.Q3_ENCODING_ASCII
        elseif kind == "float" or kind == "double" then
            spec.encoding = Vexo.Q3_ENCODING_IEEE
            spec.linear = { { -huge, huge, factor, offset } }
        else
            local signed = kind == "signed"
            spec.encoding = signed and Vexo.Q3_ENCODING_2COMPL or Vexo.Q3_ENCODING_DIRECT
            lo, hi = network.rawDomain(length, signed)
            spec.linear = { { lo, hi, factor, offset } }
            if enum and #enum > 0 then
                local values, ranges = {}, nil
                for _, v in ipairs(enum) do
                    if v.to then
                        ranges = ranges or {}
                        ranges[#ranges + 1] = { v.value, v.to, v.text }
                    else
                        values[v.value] = v.text
                    end
                end
                spec.values = signed and network.signedValues(values, length) or values
                spec.ranges = ranges
            end
        end
        local result = { coding = spec, longname = e.longname, desc = e.comment, line = e.line }
        local rawDefault
        if e.defaulttext then
            local bytes = e.defaulttext:match("^r(%x+)$")
            if bytes and not ascii then
                rawDefault = tonumber(bytes, 16)
            else
                report(e.line, WARNING, format("%s %s: default %s not kept", what, e.name, e.defaulttext))
            end
        end
        if lo ~= nil then
            if rawDefault then result.default = rawDefault * factor + offset end
            spec.negativeFirst = rawDefault ~= nil and rawDefault < 0
            if e.min or e.max then
                local a, c = lo * factor + offset, hi * factor + offset
                if a > c then a, c = c, a end
                result.min, result.max = e.min or a, e.max or c
            end
        elseif not ascii then
            result.min, result.max = e.min, e.max
            if e.min or e.max then
                result.min, result.max = e.min or -huge, e.max or huge
            end
        end
        if e.default then
            result.default = e.default
            if lo ~= nil and factor ~= 0 then spec.negativeFirst = (e.default - offset) / factor < 0 end
        end
        result.ascii = ascii
        for letter in (e.flags or ""):gmatch(".") do
            if DISPLAY_FLAGS[letter] then
                report(e.line, WARNING, format("%s %s: %s (-%s) not kept", what, e.name, DISPLAY_FLAGS[letter], letter))
            elseif letter ~= "m" then
                report(e.line, WARNING, format("%s %s: flag -%s not understood; not kept", what, e.name, letter))
            end
        end
        if e.decimals then report(e.line, WARNING, format("%s %s: decimal places (/p:) not kept", what, e.name)) end
        if e.spn then report(e.line, WARNING, format("%s %s: SPN %d not kept", what, e.name, e.spn)) end
        for option, value in pairs(e.options or {}) do
            report(e.line, WARNING, format("%s %s: option /%s:%s not understood; not kept", what, e.name, option, value))
        end
        return result
    end

    -- The instance layout of a field at the file's start bit: (start bit, big-endian).
    -- Motorola (-m) positions count from the most significant bit of byte 0; text is
    -- read byte by byte, so aligned text fields stay little-endian.
    local function place(start, bigEndian, ascii)
        if not bigEndian then return start, false end
        if ascii and start % 8 == 0 then return start, false end
        return network.msbFirstToStart(start), true
    end

    local net = { signals = {}, frames = {}, clusters = {} }
    local shared = {}
    for _, d in ipairs(definitions) do
        if shared[d.name] == nil then
            local s = describe(d, "signal")
            if s then
                s.path, s.name = "signal/" .. d.name, d.name
                s.bigendian = (d.flags or ""):find("m", 1, true) ~= nil
                net.signals[#net.signals + 1] = s
                shared[d.name] = s
            else
                shared[d.name] = false
            end
        else
            report(d.line, WARNING, format("signal %s is defined twice; the second definition left out", d.name))
        end
    end

    local channel = { path = "channel", name = name, triggerings = {}, pduTriggerings = {} }
    net.clusters[1] = { path = "cluster", name = name, kind = Vexo.Q3_CLUSTERTYPE_CAN, desc = title,
        channels = { channel } }

    for _, frameName in ipairs(order) do
        local blocks = messages[frameName]
        local first = blocks[1]
        local path = "frame/" .. frameName
        local frame = { path = path, name = frameName, desc = first.comment, pdus = {}, line = first.line }
        local length = first.length
        if length == nil then
            report(first.line, WARNING, format("message %s has no length (Len=); taken as 8 bytes", frameName))
            length = 8
        end
        frame.length = length
        net.frames[#net.frames + 1] = frame

        -- Each block's signals go to the static part (no Mux line) or to the dynamic part
        -- of its multiplexer value.
        local switch, static, parts, partOf = nil, {}, {}, {}
        for _, block in ipairs(blocks) do
            if block ~= first then
                for _, key in ipairs({ "id", "type", "cycletime", "timeout", "mininterval", "color", "brs" }) do
                    if block[key] ~= nil and block[key] ~= first[key] then
                        report(block.line, WARNING, format("message %s: %s of a later block differs from the " ..
                            "first block's; the first is kept", frameName, key))
                    end
                end
                if block.length ~= nil and block.length ~= length then
                    report(block.line, WARNING, format("message %s: length %d of a later block differs; %d kept",
                        frameName, block.length, length))
                end
            end
            local members = static
            local mux = block.mux
            if mux then
                local bitpos, bigEndian = place(mux.start, (mux.flags or ""):find("m", 1, true) ~= nil, false)
                if switch == nil then
                    switch = { bitpos = bitpos, length = mux.length, bigendian = bigEndian }
                end
                for letter in (mux.flags or ""):gmatch("[^m]") do
                    report(mux.line, WARNING, format("multiplexer %s: flag -%s not understood; not kept", mux.name,
                        letter))
                end
                if switch.bitpos ~= bitpos or switch.length ~= mux.length or switch.bigendian ~= bigEndian then
                    report(mux.line, WARNING, format("message %s: multiplexer %s lies elsewhere than the first " ..
                        "one; its block left out", frameName, mux.name))
                    members = nil
                else
                    local part = partOf[mux.value]
                    if part == nil then
                        part = { code = mux.value, name = mux.name, desc = mux.comment, members = {} }
                        partOf[mux.value] = part
                        parts[#parts + 1] = part
                    end
                    members = part.members
                end
            end
            for k = 1, members and #block or 0 do
                local entry = block[k]
                if entry.tag == "var" then
                    local s = describe(entry, "variable")
                    if s then
                        s.name = entry.name
                        s.path = path .. "/signal/" .. entry.name
                        local bitpos, bigEndian = place(entry.start, (entry.flags or ""):find("m", 1, true) ~= nil,
                            s.ascii)
                        members[#members + 1] = { signal = s, bitpos = bitpos, bigendian = bigEndian,
                            path = s.path .. "/instance" }
                    end
                else
                    local s = shared[entry.name]
                    if s == nil then
                        report(entry.line, WARNING, format("message %s places the unknown signal %s; left out",
                            frameName, entry.name))
                    elseif s then
                        local bigEndian = s.bigendian or (entry.flags or ""):find("m", 1, true) ~= nil
                        local bitpos, big = place(entry.start, bigEndian, s.ascii)
                        members[#members + 1] = { signal = s, bitpos = bitpos, bigendian = big,
                            path = path .. "/signal/" .. entry.name }
                    end
                    for letter in (entry.flags or ""):gmatch("[^m]") do
                        report(entry.line, WARNING, format("signal %s in message %s: flag -%s not kept", entry.name,
                            frameName, letter))
                    end
                end
            end
        end
        local pdu
        local bits = length * 8
        if switch then
            table.sort(parts, function(a, b) return a.code < b.code end)
            pdu = { kind = "mux", path = path .. "/pdu", bits = bits, switch = switch, parts = {},
                static = { path = path .. "/pdu/static",
                    pdu = { path = path .. "/pdu/static/pdu", bits = bits, signals = static } } }
            for _, part in ipairs(parts) do
                local partPath = path .. "/pdu/mux/" .. part.code
                pdu.parts[#pdu.parts + 1] = { path = partPath, code = part.code, name = part.name,
                    pdu = { path = partPath .. "/pdu", bits = bits, signals = part.members } }
            end
        else
            pdu = { path = path .. "/pdu", bits = bits, signals = static }
        end
        frame.pdus[1] = { pdu = pdu, bitpos = 0, path = path .. "/pdu-instance" }

        -- Identifiers: one, or a range of masked identifiers.
        if first.id == nil then
            report(first.line, WARNING, format("message %s has no identifier (ID=); it is not placed on the bus",
                frameName))
        else
            local frameType = FRAME_TYPES[first.type or "Standard"]
            if frameType == nil then
                report(first.line, WARNING, format("message %s: frame type %s not understood; read as Standard",
                    frameName, first.type))
                frameType = FRAME_TYPES.Standard
            end
            local extended, fd = frameType[1], frameType[2]
            local last = first.idend or first.id
            if not extended and last > 0x7FF then
                report(first.line, WARNING, format("message %s: identifier 0x%X has more than 11 bits; taken as an " ..
                    "extended identifier", frameName, last))
                extended = true
            end
            local flags = extended and Vexo.Q3_FLAG_CANEXTENDED or Vexo.Q3_FLAG_CANSTANDARD
            if fd then
                flags = flags + Vexo.Q3_FLAG_CANFD_EXTDATALEN
                local brs = first.brs
                if (brs == nil and brsDefault) or brs == "True" then flags = flags + Vexo.Q3_FLAG_CANFD_FASTDATA end
            elseif first.brs == "True" then
                report(first.line, WARNING, format("message %s: bit rate switch of a frame that is no CAN FD frame " ..
                    "not kept", frameName))
            end
            local width = extended and 2 ^ 29 or 2 ^ 11
            if last >= width or last < first.id then
                report(first.line, WARNING, format("message %s: identifier range %X-%X not understood; it is not " ..
                    "placed on the bus", frameName, first.id, last))
            elseif first.idend == nil then
                channel.triggerings[#channel.triggerings + 1] = { path = path .. "/triggering", kind = "id",
                    identifier = first.id, flags = flags, frame = frame }
            else
                for _, block in ipairs(aligned(first.id, last)) do
                    channel.triggerings[#channel.triggerings + 1] = { path = path .. "/triggering", kind = "mask",
                        mask = width - block[2], code = block[1], flags = flags, frame = frame }
                end
            end
            channel.pduTriggerings[#channel.pduTriggerings + 1] = { path = path .. "/pdu-triggering", pdu = pdu,
                cycle = first.cycletime }
        end
        if first.cycletimeflags then
            report(first.line, WARNING, format("message %s: cycle time flags -%s not kept", frameName,
                first.cycletimeflags))
        end
        for _, key in ipairs({ "timeout", "mininterval", "color" }) do
            if first[key] then
                report(first.line, WARNING, format("message %s: %s %d not kept", frameName, key, first[key]))
            end
        end
    end
    return network.build(db, name, report, net)
end

return sym
