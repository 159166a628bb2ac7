// Reading a log line by line from a file or standard input, in large blocks and without
// an allocation per line, so that logs of millions of lines stream through.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace vexo::cli {

class LogInput {
public:
    // path "-" reads standard input. Throws Failure when the file cannot be opened.
    explicit LogInput(const std::string &path);
    ~LogInput();
    LogInput(const LogInput &) = delete;
    LogInput &operator=(const LogInput &) = delete;

    // The next line without its line end; false at the end of the input. A line longer
    // than the buffer is handed out cut to the buffer's size (it is no frame anyway).
    bool next(std::string_view &line);
    // Whole lines at a time, with their line ends: every complete line at hand, else a last
    // line without line end (a final '\r' dropped) or an over-long line's piece; false at
    // the end of the input. Not to be mixed with next() on one input.
    bool nextLines(std::string_view &lines);
    const std::string &name() const { return name_; }
    // Called when the input has no more data at hand (a pipe waits for its writer), so
    // that output can be flushed for a live log.
    void onIdle(std::function<void()> idle) { idle_ = std::move(idle); }

private:
    bool fill();

    std::string name_;
    int fd_ = -1;
    bool owned_ = false;
    bool ended_ = false;
    std::unique_ptr<char[]> buffer_;
    size_t begin_ = 0, end_ = 0;
    std::string_view pending_;  // lines nextLines handed to next() and not yet read
    bool skipping_ = false;  // the rest of an over-long line is being dropped
    std::function<void()> idle_;
};

}  // namespace vexo::cli
