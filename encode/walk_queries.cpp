// The encoder's queries: each sets what it looks for, starts one walk and reads its answer.
#include "walk_queries.h"

#include "database.h"

namespace vexo::encode {

using namespace core;

namespace {

constexpr uint32_t kCyclicTag = classTag(CyclicTiming::kCode);
constexpr uint32_t kEventTag = classTag(EventControlledTiming::kCode);

}  // namespace

// ---- Running queries ----------------------------------------------------------------------

void WalkQueries::begin(Query query, FoundSink *sink)
{
    query_ = query;
    target_ = nullptr;
    clusterType_ = 0;
    remaining_ = 0;
    count_ = 0;
    found_ = nullptr;
    foundLevel_ = 0;
    answer_ = false;
    timingTag_ = 0;
    sink_ = sink;
}

uint32_t WalkQueries::count(Query query, const void *start, FoundSink *sink)
{
    begin(query, sink);
    walkFrom(start, Direction::Down);
    sink_ = nullptr;
    return count_;
}

Found WalkQueries::findNth(Query query, const void *start, uint32_t n)
{
    begin(query);
    remaining_ = n;
    walkFrom(start, Direction::Down);
    return {found_, found_ != nullptr ? foundLevel_ : 0};
}

const PDUTriggering *WalkQueries::findPduTriggering(const void *pdu)
{
    begin(Query::FindPduTriggering);
    target_ = pdu;
    walkFrom(nullptr, Direction::Down);
    return static_cast<const PDUTriggering *>(found_);
}

void WalkQueries::listPduTriggerings(FoundSink *sink)
{
    begin(Query::ListPduTriggerings, sink);
    walkFrom(nullptr, Direction::Down);
    sink_ = nullptr;
}

uint32_t WalkQueries::countFrames(const void *start, FoundSink *sink) { return count(Query::CountFrames, start, sink); }
uint32_t WalkQueries::countPdus(const void *start, FoundSink *sink) { return count(Query::CountPdus, start, sink); }
uint32_t WalkQueries::countSignals(const void *start, FoundSink *sink) { return count(Query::CountSignals, start, sink); }
uint32_t WalkQueries::countParts(const void *start, FoundSink *sink) { return count(Query::CountParts, start, sink); }

const Cluster *WalkQueries::findCluster(const void *start, uint32_t clusterType, uint32_t skip)
{
    begin(Query::FindCluster);
    clusterType_ = clusterType;
    remaining_ = skip;
    walkFrom(start, Direction::Down);
    return static_cast<const Cluster *>(found_);
}

const Channel *WalkQueries::findChannel(const void *start, uint32_t n)
{
    return static_cast<const Channel *>(findNth(Query::FindChannel, start, n).node);
}

Found WalkQueries::findSignal(const void *start, uint32_t n) { return findNth(Query::FindSignal, start, n); }
Found WalkQueries::findPdu(const void *start, uint32_t n) { return findNth(Query::FindPdu, start, n); }
Found WalkQueries::findPart(const void *start, uint32_t n) { return findNth(Query::FindPart, start, n); }

const Frame *WalkQueries::findFrame(const void *start, uint32_t n)
{
    return static_cast<const Frame *>(findNth(Query::FindFrame, start, n).node);
}

HRESULT WalkQueries::timingDue(const void *node, uint64_t now, uint64_t last, uint32_t *tag)
{
    begin(Query::TimingDue);
    now_ = now;
    last_ = last;
    const int32_t code = dispatch(0, Direction::Down, node);
    if (code != kWalkFinished && code != kWalkStop)
        return S_FALSE;
    *tag = timingTag_;
    return answer_ ? S_OK : E_FAIL;
}

bool WalkQueries::ecuSendsFrame(const void *frame, const void *ecu)
{
    begin(Query::EcuSendsFrame);
    target_ = ecu;
    walkFrom(frame, Direction::Up);
    return answer_;
}

bool WalkQueries::signalIsCyclic(const void *signal)
{
    begin(Query::SignalIsCyclic);
    walkFrom(signal, Direction::Up);
    return answer_;
}

// ---- Handlers ----------------------------------------------------------------------------

int32_t WalkQueries::countNode(uint32_t level, const void *node, int32_t answer)
{
    ++count_;
    if (sink_ != nullptr)
        sink_->take({node, level});
    return answer;
}

// The n-th query: the node met when nothing remains to pass over is the answer; each node
// passed over counts down and answers skipAnswer.
int32_t WalkQueries::takeNth(uint32_t level, const void *node, int32_t skipAnswer)
{
    if (remaining_ == 0) {
        found_ = node;
        foundLevel_ = level;
        return kWalkStop;
    }
    --remaining_;
    return skipAnswer;
}

int32_t WalkQueries::onCluster(uint32_t, Direction, const Cluster &node)
{
    if (query_ != Query::FindCluster)
        return kWalkDescend;
    if (node.clusterType == clusterType_) {
        if (remaining_ == 0) {
            found_ = &node;
            return kWalkStop;
        }
        --remaining_;
    }
    return kWalkFinished;
}

int32_t WalkQueries::onChannel(uint32_t level, Direction, const Channel &node)
{
    return query_ == Query::FindChannel ? takeNth(level, &node, kWalkFinished) : kWalkDescend;
}

int32_t WalkQueries::onFrame(uint32_t level, Direction direction, const Frame &node)
{
    if (direction == Direction::Up) {
        // An upward walk ends at a frame. The cyclic-signal query ends only this branch,
        // so the signal's other instances are still examined.
        return query_ == Query::SignalIsCyclic ? kWalkFinished : kWalkStop;
    }
    switch (query_) {
    case Query::CountFrames: return countNode(level, &node, kWalkFinished);
    case Query::FindFrame: return takeNth(level, &node, kWalkFinished);
    case Query::FindPduTriggering:
    case Query::ListPduTriggerings: return kWalkFinished;  // a frame holds no PDU triggerings
    default: return kWalkDescend;
    }
}

int32_t WalkQueries::onSignal(uint32_t level, Direction, const Signal &node)
{
    switch (query_) {
    case Query::CountSignals: return countNode(level, &node, kWalkFinished);
    case Query::FindSignal: return takeNth(level, &node, kWalkFinished);
    default: return kWalkDescend;
    }
}

int32_t WalkQueries::onMultiplexedPart(uint32_t level, Direction, const MultiplexedPart &node)
{
    switch (query_) {
    case Query::CountParts: return countNode(level, &node, kWalkFinished);
    case Query::FindPart: return takeNth(level, &node, kWalkFinished);
    default: return kWalkDescend;
    }
}

int32_t WalkQueries::onCyclicTiming(uint32_t, Direction, const CyclicTiming &node)
{
    if (query_ == Query::SignalIsCyclic) {
        answer_ = true;
        return kWalkStop;
    }
    if (query_ != Query::TimingDue)
        return kWalkDescend;
    timingTag_ = kCyclicTag;
    answer_ = false;
    // now >= last + cycle, without letting last + cycle wrap around.
    if (node.cycleTime != 0 && now_ >= last_ && now_ - last_ >= node.cycleTime) {
        answer_ = true;
        return kWalkStop;
    }
    return kWalkFinished;
}

int32_t WalkQueries::onEventControlledTiming(uint32_t, Direction, const EventControlledTiming &node)
{
    if (query_ != Query::TimingDue)
        return kWalkDescend;
    timingTag_ = kEventTag;
    if (node.debounceTime != 0 && last_ != 0 && (now_ < last_ || now_ - last_ < node.debounceTime)) {
        answer_ = false;
        return kWalkFinished;
    }
    answer_ = true;
    return kWalkStop;
}

int32_t WalkQueries::onPdu(uint32_t level, Direction direction, const void *node, int32_t countAnswer)
{
    switch (query_) {
    case Query::CountPdus: return countNode(level, node, countAnswer);
    case Query::FindPdu: return takeNth(level, node, kWalkDescend);
    case Query::SignalIsCyclic:
        if (walkList(level + 1, direction, ListKind::PduTriggerings, node) == kWalkStop)
            return kWalkStop;
        return kWalkDescend;
    default: return kWalkDescend;
    }
}

int32_t WalkQueries::onSignalPdu(uint32_t level, Direction direction, const SignalPDU &node)
{
    return onPdu(level, direction, &node, kWalkFinished);
}

int32_t WalkQueries::onMultiplexedPdu(uint32_t level, Direction direction, const MultiplexedPDU &node)
{
    return onPdu(level, direction, &node, kWalkDescend);
}

int32_t WalkQueries::onPduTriggering(uint32_t, Direction, const PDUTriggering &node)
{
    if (query_ == Query::ListPduTriggerings)
        return countNode(0, &node, kWalkFinished);
    if (query_ != Query::FindPduTriggering)
        return kWalkDescend;
    if (node.reference != target_)
        return kWalkFinished;
    found_ = &node;
    return kWalkStop;
}

int32_t WalkQueries::onIdentifierBasedTriggering(uint32_t, Direction, const IdentifierBasedTriggering &node)
{
    if (query_ != Query::EcuSendsFrame)
        return kWalkDescend;
    if (node.sourceEcu == target_) {
        answer_ = true;
        return kWalkStop;
    }
    answer_ = false;
    return kWalkFinished;
}

}  // namespace vexo::encode
