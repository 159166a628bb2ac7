// The node walker: walks the model graph from a node, downwards (towards what a node holds)
// or upwards (towards what holds it), calling one virtual handler per node class.
// WalkQueries (walk_queries.h) turns walks into the queries the encoder runs.
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
class NodeWalker {
public:
    // Six nodes from a cluster to a frame's PDU, two per nested part, and a signal with
    // its coding and computations below, with room to spare.
    static constexpr uint32_t kMaxDepth = 2 * core::kMaxPartNesting + 24;

    NodeWalker() = default;
    NodeWalker(const NodeWalker &) = delete;
    NodeWalker &operator=(const NodeWalker &) = delete;
    virtual ~NodeWalker() = default;

    // Calls the handler of the node's class; when it answers kWalkDescend, descends by
    // class and answers what the descent answered.
    virtual int32_t dispatch(uint32_t level, Direction direction, const void *node);

    // One handler per class a walk enters. ORDER NODE_CLASS
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

}  // namespace vexo::encode
