// Loading a database file and reading its frames, layouts and signals through the
// public C interface (enumerators and accessors), once, into the tool's records.
#include "network.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "failure.h"
#include "text.h"

namespace vexo::cli {

namespace {

// Multiplexed PDUs nest at most this deep (as deep as the decoder goes).
constexpr size_t kMaxNesting = 64;

struct ImportContext {
    std::string path;
    bool verbose = false;
    std::string error;
};

int32_t onImportMessage(void *context, const VexoMessage *message)
{
    auto &import = *static_cast<ImportContext *>(context);
    const std::string text = utf8(message->text);
    if (message->second == VEXO_MESSAGE_ERROR) {
        import.error = text;
    } else if (import.verbose) {
        const char *kind = message->second == VEXO_MESSAGE_WARNING ? "warning" : "note";
        if (message->first > 0)
            std::fprintf(stderr, "vexo: %s:%d: %s: %s\n", import.path.c_str(), message->first, kind, text.c_str());
        else
            std::fprintf(stderr, "vexo: %s: %s: %s\n", import.path.c_str(), kind, text.c_str());
    }
    return 0;
}

// "DBC-Import: (3, 9): 'x' expected ..." becomes "PATH:3:9: 'x' expected ...", the
// form editors jump to; other messages get the path in front.
std::string readerMessage(const std::string &path, const std::string &message)
{
    for (const char *prefix : {"DBC-Import: (", "LDF-Import: ("}) {
        const size_t length = std::strlen(prefix);
        if (message.compare(0, length, prefix) != 0)
            continue;
        const char *p = message.c_str() + length;
        const char *end = message.c_str() + message.size();
        unsigned line = 0, column = 0;
        auto r = std::from_chars(p, end, line);
        if (r.ec != std::errc() || std::strncmp(r.ptr, ", ", 2) != 0)
            break;
        r = std::from_chars(r.ptr + 2, end, column);
        if (r.ec != std::errc() || std::strncmp(r.ptr, "): ", 3) != 0)
            break;
        return path + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + std::string(r.ptr + 3);
    }
    if (message.find(path) != std::string::npos)
        return message;
    return path + ": " + message;
}

// The import filter: the format from the file's extension (so that a broken file gets
// the reader's own message instead of "no DBC or LDF file"), the content otherwise.
std::u16string importFilter(const std::string &path, bool tolerant)
{
    std::string extension;
    const size_t dot = path.find_last_of("./");
    if (dot != std::string::npos && path[dot] == '.')
        extension = path.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    std::string filter = extension == "dbc" ? "DBC" : extension == "ldf" ? "LDF" : "";
    if (tolerant)
        filter += filter.empty() ? "tolerant" : " tolerant";
    return utf16(filter);
}

class Enumeration {
public:
    Enumeration(HRESULT (*aim)(VexoNode *, VexoEnumerator **), VexoNode *owner)
    {
        if (owner == nullptr || aim(owner, &enumerator_) != S_OK) {
            Vexo_enumeratorDestroy(enumerator_);
            enumerator_ = nullptr;
        }
    }
    ~Enumeration() { Vexo_enumeratorDestroy(enumerator_); }
    Enumeration(const Enumeration &) = delete;
    Enumeration &operator=(const Enumeration &) = delete;

    bool next(VexoNode *&node)
    {
        if (enumerator_ == nullptr)
            return false;
        uint32_t fetched = 0;
        return Vexo_enumeratorNext(enumerator_, 1, &node, &fetched) == S_OK && fetched == 1;
    }

private:
    VexoEnumerator *enumerator_ = nullptr;
};

bool isType(const VexoNode *node, int32_t type) { return Vexo_getNodeType(node) == type; }

VexoNode *referenceOf(const VexoNode *node)
{
    VexoNode *reference = nullptr;
    return Vexo_getReference(node, &reference) == S_OK ? reference : nullptr;
}

uint32_t valueOf(HRESULT (*get)(const VexoNode *, uint32_t *), const VexoNode *node)
{
    uint32_t value = 0;
    get(node, &value);
    return value;
}

double realOf(HRESULT (*get)(const VexoNode *, double *), const VexoNode *node)
{
    double value = 0;
    get(node, &value);
    return value;
}

}  // namespace

std::vector<VexoNode *> listOf(HRESULT (*aim)(VexoNode *, VexoEnumerator **), VexoNode *owner)
{
    std::vector<VexoNode *> nodes;
    Enumeration list(aim, owner);
    VexoNode *node = nullptr;
    while (list.next(node))
        nodes.push_back(node);
    return nodes;
}

bool SignalInfo::isSigned() const
{
    const uint32_t type = encoding & Q3_ENCODING_TYPEMASK;
    return type == Q3_ENCODING_1COMPL || type == Q3_ENCODING_2COMPL || type == Q3_ENCODING_IEEE
           || (encoding & Q3_ENCODING_SIGNED) != 0;
}

namespace {

void collectPlacements(const Layout &layout, std::vector<const Placement *> &all)
{
    for (const Placement &p : layout.signals)
        all.push_back(&p);
    if (layout.staticPart)
        collectPlacements(*layout.staticPart, all);
    for (const auto &[code, part] : layout.dynamicParts)
        collectPlacements(*part, all);
    if (layout.elsePart)
        collectPlacements(*layout.elsePart, all);
}

}  // namespace

std::vector<const Placement *> FrameInfo::placements() const
{
    std::vector<const Placement *> all;
    for (const Layout &pdu : pdus)
        collectPlacements(pdu, all);
    return all;
}

Network::Network(const std::string &path, const LoadOptions &options) : path_(path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw Failure("cannot open database " + path + ": " + std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        throw Failure("cannot open database " + path + ": it is a directory");
    if (std::FILE *probe = std::fopen(path.c_str(), "rb"))
        std::fclose(probe);
    else
        throw Failure("cannot open database " + path + ": " + std::strerror(errno));

    if (Vexo_create(nullptr, &db_) != S_OK)
        throw Failure("out of memory");
    ImportContext context{path, options.verbose, {}};
    const std::u16string widePath = utf16(path);
    const std::u16string filter = importFilter(path, options.tolerant);
    const HRESULT hr = Vexo_importFile(db_, nullptr, widePath.c_str(), filter.c_str(), &context, onImportMessage);
    if (hr != S_OK) {
        Vexo_destroy(db_);
        db_ = nullptr;
        if (context.error.empty()) {
            char code[16];
            std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
            throw Failure(path + ": import failed (" + code + ")");
        }
        throw Failure(readerMessage(path, context.error));
    }
    collectFrames();
}

Network::~Network()
{
    if (db_ != nullptr)
        Vexo_destroy(db_);
}

std::string Network::nameOf(const VexoNode *node) const
{
    const VexoChar *text = nullptr;
    if (node == nullptr || Vexo_getShortName(db_, node, &text) != S_OK)
        return {};
    return utf8(text);
}

void Network::collectFrames()
{
    for (VexoNode *node : listOf(Vexo_enumIdentElements, db_)) {
        if (isType(node, Q3_NODETYPE_Channel))
            channels_.push_back(node);
    }
    std::unordered_map<const VexoNode *, bool> placed;
    for (VexoNode *channel : channels_) {
        for (VexoNode *triggering : listOf(Vexo_enumFrameTriggerings, channel)) {
            if (!isType(triggering, Q3_NODETYPE_IdentifierBasedTriggering)
                && !isType(triggering, Q3_NODETYPE_MaskedIdentifierTriggering))
                continue;
            VexoNode *frame = nullptr;
            if (Vexo_getFrame(triggering, &frame) != S_OK || frame == nullptr)
                continue;
            placed[frame] = true;
            frames_.push_back(describeFrame(triggering, frame, channel));
            byTriggering_[triggering] = frames_.back().get();
        }
    }
    for (VexoNode *frame : listOf(Vexo_enumFrames, db_)) {
        if (!placed.count(frame))
            frames_.push_back(describeFrame(nullptr, frame, nullptr));
    }
}

std::unique_ptr<FrameInfo> Network::describeFrame(VexoNode *triggering, VexoNode *frame, VexoNode *channel)
{
    auto info = std::make_unique<FrameInfo>();
    info->triggering = triggering;
    info->frame = frame;
    info->channel = channel;
    info->name = nameOf(frame);
    info->jsonName = jsonQuoted(info->name);
    info->csvName = csvField(info->name);
    const VexoChar *description = nullptr;
    if (Vexo_getDescription(db_, frame, 0, 0, &description) == S_OK)
        info->description = utf8(description);
    info->length = valueOf(Vexo_getLength, frame);
    if (triggering != nullptr) {
        const uint32_t flags = valueOf(Vexo_getFlags, triggering);
        info->extended = (flags & Q3_FLAGMASK_CAN_FRAMETYPE) == Q3_FLAG_CANEXTENDED;
        info->eitherForm = (flags & Q3_FLAGMASK_CAN_FRAMETYPE) == Q3_FLAG_CANSTD_OR_EXT;
        info->fd = (flags & Q3_FLAG_CANFD_EXTDATALEN) != 0 || info->length > 8;
        info->bitRateSwitch = (flags & Q3_FLAG_CANFD_FASTDATA) != 0;
        if (isType(triggering, Q3_NODETYPE_MaskedIdentifierTriggering)) {
            info->masked = true;
            info->identifier = valueOf(Vexo_getIdentifierCode, triggering);
            info->mask = valueOf(Vexo_getIdentifierMask, triggering);
        } else {
            info->identifier = valueOf(Vexo_getIdentifier, triggering);
        }
        VexoNode *ecu = nullptr;
        if (Vexo_getSourceECU(triggering, &ecu) == S_OK && ecu != nullptr)
            info->sender = nameOf(ecu);
    }
    for (VexoNode *instance : listOf(Vexo_enumPDUInstances, frame)) {
        VexoNode *pdu = referenceOf(instance);
        if (pdu == nullptr || !Vexo_isDerivedFrom(pdu, Q3_CLASS_PDU))
            continue;
        Layout layout;
        std::vector<VexoNode *> path;
        describeLayout(layout, pdu, valueOf(Vexo_getBitPosition, instance), path);
        info->pdus.push_back(std::move(layout));
        // The cycle time sits under a PDU triggering of the frame's PDU.
        for (VexoNode *pduTriggering : listOf(Vexo_enumPDUTriggerings, pdu)) {
            for (VexoNode *timing : listOf(Vexo_enumChildren, pduTriggering)) {
                uint64_t cycle = 0;
                if (isType(timing, Q3_NODETYPE_CyclicTiming) && Vexo_getCycletime(timing, &cycle) == S_OK
                    && info->cycleTime == 0)
                    info->cycleTime = cycle;
            }
        }
    }
    return info;
}

void Network::describeLayout(Layout &layout, VexoNode *pdu, int64_t bitPosition, std::vector<VexoNode *> &path)
{
    layout.pdu = pdu;
    layout.name = nameOf(pdu);
    if (path.size() >= kMaxNesting || std::find(path.begin(), path.end(), pdu) != path.end()) {
        layout.cut = true;
        return;
    }
    path.push_back(pdu);
    if (isType(pdu, Q3_NODETYPE_SignalPDU)) {
        for (VexoNode *instance : listOf(Vexo_enumSignalInstances, pdu)) {
            VexoNode *signal = referenceOf(instance);
            if (signal == nullptr || !isType(signal, Q3_NODETYPE_Signal))
                continue;
            Placement p;
            p.instance = instance;
            p.signal = &signalOf(signal);
            p.bitPosition = valueOf(Vexo_getBitPosition, instance);
            p.bigEndian = valueOf(Vexo_getByteOrder, instance) == Q3_BYTEORDER_BIGENDIAN;
            layout.signals.push_back(p);
        }
    } else if (isType(pdu, Q3_NODETYPE_MultiplexedPDU)) {
        layout.multiplexed = true;
        layout.switchPosition = static_cast<int32_t>(valueOf(Vexo_getSwitchPosition, pdu)) + bitPosition;
        layout.switchLength = valueOf(Vexo_getSwitchLength, pdu);
        layout.switchBigEndian = valueOf(Vexo_getSwitchByteOrder, pdu) == Q3_BYTEORDER_BIGENDIAN;
        layout.defaultSwitchCode = valueOf(Vexo_getDefaultSwitchCode, pdu);
        const auto describePart = [&](VexoNode *part) {
            auto made = std::make_unique<Layout>();
            if (!listOf(Vexo_enumSegments, part).empty())
                layout.segmented = true;
            VexoNode *partPdu = referenceOf(part);
            if (partPdu != nullptr && Vexo_isDerivedFrom(partPdu, Q3_CLASS_PDU))
                describeLayout(*made, partPdu, 0, path);
            layout.segmented = layout.segmented || made->segmented;
            layout.cut = layout.cut || made->cut;
            made->name = nameOf(part).empty() ? made->name : nameOf(part);
            return made;
        };
        VexoNode *part = nullptr;
        if (Vexo_getStaticPart(pdu, &part) == S_OK && part != nullptr)
            layout.staticPart = describePart(part);
        for (VexoNode *dynamic : listOf(Vexo_enumDynamicParts, pdu))
            layout.dynamicParts.emplace_back(valueOf(Vexo_getSwitchCode, dynamic), describePart(dynamic));
        part = nullptr;
        if (Vexo_getElsePart(pdu, &part) == S_OK && part != nullptr)
            layout.elsePart = describePart(part);
        // The switch's own signal, when one lies exactly on the switch field.
        if (layout.staticPart) {
            for (const Placement &p : layout.staticPart->signals) {
                if (p.bitPosition == layout.switchPosition && p.signal->bitLength == layout.switchLength
                    && p.bigEndian == layout.switchBigEndian)
                    layout.switchSignal = p.signal;
            }
        }
    }
    path.pop_back();
}

const FrameInfo *Network::channelFrame(VexoNode *channel)
{
    std::unique_ptr<FrameInfo> &slot = channelFrames_[channel];
    if (!slot) {
        slot = std::make_unique<FrameInfo>();
        slot->channel = channel;
        slot->name = nameOf(channel);
        slot->jsonName = jsonQuoted(slot->name);
        slot->csvName = csvField(slot->name);
    }
    return slot.get();
}

const SignalInfo &Network::signalOf(VexoNode *signal)
{
    std::unique_ptr<SignalInfo> &slot = signals_[signal];
    if (slot)
        return *slot;
    slot = std::make_unique<SignalInfo>();
    SignalInfo &info = *slot;
    info.node = signal;
    info.name = nameOf(signal);
    info.jsonName = jsonQuoted(info.name);
    info.jsonMember = ", " + info.jsonName + ": ";
    info.csvName = csvField(info.name);
    const VexoChar *text = nullptr;
    if (Vexo_getDescription(db_, signal, 0, 0, &text) == S_OK)
        info.description = utf8(text);
    VexoNode *unit = nullptr;
    text = nullptr;
    if (Vexo_getUnit(signal, &unit) == S_OK && unit != nullptr && Vexo_getDisplayName(db_, unit, 0, 0, &text) == S_OK)
        info.unit = utf8(text);
    info.jsonUnit = jsonQuoted(info.unit);
    info.csvUnit = csvField(info.unit);
    info.flags = valueOf(Vexo_getFlags, signal);
    info.minimum = realOf(Vexo_getMinValue, signal);
    info.maximum = realOf(Vexo_getMaxValue, signal);
    info.initial = realOf(Vexo_getDefaultValue, signal);
    VexoNode *coding = referenceOf(signal);
    if (coding == nullptr || !isType(coding, Q3_NODETYPE_Coding))
        return info;
    info.coding = coding;
    info.bitLength = valueOf(Vexo_getBitLength, coding);
    info.encoding = valueOf(Vexo_getEncoding, coding);
    for (VexoNode *computation : listOf(Vexo_enumInternalToPhysicalComputations, coding)) {
        const std::vector<VexoNode *> ranges = listOf(Vexo_enumRanges, computation);
        double low = 0, high = 0;
        if (!ranges.empty()) {
            low = realOf(Vexo_getLowerLimit, ranges.front());
            high = realOf(Vexo_getUpperLimit, ranges.front());
        }
        if (isType(computation, Q3_NODETYPE_LinearComputation)) {
            info.rules.push_back({low, high, realOf(Vexo_getScale, computation), realOf(Vexo_getOffset, computation)});
        } else if (isType(computation, Q3_NODETYPE_MappedTextComputation)) {
            text = nullptr;
            Vexo_getTextValue(db_, computation, 0, 0, &text);
            for (VexoNode *range : ranges)
                info.values.push_back({realOf(Vexo_getLowerLimit, range), realOf(Vexo_getUpperLimit, range), utf8(text)});
        }
    }
    return info;
}

const std::string &Network::valueText(const VexoStringSlot *slot)
{
    const auto found = valueTexts_.find(slot);
    if (found != valueTexts_.end())
        return found->second;
    const VexoChar *text = nullptr;
    Vexo_stringLookup(db_, slot, 0, 0, &text);
    return valueTexts_.emplace(slot, utf8(text)).first->second;
}

std::vector<const FrameInfo *> Network::findFrames(std::string_view nameOrId) const
{
    std::vector<const FrameInfo *> found;
    for (const auto &frame : frames_) {
        if (frame->name == nameOrId)
            found.push_back(frame.get());
    }
    if (!found.empty() || nameOrId.empty())
        return found;
    // An identifier: 0x123 (hexadecimal) or 291.
    uint32_t id = 0;
    const bool hex = nameOrId.size() > 2 && nameOrId[0] == '0' && (nameOrId[1] == 'x' || nameOrId[1] == 'X');
    const std::string_view digits = hex ? nameOrId.substr(2) : nameOrId;
    const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), id, hex ? 16 : 10);
    if (r.ec != std::errc() || r.ptr != digits.data() + digits.size())
        return found;
    for (const auto &frame : frames_) {
        if (frame->triggered() && !frame->masked && frame->identifier == id)
            found.push_back(frame.get());
    }
    return found;
}

std::vector<const SignalInfo *> Network::findSignals(std::string_view name) const
{
    std::vector<const SignalInfo *> found;
    const auto add = [&](const SignalInfo *s) {
        if (std::find(found.begin(), found.end(), s) == found.end())
            found.push_back(s);
    };
    for (const auto &frame : frames_) {
        for (const Placement *p : frame->placements()) {
            if (p->signal->name == name)
                add(p->signal);
        }
    }
    const size_t dot = name.find('.');
    if (found.empty() && dot != std::string_view::npos) {
        for (const FrameInfo *frame : findFrames(name.substr(0, dot))) {
            for (const Placement *p : frame->placements()) {
                if (p->signal->name == name.substr(dot + 1))
                    add(p->signal);
            }
        }
    }
    return found;
}

std::vector<std::string> Network::receiversOf(const SignalInfo &signal)
{
    if (!receiversRead_) {
        receiversRead_ = true;
        for (VexoNode *ecu : listOf(Vexo_enumECUs, db_)) {
            const std::string name = nameOf(ecu);
            for (VexoNode *child : listOf(Vexo_enumChildren, ecu)) {
                if (isType(child, Q3_NODETYPE_ElementReference)) {
                    if (VexoNode *target = referenceOf(child))
                        receivers_[target].push_back(name);
                }
            }
        }
    }
    const auto found = receivers_.find(signal.node);
    return found != receivers_.end() ? found->second : std::vector<std::string>{};
}

}  // namespace vexo::cli
