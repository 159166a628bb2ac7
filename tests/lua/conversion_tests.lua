-- The argument conversions every wrapper shares: UTF-16 texts, unsigned 32-bit values
-- with automatic base, 64-bit internal values, languages; and InternalValue texts.
local Vexo, check = require "Vexo", require "check"
local W, U, eq, test = check.W, check.U, check.eq, check.test

test("UTF-16 arguments: empty text, odd length, missing terminator", function()
    local db = Vexo.createDb()
    eq(db:createFrame("", 8).eid, "", "the empty Lua string stands for the empty text")
    check.raises("invalid length of UCS-2 string", db.createFrame, db, "abc", 8)
    check.raises("invalid termination character in UCS-2 string", db.createFrame, db, U "AB", 8)
    eq(db:createFrame(nil, 8).eid, "", "nil, like any value without a string form, is the empty text too")
end)

test("a getter's text is rejected as an argument until the zero unit is appended", function()
    local db = Vexo.createDb()
    local frame = db:createFrame(W "Door", 8)
    local id = frame:getElementId()
    eq(id, U "Door", "getter result carries no terminator")
    check.raises("invalid termination character in UCS-2 string", db.findByElementId, db, id)
    check.truthy(check.same(db:findByElementId(id .. "\0\0"), frame), "found with the terminator appended")
    -- A text whose last unit happens to be zero passes as it is.
    eq(db:createFrame("A\0\0\0", 8).eid, U "A", "interior terminator")
end)

test("unsigned 32-bit arguments go through their text with automatic base", function()
    local db = Vexo.createDb()
    local cases = {
        { "decimal string", "291", 291 }, { "hexadecimal string", "0x123", 0x123 }, { "upper-case prefix", "0X1f", 31 },
        { "octal string", "0777", 511 }, { "leading blanks", "  42", 42 }, { "trailing text ignored", "12abc", 12 },
        { "no digits", "abc", 0 }, { "a second sign", "--1", 0 }, { "minus negates modulo 2^32", "-1", 4294967295 },
        { "minus on a large value", "-4294967295", 1 }, { "overflow saturates", "4294967296", 4294967295 },
        { "number 1.5 via its text", 1.5, 1 }, { "number 1e15 as the text 1e+15", 1e15, 1 }, { "nil as 0", nil, 0 },
    }
    for _, case in ipairs(cases) do
        eq(db:createMaskedIdentifierTriggering(W "T", case[2], 0, 0, nil, nil, nil).mask, case[3], case[1])
    end
end)

test("internal values from numbers, strings and InternalValues", function()
    local db = Vexo.createDb()
    -- Without a coding a signal's physical value is its internal value, unsigned.
    local signal = db:createSignal(W "Raw", 0, 0, 0, 0, nil)
    local function raw(value) return tostring((signal:internalToPhysical(value))) end
    local cases = {
        { "fraction truncated toward zero", 1.9, "1" }, { "negative number wraps", -1, "18446744073709551615" },
        { "negative fraction", -2.5, "18446744073709551614" }, { "2^63: out of range", 2 ^ 63, "9223372036854775808" },
        { "NaN", 0 / 0, "9223372036854775808" }, { "decimal string", "18446744073709551615", "18446744073709551615" },
        { "hexadecimal string", "0xFFFF0000FFFF0000", "18446462603027742720" }, { "foreign userdata", io.stdout, "0" },
        { "negative string", "-1", "18446744073709551615" }, { "userdata without metatable", newproxy(false), "0" },
        { "overflowing string", "99999999999999999999", "18446744073709551615" },
    }
    for _, case in ipairs(cases) do eq(raw(case[2]), case[3], case[1]) end
    eq(raw(signal:internalToPhysical("0x8000000000000001")), "9223372036854775809", "an InternalValue's payload")
    for _, bad in ipairs { { "nil", nil }, { "boolean", true }, { "table", {} }, { "function", print } } do
        check.raises("number, string or InternalValue expected", signal.internalToPhysical, signal, bad[2])
    end
end)

test("InternalValue texts: unsigned and signed decimal", function()
    local db = Vexo.createDb()
    local signal = db:createSignal(W "S", 0, 0, 0, 0, db:createCoding(W "C", 8, Vexo.Q3_ENCODING_2COMPL, nil))
    local value, slot, code = signal:internalToPhysical(0xFF)
    check.rows {
        { tostring(db:createCyclicTiming("0xFFFFFFFFFFFFFFFF", nil).cycleTime), "18446744073709551615", "2^64-1" },
        { tostring(db:createCyclicTiming(250, nil).cycleTime), "250", "cycle time 250" },
        { tostring(value), "-1", "signed -1" }, { slot, nil, "no text" },
        { getmetatable(value), debug.getregistry()["A0DB21FE8F4B4140A55D4298C005D5F5"], "signed kind" },
        { code, check.S_FALSE, "no computation applied" },
        { tostring((signal:internalToPhysical(0x80))), "-128", "signed -128" },
    }
end)

test("languages are the low 16 bits of an integer", function()
    local db = Vexo.createDb()
    local frame = db:createFrame(W "F", 8)
    db:setLongName(frame, 0x10007, W "seven")
    eq(db:getLongName(frame, 7, 7), U "seven", "0x10007 is language 7")
end)
