-- Compu methods (ASAM/AUTOSAR computation methods, as ARXML and FIBEX write them) into
-- the parts of a builder coding spec: each scale with rational coefficients becomes a
-- linear rule on its raw range, a text constant a value description (or a text for a
-- raw range), a numeric constant a mapped value.
local compu = {}

local floor, ceil, huge = math.floor, math.ceil, math.huge

-- The V values of a coefficient field as the style sheets write it ("[ 1 2"; "[" for an
-- empty element), nil when the element is missing. number reads one value.
function compu.coefficients(field, number)
    if field == nil or field:sub(1, 1) ~= "[" then return nil end
    local list = {}
    for v in field:gmatch("%S+") do
        if v ~= "[" then list[#list + 1] = number(v) or 0 / 0 end
    end
    return list
end

-- method = { path, category, scales = { { lower, lowerOpen, upper, upperOpen, numerator,
-- denominator, vt, v } } }; lo, hi: the raw domain; float: raw values are not integers.
-- warn(path, format, ...) reports. Returns linear (a list, never empty: raw values as
-- they are when the method gives no rule), values (texts of single raw values), ranges
-- (texts of raw ranges), constants ({ low, high, value }: a fixed physical value for a raw
-- range).
function compu.rules(method, lo, hi, float, warn)
    local linear, values, ranges, constants = {}, nil, nil, nil
    local category = method.category
    for i, c in ipairs(method.scales) do
        local low, high = c.lower or lo, c.upper or hi
        if c.vt and (c.lower == nil) ~= (c.upper == nil) then
            -- A text scale with one limit: the value at that limit.
            low = c.lower or c.upper
            high = low
        end
        if not float then
            -- Open limits of integer raw values: the next integer inside.
            if c.lowerOpen then low = floor(low) + 1 end
            if c.upperOpen then high = ceil(high) - 1 end
            if low < lo then low = lo end
            if high > hi then high = hi end
        end
        if c.vt then
            if low == high then
                values = values or {}
                values[low] = c.vt
            else
                ranges = ranges or {}
                ranges[#ranges + 1] = { low, high, c.vt }
            end
        elseif c.v and not c.numerator then
            constants = constants or {}
            constants[#constants + 1] = { low, high, c.v }
        end
        if c.numerator then
            local n, d = c.numerator, c.denominator or {}
            -- Coefficients of higher powers that are 0 change nothing.
            while #n > 2 and n[#n] == 0 do n[#n] = nil end
            while #d > 1 and d[#d] == 0 do d[#d] = nil end
            if #n == 0 or #n > 2 or #d ~= 1 or d[1] == 0 or d[1] ~= d[1] or n[1] ~= n[1] or (n[2] and n[2] ~= n[2]) then
                warn(method.path, "scale %d: the rational coefficients (numerator %d values, denominator %d) are no " ..
                    "linear rule; left out", i, #n, #d)
            else
                linear[#linear + 1] = { low, high, (n[2] or 0) / d[1], n[1] / d[1] }
            end
        elseif not c.vt and not c.v then
            warn(method.path, "scale %d of category %s has no rational coefficients and no constant; left out", i,
                category ~= "" and category or "(none)")
        end
    end
    if #method.scales == 0 and category ~= "IDENTICAL" and category ~= "" then
        warn(method.path, "a compu method of category %s without scales; raw values kept", category)
    end
    if #linear == 0 then linear = { { lo, hi, 1, 0 } } end
    return linear, values, ranges, constants
end

-- The physical span of the linear rules, when they narrow the raw domain.
function compu.span(linear, lo, hi)
    if linear[1][1] == lo and linear[#linear][2] == hi then return nil end
    local min, max = huge, -huge
    for _, l in ipairs(linear) do
        local a, b = l[1] * l[3] + l[4], l[2] * l[3] + l[4]
        min, max = math.min(min, a, b), math.max(max, a, b)
    end
    return min, max
end

-- The physical value of a raw value through the first rule whose range holds it (the
-- raw value itself when none does).
function compu.physical(linear, raw)
    for _, l in ipairs(linear) do
        if raw >= l[1] and raw <= l[2] then return raw * l[3] + l[4] end
    end
    return raw
end

return compu
