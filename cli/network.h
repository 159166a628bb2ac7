// A database loaded for the tool: the file imported through Vexo_importFile, and the
// frames, their layouts and their signals read once through the public interface into
// plain records that the commands list, search and decode with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "vexo/vexo.h"

namespace vexo::cli {

// One linear rule of a coding: physical = scale * raw + offset for raw in [low, high].
struct LinearRule {
    double low, high, scale, offset;
};

struct SignalInfo {
    VexoNode *node = nullptr;
    VexoNode *coding = nullptr;
    std::string name;         // short name
    std::string jsonName;     // name as a JSON string literal
    std::string jsonMember;   // ", " jsonName ": ", the start of a JSON member after another
    std::string csvName;      // name as a CSV field
    std::string unit;
    std::string jsonUnit, csvUnit;
    std::string description;
    uint32_t bitLength = 0;
    uint32_t encoding = Q3_ENCODING_INVALID;
    uint32_t flags = 0;
    double minimum = 0, maximum = 0, initial = 0;
    std::vector<LinearRule> rules;
    // Value descriptions: (raw low, raw high, text) of the mapped text computations.
    struct ValueText {
        double low, high;
        std::string text;
    };
    std::vector<ValueText> values;

    bool isSigned() const;
    bool isFloat() const { return (encoding & Q3_ENCODING_TYPEMASK) == Q3_ENCODING_IEEE; }
    bool isText() const { return (encoding & Q3_ENCODING_TYPEMASK) == Q3_ENCODING_ASCII; }
    // Minimum and maximum are meaningful (the signal's flags carry Q3_FLAG_VALID).
    bool hasRange() const { return (flags & Q3_FLAG_VALID) != 0; }
};

// A signal instance as the frame places it.
struct Placement {
    VexoNode *instance = nullptr;
    const SignalInfo *signal = nullptr;
    uint32_t bitPosition = 0;
    bool bigEndian = false;
};

// A PDU as placed in a frame: a signal PDU's placements, or a multiplexed PDU's switch
// and parts. Parts are PDUs themselves (static, one per switch value, else).
struct Layout {
    VexoNode *pdu = nullptr;
    std::string name;
    std::vector<Placement> signals;
    bool multiplexed = false;
    int64_t switchPosition = 0;  // in frame bits (the PDU instance's position added)
    uint32_t switchLength = 0;
    bool switchBigEndian = false;
    uint32_t defaultSwitchCode = 0;
    const SignalInfo *switchSignal = nullptr;  // the signal placed exactly on the switch
    std::unique_ptr<Layout> staticPart, elsePart;
    std::vector<std::pair<uint32_t, std::unique_ptr<Layout>>> dynamicParts;
    bool segmented = false;  // a part is assembled from segments
    bool cut = false;        // a part nests too deep or loops back; it is left out
};

struct FrameInfo {
    VexoNode *triggering = nullptr;  // null for a frame that no channel places
    VexoNode *frame = nullptr;
    VexoNode *channel = nullptr;
    std::string name, jsonName, csvName;
    std::string description;
    bool masked = false;             // a masked-identifier triggering
    uint32_t identifier = 0, mask = 0;
    bool extended = false, fd = false, bitRateSwitch = false;
    bool eitherForm = false;         // matches standard and extended identifiers alike
    uint32_t length = 0;
    std::string sender;
    uint64_t cycleTime = 0;          // 0: none
    std::vector<Layout> pdus;        // one per PDU instance

    bool triggered() const { return triggering != nullptr; }
    // Every placement of the frame, whatever part it lies in.
    std::vector<const Placement *> placements() const;
};

struct LoadOptions {
    bool tolerant = false;  // the readers' tolerant mode (import filter word "tolerant")
    bool verbose = false;   // print the import's warnings and notes
};

class Network {
public:
    // Imports a DBC or LDF file; throws Failure with the reader's message.
    Network(const std::string &path, const LoadOptions &options);
    ~Network();
    Network(const Network &) = delete;
    Network &operator=(const Network &) = delete;

    VexoNode *database() const { return db_; }
    const std::string &path() const { return path_; }
    const std::vector<VexoNode *> &channels() const { return channels_; }
    const std::vector<std::unique_ptr<FrameInfo>> &frames() const { return frames_; }

    // The frame record of a frame triggering (null for an unknown one).
    const FrameInfo *frameOf(const VexoNode *triggering) const
    {
        const auto found = byTriggering_.find(triggering);
        return found != byTriggering_.end() ? found->second : nullptr;
    }
    // The record that stands for a channel's own PDU instances (decoded for every
    // frame on the channel), named after the channel; made on first use.
    const FrameInfo *channelFrame(VexoNode *channel);
    // The signal record of a signal node, made on first use.
    const SignalInfo &signalOf(VexoNode *signal);
    // The UTF-8 text of a value description slot, converted once.
    const std::string &valueText(const VexoStringSlot *slot);

    // Frames by name, or by identifier written as 0x123 / 291 (triggered frames only).
    std::vector<const FrameInfo *> findFrames(std::string_view nameOrId) const;
    // Signals by name, or "FRAME.SIGNAL" for one frame's signal; empty when none.
    std::vector<const SignalInfo *> findSignals(std::string_view name) const;
    // The names of the ECUs that receive a signal.
    std::vector<std::string> receiversOf(const SignalInfo &signal);
    // Short name of any element ("" when none).
    std::string nameOf(const VexoNode *node) const;

private:
    void collectFrames();
    std::unique_ptr<FrameInfo> describeFrame(VexoNode *triggering, VexoNode *frame, VexoNode *channel);
    void describeLayout(Layout &layout, VexoNode *pdu, int64_t bitPosition, std::vector<VexoNode *> &path);

    std::string path_;
    VexoNode *db_ = nullptr;
    std::vector<VexoNode *> channels_;
    std::vector<std::unique_ptr<FrameInfo>> frames_;
    std::unordered_map<const VexoNode *, const FrameInfo *> byTriggering_;
    std::unordered_map<const VexoNode *, std::unique_ptr<FrameInfo>> channelFrames_;
    std::unordered_map<const VexoNode *, std::unique_ptr<SignalInfo>> signals_;
    std::unordered_map<const VexoStringSlot *, std::string> valueTexts_;
    std::unordered_map<const VexoNode *, std::vector<std::string>> receivers_;
    bool receiversRead_ = false;
};

// The nodes of a list, through an enumerator aimed by one of the Vexo_enum... functions.
std::vector<VexoNode *> listOf(HRESULT (*aim)(VexoNode *, VexoEnumerator **), VexoNode *owner);

}  // namespace vexo::cli
