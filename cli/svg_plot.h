// Drawing signal values over time as a self-contained SVG image: one panel per unit,
// axes with ticks, a legend and one colour per signal. Long series are thinned to the
// smallest and largest value per pixel column, so the file stays small whatever the
// log's length and every peak stays visible.
#pragma once

#include <string>
#include <vector>

namespace vexo::cli {

struct PlotSeries {
    std::string name;
    std::string unit;
    std::vector<double> times;   // seconds, ascending
    std::vector<double> values;  // same length as times
};

struct PlotSpec {
    std::string title;
    std::string timeLabel;  // the x axis title
    std::vector<PlotSeries> series;
};

// The SVG document.
std::string renderSvgPlot(const PlotSpec &spec);

// Tick positions for an axis over [low, high]: about `wanted` values at a step of 1, 2
// or 5 times a power of ten; `decimals` receives the digits after the point they need.
std::vector<double> axisTicks(double low, double high, int wanted, int &decimals);

}  // namespace vexo::cli
