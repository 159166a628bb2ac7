// "vexo dump DB": the database as a listing, frame by frame, with a tree for
// multiplexed frames (the signals always present, then those of each switch value).
#include <string>
#include <vector>

#include "arguments.h"
#include "commands.h"
#include "failure.h"
#include "network.h"
#include "output.h"

namespace vexo::cli {

namespace {

class Lister {
public:
    Lister(Network &network, Output &out) : network_(network), out_(out) {}

    void database()
    {
        size_t signals = 0;
        for (const auto &frame : network_.frames())
            signals += frame->placements().size();
        out_.put(network_.path());
        out_.put(": ");
        out_.putUnsigned(network_.frames().size());
        out_.put(" frames, ");
        out_.putUnsigned(signals);
        out_.put(" signals, ");
        out_.putUnsigned(listOf(Vexo_enumECUs, network_.database()).size());
        out_.put(" ECUs");
        for (VexoNode *channel : network_.channels()) {
            out_.put(", channel ");
            out_.put(network_.nameOf(channel));
        }
        out_.put('\n');
        for (const auto &frame : network_.frames())
            this->frame(*frame);
    }

private:
    void indent(int depth)
    {
        for (int i = 0; i < depth; ++i)
            out_.put("  ");
    }

    void number(double value) { out_.putDoubleRounded(value, 15); }

    void comment(const std::string &text, int depth)
    {
        if (text.empty())
            return;
        indent(depth);
        out_.put("# ");
        for (const char c : text) {
            if (c == '\n') {
                out_.put('\n');
                indent(depth);
                out_.put("# ");
            } else if (c != '\r') {
                out_.put(c);
            }
        }
        out_.put('\n');
    }

    void frame(const FrameInfo &f)
    {
        out_.put("\nframe ");
        out_.put(f.name);
        out_.put(':');
        if (f.triggered()) {
            out_.put(" id 0x");
            out_.putHex(f.identifier, f.extended ? 8 : 3);
            if (f.masked) {
                out_.put(" mask 0x");
                out_.putHex(f.mask, f.extended ? 8 : 3);
            }
            out_.put(f.extended ? " extended," : f.eitherForm ? " standard or extended," : ",");
        } else {
            out_.put(" not on a bus,");
        }
        out_.put(' ');
        out_.putUnsigned(f.length);
        out_.put(f.length == 1 ? " byte" : " bytes");
        if (f.fd)
            out_.put(f.bitRateSwitch ? ", CAN FD with bit rate switch" : ", CAN FD");
        if (!f.sender.empty()) {
            out_.put(", sender ");
            out_.put(f.sender);
        }
        if (f.cycleTime != 0) {
            out_.put(", cycle ");
            out_.putUnsigned(f.cycleTime);
            out_.put(" ms");
        }
        out_.put('\n');
        comment(f.description, 1);
        for (const Layout &pdu : f.pdus)
            layout(pdu, 1);
    }

    void layout(const Layout &l, int depth)
    {
        if (l.cut) {
            indent(depth);
            out_.put("(a part nested too deep or enclosing itself: not shown)\n");
            return;
        }
        for (const Placement &p : l.signals)
            signal(p, depth);
        if (!l.multiplexed)
            return;
        indent(depth);
        out_.put("multiplexer ");
        if (l.switchSignal != nullptr) {
            out_.put(l.switchSignal->name);
            out_.put(": ");
        }
        out_.put("bit ");
        out_.putSigned(l.switchPosition);
        out_.put(", length ");
        out_.putUnsigned(l.switchLength);
        out_.put(l.switchBigEndian ? ", big-endian" : ", little-endian");
        if (l.segmented)
            out_.put(", parts assembled from segments");
        out_.put('\n');
        if (l.staticPart) {
            indent(depth + 1);
            out_.put("always:\n");
            layout(*l.staticPart, depth + 2);
        }
        for (const auto &[code, part] : l.dynamicParts) {
            indent(depth + 1);
            out_.put(l.switchSignal != nullptr ? l.switchSignal->name : std::string("switch"));
            out_.put(" = ");
            out_.putUnsigned(code);
            out_.put(":\n");
            layout(*part, depth + 2);
        }
        if (l.elsePart) {
            indent(depth + 1);
            out_.put("any other value:\n");
            layout(*l.elsePart, depth + 2);
        }
    }

    void signal(const Placement &p, int depth)
    {
        const SignalInfo &s = *p.signal;
        indent(depth);
        out_.put("signal ");
        out_.put(s.name);
        out_.put(": bit ");
        out_.putUnsigned(p.bitPosition);
        out_.put(", length ");
        out_.putUnsigned(s.bitLength);
        out_.put(p.bigEndian ? ", big-endian, " : ", little-endian, ");
        out_.put(kind(s));
        if (s.rules.size() == 1) {
            out_.put(", factor ");
            number(s.rules[0].scale);
            out_.put(", offset ");
            number(s.rules[0].offset);
        } else {
            for (const LinearRule &r : s.rules) {
                out_.put(", raw ");
                number(r.low);
                out_.put("..");
                number(r.high);
                out_.put(": factor ");
                number(r.scale);
                out_.put(" offset ");
                number(r.offset);
            }
        }
        if (s.hasRange()) {
            out_.put(", range [");
            number(s.minimum);
            out_.put(", ");
            number(s.maximum);
            out_.put(']');
        }
        if (!s.unit.empty()) {
            out_.put(", unit ");
            out_.putJsonString(s.unit);
        }
        if (s.initial != 0) {
            out_.put(", initial ");
            number(s.initial);
        }
        const std::vector<std::string> receivers = network_.receiversOf(s);
        for (size_t i = 0; i < receivers.size(); ++i) {
            out_.put(i == 0 ? ", receivers " : " ");
            out_.put(receivers[i]);
        }
        out_.put('\n');
        comment(s.description, depth + 1);
        if (!s.values.empty()) {
            indent(depth + 1);
            out_.put("values:");
            for (const SignalInfo::ValueText &v : s.values) {
                out_.put(' ');
                number(v.low);
                if (v.high != v.low) {
                    out_.put("..");
                    number(v.high);
                }
                out_.put(' ');
                out_.putJsonString(v.text);
            }
            out_.put('\n');
        }
    }

    static const char *kind(const SignalInfo &s)
    {
        switch (s.encoding & Q3_ENCODING_TYPEMASK) {
        case Q3_ENCODING_DIRECT:
            return (s.encoding & Q3_ENCODING_SIGNED) != 0 ? "sign and magnitude" : "unsigned";
        case Q3_ENCODING_1COMPL: return "signed (one's complement)";
        case Q3_ENCODING_2COMPL: return "signed";
        case Q3_ENCODING_IEEE: return s.bitLength == 64 ? "double" : "float";
        case Q3_ENCODING_UNPACKED_BCD:
        case Q3_ENCODING_PACKED_BCD: return (s.encoding & Q3_ENCODING_SIGNED) != 0 ? "signed BCD" : "BCD";
        case Q3_ENCODING_ASCII: return "text";
        default: return s.coding == nullptr ? "no coding" : "unknown coding";
        }
    }

    Network &network_;
    Output &out_;
};

}  // namespace

int runDump(int argc, char **argv)
{
    const Arguments args(argc, argv, 0, {{"tolerant", 0, false}, {"verbose", 'v', false}});
    if (args.positional().size() != 1)
        throw UsageError(args.positional().empty() ? "dump needs a database: vexo dump DB"
                                                   : "dump takes one database");
    Network network(args.positional()[0], LoadOptions{args.has("tolerant"), args.has("verbose")});
    Output out(1, "standard output");
    Lister(network, out).database();
    out.flush();
    return 0;
}

}  // namespace vexo::cli
