// Node visitor: walks the model graph from a node, downwards (towards what a node holds)
// or upwards (towards what holds it), calling one virtual handler per node class.
// CVexoCMD turns walks into the queries the encoder runs while it holds its lock.
#pragma once

#include <cstdint>
#include <vector>

#include "node_classes.h"
#include "vexo/types.h"

namespace vexo::encode {

// What a handler (and a walk) answers.
enum WalkCode : int32_t {
    kWalkRefused = -1,  // the start node has no start rule
    kWalkFinished = 0,  // this node is done: do not descend, go on with its siblings
    kWalkDescend = 1,   // descend into this node
    kWalkStop = 2,      // stop the whole walk
};

enum class Direction : uint8_t { Up = 0, Down = 1 };

// Lists a walk can enter. The database-wide kinds read the default groups.
enum class ListKind : uint32_t {
    Clusters = 0,
    Ecus = 1,
    Pdus = 2,
    Frames = 3,
    Signals = 4,
    Codings = 5,
    IdentElements = 6,
    Children = 257,
    PduInstancesOrParents = 258,  // a frame's PDU instances downwards, a PDU's parents upwards
    SignalInstances = 259,
    FrameTriggerings = 260,
    PduTriggerings = 261,
    Ranges = 262,
    Segments = 263,
    DynamicParts = 264,
    InternalToPhysical = 265,
    PhysicalToInternal = 266,
    GroupChildren = 267,
};

// The walker. Its handlers do nothing and answer kWalkDescend; nodes of classes without a
// handler (groups, masked triggerings, units, records...) are not descended into.
//
// Level counts list depth: it grows by one for every list entered and for the static part
// of a multiplexed PDU, and stays when a single link is followed. A node already on the
// current path is not entered again and the walk goes no deeper than kMaxDepth nodes, so
// a model with reference cycles cannot recurse without end.
class CVexo {
public:
    // Six nodes from a cluster to a frame's PDU, two per nested part, and a signal with
    // its coding and computations below, with room to spare.
    static constexpr uint32_t kMaxDepth = 2 * core::kMaxPartNesting + 24;

    CVexo() = default;
    CVexo(const CVexo &) = delete;
    CVexo &operator=(const CVexo &) = delete;
    virtual ~CVexo() = default;

    // Calls the handler of the node's class; when it answers kWalkDescend, descends by
    // class and answers what the descent answered.
    virtual int32_t dispatch(uint32_t level, Direction direction, const void *node);

    virtual int32_t onCluster(uint32_t level, Direction direction, const core::Cluster &node);
    virtual int32_t onChannel(uint32_t level, Direction direction, const core::Channel &node);
    virtual int32_t onFrame(uint32_t level, Direction direction, const core::Frame &node);
    virtual int32_t onSignal(uint32_t level, Direction direction, const core::Signal &node);
    virtual int32_t onCoding(uint32_t level, Direction direction, const core::Coding &node);
    virtual int32_t onPduInstance(uint32_t level, Direction direction, const core::PDUInstance &node);
    virtual int32_t onSignalInstance(uint32_t level, Direction direction, const core::SignalInstance &node);
    virtual int32_t onMultiplexedPart(uint32_t level, Direction direction, const core::MultiplexedPart &node);
    virtual int32_t onCyclicTiming(uint32_t level, Direction direction, const core::CyclicTiming &node);
    virtual int32_t onSignalPdu(uint32_t level, Direction direction, const core::SignalPDU &node);
    virtual int32_t onMultiplexedPdu(uint32_t level, Direction direction, const core::MultiplexedPDU &node);
    virtual int32_t onPduTriggering(uint32_t level, Direction direction, const core::PDUTriggering &node);
    virtual int32_t onIdentifierBasedTriggering(uint32_t level, Direction direction,
                                                const core::IdentifierBasedTriggering &node);
    virtual int32_t onAbsolutelyScheduledTriggering(uint32_t level, Direction direction,
                                                    const core::AbsolutelyScheduledTriggering &node);
    virtual int32_t onEventControlledTiming(uint32_t level, Direction direction,
                                            const core::EventControlledTiming &node);
    virtual int32_t onMappedValueComputation(uint32_t level, Direction direction,
                                             const core::MappedValueComputation &node);
    virtual int32_t onMappedTextComputation(uint32_t level, Direction direction,
                                            const core::MappedTextComputation &node);
    virtual int32_t onLinearComputation(uint32_t level, Direction direction, const core::LinearComputation &node);
    virtual int32_t onIdentityComputation(uint32_t level, Direction direction,
                                          const core::IdentityComputation &node);

    // Dispatches every entry of one list of a node (or of the database for the
    // database-wide kinds) in order, stopping at kWalkStop. Answers the last entry's code,
    // kWalkDescend for an empty or unavailable list.
    int32_t walkList(uint32_t level, Direction direction, ListKind kind, const void *node);

    // Walks the start list of a node at level 0: the database's clusters for null, a
    // Signal's instances, a Channel's frame triggerings, a Cluster's children, a Frame's
    // PDU instances (downwards) or frame triggerings (upwards). kWalkRefused otherwise.
    int32_t walkFrom(const void *node, Direction direction);

    // S_OK, or S_FALSE (nothing changed) when the handle is not a database.
    HRESULT setDatabase(const VexoNode *database);
    core::Vexo *database() const { return database_; }

private:
    int32_t callHandler(uint32_t level, Direction direction, const void *node, bool *handled);
    int32_t descend(uint32_t level, Direction direction, const void *node);
    bool onPath(const void *node) const;

    core::Vexo *database_ = nullptr;
    const void *path_[kMaxDepth] = {};
    uint32_t depth_ = 0;
};

// A node met by a query, with the level it was met at.
struct Found {
    const void *node;
    uint32_t level;
};

// Receives the nodes a counting query meets, in walk order.
class FoundSink {
public:
    virtual void take(const Found &found) = 0;

protected:
    ~FoundSink() = default;
};

// Keeps them in a list (std::bad_alloc passes through the walk).
class FoundList final : public FoundSink {
public:
    void take(const Found &found) override { items.push_back(found); }
    std::vector<Found> items;
};

// The queries. Each sets its command and arguments, clears counter and result, starts a
// walk and reads the answer, so queries on one object must not overlap (the encoder runs
// them under its lock). The counting queries can also collect the nodes they count, in
// walk order, which is the order the matching "n-th" query finds them in.
class CVexoCMD : public CVexo {
public:
    enum Command : uint32_t {
        kNone = 0,
        kFindPduTriggering = 1,
        kCountFrames = 2,
        kCountPdus = 4,
        kCountSignals = 5,
        kCountParts = 6,
        kFindCluster = 7,
        kFindChannel = 8,
        kFindSignal = 9,
        kFindPdu = 10,
        kFindFrame = 11,
        kFindPart = 12,
        kTimingDue = 13,
        kEcuSendsFrame = 15,
        kSignalIsCyclic = 16,
        kListPduTriggerings = 17,
    };

    // 1: the first PDU triggering (walking the database's clusters) that refers to the PDU.
    const core::PDUTriggering *findPduTriggering(const void *pdu);

    // 17: every PDU triggering that query 1 can find, in the order it meets them (the
    // first one for a PDU is its answer), in one walk.
    void listPduTriggerings(FoundSink *sink);

    // 2, 4, 5, 6: frames, PDUs (those of multiplexed parts too), signals or multiplexed
    // parts met below a start node; 0 when the walk is refused. A sink receives each node
    // counted, with its level.
    uint32_t countFrames(const void *start, FoundSink *sink = nullptr);
    uint32_t countPdus(const void *start, FoundSink *sink = nullptr);
    uint32_t countSignals(const void *start, FoundSink *sink = nullptr);
    uint32_t countParts(const void *start, FoundSink *sink = nullptr);

    // 7: the cluster of a type below a start node, after skipping that many of that type.
    const core::Cluster *findCluster(const void *start, uint32_t clusterType, uint32_t skip);

    // 8, 9, 10, 11, 12: the n-th (from 0) channel, signal, PDU, frame or multiplexed part
    // in walk order; node null when there is none.
    const core::Channel *findChannel(const void *start, uint32_t n);
    Found findSignal(const void *start, uint32_t n);
    Found findPdu(const void *start, uint32_t n);
    const core::Frame *findFrame(const void *start, uint32_t n);
    Found findPart(const void *start, uint32_t n);

    // 13: whether a timing, or a timing of a PDU triggering, is due at now when it was
    // last sent at last. S_OK (due) or E_FAIL (not due) with *tag the class tag of the
    // timing that answered; S_FALSE when the walk failed (no timing), *tag unchanged.
    HRESULT timingDue(const void *node, uint64_t now, uint64_t last, uint32_t *tag);

    // 15: whether an identifier-based triggering of the frame names the ECU as its source.
    bool ecuSendsFrame(const void *frame, const void *ecu);

    // 16: whether a PDU triggering of a PDU holding the signal (directly, or through the
    // multiplexed PDUs above it) has a cyclic timing.
    bool signalIsCyclic(const void *signal);

    int32_t onCluster(uint32_t level, Direction direction, const core::Cluster &node) override;
    int32_t onChannel(uint32_t level, Direction direction, const core::Channel &node) override;
    int32_t onFrame(uint32_t level, Direction direction, const core::Frame &node) override;
    int32_t onSignal(uint32_t level, Direction direction, const core::Signal &node) override;
    int32_t onMultiplexedPart(uint32_t level, Direction direction, const core::MultiplexedPart &node) override;
    int32_t onCyclicTiming(uint32_t level, Direction direction, const core::CyclicTiming &node) override;
    int32_t onSignalPdu(uint32_t level, Direction direction, const core::SignalPDU &node) override;
    int32_t onMultiplexedPdu(uint32_t level, Direction direction, const core::MultiplexedPDU &node) override;
    int32_t onPduTriggering(uint32_t level, Direction direction, const core::PDUTriggering &node) override;
    int32_t onIdentifierBasedTriggering(uint32_t level, Direction direction,
                                        const core::IdentifierBasedTriggering &node) override;
    int32_t onEventControlledTiming(uint32_t level, Direction direction,
                                    const core::EventControlledTiming &node) override;

private:
    void begin(Command command, uintptr_t first, uintptr_t second, FoundSink *sink);
    uint32_t count(Command command, const void *start, Direction direction, FoundSink *sink);
    Found findNth(Command command, const void *start, uint32_t n);
    int32_t countNode(uint32_t level, const void *node, int32_t answer);
    int32_t takeNth(uint32_t level, const void *node, int32_t skipAnswer);
    int32_t onPdu(uint32_t level, Direction direction, const void *node, int32_t countAnswer);

    Command command_ = kNone;
    uintptr_t first_ = 0;   // an index, a node or a cluster type
    uintptr_t second_ = 0;
    uint64_t now_ = 0;
    uint64_t last_ = 0;
    uintptr_t counter_ = 0;  // a count, the level or a node found, a flag, or a timing tag
    uintptr_t result_ = 0;   // a node found or a flag
    FoundSink *sink_ = nullptr;
};

}  // namespace vexo::encode
