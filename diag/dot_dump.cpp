// The Graphviz DOT dump: a walk over everything reachable from a database's collections
// node that writes each element once as a record node and each link as a coloured edge.
// The walk keeps its own stack instead of recursing, so long chains of references or
// deeply nested groups cannot exhaust the machine stack.
#include "vexo/diag.h"
#include "dot_dump.h"

#include <algorithm>
#include <cinttypes>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "api_guard.h"
#include "database.h"
#include "enumerator.h"
#include "string_table.h"
#include "text.h"

namespace vexo::diag {

using core::NodeList;
using core::ObjectBase;

namespace {

bool isHighSurrogate(uint32_t c) { return c >= 0xD800 && c < 0xDC00; }
bool isLowSurrogate(uint32_t c) { return c >= 0xDC00 && c < 0xE000; }

}  // namespace

void appendLabelText(std::string &out, const VexoChar *text, size_t maxUnits)
{
    if (text == nullptr)
        return;
    size_t units = 0;
    for (size_t i = 0; text[i] != 0; ++i) {
        uint32_t c = text[i];
        size_t width = 1;
        char escaped = 0;
        switch (c) {
        case '<': case '>': case '|': case '{': case '}': case '\\': case '"':
            escaped = static_cast<char>(c);
            break;
        case '\n':
            escaped = 'n';
            break;
        default:
            if (c < 0x20) {
                c = ' ';
            } else if (isHighSurrogate(c) && isLowSurrogate(text[i + 1])) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
                width = 2;
            } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
                c = 0xFFFD;
            }
            break;
        }
        if (escaped != 0)
            width = 2;
        if (units + width > maxUnits)
            return;
        units += width;
        if (escaped != 0) {
            out += '\\';
            out += escaped;
            continue;
        }
        core::appendUtf8(out, c);
        if (width == 2)
            ++i;
    }
}

namespace {

// Edge colours; kColourNames keeps the same order.
enum class Colour : uint8_t { Black, Red, Orange, Yellow, Brown, Green, Blue, Cyan, Gray };
const char *const kColourNames[] = {"black", "red", "orange", "yellow", "brown", "green", "blue", "cyan", "gray"};

const char *colourName(Colour colour) { return kColourNames[static_cast<unsigned>(colour)]; }

// One step in the walk of a node: follow a list, follow one link, or write the node's
// own statement, which comes after the generic links and before the class-specific ones.
struct Step {
    enum Kind : uint8_t { Statement, List, Single } kind;
    Colour colour;
    const NodeList *list;
    const void *target;
};

constexpr unsigned kMaxSteps = 8;

Step listStep(const NodeList &list, Colour colour) { return {Step::List, colour, &list, nullptr}; }
Step singleStep(const void *target, Colour colour) { return {Step::Single, colour, nullptr, target}; }

// The steps of a node in walk order. ORDER NODE_CLASS
unsigned stepsOf(const ObjectBase *node, Step (&steps)[kMaxSteps])
{
    unsigned n = 0;
    if (auto *group = core::nodeAs<core::ElementGroup>(node))
        steps[n++] = listStep(group->children, Colour::Cyan);
    if (auto *referrer = core::nodeAs<core::ElementReference>(node))
        steps[n++] = singleStep(referrer->reference, Colour::Blue);
    steps[n++] = {Step::Statement, Colour::Black, nullptr, nullptr};
    if (auto *signal = core::nodeExactly<core::Signal>(node)) {
        steps[n++] = listStep(signal->signalInstances, Colour::Black);
    } else if (auto *coding = core::nodeExactly<core::Coding>(node)) {
        steps[n++] = listStep(coding->internalToPhysicalCompus, Colour::Yellow);
        steps[n++] = listStep(coding->physicalToInternalCompus, Colour::Orange);
    } else if (auto *channel = core::nodeExactly<core::Channel>(node)) {
        steps[n++] = listStep(channel->frameTriggerings, Colour::Black);
        steps[n++] = listStep(channel->PDUTriggerings, Colour::Black);
        steps[n++] = listStep(channel->PDUInstances, Colour::Brown);
    } else if (auto *frame = core::nodeExactly<core::Frame>(node)) {
        steps[n++] = listStep(frame->PDUInstances, Colour::Brown);
        steps[n++] = listStep(frame->frameTriggerings, Colour::Orange);
    } else if (auto *signalPdu = core::nodeExactly<core::SignalPDU>(node)) {
        steps[n++] = listStep(signalPdu->triggerings, Colour::Orange);
        steps[n++] = listStep(signalPdu->parents, Colour::Red);
        steps[n++] = listStep(signalPdu->signalInstances, Colour::Black);
    } else if (auto *muxPdu = core::nodeExactly<core::MultiplexedPDU>(node)) {
        steps[n++] = listStep(muxPdu->triggerings, Colour::Orange);
        steps[n++] = listStep(muxPdu->parents, Colour::Red);
        steps[n++] = listStep(muxPdu->dynamicParts, Colour::Black);
        steps[n++] = singleStep(muxPdu->staticPart, Colour::Black);
        steps[n++] = singleStep(muxPdu->elsePart, Colour::Black);
    } else if (auto *triggering = core::nodeAs<core::FrameTriggering>(node)) {
        steps[n++] = singleStep(triggering->sourceEcu, Colour::Black);
    }
    return n;
}

// What label a class gets; null for classes without a node statement (the database
// object, segments, value ranges). ORDER NODE_CLASS
const char *kindOf(uint32_t code)
{
    switch (code) {
    case core::DatabaseCollections::kCode: return "database";
    case core::ElementGroup::kCode: return "group";
    case core::ElementReference::kCode: return "ref";
    case core::Cluster::kCode: return "cluster";
    case core::IdentifierBasedTriggering::kCode: return "idtrig";
    case core::AbsolutelyScheduledTriggering::kCode: return "abstrig";
    case core::MaskedIdentifierTriggering::kCode: return "maskidtrig";
    case core::PDUTriggering::kCode: return "pdutrig";
    case core::SignalInstance::kCode: return "siginst";
    case core::Signal::kCode: return "sig";
    case core::Coding::kCode: return "coding";
    case core::PDUInstance::kCode: return "pduinst";
    case core::MultiplexedPart::kCode: return "muxpart";
    case core::Channel::kCode: return "channel";
    case core::Frame::kCode: return "frame";
    case core::UnitSpec::kCode: return "unitspec";
    case core::IdentityComputation::kCode: return "identcompu";
    case core::MappedTextComputation::kCode: return "mtcompu";
    case core::MappedValueComputation::kCode: return "mvcompu";
    case core::LinearComputation::kCode: return "linearcompu";
    case core::SignalPDU::kCode: return "signalpdu";
    case core::MultiplexedPDU::kCode: return "muxpdu";
    case core::EventControlledTiming::kCode: return "evctiming";
    case core::CyclicTiming::kCode: return "cyctiming";
    default: return nullptr;
    }
}

__attribute__((format(printf, 2, 3))) void appendFormat(std::string &out, const char *format, ...)
{
    char buffer[96];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0)
        out.append(buffer, std::min(static_cast<size_t>(n), sizeof buffer - 1));
}

// "%f" without the locale: six decimals and a point, whatever LC_NUMERIC says.
void appendFixed(std::string &out, double value)
{
    char buffer[400];  // the largest double has 309 integer digits
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    if (result.ec == std::errc())
        out.append(buffer, result.ptr);
}

const char *byteOrderLetter(uint32_t byteOrder) { return byteOrder == 0 ? "i" : "m"; }

// Labels show 32-bit fields with "%i", so 0xFFFFFFFF reads -1.
int asInt(uint32_t value) { return static_cast<int32_t>(value); }

void appendRanges(std::string &out, const core::Computation &computation)
{
    model::forEachRecord<core::ValueRange>(computation.ranges, [&](const core::ValueRange *range) {
        appendFormat(out, "\\nflags: %i\\nlower: ", asInt(range->flags));
        appendFixed(out, range->lowerLimit);
        out += "\\nupper:";
        appendFixed(out, range->upperLimit);
        return true;
    });
}

struct FileCloser {
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A node on the walk's stack: where its steps stand, and the link that led to it,
// whose edge is written once the node and everything below it are written.
struct Visit {
    const ObjectBase *node;
    const ObjectBase *from;  // null for the collections node
    Colour colour;
    uint8_t step;
    bool inList;
    core::ListCursor cursor;  // over the list of the current step
};

class DotDump {
public:
    DotDump(core::Vexo &database, uint32_t language, uint32_t fallback, std::FILE *file)
        : database_(database), language_(language), fallback_(fallback), file_(file)
    {
    }

    // Writes the whole graph; false when a write failed.
    bool run(const core::DatabaseCollections *collections)
    {
        out_ += "digraph sample { node[shape=record];\n";
        if (collections != nullptr)
            walk(collections);
        out_ += "}\n";
        flush();
        return !failed_;
    }

private:
    static constexpr size_t kFlushBytes = 1 << 16;

    void walk(const ObjectBase *root)
    {
        // The collections node goes into the set as well, so that an element linking back
        // to it cannot have it written a second time.
        enter(root, nullptr, Colour::Black);
        while (!stack_.empty()) {
            const ObjectBase *target = nullptr;
            Colour colour = Colour::Black;
            if (!nextTarget(stack_.back(), &target, &colour)) {
                const Visit done = stack_.back();
                stack_.pop_back();
                if (done.from != nullptr)
                    writeEdge(done.from, done.node, done.colour);
                continue;
            }
            const ObjectBase *from = stack_.back().node;
            if (written_.count(target) == 0)
                enter(target, from, colour);
            else
                writeEdge(from, target, colour);
        }
    }

    // Starts a node: records it, writes its group and parent edges (those links are not
    // followed) and puts it on the stack for its other links.
    void enter(const ObjectBase *node, const ObjectBase *from, Colour colour)
    {
        written_.insert(node);
        if (auto *element = core::nodeAs<core::ElementId>(node); element != nullptr && element->group != nullptr)
            writeEdge(node, element->group, Colour::Gray);
        if (auto *child = core::nodeAs<core::ElementChild>(node); child != nullptr && child->parent != nullptr)
            writeEdge(node, child->parent, Colour::Green);
        stack_.push_back({node, from, colour, 0, false, {}});
    }

    // The next node a visit links to, writing the node's statement on the way when its
    // turn comes; false when the visit has no links left.
    bool nextTarget(Visit &visit, const ObjectBase **target, Colour *colour)
    {
        Step steps[kMaxSteps];
        const unsigned count = stepsOf(visit.node, steps);
        for (; visit.step < count; ++visit.step, visit.inList = false) {
            const Step &step = steps[visit.step];
            const void *found = nullptr;
            if (step.kind == Step::Statement) {
                writeStatement(visit.node);
                continue;
            }
            if (step.kind == Step::List) {
                found = nextEntry(visit, *step.list);
                if (found == nullptr)
                    continue;
            } else {
                // A null link writes nothing; neither does anything that is no node.
                found = step.target;
                if (found == nullptr || !core::isGenuineCode(core::codeOf(found)))
                    continue;
                ++visit.step;
            }
            *target = static_cast<const ObjectBase *>(found);
            *colour = step.colour;
            return true;
        }
        return false;
    }

    // The next genuine node of a list, or null at its end.
    static const void *nextEntry(Visit &visit, const NodeList &list)
    {
        if (!visit.inList) {
            visit.inList = true;
            core::cursorInit(&visit.cursor, &core::kSmallNodeLayout, &list);
        }
        void *entry = nullptr;
        while (core::cursorStep(visit.cursor, &entry)) {
            if (entry != nullptr && core::isGenuineCode(core::codeOf(entry)))
                return entry;
        }
        return nullptr;
    }

    void appendName(const void *node) { appendFormat(out_, "_%p", node); }

    void writeEdge(const void *from, const void *to, Colour colour)
    {
        appendName(from);
        out_ += " -> ";
        appendName(to);
        appendFormat(out_, " [color=%s];\n", colourName(colour));
        flushIfFull();
    }

    void appendDisplayId(const ObjectBase *node)
    {
        auto *element = core::nodeAs<core::ElementId>(node);
        if (element != nullptr && element->eid != nullptr)
            appendLabelText(out_, element->eid, kMaxIdentifierUnits);
        else
            appendFormat(out_, "%" PRIxPTR, reinterpret_cast<uintptr_t>(node));
    }

    void appendDisplayName(const core::UnitSpec &unit)
    {
        const VexoChar *text = nullptr;
        if (core::lookupSlot(database_.strings, unit.displayName, language_, fallback_, &text) == S_OK
            && text != nullptr)
            appendLabelText(out_, text, SIZE_MAX);
        else
            out_ += "(null)";
    }

    // ORDER NODE_CLASS
    void appendDetails(const ObjectBase *node)
    {
        const uint32_t code = core::codeOf(node);
        if (auto *cluster = core::nodeExactly<core::Cluster>(node)) {
            appendFormat(out_, ", type:%i", asInt(cluster->clusterType));
        } else if (auto *byId = core::nodeExactly<core::IdentifierBasedTriggering>(node)) {
            appendFormat(out_, "\\nidentifier: %i\\nflags: 0x%x", asInt(byId->identifier), byId->flags);
        } else if (auto *masked = core::nodeExactly<core::MaskedIdentifierTriggering>(node)) {
            appendFormat(out_, "\\nmask: %u\\ncode: %u\\nflags: 0x%x", masked->mask, masked->code, masked->flags);
        } else if (auto *sigInst = core::nodeExactly<core::SignalInstance>(node)) {
            appendFormat(out_, "\\nbyteorder: %s\\nbitpos: %i\\nupdatebitpos: %i", byteOrderLetter(sigInst->byteOrder),
                         asInt(sigInst->bitpos), asInt(sigInst->updateBitpos));
        } else if (auto *coding = core::nodeExactly<core::Coding>(node)) {
            appendFormat(out_, "\\nbitlen: %i", asInt(coding->bitlen));
        } else if (auto *pduInst = core::nodeExactly<core::PDUInstance>(node)) {
            appendFormat(out_, "\\nbyteorder: %s\\nbitpos: %i\\nupdatebitpos: %i", byteOrderLetter(pduInst->byteOrder),
                         asInt(pduInst->bitpos), asInt(pduInst->updateBitpos));
        } else if (auto *part = core::nodeExactly<core::MultiplexedPart>(node)) {
            appendFormat(out_, "\\nswitchcode: %i\\nsegments: ", asInt(part->switchCode));
            model::forEachRecord<core::Segment>(part->segments, [&](const core::Segment *segment) {
                appendFormat(out_, "%i %i %s, ", asInt(segment->bitpos), asInt(segment->bitlen),
                             byteOrderLetter(segment->byteOrder));
                return true;
            });
        } else if (auto *frame = core::nodeExactly<core::Frame>(node)) {
            appendFormat(out_, "\\nlength: %i", asInt(frame->length));
        } else if (auto *unit = core::nodeExactly<core::UnitSpec>(node)) {
            out_ += "\\ndisplayname: ";
            appendDisplayName(*unit);
        } else if (auto *linear = core::nodeExactly<core::LinearComputation>(node)) {
            appendRanges(out_, *linear);
            out_ += "\\nscale: ";
            appendFixed(out_, linear->scale);
            out_ += "\\noffset: ";
            appendFixed(out_, linear->offset);
        } else if (code == core::IdentityComputation::kCode || code == core::MappedTextComputation::kCode
                   || code == core::MappedValueComputation::kCode) {
            appendRanges(out_, *core::nodeAs<core::Computation>(node));
        } else if (auto *signalPdu = core::nodeExactly<core::SignalPDU>(node)) {
            appendFormat(out_, "\\nbitlen: %i", asInt(signalPdu->bitlen));
        } else if (auto *muxPdu = core::nodeExactly<core::MultiplexedPDU>(node)) {
            appendFormat(out_, "\\npos: %i:%i %s\\nbitlen: %i", asInt(muxPdu->switchPosition),
                         asInt(muxPdu->switchLength), byteOrderLetter(muxPdu->switchByteOrder), asInt(muxPdu->bitlen));
        }
    }

    void writeStatement(const ObjectBase *node)
    {
        const char *kind = kindOf(core::codeOf(node));
        if (kind == nullptr)
            return;
        appendName(node);
        out_ += " [label=\"";
        out_ += kind;
        out_ += ": ";
        appendDisplayId(node);
        out_ += " [";
        if (auto *detail = core::nodeAs<core::ElementDetail>(node))
            appendLabelText(out_, detail->shortname, SIZE_MAX);
        out_ += ']';
        appendDetails(node);
        out_ += "\"];\n";
        flushIfFull();
    }

    void flushIfFull()
    {
        if (out_.size() >= kFlushBytes)
            flush();
    }

    void flush()
    {
        if (!out_.empty() && std::fwrite(out_.data(), 1, out_.size(), file_) != out_.size())
            failed_ = true;
        out_.clear();
    }

    core::Vexo &database_;
    uint32_t language_;
    uint32_t fallback_;
    std::FILE *file_;
    bool failed_ = false;
    std::string out_;
    std::unordered_set<const void *> written_;
    std::vector<Visit> stack_;
};

}  // namespace

}  // namespace vexo::diag

VEXO_API HRESULT Vexo_dumpDot(VexoNode *handle, const VexoChar *path, uint32_t language, uint32_t fallbackLanguage)
{
    using namespace vexo;
    core::Vexo *database = core::databaseAs(handle);
    if (database == nullptr || path == nullptr)
        return E_INVALIDARG;
    return core::guarded([&]() -> HRESULT {
        diag::FilePtr file(std::fopen(core::narrowText(path).c_str(), "wb"));
        if (file == nullptr)
            return E_UNEXPECTED;
        core::DatabaseCollections *collections = nullptr;
        if (core::collectionsOf(database, &collections) != S_OK)
            collections = nullptr;
        diag::DotDump dump(*database, language & 0xFFFF, fallbackLanguage & 0xFFFF, file.get());
        const bool written = dump.run(collections);
        // Closing flushes the stream's own buffer, so a full disk may only show here.
        const bool closed = std::fclose(file.release()) == 0;
        return written && closed ? S_OK : E_UNEXPECTED;
    });
}
