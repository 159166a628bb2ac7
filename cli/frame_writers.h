// The output formats of "vexo decode": text for reading, CSV with one row per signal
// value, and JSON Lines with one object per decoded frame.
#pragma once

#include <memory>
#include <string>

#include "candump.h"
#include "frame_decoder.h"
#include "output.h"

namespace vexo::cli {

struct WriterOptions {
    bool raw = false;         // add the raw values
    bool framesOnly = false;  // frames without their signals
};

class FrameWriter {
public:
    virtual ~FrameWriter() = default;
    // Called once before the first frame.
    virtual void begin() {}
    virtual void write(const CanFrame &frame, const DecodedFrame &decoded) = 0;
};

// format: "text", "csv" or "json"; null for another name.
std::unique_ptr<FrameWriter> makeFrameWriter(const std::string &format, Output &out, const WriterOptions &options);

}  // namespace vexo::cli
