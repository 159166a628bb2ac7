-- Decoding received frames from Lua and converting raw values to physical ones.
local Vexo, check = require "Vexo", require "check"
local W, U, eq, pack, test = check.W, check.U, check.eq, check.pack, check.test

-- Speed 400 (0x0190), Gear 0, Temp -10 (0xF6), Name "ABCD".
local frameOne = string.char(0x90, 0x01, 0x00, 0xF6) .. "ABCD"

-- "signal kind value instance triggering" of each decoded signal, joined by "; ".
local function decoded(channel, identifier, data)
    local out = {}
    for signal, kind, value, triggering, instance in channel:decodeMessage(identifier, 0, data) do
        local shown = kind == Vexo.Q3_ASCIISIGNAL and value or tostring(value)
        out[#out + 1] = table.concat({ check.A(signal.eid), kind, shown, check.A(instance.eid),
            triggering and check.A(triggering.eid) }, " ")
    end
    return table.concat(out, "; ")
end

test("decodeMessage yields every signal of a matching frame with its raw value", function()
    local n = check.network()
    eq(decoded(n.channel, 0x123, frameOne),
        "Speed 0 400 SI_Speed T1; Gear 0 0 SI_Gear T1; Temp 0 246 SI_Temp T1; Name 1 ABCD SI_Name T1",
        "kind 0 numeric, 1 ASCII")
    eq(decoded(n.channel, 0x234, string.char(0x01, 0x42, 0, 0)), "Level 0 66 SI_Level T2", "a multiplexed part")
    eq(getmetatable((select(3, n.channel:decodeMessage(0x123, 0, frameOne)()))),
        debug.getregistry()["65F32C4A50A54dc9A77731C64763A804"], "unsigned raw value")
end)

test("decodeMessage without a match ends at once; the iterator itself answers nil and a code", function()
    local n = check.network()
    local first = pack(n.channel:decodeMessage(0x7FF, 0, frameOne)())
    eq(first.n, 2, "two results")
    check.truthy(first[1] == nil and first[2] < 0, "nil and a negative code")
    local empty = Vexo.createDb():createChannel(W "C", nil)
    eq(decoded(empty, 1, ""), "", "a channel without triggerings")
    eq(decoded(empty, 1, nil), "", "no frame bytes at all")
    local notChannel = pack(n.channel.decodeMessage(nil, 1, 0, frameOne)())
    check.truthy(notChannel[1] == nil and notChannel[2] == check.E_INVALIDARG, "no channel: nil and E_INVALIDARG")
    check.raises("Channel expected, got Frame", n.f1.decodeMessage, n.f1, 0x123, 0, frameOne)
end)

test("the decode iterator keeps its frame bytes alive", function()
    local n = check.network()
    local iterator = n.channel:decodeMessage(0x123, 0, string.char(0x90, 0x01) .. string.rep("\0", 6))
    check.gc()
    local signal, kind, value = iterator()
    eq(check.A(signal.eid), "Speed", "first signal after a collection")
    eq(tostring(value), "400", "value read from the kept bytes")
end)

test("internalToPhysical: value by type, text slot, result code", function()
    local n = check.network()
    local speed, slot, code = n.speed:internalToPhysical(400)
    local gear, text, gearCode = n.gear:internalToPhysical(0)
    local failed = pack(n.speed.internalToPhysical(nil, 1))
    check.rows {
        { speed, 210, "linear 0.5 * 400 + 10" }, { slot, nil, "no text" }, { code, 0, "a computation applied" },
        { getmetatable(text), "StringSlot", "a mapped text gives its slot" },
        { n.db:stringLookup(text, 9, 9), U "Park", "slot text" }, { gearCode, 0, "code" },
        { gear ~= nil, true, "a value as well" },
        { select(2, n.gear:internalToPhysical(5)), nil, "outside the range: no slot" },
        { tostring((n.db:createSignal(W "Raw", 0, 0, 0, 0, nil):internalToPhysical("0xFFFFFFFFFFFFFFFF"))),
            "18446744073709551615", "no coding: unsigned value unchanged" },
        { failed.n, 3, "three results on failure too" }, { failed[3], check.E_INVALIDARG, "failure code" },
        { select(3, n.name:internalToPhysical(0x41424344)), check.E_UNEXPECTED, "ASCII cannot be converted" },
    }
end)

test("checkValueInMinMax gives the library's answer; the value must be a number", function()
    local n = check.network()
    eq(n.speed:checkValueInMinMax(301), Vexo.Q3_VALUEABOVERANGE, "above")
    check.raises("number expected", n.speed.checkValueInMinMax, n.speed, "x")
end)
