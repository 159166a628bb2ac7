// The SVG plot writer. Coordinates are written with one decimal; texts are escaped for
// XML, so the document is well-formed whatever the signal names and units hold.
#include "svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace vexo::cli {

namespace {

constexpr double kPlotWidth = 730;
constexpr double kLeft = 80, kTop = 50, kPanelHeight = 240, kPanelGap = 56, kBottom = 30;
// Room right of the panels for the legend: its swatch and the longest name (about 7.2
// pixels a character at the 12-pixel font).
constexpr double kLegendSwatch = 42, kLegendCharacter = 7.2, kMinRight = 190;
constexpr const char *kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
                                    "#8c564b", "#e377c2", "#17becf", "#bcbd22", "#7f7f7f"};

std::string xml(const std::string &text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default:
            // Control characters are not allowed in XML 1.0.
            out += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
        }
    }
    return out;
}

std::string fixed(double value, int decimals)
{
    if (std::abs(value) < 0.5 * std::pow(10.0, -decimals))
        value = 0;  // never "-0.0"
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string coordinate(double value) { return fixed(value, 1); }

struct Range {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    void add(double v)
    {
        low = std::min(low, v);
        high = std::max(high, v);
    }
    bool empty() const { return !(low <= high); }
    // A range with room: a constant value or an empty range still spans something.
    void widen(double fraction)
    {
        if (empty()) {
            low = 0, high = 1;
            return;
        }
        double span = high - low;
        if (span == 0) {
            span = std::abs(low) > 0 ? std::abs(low) * 0.2 : 2;
            low -= span / 2, high += span / 2;
            return;
        }
        low -= span * fraction, high += span * fraction;
    }
};

// The points of a series in pixel columns: per column the first, lowest, highest and
// last value, in time order.
std::vector<std::pair<double, double>> thin(const PlotSeries &s, double t0, double t1, double width)
{
    std::vector<std::pair<double, double>> points;
    const size_t n = s.times.size();
    if (n <= static_cast<size_t>(width) * 4) {
        for (size_t i = 0; i < n; ++i) {
            if (std::isfinite(s.values[i]))
                points.emplace_back(s.times[i], s.values[i]);
        }
        return points;
    }
    const double scale = t1 > t0 ? width / (t1 - t0) : 0;
    size_t i = 0;
    while (i < n) {
        const long column = static_cast<long>((s.times[i] - t0) * scale);
        size_t first = n, last = n, low = n, high = n;
        for (; i < n && static_cast<long>((s.times[i] - t0) * scale) == column; ++i) {
            if (!std::isfinite(s.values[i]))
                continue;
            if (first == n)
                first = i;
            last = i;
            if (low == n || s.values[i] < s.values[low])
                low = i;
            if (high == n || s.values[i] > s.values[high])
                high = i;
        }
        if (first == n)
            continue;
        size_t picked[4] = {first, low, high, last};
        std::sort(picked, picked + 4);
        for (size_t k = 0; k < 4; ++k) {
            if (k == 0 || picked[k] != picked[k - 1])
                points.emplace_back(s.times[picked[k]], s.values[picked[k]]);
        }
    }
    return points;
}

}  // namespace

std::vector<double> axisTicks(double low, double high, int wanted, int &decimals)
{
    std::vector<double> ticks;
    decimals = 0;
    if (!(high > low) || !std::isfinite(low) || !std::isfinite(high) || wanted < 2)
        return ticks;
    const double rough = (high - low) / (wanted - 1);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        step = m * power;
        if (step >= rough)
            break;
    }
    decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
    const double first = std::ceil(low / step - 1e-9) * step;
    for (int k = 0; k < 1000; ++k) {
        const double tick = first + k * step;
        if (tick > high + step * 1e-9)
            break;
        ticks.push_back(std::abs(tick) < step * 1e-9 ? 0.0 : tick);
    }
    return ticks;
}

std::string renderSvgPlot(const PlotSpec &spec)
{
    // Panels: one per unit, in the order the units first appear.
    std::vector<std::string> units;
    for (const PlotSeries &s : spec.series) {
        if (std::find(units.begin(), units.end(), s.unit) == units.end())
            units.push_back(s.unit);
    }
    Range time;
    for (const PlotSeries &s : spec.series) {
        if (!s.times.empty()) {
            time.add(s.times.front());
            time.add(s.times.back());
        }
    }
    time.widen(0);
    size_t longest = 0;
    for (const PlotSeries &s : spec.series)
        longest = std::max(longest, s.name.size() + (s.times.empty() ? 12 : 0));
    const double plotWidth = kPlotWidth;
    const double width =
        std::ceil(kLeft + plotWidth + std::max(kMinRight, kLegendSwatch + 20 + kLegendCharacter * longest));
    const double height = kTop + units.size() * (kPanelHeight + kPanelGap) + kBottom;
    const auto x = [&](double t) { return kLeft + (t - time.low) / (time.high - time.low) * plotWidth; };

    std::string svg;
    svg += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + coordinate(width) + "\" height=\""
           + coordinate(height) + "\" viewBox=\"0 0 " + coordinate(width) + " " + coordinate(height)
           + "\" font-family=\"DejaVu Sans, Arial, Helvetica, sans-serif\" font-size=\"12\">\n";
    svg += "<title>" + xml(spec.title) + "</title>\n";
    svg += "<rect x=\"0\" y=\"0\" width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    svg += "<text x=\"" + coordinate(kLeft) + "\" y=\"28\" font-size=\"16\" font-weight=\"bold\">" + xml(spec.title)
           + "</text>\n";

    int timeDecimals = 0;
    const std::vector<double> timeTicks = axisTicks(time.low, time.high, 8, timeDecimals);
    size_t colour = 0;
    for (size_t panel = 0; panel < units.size(); ++panel) {
        const double top = kTop + panel * (kPanelHeight + kPanelGap);
        const double bottom = top + kPanelHeight;
        Range values;
        for (const PlotSeries &s : spec.series) {
            if (s.unit != units[panel])
                continue;
            for (const double v : s.values) {
                if (std::isfinite(v))
                    values.add(v);
            }
        }
        values.widen(0.05);
        const auto y = [&](double v) { return bottom - (v - values.low) / (values.high - values.low) * kPanelHeight; };
        const std::string clip = "panel" + std::to_string(panel);
        svg += "<clipPath id=\"" + clip + "\"><rect x=\"" + coordinate(kLeft) + "\" y=\"" + coordinate(top)
               + "\" width=\"" + coordinate(plotWidth) + "\" height=\"" + coordinate(kPanelHeight)
               + "\"/></clipPath>\n";
        svg += "<g>\n";
        // Grid and ticks.
        int valueDecimals = 0;
        for (const double v : axisTicks(values.low, values.high, 6, valueDecimals)) {
            const std::string py = coordinate(y(v));
            svg += "<line x1=\"" + coordinate(kLeft) + "\" y1=\"" + py + "\" x2=\"" + coordinate(kLeft + plotWidth)
                   + "\" y2=\"" + py + "\" stroke=\"#e4e4e4\"/>";
            svg += "<line x1=\"" + coordinate(kLeft - 5) + "\" y1=\"" + py + "\" x2=\"" + coordinate(kLeft)
                   + "\" y2=\"" + py + "\" stroke=\"#333333\"/>";
            svg += "<text x=\"" + coordinate(kLeft - 8) + "\" y=\"" + coordinate(y(v) + 4)
                   + "\" text-anchor=\"end\">" + fixed(v, valueDecimals) + "</text>\n";
        }
        for (const double t : timeTicks) {
            const std::string px = coordinate(x(t));
            svg += "<line x1=\"" + px + "\" y1=\"" + coordinate(top) + "\" x2=\"" + px + "\" y2=\""
                   + coordinate(bottom) + "\" stroke=\"#e4e4e4\"/>";
            svg += "<line x1=\"" + px + "\" y1=\"" + coordinate(bottom) + "\" x2=\"" + px + "\" y2=\""
                   + coordinate(bottom + 5) + "\" stroke=\"#333333\"/>";
            svg += "<text x=\"" + px + "\" y=\"" + coordinate(bottom + 18) + "\" text-anchor=\"middle\">"
                   + fixed(t, timeDecimals) + "</text>\n";
        }
        svg += "<rect x=\"" + coordinate(kLeft) + "\" y=\"" + coordinate(top) + "\" width=\"" + coordinate(plotWidth)
               + "\" height=\"" + coordinate(kPanelHeight) + "\" fill=\"none\" stroke=\"#333333\"/>\n";
        const std::string unitLabel = units[panel].empty() ? "value" : units[panel];
        svg += "<text transform=\"translate(" + coordinate(22) + "," + coordinate(top + kPanelHeight / 2)
               + ") rotate(-90)\" text-anchor=\"middle\" font-size=\"13\">" + xml(unitLabel) + "</text>\n";
        svg += "<text x=\"" + coordinate(kLeft + plotWidth / 2) + "\" y=\"" + coordinate(bottom + 36)
               + "\" text-anchor=\"middle\" font-size=\"13\">" + xml(spec.timeLabel) + "</text>\n";
        // The series and their legend.
        double legendY = top + 14;
        for (const PlotSeries &s : spec.series) {
            if (s.unit != units[panel])
                continue;
            const char *c = kColours[colour++ % (sizeof kColours / sizeof kColours[0])];
            std::string points;
            for (const auto &[t, v] : thin(s, time.low, time.high, plotWidth)) {
                points += coordinate(x(t));
                points += ',';
                points += coordinate(y(v));
                points += ' ';
            }
            if (!points.empty()) {
                points.pop_back();
                svg += "<polyline clip-path=\"url(#" + clip + ")\" fill=\"none\" stroke=\"" + c
                       + "\" stroke-width=\"1.5\" stroke-linejoin=\"round\" points=\"" + points + "\"/>\n";
            }
            const double lx = kLeft + plotWidth + 14;
            svg += "<line x1=\"" + coordinate(lx) + "\" y1=\"" + coordinate(legendY - 4) + "\" x2=\""
                   + coordinate(lx + 22) + "\" y2=\"" + coordinate(legendY - 4) + "\" stroke=\"" + c
                   + "\" stroke-width=\"3\"/>";
            svg += "<text x=\"" + coordinate(lx + 28) + "\" y=\"" + coordinate(legendY) + "\">" + xml(s.name)
                   + (s.times.empty() ? " (no values)" : "") + "</text>\n";
            legendY += 18;
        }
        svg += "</g>\n";
    }
    svg += "</svg>\n";
    return svg;
}

}  // namespace vexo::cli
