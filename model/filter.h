// Node filters: identifier-list filters (a set of nodes resolved once from identifiers)
// and combination filters (any member selects). Each filter owns a tracking allocator
// for its list, so destroying it releases everything in one sweep.
#pragma once

#include <cstdint>

#include "allocator.h"
#include "node_list.h"
#include "vexo/enumerate.h"

namespace vexo::model {

constexpr uint32_t kIdListFilterMagic = 0x65644E66;       // "fNde"
constexpr uint32_t kCombinationFilterMagic = 0x626D4366;  // "fCmb"

// 141 entries per chunk: filters are built once and searched often, so few, large chunks.
inline constexpr core::ChunkLayout kFilterLayout = core::nodeListLayout(128);

struct Filter {
    uint32_t magic;
    uint32_t mode;               // low byte 1: answers inverted
    core::Allocator *allocator;  // owns the chunks of list
    core::NodeList list;         // selected nodes by address, or member filters in order
    // A rank in a topological order of the member graph: a combination ranks above each
    // combination among its members. Appending a member that ranks below needs no cycle
    // search at all; model/filter.cpp keeps the ranks (under its lock), with a serial
    // number and the combinations that hold the filter, so that searches can also go
    // upward (a holder is trusted only while it is alive with the same serial).
    uint64_t rank;
    uint64_t serial;
    core::RecordList holders;
};

// The filter behind a handle, or null when it is null or carries neither magic.
Filter *filterAs(const void *handle);

// S_OK when the filter selects the node, S_FALSE when not (inversion applied).
HRESULT filterSelects(const Filter &filter, const void *node);

}  // namespace vexo::model
