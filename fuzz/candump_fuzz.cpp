// libFuzzer target for the candump log parser. The first two bytes of an input give a split
// point, the rest is the log. Whether the text comes in one call, in two calls cut at the
// split point, or with room for one frame per call, the frames, their lines and the counts
// must be the same; nothing may be written beyond the buffers or point outside the text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "vexo/candump.h"

namespace {

void require(bool holds)
{
    if (!holds)
        std::abort();
}

// Every frame (its record with absolute line and offsets, then its bytes) and the counts.
std::string parseAll(const char *text, size_t size, size_t split, uint32_t room)
{
    std::vector<VexoFrame> frames(room);
    std::vector<VexoLogLine> lines(room);
    std::vector<uint8_t> data(room * 64u);
    VexoLogBuses buses{};
    VexoLogCount total{};
    std::string out;
    for (size_t at = 0, fed = split;;) {
        VexoLogCount done{};
        const HRESULT hr = Vexo_parseCandump(text + at, fed - at, fed == size ? VEXO_LOG_FINAL : 0, frames.data(),
                                             room, lines.data(), data.data(), static_cast<uint32_t>(data.size()),
                                             &buses, &done);
        require((hr == S_OK || hr == S_FALSE) && done.bytes <= fed - at && done.frames <= room);
        for (uint32_t i = 0; i < done.frames; ++i) {
            VexoLogLine line = lines[i];
            const VexoFrame &frame = frames[i];
            require(line.stampOffset + line.stampLength <= done.bytes && line.busOffset + line.busLength <= done.bytes);
            const uint8_t *const end = data.data() + data.size();
            require(frame.length <= 64);
            require(frame.length == 0 || (frame.data >= data.data() && frame.data + frame.length <= end));
            line.line += total.lines;
            line.stampOffset += line.stampLength > 0 ? static_cast<uint32_t>(at) : 0;  // 0 without a stamp
            line.busOffset += static_cast<uint32_t>(at);
            out.append(reinterpret_cast<const char *>(&line), sizeof line).append(std::to_string(frame.identifier));
            out.append(reinterpret_cast<const char *>(frame.data), frame.length);
        }
        total.lines += done.lines, total.remote += done.remote, total.errors += done.errors;
        total.garbage += done.garbage;
        at += done.bytes;
        require(hr == S_OK || done.bytes > 0 || done.frames > 0);
        if (hr == S_OK && fed == size)
            break;
        if (hr == S_OK)
            fed = size;
    }
    for (uint32_t count : {total.lines, total.remote, total.errors, total.garbage})
        out.append(" ").append(std::to_string(count));
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    if (size < 2)
        return 0;
    const char *text = reinterpret_cast<const char *>(bytes + 2);
    const size_t length = size - 2, split = (bytes[0] | bytes[1] << 8) % (length + 1);
    const std::string whole = parseAll(text, length, length, 512);
    require(parseAll(text, length, split, 512) == whole);
    require(parseAll(text, length, length, 1) == whole);
    return 0;
}
