-- Model building shared by the importers: element identifiers under one database
-- name, ECUs and units made once per name, and codings with their computations made
-- once per distinct content (many signals share one coding). Everything goes through
-- the module's database and node methods.
local Vexo = require "Vexo"
local native = require "Vexo.native"
local text = require "vexo.text"

local W = text.W
local format, concat, floor, huge = string.format, table.concat, math.floor, math.huge

local builder = {}
local Builder = {}
Builder.__index = Builder

-- Texts of the model carry no language of their own; every slot is made in this one.
builder.LANGUAGE = 0

-- Severities of reported messages (the reporter's second number).
builder.ERROR, builder.WARNING, builder.INFO = 0, 1, 2

-- Range flags: both limits belong to the range.
local CLOSED = Vexo.Q3_FLAG_LOWERLIMIT_CLOSED + Vexo.Q3_FLAG_UPPERLIMIT_CLOSED

-- db: the database value; name: the database name that prefixes every element id;
-- report(line, severity, message): the reporter (UTF-8 messages).
function builder.new(db, name, report)
    return setmetatable({
        db = db,
        prefix = name .. "/",
        report = report,
        ecus = {},
        ecuNames = {},
        units = {},
        codings = {},
        codingCount = 0,
        ids = {},
    }, Builder)
end

-- The element id argument (UTF-16) for a path below the database name. A path met
-- twice gets "#2", "#3" ... so that every element stays findable; the second result
-- tells the caller, the third is the path as used.
function Builder:id(path)
    local seen = self.ids[path]
    if seen then
        local n = seen + 1
        self.ids[path] = n
        path = path .. "#" .. n
        self.ids[path] = 1
        return W(self.prefix .. path), true, path
    end
    self.ids[path] = 1
    return W(self.prefix .. path), false, path
end

-- Sets the short name (the name a user knows the element by) from UTF-8 text.
-- (Vexo.native.label sets texts from UTF-8: the module's setters would hand each text
-- back as a new Lua string.)
function Builder:name(node, name)
    native.label(self.db, node, name)
end

function Builder:describe(node, description)
    if description and description ~= "" then native.label(self.db, node, nil, description) end
end

-- The ECU of that name (as the file refers to it), made on first use; its id and
-- short name are the display name when one is given (ecuNames maps one to the other).
function Builder:ecu(name, displayName)
    local ecu = self.ecus[name]
    if ecu == nil then
        displayName = displayName or name
        ecu = self.db:createECU(self:id("ecu/" .. displayName))
        self:name(ecu, displayName)
        self.ecus[name] = ecu
        self.ecuNames[name] = displayName
    end
    return ecu
end

-- The unit spec for a display text ("" gives none), made on first use.
function Builder:unit(unit)
    if unit == nil or unit == "" then return nil end
    local node = self.units[unit]
    if node == nil then
        node = self.db:createUnitSpec(self:id("unit/" .. unit), builder.LANGUAGE, W(unit))
        self.units[unit] = node
    end
    return node
end

-- The raw values an integer coding of n bits can hold.
function builder.rawDomain(bitlen, signed)
    if signed then
        local half = 2 ^ (bitlen - 1)
        return -half, half - 1
    end
    return 0, 2 ^ bitlen - 1
end

-- Physical-to-internal computations for one linear piece (raw lo..hi, physical =
-- scale * raw + offset) of an integer coding. The conversion truncates toward zero,
-- so the inverse adds +0.5 where raw values are not negative and -0.5 where they are:
-- a physical value on a raw step gives that step, others the nearest step. Each
-- computation's range is the part of the physical axis that rounds into lo..hi, so a
-- value the coding cannot hold matches no computation.
local function inverseIntegerPieces(lo, hi, scale, offset)
    local pieces = {}
    local function piece(xLow, xHigh, lowClosed, highClosed, bias)
        local a, b = offset + scale * xLow, offset + scale * xHigh
        local flags = (lowClosed and 1 or 0) + (highClosed and 2 or 0)
        if scale < 0 then
            a, b = b, a
            flags = (highClosed and 1 or 0) + (lowClosed and 2 or 0)
        end
        pieces[#pieces + 1] = { 1 / scale, -offset / scale + bias, a, b, flags }
    end
    if hi >= 0 then piece(math.max(lo, 0) - 0.5, hi + 0.5, true, false, 0.5) end
    if lo < 0 then piece(lo - 0.5, math.min(hi, -1) + 0.5, false, false, -0.5) end
    return pieces
end

-- The table under key k of t, made on first use.
local function step(t, k)
    local next = t[k]
    if next == nil then
        next = {}
        t[k] = next
    end
    return next
end

-- The table under keys k1, k2, ... of nested tables, made on the way.
local function nested(root, ...)
    local t = root
    for i = 1, select("#", ...) do t = step(t, (select(i, ...))) end
    return t
end

-- The text key of a table of value descriptions (sorted raw values) and the sorted
-- raw values.
local function valuesKey(values)
    local sorted = {}
    for raw in pairs(values) do sorted[#sorted + 1] = raw end
    table.sort(sorted)
    local parts = {}
    for i, raw in ipairs(sorted) do parts[i] = format("%.17g=%s", raw, values[raw]) end
    return concat(parts, "\1"), sorted
end

-- A coding for a content description, shared by every signal with the same content:
--   bitlen, encoding (Q3_ENCODING_...), unit (text or nil),
--   linear = list of { lo, hi, scale, offset } raw ranges with their linear rule,
--   identity = true for raw values shown as they are (no linear rule),
--   values = { [raw] = description } (matched before the linear rules),
--   ranges = { { lo, hi, description } } (texts of raw ranges, after the values),
--   constants = { { lo, hi, value } } (physical values of raw ranges, after the texts),
--   negativeFirst = true when the inverse for negative raw values comes first (the
--   encoder converts a signal's default value with the first one).
function Builder:coding(spec)
    local values = spec.values
    local key, sorted = "", nil
    if values then key, sorted = valuesKey(values) end
    if spec.ranges or spec.constants then
        local parts = { key }
        for _, r in ipairs(spec.ranges or {}) do parts[#parts + 1] = format("%.17g..%.17g=%s", r[1], r[2], r[3]) end
        for _, r in ipairs(spec.constants or {}) do
            parts[#parts + 1] = format("%.17g..%.17g:%.17g", r[1], r[2], r[3])
        end
        key = concat(parts, "\2")
    end
    local holder = nested(self.codings, spec.bitlen, spec.encoding, spec.unit or "", spec.identity or false,
        spec.negativeFirst or false, key, #(spec.linear or {}))
    for _, l in ipairs(spec.linear or {}) do holder = nested(holder, l[1], l[2], l[3], l[4]) end
    if holder.coding then return holder.coding end

    local db = self.db
    self.codingCount = self.codingCount + 1
    local base = "coding/" .. self.codingCount
    local coding = db:createCoding(self:id(base), spec.bitlen, spec.encoding, self:unit(spec.unit))
    local forward, inverse = {}, {}
    for i, raw in ipairs(sorted or {}) do
        local slot = db:stringCreateSlot(builder.LANGUAGE, W(values[raw]))
        local c = db:createMappedTextComputation(self:id(base .. "/text/" .. i), slot)
        c:addRange(raw, raw, CLOSED)
        forward[#forward + 1] = c
    end
    for i, r in ipairs(spec.ranges or {}) do
        local slot = db:stringCreateSlot(builder.LANGUAGE, W(r[3]))
        local c = db:createMappedTextComputation(self:id(base .. "/range/" .. i), slot)
        c:addRange(r[1], r[2], CLOSED)
        forward[#forward + 1] = c
    end
    for i, r in ipairs(spec.constants or {}) do
        local c = db:createMappedValueComputation(self:id(base .. "/constant/" .. i), r[3])
        c:addRange(r[1], r[2], CLOSED)
        forward[#forward + 1] = c
    end
    local float = spec.encoding == Vexo.Q3_ENCODING_IEEE
    for i, l in ipairs(spec.linear or {}) do
        local lo, hi, scale, offset = l[1], l[2], l[3], l[4]
        local c = db:createLinearComputation(self:id(base .. "/physical/" .. i), scale, offset)
        c:addRange(lo, hi, CLOSED)
        forward[#forward + 1] = c
        if float then
            local back
            if scale == 1 and offset == 0 then
                back = db:createIdentityComputation(self:id(base .. "/internal/" .. i))
            else
                back = db:createLinearComputation(self:id(base .. "/internal/" .. i), 1 / scale, -offset / scale)
            end
            back:addRange(-huge, huge, CLOSED)
            inverse[#inverse + 1] = back
        elseif scale ~= 0 then
            local pieces = inverseIntegerPieces(lo, hi, scale, offset)
            if spec.negativeFirst and #pieces == 2 then pieces[1], pieces[2] = pieces[2], pieces[1] end
            for k, p in ipairs(pieces) do
                local back = db:createLinearComputation(self:id(base .. "/internal/" .. i .. "." .. k), p[1], p[2])
                back:addRange(p[3], p[4], p[5])
                inverse[#inverse + 1] = back
            end
        end
    end
    if spec.identity then
        local lo, hi = builder.rawDomain(spec.bitlen, false)
        local c = db:createIdentityComputation(self:id(base .. "/identity"))
        c:addRange(lo, hi, CLOSED)
        forward[#forward + 1] = c
        -- Rounds to the nearest raw value where a double holds every raw value exactly.
        local back
        if spec.bitlen <= 52 then
            back = db:createLinearComputation(self:id(base .. "/internal"), 1, 0.5)
        else
            back = db:createIdentityComputation(self:id(base .. "/internal"))
        end
        back:addRange(lo - 0.5, hi + 0.5, Vexo.Q3_FLAG_LOWERLIMIT_CLOSED)
        inverse[#inverse + 1] = back
    end
    if #forward > 0 then coding:addInternalToPhysicalComputations(unpack(forward)) end
    if #inverse > 0 then coding:addPhysicalToInternalComputations(unpack(inverse)) end
    holder.coding = coding
    return coding
end

-- Rounds half away from zero.
function builder.round(x)
    if x >= 0 then return floor(x + 0.5) end
    return -floor(-x + 0.5)
end

return builder
