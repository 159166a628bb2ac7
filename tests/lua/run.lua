-- Runs the Lua suite of the Vexo module: loads each test file beside this script, runs
-- every test under pcall, prints "N passed, N failed" and fails the process when a test
-- failed. Works under lua5.1, LuaJIT and the C test host (which closes the state itself).
local here = (arg and arg[0] or ""):match("^(.*)/[^/]*$") or "."
local files = {
    "module", "conversion", "properties", "methods", "signal", "encoder", "argument_errors", "xsl", "lifetime" }

local check = dofile(here .. "/check.lua")
package.loaded.check = check
local passed, failed = 0, 0
local only = os.getenv("VEXO_TEST_FILTER")

for _, file in ipairs(files) do
    check.tests = {}
    dofile(here .. "/" .. file .. "_tests.lua")
    for _, test in ipairs(check.tests) do
        local name = file .. ": " .. test[1]
        if not only or name:find(only, 1, true) then
            local ok, message = xpcall(test[2], debug.traceback)
            if ok then passed = passed + 1 else failed = failed + 1 end
            if not ok then print("FAILED " .. name .. "\n" .. tostring(message)) end
            collectgarbage()
        end
    end
end

print(string.format("%d passed, %d failed", passed, failed))
check.cleanup()
if VEXO_TEST_HOST then return failed end
collectgarbage()
os.exit(failed == 0 and 0 or 1)
