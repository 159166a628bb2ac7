// The vexo command-line tool: decodes CAN logs, lists, encodes and converts signal
// databases (DBC, LDF) and plots signals, all through libvexo's public C interface.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string>

#include "commands.h"
#include "failure.h"

#ifndef VEXO_VERSION
#define VEXO_VERSION "unknown"
#endif

namespace vexo::cli {

namespace {

constexpr char kUsage[] = R"(usage: vexo COMMAND [OPTIONS] ARGUMENTS
       vexo --help | --version | COMMAND --help

Signal databases for CAN, CAN FD and LIN: DBC and LDF files.

Commands:
  decode   decode CAN logs (candump formats) into signal values
  dump     list a database: frames, signals, multiplexing, value descriptions
  encode   build a frame from signal values, as a candump log line
  convert  write a database as DBC, as a Graphviz graph (DOT), or as SVG/PNG
  plot     draw signals of a log over time as an SVG image

Every command reads its database with the shipped import scripts; a file whose
name ends in .dbc or .ldf is read as that format, any other by its content.
Run "vexo COMMAND --help" for a command's options.
)";

constexpr char kDecodeHelp[] = R"(usage: vexo decode [OPTIONS] DB [LOG...|-]

Decodes CAN logs in the candump formats and prints every frame the database
describes: timestamp, interface, identifier, frame name, then each signal with
its physical value, unit and value description. Without LOG, or with "-", the
log is read from standard input.

Log lines:  (1436509052.249713) can0 123#DEADBEEF     candump -l (log file)
            (1436509052.249713) can0 1F334455#0102    extended identifier
            (1436509052.249713) can0 123##1DEADBEEF   CAN FD (flags digit first)
            (1436509052.249713) can0 123#R            remote frame (skipped)
            can0  123   [4]  DE AD BE EF              candump (screen)

Options:
  -f, --format FORMAT  text (default), csv (one row per signal value) or json
                       (JSON Lines: one object per frame)
  -s, --signals A,B    only these signals (NAME or FRAME.NAME); frames without
                       any of them are left out
      --raw            add the raw values
      --frames         list the frames only, without their signals
      --strict         stop at the first line that is no frame or frame that the
                       database does not describe (otherwise they are counted and
                       summed up on standard error at the end)
      --tolerant       read the database with the readers' tolerant mode
  -v, --verbose        print the import's warnings
  -h, --help           this help

JSON Lines: {"t": 1436509052.249713, "bus": "can0", "id": 291, "ext": false,
  "frame": "EngineData", "signals": {"EngineSpeed": 812.5, ...},
  "text": {"GearSelected": "Drive", ...}}
"text" holds the signals whose value has a description; with --raw a "raw"
object follows. Numbers read back as the same double; a float signal that is
not a number is null.
)";

constexpr char kDumpHelp[] = R"(usage: vexo dump [OPTIONS] DB

Lists a database: each frame with identifier, length, sender and cycle time,
then its signals with start bit, length, byte order, sign, factor, offset,
range, unit, receivers and value descriptions. Multiplexed frames are shown as
a tree: the signals always present, then those of each multiplexer value.

Options:
      --tolerant       read the database with the readers' tolerant mode
  -v, --verbose        print the import's warnings
  -h, --help           this help
)";

constexpr char kEncodeHelp[] = R"(usage: vexo encode [OPTIONS] DB FRAME [SIGNAL=VALUE...]

Builds a frame from physical signal values and prints it as a candump log line
("(0.000000) can0 123#0011223344556677"), which "vexo decode" reads back. FRAME
is a frame name or an identifier (0x123). A VALUE is a number or one of the
signal's value descriptions. Signals not given take their initial value (or
raw 0 when that cannot be encoded). A value outside the signal's range, or one
its coding cannot represent, is an error. In a multiplexed frame the values
given choose the multiplexer value (or give the multiplexer signal itself).

Options:
      --bus NAME       interface name in the line (default can0)
      --time SECONDS   timestamp in the line (default 0.000000)
      --tolerant       read the database with the readers' tolerant mode
  -v, --verbose        print the import's warnings
  -h, --help           this help
)";

constexpr char kConvertHelp[] = R"(usage: vexo convert [OPTIONS] IN OUT

Reads a database (DBC or LDF) and writes it in the format of OUT's extension:
  .dbc        a DBC file (through the shipped export script)
  .dot        a Graphviz graph of every element and link
  .svg, .png  that graph drawn by Graphviz's "dot" program (which must be
              installed: Debian package graphviz)

Options:
      --to FORMAT      dbc, dot, svg or png, whatever OUT's extension
      --tolerant       read the database with the readers' tolerant mode
  -v, --verbose        print the import's warnings
  -h, --help           this help
)";

constexpr char kPlotHelp[] = R"(usage: vexo plot [OPTIONS] DB LOG SIGNAL... -o OUT.svg

Decodes a candump log (LOG, or "-" for standard input) and draws the physical
values of the chosen signals over time as a self-contained SVG image: one panel
per unit, axes with ticks, a legend and one colour per signal. Time runs from
the log's first frame. A SIGNAL is a name or FRAME.NAME.

Options:
  -o, --output FILE    the SVG file to write (required)
      --title TEXT     the title (default: the log's name)
      --tolerant       read the database with the readers' tolerant mode
  -v, --verbose        print the import's warnings
  -h, --help           this help
)";

struct Command {
    const char *name;
    int (*run)(int, char **);
    const char *help;
};

constexpr Command kCommands[] = {
    {"decode", runDecode, kDecodeHelp},   {"dump", runDump, kDumpHelp},   {"encode", runEncode, kEncodeHelp},
    {"convert", runConvert, kConvertHelp}, {"plot", runPlot, kPlotHelp},
};

bool asksForHelp(int argc, char **argv)
{
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
            return true;
    }
    return false;
}

}  // namespace

const char *commandHelp(const char *command)
{
    for (const Command &c : kCommands) {
        if (std::strcmp(c.name, command) == 0)
            return c.help;
    }
    return nullptr;
}

int run(int argc, char **argv)
{
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    const std::string first = argv[1];
    if (first == "-h" || first == "--help" || first == "help") {
        const char *help = argc > 2 && first == "help" ? commandHelp(argv[2]) : nullptr;
        std::fputs(help != nullptr ? help : kUsage, stdout);
        return 0;
    }
    if (first == "--version" || first == "-V") {
        std::printf("vexo %s\n", VEXO_VERSION);
        return 0;
    }
    for (const Command &c : kCommands) {
        if (first != c.name)
            continue;
        if (asksForHelp(argc - 2, argv + 2)) {
            std::fputs(c.help, stdout);
            return 0;
        }
        try {
            return c.run(argc - 2, argv + 2);
        } catch (const UsageError &e) {
            std::fprintf(stderr, "vexo %s: %s\nRun \"vexo %s --help\" for its usage.\n", c.name, e.what(), c.name);
            return e.exitCode();
        } catch (const Failure &e) {
            std::fprintf(stderr, "vexo: error: %s\n", e.what());
            return e.exitCode();
        } catch (const std::bad_alloc &) {
            std::fprintf(stderr, "vexo: error: out of memory\n");
            return kExitFailure;
        } catch (const std::exception &e) {
            std::fprintf(stderr, "vexo: error: %s\n", e.what());
            return kExitFailure;
        }
    }
    std::fprintf(stderr, "vexo: unknown command %s\nRun \"vexo --help\" for the commands.\n", first.c_str());
    return kExitUsage;
}

}  // namespace vexo::cli

int main(int argc, char **argv)
{
    return vexo::cli::run(argc, argv);
}
