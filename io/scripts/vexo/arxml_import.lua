-- ARXML files (AUTOSAR 3.x and 4.x system descriptions) into the model: each CAN
-- cluster with its physical channels, the ECU instances, frames with their frame
-- triggerings (identifier, addressing mode, CAN FD), I-PDUs with their signal mappings,
-- multiplexed PDUs (selector field, static and dynamic parts), container PDUs as far as
-- the model holds them, I-signals with the codings made from their base types, compu
-- methods and units, initial values, cycle times, senders and receivers.
-- vexo/xsl/arxml.xsl reads the XML into records (listed below); references are
-- resolved here by path; built through vexo.network. Messages name the element by its
-- AUTOSAR path.
--
-- Records (fields after the kind; a reference is its text, "|" and its BASE attribute):
--   V namespace      PK package      RB package label isDefault packageRef
--   CL path kind name baudrate fdBaudrate desc languages      CH path cluster name desc languages
--   FT path channel frame addressingMode identifier rxBehavior txBehavior kind
--   FP triggering port      PT path channel pdu      ST path channel signal      SP triggering port
--   FR path name length desc languages                        FM frame pdu byteOrder start
--   PDU path kind name length desc languages headerIdShort headerIdLong
--   SM pdu name signal signalGroup byteOrder start updateBit
--   TM pdu cycle falseCycle eventControlled minimumDelay repetitions
--   MX pdu selectorStart selectorLength selectorByteOrder      MS mux pdu      MD mux pdu code
--   CO pdu headerType headerByteOrder      CC container pduTriggering      SE pdu payload
--   IS path name length initValue initConstant baseType compuMethod unit systemSignal
--      dataConstr desc languages initKind
--   SS path name length compuMethod unit dataType initValue dataConstr desc languages
--      longName languages
--   DT path kind compuMethod lower upper encoding   (AUTOSAR 3 data types)
--   CM path name category unit desc languages physToInternal
--   CS method lower lowerType upper upperType numerator denominator vt v vtCount
--   UN path name displayName      BT path name size encoding
--   DC path physLower physUpper internalLower internalUpper
--   K path value literalPath      EC path name desc languages      PO port ecu kind direction
--   EG ecu pduGroup      PG path direction      GP group pdu      GG group group
--   SG path kind transformations      X path kind
local Vexo = require "Vexo"
local builder = require "vexo.builder"
local network = require "vexo.network"
local compu = require "vexo.compu"
local xml = require "vexo.xml"

local WARNING, INFO = builder.WARNING, builder.INFO
local format, huge, floor = string.format, math.huge, math.floor
local textOf = xml.text

local arxml = {}

function arxml.read(path)
    return xml.records("arxml.xsl", path)
end

local KINDS = { FR = "frames", IS = "signals", EC = "ecus" }
function arxml.count(records)
    return xml.count(records, KINDS)
end

-- An AUTOSAR number: decimal or floating point, 0x hexadecimal, 0b binary, a leading 0
-- for octal, INF and NaN, true and false; nil for an empty field or no number.
local function arNumber(s)
    if s == nil or s == "" then return nil end
    if s == "true" then return 1 end
    if s == "false" then return 0 end
    local sign, body = s:match("^([+-]?)(.*)$")
    local factor = sign == "-" and -1 or 1
    local hex = body:match("^0[xX](%x+)$")
    if hex then return factor * tonumber(hex, 16) end
    local binary = body:match("^0[bB]([01]+)$")
    if binary then return factor * tonumber(binary, 2) end
    local octal = body:match("^0([0-7]+)$")
    if octal then return factor * tonumber(octal, 8) end
    if body == "INF" or body == "inf" then return factor * huge end
    return tonumber(s)
end
arxml.number = arNumber

-- Base type encodings the model holds, as (encoding, signed).
local ENCODINGS = {
    ["2C"] = Vexo.Q3_ENCODING_2COMPL, ["1C"] = Vexo.Q3_ENCODING_1COMPL, IEEE754 = Vexo.Q3_ENCODING_IEEE,
    ["BCD-P"] = Vexo.Q3_ENCODING_PACKED_BCD, ["BCD-UP"] = Vexo.Q3_ENCODING_UNPACKED_BCD,
    ["UTF-8"] = Vexo.Q3_ENCODING_ASCII, ["ISO-8859-1"] = Vexo.Q3_ENCODING_ASCII,
    ["ISO-8859-2"] = Vexo.Q3_ENCODING_ASCII, ["WINDOWS-1252"] = Vexo.Q3_ENCODING_ASCII,
    NONE = Vexo.Q3_ENCODING_DIRECT, BOOLEAN = Vexo.Q3_ENCODING_DIRECT, VOID = Vexo.Q3_ENCODING_DIRECT,
    [""] = Vexo.Q3_ENCODING_DIRECT,
}

function arxml.build(db, name, report, records)
    local function warn(path, message, ...)
        report(0, WARNING, format("%s: " .. message, path, ...))
    end

    -- Records by kind and path.
    local version = 4
    local clusters, channels, frameTriggerings, pduTriggerings, signalTriggerings = {}, {}, {}, {}, {}
    local frames, pdus, isignals, systemSignals, dataTypes, methods = {}, {}, {}, {}, {}, {}
    local units, baseTypes, constraints, constants, ecus, ports, groups, signalGroups = {}, {}, {}, {}, {}, {}, {}, {}
    local clusterOrder, ecuOrder, frameOrder, pduOrder, signalOrder = {}, {}, {}, {}, {}
    local others, otherOrder = {}, {}
    local multilingual = 0
    local function languages(n)
        if (tonumber(n) or 0) > 1 then multilingual = multilingual + 1 end
    end

    -- Records nest: a frame's mappings follow the frame, a channel's triggerings the
    -- channel. An element path met again (the file is ambiguous there: references reach
    -- the first) is skipped with everything nested in it.
    local LEVEL = { CH = 2, FM = 2, SM = 2, TM = 2, MX = 2, MS = 2, MD = 2, CO = 2, CC = 2, SE = 2, CS = 2, PO = 2,
        EG = 2, GP = 2, GG = 2, FT = 3, PT = 3, ST = 3, FP = 4, SP = 4 }
    local DEFINES = { CL = true, CH = true, FT = true, PT = true, ST = true, FR = true, PDU = true, IS = true,
        SS = true, DT = true, CM = true, UN = true, BT = true, DC = true, K = true, EC = true, PG = true, SG = true }
    local defined, skipBelow = {}, nil
    local function duplicate(r, level)
        if skipBelow then
            if level > skipBelow then return true end
            skipBelow = nil
        end
        if DEFINES[r[1]] then
            local key = r[1] .. r[2]
            if defined[key] then
                warn(r[2], "the path is defined twice; references reach the first definition, the second is left out")
                skipBelow = level
                return true
            end
            defined[key] = true
        end
        return false
    end

    -- References: absolute paths as they are; a relative one continues the package of
    -- the reference base it names (or the default one) of the nearest enclosing package.
    local bases = {}
    local function ref(field, owner)
        if field == nil then return "" end
        local text, base = field:match("^(.-)|(.*)$")
        text = text or field
        if text == "" or text:sub(1, 1) == "/" then return text end
        local package = owner
        while true do
            package = package:match("^(.*)/[^/]*$")
            if package == nil or package == "" then break end
            local b = bases[package]
            local target = b and (base ~= "" and b.labels[base] or base == "" and b.default)
            if target then return target .. "/" .. text end
        end
        warn(owner, "the relative reference %s%s names no reference base; left unresolved", text,
            base ~= "" and " (base " .. base .. ")" or "")
        return text
    end

    for _, r in ipairs(records) do
        local kind = r[1]
        if duplicate(r, LEVEL[kind] or 1) then
            -- skipped
        elseif kind == "SM" then
            local p = pdus[r[2]]
            p.mappings[#p.mappings + 1] = { name = r[3], signal = ref(r[4], r[2]), group = ref(r[5], r[2]), order = r[6],
                start = arNumber(r[7]), update = arNumber(r[8]) }
        elseif kind == "IS" then
            isignals[r[2]] = { path = r[2], name = r[3], length = arNumber(r[4]), init = r[5],
                initConstant = ref(r[6], r[2]), baseType = ref(r[7], r[2]), method = ref(r[8], r[2]), unit = ref(r[9], r[2]),
                system = ref(r[10], r[2]), constraint = ref(r[11], r[2]), desc = textOf(r[12]),
                initKind = r[14] }
            languages(r[13])
            signalOrder[#signalOrder + 1] = r[2]
        elseif kind == "SS" then
            systemSignals[r[2]] = { path = r[2], name = r[3], length = arNumber(r[4]), method = ref(r[5], r[2]),
                unit = ref(r[6], r[2]), dataType = ref(r[7], r[2]), init = ref(r[8], r[2]), constraint = ref(r[9], r[2]),
                desc = textOf(r[10]), longName = textOf(r[12]) }
            languages(r[11])
            languages(r[13])
        elseif kind == "CS" then
            local m = methods[r[2]]
            m.scales[#m.scales + 1] = { lower = arNumber(r[3]), lowerOpen = r[4] == "OPEN", upper = arNumber(r[5]),
                upperOpen = r[6] == "OPEN", numerator = compu.coefficients(r[7], arNumber), denominator = compu.coefficients(r[8], arNumber),
                vt = (tonumber(r[11]) or 0) > 0 and (textOf(r[9]) or "") or nil, v = arNumber(r[10]) }
        elseif kind == "CM" then
            methods[r[2]] = { path = r[2], name = r[3], category = (r[4] or ""):upper():gsub("-", "_"), unit = ref(r[5], r[2]),
                scales = {}, physToInternal = (tonumber(r[8]) or 0) > 0 }
        elseif kind == "PDU" then
            pdus[r[2]] = { path = r[2], kind = r[3], name = r[4], length = arNumber(r[5]), desc = textOf(r[6]),
                headerShort = arNumber(r[8]), headerLong = arNumber(r[9]), mappings = {}, dynamic = {}, static = {},
                contained = {} }
            languages(r[7])
            pduOrder[#pduOrder + 1] = r[2]
        elseif kind == "TM" then
            pdus[r[2]].timing = { cycle = arNumber(r[3]), falseCycle = arNumber(r[4]), event = (tonumber(r[5]) or 0) > 0,
                minimumDelay = arNumber(r[6]), repetitions = arNumber(r[7]) }
        elseif kind == "MX" then
            pdus[r[2]].selector = { start = arNumber(r[3]), length = arNumber(r[4]), order = r[5] }
        elseif kind == "MS" then
            local p = pdus[r[2]]
            p.static[#p.static + 1] = ref(r[3], r[2])
        elseif kind == "MD" then
            local p = pdus[r[2]]
            p.dynamic[#p.dynamic + 1] = { pdu = ref(r[3], r[2]), code = arNumber(r[4]) }
        elseif kind == "CO" then
            local p = pdus[r[2]]
            p.headerType, p.headerOrder = r[3], r[4]
        elseif kind == "CC" then
            local p = pdus[r[2]]
            p.contained[#p.contained + 1] = ref(r[3], r[2])
        elseif kind == "SE" then
            pdus[r[2]].payload = ref(r[3], r[2])
        elseif kind == "FR" then
            frames[r[2]] = { path = r[2], name = r[3], length = arNumber(r[4]), desc = textOf(r[5]), mappings = {} }
            languages(r[6])
            frameOrder[#frameOrder + 1] = r[2]
        elseif kind == "FM" then
            local f = frames[r[2]]
            f.mappings[#f.mappings + 1] = { pdu = ref(r[3], r[2]), order = r[4], start = arNumber(r[5]) }
        elseif kind == "FT" then
            local t = { path = r[2], channel = r[3], frame = ref(r[4], r[2]), mode = r[5], identifier = arNumber(r[6]),
                rx = r[7], tx = r[8], kind = r[9], ports = {} }
            frameTriggerings[r[2]] = t
            local c = channels[r[3]]
            c.triggerings[#c.triggerings + 1] = t
        elseif kind == "FP" then
            local t = frameTriggerings[r[2]]
            t.ports[#t.ports + 1] = ref(r[3], r[2])
        elseif kind == "PT" then
            local t = { path = r[2], channel = r[3], pdu = ref(r[4], r[2]) }
            pduTriggerings[r[2]] = t
            local c = channels[r[3]]
            c.pduTriggerings[#c.pduTriggerings + 1] = t
        elseif kind == "ST" then
            signalTriggerings[r[2]] = { signal = ref(r[4], r[2]), ports = {} }
        elseif kind == "SP" then
            local t = signalTriggerings[r[2]]
            t.ports[#t.ports + 1] = ref(r[3], r[2])
        elseif kind == "CL" then
            clusters[r[2]] = { path = r[2], kind = r[3], name = r[4], baudrate = r[5], fdBaudrate = r[6],
                desc = textOf(r[7]), channels = {} }
            languages(r[8])
            clusterOrder[#clusterOrder + 1] = r[2]
        elseif kind == "CH" then
            local c = { path = r[2], name = r[4], desc = textOf(r[5]), triggerings = {}, pduTriggerings = {} }
            languages(r[6])
            channels[r[2]] = c
            local cluster = clusters[r[3]]
            cluster.channels[#cluster.channels + 1] = c
        elseif kind == "DT" then
            dataTypes[r[2]] = { kind = r[3], method = ref(r[4], r[2]), lower = arNumber(r[5]), upper = arNumber(r[6]),
                encoding = r[7] }
        elseif kind == "UN" then
            units[r[2]] = textOf(r[4]) or r[3]
        elseif kind == "BT" then
            baseTypes[r[2]] = { name = r[3], size = arNumber(r[4]), encoding = r[5] or "" }
        elseif kind == "DC" then
            constraints[r[2]] = { physLower = arNumber(r[3]), physUpper = arNumber(r[4]), lower = arNumber(r[5]),
                upper = arNumber(r[6]) }
        elseif kind == "K" then
            constants[r[2]] = r[3]
            constants[r[4]] = r[3]
        elseif kind == "EC" then
            ecus[r[2]] = { key = r[2], name = r[3], desc = textOf(r[4]), groups = {} }
            languages(r[5])
            ecuOrder[#ecuOrder + 1] = r[2]
        elseif kind == "PO" then
            ports[r[2]] = { ecu = r[3], kind = r[4], direction = r[5] }
        elseif kind == "EG" then
            local e = ecus[r[2]]
            e.groups[#e.groups + 1] = ref(r[3], r[2])
        elseif kind == "PG" then
            groups[r[2]] = { direction = r[3], pdus = {}, groups = {} }
        elseif kind == "GP" then
            local g = groups[r[2]]
            g.pdus[#g.pdus + 1] = ref(r[3], r[2])
        elseif kind == "GG" then
            local g = groups[r[2]]
            g.groups[#g.groups + 1] = ref(r[3], r[2])
        elseif kind == "SG" then
            signalGroups[r[2]] = { kind = r[3], transformations = tonumber(r[4]) or 0 }
        elseif kind == "X" then
            local list = others[r[3]]
            if list == nil then
                list = {}
                others[r[3]] = list
                otherOrder[#otherOrder + 1] = r[3]
            end
            list[#list + 1] = r[2]
        elseif kind == "RB" then
            local b = bases[r[2]]
            if b == nil then
                b = { labels = {} }
                bases[r[2]] = b
            end
            b.labels[r[3]] = r[5]
            if r[4] == "true" then b.default = r[5] end
        elseif kind == "V" then
            version = r[2]:find("/3.", 1, true) and 3 or 4
        end
    end

    for _, kind in ipairs(otherOrder) do
        local list = others[kind]
        report(0, WARNING, format("%d %s element%s not imported (the model holds no such element): %s%s", #list,
            kind, #list > 1 and "s" or "", list[1], #list > 1 and ", ..." or ""))
    end
    if multilingual > 0 then
        report(0, WARNING, format("%d descriptions or long names in several languages: only the first language " ..
            "is kept", multilingual))
    end
    for path, g in pairs(signalGroups) do
        warn(path, "%s not kept (its signals are)%s", g.kind:lower():gsub("-", " "),
            g.transformations > 0 and "; its end-to-end protection properties neither" or "")
    end

    -- Short names become element ids: names met twice get #2 ... from the builder;
    -- the AUTOSAR path says which is which.
    local net = { ecus = {}, signals = {}, pdus = {}, frames = {}, clusters = {} }
    for _, path in ipairs(ecuOrder) do net.ecus[#net.ecus + 1] = ecus[path] end

    -- Codings ----------------------------------------------------------------------------
    -- The coding spec, limits and default of an I-signal; nil when it cannot be held.
    local function signalContent(s)
        local system = systemSignals[s.system]
        local bitlen = s.length or (system and system.length)
        if s.system ~= "" and s.system ~= nil and system == nil then
            if signalGroups[s.system] then return nil, "group" end
            warn(s.path, "system signal %s not found", s.system)
        end
        if bitlen == nil then
            warn(s.path, "the signal has no length; left out")
            return nil
        end
        local encoding, baseName = Vexo.Q3_ENCODING_DIRECT, nil
        local methodPath = s.method ~= "" and s.method or (system and system.method ~= "" and system.method) or nil
        local dataType = system and dataTypes[system.dataType]
        if dataType then
            methodPath = methodPath or (dataType.method ~= "" and dataType.method or nil)
            if dataType.kind == "REAL-TYPE" then
                encoding = Vexo.Q3_ENCODING_IEEE
            elseif dataType.kind == "INTEGER-TYPE" and dataType.lower and dataType.lower < 0 then
                encoding = Vexo.Q3_ENCODING_2COMPL
            elseif dataType.kind == "CHAR-TYPE" or dataType.kind == "STRING-TYPE" then
                encoding = Vexo.Q3_ENCODING_ASCII
            end
        end
        if s.baseType and s.baseType ~= "" then
            local base = baseTypes[s.baseType]
            if base == nil then
                warn(s.path, "base type %s not found; read as unsigned", s.baseType)
            else
                baseName = base.name
                encoding = ENCODINGS[base.encoding]
                if encoding == nil then
                    warn(s.path, "base type encoding %s cannot be held; read as unsigned", base.encoding)
                    encoding = Vexo.Q3_ENCODING_DIRECT
                end
            end
        end
        if encoding == Vexo.Q3_ENCODING_IEEE and bitlen ~= 32 and bitlen ~= 64 then
            warn(s.path, "a floating-point value of %d bits; read as unsigned", bitlen)
            encoding = Vexo.Q3_ENCODING_DIRECT
        end
        local ascii = encoding == Vexo.Q3_ENCODING_ASCII
        if bitlen < 1 or (bitlen > 64 and not ascii) then
            warn(s.path, "a length of %d bits cannot be held (1 to 64); left out", bitlen)
            return nil
        end
        local spec = { bitlen = bitlen, encoding = encoding }
        local content = { coding = spec, ascii = ascii }
        if ascii then return content end
        local float = encoding == Vexo.Q3_ENCODING_IEEE
        local signed = encoding == Vexo.Q3_ENCODING_2COMPL or encoding == Vexo.Q3_ENCODING_1COMPL
        local lo, hi = -huge, huge
        if not float then lo, hi = network.rawDomain(bitlen, signed) end
        local method = methodPath and methods[methodPath]
        if method then method.used = true end
        if methodPath and method == nil then warn(s.path, "compu method %s not found; raw values kept", methodPath) end
        local unitPath = (method and method.unit ~= "" and method.unit) or (s.unit ~= "" and s.unit)
            or (system and system.unit ~= "" and system.unit) or nil
        if unitPath then
            spec.unit = units[unitPath]
            if spec.unit == nil then warn(s.path, "unit %s not found", unitPath) end
        end
        local linear, values, ranges, constantRanges
        if method then
            if method.physToInternal then
                warn(method.path, "the physical-to-internal scales are not read (the model computes the inverse)")
            end
            linear, values, ranges, constantRanges = compu.rules(method, lo, hi, float, warn)
        else
            linear = { { lo, hi, 1, 0 } }
        end
        spec.linear = linear
        spec.values = values and signed and network.signedValues(values, bitlen) or values
        spec.ranges = ranges
        spec.constants = constantRanges
        -- Limits: the constraint's physical limits, else those of its internal ones
        -- through the first linear rule, else the physical span of explicit scales.
        local constraintPath = s.constraint ~= "" and s.constraint or (system and system.constraint ~= ""
            and system.constraint) or nil
        local constraint = constraintPath and constraints[constraintPath]
        if constraint then
            if constraint.physLower and constraint.physUpper then
                content.min, content.max = constraint.physLower, constraint.physUpper
            elseif constraint.lower and constraint.upper then
                local l = linear[1]
                local a, b = constraint.lower * l[3] + l[4], constraint.upper * l[3] + l[4]
                content.min, content.max = math.min(a, b), math.max(a, b)
            end
        else
            content.min, content.max = compu.span(linear, lo, hi)
        end
        -- The initial value is a raw value; its physical value comes through the rule
        -- whose range holds it.
        local init = s.init
        if (init == nil or init == "") and s.initConstant ~= "" then
            init = constants[s.initConstant]
            if init == nil then warn(s.path, "initial value constant %s not found", s.initConstant) end
        end
        if (init == nil or init == "") and system and system.init ~= "" then
            init = constants[system.init]
            if init == nil then warn(s.path, "initial value %s not found", system.init) end
        end
        local raw = arNumber(init)
        if init and init ~= "" and raw == nil then
            warn(s.path, "initial value %s is no number; not kept", init)
        end
        if raw then
            content.default = compu.physical(linear, raw)
            spec.negativeFirst = raw < 0
        end
        content.desc = (system and system.desc) or s.desc
        content.longname = system and system.longName
        return content, baseName
    end

    -- Signals ----------------------------------------------------------------------------
    local signalOf, groupSignal = {}, {}
    for _, path in ipairs(signalOrder) do
        local s = isignals[path]
        local content, why = signalContent(s)
        if content then
            content.path, content.name, content.where = "signal/" .. s.name, s.name, s.path
            content.receivers = {}
            signalOf[path] = content
            net.signals[#net.signals + 1] = content
        elseif why == "group" then
            groupSignal[path] = true
        end
    end
    local unusedMethods = {}
    for path, m in pairs(methods) do
        if not m.used then unusedMethods[#unusedMethods + 1] = path end
    end
    if #unusedMethods > 0 then
        table.sort(unusedMethods)
        report(0, WARNING, format("%d compu methods that no signal uses not kept: %s%s", #unusedMethods,
            unusedMethods[1], #unusedMethods > 1 and ", ..." or ""))
    end
    -- Receivers from the signal ports of each I-signal triggering.
    for _, t in pairs(signalTriggerings) do
        local s = signalOf[t.signal]
        for _, portPath in ipairs(t.ports) do
            local port = ports[portPath]
            if s and port and port.direction == "IN" then s.receivers[#s.receivers + 1] = port.ecu end
        end
    end

    -- PDUs -------------------------------------------------------------------------------
    local frameLengthOf = {}  -- the length of the first frame that holds a PDU (bytes)
    for _, path in ipairs(frameOrder) do
        local f = frames[path]
        for _, m in ipairs(f.mappings) do frameLengthOf[m.pdu] = frameLengthOf[m.pdu] or f.length end
    end
    local function bitsOf(p)
        local length = p.length or 0
        if version == 3 and frameLengthOf[p.path] and length > frameLengthOf[p.path] then return length end
        return length * 8
    end

    local pduOf = {}
    local makePdu
    local function pduByTriggering(ref, where)
        local t = pduTriggerings[ref]
        if t == nil then
            warn(where, "PDU triggering %s not found", ref)
            return nil
        end
        return makePdu(t.pdu, where)
    end
    -- The description of the PDU at path, made once; nil when there is none.
    makePdu = function(path, where)
        local made = pduOf[path]
        if made ~= nil then return made or nil end
        local p = pdus[path]
        if p == nil then
            warn(where, "PDU %s not found", path)
            pduOf[path] = false
            return nil
        end
        pduOf[path] = false  -- a PDU that contains itself is cut there
        local pdu = { path = "pdu/" .. p.name, name = p.name, desc = p.desc, bits = bitsOf(p), where = p.path }
        if p.kind == "SECURED-I-PDU" then
            local payload = p.payload and p.payload ~= "" and pduByTriggering(p.payload, p.path)
            warn(p.path, "secured PDU: authentication and freshness values not kept; %s",
                payload and "its payload PDU is placed instead" or "it has no payload PDU and is left out")
            pduOf[path] = payload or false
            return payload or nil
        elseif p.kind == "MULTIPLEXED-I-PDU" then
            local sel = p.selector or {}
            local bigEndian = sel.order == "MOST-SIGNIFICANT-BYTE-FIRST"
            pdu.kind = "mux"
            pdu.switch = { bitpos = sel.start or 0, length = sel.length or 0, bigendian = bigEndian }
            pdu.parts = {}
            if #p.static > 1 then warn(p.path, "%d static parts; the first is kept", #p.static) end
            if p.static[1] then
                local inner = makePdu(p.static[1], p.path)
                if inner then pdu.static = { path = pdu.path .. "/static", pdu = inner } end
            end
            for _, d in ipairs(p.dynamic) do
                local inner = makePdu(d.pdu, p.path)
                if inner and d.code then
                    pdu.parts[#pdu.parts + 1] = { path = pdu.path .. "/mux/" .. d.code, code = d.code, pdu = inner }
                end
            end
            table.sort(pdu.parts, function(a, b) return a.code < b.code end)
        elseif p.kind == "CONTAINER-I-PDU" then
            local header = p.headerType == "LONG-HEADER" and 32 or p.headerType == "SHORT-HEADER" and 24 or nil
            pdu.kind = "mux"
            pdu.parts = {}
            if header == nil then
                warn(p.path, "container PDU with header type %s: its contained PDUs cannot be placed; left out",
                    p.headerType ~= "" and p.headerType or "(none)")
                pdu.switch = { bitpos = 0, length = 0 }
            else
                -- The header's identifier selects the contained PDU; its length field
                -- follows, then the PDU. Only the first contained PDU has a fixed place.
                local littleEndian = p.headerOrder == "MOST-SIGNIFICANT-BYTE-LAST"
                pdu.switch = { bitpos = littleEndian and 0 or 7, length = header, bigendian = not littleEndian }
                local offset = header == 24 and 32 or 64
                for _, ref in ipairs(p.contained) do
                    local t = pduTriggerings[ref]
                    local contained = t and pdus[t.pdu]
                    local inner = t and makePdu(t.pdu, p.path)
                    local code = contained and (header == 24 and contained.headerShort or contained.headerLong)
                    if t == nil then
                        warn(p.path, "contained PDU triggering %s not found", ref)
                    elseif inner and code == nil then
                        warn(p.path, "contained PDU %s has no %s header id; left out", t.pdu, p.headerType:lower())
                    elseif inner then
                        pdu.parts[#pdu.parts + 1] = { path = pdu.path .. "/mux/" .. code, code = code, pdu = inner,
                            segments = { { bitpos = offset, bitlen = inner.bits } } }
                    end
                end
                table.sort(pdu.parts, function(a, b) return a.code < b.code end)
                warn(p.path, "container PDU: only the first contained PDU of a frame is decoded (after its %d-bit " ..
                    "header); the %d contained PDUs are its parts, selected by their header ids", offset, #pdu.parts)
            end
        else
            pdu.signals = {}
            if #p.mappings == 0 and p.kind ~= "I-SIGNAL-I-PDU" and p.kind ~= "SIGNAL-I-PDU" and p.kind ~= "NM-PDU" then
                report(0, INFO, format("%s: a %s carries no signals; kept as an empty PDU", p.path, p.kind))
            end
            for _, m in ipairs(p.mappings) do
                local s = signalOf[m.signal]
                if m.group ~= "" and m.group ~= nil then
                    -- The group's signals are mapped one by one as well.
                elseif groupSignal[m.signal] then
                    -- An AUTOSAR 3 I-signal that stands for a signal group.
                elseif s == nil then
                    if isignals[m.signal] == nil then warn(p.path .. "/" .. m.name, "signal %s not found", m.signal) end
                elseif m.start == nil then
                    warn(p.path .. "/" .. m.name, "the mapping has no start position; left out")
                else
                    local bigEndian = m.order == "MOST-SIGNIFICANT-BYTE-FIRST"
                    if s.ascii then bigEndian = false end
                    pdu.signals[#pdu.signals + 1] = { signal = s, bitpos = m.start, bigendian = bigEndian,
                        updatebit = m.update, path = pdu.path .. "/signal/" .. s.name }
                end
            end
        end
        pdu.timing = p.timing
        pduOf[path] = pdu
        net.pdus[#net.pdus + 1] = pdu
        return pdu
    end
    for _, path in ipairs(pduOrder) do makePdu(path, path) end

    -- Frames -----------------------------------------------------------------------------
    local frameOf = {}
    for _, path in ipairs(frameOrder) do
        local f = frames[path]
        local frame = { path = "frame/" .. f.name, name = f.name, desc = f.desc, length = f.length or 0, pdus = {},
            receivers = {}, where = f.path }
        if f.length == nil then warn(f.path, "the frame has no length; taken as 0 bytes") end
        for i, m in ipairs(f.mappings) do
            local pdu = makePdu(m.pdu, f.path)
            if pdu then
                local start = m.start or 0
                if m.order == "MOST-SIGNIFICANT-BYTE-FIRST" then
                    -- The PDU's first byte, given by its bit 7 (or bit 0, as some tools write it).
                    if start % 8 ~= 7 and start % 8 ~= 0 then
                        warn(f.path, "a PDU placed big-endian at bit %d starts within a byte; placed at bit %d", start,
                            start - start % 8)
                    end
                    start = start - start % 8
                elseif start % 8 ~= 0 then
                    warn(f.path, "a PDU placed at bit %d starts within a byte", start)
                end
                if pdu.bits > frame.length * 8 - start then
                    report(0, INFO, format("%s: PDU %s (%d bits) is longer than the frame holds from bit %d", f.path,
                        pdu.name, pdu.bits, start))
                end
                frame.pdus[#frame.pdus + 1] = { pdu = pdu, bitpos = start,
                    path = frame.path .. "/pdu-instance" .. (i > 1 and "/" .. i or "") }
            end
        end
        frameOf[path] = frame
        net.frames[#net.frames + 1] = frame
    end

    -- Senders and receivers from the ECUs' PDU groups (by the PDUs a frame carries).
    local groupSenders, groupReceivers = {}, {}
    for _, path in ipairs(ecuOrder) do
        local seen = {}
        local function walk(groupPath)
            local g = groups[groupPath]
            if g == nil or seen[groupPath] then return end
            seen[groupPath] = true
            for _, pduPath in ipairs(g.pdus) do
                local list = g.direction == "OUT" and groupSenders or groupReceivers
                list[pduPath] = list[pduPath] or {}
                table.insert(list[pduPath], path)
            end
            for _, inner in ipairs(g.groups) do walk(inner) end
        end
        for _, groupPath in ipairs(ecus[path].groups) do walk(groupPath) end
    end

    -- Clusters, channels, triggerings ----------------------------------------------------
    for _, path in ipairs(clusterOrder) do
        local c = clusters[path]
        if c.kind ~= "CAN-CLUSTER" then
            warn(path, "a %s is not imported (only CAN clusters are read from ARXML files)", c.kind)
        else
            local cluster = { path = "cluster/" .. c.name, name = c.name, desc = c.desc, kind = Vexo.Q3_CLUSTERTYPE_CAN,
                channels = {} }
            if c.baudrate ~= "" then
                report(0, WARNING, format("%s: baud rate %s%s not kept", path, c.baudrate,
                    c.fdBaudrate ~= "" and " and CAN FD data rate " .. c.fdBaudrate or ""))
            end
            net.clusters[#net.clusters + 1] = cluster
            for _, ch in ipairs(c.channels) do
                local channel = { path = cluster.path .. "/channel/" .. ch.name, name = ch.name, desc = ch.desc,
                    triggerings = {}, pduTriggerings = {} }
                cluster.channels[#cluster.channels + 1] = channel
                for _, t in ipairs(ch.triggerings) do
                    local f = frames[t.frame]
                    local frame = frameOf[t.frame]
                    if frame == nil then
                        warn(t.path, "frame %s not found; the triggering is left out", t.frame)
                    elseif t.identifier == nil then
                        warn(t.path, "the triggering has no identifier; left out")
                    else
                        local extended = t.mode == "EXTENDED"
                        if t.mode ~= "STANDARD" and t.mode ~= "EXTENDED" and t.mode ~= "" then
                            warn(t.path, "addressing mode %s; taken as %s", t.mode,
                                t.identifier > 0x7FF and "EXTENDED" or "STANDARD")
                        end
                        if not extended and t.identifier > 0x7FF then
                            warn(t.path, "identifier 0x%X has more than 11 bits; taken as an extended identifier",
                                t.identifier)
                            extended = true
                        end
                        local flags = extended and Vexo.Q3_FLAG_CANEXTENDED or Vexo.Q3_FLAG_CANSTANDARD
                        if t.rx == "CAN-FD" or t.tx == "CAN-FD" or frame.length > 8 then
                            flags = flags + Vexo.Q3_FLAG_CANFD_EXTDATALEN
                            if c.fdBaudrate ~= "" then flags = flags + Vexo.Q3_FLAG_CANFD_FASTDATA end
                        end
                        local trig = { path = frame.path .. "/triggering", kind = "id", identifier = t.identifier,
                            flags = flags, frame = frame }
                        local function addReceiver(ecu)
                            for _, known in ipairs(frame.receivers) do
                                if known == ecu then return end
                            end
                            frame.receivers[#frame.receivers + 1] = ecu
                        end
                        for _, portPath in ipairs(t.ports) do
                            local port = ports[portPath]
                            if port == nil then
                                warn(t.path, "frame port %s not found", portPath)
                            elseif port.direction == "OUT" then
                                if trig.sender and trig.sender ~= port.ecu then
                                    warn(t.path, "sender %s beyond the first not kept", port.ecu)
                                end
                                trig.sender = trig.sender or port.ecu
                            else
                                addReceiver(port.ecu)
                            end
                        end
                        for _, m in ipairs(f.mappings) do
                            for _, ecu in ipairs(groupSenders[m.pdu] or {}) do trig.sender = trig.sender or ecu end
                            for _, ecu in ipairs(groupReceivers[m.pdu] or {}) do addReceiver(ecu) end
                        end
                        channel.triggerings[#channel.triggerings + 1] = trig
                    end
                end
                -- PDU triggerings as the channel lists them, then one for every PDU of a
                -- frame on the channel that has none (AUTOSAR 3 channels list none).
                local pending, triggered = {}, {}
                for _, t in ipairs(ch.pduTriggerings) do pending[#pending + 1] = { t.pdu, t.path } end
                for _, t in ipairs(ch.triggerings) do
                    for _, m in ipairs(frames[t.frame] and frames[t.frame].mappings or {}) do
                        pending[#pending + 1] = { m.pdu, t.frame, true }
                    end
                end
                for _, entry in ipairs(pending) do
                    local pdu = makePdu(entry[1], entry[2])
                    if pdu and entry[3] and triggered[pdu] then pdu = nil end
                    if pdu then
                        triggered[pdu] = true
                        local timing = pdu.timing
                        local pt = { path = pdu.path .. "/triggering", pdu = pdu }
                        if timing then
                            if timing.cycle and timing.cycle > 0 then pt.cycle = builder.round(timing.cycle * 1000) end
                            if timing.event then pt.debounce = builder.round((timing.minimumDelay or 0) * 1000) end
                            if timing.falseCycle then
                                warn(pdu.where, "the cycle time while the transmission mode is false (%g s) not kept",
                                    timing.falseCycle)
                            end
                            if (timing.repetitions or 0) > 0 then
                                warn(pdu.where, "%d repetitions of event-controlled transmission not kept",
                                    timing.repetitions)
                            end
                        end
                        channel.pduTriggerings[#channel.pduTriggerings + 1] = pt
                    end
                end
            end
        end
    end
    if #net.clusters == 0 then
        report(0, INFO, "the file describes no CAN cluster")
    end
    return network.build(db, name, report, net)
end

return arxml
