// The tool's one error type: a failure that ends the command with a one-line message
// on standard error and a non-zero exit code.
#pragma once

#include <stdexcept>
#include <string>

namespace vexo::cli {

// Exit codes: 1 for a failure (a file, the database, a value), 2 for a wrong command line.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

class Failure : public std::runtime_error {
public:
    explicit Failure(const std::string &message, int exitCode = kExitFailure)
        : std::runtime_error(message), exitCode_(exitCode)
    {
    }
    int exitCode() const { return exitCode_; }

private:
    int exitCode_;
};

// A failure of the command line itself (unknown option, missing argument).
class UsageError : public Failure {
public:
    explicit UsageError(const std::string &message) : Failure(message, kExitUsage) {}
};

}  // namespace vexo::cli
