// "vexo decode DB [LOG...|-]": streams candump logs through the database's decoder and
// writes every decoded frame as text, CSV or JSON Lines; lines that are no frame and
// frames the database does not describe are counted and summed up on standard error.
// Blocks of lines are decoded on worker threads, each with its own decoder and writer;
// their outputs are written in the log's order, so the result is what one thread writes.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "arguments.h"
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

void merge(Tally &into, const Tally &from)
{
    into.decoded += from.decoded;
    if (into.garbage == 0)
        into.firstGarbage = from.firstGarbage;
    into.garbage += from.garbage;
    into.unknown += from.unknown;
    into.unknownLength += from.unknownLength;
    for (const auto &[key, count] : from.unknownById)
        into.unknownById[key] += count;
    into.remote += from.remote;
    into.errors += from.errors;
}

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

// A block of one log's lines, and what decoding it gave.
struct Block {
    const std::string *log = nullptr;
    uint64_t firstLine = 0;  // the number of its first line
    std::string lines;       // each ended by '\n'
    size_t count = 0;
    std::unique_ptr<char[]> output;
    size_t outputSize = 0;
    Tally tally;
    bool failed = false;  // decoding stopped at a line: failure says why
    std::string failure;
    bool done = false;
};

struct Settings {
    Network &network;
    const VexoFilter *filter;
    std::string format;
    WriterOptions writerOptions;
    bool strict;
    std::unordered_set<uint32_t> known;  // identifiers (keyOf) of the triggered frames
};

// One decoding thread's decoder and writer.
class Worker {
public:
    explicit Worker(const Settings &settings)
        : settings_(settings), decoder_(settings.network, settings.filter),
          writer_(makeFrameWriter(settings.format, out_, settings.writerOptions))
    {
    }

    void decode(Block &block)
    {
        try {
            decodeLines(block);
        } catch (const std::exception &e) {
            block.failed = true;
            block.failure = e.what();
        }
        block.output = out_.take(block.outputSize);
    }

private:
    void decodeLines(Block &block)
    {
        Tally &tally = block.tally;
        CanFrame frame;
        std::string_view rest = block.lines;
        for (uint64_t number = block.firstLine; !rest.empty(); ++number) {
            const size_t end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            rest.remove_prefix(end + 1);
            switch (parseCandumpLine(line, frame)) {
            case LineKind::Blank:
                continue;
            case LineKind::Remote:
                ++tally.remote;
                continue;
            case LineKind::Error:
                ++tally.errors;
                continue;
            case LineKind::Garbage: {
                const std::string where = *block.log + ":" + std::to_string(number);
                if (settings_.strict)
                    return fail(block, where + ": not a CAN frame: " + excerpt(line));
                if (tally.garbage++ == 0)
                    tally.firstGarbage = where;
                continue;
            }
            case LineKind::Frame:
                break;
            }
            const size_t count = decoder_.decode(frame);
            if (count == 0) {
                const uint32_t key = keyOf(frame.identifier, frame.extended);
                if (settings_.strict)
                    return fail(block, *block.log + ":" + std::to_string(number) + ": frame " + identifierText(key)
                                           + " [" + std::to_string(frame.length) + "] is not described by "
                                           + settings_.network.path());
                ++tally.unknown;
                ++tally.unknownById[key];
                tally.unknownLength += settings_.known.count(key);
                continue;
            }
            ++tally.decoded;
            for (size_t i = 0; i < count; ++i) {
                const DecodedFrame &decoded = decoder_.result(i);
                // With a signal selection, frames that hold none of the signals are left out.
                if (settings_.filter != nullptr && decoded.signals.empty())
                    continue;
                writer_->write(frame, decoded, decoder_);
            }
        }
    }

    static void fail(Block &block, std::string why)
    {
        block.failed = true;
        block.failure = std::move(why);
    }

    const Settings &settings_;
    FrameDecoder decoder_;
    Output out_;  // in memory
    std::unique_ptr<FrameWriter> writer_;
};

// Decodes blocks on worker threads and hands their results back in the order they came.
class Pipeline {
public:
    Pipeline(const Settings &settings, size_t threads)
    {
        // The decoders compile their plans here, one after the other, before any thread runs.
        for (size_t i = 0; i < threads; ++i)
            workers_.push_back(std::make_unique<Worker>(settings));
        for (size_t i = 0; i < threads; ++i)
            threads_.emplace_back([this, i] { serve(*workers_[i]); });
    }
    ~Pipeline()
    {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            stopping_ = true;
        }
        waiting_.notify_all();
        for (std::thread &thread : threads_)
            thread.join();
    }
    Pipeline(const Pipeline &) = delete;
    Pipeline &operator=(const Pipeline &) = delete;

    // Blocks handed in and not yet taken back.
    size_t inFlight() const { return blocks_.size(); }
    void submit(std::unique_ptr<Block> block)
    {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            blocks_.push_back(std::move(block));
            pending_.push_back(blocks_.back().get());
        }
        waiting_.notify_one();
    }
    // The oldest block once it is decoded.
    std::unique_ptr<Block> takeOldest()
    {
        std::unique_lock<std::mutex> hold(lock_);
        finished_.wait(hold, [this] { return blocks_.front()->done; });
        std::unique_ptr<Block> block = std::move(blocks_.front());
        blocks_.pop_front();
        return block;
    }

private:
    void serve(Worker &worker)
    {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            waiting_.wait(hold, [this] { return stopping_ || !pending_.empty(); });
            if (stopping_)
                return;
            Block *block = pending_.front();
            pending_.pop_front();
            hold.unlock();
            worker.decode(*block);
            hold.lock();
            block->done = true;
            finished_.notify_all();
        }
    }

    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<std::thread> threads_;
    std::mutex lock_;
    std::condition_variable waiting_, finished_;
    std::deque<std::unique_ptr<Block>> blocks_;  // in the log's order
    std::deque<Block *> pending_;                // not yet taken by a worker
    bool stopping_ = false;
};

// Decoding threads: VEXO_THREADS when set (1 to 64), else one per processor, at most 8.
size_t threadCount()
{
    if (const char *text = std::getenv("VEXO_THREADS")) {
        const long n = std::strtol(text, nullptr, 10);
        if (n >= 1 && n <= 64)
            return static_cast<size_t>(n);
    }
    const unsigned processors = std::thread::hardware_concurrency();
    return processors == 0 ? 1 : std::min(processors, 8u);
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

    Network network(positional[0], LoadOptions{args.has("tolerant"), args.has("verbose")});
    FilterHandle filter;
    if (const auto names = args.value("signals"))
        filter = makeSignalFilter(network, splitList(*names, ','));
    Settings settings{network, filter.get(), format, writerOptions, args.has("strict"), {}};
    for (const auto &frame : network.frames()) {
        if (frame->triggered())
            settings.known.insert(keyOf(frame->identifier, frame->extended));
    }

    const size_t threads = threadCount();
    Pipeline pipeline(settings, threads);
    Tally tally;
    // Writes the oldest block's output; throws its failure after what came before it.
    const auto writeOldest = [&] {
        const std::unique_ptr<Block> block = pipeline.takeOldest();
        out.put(std::string_view(block->output.get(), block->outputSize));
        merge(tally, block->tally);
        if (block->failed) {
            out.flush();
            throw Failure(block->failure);
        }
    };
    constexpr size_t kBlockLines = 4096;
    std::vector<std::string> logs(positional.begin() + 1, positional.end());
    if (logs.empty())
        logs.push_back("-");
    writer->begin();
    for (const std::string &log : logs) {
        LogInput input(log);
        std::unique_ptr<Block> block;
        const auto handIn = [&] {
            if (block && block->count > 0)
                pipeline.submit(std::move(block));
            block.reset();
        };
        // A live log waiting for its writer: everything read so far goes out now.
        input.onIdle([&] {
            handIn();
            while (pipeline.inFlight() > 0)
                writeOldest();
            out.flush();
        });
        std::string_view line;
        while (input.next(line)) {
            if (!block) {
                block = std::make_unique<Block>();
                block->log = &log;
                block->firstLine = input.lineNumber();
            }
            block->lines.append(line);
            block->lines += '\n';
            if (++block->count == kBlockLines) {
                handIn();
                while (pipeline.inFlight() > 2 * threads)
                    writeOldest();
            }
        }
        handIn();
    }
    while (pipeline.inFlight() > 0)
        writeOldest();
    out.flush();
    report(tally, network.path());
    return 0;
}

}  // namespace vexo::cli
