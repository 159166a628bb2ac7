// "vexo decode DB [LOG...|-]": streams candump logs through the database's decoder and
// writes every decoded frame as text, CSV or JSON Lines; lines that are no frame and
// frames the database does not describe are counted and summed up on standard error.
#include <algorithm>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "arguments.h"
#include "candump.h"
#include "commands.h"
#include "failure.h"
#include "frame_decoder.h"
#include "frame_writers.h"
#include "log_input.h"
#include "network.h"
#include "signal_filter.h"
#include "text.h"

namespace vexo::cli {

namespace {

// Frames handed to the decoder at once: few enough that their records stay in the cache.
constexpr size_t kFramesPerDecode = 64;

uint32_t keyOf(uint32_t identifier, bool extended) { return identifier | (extended ? 0x80000000u : 0u); }

std::string identifierText(uint32_t key)
{
    char text[16];
    if ((key & 0x80000000u) != 0)
        std::snprintf(text, sizeof text, "%08X", key & 0x1FFFFFFFu);
    else
        std::snprintf(text, sizeof text, "%03X", key);
    return text;
}

// A line for error messages: cut, and control characters shown as '?'.
std::string excerpt(std::string_view line)
{
    std::string shown(line.substr(0, 60));
    for (char &c : shown) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = '?';
    }
    return line.size() > 60 ? shown + "..." : shown;
}

struct Tally {
    uint64_t decoded = 0;
    uint64_t garbage = 0;
    std::string firstGarbage;
    uint64_t unknown = 0, unknownLength = 0;
    std::unordered_map<uint32_t, uint64_t> unknownById;
    uint64_t remote = 0, errors = 0;
};

void report(const Tally &tally, const std::string &database)
{
    if (tally.garbage > 0)
        std::fprintf(stderr, "vexo: warning: %llu line%s not a CAN frame (the first: %s)\n",
                     static_cast<unsigned long long>(tally.garbage), tally.garbage == 1 ? " is" : "s are",
                     tally.firstGarbage.c_str());
    if (tally.unknown > 0) {
        std::vector<std::pair<uint32_t, uint64_t>> ids(tally.unknownById.begin(), tally.unknownById.end());
        std::sort(ids.begin(), ids.end(), [](const auto &a, const auto &b) {
            return a.second != b.second ? a.second > b.second : a.first < b.first;
        });
        std::string list;
        for (size_t i = 0; i < ids.size() && i < 8; ++i)
            list += (i > 0 ? ", " : "") + identifierText(ids[i].first) + " (" + std::to_string(ids[i].second) + ")";
        if (ids.size() > 8)
            list += ", ...";
        std::string lengths;
        if (tally.unknownLength > 0)
            lengths = "; " + std::to_string(tally.unknownLength) + " of them with a known identifier but another length";
        std::fprintf(stderr, "vexo: warning: %llu frame%s not described by %s: %s%s\n",
                     static_cast<unsigned long long>(tally.unknown), tally.unknown == 1 ? " is" : "s are",
                     database.c_str(), list.c_str(), lengths.c_str());
    }
    if (tally.remote > 0 || tally.errors > 0)
        std::fprintf(stderr, "vexo: note: skipped %llu remote and %llu error frame%s\n",
                     static_cast<unsigned long long>(tally.remote), static_cast<unsigned long long>(tally.errors),
                     tally.remote + tally.errors == 1 ? "" : "s");
}

}  // namespace

int runDecode(int argc, char **argv)
{
    const Arguments args(argc, argv, 0,
                         {{"format", 'f', true}, {"signals", 's', true}, {"raw", 0, false}, {"frames", 0, false},
                          {"strict", 0, false}, {"tolerant", 0, false}, {"verbose", 'v', false}});
    const std::vector<std::string> &positional = args.positional();
    if (positional.empty())
        throw UsageError("decode needs a database: vexo decode DB [LOG...|-]");
    const std::string format = args.value("format").value_or("text");
    WriterOptions writerOptions;
    writerOptions.raw = args.has("raw");
    writerOptions.framesOnly = args.has("frames");
    Output out(1, "standard output");
    const std::unique_ptr<FrameWriter> writer = makeFrameWriter(format, out, writerOptions);
    if (!writer)
        throw UsageError("unknown format " + format + " (text, csv or json)");
    const bool strict = args.has("strict");

    Network network(positional[0], LoadOptions{args.has("tolerant"), args.has("verbose")});
    FilterHandle filter;
    if (const auto names = args.value("signals"))
        filter = makeSignalFilter(network, splitList(*names, ','));
    std::unordered_set<uint32_t> known;
    for (const auto &frame : network.frames()) {
        if (frame->triggered())
            known.insert(keyOf(frame->identifier, frame->extended));
    }

    FrameDecoder decoder(network, filter.get());
    Tally tally;
    std::vector<std::string> logs(positional.begin() + 1, positional.end());
    if (logs.empty())
        logs.push_back("-");
    writer->begin();
    CanFrame frame;
    CandumpLines parsed;
    for (const std::string &log : logs) {
        LogInput input(log);
        input.onIdle([&out] { out.flush(); });
        uint64_t linesBefore = 0;  // of this log, before the text being parsed
        std::string_view lines;
        while (input.nextLines(lines)) {
            while (parsed.parse(lines)) {
                const VexoLogCount &count = parsed.count();
                // The first line that is no frame, counting from 1 (0: none).
                const uint64_t garbageLine = count.garbage > 0 ? linesBefore + count.firstGarbage + 1 : 0;
                for (size_t i = 0; i < parsed.frames(); ++i) {
                    if (i % kFramesPerDecode == 0)
                        decoder.decodeFrames(parsed.libraryFrames() + i,
                                             std::min(kFramesPerDecode, parsed.frames() - i));
                    const uint64_t lineNumber = linesBefore + parsed.lineOf(i) + 1;
                    if (strict && garbageLine != 0 && lineNumber > garbageLine)
                        break;
                    parsed.frame(i, frame);
                    const size_t decodedCount = decoder.resultsOf(i % kFramesPerDecode);
                    if (decodedCount == 0) {
                        const uint32_t key = keyOf(frame.identifier, frame.extended);
                        if (strict) {
                            out.flush();
                            throw Failure(input.name() + ":" + std::to_string(lineNumber) + ": frame "
                                          + identifierText(key) + " [" + std::to_string(frame.length)
                                          + "] is not described by " + network.path());
                        }
                        ++tally.unknown;
                        ++tally.unknownById[key];
                        tally.unknownLength += known.count(key);
                        continue;
                    }
                    ++tally.decoded;
                    for (size_t k = 0; k < decodedCount; ++k) {
                        const DecodedFrame &decoded = decoder.result(k);
                        // With a signal selection, frames that hold none of the signals are left out.
                        if (filter && decoded.signals.empty())
                            continue;
                        writer->write(frame, decoded);
                    }
                }
                if (garbageLine != 0) {
                    const std::string where = input.name() + ":" + std::to_string(garbageLine);
                    if (strict) {
                        out.flush();
                        throw Failure(where + ": not a CAN frame: " + excerpt(parsed.lineText(count.firstGarbage)));
                    }
                    if (tally.garbage == 0)
                        tally.firstGarbage = where;
                    tally.garbage += count.garbage;
                }
                tally.remote += count.remote;
                tally.errors += count.errors;
                linesBefore += count.lines;
            }
        }
    }
    out.flush();
    report(tally, network.path());
    return 0;
}

}  // namespace vexo::cli
