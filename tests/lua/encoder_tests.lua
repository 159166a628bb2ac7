-- Encoder values: creation, applications and send modes, changing signals, triggering
-- and fetching changed frames, and the values of a failed creation.
local Vexo, check = require "Vexo", require "check"
local W, eq, pack, test = check.W, check.eq, check.pack, check.test

local ENCODER = "EFEF191813484c23AB61C23F7950931D"

test("an encoder on a channel sends a changed signal in its frame", function()
    local n = check.network()
    local encoder = n.db:createEncoder(n.channel)
    local nothing = pack(encoder:getNextFrame())
    local app, code = encoder:registerApp()
    check.rows {
        { nothing[1], nil, "nothing pending after creation" }, { nothing[2], check.S_FALSE, "code 1" },
        { app, 0, "first application" }, { code, 0, "registerApp code" },
        { encoder:setSendMode(app, Vexo.Q3_ENC_MODE_PERIODIC), 0, "setSendMode" },
        { encoder:getSendMode(app), Vexo.Q3_ENC_MODE_PERIODIC, "getSendMode" },
        { encoder:insertNode(app, n.t1), 0, "insertNode" },
        { encoder:changeSignal(app, n.temp, 0xF6), 0, "changeSignal" },
        { encoder:trigger(1000), 0, "trigger: the cyclic timing (100) falls due" },
    }
    local changed = encoder:getNextFrame()
    check.rows {
        { #changed.data, 8, "data of the frame's length" }, { changed.data:byte(4), 0xF6, "Temp written at bit 24" },
        { check.A(changed.frame.eid), "F1", "the frame node" },
        { pack(encoder:getNextFrame())[2], check.S_FALSE, "then nothing" },
        { encoder:deleteNode(app, n.t1), 0, "deleteNode" },
        { encoder:isSignalCyclic(n.speed), 0, "Speed's PDU triggering has a cyclic timing" },
        { encoder:isSignalCyclic(n.level), check.S_FALSE, "Level has none" },
        { encoder:deregisterApp(app), 0, "deregisterApp" },
    }
    local mode, failed = encoder:getSendMode(app)
    check.truthy(mode == 0 and failed == check.E_FAIL, "an unregistered application: mode 0 and E_FAIL")
end)

test("a raw value from decoding goes back into the frame unchanged", function()
    local n, data = check.network(), string.char(0x90, 0x01, 0x00, 0xF6) .. "ABCD"
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
    eq(encoder:getNextFrame().data:sub(1, 4), data:sub(1, 4), "numeric signals re-encoded")
end)

test("application indexes are unsigned arguments with automatic base", function()
    local encoder = Vexo.createDb():createEncoder(nil)
    for _ = 0, 16 do encoder:registerApp() end
    eq(encoder:setSendMode("0x10", Vexo.Q3_ENC_MODE_ONCE), 0, "the string 0x10")
    eq(encoder:getSendMode("020"), Vexo.Q3_ENC_MODE_ONCE, "is application 16, as octal 020 is")
end)

-- What a null encoder answers is the library's; one call shows it reaches the caller.
test("a cleared encoder (second __gc a no-op) and one whose creation made nothing answer E_INVALIDARG", function()
    local db = Vexo.createDb()
    local cleared = db:createEncoder(nil)
    cleared:__gc()
    cleared:__gc()
    local failed = db:createEncoder(Vexo.createDb():createFrame(W "F", 8))  -- a frame of another database
    eq(getmetatable(failed), debug.getregistry()[ENCODER], "still an encoder value")
    for _, encoder in ipairs { cleared, failed } do
        local app, code = encoder:registerApp()
        check.truthy(app == 0 and code == check.E_INVALIDARG, "registerApp: no application, E_INVALIDARG")
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
    check.gc()
    eq(encoder:trigger(1000), 0, "trigger after the database value went out of scope")
    eq(type(encoder:getNextFrame()), "table", "the cyclic PDU is due")
end)

test("encoder methods check the encoder value and their arguments", function()
    local db = Vexo.createDb()
    local encoder = db:createEncoder(nil)
    check.raises(ENCODER, encoder.trigger, db, 1)
    check.raises("Signal expected, got Vexo", encoder.changeSignal, encoder, 0, db, 1)
    eq(encoder.nosuchmethod, nil, "only methods can be indexed")
end)
