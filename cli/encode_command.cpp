// "vexo encode DB FRAME SIGNAL=VALUE...": a frame built from physical values through
// Vexo_encodeSignal, Vexo_encodeNextComputation, Vexo_physicalToInternal and
// Vexo_encodeSignalInstance, printed as a candump log line. A value the signal cannot
// carry is refused, never clamped.
#include <algorithm>
#include <cstdio>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "failure.h"
#include "network.h"
#include "output.h"

namespace vexo::cli {

namespace {

struct Assignment {
    std::string name;
    std::string value;
    bool used = false;
};

// A number: decimal, with fraction or exponent, or 0x hexadecimal; false for anything else.
bool parseNumber(const std::string &text, double &value)
{
    const char *begin = text.c_str(), *end = begin + text.size();
    const bool negative = *begin == '-';
    const char *digits = negative || *begin == '+' ? begin + 1 : begin;
    if (end - digits > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        uint64_t whole = 0;
        const auto r = std::from_chars(digits + 2, end, whole, 16);
        if (r.ec != std::errc() || r.ptr != end)
            return false;
        value = negative ? -static_cast<double>(whole) : static_cast<double>(whole);
        return true;
    }
    if (*begin == '+')
        ++begin;
    const auto r = std::from_chars(begin, end, value);
    return r.ec == std::errc() && r.ptr == end && !text.empty();
}

std::string numberText(double value)
{
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

class FrameBuilder {
public:
    FrameBuilder(const FrameInfo &frame, std::vector<Assignment> &assignments)
        : frame_(frame), assignments_(assignments), data_(frame.length, 0)
    {
    }

    const std::vector<uint8_t> &build()
    {
        for (const Layout &pdu : frame_.pdus)
            encodeLayout(pdu);
        for (const Assignment &a : assignments_) {
            if (!a.used)
                throw Failure("signal " + a.name + " is not sent in " + frame_.name
                              + " with the multiplexer values chosen");
        }
        return data_;
    }

private:
    Assignment *assignmentOf(const SignalInfo &signal)
    {
        for (Assignment &a : assignments_) {
            if (a.name == signal.name)
                return &a;
        }
        return nullptr;
    }

    // Whether a layout (or a part below it) holds one of the given signals.
    bool holdsAssigned(const Layout &layout)
    {
        for (const Placement &p : layout.signals) {
            if (assignmentOf(*p.signal) != nullptr)
                return true;
        }
        for (const auto *part : {&layout.staticPart, &layout.elsePart}) {
            if (*part && holdsAssigned(**part))
                return true;
        }
        for (const auto &[code, part] : layout.dynamicParts) {
            if (holdsAssigned(*part))
                return true;
        }
        return false;
    }

    void encodeLayout(const Layout &layout)
    {
        if (layout.cut || layout.segmented)
            throw Failure("frame " + frame_.name + " has multiplexed parts assembled from segments or nested "
                          "too deep; it cannot be encoded");
        for (const Placement &p : layout.signals)
            place(p);
        if (!layout.multiplexed)
            return;
        const uint32_t code = chooseSwitchCode(layout);
        if (layout.staticPart)
            encodeLayout(*layout.staticPart);
        const Layout *selected = layout.elsePart.get();
        for (const auto &[partCode, part] : layout.dynamicParts) {
            if (partCode == code)
                selected = part.get();
        }
        if (selected != nullptr)
            encodeLayout(*selected);
        // The switch field carries the code of the part encoded (its signal, if any,
        // lies on the same bits and was given that code).
        if (layout.switchPosition >= 0 && layout.switchLength > 0) {
            uint8_t bytes[8];
            const uint64_t value = code;
            std::memcpy(bytes, &value, sizeof bytes);
            Q3bit_insert(data_.data(), bytes, static_cast<uint32_t>(data_.size()),
                         static_cast<int32_t>(layout.switchPosition),
                         layout.switchBigEndian ? -static_cast<int32_t>(layout.switchLength)
                                                : static_cast<int32_t>(layout.switchLength));
        }
    }

    // The switch value: the switch signal's when it is given, else the one part that
    // holds the signals given, else the switch signal's initial value (or the default).
    uint32_t chooseSwitchCode(const Layout &layout)
    {
        const Layout *wanted = nullptr;
        uint32_t wantedCode = 0;
        for (const auto &[code, part] : layout.dynamicParts) {
            if (!holdsAssigned(*part))
                continue;
            if (wanted != nullptr)
                throw Failure("the signals given lie in different multiplexed parts of " + frame_.name + " ("
                              + switchName(layout) + " " + std::to_string(wantedCode) + " and "
                              + std::to_string(code) + ")");
            wanted = part.get(), wantedCode = code;
        }
        if (layout.switchSignal != nullptr) {
            Assignment *given = assignmentOf(*layout.switchSignal);
            const uint64_t raw = given != nullptr ? encodeGiven(*layout.switchSignal, *given)
                                                  : encodeInitial(*layout.switchSignal);
            const auto code = static_cast<uint32_t>(raw & maskOf(layout.switchLength));
            if (wanted != nullptr && code != wantedCode && given != nullptr)
                throw Failure("the signals given are sent when " + switchName(layout) + " is "
                              + std::to_string(wantedCode) + ", not " + given->value);
            if (wanted == nullptr)
                return code;
        }
        return wanted != nullptr ? wantedCode : layout.defaultSwitchCode;
    }

    static uint64_t maskOf(uint32_t bits) { return bits >= 64 ? ~0ull : (1ull << bits) - 1; }

    static std::string switchName(const Layout &layout)
    {
        return layout.switchSignal != nullptr ? layout.switchSignal->name : std::string("the multiplexer");
    }

    void place(const Placement &p)
    {
        const SignalInfo &s = *p.signal;
        Assignment *given = assignmentOf(s);
        if (s.isText()) {
            placeText(p, given != nullptr ? given->value : std::string());
            if (given != nullptr)
                given->used = true;
            return;
        }
        const uint64_t internal = given != nullptr ? encodeGiven(s, *given) : encodeInitial(s);
        const HRESULT hr = Vexo_encodeSignalInstance(p.instance, internal, data_.data(),
                                                     static_cast<uint32_t>(data_.size()));
        if (hr < 0 && !data_.empty())
            throw Failure("signal " + s.name + " cannot be written into " + frame_.name);
    }

    void placeText(const Placement &p, const std::string &text)
    {
        const SignalInfo &s = *p.signal;
        const size_t room = s.bitLength / 8;
        if (text.size() > room)
            throw Failure("text for signal " + s.name + " is " + std::to_string(text.size()) + " bytes long; it holds "
                          + std::to_string(room));
        std::vector<uint8_t> bytes(room + 1, 0);
        std::memcpy(bytes.data(), text.data(), text.size());
        const auto bits = static_cast<int32_t>(s.bitLength);
        Q3bit_insert(data_.data(), bytes.data(), static_cast<uint32_t>(data_.size()),
                     static_cast<int32_t>(p.bitPosition), p.bigEndian ? -bits : bits);
    }

    uint64_t encodeGiven(const SignalInfo &s, Assignment &given)
    {
        given.used = true;
        double value = 0;
        if (!parseNumber(given.value, value)) {
            // A value description names its raw value.
            for (const SignalInfo::ValueText &v : s.values) {
                if (v.text == given.value && v.low == v.high)
                    return static_cast<uint64_t>(static_cast<int64_t>(v.low));
            }
            std::string known;
            for (size_t i = 0; i < s.values.size() && i < 6; ++i)
                known += (i == 0 ? "" : ", ") + s.values[i].text;
            throw Failure("bad value for signal " + s.name + ": " + given.value + " is no number"
                          + (known.empty() ? std::string() : " nor one of its value descriptions (" + known
                                                               + (s.values.size() > 6 ? ", ...)" : ")")));
        }
        uint64_t internal = 0;
        const std::string problem = encodePhysical(s, value, internal);
        if (!problem.empty())
            throw Failure("bad value for signal " + s.name + ": " + given.value + " " + problem);
        // A value between two steps of the coding goes to the nearer one; say so.
        SignalValue back{};
        if (Vexo_internalToPhysical(s.node, internal & maskOf(s.bitLength), &back) >= 0
            && back.valueType == Q3_VALUETYPE_DOUBLE && back.value.f64 != value && !s.isFloat())
            std::fprintf(stderr, "vexo: note: %s = %s is sent as %s, the nearest value its coding holds\n",
                         s.name.c_str(), given.value.c_str(), numberText(back.value.f64).c_str());
        return internal;
    }

    // The initial value; raw 0 when the initial value cannot be encoded.
    uint64_t encodeInitial(const SignalInfo &s)
    {
        uint64_t internal = 0;
        return encodePhysical(s, s.initial, internal).empty() ? internal : 0;
    }

    // Empty on success, else why the value cannot be encoded.
    static std::string encodePhysical(const SignalInfo &s, double physical, uint64_t &internal)
    {
        if (s.coding == nullptr)
            return "cannot be encoded: the signal has no coding";
        SignalValue value{};
        value.valueType = Q3_VALUETYPE_DOUBLE;
        value.value.f64 = physical;
        if (s.hasRange() && Vexo_checkValueInMinMax(s.node, &value) != Q3_VALUEINRANGE)
            return "is out of range [" + numberText(s.minimum) + ", " + numberText(s.maximum) + "]";
        VexoEncodeState *state = nullptr;
        HRESULT hr = Vexo_encodeSignal(s.node, &value, &state);
        if (hr < 0)
            throw Failure("the encoder refused signal " + s.name);
        VexoNode *computation = nullptr;
        bool done = false;
        while (!done && Vexo_encodeNextComputation(state, &computation) == S_OK)
            done = Vexo_physicalToInternal(s.node, computation, &value, &internal) == S_OK;
        Vexo_destroyEncodeEnum(state);
        if (!done)
            return "cannot be represented by its coding (" + std::to_string(s.bitLength) + " bits"
                   + (s.rules.size() == 1 ? ", factor " + numberText(s.rules[0].scale) + ", offset "
                                                + numberText(s.rules[0].offset)
                                          : std::string())
                   + ")";
        return {};
    }

    const FrameInfo &frame_;
    std::vector<Assignment> &assignments_;
    std::vector<uint8_t> data_;
};

}  // namespace

int runEncode(int argc, char **argv)
{
    const Arguments args(argc, argv, 0,
                         {{"bus", 0, true}, {"time", 0, true}, {"tolerant", 0, false}, {"verbose", 'v', false}});
    const std::vector<std::string> &positional = args.positional();
    if (positional.size() < 2)
        throw UsageError("encode needs a database and a frame: vexo encode DB FRAME [SIGNAL=VALUE...]");
    std::vector<Assignment> assignments;
    for (size_t i = 2; i < positional.size(); ++i) {
        const size_t equals = positional[i].find('=');
        if (equals == std::string::npos || equals == 0)
            throw UsageError("expected SIGNAL=VALUE, got " + positional[i]);
        assignments.push_back({positional[i].substr(0, equals), positional[i].substr(equals + 1)});
    }
    const std::string bus = args.value("bus").value_or("can0");
    if (bus.empty() || bus.find_first_of(" \t()#") != std::string::npos)
        throw UsageError("not an interface name: " + bus);
    const std::string time = args.value("time").value_or("0.000000");
    double seconds = 0;
    if (!parseNumber(time, seconds) || seconds < 0 || time.find_first_not_of("0123456789.") != std::string::npos)
        throw UsageError("not a timestamp in seconds: " + time);

    Network network(positional[0], LoadOptions{args.has("tolerant"), args.has("verbose")});
    const std::vector<const FrameInfo *> frames = network.findFrames(positional[1]);
    if (frames.empty())
        throw Failure("unknown frame " + positional[1] + " (not in " + network.path() + ")");
    const FrameInfo &frame = *frames.front();
    if (!frame.triggered() || frame.masked)
        throw Failure("frame " + frame.name + " has no identifier of its own to send it with");
    const std::vector<const Placement *> placements = frame.placements();
    for (const Assignment &a : assignments) {
        const bool known = std::any_of(placements.begin(), placements.end(),
                                       [&](const Placement *p) { return p->signal->name == a.name; });
        if (!known)
            throw Failure("unknown signal " + a.name + " (not in frame " + frame.name + ")");
        if (std::count_if(assignments.begin(), assignments.end(), [&](const Assignment &b) { return b.name == a.name; }) > 1)
            throw UsageError("signal " + a.name + " is given twice");
    }

    FrameBuilder builder(frame, assignments);
    const std::vector<uint8_t> &data = builder.build();
    Output out(1, "standard output");
    out.put('(');
    out.put(time);
    out.put(") ");
    out.put(bus);
    out.put(' ');
    out.putHex(frame.identifier, frame.extended ? 8 : 3);
    if (frame.fd) {
        out.put("##");
        out.putHex(frame.bitRateSwitch ? 1 : 0, 1);
    } else {
        out.put('#');
    }
    for (const uint8_t byte : data)
        out.putHex(byte, 2);
    out.put('\n');
    out.flush();
    return 0;
}

}  // namespace vexo::cli
