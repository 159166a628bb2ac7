-- XSLtransform: the output of each output method, the result shapes of the failures, and
-- what a document or style sheet must not reach (external entities, the network, files
-- to write). Fixtures are written to the suite's temporary folder.
local Vexo, check = require "Vexo", require "check"
local W, eq, test = check.W, check.eq, check.test

local E_INVALIDARG, E_FAIL = check.E_INVALIDARG, check.E_FAIL

local function write(name, text) return check.write("xsl_" .. name, text) end

local function sheet(name, method, body)
    return write(name, '<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">\n'
        .. '<xsl:output method="' .. method .. '"/>\n' .. body .. '\n</xsl:stylesheet>\n')
end

local function transform(styleSheet, document)
    return check.pack(Vexo.XSLtransform(W(styleSheet), W(document)))
end

local frames = write("frames.xml", '<frames><frame name="F1" id="16"/><frame name="B&amp;C" id="3"/></frames>')
local tableBody = '<xsl:template match="/frames"><table><xsl:for-each select="frame"><tr><td>'
    .. '<xsl:value-of select="@name"/></td><td><xsl:value-of select="@id * 2"/></td></tr>'
    .. '</xsl:for-each><br/></table></xsl:template>'

test("each output method serialises the whole result its own way; empty output is \"\"", function()
    local rows = {
        { "xml", '<?xml version="1.0"?>\n<table><tr><td>F1</td><td>32</td></tr>'
            .. '<tr><td>B&amp;C</td><td>6</td></tr><br/></table>\n' },
        { "html", "<table>\n<tr>\n<td>F1</td>\n<td>32</td>\n</tr>\n<tr>\n<td>B&amp;C</td>\n"
            .. "<td>6</td>\n</tr>\n<br>\n</table>\n" },
        { "text", "F132B&C6" }, { "text", "", '<xsl:template match="/"/>' },
    }
    for i, row in ipairs(rows) do
        local result = transform(sheet("method" .. i .. ".xsl", row[1], row[3] or tableBody), frames)
        eq(result.n, 1, row[1] .. ": results")
        eq(result[1], row[2], row[1] .. ": output")
    end
end)

test("files that do not load or parse give their name, line, column and libxml2's reason", function()
    local styleSheet, missing = sheet("load.xsl", "text", tableBody), check.tmp .. "/xsl_missing.xml"
    local prefix = write("prefix.xml", "<r><p:x/></r>")
    local rows = {
        { "missing document", styleSheet, missing, -1549,
            missing .. ' (0, 0): failed to load external entity "' .. missing .. '"\n' },
        { "missing style sheet", missing, frames, -1549,
            missing .. ' (0, 0): failed to load external entity "' .. missing .. '"\n' },
        { "undeclared prefix", styleSheet, prefix, -201,
            prefix .. " (1, 8): Namespace prefix p on x is not defined\n" },
        { "network name", styleSheet, "http://127.0.0.1:9/frames.xml", -1543,
            "http://127.0.0.1:9/frames.xml (0, 0): Attempt to load network entity http://127.0.0.1:9/frames.xml\n" },
    }
    for _, row in ipairs(rows) do
        local result = transform(row[2], row[3])
        check.truthy(result.n == 3 and result[1] == nil, row[1] .. ": three results, nil first")
        eq(result[2], row[4], row[1] .. ": code")
        eq(result[3], row[5], row[1] .. ": message")
    end
end)

test("a terminating xsl:message fails the transformation with the style sheet's name and the message", function()
    local stop = sheet("stop.xsl", "text",
        '<xsl:template match="/"><xsl:message terminate="yes">Stop here</xsl:message></xsl:template>')
    local result = transform(stop, frames)
    check.truthy(result.n == 3 and result[2] == E_FAIL, "three results, code " .. tostring(result[2]))
    eq(result[3]:sub(1, #frames + 2) .. result[3]:sub(-1), frames .. ": \n", "named after the document: " .. result[3])
    check.truthy(result[3]:find("Stop here", 1, true), "the message: " .. result[3])
end)

test("external entities, network reads and file writes are refused", function()
    write("secret.txt", "SECRET")
    local entity = write("entity.xml", '<!DOCTYPE r [<!ENTITY e SYSTEM "xsl_secret.txt">]><r>&e;</r>')
    local copy = sheet("copy.xsl", "xml", '<xsl:template match="/">[<xsl:value-of select="/r"/>]'
        .. '<xsl:copy-of select="/"/></xsl:template>')
    local output = transform(copy, entity)[1]
    check.truthy(output and output:find("[]", 1, true) and not output:find("SECRET", 1, true),
        "entity left unread: " .. tostring(output))

    local target = check.tmpfile("xsl_written.txt")
    local rows = {
        { "document() over http", sheet("net.xsl", "text",
            '<xsl:template match="/"><xsl:value-of select="document(\'http://127.0.0.1:9/x.xml\')"/></xsl:template>'),
            E_FAIL, "Network file read for http://127.0.0.1:9/x.xml refused" },
        { "xsl:import over http", write("import.xsl", '<xsl:stylesheet version="1.0" '
            .. 'xmlns:xsl="http://www.w3.org/1999/XSL/Transform"><xsl:import href="http://127.0.0.1:9/x.xsl"/>'
            .. '</xsl:stylesheet>'),
            E_INVALIDARG, "Network file read for http://127.0.0.1:9/x.xsl refused" },
        { "xsl:document writing a file", write("write.xsl", '<xsl:stylesheet version="1.1" '
            .. 'xmlns:xsl="http://www.w3.org/1999/XSL/Transform"><xsl:template match="/">'
            .. '<xsl:document href="' .. target .. '" method="text">x</xsl:document></xsl:template></xsl:stylesheet>'),
            E_FAIL, "File write for " .. target .. " refused" },
    }
    for _, row in ipairs(rows) do
        local result = transform(row[2], frames)
        check.truthy(result[1] == nil and result[2] == row[3] and result[3]:find(row[4], 1, true),
            row[1] .. ": nil, code and message " .. tostring(result[2]) .. " " .. tostring(result[3]))
    end
    eq(io.open(target), nil, "written file")
end)

test("a local document() is read", function()
    write("other.xml", "<o>from the other file</o>")
    local styleSheet = sheet("local.xsl", "text",
        '<xsl:template match="/"><xsl:value-of select="document(\'xsl_other.xml\')/o"/></xsl:template>')
    eq(transform(styleSheet, frames)[1], "from the other file", "output")
end)
