// Reading CAN logs in the candump formats, line by line:
//   log file:  (1436509052.249713) can0 123#DEADBEEF      classic frame
//              (1436509052.249713) can0 1F334455#00       extended identifier (8 digits)
//              (1436509052.249713) can0 123##1DEADBEEF    CAN FD, flags digit first
//              (1436509052.249713) can0 123#R             remote frame
//   screen:    can0  123   [4]  DE AD BE EF               (with an optional
//              (timestamp) in front, "remote request" for remote frames)
// The library's parser (vexo/candump.h) reads the line; the frame refers to its text.
#pragma once

#include <cstdint>
#include <string_view>

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

}  // namespace vexo::cli
