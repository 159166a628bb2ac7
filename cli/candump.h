// Reading CAN logs in the candump formats, a line or many lines at a time:
//   log file:  (1436509052.249713) can0 123#DEADBEEF      classic frame
//              (1436509052.249713) can0 1F334455#00       extended identifier (8 digits)
//              (1436509052.249713) can0 123##1DEADBEEF    CAN FD, flags digit first
//              (1436509052.249713) can0 123#R             remote frame
//   screen:    can0  123   [4]  DE AD BE EF               (with an optional
//              (timestamp) in front, "remote request" for remote frames)
// The library's parser (vexo/candump.h) reads the lines; a frame refers to their text.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "vexo/candump.h"

namespace vexo::cli {

struct CanFrame {
    std::string_view timestamp;  // the text in parentheses, empty when the line has none
    double seconds = 0;          // the timestamp read as a double; NaN when none or out of range
    std::string_view bus;        // the interface name
    uint32_t identifier = 0;
    bool extended = false;       // written with 8 hex digits
    bool fd = false;             // CAN FD ("##")
    uint8_t fdFlags = 0;         // the FD flags (1: bit rate switch, 2: error state)
    uint8_t length = 0;
    uint8_t data[64] = {};
};

enum class LineKind {
    Frame,     // a data frame, in the CanFrame
    Remote,    // a remote frame (no data to decode)
    Error,     // an error frame (the identifier carries the error flag)
    Blank,     // nothing but white space
    Garbage,   // anything else
};

// Reads one line (without its line end).
LineKind parseCandumpLine(std::string_view line, CanFrame &frame);

// Whole lines many at a time: the frames in order, each with its line, and the counts of
// the other kinds (one library call for many lines).
class CandumpLines {
public:
    CandumpLines();
    // Reads lines from the front of text and takes them off it; false when text is empty.
    bool parse(std::string_view &text);
    const VexoLogCount &count() const { return count_; }
    size_t frames() const { return count_.frames; }
    // Frame i of the last parse; it refers to that text.
    void frame(size_t i, CanFrame &out) const;
    // The frames of the last parse as the library's decoder takes them.
    const VexoFrame *libraryFrames() const { return frames_.data(); }
    // The line of frame i, counting from 0 at the start of the last parse's text.
    uint32_t lineOf(size_t i) const { return lines_[i].line; }
    // Line n (from 0) of the last parse's text, without its line end.
    std::string_view lineText(uint32_t n) const;

private:
    std::vector<VexoFrame> frames_;
    std::vector<VexoLogLine> lines_;
    std::vector<uint8_t> data_;
    std::string_view text_;
    VexoLogCount count_{};
};

}  // namespace vexo::cli
