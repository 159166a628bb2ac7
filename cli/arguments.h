// The command line of one tool command: options (long "--name", "--name=value", short
// "-n value"), positional arguments, "--" to end the options and "-" for standard input.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace vexo::cli {

struct OptionSpec {
    const char *name;   // long name without "--"
    char letter;        // short name, or 0
    bool takesValue;
};

class Arguments {
public:
    // Reads argv[first..argc); throws UsageError for an unknown option or a missing value.
    Arguments(int argc, char **argv, int first, std::initializer_list<OptionSpec> options);

    bool has(const char *name) const;
    std::optional<std::string> value(const char *name) const;
    const std::vector<std::string> &positional() const { return positional_; }

private:
    std::vector<OptionSpec> specs_;
    std::vector<std::pair<std::string, std::string>> given_;
    std::vector<std::string> positional_;
};

}  // namespace vexo::cli
