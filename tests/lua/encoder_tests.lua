-- Encoder values: creation, applications and send modes, changing signals, triggering
-- and fetching changed frames, and the values of a failed creation.
local Vexo = require "Vexo"
local check = require "check"
local W, eq, pack = check.W, check.eq, check.pack

local tests = {}
local function test(name, fn) tests[#tests + 1] = { name, fn } end

local function bytes(text)
    local out = {}
    for i = 1, #text do out[i] = string.format("%02X", text:byte(i)) end
    return table.concat(out, " ")
end

test("an encoder on a channel sends a changed signal in its frame", function()
    local n = check.network()
    local encoder = n.db:createEncoder(n.channel)
    eq(getmetatable(encoder), debug.getregistry()["EFEF191813484c23AB61C23F7950931D"], "encoder value")
    local nothing = pack(encoder:getNextFrame())
    eq(nothing[1], nil, "nothing pending after creation")
    eq(nothing[2], check.S_FALSE, "code 1")
    local app, code = encoder:registerApp()
    eq(app, 0, "first application")
    eq(code, 0, "registerApp code")
    eq(encoder:setSendMode(app, Vexo.Q3_ENC_MODE_PERIODIC), 0, "setSendMode")
    eq(encoder:getSendMode(app), Vexo.Q3_ENC_MODE_PERIODIC, "getSendMode")
    eq(encoder:insertNode(app, n.t1), 0, "insertNode")
    eq(encoder:changeSignal(app, n.temp, 0xF6), 0, "changeSignal")
    -- The PDU goes out when its cyclic timing (100) falls due.
    eq(encoder:trigger(1000), 0, "trigger")
    local changed = encoder:getNextFrame()
    eq(type(changed), "table", "a changed frame")
    eq(#changed.data, 8, "data of the frame's length")
    eq(changed.data:byte(4), 0xF6, "Temp written at bit 24")
    eq(check.A(changed.frame.eid), "F1", "the frame node")
    eq(pack(encoder:getNextFrame())[2], check.S_FALSE, "then nothing")
    eq(encoder:deleteNode(app, n.t1), 0, "deleteNode")
    eq(encoder:changeSignal(app, n.temp, 1), check.E_INVALIDARG, "frames not included take no change")
    eq(encoder:isSignalCyclic(n.speed), 0, "Speed's PDU triggering has a cyclic timing")
    eq(encoder:isSignalCyclic(n.level), check.S_FALSE, "Level has none")
    eq(encoder:deregisterApp(app), 0, "deregisterApp")
    local mode, failed = encoder:getSendMode(app)
    eq(mode, 0, "send mode of an unregistered application")
    eq(failed, check.E_FAIL, "its code")
end)

test("a raw value from decoding goes back into the frame unchanged", function()
    local n = check.network()
    local data = string.char(0x90, 0x01, 0x00, 0xF6) .. "ABCD"
    local encoder = n.db:createEncoder(n.f1)
    local app = encoder:registerApp()
    encoder:setSendMode(app, Vexo.Q3_ENC_MODE_PERIODIC)
    encoder:insertNode(app, n.t1)
    for signal, kind, value in n.channel:decodeMessage(0x123, 0, data) do
        if kind == Vexo.Q3_NUMERICSIGNAL then
            eq(encoder:changeSignal(app, signal, value), 0, "changeSignal " .. check.A(signal.eid))
        end
    end
    encoder:trigger("0x1000")
    local changed = encoder:getNextFrame()
    eq(bytes(changed.data:sub(1, 4)), bytes(data:sub(1, 4)), "numeric signals re-encoded")
end)

test("application indexes are parsed with automatic base; the 25th registration fails", function()
    local db = Vexo.createDb()
    local encoder = db:createEncoder(nil)
    for i = 0, 23 do
        local app, code = encoder:registerApp()
        eq(app, i, "application " .. i)
        eq(code, 0, "registration " .. i)
    end
    local app, code = encoder:registerApp()
    eq(app, 0, "no index when all slots are taken")
    eq(code, check.E_FAIL, "E_FAIL")
    eq(encoder:setSendMode("0x10", Vexo.Q3_ENC_MODE_ONCE), 0, "the string 0x10")
    eq(encoder:getSendMode(16), Vexo.Q3_ENC_MODE_ONCE, "is application 16")
    eq(encoder:getSendMode("020"), Vexo.Q3_ENC_MODE_ONCE, "octal 020 too")
    eq(encoder:deregisterApp("7"), 0, "deregister 7")
    eq(encoder:registerApp(), 7, "the freed index comes back")
    eq(encoder:setSendMode(3, 9), check.E_INVALIDARG, "unknown mode")
end)

test("a cleared encoder (second __gc a no-op) and one whose creation made nothing answer E_INVALIDARG", function()
    local db = Vexo.createDb()
    local cleared = db:createEncoder(nil)
    cleared:__gc()
    cleared:__gc()
    local failed = db:createEncoder(Vexo.createDb():createFrame(W "F", 8))  -- a frame of another database
    eq(getmetatable(failed), debug.getregistry()["EFEF191813484c23AB61C23F7950931D"], "still an encoder value")
    for _, encoder in ipairs { cleared, failed } do
        local app, code = encoder:registerApp()
        eq(app, 0, "no application")
        eq(code, check.E_INVALIDARG, "registerApp")
        local calls = {
            { "trigger", 5 }, { "setSendMode", 0, 1 }, { "deregisterApp", 0 }, { "insertNode", 0, nil },
            { "deleteNode", 0, nil }, { "changeSignal", 0, nil, 0 }, { "isSignalCyclic", nil },
        }
        for _, call in ipairs(calls) do
            eq(encoder[call[1]](encoder, unpack(call, 2, 4)), check.E_INVALIDARG, call[1])
        end
        eq(pack(encoder:getNextFrame())[2], check.E_INVALIDARG, "getNextFrame")
    end
    failed:__gc()
end)

test("the encoder keeps its database alive", function()
    local encoder
    do
        local n = check.network()
        encoder = n.db:createEncoder(n.channel)
        local app = encoder:registerApp()
        encoder:setSendMode(app, Vexo.Q3_ENC_MODE_PERIODIC)
        encoder:insertNode(app, n.ecu)
    end
    collectgarbage()
    collectgarbage()
    eq(encoder:trigger(1000), 0, "trigger after the database value went out of scope")
    local changed = encoder:getNextFrame()
    eq(type(changed), "table", "the cyclic PDU is due")
end)

test("encoder methods check the encoder value and their arguments", function()
    local db = Vexo.createDb()
    local encoder = db:createEncoder(nil)
    check.raises("EFEF191813484c23AB61C23F7950931D", encoder.trigger, db, 1)
    check.raises("number, string or InternalValue expected", encoder.trigger, encoder, nil)
    check.raises("Signal expected, got Vexo", encoder.changeSignal, encoder, 0, db, 1)
    check.raises("Q3Node expected", encoder.insertNode, encoder, 0, "x")
    eq(encoder.nosuchmethod, nil, "only methods can be indexed")
end)

return tests
