// Formatting decoded frames. Names are quoted once when the database is read; numbers go
// through Output: JSON and CSV give the shortest text that reads back as the same double,
// the text format at most 15 significant digits (single-precision floats as floats).
#include "frame_writers.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "address_table.h"
#include "text.h"

namespace vexo::cli {

namespace {

// The timestamp of a line as a double; false when the line has none.
bool timeOf(const CanFrame &frame, double &t)
{
    if (frame.timestamp.empty() || std::isnan(frame.seconds))
        return false;
    t = frame.seconds;
    return true;
}

// The timestamp as putDouble prints the double read from it. A stamp of digits, a point
// and digits, with a whole part from 1 up and at most 15 significant digits, is that
// double's shortest form once its fraction loses its trailing zeros (no other decimal of
// at most 15 digits reads as the same double), and shorter written out than with an
// exponent: the text itself is the output. Other stamps go through the double.
bool putTime(Output &out, const CanFrame &frame)
{
    double t = 0;
    if (!timeOf(frame, t))
        return false;
    std::string_view text = frame.timestamp;
    // A stamp holds one point at most; candump writes six decimals.
    const size_t point = text.size() > 7 && text[text.size() - 7] == '.' ? text.size() - 7 : text.find('.');
    if (point != std::string_view::npos && point > 0 && text[0] >= '1' && text[0] <= '9') {
        while (text.back() == '0')
            text.remove_suffix(1);
        if (text.size() > point + 1 && text.size() - 1 <= 15) {
            out.putName(text);
            return true;
        }
    }
    out.putDouble(t);
    return true;
}

void putIdentifier(Output &out, const CanFrame &frame)
{
    out.putHex(frame.identifier, frame.extended ? 8 : 3);
}

// A value at a cursor of out's claimed room (at most Output::kNumberRoom bytes); JSON
// has no NaN or infinity and gets null for them.
inline char *writeValue(char *at, const SignalValue &value, bool json)
{
    switch (value.valueType) {
    case Q3_VALUETYPE_UINT64:
        return Output::writeUnsigned(at, value.value.u64);
    case Q3_VALUETYPE_INT64:
        return Output::writeSigned(at, value.value.i64);
    default:
        return Output::writeDouble(at, value.value.f64, json ? "null" : nullptr);
    }
}

void putValue(Output &out, const SignalValue &value, bool json)
{
    out.release(writeValue(out.claim(Output::kNumberRoom), value, json));
}

class TextWriter : public FrameWriter {
public:
    TextWriter(Output &out, const WriterOptions &options) : out_(out), options_(options) {}

    void write(const CanFrame &frame, const DecodedFrame &decoded) override
    {
        if (!frame.timestamp.empty()) {
            out_.put('(');
            out_.put(frame.timestamp);
            out_.put(") ");
        }
        out_.put(frame.bus);
        out_.put(' ');
        putIdentifier(out_, frame);
        out_.put(' ');
        out_.put(decoded.frame->name);
        out_.put('\n');
        if (options_.framesOnly)
            return;
        for (const SignalSample &s : decoded.signals) {
            out_.put("  ");
            out_.put(s.signal->name);
            out_.put(" = ");
            if (s.ascii()) {
                out_.putJsonString(s.asciiText());
            } else {
                const SignalValue value = s.value();
                if (value.valueType == Q3_VALUETYPE_DOUBLE && s.signal->isFloat() && s.signal->bitLength == 32
                    && s.signal->rules.size() == 1 && s.signal->rules[0].scale == 1 && s.signal->rules[0].offset == 0)
                    out_.putFloat(static_cast<float>(value.value.f64));
                else if (value.valueType == Q3_VALUETYPE_DOUBLE)
                    out_.putDoubleRounded(value.value.f64, 15);
                else
                    putValue(out_, value, false);
                if (!s.signal->unit.empty()) {
                    out_.put(' ');
                    out_.put(s.signal->unit);
                }
                if (s.text != nullptr) {
                    out_.put(' ');
                    out_.putJsonString(*s.text);
                }
            }
            if (options_.raw) {
                out_.put(" (raw ");
                out_.putUnsigned(s.raw());
                out_.put(')');
            }
            out_.put('\n');
        }
    }

private:
    Output &out_;
    WriterOptions options_;
};

class CsvWriter : public FrameWriter {
public:
    CsvWriter(Output &out, const WriterOptions &options) : out_(out), options_(options) {}

    void begin() override
    {
        if (options_.framesOnly)
            out_.put("t,bus,id,frame\n");
        else
            out_.put(options_.raw ? "t,bus,id,frame,signal,value,unit,text,raw\n" : "t,bus,id,frame,signal,value,unit,text\n");
    }

    void write(const CanFrame &frame, const DecodedFrame &decoded) override
    {
        if (options_.framesOnly) {
            putFrameColumns(frame, decoded);
            out_.put('\n');
            return;
        }
        for (const SignalSample &s : decoded.signals) {
            putFrameColumns(frame, decoded);
            out_.put(',');
            out_.put(s.signal->csvName);
            out_.put(',');
            if (s.ascii())
                out_.putCsvField(s.asciiText());
            else
                putValue(out_, s.value(), false);
            out_.put(',');
            out_.put(s.signal->csvUnit);
            out_.put(',');
            if (s.text != nullptr)
                out_.putCsvField(*s.text);
            if (options_.raw) {
                out_.put(',');
                out_.putUnsigned(s.raw());
            }
            out_.put('\n');
        }
    }

private:
    void putFrameColumns(const CanFrame &frame, const DecodedFrame &decoded)
    {
        putTime(out_, frame);
        out_.put(',');
        out_.putCsvField(frame.bus);
        out_.put(",0x");
        putIdentifier(out_, frame);
        out_.put(',');
        out_.put(decoded.frame->csvName);
    }

    Output &out_;
    WriterOptions options_;
};

class JsonWriter : public FrameWriter {
public:
    JsonWriter(Output &out, const WriterOptions &options) : out_(out), options_(options) {}

    void write(const CanFrame &frame, const DecodedFrame &decoded) override
    {
        out_.put("{\"t\": ");
        if (!putTime(out_, frame))
            out_.put("null");
        out_.put(headOf(frame, *decoded.frame));
        if (options_.framesOnly) {
            out_.put("}\n");
            return;
        }
        bool first = true;
        // Names and numbers go through a cursor of our own, with one room check each.
        char *at = out_.claim(kMemberRoom);
        for (const SignalSample &s : decoded.signals) {
            const std::string_view member = memberStart(*s.signal, first);
            if (member.size() <= 32 && !s.ascii()) {
                if (!out_.fits(at, kMemberRoom)) {
                    out_.release(at);
                    at = out_.claim(kMemberRoom);
                }
                at = writeValue(Output::writeName(at, member), s.value(), true);
                continue;
            }
            out_.release(at);
            out_.put(member);
            if (s.ascii())
                out_.putJsonString(s.asciiText());
            else
                putValue(out_, s.value(), true);
            at = out_.claim(kMemberRoom);
        }
        out_.release(at);
        out_.put("}, \"text\": {");
        first = true;
        for (size_t i = 0; decoded.texts && i < decoded.signals.size(); ++i) {
            const SignalSample &s = decoded.signals[i];
            if (s.text == nullptr)
                continue;
            out_.put(memberStart(*s.signal, first));
            out_.putJsonString(*s.text);
        }
        out_.put('}');
        if (options_.raw) {
            out_.put(", \"raw\": {");
            first = true;
            for (const SignalSample &s : decoded.signals) {
                out_.put(memberStart(*s.signal, first));
                out_.putUnsigned(s.raw());
            }
            out_.put('}');
        }
        out_.put("}\n");
    }

private:
    static constexpr size_t kMemberRoom = 32 + Output::kNumberRoom;
    // A signal's name and colon, after a comma unless it is the first member.
    static std::string_view memberStart(const SignalInfo &signal, bool &first)
    {
        std::string_view member = signal.jsonMember;
        if (first)
            member.remove_prefix(2);
        first = false;
        return member;
    }

    // The members from "bus" to the opening of "signals", the same for every frame of one
    // description, identifier and bus: made once per description and made again when
    // the identifier (of a masked triggering) or the bus changes.
    struct Head {
        uint32_t key = 0;
        std::string bus, text;
    };
    std::string_view headOf(const CanFrame &frame, const FrameInfo &info)
    {
        Head &head = *heads_.find(&info, [this](const FrameInfo *) {
            ownHeads_.push_back(std::make_unique<Head>());
            return ownHeads_.back().get();
        });
        const uint32_t key = frame.identifier | (frame.extended ? 0x80000000u : 0u);
        if (!head.text.empty() && head.key == key && head.bus == frame.bus)
            return head.text;
        head.key = key;
        head.bus = frame.bus;
        head.text = ", \"bus\": " + jsonQuoted(frame.bus) + ", \"id\": " + std::to_string(frame.identifier)
                    + (frame.extended ? ", \"ext\": true" : ", \"ext\": false") + ", \"frame\": " + info.jsonName
                    + (options_.framesOnly ? "" : ", \"signals\": {");
        return head.text;
    }

    Output &out_;
    WriterOptions options_;
    AddressTable<FrameInfo, Head> heads_;
    std::vector<std::unique_ptr<Head>> ownHeads_;
};

}  // namespace

std::unique_ptr<FrameWriter> makeFrameWriter(const std::string &format, Output &out, const WriterOptions &options)
{
    if (format == "text")
        return std::make_unique<TextWriter>(out, options);
    if (format == "csv")
        return std::make_unique<CsvWriter>(out, options);
    if (format == "json")
        return std::make_unique<JsonWriter>(out, options);
    return nullptr;
}

}  // namespace vexo::cli
