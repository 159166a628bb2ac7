// "vexo convert IN OUT": a database written as DBC (Vexo_exportFile), as a Graphviz
// graph (Vexo_dumpDot), or as that graph drawn to SVG or PNG by Graphviz's dot program.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "arguments.h"
#include "commands.h"
#include "failure.h"
#include "network.h"
#include "text.h"

extern char **environ;

namespace vexo::cli {

namespace {

std::string extensionOf(const std::string &path)
{
    const size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.')
        return {};
    std::string extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// The full name of a program found on PATH; empty when it is not there.
std::string findProgram(const std::string &name)
{
    const char *path = std::getenv("PATH");
    for (const std::string &dir : splitList(path != nullptr ? path : "/usr/bin:/bin", ':')) {
        const std::string candidate = dir + "/" + name;
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

int32_t keepError(void *context, const VexoMessage *message)
{
    if (message->second == VEXO_MESSAGE_ERROR)
        *static_cast<std::string *>(context) = utf8(message->text);
    return 0;
}

void writeDbc(const Network &network, const std::string &out, bool byName)
{
    std::string error;
    const std::u16string path = utf16(out);
    const HRESULT hr = Vexo_exportFile(network.database(), nullptr, path.c_str(), byName ? u"" : u"DBC", &error,
                                       keepError);
    if (hr != S_OK)
        throw Failure(error.empty() ? "cannot write " + out : error);
}

void writeDot(const Network &network, const std::string &out)
{
    const std::u16string path = utf16(out);
    const HRESULT hr = Vexo_dumpDot(network.database(), path.c_str(), 0, 0);
    if (hr == E_OUTOFMEMORY)
        throw Failure("out of memory while writing " + out);
    if (hr != S_OK)
        throw Failure("cannot write " + out + (errno != 0 ? std::string(": ") + std::strerror(errno) : ""));
}

// Runs dot on a DOT file of the database; format: "svg" or "png".
void drawGraph(const Network &network, const std::string &out, const std::string &format)
{
    const std::string dot = findProgram("dot");
    if (dot.empty())
        throw Failure("writing " + format + " needs Graphviz's dot program, which is not on PATH (install the "
                      "graphviz package), or write a .dot file and draw it elsewhere");
    const char *tmp = std::getenv("TMPDIR");
    std::string graph = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/vexo-graph-XXXXXX";
    const int fd = ::mkstemp(graph.data());
    if (fd < 0)
        throw Failure("cannot make a temporary file for the graph: " + std::string(std::strerror(errno)));
    ::close(fd);
    struct Remove {
        std::string path;
        ~Remove() { ::unlink(path.c_str()); }
    } removeGraph{graph};
    writeDot(network, graph);

    const std::string type = "-T" + format;
    const std::string output = "-o" + out;
    char *args[] = {const_cast<char *>("dot"), const_cast<char *>(type.c_str()), const_cast<char *>(output.c_str()),
                    graph.data(), nullptr};
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, dot.c_str(), nullptr, nullptr, args, environ);
    if (spawned != 0)
        throw Failure("cannot run " + dot + ": " + std::strerror(spawned));
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            throw Failure("lost the dot program: " + std::string(std::strerror(errno)));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw Failure("dot could not draw " + out + " (exit status "
                      + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")");
}

}  // namespace

int runConvert(int argc, char **argv)
{
    const Arguments args(argc, argv, 0, {{"to", 0, true}, {"tolerant", 0, false}, {"verbose", 'v', false}});
    const std::vector<std::string> &positional = args.positional();
    if (positional.size() != 2)
        throw UsageError("convert needs an input and an output file: vexo convert IN OUT");
    const std::string &out = positional[1];
    const std::string extension = extensionOf(out);
    const std::string format = args.value("to").value_or(extension);
    if (format != "dbc" && format != "dot" && format != "svg" && format != "png") {
        if (args.has("to"))
            throw UsageError("unknown output format " + format + " (dbc, dot, svg or png)");
        throw UsageError("cannot tell the output format from " + out + "; name it .dbc, .dot, .svg or .png, or "
                         "give --to");
    }
    if (format == "svg" || format == "png") {
        // Before the database is read: a missing program is known at once.
        if (findProgram("dot").empty())
            throw Failure("writing " + format + " needs Graphviz's dot program, which is not on PATH (install the "
                          "graphviz package), or write a .dot file and draw it elsewhere");
    }
    Network network(positional[0], LoadOptions{args.has("tolerant"), args.has("verbose")});
    errno = 0;
    if (format == "dbc")
        writeDbc(network, out, extension == "dbc");
    else if (format == "dot")
        writeDot(network, out);
    else
        drawGraph(network, out, format);
    return 0;
}

}  // namespace vexo::cli
