// The node walker. Lists are read in place (no enumerator is allocated), because the
// encoder runs several walks per frame while it builds its tables and one per timed PDU on
// every trigger.
#include "node_walker.h"

#include "database.h"
#include "enumerator.h"

namespace vexo::encode {

using namespace core;

namespace {

const NodeList *groupList(const Vexo *database, ElementGroup *DatabaseCollections::*field)
{
    if (database == nullptr)
        return nullptr;
    const auto *collections = nodeExactly<DatabaseCollections>(database->reference);
    if (collections == nullptr)
        return nullptr;
    const auto *group = nodeAs<ElementGroup>(collections->*field);
    return group != nullptr ? &group->children : nullptr;
}

// The node list of a kind on a node; null when the node has no such list.
const NodeList *nodeList(ListKind kind, Direction direction, const void *node, const Vexo *database)
{
    switch (kind) {
    case ListKind::Clusters: return groupList(database, &DatabaseCollections::clusters);
    case ListKind::Ecus: return groupList(database, &DatabaseCollections::ECUs);
    case ListKind::Pdus: return groupList(database, &DatabaseCollections::PDUs);
    case ListKind::Frames: return groupList(database, &DatabaseCollections::frames);
    case ListKind::Signals: return groupList(database, &DatabaseCollections::signals);
    case ListKind::Codings: return groupList(database, &DatabaseCollections::codings);
    case ListKind::IdentElements: return groupList(database, &DatabaseCollections::identElements);
    case ListKind::Children:
    case ListKind::GroupChildren:
        if (const auto *group = nodeAs<ElementGroup>(node))
            return &group->children;
        return nullptr;
    case ListKind::PduInstancesOrParents:
        if (direction == Direction::Up) {
            const auto *pdu = nodeAs<PDU>(node);
            return pdu != nullptr ? &pdu->parents : nullptr;
        }
        if (const auto *frame = nodeExactly<Frame>(node))
            return &frame->PDUInstances;
        if (const auto *channel = nodeExactly<Channel>(node))
            return &channel->PDUInstances;
        return nullptr;
    case ListKind::SignalInstances:
        if (const auto *pdu = nodeExactly<SignalPDU>(node))
            return &pdu->signalInstances;
        if (const auto *signal = nodeExactly<Signal>(node))
            return &signal->signalInstances;
        return nullptr;
    case ListKind::FrameTriggerings:
        if (const auto *channel = nodeExactly<Channel>(node))
            return &channel->frameTriggerings;
        if (const auto *frame = nodeExactly<Frame>(node))
            return &frame->frameTriggerings;
        return nullptr;
    case ListKind::PduTriggerings:
        if (const auto *channel = nodeExactly<Channel>(node))
            return &channel->PDUTriggerings;
        if (const auto *pdu = nodeAs<PDU>(node))
            return &pdu->triggerings;
        return nullptr;
    case ListKind::DynamicParts:
        if (const auto *pdu = nodeExactly<MultiplexedPDU>(node))
            return &pdu->dynamicParts;
        return nullptr;
    case ListKind::InternalToPhysical:
        if (const auto *coding = nodeExactly<Coding>(node))
            return &coding->internalToPhysicalCompus;
        return nullptr;
    case ListKind::PhysicalToInternal:
        if (const auto *coding = nodeExactly<Coding>(node))
            return &coding->physicalToInternalCompus;
        return nullptr;
    case ListKind::Ranges:
    case ListKind::Segments:
        return nullptr;
    }
    return nullptr;
}

}  // namespace

HRESULT NodeWalker::setDatabase(const VexoNode *database)
{
    Vexo *typed = databaseAs(database);
    if (typed == nullptr)
        return S_FALSE;
    database_ = typed;
    return S_OK;
}

bool NodeWalker::onPath(const void *node) const
{
    for (uint32_t i = 0; i < depth_; ++i) {
        if (path_[i] == node)
            return true;
    }
    return false;
}

int32_t NodeWalker::dispatch(uint32_t level, Direction direction, const void *node)
{
    if (node == nullptr || !isGenuineCode(codeOf(node)))
        return kWalkDescend;
    if (depth_ == kMaxDepth || onPath(node))
        return kWalkFinished;
    // Leaves the path also when a sink throws std::bad_alloc out of the walk.
    struct PathEntry {
        uint32_t &depth;
        ~PathEntry() { --depth; }
    } entry{depth_};
    path_[depth_++] = node;
    bool handled = false;
    const int32_t code = callHandler(level, direction, node, &handled);
    return handled && code == kWalkDescend ? descend(level, direction, node) : code;
}

int32_t NodeWalker::callHandler(uint32_t level, Direction direction, const void *node, bool *handled)
{
    *handled = true;
    // Exact codes: a class has its handler only, never one of a base class. ORDER NODE_CLASS
    switch (codeOf(node)) {
    case Cluster::kCode: return onCluster(level, direction, *static_cast<const Cluster *>(node));
    case Channel::kCode: return onChannel(level, direction, *static_cast<const Channel *>(node));
    case Frame::kCode: return onFrame(level, direction, *static_cast<const Frame *>(node));
    case Signal::kCode: return onSignal(level, direction, *static_cast<const Signal *>(node));
    case Coding::kCode: return onCoding(level, direction, *static_cast<const Coding *>(node));
    case PDUInstance::kCode: return onPduInstance(level, direction, *static_cast<const PDUInstance *>(node));
    case SignalInstance::kCode:
        return onSignalInstance(level, direction, *static_cast<const SignalInstance *>(node));
    case MultiplexedPart::kCode:
        return onMultiplexedPart(level, direction, *static_cast<const MultiplexedPart *>(node));
    case CyclicTiming::kCode: return onCyclicTiming(level, direction, *static_cast<const CyclicTiming *>(node));
    case SignalPDU::kCode: return onSignalPdu(level, direction, *static_cast<const SignalPDU *>(node));
    case MultiplexedPDU::kCode:
        return onMultiplexedPdu(level, direction, *static_cast<const MultiplexedPDU *>(node));
    case PDUTriggering::kCode: return onPduTriggering(level, direction, *static_cast<const PDUTriggering *>(node));
    case IdentifierBasedTriggering::kCode:
        return onIdentifierBasedTriggering(level, direction, *static_cast<const IdentifierBasedTriggering *>(node));
    case AbsolutelyScheduledTriggering::kCode:
        return onAbsolutelyScheduledTriggering(level, direction,
                                               *static_cast<const AbsolutelyScheduledTriggering *>(node));
    case EventControlledTiming::kCode:
        return onEventControlledTiming(level, direction, *static_cast<const EventControlledTiming *>(node));
    case MappedValueComputation::kCode:
        return onMappedValueComputation(level, direction, *static_cast<const MappedValueComputation *>(node));
    case MappedTextComputation::kCode:
        return onMappedTextComputation(level, direction, *static_cast<const MappedTextComputation *>(node));
    case LinearComputation::kCode:
        return onLinearComputation(level, direction, *static_cast<const LinearComputation *>(node));
    case IdentityComputation::kCode:
        return onIdentityComputation(level, direction, *static_cast<const IdentityComputation *>(node));
    default:
        *handled = false;
        return kWalkDescend;
    }
}

int32_t NodeWalker::descend(uint32_t level, Direction direction, const void *node)
{
    const bool down = direction == Direction::Down;
    const uint32_t inner = level + 1;
    switch (codeOf(node)) {  // ORDER NODE_CLASS
    case Cluster::kCode:
        return down ? walkList(inner, direction, ListKind::Children, node) : kWalkDescend;
    case Channel::kCode: {
        if (!down)
            return kWalkDescend;
        const int32_t code = walkList(inner, direction, ListKind::FrameTriggerings, node);
        return code == kWalkStop ? code : walkList(inner, direction, ListKind::PduTriggerings, node);
    }
    case Frame::kCode:
        // Upwards a frame has no parents list of its own.
        return down ? walkList(inner, direction, ListKind::PduInstancesOrParents, node) : kWalkDescend;
    case Signal::kCode: {
        if (!down)
            return kWalkDescend;
        const auto *coding = nodeAs<Coding>(static_cast<const Signal *>(node)->reference);
        return coding != nullptr ? dispatch(level, direction, coding) : kWalkDescend;
    }
    case Coding::kCode: {
        if (!down)
            return kWalkDescend;
        const auto *unit = nodeAs<UnitSpec>(static_cast<const Coding *>(node)->reference);
        if (unit != nullptr && dispatch(level, direction, unit) == kWalkStop)
            return kWalkStop;
        const int32_t code = walkList(inner, direction, ListKind::PhysicalToInternal, node);
        return code == kWalkStop ? code : walkList(inner, direction, ListKind::InternalToPhysical, node);
    }
    case PDUInstance::kCode: {
        const auto *instance = static_cast<const PDUInstance *>(node);
        const void *next = down ? static_cast<const void *>(nodeAs<PDU>(instance->reference)) : instance->parent;
        return next != nullptr ? dispatch(level, direction, next) : kWalkDescend;
    }
    case SignalInstance::kCode: {
        const auto *instance = static_cast<const SignalInstance *>(node);
        const void *next = down ? static_cast<const void *>(nodeAs<Signal>(instance->reference)) : instance->parent;
        return next != nullptr ? dispatch(level, direction, next) : kWalkDescend;
    }
    case MultiplexedPart::kCode: {
        const auto *part = static_cast<const MultiplexedPart *>(node);
        if (!down)
            return part->parent != nullptr ? dispatch(level, direction, part->parent) : kWalkDescend;
        if (walkList(inner, direction, ListKind::Segments, node) == kWalkStop)
            return kWalkStop;
        const auto *pdu = nodeAs<PDU>(part->reference);
        return pdu != nullptr ? dispatch(level, direction, pdu) : kWalkDescend;
    }
    case SignalPDU::kCode:
        return walkList(inner, direction, down ? ListKind::SignalInstances : ListKind::PduInstancesOrParents, node);
    case MultiplexedPDU::kCode: {
        if (!down)
            return walkList(inner, direction, ListKind::PduInstancesOrParents, node);
        const auto *pdu = static_cast<const MultiplexedPDU *>(node);
        if (pdu->staticPart != nullptr && dispatch(inner, direction, pdu->staticPart) == kWalkStop)
            return kWalkStop;
        return walkList(inner, direction, ListKind::DynamicParts, node);
    }
    case PDUTriggering::kCode:
        return walkList(inner, direction, ListKind::Children, node);
    case IdentifierBasedTriggering::kCode:
    case AbsolutelyScheduledTriggering::kCode: {
        if (!down)
            return kWalkDescend;
        const auto *triggering = static_cast<const FrameTriggering *>(node);
        if (triggering->sourceEcu != nullptr && dispatch(level, direction, triggering->sourceEcu) == kWalkStop)
            return kWalkStop;
        const auto *frame = nodeAs<Frame>(triggering->reference);
        return frame != nullptr ? dispatch(level, direction, frame) : kWalkDescend;
    }
    case MappedValueComputation::kCode:
    case MappedTextComputation::kCode:
    case LinearComputation::kCode:
    case IdentityComputation::kCode:
        return walkList(inner, direction, ListKind::Ranges, node);
    default:  // timings
        return kWalkDescend;
    }
}

int32_t NodeWalker::walkList(uint32_t level, Direction direction, ListKind kind, const void *node)
{
    int32_t code = kWalkDescend;
    auto visit = [&](const void *entry) {
        code = dispatch(level, direction, entry);
        return code != kWalkStop;
    };
    if (kind == ListKind::Ranges) {
        if (const auto *computation = nodeAs<Computation>(node))
            model::forEachRecord<ValueRange>(computation->ranges, visit);
        return code;
    }
    if (kind == ListKind::Segments) {
        if (const auto *part = nodeExactly<MultiplexedPart>(node))
            model::forEachRecord<Segment>(part->segments, visit);
        return code;
    }
    const Vexo *database = database_;
    if (const Vexo *own = databaseAs(node))
        database = own;
    if (const NodeList *list = nodeList(kind, direction, node, database))
        model::forEachNode(*list, visit);
    return code;
}

int32_t NodeWalker::walkFrom(const void *node, Direction direction)
{
    if (node == nullptr)
        return walkList(0, direction, ListKind::Clusters, database_);
    switch (codeOf(node)) {
    case Signal::kCode: return walkList(0, direction, ListKind::SignalInstances, node);
    case Channel::kCode: return walkList(0, direction, ListKind::FrameTriggerings, node);
    case Cluster::kCode: return walkList(0, direction, ListKind::Children, node);
    case Frame::kCode:
        return walkList(0, direction,
                        direction == Direction::Down ? ListKind::PduInstancesOrParents : ListKind::FrameTriggerings,
                        node);
    default: return kWalkRefused;
    }
}

// ORDER NODE_CLASS
#define VEXO_DO_NOTHING(Handler, Type) \
    int32_t NodeWalker::Handler(uint32_t, Direction, const Type &) { return kWalkDescend; }
VEXO_DO_NOTHING(onCluster, Cluster)
VEXO_DO_NOTHING(onChannel, Channel)
VEXO_DO_NOTHING(onFrame, Frame)
VEXO_DO_NOTHING(onSignal, Signal)
VEXO_DO_NOTHING(onCoding, Coding)
VEXO_DO_NOTHING(onPduInstance, PDUInstance)
VEXO_DO_NOTHING(onSignalInstance, SignalInstance)
VEXO_DO_NOTHING(onMultiplexedPart, MultiplexedPart)
VEXO_DO_NOTHING(onCyclicTiming, CyclicTiming)
VEXO_DO_NOTHING(onSignalPdu, SignalPDU)
VEXO_DO_NOTHING(onMultiplexedPdu, MultiplexedPDU)
VEXO_DO_NOTHING(onPduTriggering, PDUTriggering)
VEXO_DO_NOTHING(onIdentifierBasedTriggering, IdentifierBasedTriggering)
VEXO_DO_NOTHING(onAbsolutelyScheduledTriggering, AbsolutelyScheduledTriggering)
VEXO_DO_NOTHING(onEventControlledTiming, EventControlledTiming)
VEXO_DO_NOTHING(onMappedValueComputation, MappedValueComputation)
VEXO_DO_NOTHING(onMappedTextComputation, MappedTextComputation)
VEXO_DO_NOTHING(onLinearComputation, LinearComputation)
VEXO_DO_NOTHING(onIdentityComputation, IdentityComputation)
#undef VEXO_DO_NOTHING

}  // namespace vexo::encode
