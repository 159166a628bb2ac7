// Command-line option parsing for the tool's commands.
#include "arguments.h"

#include <cstring>

#include "failure.h"

namespace vexo::cli {

Arguments::Arguments(int argc, char **argv, int first, std::initializer_list<OptionSpec> options)
    : specs_(options)
{
    bool optionsEnded = false;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnded || arg == "-" || arg.size() < 2 || arg[0] != '-') {
            positional_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec *spec = nullptr;
        std::string value;
        bool hasValue = false;
        if (arg[1] == '-') {
            const size_t equals = arg.find('=');
            const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
            for (const OptionSpec &s : specs_) {
                if (name == s.name)
                    spec = &s;
            }
            if (spec == nullptr)
                throw UsageError("unknown option --" + name);
            if (equals != std::string::npos) {
                if (!spec->takesValue)
                    throw UsageError("option --" + name + " takes no value");
                value = arg.substr(equals + 1);
                hasValue = true;
            }
        } else {
            for (const OptionSpec &s : specs_) {
                if (s.letter != 0 && arg[1] == s.letter)
                    spec = &s;
            }
            if (spec == nullptr || (arg.size() > 2 && !spec->takesValue))
                throw UsageError("unknown option " + arg);
            if (arg.size() > 2) {
                value = arg.substr(2);
                hasValue = true;
            }
        }
        if (spec->takesValue && !hasValue) {
            if (i + 1 >= argc)
                throw UsageError(std::string("option --") + spec->name + " needs a value");
            value = argv[++i];
        }
        given_.emplace_back(spec->name, value);
    }
}

bool Arguments::has(const char *name) const
{
    for (const auto &[option, value] : given_) {
        if (option == name)
            return true;
    }
    return false;
}

std::optional<std::string> Arguments::value(const char *name) const
{
    std::optional<std::string> found;
    for (const auto &[option, value] : given_) {
        if (option == name)
            found = value;
    }
    return found;
}

}  // namespace vexo::cli
