// Candump lines through the library's log parser (Vexo_parseCandump), one at a time or
// many per call, so that the tool and the library's other users read logs alike.
#include "candump.h"

#include <algorithm>

#include "vexo/vexo.h"

namespace vexo::cli {

namespace {

// A parsed frame and its line as the tool's frame.
void toCanFrame(const VexoFrame &parsed, const VexoLogLine &where, std::string_view text, CanFrame &frame)
{
    frame.timestamp = text.substr(where.stampOffset, where.stampLength);
    frame.seconds = where.timestamp;
    frame.bus = text.substr(where.busOffset, where.busLength);
    frame.identifier = parsed.identifier;
    frame.extended = (parsed.flags & Q3_FLAG_CANEXTENDED) != 0;
    frame.fd = (where.flags & VEXO_LOG_FD) != 0;
    frame.fdFlags = static_cast<uint8_t>(((where.flags & VEXO_LOG_BRS) != 0 ? 1 : 0)
                                         | ((where.flags & VEXO_LOG_ESI) != 0 ? 2 : 0));
    frame.length = static_cast<uint8_t>(parsed.length);
}

constexpr uint32_t kFramesPerCall = 1024;

}  // namespace

LineKind parseCandumpLine(std::string_view line, CanFrame &frame)
{
    frame.timestamp = {};
    frame.fd = false;
    frame.fdFlags = 0;
    frame.length = 0;
    VexoFrame parsed{};
    VexoLogLine where{};
    VexoLogCount count{};
    if (Vexo_parseCandump(line.data(), line.size(), VEXO_LOG_FINAL, &parsed, 1, &where, frame.data,
                          sizeof frame.data, nullptr, &count) < 0)
        return LineKind::Garbage;
    if (count.frames == 1) {
        toCanFrame(parsed, where, line, frame);
        return LineKind::Frame;
    }
    if (count.remote > 0)
        return LineKind::Remote;
    if (count.errors > 0)
        return LineKind::Error;
    if (count.garbage > 0)
        return LineKind::Garbage;
    return LineKind::Blank;
}

CandumpLines::CandumpLines()
    : frames_(kFramesPerCall), lines_(kFramesPerCall), data_(kFramesPerCall * sizeof(CanFrame::data))
{
}

bool CandumpLines::parse(std::string_view &text)
{
    if (text.empty())
        return false;
    // Each call takes at least one line: room for a whole frame is always there.
    const HRESULT hr = Vexo_parseCandump(text.data(), text.size(), VEXO_LOG_FINAL, frames_.data(), kFramesPerCall,
                                         lines_.data(), data_.data(), static_cast<uint32_t>(data_.size()), nullptr,
                                         &count_);
    if (hr < 0)
        count_ = {};  // never for text of the reader's buffer size
    text_ = text.substr(0, count_.bytes);
    text.remove_prefix(hr < 0 ? text.size() : count_.bytes);
    return true;
}

void CandumpLines::frame(size_t i, CanFrame &out) const
{
    toCanFrame(frames_[i], lines_[i], text_, out);
    std::copy(frames_[i].data, frames_[i].data + frames_[i].length, out.data);
}

std::string_view CandumpLines::lineText(uint32_t n) const
{
    size_t start = 0;
    for (; n > 0 && start < text_.size(); --n)
        start = std::min(text_.find('\n', start), text_.size() - 1) + 1;
    std::string_view line = text_.substr(start);
    line = line.substr(0, std::min(line.find('\n'), line.size()));
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

}  // namespace vexo::cli
