// The tool's commands. Each reads its own command line (argv from the word after the
// command's name), writes its results to standard output and returns the exit code;
// failures are thrown as Failure and reported by main.
#pragma once

namespace vexo::cli {

int runDecode(int argc, char **argv);
int runDump(int argc, char **argv);
int runEncode(int argc, char **argv);
int runConvert(int argc, char **argv);
int runPlot(int argc, char **argv);

// The help text of a command, or null for an unknown name.
const char *commandHelp(const char *command);

}  // namespace vexo::cli
