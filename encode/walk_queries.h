// The queries the encoder runs over the model, each one walk of the node walker: counting
// and finding frames, PDUs, signals, parts, channels and clusters, finding a PDU's
// triggering, whether a timing is due, whether an ECU sends a frame, whether a signal is sent
// cyclically.
#pragma once

#include <cstdint>
#include <vector>

#include "node_walker.h"

namespace vexo::encode {

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

// The queries. Each sets what it looks for, clears the answer, starts a walk and reads the
// answer, so queries on one object must not overlap (the encoder runs them under its lock).
// The counting queries can also collect the nodes they count, in walk order, which is the
// order the matching "n-th" query finds them in.
class WalkQueries : public NodeWalker {
public:
    // The first PDU triggering (walking the database's clusters) that refers to the PDU.
    const core::PDUTriggering *findPduTriggering(const void *pdu);

    // Every PDU triggering that findPduTriggering can find, in the order it meets them (the
    // first one for a PDU is its answer), in one walk.
    void listPduTriggerings(FoundSink *sink);

    // Frames, PDUs (those of multiplexed parts too), signals or multiplexed parts met below
    // a start node; 0 when the walk is refused. A sink receives each node counted, with its
    // level.
    uint32_t countFrames(const void *start, FoundSink *sink = nullptr);
    uint32_t countPdus(const void *start, FoundSink *sink = nullptr);
    uint32_t countSignals(const void *start, FoundSink *sink = nullptr);
    uint32_t countParts(const void *start, FoundSink *sink = nullptr);

    // The cluster of a type below a start node, after skipping that many of that type.
    const core::Cluster *findCluster(const void *start, uint32_t clusterType, uint32_t skip);

    // The n-th (from 0) channel, signal, PDU, frame or multiplexed part in walk order; node
    // null when there is none.
    const core::Channel *findChannel(const void *start, uint32_t n);
    Found findSignal(const void *start, uint32_t n);
    Found findPdu(const void *start, uint32_t n);
    const core::Frame *findFrame(const void *start, uint32_t n);
    Found findPart(const void *start, uint32_t n);

    // Whether a timing, or a timing of a PDU triggering, is due at now when it was last
    // sent at last. S_OK (due) or E_FAIL (not due) with *tag the class tag of the timing
    // that answered; S_FALSE when the walk failed (no timing), *tag unchanged.
    HRESULT timingDue(const void *node, uint64_t now, uint64_t last, uint32_t *tag);

    // Whether an identifier-based triggering of the frame names the ECU as its source.
    bool ecuSendsFrame(const void *frame, const void *ecu);

    // Whether a PDU triggering of a PDU holding the signal (directly, or through the
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
    enum class Query : uint8_t {
        None,
        FindPduTriggering,
        ListPduTriggerings,
        CountFrames,
        CountPdus,
        CountSignals,
        CountParts,
        FindCluster,
        FindChannel,
        FindSignal,
        FindPdu,
        FindFrame,
        FindPart,
        TimingDue,
        EcuSendsFrame,
        SignalIsCyclic,
    };

    void begin(Query query, FoundSink *sink = nullptr);
    uint32_t count(Query query, const void *start, FoundSink *sink);
    Found findNth(Query query, const void *start, uint32_t n);
    int32_t countNode(uint32_t level, const void *node, int32_t answer);
    int32_t takeNth(uint32_t level, const void *node, int32_t skipAnswer);
    int32_t onPdu(uint32_t level, Direction direction, const void *node, int32_t countAnswer);

    Query query_ = Query::None;
    // What the query looks for.
    const void *target_ = nullptr;  // the PDU of a triggering, the ECU sending a frame
    uint32_t clusterType_ = 0;
    uint32_t remaining_ = 0;  // nodes (of the cluster type) still to pass over before the answer
    uint64_t now_ = 0;
    uint64_t last_ = 0;
    // What it found.
    uint32_t count_ = 0;
    const void *found_ = nullptr;
    uint32_t foundLevel_ = 0;
    bool answer_ = false;     // due, sends, cyclic
    uint32_t timingTag_ = 0;  // the class tag of the timing that answered
    FoundSink *sink_ = nullptr;
};

}  // namespace vexo::encode
