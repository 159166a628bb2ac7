// "vexo plot DB LOG SIGNAL... -o OUT.svg": decodes the chosen signals of a log and draws
// their physical values over time.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "failure.h"
#include "frame_decoder.h"
#include "log_input.h"
#include "network.h"
#include "signal_filter.h"
#include "svg_plot.h"

namespace vexo::cli {

namespace {

double numberOf(const SignalValue &value)
{
    switch (value.valueType) {
    case Q3_VALUETYPE_UINT64: return static_cast<double>(value.value.u64);
    case Q3_VALUETYPE_INT64: return static_cast<double>(value.value.i64);
    default: return value.value.f64;
    }
}

void writeFile(const std::string &path, const std::string &text)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        throw Failure("cannot write " + path + ": " + std::strerror(errno));
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int error = errno;
    if (std::fclose(file) != 0 || !written)
        throw Failure("cannot write " + path + ": " + std::strerror(written ? errno : error));
}

}  // namespace

int runPlot(int argc, char **argv)
{
    const Arguments args(argc, argv, 0,
                         {{"output", 'o', true}, {"title", 0, true}, {"tolerant", 0, false}, {"verbose", 'v', false}});
    const std::vector<std::string> &positional = args.positional();
    if (positional.size() < 3)
        throw UsageError("plot needs a database, a log and at least one signal: vexo plot DB LOG SIGNAL... -o OUT.svg");
    const auto output = args.value("output");
    if (!output || output->empty())
        throw UsageError("plot needs the SVG file to write: -o OUT.svg");

    Network network(positional[0], LoadOptions{args.has("tolerant"), args.has("verbose")});
    const std::vector<std::string> names(positional.begin() + 2, positional.end());
    const FilterHandle filter = makeSignalFilter(network, names);
    PlotSpec spec;
    spec.title = args.value("title").value_or(positional[1] == "-" ? std::string("standard input") : positional[1]);
    std::unordered_map<const SignalInfo *, size_t> seriesOf;
    for (const std::string &name : names) {
        const std::vector<const SignalInfo *> signals = network.findSignals(name);
        if (signals.front()->isText()) {
            std::fprintf(stderr, "vexo: warning: signal %s carries text; it is not plotted\n", name.c_str());
            continue;
        }
        for (const SignalInfo *signal : signals)
            seriesOf.emplace(signal, spec.series.size());
        spec.series.push_back({name, signals.front()->unit, {}, {}});
    }
    if (spec.series.empty())
        throw Failure("none of the signals given can be plotted");

    FrameDecoder decoder(network, filter.get());
    LogInput input(positional[1]);
    CanFrame frame;
    std::string_view line;
    bool timed = false;
    double start = 0;
    uint64_t frames = 0;
    while (input.next(line)) {
        if (parseCandumpLine(line, frame) != LineKind::Frame)
            continue;
        // Time runs from the log's first frame; a log whose first frame has no timestamp
        // (the screen format) is plotted over the frame count instead.
        const bool stamped = !frame.timestamp.empty() && !std::isnan(frame.seconds);
        const double stamp = stamped ? frame.seconds : 0;
        if (frames++ == 0) {
            timed = stamped;
            start = stamp;
        }
        if (timed && !stamped)
            continue;
        const double t = timed ? stamp - start : static_cast<double>(frames - 1);
        const size_t count = decoder.decode(frame);
        for (size_t i = 0; i < count; ++i) {
            for (const SignalSample &s : decoder.result(i).signals) {
                const auto found = seriesOf.find(s.signal);
                if (found == seriesOf.end() || s.ascii())
                    continue;
                PlotSeries &series = spec.series[found->second];
                series.times.push_back(t);
                series.values.push_back(numberOf(s.value()));
            }
        }
    }
    if (timed) {
        char text[64];
        std::snprintf(text, sizeof text, "time (s) from %.6f", start);
        spec.timeLabel = text;
    } else {
        spec.timeLabel = "frame number";
    }
    size_t empty = 0;
    for (const PlotSeries &s : spec.series)
        empty += s.times.empty() ? 1 : 0;
    if (empty == spec.series.size())
        std::fprintf(stderr, "vexo: warning: the log holds no value of the signals given\n");
    writeFile(*output, renderSvgPlot(spec));
    return 0;
}

}  // namespace vexo::cli
