// Block-wise line reading with read(2).
#include "log_input.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "failure.h"

namespace vexo::cli {

namespace {
constexpr size_t kBufferSize = 1 << 20;
}

LogInput::LogInput(const std::string &path) : name_(path == "-" ? "<stdin>" : path), buffer_(new char[kBufferSize])
{
    if (path == "-") {
        fd_ = 0;
        return;
    }
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        throw Failure("cannot open log " + path + ": " + std::strerror(errno));
    owned_ = true;
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd_);
        throw Failure("cannot read log " + path + ": it is a directory");
    }
}

LogInput::~LogInput()
{
    if (owned_)
        ::close(fd_);
}

// Moves what is left to the front and reads more; false when nothing more came.
bool LogInput::fill()
{
    if (ended_)
        return false;
    if (begin_ > 0) {
        std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    // Before a read that would wait (a live log's writer has nothing more yet), what was
    // read so far is let out.
    if (idle_ && fd_ == 0) {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, 0) == 0)
            idle_();
    }
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_.get() + end_, kBufferSize - end_);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw Failure("cannot read " + name_ + ": " + std::strerror(errno));
        if (got == 0) {
            ended_ = true;
            return false;
        }
        end_ += static_cast<size_t>(got);
        return true;
    }
}

bool LogInput::next(std::string_view &line)
{
    if (pending_.empty() && !nextLines(pending_))
        return false;
    const size_t end = pending_.find('\n');
    if (end == std::string_view::npos) {
        line = pending_;  // a last line or an over-long line's piece, handed out as it is
        pending_ = {};
        return true;
    }
    line = pending_.substr(0, end);
    pending_.remove_prefix(end + 1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return true;
}

bool LogInput::nextLines(std::string_view &lines)
{
    for (;;) {
        const char *start = buffer_.get() + begin_;
        if (skipping_) {
            // The rest of an over-long line goes, up to its line end.
            if (const void *newline = std::memchr(start, '\n', end_ - begin_)) {
                begin_ = static_cast<size_t>(static_cast<const char *>(newline) - buffer_.get()) + 1;
                skipping_ = false;
            } else {
                begin_ = end_ = 0;
                if (!fill())
                    return false;
            }
            continue;
        }
        if (const void *last = ::memrchr(start, '\n', end_ - begin_)) {
            const size_t length = static_cast<size_t>(static_cast<const char *>(last) - start) + 1;
            begin_ += length;
            lines = std::string_view(start, length);
            return true;
        }
        if (begin_ == 0 && end_ == kBufferSize) {
            // No line end in a full buffer: the piece goes out once, the rest is dropped.
            skipping_ = true;
            begin_ = end_ = 0;
            lines = std::string_view(buffer_.get(), kBufferSize);
            return true;
        }
        if (!fill()) {
            if (begin_ == end_)
                return false;
            // A last line without line end.
            lines = std::string_view(buffer_.get() + begin_, end_ - begin_);
            begin_ = end_;
            if (lines.back() == '\r')
                lines.remove_suffix(1);
            return true;
        }
    }
}

}  // namespace vexo::cli
