// One candump line through the library's log parser (Vexo_parseCandump), so that the
// tool and the library's other users read logs alike.
#include "candump.h"

#include "vexo/vexo.h"

namespace vexo::cli {

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
        frame.timestamp = line.substr(where.stampOffset, where.stampLength);
        frame.seconds = where.timestamp;
        frame.bus = line.substr(where.busOffset, where.busLength);
        frame.identifier = parsed.identifier;
        frame.extended = (parsed.flags & Q3_FLAG_CANEXTENDED) != 0;
        frame.fd = (where.flags & VEXO_LOG_FD) != 0;
        frame.fdFlags = static_cast<uint8_t>(((where.flags & VEXO_LOG_BRS) != 0 ? 1 : 0)
                                             | ((where.flags & VEXO_LOG_ESI) != 0 ? 2 : 0));
        frame.length = static_cast<uint8_t>(parsed.length);
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

}  // namespace vexo::cli
